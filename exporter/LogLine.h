#pragma once

// The exporter's log: one line per fact, as logfmt or as one JSON object, each with an
// ISO 8601 time stamp, a level and, where it concerns one, the device. Every value is
// written as valid UTF-8 with its control characters escaped, whatever bytes it holds.

#include <QDateTime>
#include <concepts>
#include <string>
#include <utility>
#include <vector>

enum class TLogFormat { Logfmt, Json };
enum class TLogLevel { Debug, Info, Warn, Error };

// "debug", "info", "warn", "error".
const char* LogLevelName(TLogLevel level);

// A field's value: text, or a number, which JSON writes without quotes.
struct TLogValue {
    TLogValue(std::string text) : Text(std::move(text)) {}
    TLogValue(const char* text) : Text(text) {}
    template <std::integral T> TLogValue(T number) : Text(std::to_string(number)), Number(true) {}
    // A number with the given count of decimals.
    static TLogValue Decimal(double number, int decimals);

    std::string Text;
    bool Number = false;
};

using TLogFields = std::vector<std::pair<std::string, TLogValue>>;

struct TLogEvent {
    QDateTime Time;
    TLogLevel Level = TLogLevel::Info;
    // The device key, or empty for lines about the exporter itself.
    std::string Device;
    // What kind of fact: "change", "connect", "stop", "warning", "reload", "start"...
    std::string Event;
    // The human-readable line, for changes the station journal's own text.
    std::string Message;
    // Further facts, in order.
    TLogFields Fields;
};

// "2026-03-01T14:05:09.042+01:00": local time with milliseconds and the UTC offset.
std::string IsoTimeStamp(const QDateTime& time);

// A JSON string literal, quotes included.
std::string JsonString(const std::string& text);

// time=... level=... device=... event=... message=... key=value ...; a value with blanks,
// quotes, '=' or control characters is quoted, and no device for the exporter's own lines.
std::string LogfmtLine(const TLogEvent& event);
// {"time":...,"level":...,"device":...,"event":...,"message":...,"key":value,...}
std::string JsonLogLine(const TLogEvent& event);

std::string FormatLogLine(const TLogEvent& event, TLogFormat format);
