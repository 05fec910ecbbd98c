#include "RelayClient.h"

#include <cerrno>
#include <cstring>
#include <sys/epoll.h>
#include <sys/socket.h>

namespace {

constexpr std::size_t READ_CHUNK = 4096;
// A request frame is at most this long: the settings write, every byte escaped.
constexpr std::size_t REQUEST_FRAME_LIMIT = 2 * MAX_WRITE_REQUEST + FRAME_OVERHEAD;
// A client whose replies pile up beyond these is not read until it takes them.
constexpr std::size_t OUTPUT_LIMIT = 16384;
constexpr std::size_t TICKET_LIMIT = 64;

} // namespace

TRelayClient::TRelayClient(TSocket socket, std::string peer, bool mayWrite,
                           TRelayClock::time_point now)
    : LastRequest(now), fSocket(socket), fPeer(std::move(peer)), fMayWrite(mayWrite) {}

TRelayClient::~TRelayClient() {
    SocketShutdown(fSocket);
}

bool TRelayClient::Receive(std::string& reason) {
    std::uint8_t chunk[READ_CHUNK];
    const ssize_t received = recv(fSocket, chunk, sizeof chunk, 0);
    if (received > 0) {
        fInput.insert(fInput.end(), chunk, chunk + received);
        return true;
    }
    if (received < 0 && (errno == EAGAIN || errno == EINTR))
        return true;
    reason = received == 0 ? "closed by client" : std::string("receive failed: ") + strerror(errno);
    return false;
}

TFrameScan TRelayClient::NextFrame() {
    return TakeFrame(fInput, fPayload, REQUEST_FRAME_LIMIT);
}

void TRelayClient::Reply(const std::uint8_t* payload, int length) {
    std::uint8_t frame[2 * MAX_REPLY_SIZE + FRAME_OVERHEAD];
    const int size = EncodeFrame(payload, length, frame);
    fOutput.insert(fOutput.end(), frame, frame + size);
}

bool TRelayClient::Send(std::string& reason) {
    while (fSent < fOutput.size()) {
        const ssize_t sent =
            send(fSocket, fOutput.data() + fSent, fOutput.size() - fSent, MSG_NOSIGNAL);
        if (sent < 0 && (errno == EAGAIN || errno == EINTR))
            break;
        if (sent < 0) {
            reason = std::string("send failed: ") + strerror(errno);
            return false;
        }
        fSent += static_cast<std::size_t>(sent);
    }
    if (fSent == fOutput.size() || fSent > OUTPUT_LIMIT) {
        fOutput.erase(fOutput.begin(), fOutput.begin() + static_cast<std::ptrdiff_t>(fSent));
        fSent = 0;
    }
    return true;
}

std::uint32_t TRelayClient::WantedEvents() const {
    const std::size_t waiting = fOutput.size() - fSent;
    const bool held = waiting > OUTPUT_LIMIT || Tickets.size() > TICKET_LIMIT;
    return (held ? 0U : static_cast<std::uint32_t>(EPOLLIN)) |
           (waiting > 0 ? static_cast<std::uint32_t>(EPOLLOUT) : 0U);
}
