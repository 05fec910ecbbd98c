#include "HttpServer.h"

#include <algorithm>
#include <cerrno>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <stdexcept>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

// The longest request head taken; the requests answered here have no body.
constexpr std::size_t MAX_REQUEST_HEAD = 16384;
// After its reply a connection's further input is read and dropped for up to this long
// before it is closed: closing with input unread would reset the connection, and the
// client could lose the reply.
constexpr auto LINGER = 1s;
// How long a full table of open files keeps new connections waiting in the backlog.
constexpr auto ACCEPT_PAUSE = 100ms;

enum class TPhase { Request, Reply, Drain };

struct TRequest {
    std::string Method;
    std::string Path;
};

bool WouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

// The host and port of "HOST:PORT", ":PORT" or "[IPV6]:PORT".
std::pair<std::string, std::string> SplitAddress(const std::string& address) {
    const std::size_t colon = address.rfind(':');
    std::string host = address.substr(0, colon);
    if (host.starts_with("[") && host.ends_with("]"))
        host = host.substr(1, host.size() - 2);
    return {host, colon == std::string::npos ? "" : address.substr(colon + 1)};
}

// A listening socket on the address; -1 when there can be none. An IPv6 socket takes
// IPv4 connections too, so the IPv6 wildcard is every interface of both.
int ListenOn(const addrinfo& address) {
    const int fd = socket(address.ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    const int off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (address.ai_family == AF_INET6)
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    if (bind(fd, address.ai_addr, address.ai_addrlen) == 0 && listen(fd, SOMAXCONN) == 0)
        return fd;
    close(fd);
    return -1;
}

// Listens on the first address the host stands for that can be listened on: for every
// interface (no host) IPv6 first, which takes IPv4 as well; for a name IPv4 first.
int Listen(const std::string& listenAddress) {
    const auto [host, port] = SplitAddress(listenAddress);
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &found) != 0)
        return -1;
    int fd = -1;
    for (const int family :
         host.empty() ? std::vector{AF_INET6, AF_INET} : std::vector{AF_INET, AF_INET6}) {
        for (const addrinfo* address = found; address != nullptr && fd < 0;
             address = address->ai_next) {
            if (address->ai_family == family)
                fd = ListenOn(*address);
        }
    }
    freeaddrinfo(found);
    return fd;
}

std::size_t HeadEnd(const std::string& data) {
    const std::size_t crlf = data.find("\r\n\r\n");
    return crlf != std::string::npos ? crlf : data.find("\n\n");
}

// "METHOD TARGET HTTP/1.x" of a complete head; nothing when it is not one.
std::optional<TRequest> ParseRequest(const std::string& head) {
    if (HeadEnd(head) == std::string::npos)
        return std::nullopt;
    const std::string line = head.substr(0, head.find_first_of("\r\n"));
    const std::size_t first = line.find(' ');
    const std::size_t second = line.find(' ', first + 1);
    if (first == 0 || first == std::string::npos || second == std::string::npos)
        return std::nullopt;
    const std::string target = line.substr(first + 1, second - first - 1);
    if (!target.starts_with("/") || !line.substr(second + 1).starts_with("HTTP/1."))
        return std::nullopt;
    return TRequest{line.substr(0, first), target.substr(0, target.find('?'))};
}

const char* StatusText(int status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    default:
        return "";
    }
}

std::string ReplyHead(const THttpReply& reply) {
    return "HTTP/1.1 " + std::to_string(reply.Status) + " " + StatusText(reply.Status) +
           "\r\nContent-Type: " + reply.ContentType +
           "\r\nContent-Length: " + std::to_string(reply.Body.size()) + "\r\n" +
           (reply.Status == 405 ? "Allow: GET, HEAD\r\n" : "") + "Connection: close\r\n\r\n";
}

} // namespace

struct THttpServer::TConnection {
    TConnection(int fd, TClock::time_point deadline) : Fd(fd), Deadline(deadline) {}
    ~TConnection() { close(Fd); }
    TConnection(const TConnection&) = delete;
    TConnection& operator=(const TConnection&) = delete;

    int Fd;
    TClock::time_point Deadline;
    TPhase Phase = TPhase::Request;
    // The request as it arrives, then the reply.
    std::string Data;
    std::size_t Sent = 0;
    bool Done = false;
};

THttpServer::THttpServer(const std::string& listenAddress, THttpHandler handler)
    : fHandler(std::move(handler)), fListen(Listen(listenAddress)) {
    if (fListen < 0)
        throw std::runtime_error("cannot listen on " + listenAddress +
                                 " (address in use or not available)");
    fWake = eventfd(0, EFD_CLOEXEC);
    if (fWake < 0) {
        close(fListen);
        throw std::runtime_error("cannot listen on " + listenAddress + " (out of resources)");
    }
    fThread = std::jthread([this] { Run(); });
}

THttpServer::~THttpServer() {
    const std::uint64_t stop = 1;
    [[maybe_unused]] const ssize_t written = write(fWake, &stop, sizeof stop);
    fThread.join();
    fConnections.clear();
    close(fListen);
    close(fWake);
}

