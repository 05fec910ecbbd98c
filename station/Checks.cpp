#include "Checks.h"

const std::array<TCheckKind, 5> CHECKS = {{
    {TCheck::Sync, &TDeviceStatus::VideoSync, &TSwObject::OnVideoSync, "VideoSync", "VIDEO SYNC",
     "sync", true},
    {TCheck::Motion, &TDeviceStatus::VideoMotion, &TSwObject::OnVideoMotion, "VideoMotion",
     "VIDEO MOTION", "motion", true},
    {TCheck::VideoLevel, &TDeviceStatus::VideoLevel, &TSwObject::OnVideoLevel, "VideoLevel",
     "VIDEO DIF.LEVEL", "level", true},
    {TCheck::AudioLeft, &TDeviceStatus::AudioLeft, &TSwObject::OnAudioLeft, "AudioLeft",
     "AUDIO DIF.LEVEL +THR (L)", "audio_left", false},
    {TCheck::AudioRight, &TDeviceStatus::AudioRight, &TSwObject::OnAudioRight, "AudioRight",
     "AUDIO DIF.LEVEL +THR (R)", "audio_right", false},
}};

const std::array<TCounterKind, 7> COUNTERS = {{
    {&TDeviceStatus::SyncCount, "SyncCount", "VIDEO SYNC", "sync"},
    {&TDeviceStatus::MotionCount, "MotionCount", "VIDEO MOTION", "motion"},
    {&TDeviceStatus::VideoLevelCount, "VideoLevelCount", "VIDEO DIF.LEVEL", "level"},
    {&TDeviceStatus::ThresholdLeftCount, "ThresholdLeftCount", "AUDIO THRESHOLD (L)",
     "threshold_left"},
    {&TDeviceStatus::ThresholdRightCount, "ThresholdRightCount", "AUDIO THRESHOLD (R)",
     "threshold_right"},
    {&TDeviceStatus::AudioLevelLeftCount, "AudioLevelLeftCount", "AUDIO DIF.LEVEL (L)",
     "audio_level_left"},
    {&TDeviceStatus::AudioLevelRightCount, "AudioLevelRightCount", "AUDIO DIF.LEVEL (R)",
     "audio_level_right"},
}};

int OfInput(const int (&values)[2], int input) {
    return input == INPUT_A || input == INPUT_B ? values[input - 1] : 0;
}

int CheckState(const TDeviceStatus& status, int input, TCheck check) {
    return OfInput(status.*CHECKS[static_cast<std::size_t>(check)].States, input);
}

bool AnalysesVideo(const TDeviceStatus& status) {
    return status.DeviceName.find("7710") != std::string::npos;
}

bool CheckAnalysed(const TDeviceStatus& status, TCheck check) {
    return !CHECKS[static_cast<std::size_t>(check)].Video || AnalysesVideo(status);
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

int OnAirInput(const TDeviceStatus& status) {
    return status.Output == INPUT_B ? INPUT_B : INPUT_A;
}

bool CheckFails(const TDeviceStatus& status, TCheck check, int input) {
    return CheckAnalysed(status, check) && CheckSwitchedOn(status, check) &&
           CheckState(status, input, check) == STATE_ERROR;
}

bool CheckFailsOnOutput(const TDeviceStatus& status) {
    for (const TCheckKind& kind : CHECKS) {
        if (CheckFails(status, kind.Check, OnAirInput(status)))
            return true;
    }
    return false;
}

int PsuState(const TDeviceStatus& status, int unit) {
    return unit == 1 ? status.Psu1State : status.Psu2State;
}

bool PsuMonitored(const TDeviceStatus& status, int unit) {
    return (status.PsuMonitoring & unit) != 0;
}
