#pragma once

#include <cstdint>
#include <string_view>

// Reads a whole text as a 32-bit signed integer: optional leading blanks, an optional
// sign, then decimal digits, or hexadecimal digits after one of the prefixes $, x, X,
// 0x or 0X. Returns false, leaving value untouched, when the text is anything else or
// the number lies outside the 32-bit range.
bool TextToInteger(std::string_view text, std::int32_t& value);
