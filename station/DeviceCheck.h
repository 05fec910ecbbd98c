#pragma once

// One verdict on the device's health, in the statuses and the output form monitoring
// systems expect.

#include "StationText.h"

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

// Temperatures from these on (degrees Celsius) are a warning or critical.
struct TTemperatureLimits {
    int Warning = 60;
    int Critical = OVERHEAT_LIMIT;
};

// Judges the state the link holds after its first complete pass. CRITICAL: a switched-on
// check reports ERROR on the input on the output, a monitored power supply reports
// ERROR, or the temperature is at the critical limit; WARNING: such a check reports ERROR
// only on the input not on the output, or the temperature is at the warning limit; OK
// otherwise.
TCheckResult EvaluateDevice(const TDeviceStatus& status, const TTemperatureLimits& limits = {});

// The verdict when the device could not be read: CRITICAL with the reason.
TCheckResult Unreachable(const std::string& reason);

// The performance data of the device's state: temperature with its limits, each power
// supply's state code, the input on the output (1 or 2), automatic mode (0 or 1) and the
// link's poll cycles per second ("U" while not measured).
std::string CheckPerformanceData(const TDeviceStatus& status, const TTemperatureLimits& limits,
                                 std::optional<std::uint32_t> cyclesPerSecond);

// The first line of a monitoring plugin's output: "SWITCH " + summary, then the
// performance data after a "|" where there is any.
std::string PluginLine(const TCheckResult& result, const std::string& performanceData);
