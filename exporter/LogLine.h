#pragma once

// The exporter's log: one line per fact, as text for people or as one JSON object for
// log collectors, each with an ISO 8601 time stamp and the device it concerns.

#include <QDateTime>
#include <string>
#include <utility>
#include <vector>

enum class TLogFormat { Text, Json };

struct TLogEvent {
    QDateTime Time;
    // The device key, or empty for lines about the exporter itself.
    std::string Device;
    // What kind of fact: "change", "connect", "stop", "warning", "reload", "start"...
    std::string Event;
    // The human-readable line, for changes the station journal's own text.
    std::string Message;
    // Further facts, in order: name and value.
    std::vector<std::pair<std::string, std::string>> Fields;
};

// "2026-03-01T14:05:09.042+01:00": local time with milliseconds and the UTC offset.
std::string IsoTimeStamp(const QDateTime& time);

// A JSON string literal, quotes included.
std::string JsonString(const std::string& utf8);

// "TIME DEVICE MESSAGE key=value ...", the device "-" for the exporter's own lines; a
// value with blanks or quotes is quoted.
std::string TextLogLine(const TLogEvent& event);
// {"time":...,"device":...,"event":...,"message":...,"key":"value",...}
std::string JsonLogLine(const TLogEvent& event);

std::string FormatLogLine(const TLogEvent& event, TLogFormat format);
