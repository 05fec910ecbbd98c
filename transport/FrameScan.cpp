#include "FrameScan.h"

#include "NBSockets30.h"

#include <algorithm>
#include <cstdio>

namespace {

using TBytes = std::vector<std::uint8_t>;

// Drops everything before the first start mark, or all but a last 0x05 when there is none.
void SkipToStart(TBytes& pending) {
    const auto start = std::adjacent_find(pending.begin(), pending.end(),
                                          [](auto a, auto b) { return a == 0x05 && b == 0x05; });
    const bool keepLast = start == pending.end() && !pending.empty() && pending.back() == 0x05;
    pending.erase(pending.begin(), keepLast ? pending.end() - 1 : start);
}

// The payload length a frame starting at the front of pending declares.
std::size_t DeclaredLength(const TBytes& pending) {
    return static_cast<std::size_t>((pending[3] & 0x7F) * 128 + (pending[2] & 0x7F));
}

} // namespace

TFrameScan TakeFrame(TBytes& pending, TBytes& payload, std::size_t limit) {
    SkipToStart(pending);
    if (pending.size() < 4)
        return TFrameScan::None;
    const auto mark = std::adjacent_find(pending.begin() + 2, pending.end(),
                                         [](auto a, auto b) { return a == 0x06 && b == 0x06; });
    const auto frameEnd = mark == pending.end() ? mark : mark + 2;
    if (static_cast<std::size_t>(frameEnd - pending.begin()) > limit) {
        pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(
                                                             std::min(limit, pending.size())));
        return TFrameScan::Overlong;
    }
    if (mark == pending.end())
        return TFrameScan::None;
    // The codec writes no more than the declared length.
    payload.resize(DeclaredLength(pending));
    int length = 0;
    const bool valid = DecodeFrame(pending.data(), static_cast<int>(frameEnd - pending.begin()),
                                   payload.data(), length);
    payload.resize(valid ? static_cast<std::size_t>(length) : 0);
    pending.erase(pending.begin(), frameEnd);
    return valid ? TFrameScan::Payload : TFrameScan::Broken;
}

std::string HexText(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    char digits[4];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", byte);
        text += std::string(text.empty() ? "" : " ") + digits;
    }
    return text;
}
