#include "RelayOptions.h"

#include "ExporterOptions.h"
#include "UnitProc.h"

#include <algorithm>

namespace {

const char* const NAMES[] = {"--relay.listen-address", "--relay.base-port", "--relay.allow-write",
                             "--relay.max-clients"};

std::uint32_t HostOrder(const TAddressValue& value) {
    return static_cast<std::uint32_t>(value[0]) << 24 | static_cast<std::uint32_t>(value[1]) << 16 |
           static_cast<std::uint32_t>(value[2]) << 8 | value[3];
}

std::string ParseRange(const std::string& text, TAddressRange& range) {
    const std::size_t slash = text.find('/');
    TAddressValue value{};
    int bits = 32;
    if (!ParseAddress(text.substr(0, slash), value) ||
        (slash != std::string::npos && !ParseNumber(text.substr(slash + 1), 0, 32, bits)))
        return "--relay.allow-write takes A.B.C.D[/BITS] ranges separated by commas, not \"" +
               text + "\"";
    range.Mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    range.Network = HostOrder(value) & range.Mask;
    return "";
}

} // namespace

bool IsRelayOption(const std::string& name) {
    return std::find(std::begin(NAMES), std::end(NAMES), name) != std::end(NAMES);
}

std::string ApplyRelayOption(const std::string& name, const std::string& value,
                             TRelayOptions& options) {
    if (name == "--relay.listen-address") {
        TAddressValue address{};
        if (!ParseAddress(value, address))
            return "--relay.listen-address takes an IPv4 address, e.g. 127.0.0.1";
        options.ListenAddress = FormatAddress(address);
        return "";
    }
    if (name == "--relay.base-port") {
        int port = 0;
        if (!ParseNumber(value, 0, 65535, port))
            return "--relay.base-port takes a port from 0 to 65535";
        options.BasePort = port;
        return "";
    }
    if (name == "--relay.allow-write")
        return ParseAddressRanges(value, options.AllowWrite);
    if (!ParseNumber(value, 1, MAX_RELAY_CLIENTS, options.MaxClients))
        return "--relay.max-clients takes a number from 1 to " + std::to_string(MAX_RELAY_CLIENTS);
    return "";
}

std::string ParseAddressRanges(const std::string& text, std::vector<TAddressRange>& ranges) {
    ranges.clear();
    for (std::size_t from = 0; from <= text.size();) {
        const std::size_t comma = std::min(text.find(',', from), text.size());
        const std::string error =
            ParseRange(text.substr(from, comma - from), ranges.emplace_back());
        if (!error.empty())
            return error;
        from = comma + 1;
    }
    return "";
}

bool InRanges(const std::vector<TAddressRange>& ranges, std::uint32_t address) {
    return std::any_of(ranges.begin(), ranges.end(), [address](const TAddressRange& range) {
        return (address & range.Mask) == range.Network;
    });
}

void AssignRelayPorts(std::vector<TTarget>& targets, const TRelayOptions& options) {
    if (!options.BasePort)
        return;
    int port = *options.BasePort;
    for (TTarget& target : targets) {
        if (!target.Relay && port <= 65535)
            target.Relay = TRelayEndpoint{"", *options.BasePort == 0 ? 0 : port};
        ++port;
    }
}
