#include "LoopbackPeer.h"
#include "NBSockets30.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

Bytes Hex(const std::string& text) {
    Bytes bytes;
    std::istringstream in(text);
    unsigned value = 0;
    while (in >> std::hex >> value)
        bytes.push_back(static_cast<std::uint8_t>(value));
    return bytes;
}

Bytes Encode(const Bytes& payload) {
    Bytes frame(2 * payload.size() + FRAME_OVERHEAD);
    frame.resize(static_cast<std::size_t>(
        EncodeFrame(payload.data(), static_cast<int>(payload.size()), frame.data())));
    return frame;
}

bool Decode(const Bytes& frame, Bytes& payload) {
    payload.assign(FRAME_MAX_DECLARED, 0xAA);
    int length = -1;
    const bool ok =
        DecodeFrame(frame.data(), static_cast<int>(frame.size()), payload.data(), length);
    payload.resize(ok ? static_cast<std::size_t>(length) : 0);
    return ok;
}

// A frame around length bytes and a body exactly as they go on the wire, with the
// checksum that matches them: lets a case break one rule and keep the others.
Bytes Wrap(std::uint8_t lengthLow, std::uint8_t lengthHigh, const Bytes& body) {
    Bytes frame{0x05, 0x05, lengthLow, lengthHigh};
    frame.insert(frame.end(), body.begin(), body.end());
    int sum = 0;
    for (std::size_t i = 2; i < frame.size(); ++i)
        sum += frame[i];
    const int check = (16384 - sum % 16384) % 16384;
    frame.insert(frame.end(), {static_cast<std::uint8_t>(0x80 | (check & 0x7F)),
                               static_cast<std::uint8_t>(0x80 | (check >> 7)), 0x06, 0x06});
    return frame;
}

struct KnownFrame {
    const char* payload;
    const char* frame;
};

const KnownFrame knownFrames[] = {
    {"01 00 80 06 00", "05 05 85 80 01 00 80 04 0E 00 E8 FC 06 06"},
    {"", "05 05 80 80 80 FE 06 06"},
    {"41", "05 05 81 80 41 BE FD 06 06"},
};

TEST(FrameCodec, EncodesAndDecodesKnownFrames) {
    for (const KnownFrame& known : knownFrames) {
        SCOPED_TRACE(known.frame);
        EXPECT_EQ(Encode(Hex(known.payload)), Hex(known.frame));
        Bytes payload;
        ASSERT_TRUE(Decode(Hex(known.frame), payload));
        EXPECT_EQ(payload, Hex(known.payload));
    }
    EXPECT_EQ(Wrap(0x85, 0x80, Hex("01 00 80 04 0E 00")), Hex(knownFrames[0].frame));
}

TEST(FrameCodec, EscapesExactlyTheBytesFromFourToEleven) {
    for (int value = 0; value < 256; ++value) {
        SCOPED_TRACE(value);
        const auto byte = static_cast<std::uint8_t>(value);
        const Bytes frame = Encode({byte});
        if (value >= 0x04 && value <= 0x0B) {
            ASSERT_EQ(frame.size(), 10U);
            EXPECT_EQ(frame[4], 0x04);
            EXPECT_EQ(frame[5], value + 0x08);
        } else {
            ASSERT_EQ(frame.size(), 9U);
            EXPECT_EQ(frame[4], byte);
        }
        Bytes payload;
        ASSERT_TRUE(Decode(frame, payload));
        EXPECT_EQ(payload, Bytes{byte});
    }
}

TEST(FrameCodec, RoundTripsEveryByteValueUpToTheLargestPayload) {
    Bytes all;
    for (int i = 0; i < 256; ++i)
        all.push_back(static_cast<std::uint8_t>(i));
    const Bytes escapes(FRAME_MAX_PAYLOAD, 0x05);
    for (const Bytes& original : {all, escapes}) {
        const Bytes frame = Encode(original);
        // Between the marks only escape pairs may carry 05 or 06.
        for (std::size_t i = 2; i + 2 < frame.size(); ++i)
            ASSERT_TRUE(frame[i] != 0x05 && frame[i] != 0x06) << "at " << i;
        Bytes payload;
        ASSERT_TRUE(Decode(frame, payload));
        EXPECT_EQ(payload, original);
    }
    EXPECT_EQ(Encode(escapes).size(), SW_BUFFER_SIZE);
}

