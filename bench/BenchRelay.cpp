#include "BenchRelay.h"

#include "BenchLinkSession.h"
#include "BenchPrograms.h"
#include "BenchReport.h"
#include "UnitFile.h"

#include <algorithm>
#include <memory>
#include <numeric>
#include <thread>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The exporter's poll interval, its default.
constexpr int INTERVAL_MS = 100;
constexpr auto WARM_UP = 1s;
constexpr auto RATE_WINDOW = 10s;
constexpr int CHANGES = 200;
constexpr int FLEET_SIZE = 250;
constexpr auto FLEET_WARM_UP = 3s;
constexpr auto CPU_WINDOW = 10s;
constexpr auto CLIENTS_WAIT = 60s;

constexpr double GOAL_RATE_SHARE = 0.9;
constexpr double GOAL_LATENCY_MS = INTERVAL_MS + 50;
constexpr double GOAL_CPU_FACTOR = 2;

// The ports of the "Relay listening ... address=127.0.0.1:PORT" lines of a log.
std::vector<int> RelayPorts(const std::string& log) {
    std::vector<int> ports;
    const std::string mark = "address=127.0.0.1:";
    for (std::size_t at = log.find("Relay listening"); at != std::string::npos;
         at = log.find("Relay listening", at + 1)) {
        const std::size_t port = log.find(mark, at);
        if (port != std::string::npos)
            ports.push_back(std::stoi(log.substr(port + mark.size())));
    }
    return ports;
}

// Waits until a log has count relay lines; their ports.
std::vector<int> WaitRelayPorts(const std::function<std::string()>& log, std::size_t count) {
    std::vector<int> ports;
    if (!WaitFor([&] { return (ports = RelayPorts(log())).size() >= count; }, 30s))
        throw TBenchError(Format("the exporter opened %zu of %zu relays", ports.size(), count));
    return ports;
}

// The link's own cycles per second over a window of polling, the mean of its reports.
double PollRate(TLinkSession& session) {
    RunEventLoopFor(WARM_UP);
    session.ClearRates();
    RunEventLoopFor(RATE_WINDOW);
    session.CheckRunning();
    const std::vector<std::uint32_t>& rates = session.Rates();
    if (rates.empty())
        throw TBenchError("the link reported no poll rate");
    return std::accumulate(rates.begin(), rates.end(), 0.0) / static_cast<double>(rates.size());
}

// ---- One device ----------------------------------------------------------------------

void ReportRate(double direct, double relayed, TBenchReport& report) {
    report.Goal("relay_poll_rate",
                Format("%.1f cycles/s through the relay, %.1f straight to the simulator: %.1f%% "
                       "(a station's link, its own figures over %lld s each)",
                       relayed, direct, 100 * relayed / direct,
                       static_cast<long long>(RATE_WINDOW.count())),
                ">= 90% of straight", relayed >= GOAL_RATE_SHARE * direct);
}

void ReportLatency(std::vector<double> samples, TBenchReport& report) {
    std::sort(samples.begin(), samples.end());
    const double p99 = Percentile(samples, 0.99);
    report.Goal("relay_latency",
                Format("median %.1f ms, p99 %.1f ms, max %.1f ms over %zu changes, from the "
                       "change in the simulator to its event in a client of the relay, the "
                       "exporter polling every %d ms",
                       Percentile(samples, 0.5), p99, samples.back(), samples.size(), INTERVAL_MS),
                Format("p99 <= the poll interval + 50 ms, %.0f ms", GOAL_LATENCY_MS),
                p99 <= GOAL_LATENCY_MS);
}

