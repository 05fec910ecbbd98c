#include "ChangeLines.h"

#include "SettingsFields.h"
#include "StationText.h"
#include "UnitThread.h"

#include <memory>

namespace {

// What the window keeps between events to choose its lines.
struct TWatchState {
    const TSwObject* Link = nullptr;
    std::function<void(const std::string&)> Sink;
    bool Overheat = false;

    void Change(const std::string& line) const {
        if (!Link->FullRefresh)
            Sink(line);
    }
};

using TState = std::shared_ptr<TWatchState>;

bool HasVideo(const TSwObject& link) {
    return link.DeviceName().find("7710") != std::string::npos;
}

TSwObject::TInputEvent CheckEvent(const TState& state, TCheck check,
                                  int (TSwObject::*value)(int) const, bool video) {
    return [state, check, value, video](TSwObject* link, int input) {
        const int code = (link->*value)(input);
        if ((!video || HasVideo(*link)) && StateIsWorthALine(code))
            state->Change(CheckLine(input, check, code));
    };
}

void WireStatusLines(TSwObject& link, const TState& state) {
    link.OnOutput.Listen(
        [state](TSwObject* l) { state->Change(OutputLine(l->Output(), l->AutoMode())); });
    link.OnAutoMode.Listen([state](TSwObject* l) { state->Change(ModeLine(l->AutoMode())); });
    link.OnVideoSync.Listen(CheckEvent(state, TCheck::Sync, &TSwObject::VideoSync, true));
    link.OnVideoMotion.Listen(CheckEvent(state, TCheck::Motion, &TSwObject::VideoMotion, true));
    link.OnVideoLevel.Listen(CheckEvent(state, TCheck::VideoLevel, &TSwObject::VideoLevel, true));
    link.OnAudioLeft.Listen(CheckEvent(state, TCheck::AudioLeft, &TSwObject::AudioLeft, false));
    link.OnAudioRight.Listen(CheckEvent(state, TCheck::AudioRight, &TSwObject::AudioRight, false));
    link.OnPsuMonitoring.Listen([state](TSwObject* l) {
        state->Change(PsuControlLine(1, (l->PsuMonitoring() & 1) != 0));
        state->Change(PsuControlLine(2, (l->PsuMonitoring() & 2) != 0));
    });
    link.OnPsu1State.Listen([state](TSwObject* l) {
        if (StateIsWorthALine(l->Psu1State()))
            state->Change(PsuStateLine(1, l->Psu1State()));
    });
    link.OnPsu2State.Listen([state](TSwObject* l) {
        if (StateIsWorthALine(l->Psu2State()))
            state->Change(PsuStateLine(2, l->Psu2State()));
    });
    link.OnTemperature.Listen([state](TSwObject* l) {
        const bool over = l->Temperature() >= OVERHEAT_LIMIT;
        if (over && !state->Overheat)
            state->Change(OverheatLine(l->Temperature()));
        state->Overheat = over;
    });
}

TSwObject::TNotifyEvent SwitchEvent(const TState& state, TSettingSwitch which) {
    return [state, which](TSwObject* l) {
        state->Change(SettingSwitchLine(which, SwitchSetting(l->Status(), which)));
    };
}

void WireSettingLines(TSwObject& link, const TState& state) {
    link.OnSyncControl.Listen(SwitchEvent(state, TSettingSwitch::Sync));
    link.OnMotionControl.Listen(SwitchEvent(state, TSettingSwitch::Motion));
    link.OnVideoLevelControl.Listen(SwitchEvent(state, TSettingSwitch::VideoLevel));
    link.OnThresholdControl.Listen(SwitchEvent(state, TSettingSwitch::Threshold));
    link.OnAudioLevelControl.Listen(SwitchEvent(state, TSettingSwitch::AudioLevel));
    link.OnRecoveryControl.Listen(SwitchEvent(state, TSettingSwitch::Recovery));
}

} // namespace

void WireChangeLines(TSwObject& link, std::function<void(const std::string&)> sink) {
    auto state = std::make_shared<TWatchState>();
    state->Link = &link;
    state->Sink = std::move(sink);
    WireStatusLines(link, state);
    WireSettingLines(link, state);
}
