// Links driven by the event loop against simulated devices on loopback: the same events
// as a worker thread's link, replies that arrive in pieces or behind junk, time-outs from
// the loop's deadlines, stop requests, and no thread per link.

#include "EventRecorder.h"
#include "LinkLoop.h"
#include "QtWait.h"
#include "ShortLinkTiming.h"
#include "SimDevice.h"
#include "UnitThread.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::string>;

int ThreadCount() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("Threads:"))
            return std::stoi(line.substr(8));
    }
    return 0;
}

// A simulated device and a link to it, driven by loop or, without one, by a worker.
struct Watched {
    explicit Watched(TLinkLoop* loop)
        : Link(loop != nullptr ? std::make_unique<TSwObject>(*loop)
                               : std::make_unique<TSwObject>()) {}

    bool Start(const std::vector<std::string>& script = {}) {
        TSimOptions options;
        options.Port = 0;
        Device = std::make_unique<TSimDevice>(options);
        for (const std::string& line : script) {
            if (Device->Execute(line) != "")
                return false;
        }
        return Device->Start();
    }
    void Connect() { Link->Connect("127.0.0.1", Device->Port()); }
    bool WaitFor(const std::string& line, std::chrono::milliseconds timeout = 3s) {
        return PumpUntil([&] { return Contains(Events.Lines, line); }, timeout);
    }
    bool WaitForStop(std::chrono::milliseconds timeout = 3s) {
        return PumpUntil(
            [&] {
                return std::any_of(
                    Events.Lines.begin(), Events.Lines.end(),
                    [](const std::string& line) { return line.starts_with("Stop"); });
            },
            timeout);
    }

    std::unique_ptr<TSimDevice> Device;
    std::unique_ptr<TSwObject> Link;
    EventRecorder Events{*Link};
};

class LinkLoopTest : public testing::Test {
protected:
    TLinkLoop fLoop;
};

} // namespace

TEST_F(LinkLoopTest, TellsWhatAWorkerTellsOfTheSameDevice) {
    Watched byWorker(nullptr);
    Watched byLoop(&fLoop);
    ASSERT_TRUE(byWorker.Start({"mode manual"}));
    ASSERT_TRUE(byLoop.Start({"mode manual"}));
    byWorker.Connect();
    byLoop.Connect();
    ASSERT_TRUE(byWorker.WaitFor("Counters"));
    ASSERT_TRUE(byLoop.WaitFor("Counters"));
    EXPECT_TRUE(byLoop.Link->IsConnected());
    EXPECT_EQ(WithoutLinkStats(byLoop.Events.Lines), WithoutLinkStats(byWorker.Events.Lines));
    EXPECT_EQ(byLoop.Link->DeviceName(), byLoop.Device->State().Name);

    const std::size_t workerMark = byWorker.Events.Lines.size();
    const std::size_t loopMark = byLoop.Events.Lines.size();
    for (Watched* watched : {&byWorker, &byLoop}) {
        watched->Link->SelectInput(INPUT_B);
        watched->Link->SetPowerMonitoring(1);
    }
    ASSERT_TRUE(PumpUntil(
        [&] { return byWorker.Link->PsuMonitoring() == 1 && byLoop.Link->PsuMonitoring() == 1; },
        3s));
    PumpFor(100ms);
    EXPECT_EQ(WithoutLinkStats(byLoop.Events.Since(loopMark)),
              WithoutLinkStats(byWorker.Events.Since(workerMark)));
    EXPECT_EQ(byLoop.Link->Output(), INPUT_B);
    ASSERT_EQ(byLoop.Device->Execute("temp 55"), "");
    EXPECT_TRUE(PumpUntil([&] { return byLoop.Link->Temperature() == 55; }, 2s));

    byLoop.Link->Disconnect();
    EXPECT_FALSE(byLoop.Link->IsRunning());
    ASSERT_TRUE(byLoop.WaitFor("Stop 0"));
    EXPECT_TRUE(byLoop.Device->WaitStation(false, 1s));
}

