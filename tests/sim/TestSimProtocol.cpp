// The simulator's answers on the wire and the state its writes and scenes produce.

#include "SimClient.h"

#include <thread>

namespace {

using SimProtocol = SimTest;

constexpr const char* DEFAULT_SETTINGS =
    "01 13 00 00 00 00 01 04 14 00 01 15 03 00 00 05 01 00 01 78 00";

TEST_F(SimProtocol, AnswersEveryReadByteExact) {
    const struct {
        const char* request;
        std::string reply;
    } cases[] = {
        {"00 00 80 01 00", "FF FF 10 01 11 37 37 31 30 2F 31 32 20 53 49 4D 00 00 00 00 00 00"},
        {"01 00 80 06 00", "01 00 10 06 09 02 00 00 51 51 00 00 05 05"},
        {"01 01 80 06 00", std::string("01 01 10 06 15 ") + DEFAULT_SETTINGS},
        {"01 03 80 06 00", "01 03 10 06 05 03 01 01 01 23"},
        {"01 02 80 06 00", "01 02 10 06 0E 00 00 00 00 00 00 00 00 00 00 00 00 00 00"},
    };
    TSimClient client(Device.Port());
    for (const auto& c : cases)
        EXPECT_EQ(client.Ask(c.request), Hex(c.reply)) << c.request;
    ASSERT_TRUE(Device.WaitReceived(5, 1s));
    EXPECT_EQ(Device.Received()[3].Payload, Hex("01 03 80 06 00"));
}

TEST_F(SimProtocol, WritesAreAcknowledgedAndChangeTheState) {
    TSimClient client(Device.Port());
    EXPECT_EQ(client.Ask("01 00 80 05 03 01 01 02"), Hex("01 00 10 70 01 05"));
    EXPECT_EQ(client.Ask("01 00 80 06 00")[5], 0x01); // input B, manual
    EXPECT_EQ(client.Ask("01 00 80 05 01 02"), Hex("01 00 10 70 01 05"));
    EXPECT_EQ(client.Ask("01 00 80 06 00")[5], 0x03); // input B, auto

    // Flag bytes are kept to bit 0, every other byte as written.
    const std::string block = "FF 2C 01 FE 00 00 03 09 E7 03 01 3D C7 00 00 0B C7 00 01 E7 03";
    EXPECT_EQ(client.Ask("01 01 80 05 16 01 " + block), Hex("01 01 10 70 01 05"));
    EXPECT_EQ(client.Ask("01 01 80 06 00"),
              Hex("01 01 10 06 15 01 2C 01 00 00 00 01 09 E7 03 01 3D C7 00 00 0B C7 00 01 E7 03"));

    // Only power supply 2 monitored: the mask changes, both supplies still report.
    EXPECT_EQ(client.Ask("01 03 80 05 02 01 02"), Hex("01 03 10 70 01 05"));
    EXPECT_EQ(client.Ask("01 03 80 06 00"), Hex("01 03 10 06 05 02 01 01 01 23"));
}

TEST_F(SimProtocol, UnknownRequestsAreRecordedButNotAnswered) {
    TSimClient client(Device.Port());
    for (const char* request :
         {"01 00 80 05 03 01 01 03", "01 07 80 06 00", "00 00 80 01", "01 03 80 05 02 01 02 00"}) {
        EXPECT_EQ(client.Ask(request, 100), TSimBytes()) << request;
        EXPECT_EQ(client.Error, SOCK_ERR_TIMEOUT);
    }
    EXPECT_EQ(Device.Received().size(), 4U);
    EXPECT_EQ(Device.State().Output, SIM_INPUT_A);
    EXPECT_EQ(client.Ask("01 00 80 06 00").size(), 14U);
}

TEST_F(SimProtocol, StateReplyCarriesEachCheckInItsBits) {
    for (const char* line :
         {"mode manual", "check A sync na", "check A motion error", "check A level off",
          "check A audio-left error", "check A audio-right na", "check B sync off",
          "check B motion na", "check B level error", "check B audio-left na",
          "check B audio-right off", "output B"})
        Run(line);
    EXPECT_EQ(AskOnce("01 00 80 06 00"), Hex("01 00 10 06 09 01 00 00 23 B0 00 00 0E 03"));
}

TEST_F(SimProtocol, PartialFramesAreAssembledAcrossReads) {
    TSimClient client(Device.Port());
    const TSimBytes frame = Hex("FF 05 05 85 80 01 00 80 04 0E 00 E8 FC 06 06");
    ASSERT_TRUE(client.SendRaw(TSimBytes(frame.begin(), frame.begin() + 2)));
    std::this_thread::sleep_for(30ms);
    ASSERT_TRUE(client.SendRaw(TSimBytes(frame.begin() + 2, frame.end())));
    TSimBytes reply;
    EXPECT_TRUE(client.Receive(reply));
    EXPECT_EQ(reply.size(), 14U);
}

TEST_F(SimProtocol, ChangesOverInAutoModeOnlyToAHealthyInput) {
    Run("check A sync error");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_B);
    Run("check A sync ok");
    Run("check B sync error");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_A);
    // The other input is not OK for that check: stay.
    Run("check A sync error");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_A);
    // Input B healthy again: the device moves to it.
    Run("check B sync ok");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_B);
    // MOTION is switched off in the default settings.
    Run("check B motion error");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_B);
    // A settings write that switches MOTION on acts at once.
    TSimClient client(Device.Port());
    client.Ask("01 01 80 05 16 01 01 13 00 01 00 00 01 04 14 00 01 15 03 00 00 05 01 00 01 78 00");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_A);
}

TEST_F(SimProtocol, ManualModeHoldsUntilTheAutoCommand) {
    TSimClient client(Device.Port());
    client.Ask("01 00 80 05 03 01 01 01");
    Run("check A audio-right error");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_A);
    EXPECT_FALSE(Device.State().AutoMode);
    client.Ask("01 00 80 05 01 02");
    EXPECT_EQ(Device.State().Output, SIM_INPUT_B);
    EXPECT_TRUE(Device.State().AutoMode);
}

TEST_F(SimProtocol, CountsNewErrorsOfSwitchedOnChecks) {
    Run("mode manual");
    Run("check A level error");
    Run("check A level error");       // still the same error
    Run("check A motion error");      // MOTION is off
    Run("check B audio-right error"); // THRESHOLD on, audio DIF.LEVEL off
    Run("setting audio-level on");
    Run("check B audio-left error");
    EXPECT_EQ(CountersPayload(Device.State()), Hex("00 00 00 00 01 00 00 01 00 01 00 01 00 00"));
    for (int i = 0; i < 300; ++i) {
        Run("check B sync ok");
        Run("check B sync error");
    }
    EXPECT_EQ(Device.State().Counters[1], 0xFF);
    Run("counters reset");
    EXPECT_EQ(AskOnce("01 02 80 06 00"),
              Hex("01 02 10 06 0E 00 00 00 00 00 00 00 00 00 00 00 00 00 00"));
}

} // namespace
