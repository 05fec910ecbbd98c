#include "EventPrinter.h"

#include "StationText.h"

#include <string>

namespace {

using TGetter = std::string (*)(const TSwObject&);
using TInputGetter = int (TSwObject::*)(int) const;

std::string Number(int value) {
    return std::to_string(value);
}
std::string Flag(bool value) {
    return value ? "ON" : "OFF";
}

struct TPlainEvent {
    TSwObject::TNotifyEvent TSwObject::*Slot;
    const char* Name;
    TGetter Value;
};

struct TInputEvent {
    TSwObject::TInputEvent TSwObject::*Slot;
    const char* Name;
    TInputGetter Value;
};

std::string Counters(const TSwObject& link) {
    const TInputGetter counters[] = {
        &TSwObject::SyncCount,           &TSwObject::MotionCount,
        &TSwObject::VideoLevelCount,     &TSwObject::ThresholdLeftCount,
        &TSwObject::ThresholdRightCount, &TSwObject::AudioLevelLeftCount,
        &TSwObject::AudioLevelRightCount};
    std::string text;
    for (TInputGetter counter : counters)
        text += Number((link.*counter)(INPUT_A)) + '/' + Number((link.*counter)(INPUT_B)) + ' ';
    text.pop_back();
    return text;
}

const TPlainEvent PLAIN_EVENTS[] = {
    {&TSwObject::OnDeviceName, "DeviceName",
     [](const TSwObject& l) { return PrintableDeviceText(l.DeviceName()); }},
    {&TSwObject::OnOutput, "Output",
     [](const TSwObject& l) { return std::string(l.Output() == INPUT_B ? "B" : "A"); }},
    {&TSwObject::OnAutoMode, "AutoMode",
     [](const TSwObject& l) { return std::string(l.AutoMode() ? "AUTO" : "MANUAL"); }},
    {&TSwObject::OnPsuMonitoring, "PsuMonitoring",
     [](const TSwObject& l) { return Number(l.PsuMonitoring()); }},
    {&TSwObject::OnPsu1State, "Psu1State",
     [](const TSwObject& l) { return StateWord(l.Psu1State()); }},
    {&TSwObject::OnPsu2State, "Psu2State",
     [](const TSwObject& l) { return StateWord(l.Psu2State()); }},
    {&TSwObject::OnTempValid, "TempValid", [](const TSwObject& l) { return Flag(l.TempValid()); }},
    {&TSwObject::OnTemperature, "Temperature",
     [](const TSwObject& l) { return Number(l.Temperature()); }},
    {&TSwObject::OnSyncControl, "SyncControl",
     [](const TSwObject& l) { return Flag(l.Status().SyncControl); }},
    {&TSwObject::OnSyncTime, "SyncTime",
     [](const TSwObject& l) { return Number(l.Status().SyncTime); }},
    {&TSwObject::OnMotionControl, "MotionControl",
     [](const TSwObject& l) { return Flag(l.Status().MotionControl); }},
    {&TSwObject::OnMotionTime, "MotionTime",
     [](const TSwObject& l) { return Number(l.Status().MotionTime); }},
    {&TSwObject::OnVideoLevelControl, "VideoLevelControl",
     [](const TSwObject& l) { return Flag(l.Status().VideoLevelControl); }},
    {&TSwObject::OnVideoLevelValue, "VideoLevelValue",
     [](const TSwObject& l) { return Number(l.Status().VideoLevelValue); }},
    {&TSwObject::OnVideoLevelTime, "VideoLevelTime",
     [](const TSwObject& l) { return Number(l.Status().VideoLevelTime); }},
    {&TSwObject::OnThresholdControl, "ThresholdControl",
     [](const TSwObject& l) { return Flag(l.Status().ThresholdControl); }},
    {&TSwObject::OnThresholdValue, "ThresholdValue",
     [](const TSwObject& l) { return Number(l.Status().ThresholdValue); }},
    {&TSwObject::OnThresholdTime, "ThresholdTime",
     [](const TSwObject& l) { return Number(l.Status().ThresholdTime); }},
    {&TSwObject::OnAudioLevelControl, "AudioLevelControl",
     [](const TSwObject& l) { return Flag(l.Status().AudioLevelControl); }},
    {&TSwObject::OnAudioLevelValue, "AudioLevelValue",
     [](const TSwObject& l) { return Number(l.Status().AudioLevelValue); }},
    {&TSwObject::OnAudioLevelTime, "AudioLevelTime",
     [](const TSwObject& l) { return Number(l.Status().AudioLevelTime); }},
    {&TSwObject::OnRecoveryControl, "RecoveryControl",
     [](const TSwObject& l) { return Flag(l.Status().RecoveryControl); }},
    {&TSwObject::OnRecoveryTime, "RecoveryTime",
     [](const TSwObject& l) { return Number(l.Status().RecoveryTime); }},
    {&TSwObject::OnCounters, "Counters", Counters},
};

const TInputEvent INPUT_EVENTS[] = {
    {&TSwObject::OnVideoSync, "VideoSync", &TSwObject::VideoSync},
    {&TSwObject::OnVideoMotion, "VideoMotion", &TSwObject::VideoMotion},
    {&TSwObject::OnVideoLevel, "VideoLevel", &TSwObject::VideoLevel},
    {&TSwObject::OnAudioLeft, "AudioLeft", &TSwObject::AudioLeft},
    {&TSwObject::OnAudioRight, "AudioRight", &TSwObject::AudioRight},
};

void PrintLine(std::FILE* out, const std::string& line) {
    std::fprintf(out, "%s\n", line.c_str());
    std::fflush(out);
}

} // namespace

std::string LinkStatLine(std::uint32_t value, int kind) {
    std::string name;
    switch (kind) {
    case LINK_RATE:
        name = "RATE";
        break;
    case LINK_TIMEOUTS:
        name = "TIMEOUTS";
        break;
    case LINK_READ_WARNING:
        name = "READ_WARNING";
        break;
    case LINK_READ_ERRORS:
        name = "READ_ERRORS";
        break;
    default:
        name = "KIND_" + std::to_string(kind);
    }
    return "LinkStat " + name + ' ' + std::to_string(value);
}

void WireEventPrinter(TSwObject& link, std::FILE* out) {
    link.OnConnected = [out](TSwObject*, bool on) {
        PrintLine(out, on ? "Connected" : "Connected false");
    };
    link.OnStop = [out](TSwObject* sender, int code) {
        PrintLine(out,
                  "Stop " + std::to_string(code) + ": " + StopReason(code, sender->LastError()));
    };
    link.OnLinkStat = [out](TSwObject*, std::uint32_t value, int kind) {
        PrintLine(out, LinkStatLine(value, kind));
    };
    for (const TPlainEvent& event : PLAIN_EVENTS) {
        link.*event.Slot = [out, event](TSwObject* sender) {
            PrintLine(out, std::string(event.Name) + ' ' + event.Value(*sender));
        };
    }
    for (const TInputEvent& event : INPUT_EVENTS) {
        link.*event.Slot = [out, event](TSwObject* sender, int input) {
            PrintLine(out, std::string(event.Name) + (input == INPUT_B ? " B " : " A ") +
                               StateWord((sender->*event.Value)(input)));
        };
    }
}
