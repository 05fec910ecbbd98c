// Scripts played on a device: waiting for a station, starting over, and the demo that
// run.sh plays.

#include "SimClient.h"
#include "SimPlayer.h"
#include "SimScript.h"

#include <atomic>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace {

// A fleet of one started device on a free loopback port, as the simulator program plays
// its scripts on.
class SimPlayer : public ::testing::Test {
protected:
    SimPlayer() : Fleet(FreePort(), 1), Device(Fleet.Device(1)) { EXPECT_EQ(Fleet.Start(), ""); }
    void Run(const std::string& line) { ASSERT_EQ(Device.Execute(line), "") << line; }

    static TSimOptions FreePort() {
        TSimOptions options;
        options.Port = 0;
        return options;
    }

    TSimFleet Fleet;
    TSimDevice& Device;
};

std::vector<std::string> DemoLines() {
    std::ifstream file(DEMO_SCRIPT);
    EXPECT_TRUE(file.is_open()) << DEMO_SCRIPT;
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    return lines;
}

// The demo with every wait a fiftieth as long, for a pass of about a second.
std::string FastDemo() {
    const std::regex wait(R"(^wait (\d+)$)");
    std::string text;
    for (const std::string& line : DemoLines()) {
        std::smatch match;
        text += std::regex_match(line, match, wait)
                    ? "wait " + std::to_string(std::stoi(match[1]) / 50) + "\n"
                    : line + "\n";
    }
    return text;
}

// Errors and printed text of one play, kept apart.
struct TPlayLog {
    std::string Printed;
    std::string Errors;
};

TPlayLog Play(TSimFleet& fleet, std::istream& in) {
    TPlayLog log;
    PlayCommands(
        fleet, in, "scene", [&](const std::string& text) { log.Printed += text; },
        [&](const std::string& text) { log.Errors += text; });
    return log;
}

// A stream that cannot be rewound, as standard input on a pipe.
class TPipeBuffer : public std::stringbuf {
public:
    using std::stringbuf::stringbuf;

protected:
    pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override {
        return pos_type(off_type(-1));
    }
    pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(off_type(-1)); }
};

// What one walk through the demo's commands shows, the waits skipped.
struct TDemoWalk {
    bool InputBFailsAlone = false;
    bool ChangesOverOnSync = false;
    bool ReturnsToA = false;
    bool PowerSupplyFails = false;
    int HottestTemperature = 0;
    int MsToFirstChange = -1;
    int MsPerPass = 0;
};

TDemoWalk WalkDemo(const std::vector<std::string>& lines) {
    TDemoWalk walk;
    TSimScene scene;
    bool connected = false;
    for (const std::string& line : lines) {
        TSimEffect effect;
        EXPECT_EQ(ApplyCommand(scene, line, effect), "") << line;
        const TSimState& state = scene.State;
        connected = connected || effect.WaitStation;
        if (connected)
            walk.MsPerPass += effect.WaitMs;
        const bool changed = state.Checks[1][SIM_LEVEL] == SIM_ERROR;
        if (changed && walk.MsToFirstChange < 0)
            walk.MsToFirstChange = walk.MsPerPass;
        walk.InputBFailsAlone = walk.InputBFailsAlone || (changed && state.Output == SIM_INPUT_A);
        const bool changedOver =
            state.Checks[0][SIM_SYNC] == SIM_ERROR && state.Output == SIM_INPUT_B && state.AutoMode;
        walk.ChangesOverOnSync = walk.ChangesOverOnSync || changedOver;
        walk.ReturnsToA = walk.ChangesOverOnSync && state.Output == SIM_INPUT_A;
        walk.PowerSupplyFails = walk.PowerSupplyFails || state.Psu[1] == SIM_ERROR;
        walk.HottestTemperature = std::max(walk.HottestTemperature, state.Temperature);
    }
    return walk;
}

TEST(SimDemo, PlaysEverySceneWithinAMinute) {
    const std::vector<std::string> lines = DemoLines();
    ASSERT_FALSE(lines.empty());
    const TDemoWalk walk = WalkDemo(lines);
    EXPECT_TRUE(walk.InputBFailsAlone);
    EXPECT_TRUE(walk.ChangesOverOnSync);
    EXPECT_TRUE(walk.ReturnsToA);
    EXPECT_TRUE(walk.PowerSupplyFails);
    EXPECT_GT(walk.HottestTemperature, 70);
    EXPECT_GE(walk.MsToFirstChange, 0);
    EXPECT_LE(walk.MsToFirstChange, 10000);
    EXPECT_LE(walk.MsPerPass, 60000);
    EXPECT_EQ(lines.back(), "loop");

    // A pass ends as calm as it started, so that the next one shows the same changes; only
    // the error counters keep counting.
    TSimScene scene;
    TSimEffect effect;
    std::string calm;
    for (const std::string& line : lines) {
        ApplyCommand(scene, line, effect);
        if (effect.WaitStation && calm.empty())
            calm = DescribeScene(scene);
    }
    scene.State.Counters.fill(0);
    EXPECT_EQ(DescribeScene(scene), calm);
}

