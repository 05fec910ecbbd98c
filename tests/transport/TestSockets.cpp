#include "LoopbackPeer.h"
#include "NBSockets30.h"

#include <array>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A descriptor number that no test opens.
constexpr int NEVER_OPEN = 100000;

TEST(SocketClose, LeavesTheHandleInvalidWhateverHappens) {
    TSocket handle = INVALID_SOCKET;
    EXPECT_TRUE(SocketShutdown(handle));
    EXPECT_EQ(handle, INVALID_SOCKET);

    handle = NEVER_OPEN;
    EXPECT_FALSE(SocketClose(handle));
    EXPECT_EQ(handle, INVALID_SOCKET);
    handle = NEVER_OPEN;
    EXPECT_FALSE(SocketShutdown(handle));
    EXPECT_EQ(handle, INVALID_SOCKET);

    ASSERT_TRUE(SocketOpen(handle));
    EXPECT_TRUE(SocketShutdown(handle));
    EXPECT_EQ(handle, INVALID_SOCKET);
}

TEST(SocketTransfer, ReportsAClosedPeerAsReset) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connected());
    ASSERT_TRUE(pair.Write({1, 2, 3}));
    std::this_thread::sleep_for(20ms);
    std::uint8_t buffer[16];
    int received = 0;
    ASSERT_TRUE(SocketRecv(pair.client, buffer, sizeof buffer, received));
    EXPECT_EQ(received, 3);

    pair.CloseServer();
    std::this_thread::sleep_for(20ms);
    SetSocketLastError(0);
    EXPECT_FALSE(SocketRecv(pair.client, buffer, sizeof buffer, received));
    EXPECT_EQ(SocketLastError(), SOCK_ERR_CONN_RESET);
}

TEST(SocketTransfer, SendingToAResetPeerFailsWithoutSignal) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connected());
    pair.CloseServer(true);
    std::this_thread::sleep_for(20ms);
    // The first send reports the reset; the later ones meet a dead pipe, which without
    // care raises SIGPIPE and ends the whole test program.
    const std::uint8_t bytes[8] = {};
    for (int attempt = 0; attempt < 3; ++attempt) {
        int sent = 0;
        SetSocketLastError(0);
        EXPECT_FALSE(SocketSend(pair.client, bytes, sizeof bytes, sent)) << attempt;
        EXPECT_EQ(SocketLastError(), SOCK_ERR_CONN_RESET) << attempt;
    }
}

TEST(SocketConnect, RefusedConnectFailsAtOnce) {
    const int port = UnusedLoopbackPort();
    ASSERT_NE(port, 0);
    TSocket handle = INVALID_SOCKET;
    ASSERT_TRUE(SocketOpen(handle));
    const auto start = Clock::now();
    SetSocketLastError(0);
    EXPECT_FALSE(SocketConnectTimeout(handle, "127.0.0.1", port, 3000));
    EXPECT_EQ(SocketLastError(), SOCK_ERR_CONN_REFUSED);
    EXPECT_LT(Clock::now() - start, 1000ms);
    SocketShutdown(handle);
}

TEST(SocketConnect, WaitSucceedsOnlyForAnEstablishedConnection) {
    LoopbackListener listener;
    ASSERT_NE(listener.Port(), 0);
    const int refusedPort = UnusedLoopbackPort();
    for (const int port : {listener.Port(), refusedPort}) {
        TSocket handle = INVALID_SOCKET;
        ASSERT_TRUE(SocketOpen(handle));
        SetSocketLastError(0);
        const bool started = SocketConnect(handle, "127.0.0.1", port);
        const int error = SocketLastError();
        const bool waited = started || SocketWaitConnect(handle, 2000);
        if (port == refusedPort) {
            EXPECT_FALSE(waited);
            EXPECT_EQ(SocketLastError(), SOCK_ERR_CONN_REFUSED);
        } else {
            EXPECT_TRUE(started || error == SOCK_ERR_WOULD_BLOCK || error == SOCK_ERR_IN_PROGRESS)
                << error;
            EXPECT_TRUE(waited);
        }
        SocketShutdown(handle);
    }
}

TEST(SocketConnect, TimesOutWhenTheListenerDoesNotAnswer) {
    LoopbackListener listener(0);
    if (!listener.FillBacklog())
        GTEST_SKIP() << "could not make a loopback connect hang";
    TSocket handle = INVALID_SOCKET;
    ASSERT_TRUE(SocketOpen(handle));
    const auto start = Clock::now();
    SetSocketLastError(0);
    EXPECT_FALSE(SocketConnectTimeout(handle, "127.0.0.1", listener.Port(), 500));
    const auto elapsed = Clock::now() - start;
    EXPECT_EQ(SocketLastError(), SOCK_ERR_TIMEOUT);
    EXPECT_GE(elapsed, 490ms);
    EXPECT_LT(elapsed, 1200ms);
    SocketShutdown(handle);
}

