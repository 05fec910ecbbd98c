// The command language, the record of received payloads and the program's flags.

#include "SimClient.h"
#include "SimCommandLine.h"
#include "SimScript.h"

namespace {

using SimScript = SimTest;
using Clock = std::chrono::steady_clock;

TEST_F(SimScript, MalformedCommandsChangeNothing) {
    Run("fault delay 5");
    const std::string before = DescribeScene({Device.State(), Device.Faults()});
    for (const char* line : {"jump",
                             "check C sync error",
                             "check A sync broken",
                             "check A sync",
                             "check A all error now",
                             "psu 3 ok",
                             "psu 1",
                             "psu-mask 4",
                             "temp 256",
                             "temp -1",
                             "temp hot",
                             "setting sync-time 65536",
                             "setting colour 1",
                             "setting sync 2",
                             "setting level-value 256",
                             "setting recovery-time",
                             "output C",
                             "mode auto now",
                             "counters clear",
                             "wait soon",
                             "fault",
                             "fault bogus",
                             "fault silent maybe",
                             "fault delay -5",
                             "fault delay",
                             "fault none now",
                             "name 123456789012345678",
                             "state now",
                             "drop it",
                             "wait-station now",
                             "loop again"}) {
        const std::string error = Device.Execute(line);
        EXPECT_FALSE(error.empty()) << line;
        EXPECT_EQ(error.find('\n'), std::string::npos) << line;
    }
    EXPECT_EQ(DescribeScene({Device.State(), Device.Faults()}), before);
}

TEST_F(SimScript, SettersReachTheWire) {
    for (const char* line :
         {"name   Studio Switch 2  ", "# a comment", "", "SETTING Sync-Time 300",
          "setting threshold off", "setting recovery-time 65535", "psu 2 error", "temp none"})
        Run(line);
    TSimClient client(Device.Port());
    EXPECT_EQ(client.Ask("00 00 80 01 00"),
              Hex("FF FF 10 01 11 53 74 75 64 69 6F 20 53 77 69 74 63 68 20 32 00 00"));
    EXPECT_EQ(client.Ask("01 01 80 06 00"), Hex("01 01 10 06 15 01 2C 01 00 00 00 01 04 14 00 "
                                                "00 15 03 00 00 05 01 00 01 FF FF"));
    EXPECT_EQ(client.Ask("01 03 80 06 00"), Hex("01 03 10 06 05 03 01 02 00 00"));
    Run("temp 71");
    Run("name");
    EXPECT_EQ(client.Ask("01 03 80 06 00"), Hex("01 03 10 06 05 03 01 02 01 47"));
    TSimBytes unnamed = Hex("FF FF 10 01 11");
    unnamed.resize(22, 0);
    EXPECT_EQ(client.Ask("00 00 80 01 00"), unnamed);
}

TEST_F(SimScript, ReceivedPayloadsKeepOrderAndTime) {
    TSimClient client(Device.Port());
    client.Ask("00 00 80 01 00");
    Run("wait 50");
    client.Ask("01 00 80 06 00");
    const std::vector<TSimRecord> records = Device.Received();
    ASSERT_EQ(records.size(), 2U);
    EXPECT_EQ(records[0].Payload, Hex("00 00 80 01 00"));
    EXPECT_EQ(records[1].Payload, Hex("01 00 80 06 00"));
    EXPECT_GE(records[1].Time - records[0].Time, 50ms);

    Device.ClearReceived();
    EXPECT_TRUE(Device.Received().empty());
    ASSERT_TRUE(client.Send(Hex("01 02 80 06 00")));
    EXPECT_TRUE(Device.WaitUntil(
        [](const auto& list) { return list.size() == 1 && list[0].Payload[1] == 0x02; }, 1s));
    EXPECT_FALSE(Device.WaitReceived(2, 20ms));
}

TEST(SimCommandLine, ReadsFlagsAndRejectsBadOnes) {
    TSimCommandLine command;
    EXPECT_EQ(
        ParseCommandLine({"--bind", "127.0.0.5", "--port", "0", "--fault", "delay=20", "--fault",
                          "silent", "--verbose", "--exit-on-eof", "--script", "scene.txt"},
                         command),
        "");
    EXPECT_EQ(command.Options.Address, "127.0.0.5");
    EXPECT_EQ(command.Options.Port, 0);
    EXPECT_EQ(command.Options.Scene.Faults.DelayMs, 20);
    EXPECT_TRUE(command.Options.Scene.Faults.Silent);
    EXPECT_TRUE(command.Verbose && command.ExitOnEof && !command.Help);
    EXPECT_EQ(command.ScriptFile, "scene.txt");
    const std::vector<std::vector<std::string>> bad = {
        {"--port", "70000"}, {"--port"}, {"--fault", "bogus"}, {"--fault", "delay=x"}, {"-v"}};
    for (const auto& args : bad) {
        TSimCommandLine other;
        EXPECT_NE(ParseCommandLine(args, other), "") << args[0];
    }
}

} // namespace
