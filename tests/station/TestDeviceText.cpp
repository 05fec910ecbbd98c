// What the station computes and says without a window: the settings conversions, the
// device report and the monitoring verdict.

#include "DeviceCheck.h"
#include "DeviceReport.h"
#include "ExampleStatus.h"
#include "SettingsFields.h"
#include "UnitThread.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;

const TSettingsBlock EXAMPLE_BLOCK = {0x01, 0x13, 0x00, 0x00, 0x00, 0x00, 0x01,
                                      0x04, 0x14, 0x00, 0x01, 0x15, 0x03, 0x00,
                                      0x00, 0x05, 0x01, 0x00, 0x01, 0x78, 0x00};

Lines ReportTexts(const TDeviceStatus& s, const std::string& decimalPoint = ".") {
    Lines texts;
    for (const TReportLine& line :
         DeviceReport(s, "127.0.0.1", SettingsFromStatus(s), decimalPoint))
        texts.push_back(line.Text);
    return texts;
}

} // namespace

TEST(SettingsFields, TheExampleSettingsMakeTheExampleBlockAndBack) {
    TSettingsValues v;
    v.SyncControl = true;
    v.SyncTime = 1.9;
    v.MotionTime = 0;
    v.LevelControl = true;
    v.LevelValue = 3.5;
    v.LevelTime = 2.0;
    v.ThresholdControl = true;
    v.ThresholdValue = -40;
    v.ThresholdTime = 1.5;
    v.AudioLevelValue = 6;
    v.AudioLevelTime = 0.5;
    v.RecoveryControl = true;
    v.RecoveryTime = 120;
    EXPECT_EQ(BuildSettingsBlock(v), EXAMPLE_BLOCK);
    EXPECT_EQ(BuildSettingsBlock(SettingsFromStatus(ExampleStatus())), EXAMPLE_BLOCK)
        << "a block built from a status record carries the device's own values";
}

TEST(SettingsFields, ConversionsRoundHalvesToEvenAndRespectTheFieldLimits) {
    using F = TSettingField;
    EXPECT_EQ(FieldToRaw(F::LevelValue, 2.3), 2) << "between two steps";
    EXPECT_EQ(FieldToRaw(F::LevelValue, 2.25), 2) << "1.5 rounds to 2";
    EXPECT_EQ(FieldToRaw(F::ThresholdTime, 0.25), 0) << "0.5 rounds to 0";
    EXPECT_EQ(FieldToRaw(F::ThresholdTime, 0.75), 2) << "1.5 rounds to 2";
    EXPECT_EQ(FieldToRaw(F::ThresholdValue, 20), 81);
    EXPECT_EQ(FieldToRaw(F::ThresholdValue, -60), 1);
    EXPECT_EQ(FieldFromRaw(F::ThresholdValue, 0), -60) << "limited to the field's minimum";
    EXPECT_EQ(FieldFromRaw(F::SyncTime, 1200), 99.9);
    EXPECT_EQ(FieldFromRaw(F::AudioLevelValue, 5), 6);
    for (F field : {F::SyncTime, F::LevelValue, F::ThresholdValue, F::ThresholdTime,
                    F::AudioLevelValue, F::RecoveryTime}) {
        const TSpinEditSpec& range = FieldSpec(field);
        for (int raw = FieldToRaw(field, range.Min); raw <= FieldToRaw(field, range.Max); ++raw)
            ASSERT_EQ(FieldToRaw(field, FieldFromRaw(field, raw)), raw)
                << static_cast<int>(field) << " raw " << raw;
    }
}

