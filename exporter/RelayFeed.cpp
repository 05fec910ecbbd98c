#include "RelayFeed.h"

#include "UnitThread.h"

#include <algorithm>
#include <utility>

namespace {

constexpr unsigned ALL_GROUPS = (1U << GROUP_COUNT) - 1;

} // namespace

TRelayFeed::TRelayFeed(TSwObject& link) : fLink(&link) {}

void TRelayFeed::GroupRead(int group, const std::uint8_t* reply, int length) {
    const auto now = TRelayClock::now();
    const std::lock_guard lock(fLock);
    if (group == GROUP_IDENTITY) {
        // The identity opens every connection.
        ++fConnection;
        fGroupsRead = 0;
        fUp = false;
    }
    TReplyBytes& kept = fReplies[static_cast<std::size_t>(group - 1)];
    kept.Length = std::min(length, MAX_REPLY_SIZE);
    std::copy_n(reply, kept.Length, kept.Bytes.begin());
    fReadTimes[static_cast<std::size_t>(group - 1)] = now;
    fLatestRead = now;
    fGroupsRead |= 1U << (group - 1);
    if (!fUp && fGroupsRead == ALL_GROUPS) {
        fUp = true;
        Wake();
    }
}

void TRelayFeed::CommandEnded(const TCommand& command, TCommandEnd end, const std::uint8_t* reply,
                              int length) {
    TCommandOutcome outcome{command, end, {}, std::min(length, ACK_SIZE)};
    std::copy_n(reply, outcome.ReplyLength, outcome.Reply.begin());
    const std::lock_guard lock(fLock);
    fOutcome = outcome;
    Wake();
}

void TRelayFeed::LinkEnded(int) {
    const std::lock_guard lock(fLock);
    fUp = false;
    fGroupsRead = 0;
    Wake();
}

void TRelayFeed::SetWake(std::function<void()> wake) {
    const std::lock_guard lock(fLock);
    fWake = std::move(wake);
}

void TRelayFeed::Detach() {
    const std::lock_guard lock(fLock);
    fLink = nullptr;
}

std::uint64_t TRelayFeed::Serving() const {
    const std::lock_guard lock(fLock);
    return fUp ? fConnection : 0;
}

bool TRelayFeed::FreshReply(std::uint64_t connection, int group, TRelayClock::time_point now,
                            TRelayClock::duration maxAge, TReplyBytes& reply,
                            TRelayClock::duration& age) const {
    const auto at = static_cast<std::size_t>(group - 1);
    const std::lock_guard lock(fLock);
    if (!fUp || fConnection != connection)
        return false;
    // A reply read after the caller took its time is as fresh as data gets, not younger.
    age = std::max(now - (group == GROUP_IDENTITY ? fLatestRead : fReadTimes[at]),
                   TRelayClock::duration::zero());
    if (age > maxAge)
        return false;
    reply = fReplies[at];
    return true;
}

std::array<std::uint8_t, MAX_GROUP_PAYLOAD> TRelayFeed::Settings() const {
    std::array<std::uint8_t, MAX_GROUP_PAYLOAD> payload{};
    const std::lock_guard lock(fLock);
    const TReplyBytes& reply = fReplies[GROUP_SETTINGS - 1];
    std::copy_n(reply.Bytes.begin() + HEADER_SIZE, GroupSpec(GROUP_SETTINGS).PayloadLength,
                payload.begin());
    return payload;
}

bool TRelayFeed::Post(std::uint64_t connection, const TCommand& command) {
    const std::lock_guard lock(fLock);
    if (fLink == nullptr || !fUp || fConnection != connection)
        return false;
    fOutcome.reset();
    PostToLink(*fLink, command);
    return true;
}

std::optional<TCommandOutcome> TRelayFeed::TakeOutcome() {
    const std::lock_guard lock(fLock);
    return std::exchange(fOutcome, std::nullopt);
}

void TRelayFeed::Wake() {
    if (fWake)
        fWake();
}

void PostToLink(TSwObject& link, const TCommand& command) {
    switch (command.Code) {
    case CMD_SELECT_INPUT:
        return link.SelectInput(command.Argument);
    case CMD_AUTO_MODE:
        return link.SetAutoMode();
    case CMD_WRITE_SETTINGS:
        return link.WriteSettings(command.Settings);
    case CMD_POWER_MONITORING:
        return link.SetPowerMonitoring(command.Argument);
    default:
        return;
    }
}
