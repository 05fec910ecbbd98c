#pragma once

// Text from outside -- a targets file, the command line, a device -- as valid UTF-8:
// Prometheus refuses a whole scrape for one label that is not, and log collectors
// garble or drop such lines.

#include <cstddef>
#include <string>
#include <string_view>

// True when the bytes are well-formed UTF-8: no stray or missing continuation bytes,
// no overlong forms, no surrogates, nothing above U+10FFFF.
bool IsUtf8(std::string_view text);

// The text with every byte that is not part of a well-formed UTF-8 character written
// as "\xNN"; valid text is returned as it is.
std::string EscapeInvalidUtf8(std::string_view text);

// The length in bytes of the control character (C0, DEL or C1) that starts at utf8[at];
// 0 when none does. Its code is the last of those bytes.
std::size_t ControlCharacterLength(std::string_view utf8, std::size_t at);

// True when valid UTF-8 text holds a control character.
bool HasControlCharacter(std::string_view utf8);

// The number of characters of valid UTF-8 text.
std::size_t CharacterCount(std::string_view utf8);
