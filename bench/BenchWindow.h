#pragma once

// The peak resident memory of the station's window connected to the simulator. It is
// measured in a process of its own, this program run again with WINDOW_PEAK_OPTION, so
// that nothing else the benchmark did counts towards the peak.

#include "BenchReport.h"

constexpr const char* WINDOW_PEAK_OPTION = "--window-peak";

// Runs the window process for that many seconds of polling and reports its peak.
void BenchWindow(double seconds, TBenchReport& report);

// The window process itself: the window and the simulator, connected, polling for that
// many seconds while the device changes; prints "peak_kb N". Needs a QApplication.
int RunWindowPeak(double seconds);
