#include "LogLine.h"

#include <cstdio>
#include <cstdlib>

namespace {

bool NeedsQuotes(const std::string& value) {
    return value.empty() || value.find_first_of(" \"=") != std::string::npos;
}

std::string TextValue(const std::string& value) {
    if (!NeedsQuotes(value))
        return value;
    std::string quoted = "\"";
    for (const char c : value)
        quoted += c == '"' ? std::string("\\\"") : std::string(1, c);
    return quoted + "\"";
}

} // namespace

std::string IsoTimeStamp(const QDateTime& time) {
    const int offset = time.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    char zone[16];
    std::snprintf(zone, sizeof zone, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    return time.toString("yyyy-MM-dd'T'HH:mm:ss.zzz").toStdString() + zone;
}

std::string JsonString(const std::string& utf8) {
    std::string json = "\"";
    for (const char c : utf8) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04x", byte);
            json += code;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

std::string TextLogLine(const TLogEvent& event) {
    std::string line = IsoTimeStamp(event.Time) + " " +
                       (event.Device.empty() ? std::string("-") : event.Device) + " " +
                       event.Message;
    for (const auto& [name, value] : event.Fields)
        line += " " + name + "=" + TextValue(value);
    return line;
}

std::string JsonLogLine(const TLogEvent& event) {
    std::string line = "{\"time\":" + JsonString(IsoTimeStamp(event.Time));
    if (!event.Device.empty())
        line += ",\"device\":" + JsonString(event.Device);
    line += ",\"event\":" + JsonString(event.Event);
    line += ",\"message\":" + JsonString(event.Message);
    for (const auto& [name, value] : event.Fields)
        line += "," + JsonString(name) + ":" + JsonString(value);
    return line + "}";
}

std::string FormatLogLine(const TLogEvent& event, TLogFormat format) {
    return format == TLogFormat::Json ? JsonLogLine(event) : TextLogLine(event);
}
