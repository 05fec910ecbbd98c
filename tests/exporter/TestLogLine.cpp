// The exporter's log lines, as logfmt and as JSON, and the UTF-8 rules of every value.

#include "LogLine.h"
#include "StationText.h"
#include "Utf8Text.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>

namespace {

QDateTime At(int offsetSeconds) {
    return QDateTime(QDate(2026, 3, 1), QTime(14, 5, 9, 42), QTimeZone(offsetSeconds));
}

QJsonObject Json(const TLogEvent& event) {
    const std::string line = JsonLogLine(event);
    EXPECT_EQ(line.find('\n'), std::string::npos);
    return QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
}

TEST(LogLine, TimeStampsCarryMillisecondsAndTheUtcOffset) {
    EXPECT_EQ(IsoTimeStamp(At(3600)), "2026-03-01T14:05:09.042+01:00");
    EXPECT_EQ(IsoTimeStamp(At(0)), "2026-03-01T14:05:09.042+00:00");
    EXPECT_EQ(IsoTimeStamp(At(-(9 * 3600 + 30 * 60))), "2026-03-01T14:05:09.042-09:30");
}

const TLogEvent CHANGE{At(3600), TLogLevel::Info,         "127.0.1.7",
                       "change", "[A] VIDEO SYNC: ERROR", {}};
const TLogEvent STOP{At(0),
                     TLogLevel::Warn,
                     "127.0.1.7:10002",
                     "stop",
                     "Connection is broken or device powered off",
                     {{"code", 1002},
                      {"reason", "read_failed"},
                      {"reconnect_in", TLogValue::Decimal(1.5, 1)},
                      {"name", "say \"hi\""}}};

TEST(LogLine, LogfmtLinesHaveTimeLevelDeviceEventMessageAndFields) {
    EXPECT_EQ(LogfmtLine(CHANGE), "time=2026-03-01T14:05:09.042+01:00 level=info "
                                  "device=127.0.1.7 event=change message=\"[A] VIDEO SYNC: "
                                  "ERROR\"");
    EXPECT_EQ(LogfmtLine(STOP), "time=2026-03-01T14:05:09.042+00:00 level=warn "
                                "device=127.0.1.7:10002 event=stop message=\"Connection is "
                                "broken or device powered off\" code=1002 reason=read_failed "
                                "reconnect_in=1.5 name=\"say \\\"hi\\\"\"");
    EXPECT_EQ(LogfmtLine({At(0), TLogLevel::Error, "", "reload", "Targets", {{"x", ""}}}),
              "time=2026-03-01T14:05:09.042+00:00 level=error event=reload message=Targets x=\"\"");
}

TEST(LogLine, JsonLinesAreOneObjectWithTheSameFactsAndNumbersAsNumbers) {
    const QJsonObject object = Json(STOP);
    EXPECT_EQ(object.value("time").toString(), "2026-03-01T14:05:09.042+00:00");
    EXPECT_EQ(object.value("level").toString(), "warn");
    EXPECT_EQ(object.value("device").toString(), "127.0.1.7:10002");
    EXPECT_EQ(object.value("event").toString(), "stop");
    EXPECT_EQ(object.value("message").toString(), "Connection is broken or device powered off");
    EXPECT_TRUE(object.value("code").isDouble());
    EXPECT_EQ(object.value("code").toInt(), 1002);
    EXPECT_EQ(object.value("reconnect_in").toDouble(), 1.5);
    EXPECT_EQ(object.value("name").toString(), "say \"hi\"");
    EXPECT_FALSE(Json({At(0), TLogLevel::Info, "", "start", "Listening", {}}).contains("device"));
}

// Whatever bytes a value holds, both forms stay valid UTF-8 on one line: control
// characters escaped, bytes that are not UTF-8 written as \xNN.
TEST(LogLine, EveryValueIsValidUtf8WithControlCharactersEscaped) {
    const std::string hostile("a\"\\\n\t\x1b[31m\x7f\xc2\x9b\xe9z\xc3\xa9", 17);
    const TLogEvent event{At(0), TLogLevel::Warn, "", "targets", hostile, {{"error", hostile}}};
    const std::string expected =
        "\"a\\\"\\\\\\u000a\\u0009\\u001b[31m\\u007f\\u009b\\\\xe9z\u00e9\"";
    EXPECT_EQ(JsonString(hostile), expected);
    const std::string logfmt = LogfmtLine(event);
    EXPECT_NE(logfmt.find("message=" + expected + " error=" + expected), std::string::npos);
    EXPECT_TRUE(IsUtf8(logfmt));
    EXPECT_EQ(Json(event).value("error").toString().toStdString(),
              std::string("a\"\\\n\t\x1b[31m\x7f\xc2\x9b") + "\\xe9z\u00e9");
    const std::string name = PrintableDeviceText(std::string("x\ny\x9b", 4));
    EXPECT_EQ(Json({At(0), TLogLevel::Info, "d", "connect", "m", {{"name", name}}}).value("name"),
              "x\\x0ay\\x9b");
}

TEST(Utf8Text, WellFormedUtf8ControlCharactersAndLength) {
    EXPECT_TRUE(IsUtf8("R\u00e9gie \u20ac \U0001f4fa"));
    for (const char* bad : {"\xe9", "\xc0\xaf", "\xed\xa0\x80", "\xf4\x90\x80\x80", "\xe2\x82",
                            "\x80", "\xf8\x88\x80\x80\x80"})
        EXPECT_FALSE(IsUtf8(bad)) << bad;
    EXPECT_EQ(EscapeInvalidUtf8("\xe9t\u00e9\xc3"), "\\xe9t\u00e9\\xc3");
    EXPECT_EQ(CharacterCount("R\u00e9gie \U0001f4fa"), 7u);
    EXPECT_TRUE(HasControlCharacter("a\xc2\x85"));
    EXPECT_FALSE(HasControlCharacter("\u00a0\u00e9"));
}

} // namespace
