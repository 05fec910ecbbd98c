#pragma once

// The station's words for what the link reports, shared by the window and the
// command-line tools. No widgets here.

#include <string>

// The journal's reason for a connection's end: stop code and the link's last error.
std::string StopReason(int code, int lastError);

// True when a stop is a failure the operator is warned about, not a requested stop.
bool StopIsFailure(int code);

// "OFF", "OK", "ERROR" or "NA" for a 2-bit state value.
std::string StateWord(int state);
