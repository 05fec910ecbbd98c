#pragma once

// The relay's part of the exporter's command line: where relays listen, which clients
// may write, how many clients a device takes, and the ports of devices without one of
// their own.

#include "Targets.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// An IPv4 network: the addresses whose bits under the mask equal the network's.
struct TAddressRange {
    std::uint32_t Network = 0;
    std::uint32_t Mask = 0;
};

struct TRelayOptions {
    std::string ListenAddress = "127.0.0.1";
    // Device k (from 1, in the order listed) without a relay of its own listens on
    // BasePort + k - 1; 0 lets the system pick every port. None: no such relays.
    std::optional<int> BasePort;
    // Clients that may write; none, the default, makes every relay read-only.
    std::vector<TAddressRange> AllowWrite;
    int MaxClients = 32;
};

constexpr int MAX_RELAY_CLIENTS = 10000;

// True for the names of the relay's options.
bool IsRelayOption(const std::string& name);
// Applies one relay option; "" or the reason its value is bad.
std::string ApplyRelayOption(const std::string& name, const std::string& value,
                             TRelayOptions& options);

// "CIDR[,CIDR...]", each "A.B.C.D/BITS" or a single address; the reason when bad.
std::string ParseAddressRanges(const std::string& text, std::vector<TAddressRange>& ranges);
// address in host byte order.
bool InRanges(const std::vector<TAddressRange>& ranges, std::uint32_t address);

// Gives each target without a relay of its own the port of its place in the list, when a
// base port is set. The targets are the unique ones, in their order.
void AssignRelayPorts(std::vector<TTarget>& targets, const TRelayOptions& options);
