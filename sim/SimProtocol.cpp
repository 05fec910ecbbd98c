#include "SimProtocol.h"

#include <algorithm>
#include <array>

namespace {

using TPayloadOf = TSimBytes (*)(const TSimState&);

// One read request, the header of its reply and the group that follows the header.
struct TReadRequest {
    std::array<std::uint8_t, 5> Request;
    std::array<std::uint8_t, 5> Header;
    TPayloadOf Payload;
};

constexpr TReadRequest READS[] = {
    {{0x00, 0x00, 0x80, 0x01, 0x00}, {0xFF, 0xFF, 0x10, 0x01, 0x11}, IdentityPayload},
    {{0x01, 0x00, 0x80, 0x06, 0x00}, {0x01, 0x00, 0x10, 0x06, 0x09}, StatePayload},
    {{0x01, 0x01, 0x80, 0x06, 0x00}, {0x01, 0x01, 0x10, 0x06, 0x15}, SettingsPayload},
    {{0x01, 0x03, 0x80, 0x06, 0x00}, {0x01, 0x03, 0x10, 0x06, 0x05}, PowerPayload},
    {{0x01, 0x02, 0x80, 0x06, 0x00}, {0x01, 0x02, 0x10, 0x06, 0x0E}, CountersPayload},
};

// Write requests: a fixed prefix and the whole request's length.
constexpr std::uint8_t SELECT_PREFIX[] = {0x01, 0x00, 0x80, 0x05, 0x03, 0x01, 0x01};
constexpr std::uint8_t AUTO_REQUEST[] = {0x01, 0x00, 0x80, 0x05, 0x01, 0x02};
constexpr std::uint8_t SETTINGS_PREFIX[] = {0x01, 0x01, 0x80, 0x05, 0x16, 0x01};
constexpr std::uint8_t POWER_PREFIX[] = {0x01, 0x03, 0x80, 0x05, 0x02, 0x01};

template <std::size_t N>
bool Matches(const TSimBytes& request, const std::uint8_t (&prefix)[N], std::size_t total) {
    return request.size() == total && std::equal(prefix, prefix + N, request.begin());
}

// The acknowledgement of a write to the group whose selector's second byte is given.
TSimAnswer Acknowledge(std::uint8_t group) {
    return TSimAnswer{{0x01, group, 0x10, 0x70, 0x01, 0x05}, true};
}

bool AnswerRead(const TSimState& state, const TSimBytes& request, TSimAnswer& answer) {
    for (const TReadRequest& read : READS) {
        if (std::equal(request.begin(), request.end(), read.Request.begin(), read.Request.end())) {
            const TSimBytes group = read.Payload(state);
            answer.Payload.assign(read.Header.begin(), read.Header.end());
            answer.Payload.insert(answer.Payload.end(), group.begin(), group.end());
            answer.Acknowledgement = false;
            return true;
        }
    }
    return false;
}

bool AnswerSelect(TSimState& state, const TSimBytes& request, TSimAnswer& answer) {
    const int input = request.size() == sizeof SELECT_PREFIX + 1 ? request.back() : 0;
    if (!Matches(request, SELECT_PREFIX, sizeof SELECT_PREFIX + 1) ||
        (input != SIM_INPUT_A && input != SIM_INPUT_B))
        return false;
    SelectInput(state, input);
    answer = Acknowledge(0x00);
    return true;
}

bool AnswerAuto(TSimState& state, const TSimBytes& request, TSimAnswer& answer) {
    if (!Matches(request, AUTO_REQUEST, sizeof AUTO_REQUEST))
        return false;
    SetAutoMode(state);
    answer = Acknowledge(0x00);
    return true;
}

bool AnswerSettings(TSimState& state, const TSimBytes& request, TSimAnswer& answer) {
    if (!Matches(request, SETTINGS_PREFIX, sizeof SETTINGS_PREFIX + SIM_SETTINGS_SIZE))
        return false;
    StoreSettings(state, request.data() + sizeof SETTINGS_PREFIX);
    answer = Acknowledge(0x01);
    return true;
}

bool AnswerPower(TSimState& state, const TSimBytes& request, TSimAnswer& answer) {
    if (!Matches(request, POWER_PREFIX, sizeof POWER_PREFIX + 1))
        return false;
    state.PowerMask = request.back() & 3;
    answer = Acknowledge(0x03);
    return true;
}

} // namespace

bool AnswerRequest(TSimState& state, const TSimBytes& request, TSimAnswer& answer) {
    return AnswerRead(state, request, answer) || AnswerSelect(state, request, answer) ||
           AnswerAuto(state, request, answer) || AnswerSettings(state, request, answer) ||
           AnswerPower(state, request, answer);
}

TSimBytes NextGroupRequest(const TSimBytes& request) {
    constexpr std::size_t count = std::size(READS);
    for (std::size_t i = 0; i < count; ++i) {
        if (std::equal(request.begin(), request.end(), READS[i].Request.begin(),
                       READS[i].Request.end())) {
            const auto& next = READS[(i + 1) % count].Request;
            return TSimBytes(next.begin(), next.end());
        }
    }
    return request;
}
