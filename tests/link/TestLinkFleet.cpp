// Several link objects in one process, each against a simulated device of its own: what
// one link's worker and handler do must never show in another's events, and a minimum
// cycle period paces a link without slowing its Disconnect.

#include "EventRecorder.h"
#include "QtWait.h"
#include "SimDevice.h"
#include "UnitThread.h"

#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

using Lines = std::vector<std::string>;

const Lines kSettingsEvents = {"SyncControl",    "SyncTime",          "MotionControl",
                               "MotionTime",     "VideoLevelControl", "VideoLevelValue",
                               "VideoLevelTime", "ThresholdControl",  "ThresholdValue",
                               "ThresholdTime",  "AudioLevelControl", "AudioLevelValue",
                               "AudioLevelTime", "RecoveryControl",   "RecoveryTime"};
const Lines kPowerEvents = {"PsuMonitoring", "Psu1State", "Psu2State", "TempValid", "Temperature"};

// Every event of a first pass, in order, for a device with a valid temperature.
Lines FirstPassEvents() {
    Lines lines = {"Connected 1",   "DeviceName",   "VideoSync 1",  "VideoSync 2", "VideoMotion 1",
                   "VideoMotion 2", "VideoLevel 1", "VideoLevel 2", "AudioLeft 1", "AudioRight 1",
                   "AudioLeft 2",   "AudioRight 2", "AutoMode",     "Output"};
    lines.insert(lines.end(), kSettingsEvents.begin(), kSettingsEvents.end());
    lines.insert(lines.end(), kPowerEvents.begin(), kPowerEvents.end());
    lines.emplace_back("Counters");
    return lines;
}

std::size_t CountOf(const Lines& lines, const std::string& line) {
    return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), line));
}

// One simulated device and the link that watches it.
struct Station {
    Station() {
        TSimOptions options;
        options.Port = 0;
        Device = std::make_unique<TSimDevice>(options);
    }

    void Connect() { Link.Connect("127.0.0.1", Device->Port()); }
    bool FirstPassDone() const { return Contains(Events.Lines, "Counters"); }

    std::unique_ptr<TSimDevice> Device;
    TSwObject Link;
    EventRecorder Events{Link};
};

class TwoLinksTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(fSlow.Device->Start());
        ASSERT_TRUE(fFast.Device->Start());
        // The slow device's first pass takes 250 ms, so the fast one's begins and ends
        // inside it, and every write to the slow device stays pending for a while.
        ASSERT_EQ(fSlow.Device->Execute("fault delay 50"), "");
        ASSERT_EQ(fSlow.Device->Execute("counters reset"), "");
    }

    Station fSlow;
    Station fFast;
};

TEST_F(TwoLinksTest, OverlappingFirstPassesEachFireEveryEvent) {
    fSlow.Connect();
    PumpFor(20ms);
    fFast.Connect();
    ASSERT_TRUE(PumpUntil([&] { return fFast.FirstPassDone(); }, 3s));
    EXPECT_FALSE(fSlow.FirstPassDone()) << "the fast pass must end inside the slow one";
    EXPECT_TRUE(fSlow.Link.FullRefresh) << "the slow link is still in its first pass";
    ASSERT_TRUE(PumpUntil([&] { return fSlow.FirstPassDone(); }, 3s));

    EXPECT_EQ(WithoutLinkStats(fSlow.Events.Lines), FirstPassEvents());
    EXPECT_EQ(WithoutLinkStats(fFast.Events.Lines), FirstPassEvents());
    EXPECT_FALSE(fSlow.Link.FullRefresh);
    EXPECT_FALSE(fFast.Link.FullRefresh);
}

