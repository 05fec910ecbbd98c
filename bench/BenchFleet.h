#pragma once

// The fleet benchmark: the simulator serving N devices in one process of its own, polled
// every 100 ms first by a minimal poller on a thread of the benchmark (the floor), then by
// the exporter in a process of its own, and the figures of all three.

#include <vector>

class TBenchReport;

// The fleet sizes measured when none is given.
std::vector<int> DefaultFleetSizes();

// Measures each fleet size in turn: cycles per second per device, CPU of the exporter, of
// the floor poller and of the simulator, the exporter's memory, threads and context
// switches, change-to-/metrics latency and the time of one scrape; then prints the figures
// as a table. The simulator and the exporter are the
// programs beside this one. Throws TBenchError when either fails to start or serve.
void BenchFleet(const std::vector<int>& sizes, TBenchReport& report);
