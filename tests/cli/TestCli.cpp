// control7710-cli run as a child process against the simulated device: device text that
// cannot drive a terminal, output that cannot stall the monitor, and the conventions of
// its command line.

#include "CliProcess.h"
#include "SimDevice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <atomic>
#include <csignal>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <thread>

using namespace std::chrono_literals;

namespace {

// How soon watch must end once told to. A sanitizer's own work at exit (the leak check
// above all) comes on top, and is not the program's.
#if defined(__SANITIZE_ADDRESS__)
constexpr auto END_BOUND = 3s;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr auto END_BOUND = 3s;
#else
constexpr auto END_BOUND = 1s;
#endif
#else
constexpr auto END_BOUND = 1s;
#endif

// A simulated device on a port of its own on loopback.
class Device {
public:
    explicit Device(const std::string& name = "7710/12 SIM", int temperature = 35,
                    bool silent = false, int answers = -1) {
        TSimOptions options;
        options.Address = "127.0.0.1";
        options.Port = 0;
        options.Scene.State.Name = name;
        options.Scene.State.Temperature = temperature;
        options.Scene.Faults.Silent = silent;
        options.Scene.Faults.AnswerFirst = answers;
        fDevice = std::make_unique<TSimDevice>(options);
        EXPECT_TRUE(fDevice->Start());
    }

    std::string Port() const { return std::to_string(fDevice->Port()); }
    TSimDevice& Sim() { return *fDevice; }

private:
    std::unique_ptr<TSimDevice> fDevice;
};

} // namespace

TEST(CliDeviceText, TheDeviceNameReachesTheTerminalEscaped) {
    // The device serves one station at a time: events, watch and check get a device each,
    // and report follows events on its device once it has ended.
    const std::string name = "\x1b[2J\r\n\\A\xe9";
    const std::string shown = "\\x1b[2J\\x0d\\x0a\\\\A\u00e9";
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<std::unique_ptr<TCliProcess>> runs;
    for (const std::string command : {"events", "watch", "check"}) {
        devices.push_back(std::make_unique<Device>(name));
        runs.push_back(std::make_unique<TCliProcess>(std::vector<std::string>{
            command, "127.0.0.1", "--port", devices.back()->Port(),
            command == "check" ? "-t" : "--seconds", command == "check" ? "10" : "2"}));
    }
    std::vector<TCliResult> results;
    for (const auto& run : runs)
        results.push_back(run->Finish());
    results.push_back(RunCli({"report", "127.0.0.1", "--port", devices[0]->Port()}));
    for (const TCliResult& result : results) {
        EXPECT_NE(result.Out.find(shown), std::string::npos) << result.Out;
        EXPECT_EQ(result.Out.find('\x1b'), std::string::npos) << result.Out;
    }
}

namespace {

// Changes a check of the device back and forth as fast as it takes commands, so that
// watch has a change line to print at every poll cycle.
class Flicker {
public:
    explicit Flicker(TSimDevice& device)
        : fThread([this, &device] {
              while (!fStop) {
                  device.Execute("check B sync error");
                  std::this_thread::sleep_for(2ms);
                  device.Execute("check B sync ok");
                  std::this_thread::sleep_for(2ms);
              }
          }) {}
    ~Flicker() {
        fStop = true;
        fThread.join();
    }

private:
    std::atomic<bool> fStop{false};
    std::thread fThread;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

} // namespace

TEST(CliStalledOutput, SignalsEndWatchWithinASecondWhateverItsOutputDoes) {
    for (const int signal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signal);
        Device device;
        Flicker flicker(device.Sim());
        TCliProcess watch({"watch", "127.0.0.1", "--port", device.Port()}, true);
        ASSERT_TRUE(device.Sim().WaitStation(true, 3s));
        std::this_thread::sleep_for(500ms); // change lines pile up meanwhile
        ::kill(watch.Pid(), signal);
        const auto sent = std::chrono::steady_clock::now();
        const TCliResult result = watch.Finish(10s);
        EXPECT_LT(std::chrono::steady_clock::now() - sent, END_BOUND);
        EXPECT_EQ(result.Status, 74) << "output was lost: " << result.Err;
        EXPECT_NE(result.Err.find("Control stoped manualy"), std::string::npos) << result.Err;
        EXPECT_NE(result.Err.find("not written: standard output was not read"), std::string::npos)
            << result.Err;
    }
}

