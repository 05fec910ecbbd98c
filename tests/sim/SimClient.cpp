#include "SimClient.h"

#include <sstream>

namespace {

TSimOptions FreePort() {
    TSimOptions options;
    options.Port = 0;
    return options;
}

} // namespace

TSimBytes Hex(const std::string& text) {
    TSimBytes bytes;
    std::istringstream in(text);
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

TSimClient::TSimClient(int port, const std::string& address) {
    if (!SocketOpen(fSocket))
        return;
    if (!SocketConnectTimeout(fSocket, address, port, 1000)) {
        Error = SocketLastError();
        SocketShutdown(fSocket);
    }
}

TSimClient::~TSimClient() {
    SocketShutdown(fSocket);
}

bool TSimClient::Send(const TSimBytes& payload) {
    return SendFrame(fSocket, payload.data(), static_cast<int>(payload.size()), 1000);
}

bool TSimClient::SendRaw(const TSimBytes& bytes) {
    return SendAll(fSocket, bytes.data(), static_cast<int>(bytes.size()), 1000);
}

bool TSimClient::Receive(TSimBytes& reply, std::uint32_t timeoutMs) {
    TSwBuffer buffer{};
    int length = 0;
    const bool ok = ReceiveFrame(fSocket, buffer, length, timeoutMs);
    Error = ok ? 0 : SocketLastError();
    reply.assign(buffer.begin(), buffer.begin() + (ok ? length : 0));
    return ok;
}

TSimBytes TSimClient::Ask(const std::string& requestHex, std::uint32_t timeoutMs) {
    TSimBytes reply;
    if (!Send(Hex(requestHex)))
        Error = SocketLastError();
    else
        Receive(reply, timeoutMs);
    return reply;
}

SimTest::SimTest() : Device(FreePort()) {
    EXPECT_TRUE(Device.Start());
}

void SimTest::Run(const std::string& line) {
    ASSERT_EQ(Device.Execute(line), "") << line;
}

TSimBytes SimTest::AskOnce(const std::string& requestHex) {
    TSimClient client(Device.Port());
    return client.Ask(requestHex);
}
