#pragma once

// The journal at a million lines, taken through the station's own window with its journal
// view shown (offscreen): the cost of adding a line while the journal is short and once it
// is long, the memory a line takes, and, while a device flaps at about 140 lines a second,
// how soon a line is on screen and the CPU time the window takes. All of it is measured
// in a process of its own (JOURNAL_WINDOW_OPTION), so nothing else counts towards its
// memory.

#include "BenchReport.h"

constexpr const char* JOURNAL_WINDOW_OPTION = "--journal-window";

struct TJournalPlan {
    // Lines the journal holds when the long journal is measured.
    int Lines = 1000000;
    // Seconds of a device flapping while the journal holds them.
    double FlapSeconds = 10;
};

// Runs the window process and reports its figures.
void BenchJournal(const TJournalPlan& plan, TBenchReport& report);

// The window process itself: prints its measures as "name value" lines. Makes its own
// application, so argc and argv are main's.
int RunJournalWindow(int& argc, char** argv, const TJournalPlan& plan);
