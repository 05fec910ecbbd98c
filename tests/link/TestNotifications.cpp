#include "EventRecorder.h"
#include "Notification.h"
#include "UnitThread.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

class NotificationTest : public testing::Test {
protected:
    void SetUp() override {
        fLink.FullRefresh = true;
        fLink.SettingsWritten = false;
        fLink.PowerWritten = false;
    }

    void Deliver(int group, std::initializer_list<std::uint8_t> payload) {
        TSwNotification notification(WM_SW_GROUP + group, 0);
        std::copy(payload.begin(), payload.end(), notification.Payload.begin());
        fLink.HandleNotification(notification);
    }

    // One first pass: the five groups in order, as the worker posts them after a connect.
    void FirstPass() {
        Deliver(GROUP_IDENTITY, {'7', '7', '1', '0', '/', '1', '2'});
        Deliver(GROUP_STATE, kState);
        Deliver(GROUP_SETTINGS, kSettings);
        Deliver(GROUP_POWER, {3, 1, 1, 1, 45});
        Deliver(GROUP_COUNTERS, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14});
    }

    static constexpr std::initializer_list<std::uint8_t> kState = {0x02, 0, 0,    0x55, 0x55,
                                                                   0,    0, 0x05, 0x05};
    static constexpr std::initializer_list<std::uint8_t> kSettings = {
        0x01, 0x13, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0x14, 0x00, 0x01,
        0x15, 0x03, 0x00, 0x00, 0x05, 0x01, 0x00, 0x01, 0x78, 0x00};

    TSwObject fLink;
    EventRecorder fEvents{fLink};
};

const Lines kSettingsEvents = {"SyncControl",    "SyncTime",          "MotionControl",
                               "MotionTime",     "VideoLevelControl", "VideoLevelValue",
                               "VideoLevelTime", "ThresholdControl",  "ThresholdValue",
                               "ThresholdTime",  "AudioLevelControl", "AudioLevelValue",
                               "AudioLevelTime", "RecoveryControl",   "RecoveryTime"};

} // namespace

TEST_F(NotificationTest, FirstPassFiresEveryEventInOrderAndDecodesEveryField) {
    FirstPass();

    Lines expected = {"DeviceName",    "VideoSync 1",  "VideoSync 2",  "VideoMotion 1",
                      "VideoMotion 2", "VideoLevel 1", "VideoLevel 2", "AudioLeft 1",
                      "AudioRight 1",  "AudioLeft 2",  "AudioRight 2", "AutoMode",
                      "Output"};
    expected.insert(expected.end(), kSettingsEvents.begin(), kSettingsEvents.end());
    expected.insert(expected.end(), {"PsuMonitoring", "Psu1State", "Psu2State", "TempValid",
                                     "Temperature", "Counters"});
    EXPECT_EQ(fEvents.Lines, expected);
    EXPECT_FALSE(fLink.FullRefresh);

    EXPECT_EQ(fLink.DeviceName(), "7710/12");
    EXPECT_EQ(fLink.Output(), INPUT_A);
    EXPECT_TRUE(fLink.AutoMode());
    EXPECT_EQ(fLink.VideoSync(1), STATE_OK);
    EXPECT_EQ(fLink.VideoMotion(2), STATE_OK);
    EXPECT_EQ(fLink.VideoLevel(1), STATE_OK);
    EXPECT_EQ(fLink.AudioRight(2), STATE_OK);
    EXPECT_EQ(fLink.Temperature(), 45);
    const TDeviceStatus& s = fLink.Status();
    EXPECT_TRUE(s.SyncControl);
    EXPECT_EQ(s.SyncTime, 0x13);
    EXPECT_EQ(s.VideoLevelValue, 4);
    EXPECT_EQ(s.VideoLevelTime, 0x14);
    EXPECT_EQ(s.ThresholdValue, 0x15);
    EXPECT_EQ(s.RecoveryTime, 0x78);
    EXPECT_EQ(fLink.SyncCount(1), 1);
    EXPECT_EQ(fLink.AudioLevelRightCount(2), 14);
    EXPECT_EQ(fLink.SyncCount(3), 0) << "inputs other than 1 and 2 read as 0";
}

