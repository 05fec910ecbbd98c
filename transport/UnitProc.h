#pragma once

// The text form of IPv4 addresses, alone or with a port: checking what the operator
// typed or the settings file holds, the one normal form, and comparison.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

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

// The port a device listens on, and the one an address written without a port means.
inline constexpr int DEVICE_PORT = 10001;

// An address with the port to reach it on.
struct TEndpoint {
    TAddressValue Address{};
    int Port = DEVICE_PORT;
    bool operator==(const TEndpoint&) const = default;
};

// True when text is 1 to 5 decimal digits naming a port from 1 to 65535; port then
// receives it.
bool ParsePort(std::string_view text, int& port);

// True when text is "ADDRESS" or "ADDRESS:PORT": blanks and control characters around
// the whole text go and it ends at a zero byte, as for ParseAddress; the text before the
// first colon must be an address ParseAddress takes, the text after it 1 to 5 decimal
// digits naming a port from 1 to 65535. Without a colon this is ParseAddress on
// DEVICE_PORT. endpoint always receives the value ParseAddress leaves for the address
// part, and the port only when the whole text is valid (DEVICE_PORT otherwise).
bool ParseEndpoint(const std::string& text, TEndpoint& endpoint);

// The value ParseEndpoint leaves for text, whether or not the text was valid.
TEndpoint EndpointValue(const std::string& text);

// What is wrong with an "ADDRESS[:PORT]" text, naming the part as written:
// invalid IP address "ADDRESS" or invalid port "PORT"; "" when the text is valid.
std::string EndpointProblem(const std::string& text);

// address alone for DEVICE_PORT, else "address:port".
std::string WithPort(const std::string& address, int port);

// The normal form: FormatAddress, and the port after a colon unless it is DEVICE_PORT.
std::string FormatEndpoint(const TEndpoint& endpoint);