TEST(CliStalledOutput, AReaderThatHasWhatItWantedEndsTheMonitorQuietlyWithinASecond) {
    for (const char* command : {"events", "watch"}) {
        SCOPED_TRACE(command);
        Device device;
        Flicker flicker(device.Sim());
        TCliProcess run({command, "127.0.0.1", "--port", device.Port()});
        EXPECT_FALSE(run.FirstLineThenClose().empty()); // as "| head -1" does
        const auto closed = std::chrono::steady_clock::now();
        const TCliResult result = run.Finish(10s);
        EXPECT_LT(std::chrono::steady_clock::now() - closed, END_BOUND);
        EXPECT_EQ(result.Status, 0);
        EXPECT_EQ(result.Err, "");
    }
}

TEST(CliStalledOutput, TheTimeLimitEndsWatchWithinASecondWhateverItsOutputDoes) {
    Device device;
    Flicker flicker(device.Sim());
    TCliProcess watch({"watch", "127.0.0.1", "--port", device.Port(), "--seconds", "2"}, true);
    const TCliResult result = watch.Finish(10s);
    EXPECT_LT(result.Took, 2s + END_BOUND);
    EXPECT_EQ(result.Status, 74) << result.Err;
    EXPECT_NE(result.Err.find("Control stoped manualy"), std::string::npos) << result.Err;
}

TEST(CliCheck, TemperatureLimitsDecideAndThePerformanceDataFollowsTheStatusLine) {
    Device device("7710/12 SIM", 45);
    const TCliResult warm =
        RunCli({"check", "-H", "127.0.0.1", "-p", device.Port(), "-w", "40", "-c", "50"});
    EXPECT_EQ(warm.Status, 1) << warm.Out;
    ASSERT_EQ(Lines(warm.Out).size(), 1U) << warm.Out;
    EXPECT_TRUE(warm.Out.starts_with("SWITCH WARNING - ")) << warm.Out;
    EXPECT_NE(warm.Out.find("|temperature=45;40;50;0;255 psu1=1;;;0;3 psu2=1;;;0;3 output=1;;;1;2 "
                            "auto=1;;;0;1 cycles="),
              std::string::npos)
        << warm.Out;
    EXPECT_EQ(warm.Out.find("cycles=U"), std::string::npos) << "measured within the time";

    const TCliResult defaults = RunCli({"check", "127.0.0.1", "--port", device.Port()});
    EXPECT_EQ(defaults.Status, 0) << defaults.Out;
    EXPECT_TRUE(defaults.Out.starts_with("SWITCH OK - 7710/12 SIM: ")) << defaults.Out;
    EXPECT_NE(defaults.Out.find("|temperature=45;59;69;"), std::string::npos) << defaults.Out;

    const TCliResult hot =
        RunCli({"check", "-H", "127.0.0.1", "-p", device.Port(), "-w", "30", "-c", "44"});
    EXPECT_EQ(hot.Status, 2) << hot.Out;
    EXPECT_TRUE(hot.Out.starts_with("SWITCH CRITICAL - OVERHEAT 45C|")) << hot.Out;
}

TEST(CliCheck, RangesLongOptionsAHostNameAndManualModeFromTheCommandLine) {
    Device device("7710/12 SIM", 45);
    const TCliResult inside = RunCli({"check", "--hostname", "localhost", "--port=" + device.Port(),
                                      "--warning=@40:50", "--critical", "~:45"});
    EXPECT_EQ(inside.Status, 1) << inside.Out;
    EXPECT_TRUE(
        inside.Out.starts_with("SWITCH WARNING - temperature 45C|temperature=45;@40:50;~:45;"))
        << inside.Out;

    device.Sim().Execute("mode manual");
    const TCliResult manual =
        RunCli({"check", "-H", "127.0.0.1", "-p", device.Port(), "--manual", "warning"});
    EXPECT_EQ(manual.Status, 1) << manual.Out;
    EXPECT_TRUE(manual.Out.starts_with("SWITCH WARNING - [A] -> [OUT] MANUAL|")) << manual.Out;
    const TCliResult usual = RunCli({"check", "-H", "127.0.0.1", "-p", device.Port()});
    EXPECT_EQ(usual.Status, 0) << usual.Out;
}

