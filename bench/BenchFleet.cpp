#include "BenchFleet.h"

#include "BenchReport.h"
#include "UnitFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
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
constexpr int GOAL_SIZE = 250;
constexpr double GOAL_CPU_PERCENT = 25;
constexpr double GOAL_RSS_MB = 150;
constexpr double GOAL_LATENCY_P99_MS = 250;
constexpr double GOAL_SCRAPE_MS = 50;

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

double RssMbOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("VmRSS:"))
            return std::stod(line.substr(6)) / 1024;
    }
    return 0;
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

struct TFleetFigures {
    int Devices = 0;
    double CyclesMin = 0;
    double CyclesMean = 0;
    double ExporterCpu = 0;
    double SimulatorCpu = 0;
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
        fPort = FreePort();
        std::vector<std::string> args = {folder + "/control7710-exporter", "--web.listen-address",
                                         "127.0.0.1:" + std::to_string(fPort), "--interval",
                                         std::to_string(INTERVAL_MS)};
        for (int number = 1; number <= devices; ++number)
            args.push_back(Address(number));
        fExporter = std::make_unique<TChild>(args, "/dev/null", false);
    }

    TFleetFigures Measure() {
        WaitUntilAllUp();
        std::this_thread::sleep_for(WARM_UP);
        TFleetFigures figures;
        figures.Devices = fDevices;
        MeasureWindow(figures);
        MeasureScrape(figures);
        MeasureLatency(figures);
        return figures;
    }

private:
    std::string Address(int number) const { return fBase + std::to_string(number); }

    std::string ReadSimLog() const {
        std::ifstream in(fSimLog);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    void WaitUntilAllUp() {
        const bool allUp = WaitFor([&] { return AllUp(HttpGet(fPort, "/metrics")); }, 60s);
        if (!allUp || !fExporter->Running())
            throw TBenchError("the exporter did not connect to all " + std::to_string(fDevices) +
                              " devices");
    }

    bool AllUp(const std::string& metrics) const {
        for (int number = 1; number <= fDevices; ++number) {
            if (metrics.find("control7710_up{device=\"" + Address(number) + "\"} 1\n") ==
                std::string::npos)
                return false;
        }
        return true;
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

    void MeasureWindow(TFleetFigures& figures) {
        const std::vector<double> requests = Requests();
        const double exporterCpu = CpuSecondsOf(fExporter->Pid());
        const double simulatorCpu = CpuSecondsOf(fSimulator->Pid());
        const auto start = Clock::now();
        std::this_thread::sleep_for(WINDOW);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        figures.ExporterCpu = (CpuSecondsOf(fExporter->Pid()) - exporterCpu) / seconds * 100;
        figures.SimulatorCpu = (CpuSecondsOf(fSimulator->Pid()) - simulatorCpu) / seconds * 100;
        const std::vector<double> after = Requests();
        if (after.size() != requests.size() || after.empty())
            throw TBenchError("the simulator reported the wrong number of devices");
        std::vector<double> rates;
        for (std::size_t i = 0; i < after.size(); ++i)
            rates.push_back((after[i] - requests[i]) / REQUESTS_PER_CYCLE / seconds);
        figures.CyclesMin = *std::min_element(rates.begin(), rates.end());
        double sum = 0;
        for (double rate : rates)
            sum += rate;
        figures.CyclesMean = sum / static_cast<double>(rates.size());
        figures.RssMb = RssMbOf(fExporter->Pid());
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

void Report(const TFleetFigures& f, TBenchReport& report) {
    const std::string name = "fleet" + std::to_string(f.Devices) + "_";
    const bool held = f.Devices == GOAL_SIZE;
    report.Goal(name + "cycles",
                Format("min %.2f, mean %.2f cycles/s per device over %d devices, by the "
                       "requests the simulator received",
                       f.CyclesMin, f.CyclesMean, f.Devices),
                "every device >= 9.5", f.CyclesMin >= GOAL_CYCLES);
    const std::string cpu =
        Format("exporter %.1f%% of one core, simulator %.1f%%", f.ExporterCpu, f.SimulatorCpu);
    const std::string rss = Format("exporter %.1f MB resident, %.1f kB per device beyond an "
                                   "exporter without devices",
                                   f.RssMb, f.RssPerDeviceKb);
    const std::string latency = Format("p50 %.1f ms, p99 %.1f ms, max %.1f ms over %d changes, "
                                       "from the simulator's command to /metrics",
                                       f.LatencyP50, f.LatencyP99, f.LatencyMax, CHANGES);
    const std::string scrape = Format("%.2f ms, median of %d scrapes of /metrics (%.0f kB)",
                                      f.ScrapeMs, SCRAPES, f.ScrapeKb);
    if (!held) {
        report.Figure(name + "cpu", cpu);
        report.Figure(name + "rss", rss);
        report.Figure(name + "latency", latency);
        report.Figure(name + "scrape", scrape);
        return;
    }
    report.Goal(name + "cpu", cpu, "exporter <= 25%", f.ExporterCpu <= GOAL_CPU_PERCENT);
    report.Goal(name + "rss", rss, "<= 150 MB", f.RssMb <= GOAL_RSS_MB);
    report.Goal(name + "latency", latency, "p99 <= 250 ms", f.LatencyP99 <= GOAL_LATENCY_P99_MS);
    report.Goal(name + "scrape", scrape, "<= 50 ms", f.ScrapeMs <= GOAL_SCRAPE_MS);
}

void PrintTable(const std::vector<TFleetFigures>& all) {
    std::printf("\n| Devices | Cycles/s per device (min) | Exporter CPU | Simulator CPU | "
                "Exporter RSS | Per device | Latency p50 / p99 | Scrape |\n"
                "|---|---|---|---|---|---|---|---|\n");
    for (const TFleetFigures& f : all)
        std::printf("| %d | %.2f | %.1f%% | %.1f%% | %.1f MB | %.1f kB | %.0f / %.0f ms | "
                    "%.1f ms |\n",
                    f.Devices, f.CyclesMin, f.ExporterCpu, f.SimulatorCpu, f.RssMb,
                    f.RssPerDeviceKb, f.LatencyP50, f.LatencyP99, f.ScrapeMs);
    std::fflush(stdout);
}

} // namespace

std::vector<int> DefaultFleetSizes() {
    return {10, 50, 250};
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
        all.push_back(run.Measure());
        Report(all.back(), report);
    }
    PrintTable(all);
}
