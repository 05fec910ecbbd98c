// The link object against the simulated device on loopback: connection, polling,
// commands, link statistics and every way a connection ends.

#include "DeviceProtocol.h"
#include "EventRecorder.h"
#include "FrameScan.h"
#include "QtWait.h"
#include "ShortLinkTiming.h"
#include "SimDevice.h"
#include "UnitThread.h"

#include <QCoreApplication>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::string>;
using Bytes = std::vector<std::uint8_t>;

class LinkWorkerTest : public testing::Test {
protected:
    void SetUp() override {
        TSimOptions options;
        options.Port = 0;
        fDevice = std::make_unique<TSimDevice>(options);
        ASSERT_TRUE(fDevice->Start());
    }

    void Run(const std::string& command) { ASSERT_EQ(fDevice->Execute(command), ""); }

    // Waits for line among the events recorded from index from on.
    bool WaitFor(const std::string& line, std::chrono::milliseconds timeout = 3s,
                 std::size_t from = 0) {
        return PumpUntil(
            [&] {
                const Lines since = fEvents.Since(std::min(from, fEvents.Lines.size()));
                return std::find(since.begin(), since.end(), line) != since.end();
            },
            timeout);
    }

    void ConnectAndFinishFirstPass() {
        fLink.Connect("127.0.0.1", fDevice->Port());
        ASSERT_TRUE(WaitFor("Counters")) << "first pass did not complete";
    }

    int StopCode() const {
        for (const std::string& line : fEvents.Lines) {
            if (line.starts_with("Stop "))
                return std::stoi(line.substr(5));
        }
        return -1;
    }

    bool WaitForStop(std::chrono::milliseconds timeout) {
        return PumpUntil([&] { return StopCode() >= 0; }, timeout);
    }

    // Payloads the station sent, oldest first.
    std::vector<Bytes> Sent() const {
        std::vector<Bytes> payloads;
        for (const TSimRecord& record : fDevice->Received())
            payloads.emplace_back(record.Payload.begin(), record.Payload.end());
        return payloads;
    }

    std::unique_ptr<TSimDevice> fDevice;
    TSwObject fLink;
    EventRecorder fEvents{fLink};
};

bool IsWrite(const Bytes& payload) {
    return payload.size() > 3 && payload[3] == 0x05;
}

// Records what a link's worker hands its tap, one line a call: "group 2 01 00 10 06 ...",
// "command 1 done 01 00 10 70 01 05", "ended 1002".
class RecordingTap : public TLinkTap {
public:
    void GroupRead(int group, const std::uint8_t* reply, int length) override {
        Add("group " + std::to_string(group) + " " + HexText({reply, reply + length}));
    }
    void CommandEnded(const TCommand& command, TCommandEnd end, const std::uint8_t* reply,
                      int length) override {
        const char* const ends[] = {"done", "refused", "failed"};
        Add("command " + std::to_string(command.Code) + " " + ends[static_cast<int>(end)] + " " +
            HexText({reply, reply + length}));
    }
    void LinkEnded(int stopCode) override { Add("ended " + std::to_string(stopCode)); }

    Lines Calls() const {
        const std::lock_guard lock(fLock);
        return fCalls;
    }
    // Waits for a call that starts with text; the calls up to and including it.
    // The calls up to the first that starts with text; the link goes on polling meanwhile,
    // so calls after it are left out.
    Lines WaitFor(const std::string& text) const {
        Lines calls;
        const auto match = [&](const std::string& call) { return call.starts_with(text); };
        PumpUntil(
            [&] {
                calls = Calls();
                return std::any_of(calls.begin(), calls.end(), match);
            },
            3s);
        const auto found = std::find_if(calls.begin(), calls.end(), match);
        calls.erase(found == calls.end() ? found : found + 1, calls.end());
        return calls;
    }

private:
    void Add(std::string call) {
        const std::lock_guard lock(fLock);
        fCalls.push_back(std::move(call));
    }

    mutable std::mutex fLock;
    Lines fCalls;
};

} // namespace

