#include "BenchLink.h"

#include "AllocationCounter.h"
#include "BenchLinkSession.h"
#include "DeviceProtocol.h"
#include "Notification.h"
#include "ProcessStat.h"
#include "SimDevice.h"
#include "UnitThread.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <exception>
#include <sys/prctl.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// The worker's pause: a relative sleep on the monotonic clock, on a thread whose timer
// slack is 1 us.
constexpr unsigned long WORKER_TIMER_SLACK_NS = 1000;
constexpr long PAUSE_NS = 1000000;
constexpr int PAUSES_PER_CYCLE = 5;
constexpr int POLLS_PER_CYCLE = 4;
// Five pauses of exactly 1 ms and nothing else.
constexpr double CYCLE_BOUND = 200;
constexpr int WARM_UP_EXCHANGES = 20;
constexpr auto WARM_UP_POLLING = 500ms;
constexpr auto CONNECT_WAIT = 5s;
// Longest random wait before a change, so changes meet the cycle at every phase.
constexpr int CHANGE_PHASE_MS = 7;

constexpr double RATE_GOAL = 0.95;
constexpr double CPU_GOAL = 0.05;
constexpr double LATENCY_GOAL_CYCLES = 2;

// ---- Floor -----------------------------------------------------------------------

struct TFloor {
    double PauseMs = 0;
    double ExchangeMs = 0;

    double CycleMs() const { return PAUSES_PER_CYCLE * PauseMs + POLLS_PER_CYCLE * ExchangeMs; }
    double Rate() const { return 1000 / CycleMs(); }
};

double MeanPauseMs(int count) {
    const auto start = Clock::now();
    for (int i = 0; i < count; ++i) {
        timespec span{0, PAUSE_NS};
        while (clock_nanosleep(CLOCK_MONOTONIC, 0, &span, &span) != 0) {
        }
    }
    return Milliseconds(Clock::now() - start) / count;
}

// One poll request of the cycle's n-th group and its reply, checked as the link checks it.
bool Exchange(TSocket socket, int n, TSwBuffer& reply) {
    const int group = GROUP_STATE + n % POLLS_PER_CYCLE;
    const TGroupSpec& layout = GroupSpec(group);
    int length = 0;
    return SendFrame(socket, layout.Request.data(), HEADER_SIZE, LINK_TIMEOUT_MS) &&
           ReceiveFrame(socket, reply, length, LINK_TIMEOUT_MS) &&
           AcceptPollReply(group, reply.data(), length);
}

bool Exchanges(TSocket socket, int count, TSwBuffer& reply) {
    for (int n = 0; n < count; ++n) {
        if (!Exchange(socket, n, reply))
            return false;
    }
    return true;
}

double MeanExchangeMs(int port, int count) {
    TSocket socket = INVALID_SOCKET;
    auto reply = std::make_unique<TSwBuffer>();
    bool ok = SocketOpen(socket) &&
              SocketConnectTimeout(socket, "127.0.0.1", port, LINK_TIMEOUT_MS) &&
              Exchanges(socket, WARM_UP_EXCHANGES, *reply);
    const auto start = Clock::now();
    ok = ok && Exchanges(socket, count, *reply);
    const double mean = Milliseconds(Clock::now() - start) / count;
    const int error = SocketLastError();
    SocketShutdown(socket);
    if (!ok)
        throw TBenchError(Format("raw exchange with the simulator failed (error %d)", error));
    return mean;
}

// Both on a thread of their own with the worker's timer slack.
TFloor MeasureFloor(int port, const TLinkPlan& plan) {
    TFloor floor;
    std::exception_ptr failure;
    std::thread([&] {
        prctl(PR_SET_TIMERSLACK, WORKER_TIMER_SLACK_NS);
        try {
            floor.PauseMs = MeanPauseMs(plan.Pauses);
            floor.ExchangeMs = MeanExchangeMs(port, plan.Exchanges);
        } catch (...) {
            failure = std::current_exception();
        }
    }).join();
    if (failure)
        std::rethrow_exception(failure);
    return floor;
}

void ReportFloor(const TFloor& floor, const TLinkPlan& plan, TBenchReport& report) {
    report.Figure("pause_1ms", Format("%.4f ms, mean of %d (relative sleep, timer slack 1 us)",
                                      floor.PauseMs, plan.Pauses));
    report.Figure("exchange", Format("%.4f ms, mean of %d raw request/reply exchanges with the "
                                     "simulator over loopback",
                                     floor.ExchangeMs, plan.Exchanges));
    report.Figure("cycle_floor", Format("%.3f ms = 5 pauses + 4 exchanges: %.1f cycles/s",
                                        floor.CycleMs(), floor.Rate()));
}

// ---- Polling ---------------------------------------------------------------------

struct TThreads {
    pid_t Window = 0;
    pid_t Simulator = 0;
    pid_t Worker = 0;
};

struct TCpuReading {
    double Process = 0;
    double Window = 0;
    double Simulator = 0;
    double Worker = 0;
};

TCpuReading ReadCpu(const TThreads& threads) {
    return {ProcessCpuSeconds(), ThreadCpuSeconds(threads.Window),
            ThreadCpuSeconds(threads.Simulator), ThreadCpuSeconds(threads.Worker)};
}

struct TPollRun {
    double Seconds = 0;
    double Cycles = 0;
    TCpuReading Cpu;
    TAllocationCount Allocations;
    std::vector<std::uint32_t> Rates;
};

std::size_t RequestCount(const TSimDevice& device) {
    std::size_t count = 0;
    device.WaitUntil(
        [&count](const std::vector<TSimRecord>& records) {
            count = records.size();
            return true;
        },
        0ms);
    return count;
}

