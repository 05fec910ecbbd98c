#pragma once

// The link against the simulated device on loopback: the cycle floor this machine allows,
// the poll rate, CPU time and heap allocations while nothing changes, and how long a
// change in the device takes to fire its event on the window thread.

#include "BenchReport.h"

struct TLinkPlan {
    // 1 ms pauses and raw exchanges timed for the floor.
    int Pauses = 1000;
    int Exchanges = 1000;
    // Polling of an unchanging device for the rate, CPU time and allocations.
    double PollSeconds = 10;
    // State changes timed for the latency.
    int Changes = 300;
};

// Needs a QCoreApplication on the calling thread.
void BenchLink(const TLinkPlan& plan, TBenchReport& report);
