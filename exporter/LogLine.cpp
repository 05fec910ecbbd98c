#include "LogLine.h"

#include "Utf8Text.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::string UnicodeEscape(unsigned char code) {
    char text[8];
    std::snprintf(text, sizeof text, "\\u%04x", code);
    return text;
}

bool NeedsQuotes(const std::string& utf8) {
    return utf8.empty() || utf8.find_first_of(" \"=") != std::string::npos ||
           HasControlCharacter(utf8);
}

std::string LogfmtValue(const TLogValue& value) {
    const std::string utf8 = EscapeInvalidUtf8(value.Text);
    return NeedsQuotes(utf8) ? JsonString(utf8) : utf8;
}

std::string JsonValue(const TLogValue& value) {
    return value.Number ? value.Text : JsonString(value.Text);
}

// Every fact of the line in order, its own first, then the event's fields.
TLogFields Entries(const TLogEvent& event) {
    TLogFields entries{{"time", IsoTimeStamp(event.Time)}, {"level", LogLevelName(event.Level)}};
    if (!event.Device.empty())
        entries.emplace_back("device", event.Device);
    entries.emplace_back("event", event.Event);
    entries.emplace_back("message", event.Message);
    entries.insert(entries.end(), event.Fields.begin(), event.Fields.end());
    return entries;
}

} // namespace

const char* LogLevelName(TLogLevel level) {
    switch (level) {
    case TLogLevel::Debug:
        return "debug";
    case TLogLevel::Info:
        return "info";
    case TLogLevel::Warn:
        return "warn";
    case TLogLevel::Error:
        return "error";
    }
    return "info";
}

TLogValue TLogValue::Decimal(double number, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, number);
    TLogValue value{std::string(text)};
    value.Number = true;
    return value;
}

std::string IsoTimeStamp(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return time.toString("yyyy-MM-dd'T'HH:mm:ss.zzz").toStdString() + zone;
}

// Quote and backslash escaped, control characters as \u00XX and bytes that are not UTF-8
// as the text \xNN: one form that JSON and logfmt readers both take.
std::string JsonString(const std::string& text) {
    const std::string utf8 = EscapeInvalidUtf8(text);
    std::string json = "\"";
    for (std::size_t at = 0; at < utf8.size(); ++at) {
        const char c = utf8[at];
        const std::size_t control = ControlCharacterLength(utf8, at);
        if (control != 0) {
            at += control - 1;
            json += UnicodeEscape(static_cast<unsigned char>(utf8[at]));
        } else if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string LogfmtLine(const TLogEvent& event) {
    std::string line;
    for (const auto& [name, value] : Entries(event))
        line += (line.empty() ? "" : " ") + name + "=" + LogfmtValue(value);
    return line;
}

std::string JsonLogLine(const TLogEvent& event) {
    std::string line;
    for (const auto& [name, value] : Entries(event))
        line += (line.empty() ? "{" : ",") + JsonString(name) + ":" + JsonValue(value);
    return line + "}";
}

std::string FormatLogLine(const TLogEvent& event, TLogFormat format) {
    return format == TLogFormat::Json ? JsonLogLine(event) : LogfmtLine(event);
}
