#include "RelayRequest.h"

#include "FrameScan.h"
#include "SettingsFields.h"

#include <algorithm>

namespace {

// The command the payload would be if it is a write: its code taken from the length and
// its argument from where that command keeps it.
bool MatchesWrite(const std::vector<std::uint8_t>& payload, int code, TCommand& command) {
    command = TCommand{code, payload.empty() ? 0 : payload.back(), {}};
    if (code == CMD_WRITE_SETTINGS && payload.size() == MAX_WRITE_REQUEST)
        std::copy(payload.end() - SETTINGS_BLOCK_SIZE, payload.end(), command.Settings.begin());
    TWriteRequest request;
    return BuildWriteRequest(code, command.Argument, command.Settings, request) &&
           payload.size() == static_cast<std::size_t>(request.Length) &&
           std::equal(payload.begin(), payload.end(), request.Bytes.begin());
}

bool ValidArgument(const TCommand& command) {
    switch (command.Code) {
    case CMD_SELECT_INPUT:
        return command.Argument == 1 || command.Argument == 2;
    case CMD_POWER_MONITORING:
        return command.Argument >= 0 && command.Argument <= 3;
    default:
        return true;
    }
}

} // namespace

TRelayRequest ClassifyRequest(const std::vector<std::uint8_t>& payload) {
    TRelayRequest request;
    for (int group = 1; group <= GROUP_COUNT; ++group) {
        const auto& read = GroupSpec(group).Request;
        if (std::equal(payload.begin(), payload.end(), read.begin(), read.end())) {
            request.Kind = TRequestKind::Read;
            request.Group = group;
            return request;
        }
    }
    for (int code = CMD_SELECT_INPUT; code <= CMD_POWER_MONITORING; ++code) {
        if (MatchesWrite(payload, code, request.Command) && ValidArgument(request.Command)) {
            request.Kind = TRequestKind::Write;
            return request;
        }
    }
    request.Command = {};
    return request;
}

std::string CommandName(int code) {
    switch (code) {
    case CMD_SELECT_INPUT:
        return "select";
    case CMD_AUTO_MODE:
        return "auto";
    case CMD_WRITE_SETTINGS:
        return "settings";
    default:
        return "power";
    }
}

std::string CommandText(const TCommand& command) {
    if (command.Code == CMD_SELECT_INPUT)
        return CommandName(command.Code) + (command.Argument == 2 ? " B" : " A");
    if (command.Code == CMD_POWER_MONITORING)
        return CommandName(command.Code) + " mask " + std::to_string(command.Argument);
    return CommandName(command.Code);
}

std::string SettingsChanges(const std::uint8_t* before, const TSettingsBlock& after) {
    TSettingsBlock old{};
    std::copy_n(before, old.size(), old.begin());
    const std::string changes =
        SettingChangesText(SettingsFromBlock(old), SettingsFromBlock(after));
    return changes.empty() ? "none" : changes;
}

std::string PayloadText(const std::vector<std::uint8_t>& payload) {
    constexpr std::size_t SHOWN = 32;
    if (payload.size() <= SHOWN)
        return HexText(payload);
    return HexText({payload.begin(), payload.begin() + SHOWN}) + " ...";
}
