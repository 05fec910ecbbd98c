#pragma once

// The fleet benchmark: the simulator serving N devices in one process of its own, the
// exporter polling all of them every 100 ms in another, and the figures of both processes.

#include <vector>

class TBenchReport;

// The fleet sizes measured when none is given.
std::vector<int> DefaultFleetSizes();

// Measures each fleet size in turn: cycles per second per device, CPU of the exporter
// and of the simulator, the exporter's memory, change-to-/metrics latency and the time of
// one scrape; then prints the figures as a table. The simulator and the exporter are the
// programs beside this one. Throws TBenchError when either fails to start or serve.
void BenchFleet(const std::vector<int>& sizes, TBenchReport& report);