TEST(CliCheck, TheWholeRunEndsWithinItsTimeAndUnreachableIsCritical) {
    Device silent("7710/12 SIM", 35, true);
    const TCliResult late = RunCli({"check", "-H", "127.0.0.1", "-p", silent.Port(), "-t", "1"});
    EXPECT_EQ(late.Status, 2);
    EXPECT_EQ(late.Out, "SWITCH CRITICAL - timeout after 1 s\n");
    EXPECT_LT(late.Took, 1800ms);

    const std::string closedPort = silent.Port();
    silent.Sim().Stop();
    const TCliResult refused = RunCli({"check", "-H", "127.0.0.1", "-p", closedPort});
    EXPECT_EQ(refused.Status, 2);
    EXPECT_EQ(refused.Out, "SWITCH CRITICAL - Device not found or used by other programm\n");
}

TEST(CliCheck, EveryUsageErrorIsOneUnknownLine) {
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"check", "-w", "40"},
             {"-w", "40", "check", "127.0.0.1", "--bogus"},
             {"-t", "5", "-H", "127.0.0.1", "check", "-w", "20:10"},
             {"check", "-H", "no-such-host.invalid"}}) {
        const TCliResult usage = RunCli(args);
        EXPECT_EQ(usage.Status, 3) << usage.Out;
        EXPECT_TRUE(usage.Out.starts_with("SWITCH UNKNOWN - ")) << usage.Out;
        EXPECT_EQ(Lines(usage.Out).size(), 1U) << usage.Out;
        EXPECT_EQ(usage.Err, "");
    }
}

TEST(CliCheck, AVerdictReachedStandsWhenTheDeviceFallsSilentBeforeTheLinkCloses) {
    // The first pass is answered, then nothing: closing the link would wait out a 3 s
    // reply time-out, longer than the check may take.
    Device fading("7710/12 SIM", 35, false, 5);
    const TCliResult result = RunCli({"check", "-H", "127.0.0.1", "-p", fading.Port(), "-t", "2"});
    EXPECT_EQ(result.Status, 0) << result.Out;
    EXPECT_TRUE(result.Out.starts_with("SWITCH OK - ")) << result.Out;
    EXPECT_NE(result.Out.find(" cycles=U;"), std::string::npos) << result.Out;
    EXPECT_LT(result.Took, 2800ms);
}

TEST(CliConventions, HelpAndVersionSucceedAndUsageErrorsGoToStandardError) {
    const TCliResult help = RunCli({"--help"});
    EXPECT_EQ(help.Status, 0);
    EXPECT_NE(help.Out.find("Usage: control7710-cli"), std::string::npos);
    EXPECT_EQ(help.Err, "");
    const TCliResult version = RunCli({"--version"});
    EXPECT_EQ(version.Status, 0);
    EXPECT_TRUE(version.Out.starts_with("control7710-cli ")) << version.Out;
    EXPECT_EQ(std::count(version.Out.begin(), version.Out.end(), '.'), 2) << version.Out;
    const TCliResult wrong = RunCli({"report", "127.0.0.1", "--bogus"});
    EXPECT_EQ(wrong.Status, 64);
    EXPECT_EQ(wrong.Out, "");
    EXPECT_EQ(wrong.Err, "control7710-cli: bad option --bogus; see --help\n");
}

