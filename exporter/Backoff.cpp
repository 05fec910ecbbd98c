#include "Backoff.h"

#include <algorithm>

TBackoff::TBackoff(TRandom random) : fRandom(std::move(random)) {}

void TBackoff::Connected(TClock::time_point now) {
    fConnected = true;
    fConnectedAt = now;
}

// The n-th stop in a row waits between half and all of a ceiling that doubles from 2 s
// up to 60 s: 1-2 s, 2-4 s, 4-8 s ... 30-60 s. The random half keeps a fleet that lost
// its network at once from coming back at once.
std::chrono::milliseconds TBackoff::Stopped(TClock::time_point now) {
    if (fConnected && now - fConnectedAt >= STEADY)
        fFailures = 0;
    fConnected = false;
    const int doublings = std::min(fFailures, 6);
    ++fFailures;
    const auto ceiling = std::min(LONGEST, 2 * SHORTEST * (1 << doublings));
    const double share = 0.5 + 0.5 * std::clamp(fRandom(), 0.0, 1.0);
    return std::chrono::milliseconds(
        static_cast<long>(static_cast<double>(ceiling.count()) * share));
}
