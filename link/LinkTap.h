#pragma once

// What a link's worker thread hands on as it goes, for a party that serves the device's
// own replies to others: every poll reply as read, and the end of every command it took.
// The worker calls the tap directly, so a tap must be quick and safe to call from the
// worker thread; a link without a tap behaves exactly as before.

#include "CommandQueue.h"

#include <cstdint>

// How a command the worker took has ended.
enum class TCommandEnd {
    // The device acknowledged it and the group it writes has been read again since.
    Done,
    // The device answered it with something other than its acknowledgement.
    Refused,
    // No answer, or the connection ended before the group was read again.
    Failed,
};

class TLinkTap {
public:
    virtual ~TLinkTap() = default;

    // A reply to group's read request (1..5) passed its checks; reply holds the decoded
    // payload whole, header included. The identity group comes first on each connection.
    virtual void GroupRead(int group, const std::uint8_t* reply, int length) = 0;
    // A command the worker took has ended. reply holds the device's answer (for Done its
    // acknowledgement as received); length is 0 when there was none.
    virtual void CommandEnded(const TCommand& command, TCommandEnd end, const std::uint8_t* reply,
                              int length) = 0;
    // The connection has ended, or never opened, with this stop code. Called once per
    // Connect, after every other call of that connection.
    virtual void LinkEnded(int stopCode) = 0;
};
