#pragma once

// The devices the exporter watches: one target per address and port, from the command
// line and from a targets file, and the text that names each in logs and metrics.

#include "UnitProc.h"

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
    int Port = DEVICE_PORT;
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
    // The numbers of the lines that were not UTF-8 and were read as Latin-1.
    std::vector<int> Latin1Lines;
};

// The longest address text (with its port) and label taken; the label in characters.
constexpr std::size_t MAX_ADDRESS_TEXT = 21;
constexpr std::size_t MAX_LABEL_TEXT = 64;
// The largest targets file read: 100,000 devices with the longest address and label in
// four-byte characters take 28 MB.
constexpr std::size_t MAX_TARGETS_FILE_SIZE = 32 << 20;

// "ADDRESS" or "ADDRESS:PORT" when the port is not the device's own; the device label
// of every metric and log line.
std::string DeviceKey(const TTarget& target);

// "ADDRESS[:PORT][=NAME]" as given on the command line; nothing when it is malformed,
// with the reason in error. A name that is not UTF-8 is read as Latin-1.
std::optional<TTarget> ParseTargetArgument(const std::string& text, std::string& error);

// "[ADDRESS:]PORT" into endpoint; the reason when it is not one.
std::string ParseRelayEndpoint(const std::string& text, TRelayEndpoint& endpoint);

// A targets file's text: one device a line, "ADDRESS[:PORT] [relay=[ADDRESS:]PORT] [LABEL]",
// blank lines and
// lines whose first non-blank character is '#' ignored. A bad line is reported and
// skipped; the rest is taken. A line that is not UTF-8 is read as Latin-1.
TTargetList ParseTargetsText(const std::string& text, const std::string& fileName);

// Reads and parses a targets file; nothing when it cannot be read, with the reason. Only
// a regular file up to MAX_TARGETS_FILE_SIZE is read, and it is opened without waiting
// for a writer, so a FIFO or a device is refused at once.
std::optional<TTargetList> ReadTargetsFile(const std::string& fileName, std::string& error);

// The targets in first-seen order, each device once: a later duplicate of a device is
// dropped, its label included.
std::vector<TTarget> UniqueTargets(const std::vector<TTarget>& targets);
