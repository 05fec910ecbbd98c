#include "ThresholdRange.h"

#include <gtest/gtest.h>
#include <vector>

TEST(ThresholdRange, EveryFormAlertsOutsideItsRangeOrInsideWithAtAndOddTextIsRefused) {
    struct TCase {
        const char* Text;
        std::vector<double> Alert;
        std::vector<double> Quiet;
    };
    const TCase ranges[] = {
        {"10", {-0.5, 10.5, 1e9}, {0, 5, 10}},
        {"10:", {-1e9, 9.9}, {10, 1e9}},
        {"~:10", {10.1, 1e9}, {-1e9, 0, 10}},
        {"10:20", {9.9, 20.1}, {10, 15, 20}},
        {"@10:20", {10, 15, 20}, {9.9, 20.1}},
        {"@10", {0, 10}, {-1, 10.1}},
        {"-5:-2.5", {-5.1, 0}, {-5, -2.5}},
        {"60.5", {61}, {60.5}},
        {"20:20", {19, 21}, {20}},
    };
    for (const TCase& c : ranges) {
        const std::optional<TThresholdRange> range = ParseThresholdRange(c.Text);
        ASSERT_TRUE(range) << c.Text;
        EXPECT_EQ(range->Text, c.Text);
        for (const double value : c.Alert)
            EXPECT_TRUE(range->Alerts(value)) << c.Text << " at " << value;
        for (const double value : c.Quiet)
            EXPECT_FALSE(range->Alerts(value)) << c.Text << " at " << value;
    }
    EXPECT_TRUE(ParseThresholdRange("10:20")->AlertsAbove(21));
    EXPECT_FALSE(ParseThresholdRange("10:20")->AlertsAbove(9));
    EXPECT_FALSE(ParseThresholdRange("@10:20")->AlertsAbove(21));

    for (const char* text : {"", "@", "~", "-10", "20:10", "10:20:30", "ten", "10C", " 10", "~:~",
                             "10:~", "nan", "inf", "1:inf", "@@10"})
        EXPECT_FALSE(ParseThresholdRange(text)) << '"' << text << '"';
}
