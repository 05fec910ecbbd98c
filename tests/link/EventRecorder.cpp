#include "EventRecorder.h"

namespace {

TSwObject::TNotifyEvent Plain(std::vector<std::string>& lines, const char* name) {
    return [&lines, name](TSwObject*) { lines.emplace_back(name); };
}

TSwObject::TInputEvent WithInput(std::vector<std::string>& lines, const char* name) {
    return [&lines, name](TSwObject*, int input) {
        lines.push_back(std::string(name) + ' ' + std::to_string(input));
    };
}

} // namespace

EventRecorder::EventRecorder(TSwObject& link) {
    auto& l = Lines;
    link.OnConnected = [&l](TSwObject*, bool on) {
        l.push_back(on ? "Connected 1" : "Connected 0");
    };
    link.OnStop = [&l](TSwObject*, int code) { l.push_back("Stop " + std::to_string(code)); };
    link.OnLinkStat = [&l](TSwObject*, std::uint32_t value, int kind) {
        l.push_back("LinkStat " + std::to_string(kind) + ' ' + std::to_string(value));
    };
    link.OnDeviceName = Plain(l, "DeviceName");
    link.OnOutput = Plain(l, "Output");
    link.OnAutoMode = Plain(l, "AutoMode");
    link.OnVideoSync = WithInput(l, "VideoSync");
    link.OnVideoMotion = WithInput(l, "VideoMotion");
    link.OnVideoLevel = WithInput(l, "VideoLevel");
    link.OnAudioLeft = WithInput(l, "AudioLeft");
    link.OnAudioRight = WithInput(l, "AudioRight");
    link.OnPsuMonitoring = Plain(l, "PsuMonitoring");
    link.OnPsu1State = Plain(l, "Psu1State");
    link.OnPsu2State = Plain(l, "Psu2State");
    link.OnTempValid = Plain(l, "TempValid");
    link.OnTemperature = Plain(l, "Temperature");
    link.OnSyncControl = Plain(l, "SyncControl");
    link.OnSyncTime = Plain(l, "SyncTime");
    link.OnMotionControl = Plain(l, "MotionControl");
    link.OnMotionTime = Plain(l, "MotionTime");
    link.OnVideoLevelControl = Plain(l, "VideoLevelControl");
    link.OnVideoLevelValue = Plain(l, "VideoLevelValue");
    link.OnVideoLevelTime = Plain(l, "VideoLevelTime");
    link.OnThresholdControl = Plain(l, "ThresholdControl");
    link.OnThresholdValue = Plain(l, "ThresholdValue");
    link.OnThresholdTime = Plain(l, "ThresholdTime");
    link.OnAudioLevelControl = Plain(l, "AudioLevelControl");
    link.OnAudioLevelValue = Plain(l, "AudioLevelValue");
    link.OnAudioLevelTime = Plain(l, "AudioLevelTime");
    link.OnRecoveryControl = Plain(l, "RecoveryControl");
    link.OnRecoveryTime = Plain(l, "RecoveryTime");
    link.OnCounters = Plain(l, "Counters");
}