TEST(DeviceReport, KnownStateReadsLineByLine) {
    TDeviceStatus s = ExampleStatus();
    s.VideoMotion[1] = STATE_ERROR;
    s.AudioLeft[0] = STATE_ERROR;
    s.PsuMonitoring = 2;
    s.Psu1State = s.Psu2State = STATE_ERROR;
    s.Temperature = 70;
    s.MotionCount[1] = 3;
    s.AudioLevelRightCount[1] = 1;
    const std::vector<TReportLine> report =
        DeviceReport(s, "127.0.0.1", SettingsFromStatus(s), ",");

    const Lines expected = {"",
                            "Device state",
                            "Name: 7710/12",
                            "Address: 127.0.0.1",
                            "POWER SUPPLY UNIT 1 COTROL: OFF",
                            "POWER SUPPLY UNIT 2 COTROL: ON",
                            "POWER SUPPLY 2: ERROR",
                            "TEMPERATURE CONTROL: 70C OVERHEAT",
                            "[A] -> [OUT]",
                            "MODE AUTO",
                            "VIDEO SYNC CONTROL: ON",
                            "VIDEO SYNC Time: 1,9 s",
                            "[A] VIDEO SYNC: OK",
                            "[B] VIDEO SYNC: OK",
                            "VIDEO MOTION CONTROL: OFF",
                            "VIDEO MOTION Time: 0,0 s",
                            "VIDEO DIF.LEVEL CONTROL: ON",
                            "VIDEO DIF.LEVEL Value: 3,5 dB",
                            "VIDEO DIF.LEVEL Time: 2,0 s",
                            "[A] VIDEO DIF.LEVEL: OK",
                            "[B] VIDEO DIF.LEVEL: OK",
                            "AUDIO THRESHOLD CONTROL: ON",
                            "AUDIO THRESHOLD Value: -40 dB",
                            "AUDIO THRESHOLD Time: 1,5 s",
                            "AUDIO DIF.LEVEL CONTROL: OFF",
                            "AUDIO DIF.LEVEL Value: 6 dB",
                            "AUDIO DIF.LEVEL Time: 0,5 s",
                            "[A] AUDIO DIF.LEVEL +THR (L): ERROR",
                            "[A] AUDIO DIF.LEVEL +THR (R): OK",
                            "[B] AUDIO DIF.LEVEL +THR (L): OK",
                            "[B] AUDIO DIF.LEVEL +THR (R): OK",
                            "RECOVERY CONTROL: ON",
                            "RECOVERY Time: 120 s",
                            "",
                            "Error control counters:",
                            "[B] VIDEO MOTION count: 3",
                            "[B] AUDIO DIF.LEVEL (R) count: 1",
                            "",
                            "Control started"};
    Lines texts;
    for (const TReportLine& line : report)
        texts.push_back(line.Text);
    EXPECT_EQ(texts, expected);
    EXPECT_EQ(report[1].Kind, TReportKind::Report);
    EXPECT_EQ(report.back().Kind, TReportKind::Add);
    EXPECT_EQ(report[2].Kind, TReportKind::More);
}

TEST(DeviceReport, SectionsFollowTheSwitchesAndCounters) {
    TDeviceStatus s = ExampleStatus();
    s.SyncControl = false;
    s.MotionControl = true;
    s.ThresholdControl = false;
    s.AudioLevelControl = true;
    s.ThresholdValue = 0;
    s.Output = INPUT_B;
    s.PsuMonitoring = 1;
    s.Psu2State = STATE_ERROR;
    s.TempValid = false;
    const Lines texts = ReportTexts(s);
    const auto has = [&texts](const std::string& line) {
        return std::find(texts.begin(), texts.end(), line) != texts.end();
    };
    EXPECT_FALSE(has("[A] VIDEO SYNC: OK"));
    EXPECT_TRUE(has("[B] VIDEO MOTION: OK"));
    EXPECT_TRUE(has("[B] AUDIO DIF.LEVEL +THR (R): OK")) << "audio level alone brings them";
    EXPECT_TRUE(has("AUDIO THRESHOLD Value: -60 dB")) << "the field's minimum, not -61";
    EXPECT_TRUE(has("TEMPERATURE CONTROL: N/A"));
    EXPECT_TRUE(has("POWER SUPPLY 1: OK"));
    EXPECT_FALSE(has("POWER SUPPLY 2: ERROR")) << "unit 2 is not monitored";
    EXPECT_TRUE(has("[B] -> [OUT]"));
    EXPECT_FALSE(has("Error control counters:"));
    ASSERT_GE(texts.size(), 2U);
    EXPECT_EQ(texts[texts.size() - 2], "");
}

