// The rules on the checks a status record reports, and the journal's change lines.

#include "ChangeLines.h"
#include "ExampleStatus.h"
#include "StationText.h"

#include <gtest/gtest.h>

TEST(Checks, OutputFailsOnlyOnASwitchedOnCheckOfTheInputOnTheOutput) {
    TDeviceStatus s = ExampleStatus();
    EXPECT_FALSE(CheckFailsOnOutput(s));
    s.VideoSync[1] = STATE_ERROR; // input B, not on the output
    EXPECT_FALSE(CheckFailsOnOutput(s));
    s.VideoMotion[0] = STATE_ERROR; // motion is switched off
    EXPECT_FALSE(CheckFailsOnOutput(s));
    s.Output = INPUT_B;
    EXPECT_TRUE(CheckFailsOnOutput(s));
    s.DeviceName = "7712 AUDIO"; // no video analysis: video results do not count
    EXPECT_FALSE(CheckFailsOnOutput(s));
    s.AudioLeft[1] = STATE_ERROR; // audio counts while threshold is on
    EXPECT_TRUE(CheckFailsOnOutput(s));
    s.ThresholdControl = false;
    EXPECT_FALSE(CheckFailsOnOutput(s));
    s.AudioLevelControl = true; // or while audio DIF.LEVEL is
    EXPECT_TRUE(CheckFailsOnOutput(s));
}

TEST(ChangeLines, ChecksWriteOkAndErrorOfWhatTheDeviceAnalyses) {
    TDeviceStatus s = ExampleStatus();
    s.VideoMotion[1] = STATE_ERROR;
    EXPECT_EQ(CheckChangeLine(s, TCheck::Motion, INPUT_B), "[B] VIDEO MOTION: ERROR")
        << "switched off or not, a change is a change";
    EXPECT_EQ(CheckChangeLine(s, TCheck::AudioRight, INPUT_A), "[A] AUDIO DIF.LEVEL +THR (R): OK");
    for (int state : {STATE_OFF, STATE_NA}) {
        s.VideoSync[0] = state;
        EXPECT_EQ(CheckChangeLine(s, TCheck::Sync, INPUT_A), std::nullopt) << state;
    }
    s.DeviceName = "AUDIO SWITCH";
    EXPECT_EQ(CheckChangeLine(s, TCheck::Motion, INPUT_B), std::nullopt);
    EXPECT_EQ(CheckChangeLine(s, TCheck::AudioLeft, INPUT_B), "[B] AUDIO DIF.LEVEL +THR (L): OK");
}

TEST(ChangeLines, PowerSuppliesWriteTheirMonitoringAndOkAndError) {
    TDeviceStatus s = ExampleStatus();
    s.PsuMonitoring = 2;
    s.Psu1State = STATE_ERROR;
    s.Psu2State = STATE_NA;
    EXPECT_EQ(PsuMonitoringLines(s), (std::vector<std::string>{"POWER SUPPLY UNIT 1 COTROL: OFF",
                                                               "POWER SUPPLY UNIT 2 COTROL: ON"}));
    EXPECT_EQ(PsuStateChangeLine(s, 1), "POWER SUPPLY 1: ERROR") << "monitored or not";
    EXPECT_EQ(PsuStateChangeLine(s, 2), std::nullopt);
    EXPECT_EQ(OutputChangeLine(s), "[A] -> [OUT] AUTO");
    EXPECT_EQ(ModeChangeLine(s), "MODE AUTO");
    EXPECT_EQ(SettingChangeLine(s, TSettingSwitch::VideoLevel),
              "[SETTINGS] VIDEO DIF.LEVEL +THR CONTROL: ON");
}

TEST(ChangeLines, AnOverheatIsAnnouncedOnceEachTimeTheLimitIsReached) {
    TOverheatWatch watch;
    TDeviceStatus s = ExampleStatus();
    const auto at = [&](int celsius) {
        s.Temperature = celsius;
        return watch.Temperature(s);
    };
    EXPECT_EQ(at(69), std::nullopt);
    EXPECT_EQ(at(OVERHEAT_LIMIT), "OVERHEAT 70C");
    EXPECT_EQ(at(75), std::nullopt) << "still the same overheat";
    EXPECT_EQ(at(69), std::nullopt);
    EXPECT_EQ(at(72), "OVERHEAT 72C");
    watch.Reset();
    EXPECT_EQ(at(72), "OVERHEAT 72C") << "a new connection announces it again";
}
