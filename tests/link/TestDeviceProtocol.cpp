#include "DeviceProtocol.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes RequestBytes(const TWriteRequest& request) {
    return Bytes(request.Bytes.begin(), request.Bytes.begin() + request.Length);
}

} // namespace

TEST(DeviceProtocol, WriteRequestsAreByteExact) {
    TSettingsBlock block{};
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(0x40 + i);
    TWriteRequest request;

    ASSERT_TRUE(BuildWriteRequest(CMD_SELECT_INPUT, 0x102, block, request));
    EXPECT_EQ(RequestBytes(request), (Bytes{0x01, 0x00, 0x80, 0x05, 0x03, 0x01, 0x01, 0x02}));
    EXPECT_EQ(request.Group, GROUP_STATE);

    ASSERT_TRUE(BuildWriteRequest(CMD_AUTO_MODE, 0, block, request));
    EXPECT_EQ(RequestBytes(request), (Bytes{0x01, 0x00, 0x80, 0x05, 0x01, 0x02}));
    EXPECT_EQ(request.Group, GROUP_STATE);

    ASSERT_TRUE(BuildWriteRequest(CMD_WRITE_SETTINGS, 0, block, request));
    Bytes settings{0x01, 0x01, 0x80, 0x05, 0x16, 0x01};
    settings.insert(settings.end(), block.begin(), block.end());
    EXPECT_EQ(RequestBytes(request), settings);
    EXPECT_EQ(request.Length, 27);
    EXPECT_EQ(request.Group, GROUP_SETTINGS);

    ASSERT_TRUE(BuildWriteRequest(CMD_POWER_MONITORING, 3, block, request));
    EXPECT_EQ(RequestBytes(request), (Bytes{0x01, 0x03, 0x80, 0x05, 0x02, 0x01, 0x03}));
    EXPECT_EQ(request.Group, GROUP_POWER);

    EXPECT_FALSE(BuildWriteRequest(5, 0, block, request));
    EXPECT_FALSE(BuildWriteRequest(0, 0, block, request));
}

TEST(DeviceProtocol, AcknowledgementsAreAcceptedOnlyByTheirCommands) {
    const TSettingsBlock block{};
    TWriteRequest select, automatic, settings;
    BuildWriteRequest(CMD_SELECT_INPUT, 1, block, select);
    BuildWriteRequest(CMD_AUTO_MODE, 0, block, automatic);
    BuildWriteRequest(CMD_WRITE_SETTINGS, 0, block, settings);
    const Bytes stateAck{0x01, 0x00, 0x10, 0x70, 0x01, 0x05};
    const Bytes settingsAck{0x01, 0x01, 0x10, 0x70, 0x01, 0x05};

    EXPECT_TRUE(AcceptWriteReply(select, stateAck.data(), 6));
    EXPECT_TRUE(AcceptWriteReply(automatic, stateAck.data(), 6));
    EXPECT_FALSE(AcceptWriteReply(settings, stateAck.data(), 6));
    EXPECT_TRUE(AcceptWriteReply(settings, settingsAck.data(), 6));
    EXPECT_FALSE(AcceptWriteReply(select, stateAck.data(), 5));
    const Bytes longer{0x01, 0x00, 0x10, 0x70, 0x01, 0x05, 0x00};
    EXPECT_FALSE(AcceptWriteReply(select, longer.data(), 7));
}

TEST(DeviceProtocol, PollRepliesNeedTheirHeaderAndExactLength) {
    struct Case {
        int Group;
        Bytes Header;
        int Total;
    };
    const Case cases[] = {{1, {0xFF, 0xFF, 0x10, 0x01, 0x11}, 22},
                          {2, {0x01, 0x00, 0x10, 0x06, 0x09}, 14},
                          {3, {0x01, 0x01, 0x10, 0x06, 0x15}, 26},
                          {4, {0x01, 0x03, 0x10, 0x06, 0x05}, 10},
                          {5, {0x01, 0x02, 0x10, 0x06, 0x0E}, 19}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Group);
        Bytes reply = c.Header;
        reply.resize(static_cast<std::size_t>(c.Total) + 1, 0x00);
        EXPECT_TRUE(AcceptPollReply(c.Group, reply.data(), c.Total));
        EXPECT_FALSE(AcceptPollReply(c.Group, reply.data(), c.Total - 1));
        EXPECT_FALSE(AcceptPollReply(c.Group, reply.data(), c.Total + 1));
        for (int i = 0; i < 5; ++i) {
            Bytes wrong = reply;
            wrong[static_cast<std::size_t>(i)] ^= 0x01;
            EXPECT_FALSE(AcceptPollReply(c.Group, wrong.data(), c.Total)) << "byte " << i;
        }
    }
    // An identity reply that declares one name byte too few is refused.
    const Bytes shortIdentity{0xFF, 0xFF, 0x10, 0x01, 0x10};
    Bytes reply = shortIdentity;
    reply.resize(21, 0x41);
    EXPECT_FALSE(AcceptPollReply(GROUP_IDENTITY, reply.data(), 21));
}

TEST(DeviceProtocol, CycleRateRoundsHalvesToEven) {
    EXPECT_EQ(CycleRate(100, 1250), 80U);
    EXPECT_EQ(CycleRate(25, 1000), 25U);
    EXPECT_EQ(CycleRate(5, 2000), 2U); // 2.5
    EXPECT_EQ(CycleRate(7, 2000), 4U); // 3.5
    EXPECT_EQ(CycleRate(3, 2000), 2U); // 1.5
    EXPECT_EQ(CycleRate(166, 1001), 166U);
    EXPECT_EQ(CycleRate(0, 1000), 0U);
    EXPECT_EQ(CycleRate(4000000, 1000), 4000000U) << "no overflow in the scaling";
}
