#pragma once

// The benchmark's output: one line per figure as soon as it is measured, the goal it is
// held to where there is one, and a last line that sums up the goals.

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

// Something that keeps the benchmark from measuring at all: the simulator or the link
// failing, a helper process not starting. Never a missed goal.
class TBenchError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// printf-style formatting into a string.
std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Nearest-rank percentile of sorted values, share 0.5 for the median; 0 when empty.
double Percentile(const std::vector<double>& sorted, double share);

// A span of the steady clock in milliseconds.
double Milliseconds(std::chrono::steady_clock::duration span);

// Whether a goal depends on how fast the machine is or how busy it is. Memory, counts and
// the ratio of one figure to another taken alike do not, and a strict run holds them.
enum class TGoalKind { Speed, Fixed };

class TBenchReport {
public:
    // A figure without a goal.
    void Figure(const std::string& name, const std::string& text);
    // A figure held to a goal, e.g. goal "p99 < 12 ms": printed with PASS or MISS.
    void Goal(const std::string& name, const std::string& text, const std::string& goal, bool met,
              TGoalKind kind = TGoalKind::Speed);
    // "summary: all 8 goals met" or "summary: 2 of 8 goals missed: NAME, NAME".
    void Summary() const;
    // Whether a goal of kind Fixed was missed.
    bool FixedGoalMissed() const { return fFixedMissed; }

private:
    int fGoals = 0;
    std::vector<std::string> fMissed;
    bool fFixedMissed = false;
};
