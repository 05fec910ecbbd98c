#pragma once

// The input of the targets that feed a byte stream in pieces of the input's choosing: one
// control byte, as many piece sizes as its bits 0-2 say (0 stands for 1024), then the
// stream. The control byte's other bits are the target's own.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

struct TPieces {
    std::uint8_t Control = 0;
    // At least one size.
    std::vector<std::size_t> Sizes;
    std::vector<std::uint8_t> Stream;
};

inline TPieces SplitPieces(const std::uint8_t* data, std::size_t size) {
    constexpr std::uint8_t SIZE_COUNT_BITS = 0x07;
    constexpr std::size_t ZERO_SIZE = 1024;
    TPieces pieces;
    pieces.Control = size == 0 ? 0 : data[0];
    const std::size_t count = std::min<std::size_t>(pieces.Control & SIZE_COUNT_BITS, size - 1);
    for (std::size_t i = 1; i <= count; ++i)
        pieces.Sizes.push_back(data[i] == 0 ? ZERO_SIZE : data[i]);
    if (pieces.Sizes.empty())
        pieces.Sizes.push_back(ZERO_SIZE);
    pieces.Stream.assign(data + std::min(size, count + 1), data + size);
    return pieces;
}
