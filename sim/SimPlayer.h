#pragma once

// Plays the simulator's commands, one per line, from a stream on a fleet of devices (one
// device is a fleet of one): a script file or standard input.

#include "SimFleet.h"

#include <functional>
#include <istream>
#include <string>

using TSimPrint = std::function<void(const std::string&)>;

// Runs the lines of in on fleet, in order. "loop" starts over from the first line when
// in can be rewound, as a file can; the play ends there instead when in cannot, or when no
// "wait" came before it, since such a loop would never pause. What the commands print goes
// to print, each error to error as "SOURCE:LINE: TEXT" and a line end. Returns when in
// ends, at a loop that cannot be carried out, or once the fleet has stopped.
void PlayCommands(TSimFleet& fleet, std::istream& in, const std::string& source,
                  const TSimPrint& print, const TSimPrint& error);
