#include "BenchFleet.h"

#include "BenchFloor.h"
#include "BenchReport.h"
#include "UnitFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int INTERVAL_MS = 100;
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
constexpr int DEVICE_PORT = 10001;

// A program started by the benchmark, its output going to a file, its standard input
// (when asked for) a pipe. Ended with SIGTERM when destroyed.
class TChild {
public:
    TChild(const std::vector<std::string>& args, const std::string& logFile, bool withInput) {
        int input[2] = {-1, -1};
        if (withInput && pipe2(input, O_CLOEXEC) != 0)
            throw TBenchError("cannot make a pipe");
        fPid = fork();
        if (fPid == 0)
            Exec(args, logFile, input[0]);
        if (input[0] >= 0)
            close(input[0]);
        fInput = input[1];
        if (fPid < 0)
            throw TBenchError("cannot start " + args[0]);
    }
    ~TChild() {
        if (fInput >= 0)
            close(fInput);
        kill(fPid, SIGTERM);
        for (int i = 0; i < 500 && waitpid(fPid, nullptr, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(10ms);
        if (waitpid(fPid, nullptr, WNOHANG) == 0) {
            kill(fPid, SIGKILL);
            waitpid(fPid, nullptr, 0);
        }
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    pid_t Pid() const { return fPid; }

    void Send(const std::string& line) const {
        const std::string text = line + "\n";
        if (write(fInput, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
            throw TBenchError("cannot send \"" + line + "\" to the simulator");
    }

    bool Running() const { return waitpid(fPid, nullptr, WNOHANG) == 0; }

private:
    [[noreturn]] static void Exec(const std::vector<std::string>& args, const std::string& logFile,
                                  int input) {
        const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(log, STDOUT_FILENO);
        dup2(log, STDERR_FILENO);
        dup2(input >= 0 ? input : open("/dev/null", O_RDONLY), STDIN_FILENO);
        std::vector<char*> argv;
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }

    pid_t fPid = -1;
    int fInput = -1;
};

// User and system CPU time of a process so far, in seconds.
double CpuSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index >= 14)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A number field of a /proc status file ("VmRSS:", "Threads:"); 0 when it is missing.
double StatusField(const std::string& path, const std::string& field) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(field))
            return std::stod(line.substr(field.size()));
    }
    return 0;
}

double RssMbOf(pid_t pid) {
    return StatusField("/proc/" + std::to_string(pid) + "/status", "VmRSS:") / 1024;
}

int ThreadsOf(pid_t pid) {
    return static_cast<int>(StatusField("/proc/" + std::to_string(pid) + "/status", "Threads:"));
}

// Context switches of every thread of a process so far, voluntary or not.
double SwitchesOf(pid_t pid) {
    double switches = 0;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        const std::string status = task.path().string() + "/status";
        switches += StatusField(status, "voluntary_ctxt_switches:") +
                    StatusField(status, "nonvoluntary_ctxt_switches:");
    }
    return switches;
}

int FreePort() {
    const int handle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(handle, reinterpret_cast<sockaddr*>(&address), &size);
    close(handle);
    return ntohs(address.sin_port);
}

// The body of GET path from 127.0.0.1:port; empty when the request failed.
std::string HttpGet(int port, const std::string& path) {
    const int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string response;
    if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(handle, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char chunk[65536];
            for (ssize_t got; (got = recv(handle, chunk, sizeof chunk, 0)) > 0;)
                response.append(chunk, static_cast<std::size_t>(got));
        }
    }
    close(handle);
    const std::size_t body = response.find("\r\n\r\n");
    return response.starts_with("HTTP/1.1 200") || response.starts_with("HTTP/1.0 200")
               ? response.substr(body + 4)
               : std::string();
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool WaitFor(const std::function<bool()>& done, Clock::duration timeout) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

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
};

// One fleet: the simulator, the exporter polling it, and what is measured of them.
class TFleetRun {
public:
    TFleetRun(int devices, const std::string& folder, const std::string& work, double baseRssMb)
        : fDevices(devices), fSimLog(work + "/simulator.log"), fBaseRssMb(baseRssMb) {
        std::mt19937 random(std::random_device{}());
        fBase = "127." + std::to_string(std::uniform_int_distribution(20, 219)(random)) + "." +
                std::to_string(std::uniform_int_distribution(1, 250)(random)) + ".";
        fSimulator = std::make_unique<TChild>(
            std::vector<std::string>{folder + "/control7710-sim", "--count",
                                     std::to_string(devices), "--bind", fBase + "1"},
            fSimLog, true);
        if (!WaitFor([&] { return Count(ReadSimLog(), "listening on") > 0; }, 10s))
            throw TBenchError("the fleet simulator did not start; see " + fSimLog);
        for (int number = 1; number <= devices; ++number)
            fAddresses.push_back(Address(number));
    }

