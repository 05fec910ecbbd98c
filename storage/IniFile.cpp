#include "IniFile.h"

#include "IntegerText.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <string_view>
#include <unistd.h>

namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool SameText(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                              [&](char x, char y) { return lower(x) == lower(y); });
}

bool IsHeader(std::string_view line) {
    line = Trim(line);
    return line.starts_with('[') && line.find(']') != std::string_view::npos;
}

std::string_view HeaderName(std::string_view line) {
    line = Trim(line);
    return Trim(line.substr(1, line.find(']') - 1));
}

bool IsComment(std::string_view line) {
    line = Trim(line);
    return line.starts_with(';') || line.starts_with('#');
}

// The key of a "key=value" line; empty when the line is no such line.
std::string_view KeyOf(std::string_view line) {
    const std::size_t equals = line.find('=');
    if (IsComment(line) || equals == std::string_view::npos)
        return {};
    return Trim(line.substr(0, equals));
}

std::string_view ValueOf(std::string_view line) {
    return Trim(line.substr(line.find('=') + 1));
}

bool WriteAll(int file, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t written = write(file, text.data() + done, text.size() - done);
        if (written <= 0)
            return false;
        done += static_cast<std::size_t>(written);
    }
    return true;
}

} // namespace

TIniFile::TIniFile(std::string fileName) : fFileName(std::move(fileName)) {
    std::ifstream in(fFileName, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (line.ends_with('\r'))
            line.pop_back();
        fLines.push_back(line);
    }
}

std::size_t TIniFile::SectionEnd(std::size_t headerLine) const {
    std::size_t end = headerLine + 1;
    while (end < fLines.size() && !IsHeader(fLines[end]))
        ++end;
    return end;
}

TIniFile::TKeyPlace TIniFile::Find(const std::string& section, const std::string& key) const {
    TKeyPlace place{fLines.size(), fLines.size(), false, false};
    for (std::size_t i = 0; i < fLines.size() && !place.SectionFound; ++i) {
        if (IsHeader(fLines[i]) && SameText(HeaderName(fLines[i]), section)) {
            place.SectionLine = i;
            place.SectionFound = true;
        }
    }
    if (!place.SectionFound)
        return place;
    const std::size_t end = SectionEnd(place.SectionLine);
    for (std::size_t i = place.SectionLine + 1; i < end && !place.KeyFound; ++i) {
        if (SameText(KeyOf(fLines[i]), key) && !key.empty()) {
            place.KeyLine = i;
            place.KeyFound = true;
        }
    }
    return place;
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const TKeyPlace place = Find(section, key);
    return place.KeyFound ? std::string(ValueOf(fLines[place.KeyLine])) : defaultValue;
}

int TIniFile::ReadInteger(const std::string& section, const std::string& key,
                          int defaultValue) const {
    std::int32_t value = 0;
    return TextToInteger(ReadString(section, key, ""), value) ? value : defaultValue;
}

void TIniFile::WriteString(const std::string& section, const std::string& key,
                           const std::string& value) {
    const TKeyPlace place = Find(section, key);
    if (place.KeyFound) {
        const std::string& line = fLines[place.KeyLine];
        fLines[place.KeyLine] = std::string(Trim(line.substr(0, line.find('=')))) + '=' + value;
        return;
    }
    if (!place.SectionFound) {
        if (!fLines.empty() && !Trim(fLines.back()).empty())
            fLines.emplace_back();
        fLines.push_back('[' + section + ']');
        fLines.push_back(key + '=' + value);
        return;
    }
    // New keys go after the last entry of their section, before any blank lines.
    std::size_t at = SectionEnd(place.SectionLine);
    while (at > place.SectionLine + 1 && Trim(fLines[at - 1]).empty())
        --at;
    fLines.insert(fLines.begin() + static_cast<std::ptrdiff_t>(at), key + '=' + value);
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

bool TIniFile::UpdateFile() const {
    // An existing file that may not be written is a failure, even though replacing it
    // through the folder would succeed.
    if (access(fFileName.c_str(), F_OK) == 0 && access(fFileName.c_str(), W_OK) != 0)
        return false;
    std::string text;
    for (const std::string& line : fLines)
        text += line + '\n';
    const std::string temporary = fFileName + ".new";
    const int file = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (file < 0)
        return false;
    const bool written = WriteAll(file, text) && fsync(file) == 0;
    if (close(file) != 0 || !written || std::rename(temporary.c_str(), fFileName.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
