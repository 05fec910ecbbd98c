#include "StationText.h"
#include "UnitThread.h"

#include <gtest/gtest.h>

TEST(StationText, StopReasonsNameTheCauseAndKeepTheErrorNumberWhereItHelps) {
    struct Case {
        int Code;
        int LastError;
        const char* Reason;
    };
    const Case cases[] = {
        {STOP_BY_REQUEST, 0, "Control stoped manualy"},
        {STOP_CONNECT_FAILED, 0, "Device not found or used by other programm"},
        {STOP_WRITE_FAILED, 10053, "Connection is broken or device powered off"},
        {STOP_WRITE_FAILED, 10054, "Connection is broken or device powered off"},
        {STOP_WRITE_FAILED, 10060, "Socket error: WRITE (10060)"},
        {STOP_READ_FAILED, 10054, "Connection is broken or device powered off"},
        {STOP_READ_FAILED, 11004, "Socket error: READ (11004)"},
        {STOP_TIMEOUT, 258, "Connection is broken or device powered off (258)"},
        {1004, 7, "Unknown (7)"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(StopReason(c.Code, c.LastError), c.Reason) << c.Code << " / " << c.LastError;
    EXPECT_FALSE(StopIsFailure(STOP_BY_REQUEST));
    EXPECT_TRUE(StopIsFailure(STOP_TIMEOUT));
}

TEST(StationText, EveryStopCodeHasItsName) {
    EXPECT_EQ(StopCodeName(STOP_BY_REQUEST), "by_request");
    EXPECT_EQ(StopCodeName(STOP_CONNECT_FAILED), "connect_failed");
    EXPECT_EQ(StopCodeName(STOP_WRITE_FAILED), "write_failed");
    EXPECT_EQ(StopCodeName(STOP_READ_FAILED), "read_failed");
    EXPECT_EQ(StopCodeName(STOP_TIMEOUT), "timeout");
    EXPECT_EQ(StopCodeName(7), "other");
}

TEST(StationText, DeviceTextShowsEveryControlCharacterEscapedAndStaysReversible) {
    EXPECT_EQ(PrintableDeviceText("7710/12"), "7710/12");
    EXPECT_EQ(PrintableDeviceText("\r\nOVERHEAT 99C"), "\\x0d\\x0aOVERHEAT 99C");
    EXPECT_EQ(PrintableDeviceText("\x1b]0;owned\x07"), "\\x1b]0;owned\\x07");
    EXPECT_EQ(PrintableDeviceText("\x7f\x80\x9b\x9f"), "\\x7f\\x80\\x9b\\x9f") << "DEL and C1";
    EXPECT_EQ(PrintableDeviceText("\xa0\xe9\xff"), "\u00a0\u00e9\u00ff") << "8-bit text as UTF-8";
    EXPECT_EQ(PrintableDeviceText("\\x1b"), "\\\\x1b") << "a backslash sent is not an escape";
    for (int byte = 1; byte <= 0xFF; ++byte) {
        const std::string shown = PrintableDeviceText(std::string(1, static_cast<char>(byte)));
        for (const char c : shown) {
            const auto u = static_cast<unsigned char>(c);
            ASSERT_TRUE(u >= 0x20 && u != 0x7F) << "byte " << byte;
        }
    }
}
