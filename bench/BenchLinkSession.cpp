#include "BenchLinkSession.h"

#include "BenchReport.h"
#include "ProcessStat.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <random>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr auto CONNECT_WAIT = 5s;
constexpr auto CHANGE_WAIT = 2s;

} // namespace

// ---- Event loop ------------------------------------------------------------------

void RunEventLoopFor(Clock::duration span) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(span), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

bool Await(const std::function<bool()>& done, Clock::duration timeout) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

TSimOptions BenchDeviceOptions() {
    TSimOptions options;
    options.Port = 0;
    // Changes of a check must not change the device over to the other input.
    options.Scene.State.AutoMode = false;
    return options;
}

// ---- Link ------------------------------------------------------------------------

TLinkSession::TLinkSession() {
    fLink.OnCounters.Listen([this](TSwObject*) { fFirstPass = true; });
    fLink.OnStop.Listen([this](TSwObject*, int code) { fStopCode = code; });
    fLink.OnLinkStat.Listen([this](TSwObject*, std::uint32_t value, int kind) {
        if (kind == LINK_RATE)
            fRates.push_back(value);
    });
}

pid_t TLinkSession::Connect(int port) {
    const std::vector<pid_t> before = ThreadIds();
    fLink.Connect("127.0.0.1", port);
    if (!Await([this] { return fFirstPass || fStopCode >= 0; }, CONNECT_WAIT))
        throw TBenchError("the link did not finish its first pass");
    CheckRunning();
    const std::vector<pid_t> added = NewThreadIds(before, ThreadIds());
    if (added.size() != 1)
        throw TBenchError(Format("%zu new threads; expected the worker alone", added.size()));
    return added[0];
}

void TLinkSession::CheckRunning() const {
    if (fStopCode >= 0)
        throw TBenchError(
            Format("the link stopped with code %d, last error %d", fStopCode, fLink.LastError()));
}

void TLinkSession::Disconnect() {
    CheckRunning();
    fLink.Disconnect();
    if (!Await([this] { return fStopCode >= 0; }, CONNECT_WAIT) || fStopCode != STOP_BY_REQUEST)
        throw TBenchError(Format("the link did not stop on request (code %d)", fStopCode));
}

// ---- Latency ---------------------------------------------------------------------

std::vector<double> MeasureChangeLatency(TSimDevice& device, TSwObject& link, int changes,
                                         int phaseMs) {
    std::vector<double> samples;
    samples.reserve(static_cast<std::size_t>(changes));
    std::mt19937 random(7710);
    std::uniform_int_distribution<int> phase(0, phaseMs);
    QEventLoop loop;
    QTimer next;
    next.setSingleShot(true);
    next.setTimerType(Qt::PreciseTimer);
    QTimer guard;
    guard.setSingleShot(true);
    bool error = false;
    Clock::time_point changed;
    QObject::connect(&next, &QTimer::timeout, [&] {
        error = !error;
        changed = Clock::now();
        device.Execute(error ? "check A sync error" : "check A sync ok");
        guard.start(CHANGE_WAIT);
    });
    QObject::connect(&guard, &QTimer::timeout, [&loop] { loop.exit(1); });
    link.OnVideoSync.Listen([&](TSwObject*, int input) {
        if (input != INPUT_A || !guard.isActive())
            return;
        samples.push_back(Milliseconds(Clock::now() - changed));
        guard.stop();
        if (static_cast<int>(samples.size()) == changes)
            loop.exit(0);
        else
            next.start(phase(random));
    });
    next.start(0);
    const int result = loop.exec();
    link.OnVideoSync = {}; // its one listener refers to what ends here
    if (result != 0)
        throw TBenchError("a change in the simulator fired no event within 2 s");
    return samples;
}
