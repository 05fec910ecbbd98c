// The fleet: addresses, routing of commands to one device or all, churn, and its command
// line.

#include "SimClient.h"
#include "SimCommandLine.h"
#include "SimFleet.h"
#include "SimScript.h"

#include <fstream>
#include <set>
#include <thread>

namespace {

using Addresses = std::vector<std::string>;

TEST(FleetAddresses, CountUpAcrossOctetsAndStayOnLoopback) {
    Addresses addresses;
    ASSERT_EQ(FleetAddresses("127.0.1.1", 250, addresses), "");
    ASSERT_EQ(addresses.size(), 250U);
    EXPECT_EQ(addresses.front(), "127.0.1.1");
    EXPECT_EQ(addresses[6], "127.0.1.7");
    EXPECT_EQ(addresses.back(), "127.0.1.250");

    ASSERT_EQ(FleetAddresses("127.0.0.254", 4, addresses), "");
    EXPECT_EQ(addresses, (Addresses{"127.0.0.254", "127.0.0.255", "127.0.1.0", "127.0.1.1"}));

    EXPECT_EQ(FleetAddresses("192.0.2.1", 1, addresses), "") << "one device may listen anywhere";
    EXPECT_EQ(addresses, Addresses{"192.0.2.1"});

    Addresses untouched = addresses;
    EXPECT_NE(FleetAddresses("192.0.2.1", 2, addresses), "");
    EXPECT_NE(FleetAddresses("127.255.255.254", 3, addresses), "") << "would reach 128.0.0.0";
    EXPECT_NE(FleetAddresses("255.255.255.255", 2, addresses), "");
    EXPECT_NE(FleetAddresses("127.0.1", 2, addresses), "");
    EXPECT_EQ(addresses, untouched);
}

TEST(FleetCommands, PrefixNamesOneDeviceOfTheFleet) {
    int number = -1;
    std::string command;
    ASSERT_EQ(SplitTarget("@7 check A sync error", 250, number, command), "");
    EXPECT_EQ(number, 7);
    EXPECT_EQ(SplitTarget(command, 250, number, command), "") << "the rest has no prefix";
    EXPECT_EQ(number, 0);
    EXPECT_EQ(command, " check A sync error");

    ASSERT_EQ(SplitTarget("  @250\ttemp 80", 250, number, command), "");
    EXPECT_EQ(number, 250);
    ASSERT_EQ(SplitTarget("temp 80", 250, number, command), "");
    EXPECT_EQ(number, 0);
    EXPECT_EQ(command, "temp 80");

    for (const char* bad : {"@0 temp 80", "@251 temp 80", "@-1 temp 80", "@x temp 80",
                            "@7x temp 80", "@ temp 80", "@7", "@7   "}) {
        number = -1;
        EXPECT_NE(SplitTarget(bad, 250, number, command), "") << bad;
        EXPECT_EQ(number, -1) << bad;
    }
}

TEST(FleetCommands, ChurnMakesOnlyValidChangesOfEveryKind) {
    std::mt19937 random(7);
    std::set<std::string> kinds;
    for (int i = 0; i < 500; ++i) {
        const std::string line = ChurnCommand(random);
        TSimScene scene;
        TSimEffect effect;
        ASSERT_EQ(ApplyCommand(scene, line, effect), "") << line;
        kinds.insert(SplitWords(line)[0]);
    }
    EXPECT_EQ(kinds, (std::set<std::string>{"check", "psu", "temp"}));
}

// Three devices on consecutive loopback addresses, each on a port of its own.
class FleetTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(fFleet.Start(), ""); }

    static TSimOptions Options() {
        TSimOptions options;
        options.Address = "127.0.77.1";
        options.Port = 0;
        return options;
    }

    int SyncOfA(int number) { return fFleet.Device(number).State().Checks[0][0]; }

    TSimFleet fFleet{Options(), 3};
};

