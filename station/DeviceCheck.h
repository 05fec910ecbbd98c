#pragma once

// One verdict on the device's health, in the statuses and the output form monitoring
// systems expect.

#include "StationText.h"
#include "ThresholdRange.h"

#include <cstdint>
#include <optional>
#include <string>

struct TDeviceStatus;

enum class TCheckStatus { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct TCheckResult {
    TCheckStatus Status;
    // One line: the status word, then what led to it.
    std::string Summary;
};

// What the check judges beyond the device's own findings: the temperature (degrees
// Celsius) against a warning and a critical range, and whether MANUAL mode is a warning.
// By default a warning from 60C on, critical from the station's overheat on.
struct TCheckLimits {
    TThresholdRange Warning = UpTo(59);
    TThresholdRange Critical = UpTo(OVERHEAT_LIMIT - 1);
    bool ManualWarning = false;
};

// Judges the state the link holds after its first complete pass. CRITICAL: a switched-on
// check reports ERROR on the input on the output, a monitored power supply reports
// ERROR, or the critical range alerts on the temperature; WARNING: such a check reports
// ERROR only on the input not on the output, the warning range alerts on the temperature,
// or the device is in MANUAL mode where that is a warning; OK otherwise.
TCheckResult EvaluateDevice(const TDeviceStatus& status, const TCheckLimits& limits = {});

// The verdict when the device could not be read: CRITICAL with the reason.
TCheckResult Unreachable(const std::string& reason);

// The performance data of the device's state: temperature with its ranges, each power
// supply's state code, the input on the output (1 or 2), automatic mode (0 or 1) and the
// link's poll cycles per second ("U" while not measured).
std::string CheckPerformanceData(const TDeviceStatus& status, const TCheckLimits& limits,
                                 std::optional<std::uint32_t> cyclesPerSecond);

// The first line of a monitoring plugin's output: "SWITCH " + summary, then the
// performance data after a "|" where there is any.
std::string PluginLine(const TCheckResult& result, const std::string& performanceData);
