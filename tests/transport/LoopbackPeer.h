#pragma once

// Loopback connections for the transport tests. Everything here binds and connects to
// 127.0.0.1 only.

#include "NBSockets30.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// A listening socket on 127.0.0.1 with a port the system picks.
class LoopbackListener {
public:
    explicit LoopbackListener(int backlog = 8);
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    int Port() const { return port; }
    // The next incoming connection as a blocking descriptor, or -1 when none came in time.
    int Accept(int timeoutMs = 2000);
    // Fills the accept queue of a listener made with backlog 0 with connections nobody
    // accepts. Linux drops a SYN that meets a full queue, so a further connect stays in
    // progress until its own time-out. False when no connect could be made to hang.
    bool FillBacklog();

private:
    int fd = -1;
    int port = 0;
    std::vector<int> fillers;
};

// One connection: the client end made the station's way (SocketOpen and
// SocketConnectTimeout, non-blocking) and the server end as a plain blocking descriptor.
class LoopbackPair {
public:
    LoopbackPair();
    ~LoopbackPair();
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;

    bool Connected() const { return client != INVALID_SOCKET && server >= 0; }
    bool Write(const std::vector<std::uint8_t>& bytes) const;
    // Closes the server end, in order or with a reset.
    void CloseServer(bool reset = false);

    TSocket client = INVALID_SOCKET;
    int server = -1;

private:
    LoopbackListener listener;
};

// Writes every byte to a blocking descriptor; a closed peer fails the write, no SIGPIPE.
bool WriteAll(int fd, const std::uint8_t* bytes, std::size_t count);

// A loopback port that nothing listens on (bound for a moment, then released).
int UnusedLoopbackPort();