TEST_F(LinkLoopTest, RepliesInPiecesAndEveryWayALinkEnds) {
    Watched pieces(&fLoop);
    ASSERT_TRUE(pieces.Start({"fault byte-by-byte 1"}));
    pieces.Connect();
    EXPECT_TRUE(pieces.WaitFor("Counters", 5s)) << "a reply that arrives a byte at a time";

    const std::vector<std::pair<std::string, Lines>> endings = {
        {"fault refuse on", {"Stop 1000"}},
        {"fault junk 40000", {"LinkStat 6 1", "LinkStat 6 2", "Stop 1002"}},
        {"fault bad-checksum on", {"LinkStat 6 1", "LinkStat 6 2", "LinkStat 6 3", "Stop 1002"}},
        {"fault wrong-header on", {"Stop 1002"}},
    };
    for (const auto& [fault, expected] : endings) {
        SCOPED_TRACE(fault);
        Watched failing(&fLoop);
        ASSERT_TRUE(failing.Start({fault}));
        failing.Connect();
        ASSERT_TRUE(failing.WaitForStop());
        EXPECT_EQ(failing.Events.Lines, expected);
        EXPECT_FALSE(failing.Link->IsRunning());
        EXPECT_EQ(failing.Link->LastError(), fault == "fault refuse on" ? 0 : SOCK_ERR_BAD_FRAME);
    }

    pieces.Events.Lines.clear();
    ASSERT_EQ(pieces.Device->Execute("drop"), "");
    ASSERT_TRUE(pieces.WaitForStop());
    EXPECT_EQ(pieces.Link->LastError(), SOCK_ERR_CONN_RESET);
    EXPECT_FALSE(pieces.Link->IsConnected());
}

TEST_F(LinkLoopTest, TimeOutsPausesAndStopRequestsKeepTheirTimes) {
    Watched silent(&fLoop);
    ASSERT_TRUE(silent.Start());
    silent.Link->SetTiming(SHORT_LINK_TIMING);
    silent.Connect();
    ASSERT_TRUE(silent.WaitFor("Counters"));
    const std::size_t mark = silent.Events.Lines.size();
    ASSERT_EQ(silent.Device->Execute("fault silent on"), "");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(silent.WaitForStop(4 * SHORT_LINK_TIMING.Timeout + 1s));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    Lines stopping;
    for (const std::string& line : silent.Events.Since(mark)) {
        if (!line.starts_with("LinkStat 1 "))
            stopping.push_back(line);
    }
    EXPECT_EQ(stopping,
              (Lines{"LinkStat 2 1", "LinkStat 2 2", "LinkStat 3 0", "LinkStat 2 3", "Stop 1003"}));
    EXPECT_EQ(silent.Link->LastError(), SOCK_ERR_TIMEOUT);
    EXPECT_GE(elapsed, 3 * SHORT_LINK_TIMING.Timeout);
    EXPECT_LT(elapsed, 4 * SHORT_LINK_TIMING.Timeout);

    Watched paced(&fLoop);
    ASSERT_TRUE(paced.Start());
    paced.Link->SetMinCyclePeriod(100ms);
    paced.Connect();
    ASSERT_TRUE(paced.WaitFor("LinkStat 1 10")) << "a 100 ms period gives 10 cycles a second";
    paced.Link->SetMinCyclePeriod(10s);
    paced.Link->Disconnect();
    paced.Connect();
    ASSERT_TRUE(paced.WaitFor("Counters"));
    const auto stopStart = std::chrono::steady_clock::now();
    paced.Link->Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, 500ms) << "the wait ends at once";
}

TEST_F(LinkLoopTest, LinksStopSideBySideWithoutAThreadEach) {
    std::vector<std::unique_ptr<Watched>> fleet;
    for (int i = 0; i < 6; ++i) {
        fleet.push_back(std::make_unique<Watched>(&fLoop));
        ASSERT_TRUE(fleet.back()->Start());
        fleet.back()->Link->SetTiming(SHORT_LINK_TIMING);
    }
    const int threads = ThreadCount();
    for (auto& watched : fleet)
        watched->Connect();
    for (auto& watched : fleet)
        ASSERT_TRUE(watched->WaitFor("Counters"));
    EXPECT_EQ(ThreadCount(), threads);

    ASSERT_EQ(fleet[0]->Device->Execute("fault silent on"), "");
    fleet[0]->Device->ClearReceived();
    ASSERT_TRUE(fleet[0]->Device->WaitReceived(1, 1s));
    const auto start = std::chrono::steady_clock::now();
    for (auto& watched : fleet)
        watched->Link->BeginDisconnect();
    for (auto& watched : fleet)
        watched->Link->Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - start,
              SHORT_LINK_TIMING.Timeout + SHORT_LINK_TIMING.RetryPause + 300ms);
    for (auto& watched : fleet)
        EXPECT_TRUE(watched->WaitFor("Stop 0", 1s));
}
