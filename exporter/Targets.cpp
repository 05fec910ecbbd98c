#include "Targets.h"

#include "StationText.h"
#include "UnitProc.h"
#include "Utf8Text.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "ADDRESS" or "ADDRESS:PORT" into target; the reason when it is not one.
std::string TakeEndpoint(const std::string& text, TTarget& target) {
    if (text.size() > MAX_ADDRESS_TEXT)
        return "address too long";
    TEndpoint endpoint;
    if (!ParseEndpoint(text, endpoint))
        return EndpointProblem(text);
    target.Address = FormatAddress(endpoint.Address);
    target.Port = endpoint.Port;
    return "";
}

std::string CheckLabel(const std::string& label) {
    if (CharacterCount(label) > MAX_LABEL_TEXT)
        return "label longer than " + std::to_string(MAX_LABEL_TEXT) + " characters";
    if (HasControlCharacter(label))
        return "label with control characters";
    return "";
}

std::string Trim(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// The first word of text and the rest, trimmed.
std::pair<std::string, std::string> FirstWord(const std::string& text) {
    const std::size_t blank = text.find_first_of(" \t");
    return {text.substr(0, blank), blank == std::string::npos ? "" : Trim(text.substr(blank))};
}

// Takes a "relay=[ADDRESS:]PORT" word from the front of the label; the reason when bad.
std::string TakeRelayField(TTarget& target) {
    const std::string field = "relay=";
    if (!target.Label.starts_with(field))
        return "";
    auto [word, rest] = FirstWord(target.Label);
    target.Relay = TRelayEndpoint{};
    target.Label = rest;
    return ParseRelayEndpoint(word.substr(field.size()), *target.Relay);
}

// One non-blank, non-comment line; the reason when it is bad.
std::string ParseLine(const std::string& line, TTarget& target) {
    auto [endpoint, rest] = FirstWord(line);
    std::string error = TakeEndpoint(endpoint, target);
    target.Label = rest;
    if (error.empty())
        error = TakeRelayField(target);
    return error.empty() ? CheckLabel(target.Label) : error;
}

std::string AsUtf8(const std::string& text) {
    return IsUtf8(text) ? text : Latin1ToUtf8(text);
}

// The whole of a file, read as it comes; the reason when it cannot be read.
std::string ReadAll(int fd, std::string& text) {
    text.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::strerror(errno);
        if (got == 0)
            return "";
        text.append(buffer, static_cast<std::size_t>(got));
        if (text.size() > MAX_TARGETS_FILE_SIZE)
            return "larger than " + std::to_string(MAX_TARGETS_FILE_SIZE >> 20) + " MiB";
    }
}

// Opens a regular file for reading, without waiting for a writer; the reason when it
// cannot or is not one.
std::string OpenRegular(const std::string& fileName, int& fd) {
    fd = open(fileName.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::strerror(errno);
    struct stat status {};
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode))
        return "";
    close(fd);
    return "not a regular file";
}

} // namespace

std::string ParseRelayEndpoint(const std::string& text, TRelayEndpoint& endpoint) {
    const std::size_t colon = text.find(':');
    endpoint.Address.clear();
    if (colon != std::string::npos) {
        TAddressValue value{};
        if (!ParseAddress(text.substr(0, colon), value))
            return "invalid relay address \"" + text.substr(0, colon) + "\"";
        endpoint.Address = FormatAddress(value);
    }
    const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
    if (!ParsePort(port, endpoint.Port))
        return "invalid relay port \"" + port + "\"";
    return "";
}

std::string DeviceKey(const TTarget& target) {
    return WithPort(target.Address, target.Port);
}

std::optional<TTarget> ParseTargetArgument(const std::string& text, std::string& error) {
    const std::size_t equals = text.find('=');
    TTarget target;
    error = TakeEndpoint(text.substr(0, equals), target);
    if (error.empty() && equals != std::string::npos) {
        target.Label = AsUtf8(text.substr(equals + 1));
        error = CheckLabel(target.Label);
    }
    if (!error.empty())
        return std::nullopt;
    return target;
}

TTargetList ParseTargetsText(const std::string& text, const std::string& fileName) {
    TTargetList list;
    std::istringstream lines(text);
    std::string line;
    for (int number = 1; std::getline(lines, line); ++number) {
        if (!IsUtf8(line)) {
            line = Latin1ToUtf8(line);
            list.Latin1Lines.push_back(number);
        }
        const std::string content = Trim(line);
        if (content.empty() || content[0] == '#')
            continue;
        TTarget target;
        const std::string error = ParseLine(content, target);
        if (error.empty())
            list.Targets.push_back(target);
        else
            list.Errors.push_back({fileName, number, error});
    }
    return list;
}

std::optional<TTargetList> ReadTargetsFile(const std::string& fileName, std::string& error) {
    int fd = -1;
    error = OpenRegular(fileName, fd);
    std::string text;
    if (error.empty()) {
        error = ReadAll(fd, text);
        close(fd);
    }
    if (!error.empty()) {
        error = "cannot read " + fileName + ": " + error;
        return std::nullopt;
    }
    return ParseTargetsText(text, fileName);
}

std::vector<TTarget> UniqueTargets(const std::vector<TTarget>& targets) {
    std::vector<TTarget> unique;
    std::set<std::string> seen;
    for (const TTarget& target : targets) {
        if (seen.insert(DeviceKey(target)).second)
            unique.push_back(target);
    }
    return unique;
}
