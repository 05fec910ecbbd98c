#include "EventPrinter.h"

#include "SettingsFields.h"
#include "StationText.h"

#include <QJsonDocument>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

// An event's new value: as text, and as JSON members ("value", and where the device's
// value is converted or coded, "raw" and "unit").
struct TValue {
    std::string Text;
    QJsonObject Json;
};

using TGetter = TValue (*)(const TSwObject&);
using TInputGetter = int (TSwObject::*)(int) const;

TValue Number(int value) {
    return {std::to_string(value), {{"value", value}}};
}

TValue Flag(bool value) {
    return {SwitchWord(value), {{"value", value}}};
}

TValue State(int code) {
    return {StateWord(code), {{"value", QString::fromStdString(StateWord(code))}, {"raw", code}}};
}

TValue Setting(const TSwObject& link, TSettingField field, const char* unit) {
    const int raw = RawSetting(link.Status(), field);
    return {std::to_string(raw), {{"value", RawToField(field, raw)}, {"raw", raw}, {"unit", unit}}};
}

struct TPlainEvent {
    TSwObject::TNotifySlot TSwObject::*Slot;
    const char* Name;
    TGetter Value;
};

struct TInputEvent {
    TSwObject::TInputSlot TSwObject::*Slot;
    const char* Name;
    TInputGetter Value;
};

struct TCounter {
    const char* Name;
    TInputGetter Count;
};

const TCounter COUNTERS[] = {
    {"SyncCount", &TSwObject::SyncCount},
    {"MotionCount", &TSwObject::MotionCount},
    {"VideoLevelCount", &TSwObject::VideoLevelCount},
    {"ThresholdLeftCount", &TSwObject::ThresholdLeftCount},
    {"ThresholdRightCount", &TSwObject::ThresholdRightCount},
    {"AudioLevelLeftCount", &TSwObject::AudioLevelLeftCount},
    {"AudioLevelRightCount", &TSwObject::AudioLevelRightCount},
};

QJsonObject ByInput(int a, int b) {
    return {{"A", a}, {"B", b}};
}

TValue Counters(const TSwObject& link) {
    TValue value;
    QJsonObject counts;
    for (const TCounter& counter : COUNTERS) {
        const int a = (link.*counter.Count)(INPUT_A);
        const int b = (link.*counter.Count)(INPUT_B);
        value.Text += std::to_string(a) + '/' + std::to_string(b) + ' ';
        counts.insert(counter.Name, ByInput(a, b));
    }
    value.Text.pop_back();
    value.Json = {{"value", counts}};
    return value;
}

TValue Name(const TSwObject& link) {
    const std::string shown = PrintableDeviceText(link.DeviceName());
    return {shown, {{"value", QString::fromStdString(shown)}}};
}

TValue Output(const TSwObject& link) {
    const std::string input = link.Output() == INPUT_B ? "B" : "A";
    return {input, {{"value", QString::fromStdString(input)}, {"raw", link.Output()}}};
}

TValue Mode(const TSwObject& link) {
    const std::string mode = ModeWord(link.AutoMode());
    return {mode, {{"value", QString::fromStdString(mode)}, {"raw", link.AutoMode()}}};
}

TValue Temperature(const TSwObject& link) {
    TValue value = Number(link.Temperature());
    value.Json.insert("unit", "C");
    return value;
}

using F = TSettingField;
using L = const TSwObject&;

const TPlainEvent PLAIN_EVENTS[] = {
    {&TSwObject::OnDeviceName, "DeviceName", Name},
    {&TSwObject::OnOutput, "Output", Output},
    {&TSwObject::OnAutoMode, "AutoMode", Mode},
    {&TSwObject::OnPsuMonitoring, "PsuMonitoring", [](L l) { return Number(l.PsuMonitoring()); }},
    {&TSwObject::OnPsu1State, "Psu1State", [](L l) { return State(l.Psu1State()); }},
    {&TSwObject::OnPsu2State, "Psu2State", [](L l) { return State(l.Psu2State()); }},
    {&TSwObject::OnTempValid, "TempValid", [](L l) { return Flag(l.TempValid()); }},
    {&TSwObject::OnTemperature, "Temperature", Temperature},
    {&TSwObject::OnSyncControl, "SyncControl", [](L l) { return Flag(l.Status().SyncControl); }},
    {&TSwObject::OnSyncTime, "SyncTime", [](L l) { return Setting(l, F::SyncTime, "s"); }},
    {&TSwObject::OnMotionControl, "MotionControl",
     [](L l) { return Flag(l.Status().MotionControl); }},
    {&TSwObject::OnMotionTime, "MotionTime", [](L l) { return Setting(l, F::MotionTime, "s"); }},
    {&TSwObject::OnVideoLevelControl, "VideoLevelControl",
     [](L l) { return Flag(l.Status().VideoLevelControl); }},
    {&TSwObject::OnVideoLevelValue, "VideoLevelValue",
     [](L l) { return Setting(l, F::LevelValue, "dB"); }},
    {&TSwObject::OnVideoLevelTime, "VideoLevelTime",
     [](L l) { return Setting(l, F::LevelTime, "s"); }},
    {&TSwObject::OnThresholdControl, "ThresholdControl",
     [](L l) { return Flag(l.Status().ThresholdControl); }},
    {&TSwObject::OnThresholdValue, "ThresholdValue",
     [](L l) { return Setting(l, F::ThresholdValue, "dB"); }},
    {&TSwObject::OnThresholdTime, "ThresholdTime",
     [](L l) { return Setting(l, F::ThresholdTime, "s"); }},
    {&TSwObject::OnAudioLevelControl, "AudioLevelControl",
     [](L l) { return Flag(l.Status().AudioLevelControl); }},
    {&TSwObject::OnAudioLevelValue, "AudioLevelValue",
     [](L l) { return Setting(l, F::AudioLevelValue, "dB"); }},
    {&TSwObject::OnAudioLevelTime, "AudioLevelTime",
     [](L l) { return Setting(l, F::AudioLevelTime, "s"); }},
    {&TSwObject::OnRecoveryControl, "RecoveryControl",
     [](L l) { return Flag(l.Status().RecoveryControl); }},
    {&TSwObject::OnRecoveryTime, "RecoveryTime",
     [](L l) { return Setting(l, F::RecoveryTime, "s"); }},
    {&TSwObject::OnCounters, "Counters", Counters},
};

