// Benchmark of the station against the simulated device on loopback: poll rate beside the
// floor this machine allows, CPU time, change latency, allocations per cycle, the journal
// at a million lines, and the window's peak memory. One line per figure, then a summary.

#include "BenchFleet.h"
#include "BenchJournal.h"
#include "BenchLink.h"
#include "BenchReport.h"
#include "BenchWindow.h"

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char* const USAGE = R"(Usage: control7710-bench [--quick]
       control7710-bench --fleet [N]

Starts the simulated device in-process on 127.0.0.1 and measures the station against it,
printing one line per figure and a last summary line:
  pause_1ms, exchange, cycle_floor   the floor this machine allows a poll cycle
  poll_rate            cycles per second against an unchanging device
  cpu                  CPU time of the whole process per second of polling
  alloc_per_cycle      heap allocations of the link's worker thread per poll cycle
  latency              from a change in the device to its event on the window thread
  journal_append, journal_memory, journal_show_newest
                       a million journal lines
  window_peak_rss      peak memory of the window connected to the simulator

Options:
  --quick   a short run of a few seconds, for CI
  --fleet   instead, the fleet: the simulator serving N devices (default 10, 50 and 250
            in turn) and the exporter polling them every 100 ms, each a process of its own
  --help    show this text

Exit status: 0 when every figure was measured, whether or not it met its goal; 1 when
something kept the benchmark from measuring (the link or the simulator failed); 64 on a
usage error.
)";

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 64;

struct TPlan {
    TLinkPlan Link;
    int JournalLines = 1000000;
    double WindowSeconds = 5;
};

TPlan QuickPlan() {
    TPlan plan;
    plan.Link = {200, 200, 2, 60};
    plan.JournalLines = 100000;
    plan.WindowSeconds = 1;
    return plan;
}

int RunBenchmark(const TPlan& plan) {
    TBenchReport report;
    try {
        BenchLink(plan.Link, report);
        BenchJournal(plan.JournalLines, report);
        BenchWindow(plan.WindowSeconds, report);
    } catch (const TBenchError& error) {
        std::fprintf(stderr, "control7710-bench: %s\n", error.what());
        return EXIT_FAILED;
    }
    report.Summary();
    return 0;
}

int RunFleet(const std::vector<int>& sizes, int argc) {
    if (argc > 3 || sizes[0] < 1 || sizes[0] > 250) {
        std::fprintf(stderr, "control7710-bench: --fleet takes a device count from 1 to 250\n");
        return EXIT_USAGE;
    }
    TBenchReport report;
    try {
        BenchFleet(sizes, report);
    } catch (const TBenchError& error) {
        std::fprintf(stderr, "control7710-bench: %s\n", error.what());
        return EXIT_FAILED;
    }
    report.Summary();
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    // Nothing of the benchmark is meant to be seen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 3 && first == WINDOW_PEAK_OPTION) {
        QApplication application(argc, argv);
        return RunWindowPeak(std::atof(argv[2]));
    }
    if (first == "--fleet")
        return RunFleet(argc == 3 ? std::vector<int>{std::atoi(argv[2])} : DefaultFleetSizes(),
                        argc);
    if (argc > 2 || (argc == 2 && first != "--quick" && first != "--help")) {
        std::fprintf(stderr, "control7710-bench: unknown arguments; see --help\n");
        return EXIT_USAGE;
    }
    if (first == "--help") {
        std::fputs(USAGE, stdout);
        return 0;
    }
    QApplication application(argc, argv);
    return RunBenchmark(first == "--quick" ? QuickPlan() : TPlan());
}
