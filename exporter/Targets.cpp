#include "Targets.h"

#include "UnitProc.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

namespace {

// A targets file larger than this is refused whole: it cannot be a list of devices.
constexpr std::streamsize MAX_FILE_SIZE = 1 << 20;

bool ParsePort(const std::string& text, int& port) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    port = std::stoi(text);
    return port >= 1 && port <= 65535;
}

bool IsPrintable(const std::string& text) {
    return std::none_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// "ADDRESS" or "ADDRESS:PORT" into target; the reason when it is not one.
std::string ParseEndpoint(const std::string& text, TTarget& target) {
    if (text.size() > MAX_ADDRESS_TEXT)
        return "address too long";
    const std::size_t colon = text.find(':');
    const std::string address = text.substr(0, colon);
    TAddressValue value{};
    if (!ParseAddress(address, value))
        return "invalid IP address \"" + address + "\"";
    target.Address = FormatAddress(value);
    target.Port = 10001;
    if (colon != std::string::npos && !ParsePort(text.substr(colon + 1), target.Port))
        return "invalid port \"" + text.substr(colon + 1) + "\"";
    return "";
}

std::string CheckLabel(const std::string& label) {
    if (label.size() > MAX_LABEL_TEXT)
        return "label longer than " + std::to_string(MAX_LABEL_TEXT) + " characters";
    if (!IsPrintable(label))
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
    std::string error = ParseEndpoint(endpoint, target);
    target.Label = rest;
    if (error.empty())
        error = TakeRelayField(target);
    return error.empty() ? CheckLabel(target.Label) : error;
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
    if (target.Port == 10001)
        return target.Address;
    return target.Address + ":" + std::to_string(target.Port);
}

std::optional<TTarget> ParseTargetArgument(const std::string& text, std::string& error) {
    const std::size_t equals = text.find('=');
    TTarget target;
    error = ParseEndpoint(text.substr(0, equals), target);
    if (error.empty() && equals != std::string::npos) {
        target.Label = text.substr(equals + 1);
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
    std::ifstream file(fileName, std::ios::binary);
    if (!file) {
        error = "cannot read " + fileName + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(MAX_FILE_SIZE) + 1, '\0');
    file.read(text.data(), MAX_FILE_SIZE + 1);
    if (file.bad()) {
        error = "cannot read " + fileName + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (file.gcount() > MAX_FILE_SIZE) {
        error = "cannot read " + fileName + ": larger than 1 MiB";
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(file.gcount()));
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