const TInputEvent INPUT_EVENTS[] = {
    {&TSwObject::OnVideoSync, "VideoSync", &TSwObject::VideoSync},
    {&TSwObject::OnVideoMotion, "VideoMotion", &TSwObject::VideoMotion},
    {&TSwObject::OnVideoLevel, "VideoLevel", &TSwObject::VideoLevel},
    {&TSwObject::OnAudioLeft, "AudioLeft", &TSwObject::AudioLeft},
    {&TSwObject::OnAudioRight, "AudioRight", &TSwObject::AudioRight},
};

// The name of a link statistics kind, e.g. "RATE".
std::string LinkStatName(int kind) {
    switch (kind) {
    case LINK_RATE:
        return "RATE";
    case LINK_TIMEOUTS:
        return "TIMEOUTS";
    case LINK_READ_WARNING:
        return "READ_WARNING";
    case LINK_READ_ERRORS:
        return "READ_ERRORS";
    default:
        return "KIND_" + std::to_string(kind);
    }
}

std::string InputLetter(int input) {
    return input == INPUT_B ? "B" : "A";
}

// Prints an event in the chosen form: text words, or an object naming the event.
class TPrinter {
public:
    TPrinter(TLineSink sink, TOutputForm form) : fSink(std::move(sink)), fForm(form) {}

    void Event(const std::string& name, const std::string& input, const TValue& value) const {
        if (fForm == TOutputForm::Text) {
            fSink(name + (input.empty() ? "" : " " + input) +
                  (value.Text.empty() ? "" : " " + value.Text));
            return;
        }
        QJsonObject object = value.Json;
        object.insert("event", QString::fromStdString(name));
        if (!input.empty())
            object.insert("input", QString::fromStdString(input));
        fSink(JsonLine(object, QDateTime::currentDateTime()));
    }

private:
    TLineSink fSink;
    TOutputForm fForm;
};

} // namespace

QString IsoTime(const QDateTime& when) {
    const int offset = when.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    return when.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) + (offset < 0 ? u'-' : u'+') +
           QStringLiteral("%1:%2")
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

std::string JsonLine(QJsonObject object, const QDateTime& when) {
    object.insert("time", IsoTime(when));
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

QJsonObject DeviceStateJson(const TSwObject& link) {
    QJsonObject state;
    for (const TPlainEvent& event : PLAIN_EVENTS)
        state.insert(event.Name, event.Value(link).Json);
    for (const TInputEvent& event : INPUT_EVENTS) {
        QJsonObject inputs;
        for (int input = INPUT_A; input <= INPUT_B; ++input)
            inputs.insert(QString::fromStdString(InputLetter(input)),
                          State((link.*event.Value)(input)).Json);
        state.insert(event.Name, inputs);
    }
    state.insert("Address", QString::fromStdString(link.Address()));
    return state;
}

void WireEventPrinter(TSwObject& link, TLineSink sink, TOutputForm form) {
    auto printer = std::make_shared<TPrinter>(std::move(sink), form);
    link.OnConnected.Listen([printer](TSwObject*, bool on) {
        printer->Event("Connected", "", {on ? "" : "false", {{"value", on}}});
    });
    link.OnLinkStat.Listen([printer](TSwObject*, std::uint32_t value, int kind) {
        const std::string name = LinkStatName(kind);
        printer->Event(
            "LinkStat", "",
            {name + ' ' + std::to_string(value),
             {{"value", static_cast<qint64>(value)}, {"kind", QString::fromStdString(name)}}});
    });
    for (const TPlainEvent& event : PLAIN_EVENTS) {
        (link.*event.Slot).Listen([printer, event](TSwObject* sender) {
            printer->Event(event.Name, "", event.Value(*sender));
        });
    }
    for (const TInputEvent& event : INPUT_EVENTS) {
        (link.*event.Slot).Listen([printer, event](TSwObject* sender, int input) {
            printer->Event(event.Name, InputLetter(input), State((sender->*event.Value)(input)));
        });
    }
}