int THttpServer::Port() const {
    sockaddr_storage address{};
    socklen_t size = sizeof address;
    getsockname(fListen, reinterpret_cast<sockaddr*>(&address), &size);
    const auto port = address.ss_family == AF_INET6
                          ? reinterpret_cast<const sockaddr_in6&>(address).sin6_port
                          : reinterpret_cast<const sockaddr_in&>(address).sin_port;
    return ntohs(port);
}

void THttpServer::Run() {
    std::vector<pollfd> polled;
    for (;;) {
        const bool accepting = TClock::now() >= fAcceptPausedUntil;
        polled.assign({{fWake, POLLIN, 0}, {accepting ? fListen : -1, POLLIN, 0}});
        for (const TConnection& connection : fConnections) {
            const short wanted = connection.Phase == TPhase::Reply ? POLLOUT : POLLIN;
            polled.push_back({connection.Fd, wanted, 0});
        }
        poll(polled.data(), polled.size(), WaitMs());
        if (polled[0].revents != 0)
            return;
        auto event = polled.begin() + 2;
        for (auto it = fConnections.begin(); it != fConnections.end(); ++event) {
            if (event->revents != 0)
                Serve(*it, event->revents);
            const bool over = it->Done || TClock::now() >= it->Deadline;
            it = over ? fConnections.erase(it) : std::next(it);
        }
        if (polled[1].revents != 0)
            Accept();
    }
}

// Until the next deadline of a connection or the end of a pause of accepting.
int THttpServer::WaitMs() const {
    const TClock::time_point now = TClock::now();
    TClock::time_point wake = fAcceptPausedUntil > now ? fAcceptPausedUntil : now + 1s;
    for (const TConnection& connection : fConnections)
        wake = std::min(wake, connection.Deadline);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - now).count();
    return static_cast<int>(std::clamp<long long>(wait, 0, 1000));
}

// Takes every connection waiting; at the limit each new one ends the oldest. Out of
// file descriptors, accepting pauses, and the connections wait in the backlog.
void THttpServer::Accept() {
    for (;;) {
        const int fd = accept4(fListen, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM)
                fAcceptPausedUntil = TClock::now() + ACCEPT_PAUSE;
            return;
        }
        if (fConnections.size() >= MAX_CONNECTIONS)
            fConnections.pop_front();
        fConnections.emplace_back(fd, TClock::now() + REQUEST_TIMEOUT);
    }
}

void THttpServer::Serve(TConnection& connection, short events) {
    if ((events & POLLNVAL) != 0) {
        connection.Done = true;
        return;
    }
    switch (connection.Phase) {
    case TPhase::Request:
        Receive(connection);
        break;
    case TPhase::Reply:
        Send(connection);
        break;
    case TPhase::Drain:
        Drain(connection);
        break;
    }
}

void THttpServer::Receive(TConnection& connection) {
    char buffer[4096];
    const ssize_t got = recv(connection.Fd, buffer, sizeof buffer, 0);
    if (got <= 0) {
        connection.Done = got == 0 || !WouldBlock();
        return;
    }
    connection.Data.append(buffer, static_cast<std::size_t>(got));
    if (HeadEnd(connection.Data) != std::string::npos || connection.Data.size() > MAX_REQUEST_HEAD)
        Answer(connection);
}

void THttpServer::Answer(TConnection& connection) {
    const std::optional<TRequest> request = ParseRequest(connection.Data);
    const bool get = request && (request->Method == "GET" || request->Method == "HEAD");
    const THttpReply reply =
        get ? fHandler(request->Path)
        : request
            ? THttpReply{405, "text/plain; charset=utf-8", "Only GET and HEAD are answered.\n"}
            : THttpReply{400, "text/plain; charset=utf-8", "Bad request.\n"};
    connection.Data = ReplyHead(reply);
    if (!request || request->Method != "HEAD")
        connection.Data += reply.Body;
    connection.Phase = TPhase::Reply;
    connection.Deadline = TClock::now() + REQUEST_TIMEOUT;
    Send(connection);
}

// Sends what the socket takes; once all is sent, the connection only drains.
void THttpServer::Send(TConnection& connection) {
    std::string& data = connection.Data;
    while (connection.Sent < data.size()) {
        const ssize_t sent = send(connection.Fd, data.data() + connection.Sent,
                                  data.size() - connection.Sent, MSG_NOSIGNAL);
        if (sent < 0) {
            connection.Done = !WouldBlock();
            return;
        }
        connection.Sent += static_cast<std::size_t>(sent);
        connection.Deadline = TClock::now() + REQUEST_TIMEOUT;
    }
    shutdown(connection.Fd, SHUT_WR);
    data = std::string();
    connection.Phase = TPhase::Drain;
    connection.Deadline = TClock::now() + LINGER;
}

void THttpServer::Drain(TConnection& connection) {
    char buffer[4096];
    const ssize_t got = recv(connection.Fd, buffer, sizeof buffer, 0);
    connection.Done = got == 0 || (got < 0 && !WouldBlock());
}
