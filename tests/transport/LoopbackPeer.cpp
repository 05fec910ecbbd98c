#include "LoopbackPeer.h"

#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

int BoundPort(int fd) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int BindLoopback() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in address = Loopback(0);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool WaitFor(int fd, short events, int timeoutMs) {
    pollfd entry{fd, events, 0};
    return poll(&entry, 1, timeoutMs) == 1;
}

} // namespace

LoopbackListener::LoopbackListener(int backlog) {
    fd = BindLoopback();
    if (fd >= 0 && listen(fd, backlog) == 0)
        port = BoundPort(fd);
}

LoopbackListener::~LoopbackListener() {
    for (const int filler : fillers)
        close(filler);
    if (fd >= 0)
        close(fd);
}

int LoopbackListener::Accept(int timeoutMs) {
    if (port == 0 || !WaitFor(fd, POLLIN, timeoutMs))
        return -1;
    return accept(fd, nullptr, nullptr);
}

bool LoopbackListener::FillBacklog() {
    const sockaddr_in address = Loopback(port);
    for (int attempt = 0; port != 0 && attempt < 16; ++attempt) {
        const int filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (filler < 0)
            return false;
        fillers.push_back(filler);
        if (connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0)
            continue;
        if (errno != EINPROGRESS)
            return false;
        if (!WaitFor(filler, POLLOUT, 200))
            return true;
    }
    return false;
}

LoopbackPair::LoopbackPair() {
    if (listener.Port() == 0 || !SocketOpen(client))
        return;
    if (!SocketConnectTimeout(client, "127.0.0.1", listener.Port(), 2000)) {
        SocketClose(client);
        return;
    }
    server = listener.Accept();
    // Small writes from the tests should leave at once, each as its own segment.
    const int on = 1;
    if (server >= 0)
        setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

LoopbackPair::~LoopbackPair() {
    CloseServer();
    if (client != INVALID_SOCKET)
        close(client);
}

bool LoopbackPair::Write(const std::vector<std::uint8_t>& bytes) const {
    return WriteAll(server, bytes.data(), bytes.size());
}

void LoopbackPair::CloseServer(bool reset) {
    if (server < 0)
        return;
    if (reset) {
        const linger abort{1, 0};
        setsockopt(server, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    }
    close(server);
    server = -1;
}

bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count) {
    while (count > 0) {
        const ssize_t sent = send(fd, bytes, count, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            return false;
        bytes += sent;
        count -= static_cast<std::size_t>(sent);
    }
    return true;
}

int UnusedLoopbackPort() {
    const int fd = BindLoopback();
    const int port = fd >= 0 ? BoundPort(fd) : 0;
    if (fd >= 0)
        close(fd);
    return port;
}
