// Benchmark of the station against the simulated device on loopback: poll rate beside the
// floor this machine allows, CPU time, change latency, allocations per cycle, the journal
// at a million lines in the window, and the window's peak memory. One line per figure,
// then a summary.

#include "BenchFleet.h"
#include "BenchJournal.h"
#include "BenchLink.h"
#include "BenchRelay.h"
#include "BenchReport.h"
#include "BenchWindow.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

const char* const USAGE = R"(Usage: control7710-bench [--quick] [--strict]
       control7710-bench --fleet [N]
       control7710-bench --relay
       control7710-bench --help | --version

Starts the simulated device in-process on 127.0.0.1 and measures the station against it,
printing one line per figure and a last summary line:
  pause_1ms, exchange, cycle_floor   the floor this machine allows a poll cycle
  poll_rate            cycles per second against an unchanging device
  cpu                  CPU time of the whole process per second of polling
  alloc_per_cycle      heap allocations of the link's worker thread per poll cycle
  latency              from a change in the device to its event on the window thread
  journal_window_append, journal_window_bytes_per_line, window_rss_1m_lines,
  journal_line_on_screen, journal_window_cpu
                       the window with a journal of a million lines, in a process of
                       its own, while a device flaps at about 140 lines a second
  window_peak_rss      peak memory of the window connected to the simulator

A figure held to a goal ends in PASS or MISS; "strict" marks goals that do not depend on
the machine's speed (memory, allocations, the growth of a cost with the journal).

Options:
  --quick    a short run, for CI
  --strict   exit with status 2 when a strict goal is missed
  --fleet    instead, the fleet: the simulator serving N devices (default 10, 50, 250
             and 1000 in turn), polled every 100 ms by a minimal poller of the
             benchmark's own, then by the exporter, each program a process of its own
  --relay    instead, the exporter's relay: a station's link polling through it against
             straight to the simulator, change-to-client latency through it, and the
             exporter's CPU with 250 devices and a client on each relay
  --help     show this text
  --version  show the version

Exit status: 0 when every figure was measured, whether or not it met its goal (but see
--strict); 1 when something kept the benchmark from measuring (the link or the simulator
failed); 2 when --strict was given and a strict goal was missed; 64 on a usage error.
)";

constexpr int EXIT_FAILED = 1;
constexpr int EXIT_STRICT_MISSED = 2;
constexpr int EXIT_USAGE = 64;

struct TOptions {
    bool Quick = false;
    bool Strict = false;
    bool Help = false;
    bool Version = false;
    // Device counts of the fleet run; empty for the station's own benchmark.
    std::vector<int> Fleet;
    bool Relay = false;
};

// The counts after --fleet: the one given, or the default series.
bool ParseFleet(int argc, char* argv[], int& i, std::vector<int>& fleet) {
    if (i + 1 >= argc || argv[i + 1][0] == '-') {
        fleet = DefaultFleetSizes();
        return true;
    }
    const int count = std::atoi(argv[++i]);
    fleet = {count};
    return count >= 1 && count <= 1000;
}

// False, with the offending argument in bad, on anything but the public options.
bool ParseOptions(int argc, char* argv[], TOptions& options, std::string& bad) {
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--quick")
            options.Quick = true;
        else if (argument == "--strict")
            options.Strict = true;
        else if (argument == "--help")
            options.Help = true;
        else if (argument == "--version")
            options.Version = true;
        else if (argument == "--relay")
            options.Relay = true;
        else if (argument == "--fleet" && ParseFleet(argc, argv, i, options.Fleet))
            continue;
        else {
            bad = argument;
            return false;
        }
    }
    return true;
}

struct TPlan {
    TLinkPlan Link;
    TJournalPlan Journal;
    double WindowSeconds = 5;
};

TPlan QuickPlan() {
    TPlan plan;
    plan.Link = {200, 200, 2, 60};
    plan.Journal.FlapSeconds = 2;
    plan.WindowSeconds = 1;
    return plan;
}

// Measures into a report and sums it up; the exit status.
int Run(const std::function<void(TBenchReport&)>& measure, bool strict) {
    TBenchReport report;
    try {
        measure(report);
    } catch (const TBenchError& error) {
        std::fprintf(stderr, "control7710-bench: %s\n", error.what());
        return EXIT_FAILED;
    }
    report.Summary();
    return strict && report.FixedGoalMissed() ? EXIT_STRICT_MISSED : 0;
}

void MeasureStation(const TPlan& plan, TBenchReport& report) {
    BenchLink(plan.Link, report);
    BenchJournal(plan.Journal, report);
    BenchWindow(plan.WindowSeconds, report);
}

// The benchmark's own window processes, which it starts as this program with an option of
// their own; nothing when the arguments ask for none of them.
std::optional<int> RunWindowProcess(int& argc, char* argv[]) {
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 3 && first == WINDOW_PEAK_OPTION) {
        QApplication application(argc, argv);
        return RunWindowPeak(std::atof(argv[2]));
    }
    if (argc == 4 && first == JOURNAL_WINDOW_OPTION)
        return RunJournalWindow(argc, argv, {std::atoi(argv[2]), std::atof(argv[3])});
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    // Nothing of the benchmark is meant to be seen.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (const std::optional<int> status = RunWindowProcess(argc, argv))
        return *status;
    TOptions options;
    std::string bad;
    if (!ParseOptions(argc, argv, options, bad)) {
        std::fprintf(stderr, "control7710-bench: unknown argument '%s'; see --help\n", bad.c_str());
        return EXIT_USAGE;
    }
    if (options.Help) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (options.Version) {
        std::printf("control7710-bench %s\n", CONTROL7710_VERSION);
        return 0;
    }
    if (!options.Fleet.empty())
        return Run([&](TBenchReport& report) { BenchFleet(options.Fleet, report); },
                   options.Strict);
    if (options.Relay) {
        QCoreApplication application(argc, argv);
        return Run(BenchRelay, options.Strict);
    }
    QApplication application(argc, argv);
    const TPlan plan = options.Quick ? QuickPlan() : TPlan();
    return Run([&](TBenchReport& report) { MeasureStation(plan, report); }, options.Strict);
}