TEST_F(SimPlayer, DemoWaitsForTheStationThenLoops) {
    std::istringstream demo(FastDemo());
    TPlayLog log;
    std::thread player([&] { log = Play(Fleet, demo); });
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(Device.State().Checks[1][SIM_LEVEL], SIM_OK) << "played before a station came";

    TSimClient client(Device.Port());
    const TSimBytes calm = client.Ask("01 00 80 06 00");
    ASSERT_EQ(calm.size(), 14U);
    bool inputB = false, changedOver = false, psuError = false, hot = false;
    int passes = 0;
    bool inPass = false;
    for (auto end = std::chrono::steady_clock::now() + 10s;
         std::chrono::steady_clock::now() < end && passes < 2;) {
        const TSimBytes state = client.Ask("01 00 80 06 00");
        const TSimBytes power = client.Ask("01 03 80 06 00");
        ASSERT_EQ(state.size(), 14U);
        ASSERT_EQ(power.size(), 10U);
        const bool bFails = state[9] != calm[9] && state[5] == calm[5];
        inputB = inputB || bFails;
        changedOver = changedOver || state[5] == 0x03;
        psuError = psuError || power[7] == SIM_ERROR;
        hot = hot || power[9] > 70;
        // A pass begins with input B failing alone.
        if (bFails && !inPass)
            ++passes;
        inPass = bFails;
        std::this_thread::sleep_for(5ms);
    }
    Device.Stop();
    player.join();
    EXPECT_TRUE(inputB && changedOver && psuError && hot);
    EXPECT_EQ(passes, 2);
    EXPECT_EQ(log.Errors, "");
}

TEST_F(SimPlayer, WaitStationEndsOnConnectOrStop) {
    std::thread connector([&] {
        std::this_thread::sleep_for(100ms);
        TSimClient client(Device.Port());
        Device.WaitStation(true, 2s);
    });
    const auto start = std::chrono::steady_clock::now();
    Run("wait-station");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 90ms);
    connector.join();

    Device.WaitStation(false, 1s);
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        Device.Stop();
    });
    Run("wait-station");
    stopper.join();
    EXPECT_FALSE(Device.Running());
}

TEST_F(SimPlayer, LoopNeedsAWaitAndAFile) {
    std::istringstream noWait("temp 50\nloop\ntemp 60\n");
    EXPECT_EQ(Play(Fleet, noWait).Errors,
              "scene:2: loop: no wait before it, so the script would never pause\n");
    EXPECT_EQ(Device.State().Temperature, 50);

    TPipeBuffer pipe("temp 51\nwait 1\nloop\ntemp 61\n");
    std::istream piped(&pipe);
    EXPECT_EQ(Play(Fleet, piped).Errors, "scene:3: loop: only a script file can start over\n");
    EXPECT_EQ(Device.State().Temperature, 51);
}

TEST_F(SimPlayer, ReportsErrorsByLineAndGoesOn) {
    std::istringstream scene("temp 40\ntemp hot\n\nstate\ncheck C sync ok\ntemp 41\n");
    const TPlayLog log = Play(Fleet, scene);
    EXPECT_EQ(log.Errors, "scene:2: usage: temp 0..255|none\n"
                          "scene:5: usage: check A|B sync|motion|level|audio-left|audio-right|"
                          "all off|ok|error|na\n");
    EXPECT_NE(log.Printed.find("temp 40"), std::string::npos);
    EXPECT_EQ(Device.State().Temperature, 41);
}

TEST_F(SimPlayer, EndsOnceTheDeviceStops) {
    std::istringstream looping("temp 50\nwait 20\nloop\n");
    std::thread stopper([&] {
        std::this_thread::sleep_for(100ms);
        Device.Stop();
    });
    EXPECT_EQ(Play(Fleet, looping).Errors, "");
    stopper.join();
}

TEST(SimPlayerFleet, LoopsOnceForTheWholeFleet) {
    TSimOptions options;
    options.Port = 0;
    TSimFleet fleet(options, 2);
    ASSERT_EQ(fleet.Start(), "");
    std::istringstream looping("temp 50\nwait 20\nloop\n");
    TPlayLog log;
    std::atomic<bool> done = false;
    std::thread player([&] {
        log = Play(fleet, looping);
        done = true;
    });
    std::this_thread::sleep_for(150ms);
    EXPECT_FALSE(done) << "the loop was not carried out";
    fleet.Stop();
    player.join();
    EXPECT_EQ(log.Errors, "");
    EXPECT_EQ(fleet.Device(1).State().Temperature, 50);
    EXPECT_EQ(fleet.Device(2).State().Temperature, 50);
}

} // namespace
