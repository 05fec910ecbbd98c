#pragma once

// A bare station for the simulator tests, made from the transport layer alone, and a
// simulator on 127.0.0.1 with a port the system picks.

#include "NBSockets30.h"
#include "SimDevice.h"

#include <chrono>
#include <gtest/gtest.h>
#include <string>

using namespace std::chrono_literals;

// Bytes written as hexadecimal numbers separated by blanks.
TSimBytes Hex(const std::string& text);

class TSimClient {
public:
    explicit TSimClient(int port, const std::string& address = "127.0.0.1");
    ~TSimClient();
    TSimClient(const TSimClient&) = delete;
    TSimClient& operator=(const TSimClient&) = delete;

    bool Connected() const { return fSocket != INVALID_SOCKET; }
    bool Send(const TSimBytes& payload);
    // One reply frame's payload. On failure, Error holds the socket layer's last error.
    bool Receive(TSimBytes& reply, std::uint32_t timeoutMs = 1000);
    // Send, then Receive; the reply, or empty on failure (Error set).
    TSimBytes Ask(const std::string& requestHex, std::uint32_t timeoutMs = 1000);
    // Sends raw bytes, not framed.
    bool SendRaw(const TSimBytes& bytes);

    int Error = 0;

private:
    TSocket fSocket = INVALID_SOCKET;
};

// A started device on a free loopback port.
class SimTest : public ::testing::Test {
protected:
    SimTest();
    void Run(const std::string& line);
    // Sends a request on a fresh connection and gives its reply, or empty on failure.
    TSimBytes AskOnce(const std::string& requestHex);

    TSimDevice Device;
};
