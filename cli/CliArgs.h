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
    // The device as given: a dotted IPv4 address or a host name.
    std::string Host;
    // The device's address in its normal form; empty while a host name is not resolved.
    std::string Address;
    // NAME=VALUE words of settings.
    std::vector<std::string> Settings;
    int Port = DEVICE_PORT;
    // events and watch: disconnect after this many seconds.
    std::optional<int> Seconds;
    // report, events and watch: one JSON object per line.
    bool Json = false;
    // check: what it judges, and the time the whole run may take.
    TCheckLimits Limits;
    int TimeoutSeconds = 10;
    bool Help = false;
    bool Version = false;
};

// Reads the arguments that follow the program name into options. Returns "" or what is
// wrong with them; the command is known even then where a word names one. --help and
// --version end the reading: the rest is not looked at. Options take their value as the
// next argument, or after "=" in their long form ("--port=10001").
std::string ParseCliArguments(const std::vector<std::string>& args, TCliOptions& options);

// Looks up the IPv4 address of the host options name when they hold no address yet.
// Returns "" or why there is none.
std::string ResolveAddress(TCliOptions& options);