TEST(FrameCodec, RejectsMalformedFrames) {
    const Bytes example = Hex(knownFrames[0].frame);
    std::vector<std::pair<const char*, Bytes>> cases = {
        {"four bytes", Hex("05 05 06 06")},
        {"seven bytes", Hex("05 05 80 80 FE 06 06")},
        {"broken end mark", Hex("05 05 80 80 80 FE 06 07")},
        {"lone escape at the end", Wrap(0x82, 0x80, Hex("41 04"))},
        {"escape before 0B", Wrap(0x82, 0x80, Hex("04 0B 41"))},
        {"escape before 14", Wrap(0x82, 0x80, Hex("04 14 41"))},
        {"declares 6, holds 5", Wrap(0x86, 0x80, Hex("01 00 80 04 0E 00"))},
        {"declares 4, holds 5", Wrap(0x84, 0x80, Hex("01 00 80 04 0E 00"))},
        {"declares 133, holds 5", Wrap(0x85, 0x81, Hex("01 00 80 04 0E 00"))},
    };
    for (const std::size_t at : {example.size() - 4, example.size() - 3}) {
        for (int bit = 0; bit < 8; ++bit) {
            Bytes broken = example;
            broken[at] ^= static_cast<std::uint8_t>(1 << bit);
            cases.emplace_back("checksum bit flipped", broken);
        }
    }
    for (const auto& [name, frame] : cases) {
        Bytes payload;
        EXPECT_FALSE(Decode(frame, payload)) << name;
    }
}

TEST(FrameCodec, AnEscapeLeadTakesOnlyTheEightShiftedValuesAfterIt) {
    for (int second = 0; second < 256; ++second) {
        SCOPED_TRACE(second);
        const Bytes body{0x04, static_cast<std::uint8_t>(second), 0x41};
        const bool valid = second >= 0x0C && second <= 0x13;
        Bytes payload;
        // A broken pair fails whether it would count as one byte or as two.
        EXPECT_EQ(Decode(Wrap(0x82, 0x80, body), payload), valid);
        if (valid) {
            EXPECT_EQ(payload, (Bytes{static_cast<std::uint8_t>(second - 0x08), 0x41}));
        }
        EXPECT_FALSE(Decode(Wrap(0x83, 0x80, body), payload));
    }
}

TEST(FrameCodec, ReadsTheLengthFromTheLowSevenBitsOfEachByte) {
    const Bytes body = Hex("01 00 80 04 0E 00");
    const Bytes long_(200, 0x41); // 200 = 1 * 128 + 0x48
    const std::pair<Bytes, std::size_t> cases[] = {
        {Wrap(0x05, 0x00, body), 5},    {Wrap(0x85, 0x00, body), 5},    {Wrap(0x05, 0x80, body), 5},
        {Wrap(0x48, 0x01, long_), 200}, {Wrap(0xC8, 0x81, long_), 200},
    };
    for (const auto& [frame, length] : cases) {
        Bytes payload;
        ASSERT_TRUE(Decode(frame, payload));
        EXPECT_EQ(payload.size(), length);
    }
}

// ReceiveFrame and SendFrame over a real loopback connection.
class FrameLink : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(pair.Connected()); }

    // Runs ReceiveFrame on the client end and notes what it left.
    bool Receive(std::uint32_t timeoutMs, TSocket from = INVALID_SOCKET) {
        SetSocketLastError(0);
        length = -1;
        const auto start = Clock::now();
        const bool ok = ReceiveFrame(from == INVALID_SOCKET ? pair.client : from, destination,
                                     length, timeoutMs);
        elapsed = Clock::now() - start;
        error = SocketLastError();
        return ok;
    }

    Bytes Payload() const {
        return Bytes(destination.begin(), destination.begin() + std::max(length, 0));
    }

    LoopbackPair pair;
    TSwBuffer destination{};
    int length = -1;
    int error = 0;
    Clock::duration elapsed{};
};

