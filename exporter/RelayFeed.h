#pragma once

// What a device's relay serves, taken from the exporter's own link to the device: the
// replies of its latest poll with the time each was read, whether the device is up, and
// the end of the command the relay handed to the link. The link's driver writes it; the
// relay reads it on its loop's thread and posts commands through it.

#include "LinkTap.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

class TSwObject;

using TRelayClock = std::chrono::steady_clock;

// The longest reply of a read request: header and the settings group.
constexpr int MAX_REPLY_SIZE = HEADER_SIZE + MAX_GROUP_PAYLOAD;

struct TReplyBytes {
    std::array<std::uint8_t, MAX_REPLY_SIZE> Bytes{};
    int Length = 0;
};

// How the command handed to the link ended, with the device's answer.
struct TCommandOutcome {
    TCommand Command;
    TCommandEnd End = TCommandEnd::Failed;
    std::array<std::uint8_t, ACK_SIZE> Reply{};
    int ReplyLength = 0;
};

class TRelayFeed : public TLinkTap {
public:
    // Commands go to link until Detach.
    explicit TRelayFeed(TSwObject& link);

    // The link's worker.
    void GroupRead(int group, const std::uint8_t* reply, int length) override;
    void CommandEnded(const TCommand& command, TCommandEnd end, const std::uint8_t* reply,
                      int length) override;
    void LinkEnded(int stopCode) override;

    // Called, from the worker's thread, whenever the device comes up or goes down or a
    // command ends; empty for nobody.
    void SetWake(std::function<void()> wake);
    // No command reaches the link after this returns.
    void Detach();

    // The number of the device's connection while it is up (its first pass complete),
    // counting from 1; 0 while it is down.
    std::uint64_t Serving() const;
    // Group's reply as last read on connection, when the data is no older than maxAge;
    // age receives how old it is. The identity is read once per connection and counts
    // as fresh as the connection's latest reply.
    bool FreshReply(std::uint64_t connection, int group, TRelayClock::time_point now,
                    TRelayClock::duration maxAge, TReplyBytes& reply,
                    TRelayClock::duration& age) const;
    // The settings group's payload as last read.
    std::array<std::uint8_t, MAX_GROUP_PAYLOAD> Settings() const;
    // Hands a command to the link while connection is still the one up; false otherwise.
    bool Post(std::uint64_t connection, const TCommand& command);
    // The end of the command posted last, once and once only.
    std::optional<TCommandOutcome> TakeOutcome();

private:
    void Wake();

    mutable std::mutex fLock;
    TSwObject* fLink;
    std::function<void()> fWake;
    std::uint64_t fConnection = 0;
    bool fUp = false;
    // Bit g - 1 for each group read on this connection.
    unsigned fGroupsRead = 0;
    std::array<TReplyBytes, GROUP_COUNT> fReplies{};
    std::array<TRelayClock::time_point, GROUP_COUNT> fReadTimes{};
    TRelayClock::time_point fLatestRead{};
    std::optional<TCommandOutcome> fOutcome;
};

// Carries a command to a link by its public command operations.
void PostToLink(TSwObject& link, const TCommand& command);
