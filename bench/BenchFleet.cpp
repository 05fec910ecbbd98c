#include "BenchFleet.h"

#include "BenchFloor.h"
#include "BenchPrograms.h"
#include "BenchReport.h"
#include "UnitFile.h"

#include <algorithm>
#include <chrono>
#include <random>
#include <string>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto WINDOW = 10s;
constexpr auto WARM_UP = 3s;
constexpr int CHANGES = 300;
constexpr int SCRAPES = 20;
// Requests in one poll cycle after the first: state, settings, power, counters.
constexpr double REQUESTS_PER_CYCLE = 4;

constexpr double GOAL_CYCLES = 9.5;
// The fleet held to a share of one core, and the larger one held to the floor poller's CPU,
// to memory, threads and latency.
constexpr int GOAL_SIZE = 250;
constexpr int LARGE_GOAL_SIZE = 1000;
constexpr double GOAL_CPU_PERCENT = 25;
constexpr double GOAL_FLOOR_RATIO = 1.5;
constexpr double GOAL_RSS_MB = 150;
constexpr int GOAL_THREADS_BEYOND_CORES = 4;
constexpr double GOAL_LATENCY_P99_MS = 250;
constexpr double GOAL_SCRAPE_MS = 50;
constexpr int SIMULATOR_PORT = 10001;

double Percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(share * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

// Cycles per second per device over a window, from the requests the simulator received.
struct TCycles {
    double Min = 0;
    double Median = 0;
};

struct TFleetFigures {
    int Devices = 0;
    TCycles Cycles;
    TCycles FloorCycles;
    double ExporterCpu = 0;
    double FloorCpu = 0;
    double SimulatorCpu = 0;
    int Threads = 0;
    double SwitchesPerSecond = 0;
    double RssMb = 0;
    double RssPerDeviceKb = 0;
    double LatencyP50 = 0;
    double LatencyP99 = 0;
    double LatencyMax = 0;
    double ScrapeMs = 0;
    double ScrapeKb = 0;
    double ShutdownMs = 0;
};

// One fleet and what is measured of it.
class TFleetRun {
public:
    TFleetRun(int devices, const std::string& work, double baseRssMb)
        : fFleet(devices, work), fBaseRssMb(baseRssMb) {}

    // The floor poller first, then the exporter, each on the same simulator.
    TFleetFigures Measure() {
        TFleetFigures figures;
        figures.Devices = fFleet.Devices();
        MeasureFloor(figures);
        fFleet.StartExporter();
        fFleet.WaitUntilAllUp();
        std::this_thread::sleep_for(WARM_UP);
        MeasureWindow(figures);
        MeasureScrape(figures);
        MeasureLatency(figures);
        figures.ShutdownMs = fFleet.StopExporter().count();
        return figures;
    }

private:
    // The floor poller's CPU and cycles over a window like the exporter's; its connections
    // are closed before the exporter starts.
    void MeasureFloor(TFleetFigures& figures) {
        const int devices = fFleet.Devices();
        const TFloorPoller floor(fFleet.Addresses(), SIMULATOR_PORT,
                                 std::chrono::milliseconds(FLEET_INTERVAL_MS));
        if (!WaitFor([&] { return floor.Up() + floor.Failed() == devices; }, 60s) ||
            floor.Failed() > 0)
            throw TBenchError(Format("the floor poller polled %d of %d devices, %d failed",
                                     floor.Up(), devices, floor.Failed()));
        std::this_thread::sleep_for(WARM_UP);
        const std::vector<double> requests = fFleet.Requests();
        const double cpu = floor.CpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(WINDOW);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.FloorCpu = (floor.CpuSeconds() - cpu) / seconds * 100;
        figures.FloorCycles = CyclesOver(requests, seconds);
    }

    // The cycles of each device since the simulator counted requests, seconds ago.
    TCycles CyclesOver(const std::vector<double>& requests, double seconds) {
        const std::vector<double> after = fFleet.Requests();
        if (after.size() != requests.size() || after.empty())
            throw TBenchError("the simulator reported the wrong number of devices");
        std::vector<double> rates;
        for (std::size_t i = 0; i < after.size(); ++i)
            rates.push_back((after[i] - requests[i]) / REQUESTS_PER_CYCLE / seconds);
        std::sort(rates.begin(), rates.end());
        return {rates.front(), rates[rates.size() / 2]};
    }

    void MeasureWindow(TFleetFigures& figures) {
        const pid_t exporter = fFleet.Exporter().Pid();
        const pid_t simulator = fFleet.Simulator().Pid();
        const std::vector<double> requests = fFleet.Requests();
        const double exporterCpu = CpuSecondsOf(exporter);
        const double simulatorCpu = CpuSecondsOf(simulator);
        const double switches = SwitchesOf(exporter);
        const auto start = Clock::now();
        std::this_thread::sleep_for(WINDOW);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.ExporterCpu = (CpuSecondsOf(exporter) - exporterCpu) / seconds * 100;
        figures.SimulatorCpu = (CpuSecondsOf(simulator) - simulatorCpu) / seconds * 100;
        figures.SwitchesPerSecond = (SwitchesOf(exporter) - switches) / seconds;
        figures.Threads = ThreadsOf(exporter);
        figures.Cycles = CyclesOver(requests, seconds);
        figures.RssMb = RssMbOf(exporter);
        figures.RssPerDeviceKb = (figures.RssMb - fBaseRssMb) * 1024 / fFleet.Devices();
    }

    void MeasureScrape(TFleetFigures& figures) {
        std::vector<double> times;
        for (int i = 0; i < SCRAPES; ++i) {
            const auto start = Clock::now();
            const std::string metrics = HttpGet(fFleet.Port(), "/metrics");
            times.push_back(Milliseconds(Clock::now() - start));
            figures.ScrapeKb = static_cast<double>(metrics.size()) / 1024;
            std::this_thread::sleep_for(50ms);
        }
        figures.ScrapeMs = Percentile(times, 0.5);
    }

    // Each change sets one device's temperature to a value it does not hold and ends when
    // a scrape of /metrics shows that value.
    void MeasureLatency(TFleetFigures& figures) {
        std::mt19937 random(7);
        std::vector<int> held(static_cast<std::size_t>(fFleet.Devices()) + 1, -1);
        std::vector<double> latencies;
        for (int change = 0; change < CHANGES; ++change) {
            const int number = std::uniform_int_distribution(1, fFleet.Devices())(random);
            int value = 0;
            do
                value = std::uniform_int_distribution(20, 69)(random);
            while (value == held[static_cast<std::size_t>(number)]);
            held[static_cast<std::size_t>(number)] = value;
            const std::string series = "control7710_temperature_celsius{device=\"" +
                                       fFleet.Address(number) + "\"} " + std::to_string(value) +
                                       "\n";
            const auto start = Clock::now();
            fFleet.Simulator().Send("@" + std::to_string(number) + " temp " +
                                    std::to_string(value));
            if (!WaitFor(
                    [&] {
                        return HttpGet(fFleet.Port(), "/metrics").find(series) != std::string::npos;
                    },
                    5s))
                throw TBenchError("a temperature change did not reach /metrics: " + series);
            latencies.push_back(Milliseconds(Clock::now() - start));
            std::this_thread::sleep_for(
                std::chrono::milliseconds(std::uniform_int_distribution(0, 50)(random)));
        }
        figures.LatencyP50 = Percentile(latencies, 0.5);
        figures.LatencyP99 = Percentile(latencies, 0.99);
        figures.LatencyMax = *std::max_element(latencies.begin(), latencies.end());
    }

    TFleet fFleet;
    double fBaseRssMb;
};

// The memory of an exporter that watches nothing: what a fleet's memory is compared with.
double BaseRssMb(const std::string& folder) {
    const int port = FreePort();
    TChild exporter({folder + "/control7710-exporter", "--web.listen-address",
                     "127.0.0.1:" + std::to_string(port)},
                    "/dev/null", false);
    if (!WaitFor([&] { return HttpGet(port, "/-/healthy") != ""; }, 10s))
        throw TBenchError("the exporter did not start");
    return RssMbOf(exporter.Pid());
}

std::string CyclesText(const TCycles& cycles) {
    return Format("min %.2f, median %.2f cycles/s per device", cycles.Min, cycles.Median);
}

// The goals of the large fleet beside the floor poller: CPU and threads.
// The CPU goal is the plain ratio of the two processes' CPU over the same window. On a busy
// machine the floor's one thread may fall behind its pace and so spend less, which makes
// the ratio worse; the ratio per cycle done is printed beside it to show when that happened.
// CPU time depends on the machine, so the goal is not a strict one.
void ReportLarge(const TFleetFigures& f, const std::string& name, TBenchReport& report) {
    const double ratio = f.FloorCpu > 0 ? f.ExporterCpu / f.FloorCpu : 0;
    const double perCycle =
        f.Cycles.Median > 0 ? ratio * f.FloorCycles.Median / f.Cycles.Median : 0;
    report.Goal(name + "cpu",
                Format("exporter %.1f%% of one core (%s), %.2f times the floor poller's %.1f%% "
                       "(%s), %.2f times per cycle; simulator %.1f%%",
                       f.ExporterCpu, CyclesText(f.Cycles).c_str(), ratio, f.FloorCpu,
                       CyclesText(f.FloorCycles).c_str(), perCycle, f.SimulatorCpu),
                Format("<= %.1f times the floor", GOAL_FLOOR_RATIO),
                f.FloorCpu > 0 && ratio <= GOAL_FLOOR_RATIO);
    const int threads =
        GOAL_THREADS_BEYOND_CORES + static_cast<int>(std::thread::hardware_concurrency());
    report.Goal(name + "threads", Format("%d threads in the exporter", f.Threads),
                Format("<= %d (4 + cores)", threads), f.Threads <= threads, TGoalKind::Fixed);
}

void Report(const TFleetFigures& f, TBenchReport& report) {
    const std::string name = "fleet" + std::to_string(f.Devices) + "_";
    const bool small = f.Devices == GOAL_SIZE;
    const bool large = f.Devices == LARGE_GOAL_SIZE;
    report.Goal(name + "cycles",
                CyclesText(f.Cycles) +
                    Format(" over %d devices, by the requests the simulator received", f.Devices),
                "every device >= 9.5", f.Cycles.Min >= GOAL_CYCLES);
    const std::string cpu =
        Format("exporter %.1f%% of one core; floor poller %.1f%% (%s); simulator %.1f%%",
               f.ExporterCpu, f.FloorCpu, CyclesText(f.FloorCycles).c_str(), f.SimulatorCpu);
    const std::string rss = Format("exporter %.1f MB resident, %.1f kB per device beyond an "
                                   "exporter without devices",
                                   f.RssMb, f.RssPerDeviceKb);
    const std::string latency = Format("p50 %.1f ms, p99 %.1f ms, max %.1f ms over %d changes, "
                                       "from the simulator's command to /metrics",
                                       f.LatencyP50, f.LatencyP99, f.LatencyMax, CHANGES);
    const std::string scrape = Format("%.2f ms, median of %d scrapes of /metrics (%.0f kB)",
                                      f.ScrapeMs, SCRAPES, f.ScrapeKb);
    report.Figure(name + "shutdown",
                  Format("%.0f ms from SIGTERM to the exporter's end", f.ShutdownMs));
    report.Figure(name + "switches",
                  Format("%.0f context switches a second in the exporter", f.SwitchesPerSecond));
    if (large)
        ReportLarge(f, name, report);
    else if (small)
        report.Goal(name + "cpu", cpu, "exporter <= 25%", f.ExporterCpu <= GOAL_CPU_PERCENT);
    else
        report.Figure(name + "cpu", cpu);
    if (!small && !large) {
        report.Figure(name + "rss", rss);
        report.Figure(name + "latency", latency);
        report.Figure(name + "scrape", scrape);
        return;
    }
    report.Goal(name + "rss", rss, "<= 150 MB", f.RssMb <= GOAL_RSS_MB);
    report.Goal(name + "latency", latency, "p99 <= 250 ms", f.LatencyP99 <= GOAL_LATENCY_P99_MS);
    if (small)
        report.Goal(name + "scrape", scrape, "<= 50 ms", f.ScrapeMs <= GOAL_SCRAPE_MS);
    else
        report.Figure(name + "scrape", scrape);
}

void PrintTable(const std::vector<TFleetFigures>& all) {
    std::printf("\n| Devices | Cycles/s per device (min / median) | Exporter CPU | Floor CPU | "
                "Simulator CPU | Exporter RSS | Per device | Threads | Switches/s | "
                "Latency p50 / p99 | Scrape |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|\n");
    for (const TFleetFigures& f : all)
        std::printf("| %d | %.2f / %.2f | %.1f%% | %.1f%% | %.1f%% | %.1f MB | %.1f kB | %d | "
                    "%.0f | %.0f / %.0f ms | %.1f ms |\n",
                    f.Devices, f.Cycles.Min, f.Cycles.Median, f.ExporterCpu, f.FloorCpu,
                    f.SimulatorCpu, f.RssMb, f.RssPerDeviceKb, f.Threads, f.SwitchesPerSecond,
                    f.LatencyP50, f.LatencyP99, f.ScrapeMs);
    std::fflush(stdout);
}

} // namespace

std::vector<int> DefaultFleetSizes() {
    return {10, 50, 250, 1000};
}

void BenchFleet(const std::vector<int>& sizes, TBenchReport& report) {
    // The simulator and the exporter lie beside the benchmark.
    const std::string& folder = ProgramFolder();
    const TWorkFolder work;
    const double baseRssMb = BaseRssMb(folder);
    report.Figure("fleet_base_rss",
                  Format("%.1f MB resident, an exporter without devices", baseRssMb));
    std::vector<TFleetFigures> all;
    for (int devices : sizes) {
        TFleetRun run(devices, work.Path, baseRssMb);
        all.push_back(run.Measure());
        Report(all.back(), report);
    }
    PrintTable(all);
}