TEST_F(FrameLink, SkipsJunkBeforeTheStartMark) {
    for (const KnownFrame& known : knownFrames) {
        SCOPED_TRACE(known.frame);
        Bytes bytes = Hex("FF 00 06 06 05 00");
        const Bytes frame = Hex(known.frame);
        bytes.insert(bytes.end(), frame.begin(), frame.end());
        ASSERT_TRUE(pair.Write(bytes));
        ASSERT_TRUE(Receive(2000));
        EXPECT_EQ(Payload(), Hex(known.payload));
    }
}

TEST_F(FrameLink, AssemblesAFrameArrivingInPieces) {
    Bytes bytes = Hex("FF 00");
    const Bytes frame = Hex(knownFrames[0].frame);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    // One byte per write, then each way of cutting the frame in two, which splits the
    // start mark, the length, the escape pair and the end mark in turn.
    std::thread writer([&] {
        for (const std::uint8_t byte : bytes) {
            pair.Write({byte});
            std::this_thread::sleep_for(3ms);
        }
    });
    EXPECT_TRUE(Receive(2000));
    writer.join();
    EXPECT_EQ(Payload(), Hex(knownFrames[0].payload));
    for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
        SCOPED_TRACE(cut);
        std::thread second([&] {
            pair.Write(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(cut)));
            std::this_thread::sleep_for(15ms);
            pair.Write(Bytes(bytes.begin() + static_cast<long>(cut), bytes.end()));
        });
        EXPECT_TRUE(Receive(2000));
        second.join();
        EXPECT_EQ(Payload(), Hex(knownFrames[0].payload));
    }
}

TEST_F(FrameLink, DropsBytesAfterTheEndMark) {
    Bytes bytes = Hex(knownFrames[2].frame);
    const Bytes next = Hex(knownFrames[0].frame);
    bytes.insert(bytes.end(), next.begin(), next.end());
    ASSERT_TRUE(pair.Write(bytes));
    std::this_thread::sleep_for(30ms);
    ASSERT_TRUE(Receive(2000));
    EXPECT_EQ(Payload(), Hex(knownFrames[2].payload));
    EXPECT_FALSE(Receive(200));
    EXPECT_EQ(error, SOCK_ERR_TIMEOUT);
}

TEST_F(FrameLink, TimesOutReportingTheRawBytesReceived) {
    EXPECT_FALSE(Receive(300));
    EXPECT_EQ(error, SOCK_ERR_TIMEOUT);
    EXPECT_EQ(length, 0);
    // The limit given, not the link's default of 3 s; a loaded machine may add to it.
    EXPECT_GE(elapsed, 300ms);
    EXPECT_LT(elapsed, 2000ms);

    ASSERT_TRUE(pair.Write(Hex("FF 05 05 85")));
    EXPECT_FALSE(Receive(100));
    EXPECT_EQ(error, SOCK_ERR_TIMEOUT);
    EXPECT_EQ(length, 4);
}

TEST_F(FrameLink, ZeroTimeOutWaitsAsLongAsItTakes) {
    std::thread writer([&] {
        std::this_thread::sleep_for(150ms);
        pair.Write(Hex(knownFrames[2].frame));
    });
    EXPECT_TRUE(Receive(0));
    writer.join();
    EXPECT_EQ(Payload(), Hex("41"));
}

TEST_F(FrameLink, FailsWhenThePeerGoesAwayMidFrame) {
    for (const bool reset : {false, true}) {
        LoopbackPair link;
        ASSERT_TRUE(link.Connected());
        ASSERT_TRUE(link.Write(Hex("05 05 85 80 01")));
        std::this_thread::sleep_for(20ms);
        link.CloseServer(reset);
        EXPECT_FALSE(Receive(2000, link.client)) << "reset " << reset;
        EXPECT_EQ(error, SOCK_ERR_CONN_RESET) << "reset " << reset;
    }
}