TEST_F(LinkWorkerTest, FirstPassReadsEveryGroupAndFiresEveryEventOnce) {
    ConnectAndFinishFirstPass();
    EXPECT_TRUE(fLink.IsConnected());

    Lines expected = {"Connected 1",   "DeviceName",    "VideoSync 1",  "VideoSync 2",
                      "VideoMotion 1", "VideoMotion 2", "VideoLevel 1", "VideoLevel 2",
                      "AudioLeft 1",   "AudioRight 1",  "AudioLeft 2",  "AudioRight 2",
                      "AutoMode",      "Output"};
    for (const char* field :
         {"SyncControl",       "SyncTime",        "MotionControl",     "MotionTime",
          "VideoLevelControl", "VideoLevelValue", "VideoLevelTime",    "ThresholdControl",
          "ThresholdValue",    "ThresholdTime",   "AudioLevelControl", "AudioLevelValue",
          "AudioLevelTime",    "RecoveryControl", "RecoveryTime",      "PsuMonitoring",
          "Psu1State",         "Psu2State",       "TempValid",         "Temperature",
          "Counters"})
        expected.emplace_back(field);
    Lines firstPass;
    for (const std::string& line : fEvents.Lines) {
        if (!line.starts_with("LinkStat"))
            firstPass.push_back(line);
    }
    EXPECT_EQ(firstPass, expected);

    ASSERT_TRUE(fDevice->WaitReceived(9, 1s));
    const std::vector<Bytes> sent = Sent();
    EXPECT_EQ(sent[0], (Bytes{0x00, 0x00, 0x80, 0x01, 0x00})) << "identity first";
    EXPECT_EQ(sent[4], (Bytes{0x01, 0x02, 0x80, 0x06, 0x00})) << "counters last";
    EXPECT_EQ(sent[5], (Bytes{0x01, 0x00, 0x80, 0x06, 0x00})) << "later cycles skip identity";
    EXPECT_EQ(fLink.DeviceName(), fDevice->State().Name);
}

TEST_F(LinkWorkerTest, LaterChangesFireOnlyTheirOwnEvents) {
    Run("mode manual");
    ConnectAndFinishFirstPass();
    const std::size_t mark = fEvents.Lines.size();

    Run("check B motion error");
    ASSERT_TRUE(WaitFor("VideoMotion 2", 3s, mark));
    Run("temp 71");
    ASSERT_TRUE(WaitFor("Temperature", 3s, mark));
    PumpFor(50ms);

    Lines changes;
    for (const std::string& line : fEvents.Since(mark)) {
        if (!line.starts_with("LinkStat"))
            changes.push_back(line);
    }
    EXPECT_EQ(changes, (Lines{"VideoMotion 2", "Temperature"}));
    EXPECT_EQ(fLink.VideoMotion(INPUT_B), STATE_ERROR);
    EXPECT_EQ(fLink.Temperature(), 71);
    EXPECT_EQ(fLink.SyncCount(INPUT_B), 0) << "counters are read on the first pass only";
}

TEST_F(LinkWorkerTest, CommandsGoOutOnePerCycleInTheOrderPosted) {
    ConnectAndFinishFirstPass();
    fDevice->ClearReceived();
    fLink.SelectInput(INPUT_B);
    fLink.SetAutoMode();
    fLink.SetPowerMonitoring(1);
    ASSERT_TRUE(fDevice->WaitUntil(
        [](const std::vector<TSimRecord>& records) {
            return std::count_if(records.begin(), records.end(), [](const TSimRecord& r) {
                       return IsWrite(Bytes(r.Payload.begin(), r.Payload.end()));
                   }) == 3;
        },
        2s));

    const std::vector<Bytes> sent = Sent();
    std::vector<std::size_t> writes;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        if (IsWrite(sent[i]))
            writes.push_back(i);
    }
    ASSERT_EQ(writes.size(), 3U);
    EXPECT_EQ(sent[writes[0]], (Bytes{0x01, 0x00, 0x80, 0x05, 0x03, 0x01, 0x01, 0x02}));
    EXPECT_EQ(sent[writes[1]], (Bytes{0x01, 0x00, 0x80, 0x05, 0x01, 0x02}));
    EXPECT_EQ(sent[writes[2]], (Bytes{0x01, 0x03, 0x80, 0x05, 0x02, 0x01, 0x01}));
    EXPECT_EQ(writes[1] - writes[0], 5U) << "one cycle of four polls between two writes";
    EXPECT_EQ(writes[2] - writes[1], 5U);

    ASSERT_TRUE(PumpUntil([&] { return fLink.PsuMonitoring() == 1; }, 2s));
    EXPECT_TRUE(fLink.AutoMode());
    EXPECT_EQ(fDevice->State().PowerMask, 1);
}

TEST_F(LinkWorkerTest, ATapSeesEveryReplyAndHowEachCommandEnded) {
    auto tap = std::make_shared<RecordingTap>();
    fLink.SetTap(tap);
    ConnectAndFinishFirstPass();
    const Lines first = tap->Calls();
    ASSERT_GE(first.size(), 5U);
    EXPECT_EQ(first[0].rfind("group 1 FF FF 10 01 11 37 37 31 30", 0), 0U) << first[0];
    for (int group = 2; group <= 5; ++group)
        EXPECT_EQ(first[group - 1].rfind("group " + std::to_string(group) + " ", 0), 0U);

    fLink.SelectInput(INPUT_B);
    Lines calls = tap->WaitFor("command 1");
    ASSERT_GE(calls.size(), 2U);
    EXPECT_EQ(calls.back(), "command 1 done 01 00 10 70 01 05");
    EXPECT_EQ(calls[calls.size() - 2].rfind("group 2 01 00 10 06 09 01", 0), 0U)
        << "done once the state was read again, which shows input B";

    Run("fault wrong-ack on");
    fLink.SetAutoMode();
    calls = tap->WaitFor("ended");
    ASSERT_GE(calls.size(), 2U);
    EXPECT_EQ(calls[calls.size() - 2], "command 2 refused 01 00 10 70 01 04");
    EXPECT_EQ(calls.back(), "ended 1002");
    ASSERT_TRUE(WaitForStop(2s));
    EXPECT_EQ(StopCode(), STOP_READ_FAILED) << "the station's own stop, tap or not";
}

