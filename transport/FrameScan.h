#pragma once

// Frames taken one by one from a byte stream that arrives in pieces: what a device, or
// anything that answers like one, does with the bytes a station sends it.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class TFrameScan {
    // No complete frame yet; the bytes of a frame begun stay for the next call.
    None,
    // A frame was taken and its payload decoded.
    Payload,
    // A frame was taken but failed the codec's checks.
    Broken,
    // A frame begun has run past limit bytes without its end mark; those bytes were dropped.
    Overlong,
};

// Drops bytes that cannot belong to a frame from the front of pending, then takes the
// first complete frame off it and decodes its payload into payload. A frame longer than
// limit bytes is given up as soon as that is clear.
TFrameScan TakeFrame(std::vector<std::uint8_t>& pending, std::vector<std::uint8_t>& payload,
                     std::size_t limit);

// Bytes as two-digit upper-case hexadecimal numbers separated by blanks.
std::string HexText(const std::vector<std::uint8_t>& bytes);
