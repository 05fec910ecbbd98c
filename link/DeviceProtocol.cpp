#include "DeviceProtocol.h"

#include <algorithm>

namespace {

constexpr std::array<TGroupSpec, GROUP_COUNT> GROUPS = {{
    {{0x00, 0x00, 0x80, 0x01, 0x00}, {0xFF, 0xFF, 0x10, 0x01, 0x11}, 17},
    {{0x01, 0x00, 0x80, 0x06, 0x00}, {0x01, 0x00, 0x10, 0x06, 0x09}, 9},
    {{0x01, 0x01, 0x80, 0x06, 0x00}, {0x01, 0x01, 0x10, 0x06, 0x15}, 21},
    {{0x01, 0x03, 0x80, 0x06, 0x00}, {0x01, 0x03, 0x10, 0x06, 0x05}, 5},
    {{0x01, 0x02, 0x80, 0x06, 0x00}, {0x01, 0x02, 0x10, 0x06, 0x0E}, 14},
}};

constexpr std::array<std::uint8_t, ACK_SIZE> STATE_ACK = {0x01, 0x00, 0x10, 0x70, 0x01, 0x05};
constexpr std::array<std::uint8_t, ACK_SIZE> SETTINGS_ACK = {0x01, 0x01, 0x10, 0x70, 0x01, 0x05};
constexpr std::array<std::uint8_t, ACK_SIZE> POWER_ACK = {0x01, 0x03, 0x10, 0x70, 0x01, 0x05};

template <std::size_t N>
void Fill(TWriteRequest& request, const std::array<std::uint8_t, N>& bytes,
          const std::array<std::uint8_t, ACK_SIZE>& ack, int group) {
    std::copy(bytes.begin(), bytes.end(), request.Bytes.begin());
    request.Length = static_cast<int>(N);
    request.Ack = ack;
    request.Group = group;
}

std::uint8_t LowByte(std::int32_t value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

} // namespace

const TGroupSpec& GroupSpec(int group) {
    return GROUPS.at(static_cast<std::size_t>(group - 1));
}

bool BuildWriteRequest(int command, std::int32_t argument, const TSettingsBlock& settings,
                       TWriteRequest& request) {
    using Bytes6 = std::array<std::uint8_t, 6>;
    switch (command) {
    case CMD_SELECT_INPUT:
        Fill(request,
             std::array<std::uint8_t, 8>{0x01, 0x00, 0x80, 0x05, 0x03, 0x01, 0x01,
                                         LowByte(argument)},
             STATE_ACK, GROUP_STATE);
        return true;
    case CMD_AUTO_MODE:
        Fill(request, Bytes6{0x01, 0x00, 0x80, 0x05, 0x01, 0x02}, STATE_ACK, GROUP_STATE);
        return true;
    case CMD_WRITE_SETTINGS:
        Fill(request, Bytes6{0x01, 0x01, 0x80, 0x05, 0x16, 0x01}, SETTINGS_ACK, GROUP_SETTINGS);
        std::copy(settings.begin(), settings.end(), request.Bytes.begin() + 6);
        request.Length = MAX_WRITE_REQUEST;
        return true;
    case CMD_POWER_MONITORING:
        Fill(request,
             std::array<std::uint8_t, 7>{0x01, 0x03, 0x80, 0x05, 0x02, 0x01, LowByte(argument)},
             POWER_ACK, GROUP_POWER);
        return true;
    default:
        return false;
    }
}

bool AcceptPollReply(int group, const std::uint8_t* reply, int length) {
    const TGroupSpec& layout = GroupSpec(group);
    return length == HEADER_SIZE + layout.PayloadLength &&
           std::equal(layout.ReplyHeader.begin(), layout.ReplyHeader.end(), reply);
}

bool AcceptWriteReply(const TWriteRequest& request, const std::uint8_t* reply, int length) {
    return length == ACK_SIZE && std::equal(request.Ack.begin(), request.Ack.end(), reply);
}

std::uint32_t CycleRate(std::uint32_t cycles, std::uint32_t elapsedMs) {
    const std::uint64_t scaled = static_cast<std::uint64_t>(cycles) * 1000U;
    const std::uint64_t quotient = scaled / elapsedMs;
    const std::uint64_t twiceRest = 2 * (scaled % elapsedMs);
    const bool up = twiceRest > elapsedMs || (twiceRest == elapsedMs && (quotient & 1U) != 0);
    return static_cast<std::uint32_t>(quotient + (up ? 1 : 0));
}
