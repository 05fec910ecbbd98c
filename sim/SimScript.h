#pragma once

// The simulator's command language: one command per line, words separated by blanks,
// keywords in any letter case. Blank lines and lines starting with '#' do nothing. A
// command that is unknown or malformed changes nothing and yields one line of error text.

#include "SimFaults.h"

#include <string>
#include <vector>

// What a command asks for beyond the scene change, carried out by the device itself.
struct TSimEffect {
    // Text the command prints (state, help); empty for most commands.
    std::string Output;
    // Milliseconds to wait before the next command.
    int WaitMs = 0;
    // Closes the station's connection.
    bool Drop = false;
    // Waits until a station is connected before the next command.
    bool WaitStation = false;
    // Starts the script over from its first line.
    bool Loop = false;
};

// Applies one command line to the scene. Returns an empty string on success, otherwise
// the error text, in which case neither scene nor effect has changed.
std::string ApplyCommand(TSimScene& scene, const std::string& line, TSimEffect& effect);

// Applies the words after "fault": a fault name and, for most, a value (on|off or a number;
// a switch given without a value is switched on). Returns "" or the error text.
std::string ApplyFault(TSimFaults& faults, const std::vector<std::string>& words);

std::vector<std::string> SplitWords(const std::string& line);

// One line per command: its form and what it does.
std::string ScriptHelp();

// The scene as text, in the words of the commands that set it.
std::string DescribeScene(const TSimScene& scene);