TEST_F(LinkWorkerTest, SettingsWriteRefreshesEverySettingsField) {
    ConnectAndFinishFirstPass();
    const std::size_t mark = fEvents.Lines.size();
    const TSettingsBlock block = {0x01, 0x13, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0x14, 0x00, 0x01,
                                  0x15, 0x03, 0x00, 0x00, 0x05, 0x01, 0x00, 0x01, 0x78, 0x00};
    fLink.WriteSettings(block);
    ASSERT_TRUE(PumpUntil(
        [&] {
            const Lines since = fEvents.Since(mark);
            return std::count(since.begin(), since.end(), "RecoveryTime") >= 1 &&
                   !fLink.SettingsWritten;
        },
        2s));

    const Lines since = fEvents.Since(mark);
    EXPECT_GE(std::count(since.begin(), since.end(), "SyncControl"), 1)
        << "fired although the device may already have held these values";
    Bytes expected = {0x01, 0x01, 0x80, 0x05, 0x16, 0x01};
    expected.insert(expected.end(), block.begin(), block.end());
    const std::vector<Bytes> sent = Sent();
    EXPECT_NE(std::find(sent.begin(), sent.end(), expected), sent.end());
    EXPECT_EQ(fLink.Status().RecoveryTime, 0x78);
    EXPECT_EQ(fLink.Status().ThresholdValue, 0x15);
}

TEST_F(LinkWorkerTest, CommandsAreDroppedUnlessConnected) {
    fLink.SelectInput(INPUT_B);
    fLink.SetAutoMode();
    ConnectAndFinishFirstPass();
    PumpFor(100ms);
    for (const Bytes& payload : Sent())
        EXPECT_FALSE(IsWrite(payload));
}

TEST_F(LinkWorkerTest, ConnectWhileRunningChangesNothing) {
    ConnectAndFinishFirstPass();
    fLink.Connect("127.0.0.2", 1);
    EXPECT_EQ(fLink.Address(), "127.0.0.1");
    EXPECT_EQ(fLink.Port(), fDevice->Port());
    EXPECT_TRUE(fLink.IsConnected());

    fLink.Disconnect();
    EXPECT_FALSE(fLink.IsRunning());
    ASSERT_TRUE(WaitForStop(1s));
    EXPECT_EQ(StopCode(), STOP_BY_REQUEST);
    EXPECT_EQ(fLink.LastError(), 0);
}

TEST_F(LinkWorkerTest, DisconnectRightAfterConnectNeverHangs) {
    for (int i = 0; i < 20; ++i) {
        fLink.Connect("127.0.0.1", fDevice->Port());
        const auto start = std::chrono::steady_clock::now();
        fLink.Disconnect();
        // At worst the connect in progress runs out its own time limit first.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
        EXPECT_FALSE(fLink.IsRunning());
    }
}

TEST_F(LinkWorkerTest, RefusedConnectStopsWithConnectFailed) {
    Run("fault refuse on");
    fLink.Connect("127.0.0.1", fDevice->Port());
    ASSERT_TRUE(WaitForStop(2s));
    EXPECT_EQ(fEvents.Lines, Lines{"Stop 1000"});
    EXPECT_FALSE(fLink.IsRunning());
}

TEST_F(LinkWorkerTest, WrongRepliesStopAtOnceAsBadFrames) {
    for (const char* fault :
         {"fault wrong-header on", "fault extra-byte on", "fault wrong-group on"}) {
        SCOPED_TRACE(fault);
        fEvents.Lines.clear();
        Run("fault none");
        Run(fault);
        fLink.Connect("127.0.0.1", fDevice->Port());
        ASSERT_TRUE(WaitForStop(2s));
        EXPECT_EQ(fEvents.Lines, Lines{"Stop 1002"}) << "no retry and no statistics";
        EXPECT_EQ(fLink.LastError(), SOCK_ERR_BAD_FRAME);
        EXPECT_EQ(fDevice->Received().size(), 1U);
        fDevice->ClearReceived();
    }
}

