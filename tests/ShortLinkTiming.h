#pragma once

// Link times for tests that wait out time-outs: the same steps as with the station's own
// times, in a fraction of the time.

#include "UnitThread.h"

#include <chrono>

inline constexpr TLinkTiming SHORT_LINK_TIMING{std::chrono::milliseconds(500),
                                               std::chrono::milliseconds(50)};
