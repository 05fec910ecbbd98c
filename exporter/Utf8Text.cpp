#include "Utf8Text.h"

#include <algorithm>
#include <cstdio>

namespace {

unsigned char Byte(std::string_view text, std::size_t at) {
    return static_cast<unsigned char>(text[at]);
}

// What a lead byte starts: the sequence's length (0: none) and the range its second byte
// must be in, narrower than 80..BF where that rules out overlong forms, surrogates and
// code points above U+10FFFF.
struct TLead {
    std::size_t Length = 0;
    unsigned char Low = 0x80;
    unsigned char High = 0xBF;
};

TLead Lead(unsigned char byte) {
    if (byte < 0x80)
        return {1};
    if (byte >= 0xC2 && byte <= 0xDF)
        return {2};
    if (byte >= 0xE0 && byte <= 0xEF)
        return {3, static_cast<unsigned char>(byte == 0xE0 ? 0xA0 : 0x80),
                static_cast<unsigned char>(byte == 0xED ? 0x9F : 0xBF)};
    if (byte >= 0xF0 && byte <= 0xF4)
        return {4, static_cast<unsigned char>(byte == 0xF0 ? 0x90 : 0x80),
                static_cast<unsigned char>(byte == 0xF4 ? 0x8F : 0xBF)};
    return {};
}

// The length of the well-formed character at text[at], or 0 when there is none.
std::size_t CharacterLength(std::string_view text, std::size_t at) {
    const TLead lead = Lead(Byte(text, at));
    if (lead.Length == 0 || at + lead.Length > text.size())
        return 0;
    for (std::size_t i = 1; i < lead.Length; ++i) {
        const unsigned char next = Byte(text, at + i);
        if (next < (i == 1 ? lead.Low : 0x80) || next > (i == 1 ? lead.High : 0xBF))
            return 0;
    }
    return lead.Length;
}

} // namespace

bool IsUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharacterLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string EscapeInvalidUtf8(std::string_view text) {
    std::string escaped;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = CharacterLength(text, at);
        if (length > 0) {
            escaped.append(text.substr(at, length));
            at += length;
            continue;
        }
        char code[8];
        std::snprintf(code, sizeof code, "\\x%02x", Byte(text, at));
        escaped += code;
        ++at;
    }
    return escaped;
}

std::size_t ControlCharacterLength(std::string_view utf8, std::size_t at) {
    const unsigned char byte = Byte(utf8, at);
    if (byte < 0x20 || byte == 0x7F)
        return 1;
    // C1: U+0080 to U+009F, C2 80 to C2 9F.
    if (byte == 0xC2 && at + 1 < utf8.size() && Byte(utf8, at + 1) <= 0x9F)
        return 2;
    return 0;
}

bool HasControlCharacter(std::string_view utf8) {
    for (std::size_t at = 0; at < utf8.size(); ++at) {
        if (ControlCharacterLength(utf8, at) != 0)
            return true;
    }
    return false;
}

std::size_t CharacterCount(std::string_view utf8) {
    return static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), [](char c) {
        return (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    }));
}
