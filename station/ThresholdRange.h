#pragma once

// The threshold ranges of monitoring plugins, as given to -w and -c: a value outside the
// range calls for the alert, or with a leading "@" a value inside it. Both ends belong to
// the range.
//   10      0 to 10            10:     10 or more        ~:10    at most 10
//   10:20   10 to 20           @10:20  alert from 10 to 20

#include <optional>
#include <string>

struct TThresholdRange {
    double Start = 0;
    double End = 0;
    // The alert is for values inside the range, not outside.
    bool Inside = false;
    // The range as it was written, for performance data.
    std::string Text;

    bool Alerts(double value) const;
    // True when value calls for the alert by being above the range.
    bool AlertsAbove(double value) const;
};

// The range from 0 to highest: "60" for 60.
TThresholdRange UpTo(int highest);

// The range text stands for; nothing when it is not one (the start above the end among
// others).
std::optional<TThresholdRange> ParseThresholdRange(const std::string& text);
