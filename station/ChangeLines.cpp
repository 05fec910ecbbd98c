#include "ChangeLines.h"

#include "StationText.h"

#include <memory>

namespace {

// What the journal keeps between events to choose its lines.
struct TWatchState {
    const TSwObject* Link = nullptr;
    std::function<void(const std::string&)> Sink;
    TOverheatWatch Overheat;

    void Change(const std::optional<std::string>& line) const {
        if (line && !Link->FullRefresh)
            Sink(*line);
    }
};

using TState = std::shared_ptr<TWatchState>;

void WireStatusLines(TSwObject& link, const TState& state) {
    link.OnOutput.Listen([state](TSwObject* l) { state->Change(OutputChangeLine(l->Status())); });
    link.OnAutoMode.Listen([state](TSwObject* l) { state->Change(ModeChangeLine(l->Status())); });
    for (const TCheckKind& kind : CHECKS) {
        (link.*kind.Event).Listen([state, check = kind.Check](TSwObject* l, int input) {
            state->Change(CheckChangeLine(l->Status(), check, input));
        });
    }
    link.OnPsuMonitoring.Listen([state](TSwObject* l) {
        for (const std::string& line : PsuMonitoringLines(l->Status()))
            state->Change(line);
    });
    link.OnPsu1State.Listen(
        [state](TSwObject* l) { state->Change(PsuStateChangeLine(l->Status(), 1)); });
    link.OnPsu2State.Listen(
        [state](TSwObject* l) { state->Change(PsuStateChangeLine(l->Status(), 2)); });
    link.OnTemperature.Listen(
        [state](TSwObject* l) { state->Change(state->Overheat.Temperature(l->Status())); });
}

void WireSettingLines(TSwObject& link, const TState& state) {
    for (const TSwitchKind& kind : SWITCHES) {
        (link.*kind.Event).Listen([state, which = kind.Which](TSwObject* l) {
            state->Change(SettingChangeLine(l->Status(), which));
        });
    }
}

} // namespace

std::string OutputChangeLine(const TDeviceStatus& status) {
    return OutputLine(status.Output, status.AutoMode);
}

std::string ModeChangeLine(const TDeviceStatus& status) {
    return ModeLine(status.AutoMode);
}

std::optional<std::string> CheckChangeLine(const TDeviceStatus& status, TCheck check, int input) {
    const int state = CheckState(status, input, check);
    if (!CheckAnalysed(status, check) || !StateIsWorthALine(state))
        return std::nullopt;
    return CheckLine(input, check, state);
}

std::vector<std::string> PsuMonitoringLines(const TDeviceStatus& status) {
    return {PsuControlLine(1, PsuMonitored(status, 1)), PsuControlLine(2, PsuMonitored(status, 2))};
}

std::optional<std::string> PsuStateChangeLine(const TDeviceStatus& status, int unit) {
    const int state = PsuState(status, unit);
    if (!StateIsWorthALine(state))
        return std::nullopt;
    return PsuStateLine(unit, state);
}

std::string SettingChangeLine(const TDeviceStatus& status, TSettingSwitch which) {
    return SettingSwitchLine(which, SwitchSetting(status, which));
}

std::optional<std::string> TOverheatWatch::Temperature(const TDeviceStatus& status) {
    const bool over = IsOverheat(status.Temperature);
    const bool announce = over && !fOver;
    fOver = over;
    if (!announce)
        return std::nullopt;
    return OverheatLine(status.Temperature);
}

void WireChangeLines(TSwObject& link, std::function<void(const std::string&)> sink) {
    auto state = std::make_shared<TWatchState>();
    state->Link = &link;
    state->Sink = std::move(sink);
    WireStatusLines(link, state);
    WireSettingLines(link, state);
}
