#include "BenchReport.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>

std::string Format(const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

double Milliseconds(std::chrono::steady_clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

double Percentile(const std::vector<double>& sorted, double share) {
    if (sorted.empty())
        return 0;
    const auto rank =
        static_cast<std::size_t>(std::ceil(share * static_cast<double>(sorted.size())));
    return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

void TBenchReport::Figure(const std::string& name, const std::string& text) {
    std::printf("%-29s %s\n", name.c_str(), text.c_str());
    std::fflush(stdout);
}

void TBenchReport::Goal(const std::string& name, const std::string& text, const std::string& goal,
                        bool met, TGoalKind kind) {
    ++fGoals;
    if (!met) {
        fMissed.push_back(name);
        fFixedMissed = fFixedMissed || kind == TGoalKind::Fixed;
    }
    const char* strict = kind == TGoalKind::Fixed ? ", strict" : "";
    Figure(name, text + "  [goal " + goal + strict + (met ? ": PASS]" : ": MISS]"));
}

void TBenchReport::Summary() const {
    if (fMissed.empty()) {
        std::printf("summary: all %d goals met\n", fGoals);
        return;
    }
    std::string names;
    for (const std::string& name : fMissed)
        names += (names.empty() ? "" : ", ") + name;
    std::printf("summary: %zu of %d goals missed: %s\n", fMissed.size(), fGoals, names.c_str());
}
