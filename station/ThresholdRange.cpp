#include "ThresholdRange.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {

constexpr double INFINITE = std::numeric_limits<double>::infinity();

// A finite number that is the whole of text.
std::optional<double> Number(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value))
        return std::nullopt;
    return value;
}

// The start of "START:END": "~" is minus infinity, nothing is 0.
std::optional<double> Start(const std::string& text) {
    if (text == "~")
        return -INFINITE;
    return text.empty() ? 0 : Number(text);
}

// The end of "START:END": nothing is infinity.
std::optional<double> End(const std::string& text) {
    return text.empty() ? INFINITE : Number(text);
}

} // namespace

bool TThresholdRange::Alerts(double value) const {
    const bool inside = value >= Start && value <= End;
    return inside == Inside;
}

bool TThresholdRange::AlertsAbove(double value) const {
    return !Inside && value > End;
}

TThresholdRange UpTo(int highest) {
    return {0, static_cast<double>(highest), false, std::to_string(highest)};
}

std::optional<TThresholdRange> ParseThresholdRange(const std::string& text) {
    TThresholdRange range;
    range.Text = text;
    range.Inside = text.starts_with('@');
    const std::string bounds = text.substr(range.Inside ? 1 : 0);
    const std::size_t colon = bounds.find(':');
    const std::optional<double> start =
        colon == std::string::npos ? 0 : Start(bounds.substr(0, colon));
    const std::optional<double> end =
        colon == std::string::npos ? Number(bounds) : End(bounds.substr(colon + 1));
    if (!start || !end || *start > *end)
        return std::nullopt;
    range.Start = *start;
    range.End = *end;
    return range;
}