TEST_F(FleetTest, EachDeviceListensOnItsOwnAddress) {
    ASSERT_EQ(fFleet.Count(), 3);
    for (int number = 1; number <= 3; ++number) {
        EXPECT_EQ(fFleet.Address(number), "127.0.77." + std::to_string(number));
        TSimClient station(fFleet.Device(number).Port(), fFleet.Address(number));
        ASSERT_TRUE(station.Connected()) << number;
        EXPECT_EQ(station.Ask("01 03 80 06 00").size(), 10U) << number;
        EXPECT_EQ(fFleet.Device(number).Connections(), 1);
    }
}

TEST_F(FleetTest, CommandsGoToOneDeviceOrToAll) {
    ASSERT_EQ(fFleet.Execute("@2 check A sync error"), "");
    EXPECT_EQ(SyncOfA(1), SIM_OK);
    EXPECT_EQ(SyncOfA(2), SIM_ERROR);
    EXPECT_EQ(SyncOfA(3), SIM_OK);

    ASSERT_EQ(fFleet.Execute("temp 66"), "");
    for (int number = 1; number <= 3; ++number)
        EXPECT_EQ(fFleet.Device(number).State().Temperature, 66);

    EXPECT_NE(fFleet.Execute("@4 temp 10"), "");
    EXPECT_NE(fFleet.Execute("temp hot"), "");
    EXPECT_NE(fFleet.Execute("@2 churn 5"), "") << "churn is for the whole fleet";
    for (int number = 1; number <= 3; ++number)
        EXPECT_EQ(fFleet.Device(number).State().Temperature, 66);

    std::string output;
    ASSERT_EQ(fFleet.Execute("state", output), "");
    EXPECT_NE(output.find("@1 name"), std::string::npos);
    EXPECT_NE(output.find("@3 faults: none"), std::string::npos);
    ASSERT_EQ(fFleet.Execute("@2 state", output), "");
    EXPECT_EQ(output.find("@"), std::string::npos) << "one device's output is not prefixed";
    EXPECT_NE(output.find("sync error"), std::string::npos);
}

TEST_F(FleetTest, RequestsCountsWhatEachDeviceReceived) {
    TSimClient station(fFleet.Device(2).Port(), fFleet.Address(2));
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(station.Ask("01 00 80 06 00").size(), 14U);
    ASSERT_TRUE(station.Send(Hex("01 7F 80 06 00"))) << "unknown, so unanswered";
    ASSERT_TRUE(fFleet.Device(2).WaitReceived(4, 1s));

    std::string output;
    ASSERT_EQ(fFleet.Execute("requests", output), "");
    EXPECT_EQ(output, "requests: 0 4 0\n");
    EXPECT_NE(fFleet.Execute("@2 requests", output), "");
    EXPECT_NE(fFleet.Execute("requests all", output), "");
}

TEST_F(FleetTest, WaitWaitsOnceForTheWholeFleet) {
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(fFleet.Execute("wait 200"), "");
    const auto spent = std::chrono::steady_clock::now() - start;
    EXPECT_GE(spent, 200ms);
    EXPECT_LT(spent, 550ms);
}

TEST_F(FleetTest, ChurnChangesTheFleetAtItsRateUntilStopped) {
    EXPECT_NE(fFleet.Execute("churn -1"), "");
    EXPECT_NE(fFleet.Execute("churn fast"), "");
    EXPECT_NE(fFleet.Execute("churn 100001"), "");
    EXPECT_EQ(fFleet.ChurnRate(), 0);

    const std::vector<TSimState> before = {fFleet.Device(1).State(), fFleet.Device(2).State(),
                                           fFleet.Device(3).State()};
    ASSERT_EQ(fFleet.Execute("churn 200"), "");
    std::this_thread::sleep_for(500ms);
    ASSERT_EQ(fFleet.Execute("churn 0"), "");
    const std::uint64_t made = fFleet.ChurnChanges();
    EXPECT_GE(made, 60U);
    EXPECT_LE(made, 110U);

    int changed = 0;
    for (int number = 1; number <= 3; ++number) {
        const TSimState now = fFleet.Device(number).State();
        const TSimState& was = before[static_cast<std::size_t>(number - 1)];
        changed +=
            now.Checks != was.Checks || now.Psu != was.Psu || now.Temperature != was.Temperature;
    }
    EXPECT_EQ(changed, 3) << "100 changes reach every one of three devices";

    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(fFleet.ChurnChanges(), made) << "churn 0 stops it";
}

