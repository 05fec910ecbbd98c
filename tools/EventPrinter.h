#pragma once

// Prints one line per link event as it fires: the event's name, the input where it has
// one, and the new value.

#include "UnitThread.h"

#include <cstdio>

// Wires every event slot of link to a printer writing to out. Events the caller wants
// for itself (OnStop, OnCounters) can be rewired afterwards; PrintEvent keeps printing.
void WireEventPrinter(TSwObject& link, std::FILE* out);

// The printed line of a link statistics report, e.g. "LinkStat RATE 165".
std::string LinkStatLine(std::uint32_t value, int kind);
