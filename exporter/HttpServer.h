#pragma once

// A small HTTP/1.1 server for the exporter's few read-only pages: one thread of its own
// waits on every connection at once, so clients that send slowly or not at all hold no
// thread and cannot keep others from being answered. Each reply closes its connection.

#include <chrono>
#include <functional>
#include <list>
#include <string>
#include <thread>

struct THttpReply {
    int Status = 200;
    std::string ContentType;
    std::string Body;
};

// The reply to a GET of a path, given without its query; called on the server's thread.
using THttpHandler = std::function<THttpReply(const std::string& path)>;

class THttpServer {
public:
    // A request must arrive whole within this time of its connection; a reply that
    // makes no progress for as long is dropped.
    static constexpr std::chrono::seconds REQUEST_TIMEOUT{5};
    // The most connections open at once; a connection beyond ends the oldest.
    static constexpr std::size_t MAX_CONNECTIONS = 512;

    // Listens on "HOST:PORT", ":PORT" (every interface, IPv6 and IPv4) or "[IPV6]:PORT"
    // (port 0: one the system picks). HEAD is answered as GET without the body, other
    // methods with 405. Throws std::runtime_error with a one-line reason when it cannot
    // listen.
    THttpServer(const std::string& listenAddress, THttpHandler handler);
    // Ends every connection.
    ~THttpServer();
    THttpServer(const THttpServer&) = delete;
    THttpServer& operator=(const THttpServer&) = delete;

    // The port listened on.
    int Port() const;

private:
    using TClock = std::chrono::steady_clock;
    struct TConnection;

    void Run();
    int WaitMs() const;
    void Accept();
    void Serve(TConnection& connection, short events);
    void Receive(TConnection& connection);
    void Answer(TConnection& connection);
    void Send(TConnection& connection);
    void Drain(TConnection& connection);

    THttpHandler fHandler;
    int fListen = -1;
    int fWake = -1;
    std::list<TConnection> fConnections;
    TClock::time_point fAcceptPausedUntil;
    std::jthread fThread;
};
