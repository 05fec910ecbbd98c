#pragma once

// Which change of the device's state the journal writes a line for after the first
// complete pass, and the line: the rules the window's journal, the headless monitor's
// watch mode and the exporter's log share.

#include "Checks.h"
#include "SettingsFields.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

// "[A] -> [OUT] AUTO" for a new output.
std::string OutputChangeLine(const TDeviceStatus& status);
// "MODE AUTO" for a new mode.
std::string ModeChangeLine(const TDeviceStatus& status);
// A check's new state on input: a line for OK and ERROR of a check the device analyses.
std::optional<std::string> CheckChangeLine(const TDeviceStatus& status, TCheck check, int input);
// New power supply monitoring: one line per unit.
std::vector<std::string> PsuMonitoringLines(const TDeviceStatus& status);
// A power supply's new state: a line for OK and ERROR.
std::optional<std::string> PsuStateChangeLine(const TDeviceStatus& status, int unit);
// A settings switch turned on or off.
std::string SettingChangeLine(const TDeviceStatus& status, TSettingSwitch which);

// Announces an overheat once, when the temperature reaches the limit from below.
class TOverheatWatch {
public:
    // The announcement for a new temperature, when it is one.
    std::optional<std::string> Temperature(const TDeviceStatus& status);
    // Forgets an overheat seen: the next temperature at the limit is announced.
    void Reset() { fOver = false; }

private:
    bool fOver = false;
};

// Adds listeners to the status and settings events of link so that every change worth a
// journal line reaches sink, after the first complete pass. Listens to none of OnStop,
// OnLinkStat, OnConnected and OnCounters.
void WireChangeLines(TSwObject& link, std::function<void(const std::string&)> sink);