TEST_F(FrameLink, ReportsABadFrameAtOnce) {
    ASSERT_TRUE(pair.Write(Hex("FF 05 05 06 06")));
    EXPECT_FALSE(Receive(2000));
    EXPECT_EQ(error, SOCK_ERR_BAD_FRAME);
    EXPECT_LT(elapsed, 1000ms);
}

TEST_F(FrameLink, GivesUpWhenTheReceiveBufferFillsWithoutAFrame) {
    Bytes zeros(33000, 0x00);
    Bytes unended(33000, 0xFF);
    unended[0] = unended[1] = 0x05;
    for (const Bytes& flood : {zeros, unended}) {
        LoopbackPair link;
        ASSERT_TRUE(link.Connected());
        std::thread writer([&] { WriteAll(link.server, flood.data(), flood.size()); });
        EXPECT_FALSE(Receive(5000, link.client));
        EXPECT_EQ(error, SOCK_ERR_BAD_FRAME);
        SocketShutdown(link.client); // unblocks a writer that still has bytes to give
        writer.join();
    }
}

// Lengths near the 14-bit limit, each frame sent whole on a connection of its own.
TEST_F(FrameLink, TakesEveryLengthTheLengthFieldCanCarryAndNoMore) {
    const auto frameOf = [](int declared, const Bytes& body) {
        return Wrap(static_cast<std::uint8_t>(0x80 | (declared & 0x7F)),
                    static_cast<std::uint8_t>(0x80 | ((declared >> 7) & 0x7F)), body);
    };
    Bytes escaped;
    for (int i = 0; i < 16383; ++i)
        escaped.insert(escaped.end(), {0x04, 0x0D});
    const auto receiveOnNewLink = [&](const Bytes& frame) {
        LoopbackPair link;
        EXPECT_TRUE(link.Connected());
        std::thread writer([&] { WriteAll(link.server, frame.data(), frame.size()); });
        const bool ok = Receive(5000, link.client);
        SocketShutdown(link.client);
        writer.join();
        return ok;
    };
    for (const int declared : {16380, 16381, 16382, 16383}) {
        SCOPED_TRACE(declared);
        EXPECT_TRUE(
            receiveOnNewLink(frameOf(declared, Bytes(static_cast<std::size_t>(declared), 0x41))));
        EXPECT_EQ(Payload(), Bytes(static_cast<std::size_t>(declared), 0x41));
    }
    const std::pair<const char*, Bytes> tooLong[] = {
        {"16384 bytes, the length field wrapped to 0", frameOf(0, Bytes(16384, 0x41))},
        {"16384 bytes declared as 16383", frameOf(16383, Bytes(16384, 0x41))},
        {"16383 escaped bytes, more than the buffer holds", frameOf(16383, escaped)},
    };
    for (const auto& [name, frame] : tooLong) {
        EXPECT_FALSE(receiveOnNewLink(frame)) << name;
        EXPECT_EQ(error, SOCK_ERR_BAD_FRAME) << name;
    }
}

TEST_F(FrameLink, SendsTheLargestPayloadAndRefusesALargerOne) {
    const Bytes tooLong(FRAME_MAX_PAYLOAD + 1, 0x41);
    SetSocketLastError(0);
    EXPECT_FALSE(SendFrame(pair.client, tooLong.data(), FRAME_MAX_PAYLOAD + 1, 2000));
    EXPECT_EQ(SocketLastError(), SOCK_ERR_BAD_FRAME);

    Bytes largest(FRAME_MAX_PAYLOAD);
    for (std::size_t i = 0; i < largest.size(); ++i)
        largest[i] = static_cast<std::uint8_t>(0x04 + i % 8);
    bool sent = false;
    std::thread sender(
        [&] { sent = SendFrame(pair.client, largest.data(), FRAME_MAX_PAYLOAD, 5000); });
    EXPECT_TRUE(Receive(5000, pair.server));
    sender.join();
    EXPECT_TRUE(sent);
    EXPECT_EQ(Payload(), largest);
}

} // namespace