TEST(DeviceCheck, VerdictDependsOnWhichInputIsOnTheOutput) {
    TDeviceStatus s = ExampleStatus();
    s.VideoSync[1] = STATE_ERROR; // B sync ERROR, A on air
    EXPECT_EQ(EvaluateDevice(s).Status, TCheckStatus::Warning);
    s.Output = INPUT_B;
    const TCheckResult critical = EvaluateDevice(s);
    EXPECT_EQ(critical.Status, TCheckStatus::Critical);
    EXPECT_EQ(critical.Summary, "CRITICAL - [B] VIDEO SYNC: ERROR (on the output)");
    s.VideoSync[1] = STATE_OK;
    s.VideoMotion[1] = STATE_ERROR; // switched off
    EXPECT_EQ(EvaluateDevice(s).Status, TCheckStatus::Ok);
    s.PsuMonitoring = 1;
    s.Psu2State = STATE_ERROR; // not monitored
    EXPECT_EQ(EvaluateDevice(s).Status, TCheckStatus::Ok);
    s.PsuMonitoring = 3;
    EXPECT_EQ(EvaluateDevice(s).Status, TCheckStatus::Critical);
    s.Psu2State = STATE_OK;
    s.Temperature = 70;
    EXPECT_EQ(EvaluateDevice(s).Summary, "CRITICAL - OVERHEAT 70C");
}

TEST(DeviceReport, ControlCharactersOfTheNameCannotMakeALineOfTheirOwn) {
    const TDeviceStatus s = ExampleStatus("\r\nOVERHEAT 99C");
    const Lines texts = ReportTexts(s);
    ASSERT_GE(texts.size(), 3U);
    EXPECT_EQ(texts[2], "Name: \\x0d\\x0aOVERHEAT 99C");
    EXPECT_EQ(EvaluateDevice(s).Summary.find('\n'), std::string::npos);
}

TEST(DeviceCheck, DevicesWithoutVideoAnalysisAreJudgedOnAudioOnly) {
    TDeviceStatus s = ExampleStatus("AUDIO SWITCH");
    s.VideoSync[0] = STATE_ERROR;
    EXPECT_EQ(EvaluateDevice(s).Status, TCheckStatus::Ok);
    s.AudioLeft[0] = STATE_ERROR;
    EXPECT_EQ(EvaluateDevice(s).Status, TCheckStatus::Critical);
}

TCheckLimits Limits(const char* warning, const char* critical) {
    return {*ParseThresholdRange(warning), *ParseThresholdRange(critical)};
}

TEST(DeviceCheck, TemperatureRangesAndManualModeGiveWarningOrCritical) {
    TDeviceStatus s = ExampleStatus();
    const TCheckLimits limits = Limits("40", "10:50");
    for (const auto& [celsius, summary] : {std::pair{40, "OK - 7710/12: [A] -> [OUT] AUTO, 40C"},
                                           {41, "WARNING - temperature 41C"},
                                           {50, "WARNING - temperature 50C"},
                                           {51, "CRITICAL - OVERHEAT 51C"},
                                           {9, "CRITICAL - temperature 9C"}}) {
        s.Temperature = celsius;
        EXPECT_EQ(EvaluateDevice(s, limits).Summary, summary) << celsius;
    }
    s.TempValid = false;
    s.Temperature = 99;
    EXPECT_EQ(EvaluateDevice(s, limits).Status, TCheckStatus::Ok) << "no reading";

    s.AutoMode = false;
    EXPECT_EQ(EvaluateDevice(s, limits).Status, TCheckStatus::Ok);
    TCheckLimits manual = limits;
    manual.ManualWarning = true;
    EXPECT_EQ(EvaluateDevice(s, manual).Summary, "WARNING - [A] -> [OUT] MANUAL");
}

TEST(DeviceCheck, PluginLineCarriesThePerformanceDataAfterABar) {
    TDeviceStatus s = ExampleStatus();
    s.Output = INPUT_B;
    s.PsuMonitoring = 2;
    s.Psu2State = STATE_ERROR;
    s.Temperature = 45;
    const TCheckLimits limits = Limits("40", "50");
    const std::string data = CheckPerformanceData(s, limits, 165U);
    EXPECT_EQ(data, "temperature=45;40;50;0;255 psu1=1;;;0;3 psu2=2;;;0;3 output=2;;;1;2 "
                    "auto=1;;;0;1 cycles=165;;;0;");
    EXPECT_EQ(PluginLine(EvaluateDevice(s, limits), data),
              "SWITCH CRITICAL - POWER SUPPLY 2: ERROR, temperature 45C|" + data);
    s.TempValid = false;
    EXPECT_EQ(CheckPerformanceData(s, limits, std::nullopt),
              "temperature=U;40;50;0;255 psu1=1;;;0;3 psu2=2;;;0;3 output=2;;;1;2 "
              "auto=1;;;0;1 cycles=U;;;0;");
    EXPECT_EQ(PluginLine(Unreachable("timeout after 10 s"), ""),
              "SWITCH CRITICAL - timeout after 10 s");
}