TEST_F(TwoLinksTest, AWriteRefreshesOnlyItsOwnLinksGroup) {
    fSlow.Connect();
    fFast.Connect();
    ASSERT_TRUE(PumpUntil([&] { return fSlow.FirstPassDone() && fFast.FirstPassDone(); }, 3s));
    const std::size_t slowMark = fSlow.Events.Lines.size();
    const std::size_t fastMark = fFast.Events.Lines.size();

    // Each device is sent what it already holds, so only a written flag can fire events.
    TSettingsBlock block{};
    const auto settings = fSlow.Device->State().Settings;
    std::copy(settings.begin(), settings.end(), block.begin());
    fSlow.Link.WriteSettings(block);
    fFast.Link.SetPowerMonitoring(fFast.Link.PsuMonitoring());
    ASSERT_TRUE(PumpUntil(
        [&] {
            return CountOf(fSlow.Events.Since(slowMark), "RecoveryTime") == 1 &&
                   CountOf(fFast.Events.Since(fastMark), "Temperature") == 1 &&
                   !fSlow.Link.SettingsWritten && !fFast.Link.PowerWritten;
        },
        3s));
    PumpFor(300ms);

    EXPECT_EQ(WithoutLinkStats(fSlow.Events.Since(slowMark)), kSettingsEvents);
    EXPECT_EQ(WithoutLinkStats(fFast.Events.Since(fastMark)), kPowerEvents);
}

class CyclePeriodTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(fStation.Device->Start()); }

    // Times at which the device received the state request of each cycle.
    std::vector<std::chrono::steady_clock::time_point> StatePolls() const {
        std::vector<std::chrono::steady_clock::time_point> times;
        for (const TSimRecord& record : fStation.Device->Received()) {
            if (record.Payload.size() >= 4 && record.Payload[0] == 0x01 &&
                record.Payload[1] == 0x00 && record.Payload[3] == 0x06)
                times.push_back(record.Time);
        }
        return times;
    }

    Station fStation;
};

TEST_F(CyclePeriodTest, CyclesAreHeldToTheMinimumPeriod) {
    fStation.Link.SetMinCyclePeriod(100ms);
    fStation.Connect();
    ASSERT_TRUE(PumpUntil([&] { return fStation.FirstPassDone(); }, 3s));
    ASSERT_TRUE(PumpUntil([&] { return Contains(fStation.Events.Lines, "LinkStat 1 10"); }, 3s))
        << "a 100 ms period gives a rate of 10 cycles per second";

    // The first cycle also reads the identity, so its state request comes later in it.
    const auto polls = StatePolls();
    ASSERT_GE(polls.size(), 10U);
    const auto span = polls.back() - polls[1];
    EXPECT_GE(span / (polls.size() - 2), 99ms);
    for (std::size_t i = 2; i < polls.size(); ++i)
        EXPECT_GE(polls[i] - polls[i - 1], 80ms) << "between cycle " << i << " and the next";
}

TEST_F(CyclePeriodTest, WithoutAPeriodCyclesFollowAtOnce) {
    fStation.Connect();
    ASSERT_TRUE(PumpUntil([&] { return fStation.FirstPassDone(); }, 3s));
    PumpFor(300ms);
    // The station's own cycle takes a few milliseconds; even a slow, busy machine makes far
    // more than the three cycles a 100 ms period would allow.
    EXPECT_GE(StatePolls().size(), 6U);
}

TEST_F(CyclePeriodTest, DisconnectEndsTheWaitBetweenCycles) {
    fStation.Link.SetMinCyclePeriod(10s);
    fStation.Connect();
    ASSERT_TRUE(PumpUntil([&] { return fStation.FirstPassDone(); }, 3s));

    const auto start = std::chrono::steady_clock::now();
    fStation.Link.Disconnect();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
    ASSERT_TRUE(PumpUntil([&] { return Contains(fStation.Events.Lines, "Stop 0"); }, 1s));
}

TEST_F(CyclePeriodTest, APeriodSetWhileConnectedWaitsForTheNextConnect) {
    fStation.Connect();
    ASSERT_TRUE(PumpUntil([&] { return fStation.FirstPassDone(); }, 3s));
    fStation.Link.SetMinCyclePeriod(10s);
    fStation.Device->ClearReceived();
    PumpFor(200ms);
    EXPECT_GE(StatePolls().size(), 4U) << "the new period waits for the next Connect";

    fStation.Link.Disconnect();
    fStation.Link.Connect("127.0.0.1", fStation.Device->Port());
    ASSERT_TRUE(fStation.Device->WaitConnections(2, 3s));
    fStation.Device->ClearReceived();
    PumpFor(300ms);
    EXPECT_LE(StatePolls().size(), 1U);
}

} // namespace