// The simulated device in this process, a station's link polling it straight and then
// through the relay of an exporter watching it.
void BenchOneDevice(const std::string& work, TBenchReport& report) {
    TSimOptions options = BenchDeviceOptions();
    options.Record = false;
    TSimDevice device(options);
    if (!device.Start())
        throw TBenchError("the simulator cannot listen on 127.0.0.1");
    double direct = 0;
    {
        TLinkSession session;
        session.Connect(device.Port());
        direct = PollRate(session);
        session.Disconnect();
    }
    const std::string log = work + "/relay.log";
    const TChild exporter({ProgramFolder() + "/control7710-exporter", "--web.listen-address",
                           "127.0.0.1:" + std::to_string(FreePort()), "--interval",
                           std::to_string(INTERVAL_MS), "--relay.base-port", "0",
                           "127.0.0.1:" + std::to_string(device.Port())},
                          log, false);
    const int port = WaitRelayPorts([&] { return ReadText(log); }, 1)[0];
    TLinkSession session;
    session.Connect(port);
    ReportRate(direct, PollRate(session), report);
    ReportLatency(MeasureChangeLatency(device, session.Link(), CHANGES, INTERVAL_MS), report);
    session.Disconnect();
}

// ---- A fleet -------------------------------------------------------------------------

// A station's link on each relay, each at the exporter's pace. A link that stops is
// counted, not connected again: a loaded machine can make a link time out.
class TClients {
public:
    explicit TClients(const std::vector<int>& ports) {
        for (int port : ports) {
            auto& link = *fLinks.emplace_back(std::make_unique<TSwObject>());
            link.SetMinCyclePeriod(std::chrono::milliseconds(INTERVAL_MS));
            link.OnCounters.Listen([this, ready = false](TSwObject*) mutable {
                if (!std::exchange(ready, true))
                    ++fReady;
            });
            link.OnStop.Listen([this](TSwObject*, int code) {
                if (fStopped++ == 0)
                    fFirstStopCode = code;
            });
            link.Connect("127.0.0.1", port);
        }
        if (!Await([this] { return fReady + fStopped >= fLinks.size(); }, CLIENTS_WAIT) ||
            fReady == 0)
            throw TBenchError(
                Format("%zu of %zu clients of the relays came up", fReady, fLinks.size()));
    }

    // "" while every link runs.
    std::string Stops() const {
        return fStopped == 0 ? ""
                             : Format("; %zu of %zu clients stopped, the first with code %d",
                                      fStopped, fLinks.size(), fFirstStopCode);
    }

private:
    std::vector<std::unique_ptr<TSwObject>> fLinks;
    // Links past their first pass, and links stopped.
    std::size_t fReady = 0;
    std::size_t fStopped = 0;
    int fFirstStopCode = 0;
};

// The exporter's CPU time over a window in which this thread runs its event loop, as a
// share of one core.
double ExporterCpuPercent(const TFleet& fleet) {
    const double before = CpuSecondsOf(fleet.Exporter().Pid());
    const auto start = Clock::now();
    RunEventLoopFor(CPU_WINDOW);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return (CpuSecondsOf(fleet.Exporter().Pid()) - before) / seconds * 100;
}

void BenchFleetClients(const std::string& work, TBenchReport& report) {
    TFleet fleet(FLEET_SIZE, work);
    fleet.StartExporter({"--relay.base-port", "0"});
    fleet.WaitUntilAllUp();
    const std::vector<int> ports = WaitRelayPorts([&] { return fleet.ExporterLog(); }, FLEET_SIZE);
    std::this_thread::sleep_for(FLEET_WARM_UP);
    const double alone = ExporterCpuPercent(fleet);
    const TClients clients(ports);
    RunEventLoopFor(FLEET_WARM_UP);
    const double served = ExporterCpuPercent(fleet);
    const std::string stops = clients.Stops();
    report.Goal("relay_cpu_250",
                Format("exporter %.1f%% of one core with %d devices and a station's link on each "
                       "relay polling every %d ms, %.1f%% without clients (x%.2f)%s",
                       served, FLEET_SIZE, INTERVAL_MS, alone, served / alone, stops.c_str()),
                "<= 2x without clients, every client running",
                served <= GOAL_CPU_FACTOR * alone && stops.empty());
}

} // namespace

void BenchRelay(TBenchReport& report) {
    const TWorkFolder work;
    BenchOneDevice(work.Path, report);
    BenchFleetClients(work.Path, report);
}
