#include "DeviceCheck.h"

#include "Checks.h"

namespace {

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

void JudgeChecks(const TDeviceStatus& status, TVerdict& verdict) {
    for (const TCheckKind& kind : CHECKS) {
        for (int input = INPUT_A; input <= INPUT_B; ++input) {
            if (!CheckFails(status, kind.Check, input))
                continue;
            const bool critical = input == OnAirInput(status);
            verdict.Add(critical ? TCheckStatus::Critical : TCheckStatus::Warning,
                        CheckLine(input, kind.Check, STATE_ERROR) +
                            (critical ? " (on the output)" : ""));
        }
    }
}

void JudgePower(const TDeviceStatus& status, TVerdict& verdict) {
    for (int unit = 1; unit <= 2; ++unit) {
        if (PsuMonitored(status, unit) && PsuState(status, unit) == STATE_ERROR)
            verdict.Add(TCheckStatus::Critical, PsuStateLine(unit, STATE_ERROR));
    }
}

// A temperature above the critical range is the station's overheat.
void JudgeTemperature(const TDeviceStatus& status, const TCheckLimits& limits, TVerdict& verdict) {
    if (!status.TempValid)
        return;
    const std::string finding = "temperature " + std::to_string(status.Temperature) + "C";
    if (limits.Critical.AlertsAbove(status.Temperature))
        verdict.Add(TCheckStatus::Critical, OverheatLine(status.Temperature));
    else if (limits.Critical.Alerts(status.Temperature))
        verdict.Add(TCheckStatus::Critical, finding);
    else if (limits.Warning.Alerts(status.Temperature))
        verdict.Add(TCheckStatus::Warning, finding);
}

void JudgeMode(const TDeviceStatus& status, const TCheckLimits& limits, TVerdict& verdict) {
    if (limits.ManualWarning && !status.AutoMode)
        verdict.Add(TCheckStatus::Warning, OutputLine(status.Output, false));
}

// One label=value;warn;crit;min;max item of performance data.
std::string Item(const std::string& label, const std::string& value, const std::string& limits,
                 const std::string& range) {
    return label + '=' + value + ';' + limits + ';' + range;
}

} // namespace

TCheckResult EvaluateDevice(const TDeviceStatus& status, const TCheckLimits& limits) {
    TVerdict verdict;
    JudgeChecks(status, verdict);
    JudgePower(status, verdict);
    JudgeTemperature(status, limits, verdict);
    JudgeMode(status, limits, verdict);
    const std::string temperature =
        status.TempValid ? ", " + std::to_string(status.Temperature) + "C" : "";
    return verdict.Result(PrintableDeviceText(status.DeviceName) + ": " +
                          OutputLine(status.Output, status.AutoMode) + temperature);
}

TCheckResult Unreachable(const std::string& reason) {
    return {TCheckStatus::Critical, "CRITICAL - " + reason};
}

std::string CheckPerformanceData(const TDeviceStatus& status, const TCheckLimits& limits,
                                 std::optional<std::uint32_t> cyclesPerSecond) {
    const std::string temperature = status.TempValid ? std::to_string(status.Temperature) : "U";
    const std::string cycles = cyclesPerSecond ? std::to_string(*cyclesPerSecond) : "U";
    return Item("temperature", temperature, limits.Warning.Text + ';' + limits.Critical.Text,
                "0;255") +
           ' ' + Item("psu1", std::to_string(status.Psu1State), ";", "0;3") + ' ' +
           Item("psu2", std::to_string(status.Psu2State), ";", "0;3") + ' ' +
           Item("output", std::to_string(status.Output), ";", "1;2") + ' ' +
           Item("auto", status.AutoMode ? "1" : "0", ";", "0;1") + ' ' +
           Item("cycles", cycles, ";", "0;");
}

std::string PluginLine(const TCheckResult& result, const std::string& performanceData) {
    return "SWITCH " + result.Summary + (performanceData.empty() ? "" : "|" + performanceData);
}
