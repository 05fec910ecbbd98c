#include "DeviceReport.h"

#include "Checks.h"
#include "StationText.h"

#include <cstdio>

namespace {

class TReportWriter {
public:
    TReportWriter(const TDeviceStatus& status, const std::string& address,
                  const TSettingsValues& fields, std::string decimalPoint)
        : fStatus(status), fAddress(address), fFields(fields),
          fDecimalPoint(std::move(decimalPoint)) {}

    std::vector<TReportLine> Write() {
        More("");
        fLines.push_back({TReportKind::Report, "Device state"});
        More("Name: " + PrintableDeviceText(fStatus.DeviceName));
        More("Address: " + fAddress);
        Power();
        More(OutputWord(fStatus.Output));
        More(ModeLine(fStatus.AutoMode));
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
        More(PsuControlLine(1, PsuMonitored(fStatus, 1)));
        More(PsuControlLine(2, PsuMonitored(fStatus, 2)));
        for (int unit = 1; unit <= 2; ++unit) {
            if (PsuMonitored(fStatus, unit))
                More(PsuStateLine(unit, PsuState(fStatus, unit)));
        }
        std::string temperature = "N/A";
        if (fStatus.TempValid) {
            temperature = std::to_string(fStatus.Temperature) + "C";
            if (IsOverheat(fStatus.Temperature))
                temperature += " OVERHEAT";
        }
        More("TEMPERATURE CONTROL: " + temperature);
    }

    void PerInput(TCheck check) {
        for (int input = INPUT_A; input <= INPUT_B; ++input)
            More(CheckLine(input, check, CheckState(fStatus, input, check)));
    }

    void Video() {
        More("VIDEO SYNC CONTROL: " + SwitchWord(fFields.SyncControl));
        More("VIDEO SYNC Time: " + Tenths(fFields.SyncTime) + " s");
        if (fFields.SyncControl)
            PerInput(TCheck::Sync);
        More("VIDEO MOTION CONTROL: " + SwitchWord(fFields.MotionControl));
        More("VIDEO MOTION Time: " + Tenths(fFields.MotionTime) + " s");
        if (fFields.MotionControl)
            PerInput(TCheck::Motion);
        More("VIDEO DIF.LEVEL CONTROL: " + SwitchWord(fFields.LevelControl));
        More("VIDEO DIF.LEVEL Value: " + Tenths(fFields.LevelValue) + " dB");
        More("VIDEO DIF.LEVEL Time: " + Tenths(fFields.LevelTime) + " s");
        if (fFields.LevelControl)
            PerInput(TCheck::VideoLevel);
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
            More(
                CheckLine(input, TCheck::AudioLeft, CheckState(fStatus, input, TCheck::AudioLeft)));
            More(CheckLine(input, TCheck::AudioRight,
                           CheckState(fStatus, input, TCheck::AudioRight)));
        }
    }

    void Counters() {
        int sum = 0;
        for (const TCounterKind& kind : COUNTERS)
            sum += (fStatus.*kind.Counts)[0] + (fStatus.*kind.Counts)[1];
        if (sum == 0)
            return;
        More("Error control counters:");
        for (int input = INPUT_A; input <= INPUT_B; ++input) {
            for (const TCounterKind& kind : COUNTERS) {
                const int count = OfInput(fStatus.*kind.Counts, input);
                if (count > 0)
                    More(InputWord(input) + " " + kind.ReportName +
                         " count: " + std::to_string(count));
            }
        }
        More("");
    }

    const TDeviceStatus& fStatus;
    const std::string& fAddress;
    const TSettingsValues& fFields;
    std::string fDecimalPoint;
    std::vector<TReportLine> fLines;
};

} // namespace

std::vector<TReportLine> DeviceReport(const TDeviceStatus& status, const std::string& address,
                                      const TSettingsValues& fields,
                                      const std::string& decimalPoint) {
    return TReportWriter(status, address, fields, decimalPoint).Write();
}
