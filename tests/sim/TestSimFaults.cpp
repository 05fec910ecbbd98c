// Each fault and connection rule of the simulator, as a station sees it.

#include "SimClient.h"

namespace {

using SimFaults = SimTest;
using Clock = std::chrono::steady_clock;

constexpr const char* IDENTITY = "00 00 80 01 00";
constexpr const char* POWER = "01 03 80 06 00";

TEST_F(SimFaults, SpoiledRepliesFailTheStationsChecks) {
    TSimClient client(Device.Port());
    Run("fault bad-checksum");
    EXPECT_EQ(client.Ask(POWER), TSimBytes());
    EXPECT_EQ(client.Error, SOCK_ERR_BAD_FRAME);
    Run("fault none");
    Run("fault wrong-header");
    EXPECT_EQ(client.Ask(IDENTITY),
              Hex("FF FF 10 01 10 37 37 31 30 2F 31 32 20 53 49 4D 00 00 00 00 00 00"));
    Run("fault wrong-header off");
    Run("fault extra-byte on");
    EXPECT_EQ(client.Ask(POWER), Hex("01 03 10 06 05 03 01 01 01 23 00"));
}

TEST_F(SimFaults, WrongGroupAnswersEachReadWithTheNextGroupsReply) {
    TSimClient client(Device.Port());
    Run("fault wrong-group");
    const TSimBytes state = client.Ask(IDENTITY);
    const TSimBytes identity = client.Ask("01 02 80 06 00");
    ASSERT_EQ(state.size(), 14U);
    EXPECT_EQ(TSimBytes(state.begin(), state.begin() + 5), Hex("01 00 10 06 09"));
    ASSERT_EQ(identity.size(), 22U) << "the counters are followed by the identity";
    EXPECT_EQ(TSimBytes(identity.begin(), identity.begin() + 5), Hex("FF FF 10 01 11"));
    EXPECT_EQ(client.Ask("01 00 80 05 01 02"), Hex("01 00 10 70 01 05")) << "writes as usual";
    EXPECT_EQ(Device.Received()[0].Payload, Hex(IDENTITY)) << "the request as it came";
}

TEST_F(SimFaults, JunkGoesBeforeEachReplyWithoutAFrameMark) {
    TSimClient client(Device.Port());
    Run("fault junk 1000");
    EXPECT_EQ(client.Ask(POWER), Hex("01 03 10 06 05 03 01 01 01 23"));
    Run("fault junk 32768");
    EXPECT_EQ(client.Ask(POWER), TSimBytes());
    EXPECT_EQ(client.Error, SOCK_ERR_BAD_FRAME) << "a receive buffer full of junk";
}

TEST_F(SimFaults, SilentAndAnswerFirstLetTheStationTimeOut) {
    {
        TSimClient client(Device.Port());
        Run("fault answer-first 2");
        EXPECT_EQ(client.Ask(POWER).size(), 10U);
        EXPECT_EQ(client.Ask("01 00 80 05 01 02").size(), 6U);
        EXPECT_EQ(client.Ask(POWER, 100), TSimBytes());
        EXPECT_EQ(client.Error, SOCK_ERR_TIMEOUT);
    }
    ASSERT_TRUE(Device.WaitStation(false, 1s));
    TSimClient next(Device.Port());
    EXPECT_EQ(next.Ask(POWER).size(), 10U); // a new connection gets N answers again
    Run("fault silent");
    EXPECT_EQ(next.Ask(POWER, 100), TSimBytes());
    EXPECT_EQ(next.Error, SOCK_ERR_TIMEOUT);
    EXPECT_TRUE(Device.WaitReceived(5, 1s));
}

TEST_F(SimFaults, CloseMidFrameResetsAndTheNextStationIsServed) {
    Run("fault close-mid-frame");
    {
        TSimClient client(Device.Port());
        EXPECT_EQ(client.Ask(IDENTITY), TSimBytes());
        EXPECT_EQ(client.Error, SOCK_ERR_CONN_RESET);
    }
    Run("fault close-mid-frame off");
    TSimClient again(Device.Port());
    EXPECT_EQ(again.Ask(IDENTITY).size(), 22U);
    EXPECT_EQ(Device.Connections(), 2);
}

TEST_F(SimFaults, SlowRepliesArriveWholeButLate) {
    TSimClient client(Device.Port());
    Run("fault byte-by-byte 3");
    const auto start = Clock::now();
    EXPECT_EQ(client.Ask(POWER), Hex("01 03 10 06 05 03 01 01 01 23"));
    EXPECT_GE(Clock::now() - start, 45ms); // 18 frame bytes or more, 3 ms apart
    Run("fault byte-by-byte off");
    Run("fault delay 150");
    EXPECT_EQ(client.Ask(POWER, 50), TSimBytes());
    EXPECT_EQ(client.Error, SOCK_ERR_TIMEOUT);
    TSimBytes late;
    EXPECT_TRUE(client.Receive(late));
    EXPECT_EQ(late.size(), 10U);
}

TEST_F(SimFaults, NoAckCarriesOutWritesWithoutAnswer) {
    TSimClient client(Device.Port());
    Run("fault no-ack");
    EXPECT_EQ(client.Ask("01 00 80 05 03 01 01 02", 100), TSimBytes());
    EXPECT_EQ(client.Error, SOCK_ERR_TIMEOUT);
    EXPECT_EQ(Device.State().Output, SIM_INPUT_B);
    EXPECT_EQ(client.Ask("01 00 80 06 00").size(), 14U);
    Run("fault none");
    Run("fault wrong-ack");
    EXPECT_EQ(client.Ask("01 00 80 05 01 02"), Hex("01 00 10 70 01 04"));
    EXPECT_TRUE(Device.State().AutoMode);
    EXPECT_EQ(client.Ask("01 00 80 06 00").size(), 14U);
}

TEST_F(SimFaults, ASecondStationIsTurnedAwayAndDropEndsTheFirst) {
    TSimClient first(Device.Port());
    ASSERT_TRUE(Device.WaitConnections(1, 1s));
    TSimClient second(Device.Port());
    EXPECT_TRUE(second.Connected());
    EXPECT_EQ(second.Ask(IDENTITY, 500), TSimBytes());
    EXPECT_EQ(second.Error, SOCK_ERR_CONN_RESET);
    EXPECT_EQ(first.Ask(IDENTITY).size(), 22U);
    Run("drop");
    EXPECT_FALSE(Device.StationConnected());
    EXPECT_EQ(first.Ask(IDENTITY, 200), TSimBytes());
    EXPECT_EQ(first.Error, SOCK_ERR_CONN_RESET);
    EXPECT_EQ(Device.Connections(), 1);
}

TEST_F(SimFaults, StopEndsALongDelayAtOnce) {
    TSimClient client(Device.Port());
    Run("fault delay 10000");
    ASSERT_TRUE(client.Send(Hex(IDENTITY)));
    ASSERT_TRUE(Device.WaitReceived(1, 1s));
    const auto start = Clock::now();
    Device.Stop();
    EXPECT_LT(Clock::now() - start, 500ms);
    TSimBytes reply;
    EXPECT_FALSE(client.Receive(reply, 500));
    EXPECT_EQ(client.Error, SOCK_ERR_CONN_RESET);
}

// On the default port, at an address of its own.
TEST(SimListening, RefuseFaultStopsAndResumesListening) {
    TSimOptions options;
    options.Address = "127.0.71.1";
    options.Scene.Faults.Refuse = true;
    TSimDevice device(options);
    ASSERT_TRUE(device.Start());
    EXPECT_EQ(device.Port(), 10001);
    TSimClient refused(10001, options.Address);
    EXPECT_FALSE(refused.Connected());
    EXPECT_EQ(refused.Error, SOCK_ERR_CONN_REFUSED);

    EXPECT_EQ(device.Execute("fault refuse off"), "");
    TSimClient client(10001, options.Address);
    EXPECT_EQ(client.Ask(IDENTITY).size(), 22U);
    options.Scene.Faults.Refuse = false;
    TSimDevice twin(options);
    EXPECT_FALSE(twin.Start()); // the port is taken

    EXPECT_EQ(device.Execute("fault refuse"), "");
    TSimClient late(10001, options.Address);
    EXPECT_EQ(late.Error, SOCK_ERR_CONN_REFUSED);
    EXPECT_EQ(client.Ask(IDENTITY).size(), 22U); // the station connected stays served
}

} // namespace