TEST_F(LinkWorkerTest, ARepliedWrongGroupStopsTheLinkAndLeavesTheStatusAsItWas) {
    ConnectAndFinishFirstPass();
    const TDeviceStatus before = fLink.Status();
    const std::size_t mark = fEvents.Lines.size();
    Run("fault wrong-group on");
    ASSERT_TRUE(WaitForStop(2s));

    Lines stopping;
    for (const std::string& line : fEvents.Since(mark)) {
        if (!line.starts_with("LinkStat 1 "))
            stopping.push_back(line);
    }
    EXPECT_EQ(stopping, Lines{"Stop 1002"});
    EXPECT_EQ(fLink.LastError(), SOCK_ERR_BAD_FRAME);
    const TDeviceStatus& after = fLink.Status();
    EXPECT_EQ(after.DeviceName, before.DeviceName);
    EXPECT_EQ(after.Output, before.Output);
    EXPECT_EQ(after.VideoSync[0], before.VideoSync[0]);
    EXPECT_EQ(after.SyncTime, before.SyncTime);
    EXPECT_EQ(after.Temperature, before.Temperature);
    EXPECT_EQ(after.SyncCount[0], before.SyncCount[0]);
}

// More than a receive buffer of junk before every reply: the first read fills up and
// fails, the retry finds the reply behind the junk, and the next group's read meets the
// stale reply to the retried request, which stops the link.
TEST_F(LinkWorkerTest, JunkBeforeEveryReplyStopsTheLinkBeforeAnythingIsDecoded) {
    Run("fault junk 40000");
    fLink.Connect("127.0.0.1", fDevice->Port());
    ASSERT_TRUE(WaitForStop(3s));
    EXPECT_EQ(fEvents.Lines, (Lines{"LinkStat 6 1", "LinkStat 6 2", "Stop 1002"}));
    EXPECT_EQ(fLink.LastError(), SOCK_ERR_BAD_FRAME);
    EXPECT_EQ(fLink.DeviceName(), "");
}

TEST_F(LinkWorkerTest, BadChecksumsAreRetriedThenStopAsReadFailures) {
    Run("fault bad-checksum on");
    fLink.Connect("127.0.0.1", fDevice->Port());
    ASSERT_TRUE(WaitForStop(3s));
    EXPECT_EQ(fEvents.Lines, (Lines{"LinkStat 6 1", "LinkStat 6 2", "LinkStat 6 3", "Stop 1002"}));
    EXPECT_EQ(fLink.LastError(), SOCK_ERR_BAD_FRAME);
    EXPECT_EQ(fDevice->Received().size(), 3U) << "the same request three times";
}

TEST_F(LinkWorkerTest, ClosedConnectionReportsABrokenLink) {
    ConnectAndFinishFirstPass();
    Run("drop");
    ASSERT_TRUE(WaitForStop(2s));
    EXPECT_TRUE(StopCode() == STOP_READ_FAILED || StopCode() == STOP_WRITE_FAILED);
    EXPECT_EQ(fLink.LastError(), SOCK_ERR_CONN_RESET);
    EXPECT_FALSE(fLink.IsConnected());
}

TEST_F(LinkWorkerTest, SilentDeviceTimesOutThreeTimesWithOneWarning) {
    const TLinkTiming timing = SHORT_LINK_TIMING;
    fLink.SetTiming(timing);
    ConnectAndFinishFirstPass();
    const std::size_t mark = fEvents.Lines.size();
    Run("fault silent on");
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitForStop(4 * timing.Timeout + 1s));
    const auto elapsed = std::chrono::steady_clock::now() - start;

    Lines stopping;
    for (const std::string& line : fEvents.Since(mark)) {
        if (!line.starts_with("LinkStat 1 "))
            stopping.push_back(line);
    }
    EXPECT_EQ(stopping,
              (Lines{"LinkStat 2 1", "LinkStat 2 2", "LinkStat 3 0", "LinkStat 2 3", "Stop 1003"}));
    EXPECT_EQ(fLink.LastError(), SOCK_ERR_TIMEOUT);
    EXPECT_GE(elapsed, 3 * timing.Timeout);
    EXPECT_LT(elapsed, 4 * timing.Timeout) << "three time-outs and two pauses, nothing more";
}

TEST_F(LinkWorkerTest, DisconnectDuringARetryEndsAsRequested) {
    fLink.SetTiming(SHORT_LINK_TIMING);
    ConnectAndFinishFirstPass();
    Run("fault silent on");
    ASSERT_TRUE(WaitFor("LinkStat 2 1", 2s));
    const auto start = std::chrono::steady_clock::now();
    fLink.Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - start, SHORT_LINK_TIMING.Timeout + 500ms);
    ASSERT_TRUE(WaitForStop(1s));
    EXPECT_EQ(StopCode(), STOP_BY_REQUEST);
}
