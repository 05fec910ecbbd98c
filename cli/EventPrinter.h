#pragma once

// What the headless monitor prints for link events and device state: one line per event
// as it fires (the event's name, the input where it has one, and the new value), or the
// same as one compact JSON object per line.

#include "UnitThread.h"

#include <QDateTime>
#include <QJsonObject>
#include <functional>
#include <string>

enum class TOutputForm { Text, Json };

using TLineSink = std::function<void(const std::string& line)>;

// Adds to every event of link but OnStop a listener printing its line to sink.
void WireEventPrinter(TSwObject& link, TLineSink sink, TOutputForm form);

// ISO 8601 with milliseconds and the offset from UTC, e.g. 2027-02-01T09:03:07.250+01:00.
QString IsoTime(const QDateTime& when);
// object with its "time" added, as one line of compact JSON.
std::string JsonLine(QJsonObject object, const QDateTime& when);

// The device's whole state as the link holds it, under the events' names: settings in
// seconds and decibels beside their raw values, states by input.
QJsonObject DeviceStateJson(const TSwObject& link);
