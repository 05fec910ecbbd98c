#include "DeviceCheck.h"

#include "StationText.h"
#include "UnitThread.h"

#include <vector>

namespace {

struct TWatchedCheck {
    TCheck Check;
    int (TSwObject::*State)(int) const;
};

// The watched checks: video ones only on devices that analyse video.
std::vector<TWatchedCheck> WatchedChecks(const TSwObject& link) {
    std::vector<TWatchedCheck> checks;
    if (AnalysesVideo(link.DeviceName())) {
        checks.push_back({TCheck::Sync, &TSwObject::VideoSync});
        checks.push_back({TCheck::Motion, &TSwObject::VideoMotion});
        checks.push_back({TCheck::VideoLevel, &TSwObject::VideoLevel});
    }
    checks.push_back({TCheck::AudioLeft, &TSwObject::AudioLeft});
    checks.push_back({TCheck::AudioRight, &TSwObject::AudioRight});
    return checks;
}

class TVerdict {
public:
    void Add(TCheckStatus status, const std::string& finding) {
        if (static_cast<int>(status) > static_cast<int>(fStatus))
            fStatus = status;
        fFindings += (fFindings.empty() ? "" : ", ") + finding;
    }

    TCheckResult Result(const std::string& okText) const {
        static const char* const words[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};
        const std::string word = words[static_cast<int>(fStatus)];
        return {fStatus, word + " - " + (fFindings.empty() ? okText : fFindings)};
    }

private:
    TCheckStatus fStatus = TCheckStatus::Ok;
    std::string fFindings;
};

void JudgeChecks(const TSwObject& link, TVerdict& verdict) {
    const int onAir = link.Output() == INPUT_B ? INPUT_B : INPUT_A;
    for (const TWatchedCheck& watched : WatchedChecks(link)) {
        if (!CheckSwitchedOn(link.Status(), watched.Check))
            continue;
        for (int input = INPUT_A; input <= INPUT_B; ++input) {
            if ((link.*watched.State)(input) != STATE_ERROR)
                continue;
            const bool critical = input == onAir;
            verdict.Add(critical ? TCheckStatus::Critical : TCheckStatus::Warning,
                        CheckLine(input, watched.Check, STATE_ERROR) +
                            (critical ? " (on the output)" : ""));
        }
    }
}

void JudgePower(const TSwObject& link, TVerdict& verdict) {
    const int states[] = {link.Psu1State(), link.Psu2State()};
    for (int unit = 1; unit <= 2; ++unit) {
        if ((link.PsuMonitoring() & unit) != 0 && states[unit - 1] == STATE_ERROR)
            verdict.Add(TCheckStatus::Critical, PsuStateLine(unit, STATE_ERROR));
    }
}

// A temperature above the critical range is the station's overheat.
void JudgeTemperature(const TSwObject& link, const TCheckLimits& limits, TVerdict& verdict) {
    if (!link.TempValid())
        return;
    const int temperature = link.Temperature();
    const std::string finding = "temperature " + std::to_string(temperature) + "C";
    if (limits.Critical.AlertsAbove(temperature))
        verdict.Add(TCheckStatus::Critical, OverheatLine(temperature));
    else if (limits.Critical.Alerts(temperature))
        verdict.Add(TCheckStatus::Critical, finding);
    else if (limits.Warning.Alerts(temperature))
        verdict.Add(TCheckStatus::Warning, finding);
}

void JudgeMode(const TSwObject& link, const TCheckLimits& limits, TVerdict& verdict) {
    if (limits.ManualWarning && !link.AutoMode())
        verdict.Add(TCheckStatus::Warning, OutputLine(link.Output(), false));
}

// One label=value;warn;crit;min;max item of performance data.
std::string Item(const std::string& label, const std::string& value, const std::string& limits,
                 const std::string& range) {
    return label + '=' + value + ';' + limits + ';' + range;
}

} // namespace

bool AnalysesVideo(const std::string& deviceName) {
    return deviceName.find("7710") != std::string::npos;
}

bool CheckSwitchedOn(const TDeviceStatus& s, TCheck check) {
    switch (check) {
    case TCheck::Sync:
        return s.SyncControl;
    case TCheck::Motion:
        return s.MotionControl;
    case TCheck::VideoLevel:
        return s.VideoLevelControl;
    case TCheck::AudioLeft:
    case TCheck::AudioRight:
        return s.ThresholdControl || s.AudioLevelControl;
    }
    return false;
}

TCheckResult EvaluateDevice(const TSwObject& link, const TCheckLimits& limits) {
    TVerdict verdict;
    JudgeChecks(link, verdict);
    JudgePower(link, verdict);
    JudgeTemperature(link, limits, verdict);
    JudgeMode(link, limits, verdict);
    const std::string temperature =
        link.TempValid() ? ", " + std::to_string(link.Temperature()) + "C" : "";
    return verdict.Result(PrintableDeviceText(link.DeviceName()) + ": " +
                          OutputLine(link.Output(), link.AutoMode()) + temperature);
}

TCheckResult Unreachable(const std::string& reason) {
    return {TCheckStatus::Critical, "CRITICAL - " + reason};
}

std::string CheckPerformanceData(const TSwObject& link, const TCheckLimits& limits,
                                 std::optional<std::uint32_t> cyclesPerSecond) {
    const std::string temperature = link.TempValid() ? std::to_string(link.Temperature()) : "U";
    const std::string cycles = cyclesPerSecond ? std::to_string(*cyclesPerSecond) : "U";
    return Item("temperature", temperature, limits.Warning.Text + ';' + limits.Critical.Text,
                "0;255") +
           ' ' + Item("psu1", std::to_string(link.Psu1State()), ";", "0;3") + ' ' +
           Item("psu2", std::to_string(link.Psu2State()), ";", "0;3") + ' ' +
           Item("output", std::to_string(link.Output()), ";", "1;2") + ' ' +
           Item("auto", link.AutoMode() ? "1" : "0", ";", "0;1") + ' ' +
           Item("cycles", cycles, ";", "0;");
}

std::string PluginLine(const TCheckResult& result, const std::string& performanceData) {
    return "SWITCH " + result.Summary + (performanceData.empty() ? "" : "|" + performanceData);
}