TEST(CliConventions, ReportDataGoesToStandardOutputAndFailuresToStandardError) {
    Device device;
    const TCliResult report = RunCli({"report", "127.0.0.1", "--port", device.Port()});
    EXPECT_EQ(report.Status, 0);
    EXPECT_NE(report.Out.find("Control started"), std::string::npos);
    EXPECT_EQ(report.Err, "");
    const std::string closedPort = device.Port();
    device.Sim().Stop();
    const TCliResult failed = RunCli({"report", "127.0.0.1", "--port", closedPort});
    EXPECT_EQ(failed.Status, 1);
    EXPECT_EQ(failed.Out, "");
    EXPECT_EQ(failed.Err,
              "control7710-cli: stop 1000: Device not found or used by other programm\n");

    const TCliResult json = RunCli({"events", "127.0.0.1", "--port", closedPort, "--json"});
    EXPECT_EQ(json.Status, 1);
    const QJsonObject stop = QJsonDocument::fromJson(QByteArray::fromStdString(json.Out)).object();
    EXPECT_EQ(stop["event"].toString(), "Stop") << json.Out;
    EXPECT_EQ(stop["code"].toInt(), 1000);
    EXPECT_EQ(stop["name"].toString(), "connect_failed");
    EXPECT_EQ(stop["text"].toString(), "Device not found or used by other programm");
}

TEST(CliConventions, TheAddressCarriesThePortWhenItIsNotTheDevicesOwn) {
    Device device;
    const TCliResult report = RunCli({"report", "127.0.0.1:" + device.Port()});
    EXPECT_EQ(report.Status, 0) << report.Err;
    EXPECT_NE(report.Out.find("Address: 127.0.0.1:" + device.Port() + "\n"), std::string::npos)
        << report.Out;
    const TCliResult wrong = RunCli({"report", "127.0.0.1:65536"});
    EXPECT_EQ(wrong.Status, 64);
    EXPECT_EQ(wrong.Err, "control7710-cli: invalid port \"65536\"; see --help\n");
}

TEST(CliJson, EveryLineIsOneObjectWithAnOffsetTimeAndBaseUnitsBesideRawValues) {
    Device device;
    const TCliResult report = RunCli({"report", "127.0.0.1", "--port", device.Port(), "--json"});
    ASSERT_EQ(Lines(report.Out).size(), 2U) << report.Out;
    const QJsonObject state =
        QJsonDocument::fromJson(QByteArray::fromStdString(Lines(report.Out)[0])).object();
    EXPECT_EQ(state["event"].toString(), "Report");
    EXPECT_EQ(state["Port"].toInt(), std::stoi(device.Port()));
    EXPECT_EQ(state["SyncTime"].toObject()["raw"].toInt(), 19);
    EXPECT_DOUBLE_EQ(state["SyncTime"].toObject()["value"].toDouble(), 1.9);
    EXPECT_EQ(state["SyncTime"].toObject()["unit"].toString(), "s");
    EXPECT_EQ(state["ThresholdValue"].toObject()["raw"].toInt(), 21);
    EXPECT_DOUBLE_EQ(state["ThresholdValue"].toObject()["value"].toDouble(), -40);
    EXPECT_EQ(state["ThresholdValue"].toObject()["unit"].toString(), "dB");
    EXPECT_EQ(state["VideoSync"].toObject()["B"].toObject()["value"].toString(), "OK");
    EXPECT_TRUE(QDateTime::fromString(state["time"].toString(), Qt::ISODateWithMs).isValid());
    EXPECT_TRUE(QRegularExpression(R"(T\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)")
                    .match(state["time"].toString())
                    .hasMatch())
        << state["time"].toString().toStdString();

    for (const char* command : {"events", "watch"}) {
        const TCliResult run =
            RunCli({command, "127.0.0.1", "--port", device.Port(), "--json", "--seconds", "1"});
        EXPECT_EQ(run.Status, 0) << run.Err;
        ASSERT_FALSE(run.Out.empty()) << command;
        const QJsonObject stop =
            QJsonDocument::fromJson(QByteArray::fromStdString(Lines(run.Out).back())).object();
        EXPECT_EQ(stop["event"].toString(), "Stop") << command;
        EXPECT_EQ(stop["code"].toInt(-1), 0) << command;
        EXPECT_EQ(stop["name"].toString(), "by_request") << command;
        EXPECT_EQ(stop["text"].toString(), "Control stoped manualy") << command;
        for (const std::string& line : Lines(run.Out)) {
            QJsonParseError error{};
            const QJsonDocument document =
                QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
            EXPECT_TRUE(document.object().contains("event")) << line;
            EXPECT_TRUE(document.object().contains("time")) << line;
        }
    }
}
