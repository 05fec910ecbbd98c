#pragma once

// One verdict on the device's health, in the statuses monitoring systems expect.

#include "StationText.h"

#include <string>

class TSwObject;
struct TDeviceStatus;

enum class TCheckStatus { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct TCheckResult {
    TCheckStatus Status;
    // One line: the status word, then what led to it.
    std::string Summary;
};

// True for a device that analyses video as well as audio, by its model in the name.
bool AnalysesVideo(const std::string& deviceName);

// True when the settings switch on the check that produces this result. An audio
// channel's result counts as switched on when its THRESHOLD or DIF.LEVEL check is.
bool CheckSwitchedOn(const TDeviceStatus& status, TCheck check);

// Judges the state the link holds after its first complete pass. CRITICAL: a switched-on
// check reports ERROR on the input on the output, a monitored power supply reports
// ERROR, or the temperature is at the overheat limit; WARNING: such a check reports ERROR
// only on the input not on the output; OK otherwise.
TCheckResult EvaluateDevice(const TSwObject& link);

// The verdict when the device could not be read: CRITICAL with the reason.
TCheckResult Unreachable(const std::string& reason);
