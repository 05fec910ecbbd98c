#pragma once

// The text form of IPv4 addresses: checking what the operator typed or the settings
// file holds, the one normal form, and comparison.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

// Four bytes, the first number of the dotted quad in the first byte.
using TAddressValue = std::array<std::uint8_t, 4>;

// Longer address texts are refused before they are read at all: far longer than any
// dotted quad written by hand or by the station, short enough to read in no time.
inline constexpr std::size_t ADDRESS_TEXT_LIMIT = 64;

// True when text is a valid dotted quad, at most ADDRESS_TEXT_LIMIT characters long once
// blanks and control characters around it are removed. value always receives the
// numbers before the first bad field, with zeros from there on (all zeros when the field
// count is wrong or the text is too long).
bool ParseAddress(const std::string& text, TAddressValue& value);

// The value ParseAddress leaves for text, whether or not the text was valid.
TAddressValue AddressValue(const std::string& text);

// The four numbers, each formatted with a printf-style format taking one int, joined by ".".
std::string FormatAddressWith(const TAddressValue& value, const char* format);

// The normal form: the four numbers in decimal without leading zeros.
std::string FormatAddress(const TAddressValue& value);

bool SameAddress(const TAddressValue& first, const TAddressValue& second);
