#pragma once

// One client connection of a relay: its socket, the bytes it sent that are not yet
// frames, the requests it waits on in order, and the replies not yet sent. The relay alone
// uses it, on its loop's thread.

#include "FrameScan.h"
#include "NBSockets30.h"
#include "RelayFeed.h"
#include "RelayRequest.h"

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// A write taken from a client, until the device has carried it out or failed to.
struct TRelayWrite {
    TRelayWrite(const TCommand& command, std::vector<std::uint8_t> request, std::string client,
                TRelayClock::time_point received)
        : Command(command), Request(std::move(request)), Client(std::move(client)),
          Received(received) {}

    TCommand Command;
    std::vector<std::uint8_t> Request;
    // The client that sent it, address:port.
    std::string Client;
    TRelayClock::time_point Received;
    // The settings it changes, told when it goes to the device.
    std::string Changes;
    // How and when it ended.
    std::optional<TCommandOutcome> Outcome;
    TRelayClock::time_point Ended;
};

// A request waiting for its turn to be answered: a read of Group, or a write.
struct TTicket {
    int Group = 0;
    std::shared_ptr<TRelayWrite> Write;
    TRelayClock::time_point Deadline;
};

class TRelayClient {
public:
    TRelayClient(TSocket socket, std::string peer, bool mayWrite, TRelayClock::time_point now);
    ~TRelayClient();
    TRelayClient(const TRelayClient&) = delete;
    TRelayClient& operator=(const TRelayClient&) = delete;

    TSocket Socket() const { return fSocket; }
    const std::string& Peer() const { return fPeer; }
    bool MayWrite() const { return fMayWrite; }

    // Reads what has arrived. False when the connection has ended, with the reason.
    bool Receive(std::string& reason);
    // Takes the next frame received; its payload is then in Payload().
    TFrameScan NextFrame();
    const std::vector<std::uint8_t>& Payload() const { return fPayload; }
    // Queues a reply frame with the payload given.
    void Reply(const std::uint8_t* payload, int length);
    // Sends the replies queued, as far as the socket takes them. False when the
    // connection has failed, with the reason.
    bool Send(std::string& reason);
    // The readiness to wait for: input unless the client is held back for replies it
    // does not take, output while replies wait.
    std::uint32_t WantedEvents() const;

    std::deque<TTicket> Tickets;
    // The write this client sent last.
    std::shared_ptr<TRelayWrite> LastWrite;
    TRelayClock::time_point LastRequest;
    // Requests left unanswered and logged, and left unanswered beyond those.
    int Unanswered = 0;
    int Unlogged = 0;

private:
    TSocket fSocket;
    const std::string fPeer;
    const bool fMayWrite;
    std::vector<std::uint8_t> fInput;
    std::vector<std::uint8_t> fPayload;
    std::vector<std::uint8_t> fOutput;
    std::size_t fSent = 0;
};
