#pragma once

// The devices the exporter watches: one target per address and port, from the command
// line and from a targets file, and the text that names each in logs and metrics.

#include <optional>
#include <string>
#include <vector>

// Where a device's relay listens.
struct TRelayEndpoint {
    // Normal dotted form; empty for the relay's listen address.
    std::string Address;
    // 0 lets the system pick a port.
    int Port = 0;

    bool operator==(const TRelayEndpoint&) const = default;
};

struct TTarget {
    // Normal dotted form.
    std::string Address;
    int Port = 10001;
    // The operator's name for the device; may be empty.
    std::string Label;
    // Where the device's relay listens; none for no relay.
    std::optional<TRelayEndpoint> Relay;
};

// A line of a targets file that was skipped, and why.
struct TTargetError {
    std::string File;
    int Line = 0;
    std::string Reason;
};

struct TTargetList {
    std::vector<TTarget> Targets;
    std::vector<TTargetError> Errors;
};

// The longest address text (with its port) and label taken.
constexpr std::size_t MAX_ADDRESS_TEXT = 21;
constexpr std::size_t MAX_LABEL_TEXT = 64;

// "ADDRESS" or "ADDRESS:PORT" when the port is not the device's own; the device label
// of every metric and log line.
std::string DeviceKey(const TTarget& target);

// "ADDRESS[:PORT][=NAME]" as given on the command line; nothing when it is malformed,
// with the reason in error.
std::optional<TTarget> ParseTargetArgument(const std::string& text, std::string& error);

// "[ADDRESS:]PORT" into endpoint; the reason when it is not one.
std::string ParseRelayEndpoint(const std::string& text, TRelayEndpoint& endpoint);

// A targets file's text: one device a line, "ADDRESS[:PORT] [relay=[ADDRESS:]PORT] [LABEL]",
// blank lines and
// lines whose first non-blank character is '#' ignored. A bad line is reported and
// skipped; the rest is taken.
TTargetList ParseTargetsText(const std::string& text, const std::string& fileName);

// Reads and parses a targets file; nothing when it cannot be read, with the reason.
std::optional<TTargetList> ReadTargetsFile(const std::string& fileName, std::string& error);

// The targets in first-seen order, each device once: a later duplicate of a device is
// dropped, its label included.
std::vector<TTarget> UniqueTargets(const std::vector<TTarget>& targets);
