#include "EventRecorder.h"

#include <algorithm>
#include <iterator>

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
    link.OnConnected.Listen(
        [&l](TSwObject*, bool on) { l.push_back(on ? "Connected 1" : "Connected 0"); });
    link.OnStop.Listen([&l](TSwObject*, int code) { l.push_back("Stop " + std::to_string(code)); });
    link.OnLinkStat.Listen([&l](TSwObject*, std::uint32_t value, int kind) {
        l.push_back("LinkStat " + std::to_string(kind) + ' ' + std::to_string(value));
    });
    link.OnDeviceName.Listen(Plain(l, "DeviceName"));
    link.OnOutput.Listen(Plain(l, "Output"));
    link.OnAutoMode.Listen(Plain(l, "AutoMode"));
    link.OnVideoSync.Listen(WithInput(l, "VideoSync"));
    link.OnVideoMotion.Listen(WithInput(l, "VideoMotion"));
    link.OnVideoLevel.Listen(WithInput(l, "VideoLevel"));
    link.OnAudioLeft.Listen(WithInput(l, "AudioLeft"));
    link.OnAudioRight.Listen(WithInput(l, "AudioRight"));
    link.OnPsuMonitoring.Listen(Plain(l, "PsuMonitoring"));
    link.OnPsu1State.Listen(Plain(l, "Psu1State"));
    link.OnPsu2State.Listen(Plain(l, "Psu2State"));
    link.OnTempValid.Listen(Plain(l, "TempValid"));
    link.OnTemperature.Listen(Plain(l, "Temperature"));
    link.OnSyncControl.Listen(Plain(l, "SyncControl"));
    link.OnSyncTime.Listen(Plain(l, "SyncTime"));
    link.OnMotionControl.Listen(Plain(l, "MotionControl"));
    link.OnMotionTime.Listen(Plain(l, "MotionTime"));
    link.OnVideoLevelControl.Listen(Plain(l, "VideoLevelControl"));
    link.OnVideoLevelValue.Listen(Plain(l, "VideoLevelValue"));
    link.OnVideoLevelTime.Listen(Plain(l, "VideoLevelTime"));
    link.OnThresholdControl.Listen(Plain(l, "ThresholdControl"));
    link.OnThresholdValue.Listen(Plain(l, "ThresholdValue"));
    link.OnThresholdTime.Listen(Plain(l, "ThresholdTime"));
    link.OnAudioLevelControl.Listen(Plain(l, "AudioLevelControl"));
    link.OnAudioLevelValue.Listen(Plain(l, "AudioLevelValue"));
    link.OnAudioLevelTime.Listen(Plain(l, "AudioLevelTime"));
    link.OnRecoveryControl.Listen(Plain(l, "RecoveryControl"));
    link.OnRecoveryTime.Listen(Plain(l, "RecoveryTime"));
    link.OnCounters.Listen(Plain(l, "Counters"));
}

std::vector<std::string> WithoutLinkStats(const std::vector<std::string>& lines) {
    std::vector<std::string> kept;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(kept),
                 [](const std::string& line) { return !line.starts_with("LinkStat"); });
    return kept;
}

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}
