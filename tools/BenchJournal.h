#pragma once

// The journal at a million lines: the time to add them, the memory they take, and the
// time until the window's journal view shows the newest line.

#include "BenchReport.h"

// Needs a QApplication on the calling thread.
void BenchJournal(int lines, TBenchReport& report);
