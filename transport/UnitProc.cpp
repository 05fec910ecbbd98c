#include "UnitProc.h"

#include "IntegerText.h"

#include <cstdio>
#include <optional>
#include <string_view>
#include <vector>

namespace {

constexpr char DELIMITER = '.';
constexpr char PORT_SEPARATOR = ':';
constexpr std::size_t PORT_TEXT_LIMIT = 5;
constexpr char QUOTE = '"';
constexpr std::int32_t NOT_A_NUMBER = 999;

bool IsBlank(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

bool IsBlankOrZero(char c) {
    return static_cast<unsigned char>(c) <= 32;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlankOrZero(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && IsBlankOrZero(text.back()))
        text.remove_suffix(1);
    return text;
}

void SkipBlanks(std::string_view text, std::size_t& i) {
    while (i < text.size() && IsBlank(text[i]))
        ++i;
}

// A quoted field starting at the opening quote: up to the closing quote, where two
// quotes in a row stand for one. An unclosed quote runs to the end of the text.
std::string TakeQuoted(std::string_view text, std::size_t& i) {
    std::string field;
    for (++i; i < text.size(); ++i) {
        if (text[i] != QUOTE) {
            field += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == QUOTE) {
            field += QUOTE;
            ++i;
        } else {
            ++i;
            break;
        }
    }
    return field;
}

std::string TakePlain(std::string_view text, std::size_t& i) {
    const std::size_t from = i;
    while (i < text.size() && !IsBlankOrZero(text[i]) && text[i] != DELIMITER)
        ++i;
    return std::string(text.substr(from, i - from));
}

// Splits text into fields as a delimited list is read: blanks around fields are
// skipped and also end a field, quotes group, and a trailing delimiter adds one more
// empty field.
std::vector<std::string> SplitFields(std::string_view text) {
    std::vector<std::string> fields;
    std::size_t i = 0;
    SkipBlanks(text, i);
    while (i < text.size()) {
        fields.push_back(text[i] == QUOTE ? TakeQuoted(text, i) : TakePlain(text, i));
        SkipBlanks(text, i);
        if (i < text.size() && text[i] == DELIMITER) {
            if (i + 1 == text.size())
                fields.emplace_back();
            ++i;
            SkipBlanks(text, i);
        }
    }
    return fields;
}

std::int32_t FieldNumber(std::string_view field) {
    std::int32_t number = 0;
    return TextToInteger(Trim(field), number) ? number : NOT_A_NUMBER;
}

bool ParseAddressText(std::string_view text, TAddressValue& value) {
    value = {0, 0, 0, 0};
    const std::string_view whole = Trim(text);
    if (whole.size() > ADDRESS_TEXT_LIMIT)
        return false;
    const std::vector<std::string> fields = SplitFields(whole);
    if (fields.size() != value.size())
        return false;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::int32_t number = FieldNumber(fields[i]);
        if (number < 0 || number > 255)
            return false;
        value[i] = static_cast<std::uint8_t>(number);
    }
    return true;
}

// The two parts of an "ADDRESS[:PORT]" text, without the blanks around it and ending
// at a zero byte as a C string does: the text before the first colon, and the text after
// it when there is a colon.
struct TEndpointText {
    std::string_view Address;
    std::optional<std::string_view> Port;
};

TEndpointText SplitEndpoint(const std::string& text) {
    const std::string_view whole = Trim(text.c_str());
    const std::size_t colon = whole.find(PORT_SEPARATOR);
    if (colon == std::string_view::npos)
        return {whole, std::nullopt};
    return {whole.substr(0, colon), whole.substr(colon + 1)};
}

} // namespace

bool ParseAddress(const std::string& text, TAddressValue& value) {
    // Text from a C string ends at its first zero byte.
    return ParseAddressText(text.c_str(), value);
}

TAddressValue AddressValue(const std::string& text) {
    TAddressValue value{};
    ParseAddress(text, value);
    return value;
}

std::string FormatAddressWith(const TAddressValue& value, const char* format) {
    std::string result;
    for (std::size_t i = 0; i < value.size(); ++i) {
        char number[64];
        std::snprintf(number, sizeof number, format, static_cast<int>(value[i]));
        if (i > 0)
            result += '.';
        result += number;
    }
    return result;
}

std::string FormatAddress(const TAddressValue& value) {
    return FormatAddressWith(value, "%d");
}

bool SameAddress(const TAddressValue& first, const TAddressValue& second) {
    return first == second;
}

bool ParsePort(std::string_view text, int& port) {
    if (text.empty() || text.size() > PORT_TEXT_LIMIT)
        return false;
    int number = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return false;
        number = number * 10 + (c - '0');
    }
    if (number < 1 || number > 65535)
        return false;
    port = number;
    return true;
}

bool ParseEndpoint(const std::string& text, TEndpoint& endpoint) {
    endpoint.Port = DEVICE_PORT;
    const TEndpointText parts = SplitEndpoint(text);
    int port = DEVICE_PORT;
    if (!ParseAddressText(parts.Address, endpoint.Address) ||
        (parts.Port && !ParsePort(*parts.Port, port)))
        return false;
    endpoint.Port = port;
    return true;
}

TEndpoint EndpointValue(const std::string& text) {
    TEndpoint endpoint;
    ParseEndpoint(text, endpoint);
    return endpoint;
}

std::string EndpointProblem(const std::string& text) {
    const TEndpointText parts = SplitEndpoint(text);
    TAddressValue value{};
    int port = DEVICE_PORT;
    if (!ParseAddressText(parts.Address, value))
        return "invalid IP address \"" + std::string(parts.Address) + "\"";
    if (parts.Port && !ParsePort(*parts.Port, port))
        return "invalid port \"" + std::string(*parts.Port) + "\"";
    return "";
}

std::string WithPort(const std::string& address, int port) {
    if (port == DEVICE_PORT)
        return address;
    return address + PORT_SEPARATOR + std::to_string(port);
}

std::string FormatEndpoint(const TEndpoint& endpoint) {
    return WithPort(FormatAddress(endpoint.Address), endpoint.Port);
}
