#pragma once

// The application layer of the device protocol: the fixed read requests, the write
// commands, and the checks a reply must pass before its payload is used.

#include "NBSockets30.h"

#include <array>
#include <cstdint>

// Write command codes.
constexpr int CMD_SELECT_INPUT = 1;
constexpr int CMD_AUTO_MODE = 2;
constexpr int CMD_WRITE_SETTINGS = 3;
constexpr int CMD_POWER_MONITORING = 4;

// Status groups, in the order of their numbers.
constexpr int GROUP_IDENTITY = 1;
constexpr int GROUP_STATE = 2;
constexpr int GROUP_SETTINGS = 3;
constexpr int GROUP_POWER = 4;
constexpr int GROUP_COUNTERS = 5;
constexpr int GROUP_COUNT = 5;

constexpr int HEADER_SIZE = 5;
constexpr int ACK_SIZE = 6;
constexpr int SETTINGS_BLOCK_SIZE = 21;
// Largest group payload (the settings group).
constexpr int MAX_GROUP_PAYLOAD = 21;
// Longest write request: the settings command.
constexpr int MAX_WRITE_REQUEST = 6 + SETTINGS_BLOCK_SIZE;

using TSettingsBlock = std::array<std::uint8_t, SETTINGS_BLOCK_SIZE>;

struct TGroupSpec {
    std::array<std::uint8_t, HEADER_SIZE> Request;
    std::array<std::uint8_t, HEADER_SIZE> ReplyHeader;
    int PayloadLength;
};

// The read request and expected reply of group g (1..5).
const TGroupSpec& GroupSpec(int group);

// A write request ready to send, and the one acknowledgement it accepts.
struct TWriteRequest {
    std::array<std::uint8_t, MAX_WRITE_REQUEST> Bytes{};
    int Length = 0;
    std::array<std::uint8_t, ACK_SIZE> Ack{};
    // The group whose notification goes out first in the cycle of the write.
    int Group = 0;
};

// Builds the request of a command code (1..4). argument is the input (select) or the
// mask (power); settings supplies the block of the settings command. False for any
// other code.
bool BuildWriteRequest(int command, std::int32_t argument, const TSettingsBlock& settings,
                       TWriteRequest& request);

// True when a decoded reply of length bytes answers group g's read request.
bool AcceptPollReply(int group, const std::uint8_t* reply, int length);

// True when a decoded reply is exactly the request's acknowledgement.
bool AcceptWriteReply(const TWriteRequest& request, const std::uint8_t* reply, int length);

// cycles * 1000 / elapsedMs, rounded to the nearest integer with halves to even.
std::uint32_t CycleRate(std::uint32_t cycles, std::uint32_t elapsedMs);
