#pragma once

// The command line of the simulator program.

#include "SimFleet.h"

#include <string>
#include <vector>

struct TSimCommandLine {
    // The options of every device; Options.Address is the first device's address.
    TSimOptions Options;
    // Devices to serve, on consecutive addresses from Options.Address.
    int Count = 1;
    // Commands to run before those on standard input; empty for none.
    std::string ScriptFile;
    // Print every connection event, payload received and answer sent.
    bool Verbose = false;
    // End when standard input closes.
    bool ExitOnEof = false;
    bool Help = false;
    bool Version = false;
};

// Reads the arguments that follow the program name. Returns an empty string or the
// error text for the first argument that is unknown or malformed, or for a --count that
// does not fit on the loopback network from --bind on.
std::string ParseCommandLine(const std::vector<std::string>& args, TSimCommandLine& command);

// The full --help text: usage, every flag and every script command.
std::string CommandLineHelp();
