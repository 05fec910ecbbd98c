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

void JudgePower(const TDeviceStatus& status, const TTemperatureLimits& limits, TVerdict& verdict) {
    for (int unit = 1; unit <= 2; ++unit) {
        if (PsuMonitored(status, unit) && PsuState(status, unit) == STATE_ERROR)
            verdict.Add(TCheckStatus::Critical, PsuStateLine(unit, STATE_ERROR));
    }
    if (!status.TempValid)
        return;
    if (status.Temperature >= limits.Critical)
        verdict.Add(TCheckStatus::Critical, OverheatLine(status.Temperature));
    else if (status.Temperature >= limits.Warning)
        verdict.Add(TCheckStatus::Warning,
                    "temperature " + std::to_string(status.Temperature) + "C");
}

// One label=value;warn;crit;min;max item of performance data.
std::string Item(const std::string& label, const std::string& value, const std::string& limits,
                 const std::string& range) {
    return label + '=' + value + ';' + limits + ';' + range;
}

} // namespace

TCheckResult EvaluateDevice(const TDeviceStatus& status, const TTemperatureLimits& limits) {
    TVerdict verdict;
    JudgeChecks(status, verdict);
    JudgePower(status, limits, verdict);
    const std::string temperature =
        status.TempValid ? ", " + std::to_string(status.Temperature) + "C" : "";
    return verdict.Result(PrintableDeviceText(status.DeviceName) + ": " +
                          OutputLine(status.Output, status.AutoMode) + temperature);
}

TCheckResult Unreachable(const std::string& reason) {
    return {TCheckStatus::Critical, "CRITICAL - " + reason};
}

std::string CheckPerformanceData(const TDeviceStatus& status, const TTemperatureLimits& limits,
                                 std::optional<std::uint32_t> cyclesPerSecond) {
    const std::string temperature = status.TempValid ? std::to_string(status.Temperature) : "U";
    const std::string cycles = cyclesPerSecond ? std::to_string(*cyclesPerSecond) : "U";
    return Item("temperature", temperature,
                std::to_string(limits.Warning) + ';' + std::to_string(limits.Critical), "0;255") +
           ' ' + Item("psu1", std::to_string(status.Psu1State), ";", "0;3") + ' ' +
           Item("psu2", std::to_string(status.Psu2State), ";", "0;3") + ' ' +
           Item("output", std::to_string(status.Output), ";", "1;2") + ' ' +
           Item("auto", status.AutoMode ? "1" : "0", ";", "0;1") + ' ' +
           Item("cycles", cycles, ";", "0;");
}

std::string PluginLine(const TCheckResult& result, const std::string& performanceData) {
    return "SWITCH " + result.Summary + (performanceData.empty() ? "" : "|" + performanceData);
}