TEST_F(NotificationTest, LaterPassesFireOnlyChangedFields) {
    FirstPass();
    const std::size_t mark = fEvents.Lines.size();

    Deliver(GROUP_STATE, {0x02, 0, 0, 0x65, 0x55, 0, 0, 0x05, 0x05}); // P[3] bits 4-5 only
    EXPECT_EQ(fEvents.Since(mark), Lines{"VideoMotion 1"});
    EXPECT_EQ(fLink.VideoMotion(1), STATE_ERROR);

    Deliver(GROUP_STATE, {0x01, 0xFF, 0xFF, 0x65, 0x55, 0xFF, 0xFF, 0x05, 0x05});
    EXPECT_EQ(fEvents.Since(mark + 1), (Lines{"AutoMode", "Output"})) << "unused bytes ignored";
    EXPECT_EQ(fLink.Output(), INPUT_B);
    EXPECT_FALSE(fLink.AutoMode());

    Deliver(GROUP_COUNTERS, {9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9, 9});
    EXPECT_EQ(fEvents.Lines.size(), mark + 3) << "counters are taken on the first pass only";
    EXPECT_EQ(fLink.SyncCount(1), 1);
}

TEST_F(NotificationTest, TemperatureWithoutValidReadingIsKeptSilently) {
    FirstPass();
    const std::size_t mark = fEvents.Lines.size();
    Deliver(GROUP_POWER, {3, 1, 1, 0, 45});
    Deliver(GROUP_POWER, {3, 1, 1, 0, 80});
    EXPECT_EQ(fEvents.Since(mark), Lines{"TempValid"});
    EXPECT_EQ(fLink.Temperature(), 80);
}

TEST_F(NotificationTest, WrittenFlagsForceEveryEventOfTheirGroupOnce) {
    FirstPass();
    const std::size_t mark = fEvents.Lines.size();

    fLink.SettingsWritten = true;
    Deliver(GROUP_SETTINGS, kSettings);
    EXPECT_EQ(fEvents.Since(mark), kSettingsEvents);
    EXPECT_FALSE(fLink.SettingsWritten);
    Deliver(GROUP_SETTINGS, kSettings);
    EXPECT_EQ(fEvents.Lines.size(), mark + kSettingsEvents.size());

    fLink.PowerWritten = true;
    Deliver(GROUP_POWER, {3, 1, 1, 1, 45});
    EXPECT_EQ(fEvents.Since(mark + kSettingsEvents.size()),
              (Lines{"PsuMonitoring", "Psu1State", "Psu2State", "TempValid", "Temperature"}));
    EXPECT_FALSE(fLink.PowerWritten);
}

TEST_F(NotificationTest, HandlersSeeTheirOwnFieldNewAndLaterFieldsOld) {
    int outputSeenByAutoMode = -1;
    fLink.OnAutoMode = {};
    fLink.OnAutoMode.Listen([&](TSwObject* sender) { outputSeenByAutoMode = sender->Output(); });
    fLink.OnOutput = {};
    FirstPass();
    EXPECT_EQ(outputSeenByAutoMode, 0) << "Output is stored after AutoMode fires";
    EXPECT_EQ(fLink.Output(), INPUT_A) << "an empty slot still stores its field";
}

TEST_F(NotificationTest, EveryListenerOfAnEventRunsInTheOrderAdded) {
    fLink.OnOutput.Listen([this](TSwObject*) { fEvents.Lines.emplace_back("Output again"); });
    FirstPass();
    const auto output = std::find(fEvents.Lines.begin(), fEvents.Lines.end(), "Output");
    ASSERT_NE(output, fEvents.Lines.end());
    ASSERT_NE(output + 1, fEvents.Lines.end());
    EXPECT_EQ(output[1], "Output again");
}

TEST_F(NotificationTest, ConnectionStopAndLinkStatisticsPassStraightThrough) {
    fLink.HandleNotification(TSwNotification(WM_SW_CONNECTED, 1));
    fLink.HandleNotification(TSwNotification(WM_SW_LINKSTAT, LINK_TIMEOUTS, 5));
    fLink.HandleNotification(TSwNotification(WM_SW_LINKSTAT, LINK_READ_WARNING, 0));
    fLink.HandleNotification(TSwNotification(WM_SW_STOPPED, STOP_TIMEOUT));
    fLink.HandleNotification(TSwNotification(4242, 1));
    EXPECT_EQ(fEvents.Lines, (Lines{"Connected 1", "LinkStat 2 5", "LinkStat 3 0", "Stop 1003"}));
}
