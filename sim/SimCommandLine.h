#pragma once

// The command line of the simulator program.

#include "SimDevice.h"

#include <string>
#include <vector>

struct TSimCommandLine {
    TSimOptions Options;
    // Commands to run before those on standard input; empty for none.
    std::string ScriptFile;
    // Print every connection event, payload received and answer sent.
    bool Verbose = false;
    // End when standard input closes.
    bool ExitOnEof = false;
    bool Help = false;
};

// Reads the arguments that follow the program name. Returns an empty string or the
// error text for the first argument that is unknown or malformed.
std::string ParseCommandLine(const std::vector<std::string>& args, TSimCommandLine& command);

// The full --help text: usage, every flag and every script command.
std::string CommandLineHelp();