    // The floor poller first, then the exporter, each on the same simulator.
    TFleetFigures Measure(const std::string& folder) {
        TFleetFigures figures;
        figures.Devices = fDevices;
        MeasureFloor(figures);
        StartExporter(folder);
        WaitUntilAllUp();
        std::this_thread::sleep_for(WARM_UP);
        MeasureWindow(figures);
        MeasureScrape(figures);
        MeasureLatency(figures);
        return figures;
    }

private:
    // The simulator's devices listen on consecutive addresses from the one it was given.
    std::string Address(int number) const {
        in_addr first{};
        inet_pton(AF_INET, (fBase + "1").c_str(), &first);
        const in_addr address{htonl(ntohl(first.s_addr) + static_cast<std::uint32_t>(number - 1))};
        char text[INET_ADDRSTRLEN];
        return inet_ntop(AF_INET, &address, text, sizeof text);
    }

    void StartExporter(const std::string& folder) {
        fPort = FreePort();
        std::vector<std::string> args = {folder + "/control7710-exporter", "--web.listen-address",
                                         "127.0.0.1:" + std::to_string(fPort), "--interval",
                                         std::to_string(INTERVAL_MS)};
        args.insert(args.end(), fAddresses.begin(), fAddresses.end());
        fExporter = std::make_unique<TChild>(args, "/dev/null", false);
    }

    // The floor poller's CPU and cycles over a window like the exporter's; its connections
    // are closed before the exporter starts.
    void MeasureFloor(TFleetFigures& figures) {
        const TFloorPoller floor(fAddresses, DEVICE_PORT, std::chrono::milliseconds(INTERVAL_MS));
        if (!WaitFor([&] { return floor.Up() + floor.Failed() == fDevices; }, 60s) ||
            floor.Failed() > 0)
            throw TBenchError(Format("the floor poller polled %d of %d devices, %d failed",
                                     floor.Up(), fDevices, floor.Failed()));
        std::this_thread::sleep_for(WARM_UP);
        const std::vector<double> requests = Requests();
        const double cpu = floor.CpuSeconds();
        const auto start = Clock::now();
        std::this_thread::sleep_for(WINDOW);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.FloorCpu = (floor.CpuSeconds() - cpu) / seconds * 100;
        figures.FloorCycles = CyclesOver(requests, seconds);
    }

