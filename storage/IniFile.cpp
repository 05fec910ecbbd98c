#include "IniFile.h"

#include "IntegerText.h"
#include "SafeFile.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::size_t READ_CHUNK = 1 << 16;

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

// Opens fileName for reading when it is a regular file; -1 otherwise. The open does not
// wait for a writer, as it would at a named pipe.
int OpenRegularFile(const std::string& fileName) {
    const int file = open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info {};
    if (file >= 0 && (fstat(file, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(file);
        return -1;
    }
    return file;
}

// Adds the complete lines of chunk to lines, their line ends removed; partial holds the
// start of a line that the next chunk completes.
void AddLines(std::string_view chunk, std::string& partial, std::vector<std::string>& lines) {
    for (std::size_t end = chunk.find('\n'); end != std::string_view::npos;
         end = chunk.find('\n')) {
        partial.append(chunk.substr(0, end));
        if (partial.ends_with('\r'))
            partial.pop_back();
        lines.push_back(std::move(partial));
        partial.clear();
        chunk.remove_prefix(end + 1);
    }
    partial.append(chunk);
}

// The lines of a regular file, line ends removed; none for any other file.
std::vector<std::string> ReadLines(const std::string& fileName) {
    std::vector<std::string> lines;
    const int file = OpenRegularFile(fileName);
    if (file < 0)
        return lines;
    std::string partial;
    std::vector<char> chunk(READ_CHUNK);
    for (;;) {
        const ssize_t got = read(file, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        AddLines(std::string_view(chunk.data(), static_cast<std::size_t>(got)), partial, lines);
    }
    close(file);
    // The last line need not end in a line end.
    if (!partial.empty())
        AddLines("\n", partial, lines);
    return lines;
}

} // namespace

TIniFile::TIniFile(std::string fileName)
    : fFileName(std::move(fileName)), fLines(ReadLines(fFileName)) {}

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
    std::string text;
    for (const std::string& line : fLines)
        text += line + '\n';
    return ReplaceFileText(fFileName, text);
}
