#pragma once

// The change lines the station's journal writes for a running connection, produced
// without a window: what the headless monitor's watch mode prints.

#include <functional>
#include <string>

class TSwObject;

// Adds listeners to the status and settings events of link so that every change worth a
// journal line reaches sink, after the first complete pass. Listens to none of OnStop,
// OnLinkStat, OnConnected and OnCounters.
void WireChangeLines(TSwObject& link, std::function<void(const std::string&)> sink);
