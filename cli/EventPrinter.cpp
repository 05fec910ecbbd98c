#include "EventPrinter.h"

#include "Checks.h"
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

TValue Number(int value) {
    return {std::to_string(value), {{"value", value}}};
}

TValue Flag(bool value) {
    return {SwitchWord(value), {{"value", value}}};
}

TValue State(int code) {
    return {StateWord(code), {{"value", QString::fromStdString(StateWord(code))}, {"raw", code}}};
}

TValue Setting(const TDeviceStatus& status, const TFieldKind& field) {
    const int raw = status.*field.Raw;
    return {std::to_string(raw),
            {{"value", RawToField(field.Field, raw)}, {"raw", raw}, {"unit", field.Unit}}};
}

struct TPlainEvent {
    TSwObject::TNotifySlot TSwObject::*Slot;
    const char* Name;
    TGetter Value;
};

QJsonObject ByInput(int a, int b) {
    return {{"A", a}, {"B", b}};
}

TValue Counters(const TSwObject& link) {
    TValue value;
    QJsonObject counts;
    for (const TCounterKind& counter : COUNTERS) {
        const int a = OfInput(link.Status().*counter.Counts, INPUT_A);
        const int b = OfInput(link.Status().*counter.Counts, INPUT_B);
        value.Text += std::to_string(a) + '/' + std::to_string(b) + ' ';
        counts.insert(counter.EventName, ByInput(a, b));
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
    {&TSwObject::OnCounters, "Counters", Counters},
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
    for (const TSwitchKind& kind : SWITCHES)
        state.insert(kind.EventName, Flag(link.Status().*kind.Status).Json);
    for (const TFieldKind& kind : FIELDS)
        state.insert(kind.EventName, Setting(link.Status(), kind).Json);
    for (const TCheckKind& check : CHECKS) {
        QJsonObject inputs;
        for (int input = INPUT_A; input <= INPUT_B; ++input)
            inputs.insert(QString::fromStdString(InputLetter(input)),
                          State(CheckState(link.Status(), input, check.Check)).Json);
        state.insert(check.EventName, inputs);
    }
    state.insert("Address", QString::fromStdString(link.Address()));
    state.insert("Port", link.Port());
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
    for (const TSwitchKind& kind : SWITCHES) {
        (link.*kind.Event).Listen([printer, &kind](TSwObject* sender) {
            printer->Event(kind.EventName, "", Flag(sender->Status().*kind.Status));
        });
    }
    for (const TFieldKind& kind : FIELDS) {
        (link.*kind.Event).Listen([printer, &kind](TSwObject* sender) {
            printer->Event(kind.EventName, "", Setting(sender->Status(), kind));
        });
    }
    for (const TCheckKind& check : CHECKS) {
        (link.*check.Event).Listen([printer, &check](TSwObject* sender, int input) {
            printer->Event(check.EventName, InputLetter(input),
                           State(CheckState(sender->Status(), input, check.Check)));
        });
    }
}
