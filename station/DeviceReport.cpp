#include "DeviceReport.h"

#include "StationText.h"
#include "UnitThread.h"

#include <cstdio>

namespace {

using TCounter = int (TSwObject::*)(int) const;

struct TCounterKind {
    TCounter Count;
    const char* Label; // group word and counter label
};

const TCounterKind COUNTERS[] = {
    {&TSwObject::SyncCount, " VIDEO SYNC count: "},
    {&TSwObject::MotionCount, " VIDEO MOTION count: "},
    {&TSwObject::VideoLevelCount, " VIDEO DIF.LEVEL count: "},
    {&TSwObject::ThresholdLeftCount, " AUDIO THRESHOLD (L) count: "},
    {&TSwObject::ThresholdRightCount, " AUDIO THRESHOLD (R) count: "},
    {&TSwObject::AudioLevelLeftCount, " AUDIO DIF.LEVEL (L) count: "},
    {&TSwObject::AudioLevelRightCount, " AUDIO DIF.LEVEL (R) count: "},
};

class TReportWriter {
public:
    TReportWriter(const TSwObject& link, const TSettingsValues& fields, std::string decimalPoint)
        : fLink(link), fFields(fields), fDecimalPoint(std::move(decimalPoint)) {}

    std::vector<TReportLine> Write() {
        More("");
        fLines.push_back({TReportKind::Report, "Device state"});
        More("Name: " + PrintableDeviceText(fLink.DeviceName()));
        More("Address: " + fLink.Address());
        Power();
        More(OutputWord(fLink.Output()));
        More(ModeLine(fLink.AutoMode()));
        Video();
        Audio();
        More("RECOVERY CONTROL: " + SwitchWord(fFields.RecoveryControl));
        More("RECOVERY Time: " + Whole(fFields.RecoveryTime) + " s");
        More("");
        Counters();
        fLines.push_back({TReportKind::Add, "Control started"});
        return fLines;
    }

private:
    void More(const std::string& text) { fLines.push_back({TReportKind::More, text}); }

    std::string Tenths(double value) const {
        char text[64];
        std::snprintf(text, sizeof text, "%.1f", value);
        std::string result = text;
        const std::size_t point = result.find('.');
        if (point != std::string::npos)
            result.replace(point, 1, fDecimalPoint);
        return result;
    }

    static std::string Whole(double value) { return std::to_string(RoundHalfEven(value)); }

    void Power() {
        const int mask = fLink.PsuMonitoring();
        More(PsuControlLine(1, (mask & 1) != 0));
        More(PsuControlLine(2, (mask & 2) != 0));
        if ((mask & 1) != 0)
            More(PsuStateLine(1, fLink.Psu1State()));
        if ((mask & 2) != 0)
            More(PsuStateLine(2, fLink.Psu2State()));
        std::string temperature = "N/A";
        if (fLink.TempValid()) {
            temperature = std::to_string(fLink.Temperature()) + "C";
            if (fLink.Temperature() >= OVERHEAT_LIMIT)
                temperature += " OVERHEAT";
        }
        More("TEMPERATURE CONTROL: " + temperature);
    }

    void PerInput(TCheck check, int (TSwObject::*state)(int) const) {
        for (int input = INPUT_A; input <= INPUT_B; ++input)
            More(CheckLine(input, check, (fLink.*state)(input)));
    }

    void Video() {
        More("VIDEO SYNC CONTROL: " + SwitchWord(fFields.SyncControl));
        More("VIDEO SYNC Time: " + Tenths(fFields.SyncTime) + " s");
        if (fFields.SyncControl)
            PerInput(TCheck::Sync, &TSwObject::VideoSync);
        More("VIDEO MOTION CONTROL: " + SwitchWord(fFields.MotionControl));
        More("VIDEO MOTION Time: " + Tenths(fFields.MotionTime) + " s");
        if (fFields.MotionControl)
            PerInput(TCheck::Motion, &TSwObject::VideoMotion);
        More("VIDEO DIF.LEVEL CONTROL: " + SwitchWord(fFields.LevelControl));
        More("VIDEO DIF.LEVEL Value: " + Tenths(fFields.LevelValue) + " dB");
        More("VIDEO DIF.LEVEL Time: " + Tenths(fFields.LevelTime) + " s");
        if (fFields.LevelControl)
            PerInput(TCheck::VideoLevel, &TSwObject::VideoLevel);
    }

    void Audio() {
        More("AUDIO THRESHOLD CONTROL: " + SwitchWord(fFields.ThresholdControl));
        More("AUDIO THRESHOLD Value: " + Whole(fFields.ThresholdValue) + " dB");
        More("AUDIO THRESHOLD Time: " + Tenths(fFields.ThresholdTime) + " s");
        More("AUDIO DIF.LEVEL CONTROL: " + SwitchWord(fFields.AudioLevelControl));
        More("AUDIO DIF.LEVEL Value: " + Whole(fFields.AudioLevelValue) + " dB");
        More("AUDIO DIF.LEVEL Time: " + Tenths(fFields.AudioLevelTime) + " s");
        if (!fFields.ThresholdControl && !fFields.AudioLevelControl)
            return;
        for (int input = INPUT_A; input <= INPUT_B; ++input) {
            More(CheckLine(input, TCheck::AudioLeft, fLink.AudioLeft(input)));
            More(CheckLine(input, TCheck::AudioRight, fLink.AudioRight(input)));
        }
    }

    void Counters() {
        int sum = 0;
        for (const TCounterKind& kind : COUNTERS)
            sum += (fLink.*kind.Count)(INPUT_A) + (fLink.*kind.Count)(INPUT_B);
        if (sum == 0)
            return;
        More("Error control counters:");
        for (int input = INPUT_A; input <= INPUT_B; ++input) {
            for (const TCounterKind& kind : COUNTERS) {
                const int count = (fLink.*kind.Count)(input);
                if (count > 0)
                    More(InputWord(input) + kind.Label + std::to_string(count));
            }
        }
        More("");
    }

    const TSwObject& fLink;
    const TSettingsValues& fFields;
    std::string fDecimalPoint;
    std::vector<TReportLine> fLines;
};

} // namespace

std::vector<TReportLine> DeviceReport(const TSwObject& link, const TSettingsValues& fields,
                                      const std::string& decimalPoint) {
    return TReportWriter(link, fields, decimalPoint).Write();
}
