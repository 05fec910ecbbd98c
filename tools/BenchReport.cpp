#include "BenchReport.h"

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

void TBenchReport::Figure(const std::string& name, const std::string& text) {
    std::printf("%-20s %s\n", name.c_str(), text.c_str());
    std::fflush(stdout);
}

void TBenchReport::Goal(const std::string& name, const std::string& text, const std::string& goal,
                        bool met) {
    ++fGoals;
    if (!met)
        fMissed.push_back(name);
    Figure(name, text + "  [goal " + goal + (met ? ": met]" : ": MISSED]"));
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
