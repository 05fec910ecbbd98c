// The exporter's log lines, as text and as JSON.

#include "LogLine.h"
#include "StationText.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

QDateTime At(int offsetSeconds) {
    return QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9, 42), QTimeZone(offsetSeconds));
}

TEST(LogLine, TimeStampsCarryMillisecondsAndTheUtcOffset) {
    EXPECT_EQ(IsoTimeStamp(At(3600)), "2026-03-01T14:05:09.042+01:00");
    EXPECT_EQ(IsoTimeStamp(At(0)), "2026-03-01T14:05:09.042+00:00");
    EXPECT_EQ(IsoTimeStamp(At(-(9 * 3600 + 30 * 60))), "2026-03-01T14:05:09.042-09:30");
}

const TLogEvent CHANGE{At(3600), "127.0.1.7", "change", "[A] VIDEO SYNC: ERROR", {}};
const TLogEvent STOP{At(0),
                     "127.0.1.7:10002",
                     "stop",
                     "Connection is broken or device powered off",
                     {{"code", "1002"}, {"reason", "read_failed"}, {"name", "say \"hi\""}}};

TEST(LogLine, TextLinesStampDeviceMessageAndFields) {
    EXPECT_EQ(TextLogLine(CHANGE), "2026-03-01T14:05:09.042+01:00 127.0.1.7 [A] VIDEO SYNC: ERROR");
    EXPECT_EQ(TextLogLine(STOP), "2026-03-01T14:05:09.042+00:00 127.0.1.7:10002 Connection is "
                                 "broken or device powered off code=1002 reason=read_failed "
                                 "name=\"say \\\"hi\\\"\"");
    EXPECT_EQ(TextLogLine({At(0), "", "reload", "Targets reloaded", {{"kept", "2"}, {"x", ""}}}),
              "2026-03-01T14:05:09.042+00:00 - Targets reloaded kept=2 x=\"\"");
}

TEST(LogLine, JsonLinesAreOneObjectWithTheSameFacts) {
    const std::string line = JsonLogLine(STOP);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const QJsonObject object = QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
    EXPECT_EQ(object.value("time").toString(), "2026-03-01T14:05:09.042+00:00");
    EXPECT_EQ(object.value("device").toString(), "127.0.1.7:10002");
    EXPECT_EQ(object.value("event").toString(), "stop");
    EXPECT_EQ(object.value("message").toString(), "Connection is broken or device powered off");
    EXPECT_EQ(object.value("code").toString(), "1002");
    EXPECT_EQ(object.value("name").toString(), "say \"hi\"");
    EXPECT_FALSE(QJsonDocument::fromJson(
                     QByteArray::fromStdString(JsonLogLine({At(0), "", "start", "Listening", {}})))
                     .object()
                     .contains("device"));
}

TEST(LogLine, JsonEscapesEveryControlCharacter) {
    EXPECT_EQ(JsonString(std::string("a\"\\\n\t\x01\x7f", 7)),
              "\"a\\\"\\\\\\u000a\\u0009\\u0001\\u007f\"");
    const std::string name = PrintableDeviceText(std::string("x\ny\x9b", 4));
    const std::string line = JsonLogLine({At(0), "d", "connect", "m", {{"name", name}}});
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(line)).object().value("name"),
              "x\\x0ay\\x9b");
}

} // namespace
