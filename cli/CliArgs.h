#pragma once

// The command line of the headless monitor.

#include "DeviceCheck.h"
#include "UnitProc.h"

#include <optional>
#include <string>
#include <vector>

struct TCliOptions {
    std::string Command;
    // A or B for select, the mask for psu.
    std::string Argument;
    // The device's address in its normal form.
    std::string Address;
    // NAME=VALUE words of settings.
    std::vector<std::string> Settings;
    int Port = DEVICE_PORT;
    // events and watch: disconnect after this many seconds.
    std::optional<int> Seconds;
    // report, events and watch: one JSON object per line.
    bool Json = false;
    // check: temperature limits and the time the whole run may take.
    TTemperatureLimits Limits;
    int TimeoutSeconds = 10;
    bool Help = false;
    bool Version = false;
};

// Reads the arguments that follow the program name into options. Returns "" or what is
// wrong with them. --help and --version end the reading: the rest is not looked at.
std::string ParseCliArguments(const std::vector<std::string>& args, TCliOptions& options);