TPollRun MeasurePolling(const TSimDevice& device, TLinkSession& session, const TThreads& threads,
                        double seconds) {
    session.ClearRates();
    const TCpuReading cpuBefore = ReadCpu(threads);
    const std::size_t requestsBefore = RequestCount(device);
    const auto start = Clock::now();
    StartCountingAllocations(threads.Worker, sizeof(TSwNotification));
    RunEventLoopFor(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
    TPollRun run;
    run.Allocations = StopCountingAllocations();
    run.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    run.Cycles = static_cast<double>(RequestCount(device) - requestsBefore) / POLLS_PER_CYCLE;
    const TCpuReading cpuAfter = ReadCpu(threads);
    run.Cpu = {cpuAfter.Process - cpuBefore.Process, cpuAfter.Window - cpuBefore.Window,
               cpuAfter.Simulator - cpuBefore.Simulator, cpuAfter.Worker - cpuBefore.Worker};
    run.Rates = session.Rates();
    session.CheckRunning();
    return run;
}

std::uint32_t Median(std::vector<std::uint32_t> values) {
    if (values.empty())
        return 0;
    std::nth_element(values.begin(), values.begin() + values.size() / 2, values.end());
    return values[values.size() / 2];
}

void ReportRate(const TPollRun& run, const TFloor& floor, TBenchReport& report) {
    const double rate = run.Cycles / run.Seconds;
    const double share = rate / floor.Rate();
    report.Goal("poll_rate",
                Format("%.1f cycles/s over %.1f s (the link's own figure %u) = %.1f%% of the "
                       "floor, %.1f%% of the 200 cycles/s bound",
                       rate, run.Seconds, Median(run.Rates), 100 * share, 100 * rate / CYCLE_BOUND),
                ">= 95% of the floor", share >= RATE_GOAL);
}

// The simulator runs in this process only for the benchmark's sake, so the station's share
// is the whole process's CPU time less the simulator's serving thread.
void ReportCpu(const TPollRun& run, TBenchReport& report) {
    const auto percent = [&run](double seconds) { return 100 * seconds / run.Seconds; };
    const double station = run.Cpu.Process - run.Cpu.Simulator;
    report.Goal("cpu",
                Format("%.2f%% of one core for the station per second of polling: the whole "
                       "process %.2f%% less the simulator's thread %.2f%% (link worker %.2f%%, "
                       "window thread %.2f%%)",
                       percent(station), percent(run.Cpu.Process), percent(run.Cpu.Simulator),
                       percent(run.Cpu.Worker), percent(run.Cpu.Window)),
                "< 5% of one core", station / run.Seconds < CPU_GOAL);
}

// The worker allocates one notification for each rate report it posts, once a second;
// every other allocation happened in a cycle that had nothing to post.
void ReportAllocations(const TPollRun& run, TBenchReport& report) {
    const TAllocationCount& count = run.Allocations;
    // A report posted just before the end may not have been received yet.
    const std::uint64_t posted = std::min<std::uint64_t>(count.OfNotedSize, run.Rates.size() + 1);
    const std::uint64_t quiet = count.All - posted;
    report.Goal("alloc_per_cycle",
                Format("%.4f: %llu heap allocations on the worker thread in %.0f cycles, %llu of "
                       "them the %zu-byte notification of the once-a-second rate report "
                       "(%zu received); %llu in cycles that post nothing",
                       static_cast<double>(count.All) / run.Cycles,
                       static_cast<unsigned long long>(count.All), run.Cycles,
                       static_cast<unsigned long long>(posted), sizeof(TSwNotification),
                       run.Rates.size(), static_cast<unsigned long long>(quiet)),
                "0 in cycles that post nothing", quiet == 0, TGoalKind::Fixed);
}

// ---- Latency ---------------------------------------------------------------------

void ReportLatency(std::vector<double> samples, const TFloor& floor, TBenchReport& report) {
    std::sort(samples.begin(), samples.end());
    const double p99 = Percentile(samples, 0.99);
    const double limit = LATENCY_GOAL_CYCLES * floor.CycleMs();
    report.Goal("latency",
                Format("median %.2f ms, p99 %.2f ms, max %.2f ms over %zu changes, from the "
                       "change in the simulator to its event on the window thread",
                       Percentile(samples, 0.5), p99, samples.back(), samples.size()),
                Format("p99 < two floor cycles, %.1f ms", limit), p99 < limit);
}

} // namespace

void BenchLink(const TLinkPlan& plan, TBenchReport& report) {
    const std::vector<pid_t> before = ThreadIds();
    TSimDevice device(BenchDeviceOptions());
    if (!device.Start())
        throw TBenchError("the simulator cannot listen on 127.0.0.1");
    const std::vector<pid_t> simulator = NewThreadIds(before, ThreadIds());
    if (simulator.size() != 1)
        throw TBenchError("cannot tell the simulator's serving thread");

    const TFloor floor = MeasureFloor(device.Port(), plan);
    ReportFloor(floor, plan, report);
    if (!device.WaitStation(false, CONNECT_WAIT))
        throw TBenchError("the simulator kept the raw connection");

    TLinkSession session;
    const TThreads threads{getpid(), simulator[0], session.Connect(device.Port())};
    RunEventLoopFor(WARM_UP_POLLING);
    const TPollRun run = MeasurePolling(device, session, threads, plan.PollSeconds);
    ReportRate(run, floor, report);
    ReportCpu(run, report);
    ReportAllocations(run, report);

    ReportLatency(MeasureChangeLatency(device, session.Link(), plan.Changes, CHANGE_PHASE_MS),
                  floor, report);
    session.Disconnect();
}