    std::string ReadSimLog() const {
        std::ifstream in(fSimLog);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void WaitUntilAllUp() const {
        const bool allUp = WaitFor([&] { return AllUp(HttpGet(fPort, "/metrics")); }, 60s);
        if (!allUp || !fExporter->Running())
            throw TBenchError("the exporter did not connect to all " + std::to_string(fDevices) +
                              " devices");
    }

    bool AllUp(const std::string& metrics) const {
        return std::all_of(fAddresses.begin(), fAddresses.end(), [&](const std::string& address) {
            return metrics.find("control7710_up{device=\"" + address + "\"} 1\n") !=
                   std::string::npos;
        });
    }

    // The requests each device has received so far, as the simulator counts them.
    std::vector<double> Requests() {
        const std::size_t before = Count(ReadSimLog(), "requests:");
        fSimulator->Send("requests");
        std::string log;
        if (!WaitFor([&] { return Count(log = ReadSimLog(), "requests:") > before; }, 5s))
            throw TBenchError("the simulator did not report its requests");
        std::istringstream line(log.substr(log.rfind("requests:") + 9));
        std::vector<double> counts;
        for (double count = 0; counts.size() < static_cast<std::size_t>(fDevices) && line >> count;)
            counts.push_back(count);
        return counts;
    }

    // The cycles of each device since the simulator counted requests, seconds ago.
    TCycles CyclesOver(const std::vector<double>& requests, double seconds) {
        const std::vector<double> after = Requests();
        if (after.size() != requests.size() || after.empty())
            throw TBenchError("the simulator reported the wrong number of devices");
        std::vector<double> rates;
        for (std::size_t i = 0; i < after.size(); ++i)
            rates.push_back((after[i] - requests[i]) / REQUESTS_PER_CYCLE / seconds);
        std::sort(rates.begin(), rates.end());
        return {rates.front(), rates[rates.size() / 2]};
    }

    void MeasureWindow(TFleetFigures& figures) {
        const pid_t exporter = fExporter->Pid();
        const std::vector<double> requests = Requests();
        const double exporterCpu = CpuSecondsOf(exporter);
        const double simulatorCpu = CpuSecondsOf(fSimulator->Pid());
        const double switches = SwitchesOf(exporter);
        const auto start = Clock::now();
        std::this_thread::sleep_for(WINDOW);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.ExporterCpu = (CpuSecondsOf(exporter) - exporterCpu) / seconds * 100;
        figures.SimulatorCpu = (CpuSecondsOf(fSimulator->Pid()) - simulatorCpu) / seconds * 100;
        figures.SwitchesPerSecond = (SwitchesOf(exporter) - switches) / seconds;
        figures.Threads = ThreadsOf(exporter);
        figures.Cycles = CyclesOver(requests, seconds);
        figures.RssMb = RssMbOf(exporter);
        figures.RssPerDeviceKb = (figures.RssMb - fBaseRssMb) * 1024 / fDevices;
    }

    void MeasureScrape(TFleetFigures& figures) {
        std::vector<double> times;
        for (int i = 0; i < SCRAPES; ++i) {
            const auto start = Clock::now();
            const std::string metrics = HttpGet(fPort, "/metrics");
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
        std::vector<int> held(static_cast<std::size_t>(fDevices) + 1, -1);
        std::vector<double> latencies;
        for (int change = 0; change < CHANGES; ++change) {
            const int number = std::uniform_int_distribution(1, fDevices)(random);
            int value = 0;
            do
                value = std::uniform_int_distribution(20, 69)(random);
            while (value == held[static_cast<std::size_t>(number)]);
            held[static_cast<std::size_t>(number)] = value;
            const std::string series = "control7710_temperature_celsius{device=\"" +
                                       Address(number) + "\"} " + std::to_string(value) + "\n";
            const auto start = Clock::now();
            fSimulator->Send("@" + std::to_string(number) + " temp " + std::to_string(value));
            if (!WaitFor(
                    [&] { return HttpGet(fPort, "/metrics").find(series) != std::string::npos; },
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

    int fDevices;
    std::string fSimLog;
    double fBaseRssMb;
    std::string fBase;
    std::vector<std::string> fAddresses;
    int fPort = 0;
    std::unique_ptr<TChild> fSimulator;
    std::unique_ptr<TChild> fExporter;
};

// A temporary folder for the simulator's output, removed with what it holds.
struct TWorkFolder {
    TWorkFolder() {
        char pattern[] = "/tmp/control7710-bench.XXXXXX";
        if (mkdtemp(pattern) == nullptr)
            throw TBenchError("cannot make a temporary folder");
        Path = pattern;
    }
    ~TWorkFolder() {
        std::remove((Path + "/simulator.log").c_str());
        rmdir(Path.c_str());
    }
    TWorkFolder(const TWorkFolder&) = delete;
    TWorkFolder& operator=(const TWorkFolder&) = delete;

    std::string Path;
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

// The goals of the large fleet: the exporter beside the floor poller, memory, threads.
void ReportLarge(const TFleetFigures& f, const std::string& name, TBenchReport& report) {
    const double ratio = f.FloorCpu > 0 ? f.ExporterCpu / f.FloorCpu : 0;
    report.Goal(name + "cpu",
                Format("exporter %.1f%% of one core, %.2f times the floor poller's %.1f%% (%s); "
                       "simulator %.1f%%",
                       f.ExporterCpu, ratio, f.FloorCpu, CyclesText(f.FloorCycles).c_str(),
                       f.SimulatorCpu),
                Format("<= %.1f times the floor", GOAL_FLOOR_RATIO),
                f.FloorCpu > 0 && ratio <= GOAL_FLOOR_RATIO, TGoalKind::Fixed);
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
                CyclesText(f.Cycles) + Format(" over %d devices, by the requests the simulator "
                                              "received",
                                              f.Devices),
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
        TFleetRun run(devices, folder, work.Path, baseRssMb);
        all.push_back(run.Measure(folder));
        Report(all.back(), report);
    }
    PrintTable(all);
}