// A station that sends and never reads fills the socket under its device's reply; the
// other devices on the same loop answer on, and that device gives up on its station after
// its send time-out, as a device of its own would.
TEST_F(FleetTest, ADeviceWhoseStationNeverReadsStallsNoOther) {
    constexpr int REQUESTS = 20;
    ASSERT_EQ(fFleet.Execute("@1 fault junk 1048576"), "");
    TSimClient deaf(fFleet.Device(1).Port(), fFleet.Address(1));
    for (int i = 0; i < REQUESTS; ++i)
        ASSERT_TRUE(deaf.Send(Hex("01 03 80 06 00")));

    TSimClient station(fFleet.Device(2).Port(), fFleet.Address(2));
    EXPECT_EQ(station.Ask("01 03 80 06 00").size(), 10U);
    EXPECT_LT(fFleet.Device(1).Requests(), REQUESTS) << "the replies did not fill the socket";
    EXPECT_TRUE(fFleet.Device(1).WaitStation(false, 5s));
    EXPECT_EQ(station.Ask("01 03 80 06 00").size(), 10U);
}

int ThreadsOfThisProcess() {
    std::ifstream status("/proc/self/status");
    for (std::string word; status >> word;) {
        if (word == "Threads:" && status >> word)
            return std::stoi(word);
    }
    return -1;
}

// Every station sends before any reads its reply, so that the loop has them all at once.
TEST(SimFleetLoop, OneThreadServesManyDevicesAtOnce) {
    constexpr int COUNT = 100;
    TSimOptions options;
    options.Address = "127.0.78.1";
    options.Port = 0;
    const int before = ThreadsOfThisProcess();
    TSimFleet fleet(options, COUNT);
    ASSERT_EQ(fleet.Start(), "");
    // One loop thread; a sanitizer's runtime may add a thread of its own.
    EXPECT_LE(ThreadsOfThisProcess(), before + 2);

    std::vector<std::unique_ptr<TSimClient>> stations;
    for (int number = 1; number <= COUNT; ++number) {
        ASSERT_EQ(fleet.Execute("@" + std::to_string(number) + " temp " + std::to_string(number)),
                  "");
        stations.push_back(
            std::make_unique<TSimClient>(fleet.Device(number).Port(), fleet.Address(number)));
        ASSERT_TRUE(stations.back()->Send(Hex("01 03 80 06 00"))) << number;
    }
    for (int number = 1; number <= COUNT; ++number) {
        TSimBytes reply;
        ASSERT_TRUE(stations[static_cast<std::size_t>(number - 1)]->Receive(reply)) << number;
        ASSERT_EQ(reply.size(), 10U) << number;
        EXPECT_EQ(reply[9], number) << "the temperature of device " << number;
    }
}

TEST(SimFleetCommandLine, CountAndVersion) {
    TSimCommandLine command;
    ASSERT_EQ(ParseCommandLine({"--count", "250", "--bind", "127.0.1.1", "--version"}, command),
              "");
    EXPECT_EQ(command.Count, 250);
    EXPECT_TRUE(command.Version);

    const std::vector<std::vector<std::string>> bad = {
        {"--count", "0"},
        {"--count", "2001"},
        {"--count", "ten"},
        {"--count"},
        {"--count", "2", "--bind", "10.0.0.1"},
        {"--bind", "127.255.255.255", "--count", "2"}};
    for (const auto& args : bad) {
        TSimCommandLine other;
        EXPECT_NE(ParseCommandLine(args, other), "") << args[0] << " " << args.back();
    }
}

TEST(SimDeviceRecord, ADeviceThatDoesNotRecordKeepsNoPayloads) {
    TSimOptions options;
    options.Port = 0;
    options.Record = false;
    TSimDevice device(options);
    ASSERT_TRUE(device.Start());
    TSimClient station(device.Port());
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(station.Ask("01 00 80 06 00").size(), 14U);
    EXPECT_TRUE(device.Received().empty());
}

} // namespace
