#pragma once

// The requests a relay accepts from its clients: the five reads and the four writes,
// each exactly as the station's link forms it, and how a write reads in the audit.

#include "CommandQueue.h"

#include <cstdint>
#include <string>
#include <vector>

enum class TRequestKind { Read, Write, Unknown };

struct TRelayRequest {
    TRequestKind Kind = TRequestKind::Unknown;
    // The group a read asks for.
    int Group = 0;
    // The command a write carries.
    TCommand Command;
};

TRelayRequest ClassifyRequest(const std::vector<std::uint8_t>& payload);

// "select", "auto", "settings" or "power": the command label of the relay's metrics.
std::string CommandName(int code);

// The command as the audit tells it: "select B", "auto", "power mask 2", "settings".
std::string CommandText(const TCommand& command);

// The settings a settings write changes against the payload of the settings group the
// device reported before it: "sync-time 1.9->2.5 s, level on->off", or "none".
std::string SettingsChanges(const std::uint8_t* before, const TSettingsBlock& after);

// The first bytes of a payload as hexadecimal numbers, for a log line.
std::string PayloadText(const std::vector<std::uint8_t>& payload);
