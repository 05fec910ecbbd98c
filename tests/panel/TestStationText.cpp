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
