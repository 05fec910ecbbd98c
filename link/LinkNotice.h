#pragma once

// What a link tells the window thread, before any queue carries it: a message number, one
// value, a second value for link statistics, and for a status group a copy of its payload.

#include "DeviceProtocol.h"

#include <array>
#include <cstdint>

constexpr int WM_SW_COMMAND = 1025;
constexpr int WM_SW_CONNECTED = 1026;
constexpr int WM_SW_STOPPED = 1027;
constexpr int WM_SW_LINKSTAT = 1028;
// WM_SW_GROUP + g carries group g (1..5).
constexpr int WM_SW_GROUP = 1124;

struct TLinkNotice {
    int Message = 0;
    // Connected flag, stop code, link statistics kind.
    std::int32_t Param = 0;
    // Link statistics value.
    std::int32_t Value = 0;
    std::array<std::uint8_t, MAX_GROUP_PAYLOAD> Payload{};
};