// Descriptor numbers past FD_SETSIZE must not break the readiness waits.
TEST(SocketWait, HandlesSocketNumbersBeyondTheSelectLimit) {
    constexpr int HIGH = FD_SETSIZE + 476;
    rlimit limit{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur <= HIGH && limit.rlim_max > HIGH) {
        limit.rlim_cur = HIGH + 1;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
    LoopbackPair pair;
    ASSERT_TRUE(pair.Connected());
    if (fcntl(HIGH, F_GETFD) != -1 || dup2(pair.client, HIGH) != HIGH)
        GTEST_SKIP() << "descriptor " << HIGH << " is not available";
    TSocket high = HIGH;

    bool ready = true;
    EXPECT_TRUE(SocketCanRead(high, ready));
    EXPECT_FALSE(ready);
    EXPECT_TRUE(SocketCanWrite(high, ready));
    EXPECT_TRUE(ready);
    ASSERT_TRUE(pair.Write({0x41}));
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(SocketCanRead(high, ready));
    EXPECT_TRUE(ready);

    TSocketSet readSet{high, false};
    int readyCount = -1;
    EXPECT_TRUE(SocketSelect(&readSet, nullptr, nullptr, readyCount, 100));
    EXPECT_EQ(readyCount, 1);
    EXPECT_TRUE(readSet.Ready);
    EXPECT_TRUE(SocketClose(high));
}

TEST(SocketAddress, BuildsNetworkOrderFromText) {
    const auto bytes = [](const std::string& text) {
        const std::uint32_t address = AddressFromText(text);
        std::array<std::uint8_t, 4> result{};
        std::memcpy(result.data(), &address, sizeof address);
        return result;
    };
    using Quad = std::array<std::uint8_t, 4>;
    EXPECT_EQ(bytes("192.168.0.10"), (Quad{0xC0, 0xA8, 0x00, 0x0A}));
    EXPECT_EQ(bytes("127.0.0.1"), (Quad{127, 0, 0, 1}));
    EXPECT_EQ(bytes("10.1"), (Quad{10, 1, 0, 0}));
    EXPECT_EQ(bytes("$C0.xA8.0X1.0x0a"), (Quad{0xC0, 0xA8, 1, 10}));
    EXPECT_EQ(bytes("1.abc..4"), (Quad{1, 0, 0, 4}));
    EXPECT_EQ(bytes("1.2.3.4.5"), (Quad{1, 2, 3, 4}));
    EXPECT_EQ(bytes(""), (Quad{0, 0, 0, 0}));
    // No text longer than 64 characters is an address.
    EXPECT_EQ(bytes("1.2.3." + std::string(57, '0') + "4"), (Quad{1, 2, 3, 4}));
    EXPECT_EQ(bytes("1.2.3." + std::string(58, '0') + "4"), (Quad{0, 0, 0, 0}));
    EXPECT_EQ(bytes("1.2.3." + std::string(300, '0') + "4"), (Quad{0, 0, 0, 0}));
    EXPECT_EQ(bytes("1.2.3.4" + std::string(16U << 20, '.')), (Quad{0, 0, 0, 0}));
}

TEST(SocketError, TranslatesErrnoValues) {
    const std::pair<int, int> table[] = {
        {EAGAIN, 10035},       {EWOULDBLOCK, 10035}, {EINPROGRESS, 10036}, {ECONNABORTED, 10053},
        {ECONNRESET, 10054},   {EPIPE, 10054},       {ETIMEDOUT, 10060},   {ECONNREFUSED, 10061},
        {EHOSTUNREACH, 10065}, {ENETUNREACH, 10051}, {EBADF, 10009},       {4242, 4242},
    };
    for (const auto& [errnoValue, expected] : table)
        EXPECT_EQ(SocketErrorFromErrno(errnoValue), expected) << std::strerror(errnoValue);
}

TEST(SocketError, LastErrorBelongsToEachThread) {
    SetSocketLastError(1234);
    int seenFirst = -1;
    int seenAfter = -1;
    std::thread other([&] {
        seenFirst = SocketLastError();
        SetSocketLastError(42);
        seenAfter = SocketLastError();
    });
    other.join();
    EXPECT_EQ(seenFirst, 0);
    EXPECT_EQ(seenAfter, 42);
    EXPECT_EQ(SocketLastError(), 1234);
}

} // namespace
