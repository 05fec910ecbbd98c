#pragma once

// When to try a device again after its link stopped by itself: exponential back-off
// from 1 s up to 60 s with jitter, starting over once a connection has lasted 60 s.

#include <chrono>
#include <functional>

class TBackoff {
public:
    using TClock = std::chrono::steady_clock;
    // Gives a number in [0, 1) each call.
    using TRandom = std::function<double()>;

    static constexpr std::chrono::milliseconds SHORTEST{1000};
    static constexpr std::chrono::milliseconds LONGEST{60000};
    // A connection that lasted this long resets the back-off.
    static constexpr std::chrono::milliseconds STEADY{60000};

    explicit TBackoff(TRandom random);

    // The link connected at now.
    void Connected(TClock::time_point now);
    // The link stopped at now without being asked to; the wait before the next attempt.
    std::chrono::milliseconds Stopped(TClock::time_point now);

private:
    TRandom fRandom;
    // Stops in a row since the last steady connection.
    int fFailures = 0;
    bool fConnected = false;
    TClock::time_point fConnectedAt{};
};
