// The exporter program against simulated devices on loopback: every device up, series
// following the devices, reconnects, reloads, the endpoints, its end and its refusals.

#include "ExporterProcess.h"
#include "QtWait.h"
#include "SimDevice.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <arpa/inet.h>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A connection to the loopback port that sends nothing yet; a full backlog gives up
// after a second.
int Connect(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    timeval limit{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    return fd;
}

class ExporterRunTest : public testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3; ++i) {
            TSimOptions options;
            options.Port = 0;
            fDevices.push_back(std::make_unique<TSimDevice>(options));
            ASSERT_TRUE(fDevices.back()->Start());
        }
    }

    std::string Key(int device) const {
        return "127.0.0.1:" + std::to_string(fDevices[device]->Port());
    }

    void WriteTargets(const std::vector<int>& devices) const {
        std::ofstream file("targets");
        file << "# test devices\n";
        for (int device : devices)
            file << Key(device) << " device " << device << "\n";
    }

    std::unique_ptr<TExporterProcess> Start(std::vector<std::string> args) {
        args.insert(args.begin(), {"--web.listen-address", "127.0.0.1:0"});
        auto exporter = std::make_unique<TExporterProcess>(args);
        EXPECT_NE(exporter->WaitListening(), 0);
        return exporter;
    }

    // The log's text of a change line of a device.
    std::string Change(int device, const std::string& line) const {
        return "device=" + Key(device) + " event=change message=\"" + line + "\"";
    }

    bool WaitUp(TExporterProcess& exporter, int device, double up = 1,
                std::chrono::milliseconds timeout = 5s) {
        return exporter.WaitSample("control7710_up", {{"device", Key(device)}}, up, timeout);
    }

    std::vector<std::unique_ptr<TSimDevice>> fDevices;
};

TEST_F(ExporterRunTest, EveryDeviceUpAndItsSeriesFollowTheDevice) {
    // A label saved in Latin-1 is taken as such; a device listed twice is one device.
    std::ofstream("targets") << Key(0) << " R\xe9gie 0\n" << Key(1) << "\n";
    auto exporter = Start({"--targets", "targets", Key(2) + "=from the command line", Key(1)});
    EXPECT_NE(exporter->WaitLog("message=\"Line read as Latin-1\" file=targets line=1"), 0u);
    EXPECT_NE(exporter->WaitLog("message=Listening address=127.0.0.1:" +
                                std::to_string(exporter->Port()) + " devices=3"),
              0u);
    for (int device = 0; device < 3; ++device)
        EXPECT_TRUE(WaitUp(*exporter, device)) << device;
    EXPECT_TRUE(exporter->WaitSample("control7710_device_info",
                                     {{"device", Key(2)}, {"label", "from the command line"}}, 1));
    EXPECT_TRUE(exporter->WaitSample("control7710_device_info",
                                     {{"device", Key(0)}, {"label", "R\u00e9gie 0"}}, 1));
    const std::map<std::string, std::string> syncA{
        {"device", Key(0)}, {"input", "A"}, {"check", "sync"}};
    EXPECT_TRUE(exporter->WaitSample("control7710_check_state", syncA, 1));
    const std::size_t before = exporter->Lines().size();
    ASSERT_EQ(fDevices[0]->Execute("check A sync error"), "");
    EXPECT_TRUE(exporter->WaitSample("control7710_check_state", syncA, 2));
    // In automatic mode the device changes over to B.
    EXPECT_TRUE(exporter->WaitSample("control7710_output_input", {{"device", Key(0)}}, 2));
    const std::map<std::string, std::string> changeovers0{{"device", Key(0)}, {"cause", "auto"}};
    EXPECT_TRUE(exporter->WaitSample("control7710_changeovers_total", changeovers0, 1));
    EXPECT_NE(exporter->WaitLog(Change(0, "[A] VIDEO SYNC: ERROR"), before), 0u);
    EXPECT_NE(exporter->WaitLog(Change(0, "[B] -> [OUT] AUTO"), before), 0u);
    ASSERT_EQ(fDevices[1]->Execute("temp none"), "");
    EXPECT_TRUE(exporter->WaitSample("control7710_temperature_celsius", {{"device", Key(1)}},
                                     std::nullopt));
    // An input forced in MANUAL is no changeover of the device's own.
    ASSERT_EQ(fDevices[1]->Execute("mode manual"), "");
    EXPECT_TRUE(exporter->WaitSample("control7710_auto_mode", {{"device", Key(1)}}, 0));
    ASSERT_EQ(fDevices[1]->Execute("output B"), "");
    const std::map<std::string, std::string> forced1{{"device", Key(1)}, {"cause", "forced"}};
    EXPECT_TRUE(exporter->WaitSample("control7710_changeovers_total", forced1, 1));
    EXPECT_EQ(Sample(exporter->Metrics(), "control7710_changeovers_total",
                     {{"device", Key(1)}, {"cause", "auto"}}),
              0);
}

TEST_F(ExporterRunTest, NothingItSendsChangesADevice) {
    auto exporter = Start({Key(0)});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    for (const char* path : {"/metrics", "/", "/-/healthy", "/metrics?x=1"})
        EXPECT_EQ(HttpGet(exporter->Port(), path).Status, 200) << path;
    EXPECT_EQ(HttpGet(exporter->Port(), "/nothing").Status, 404);
    PumpFor(300ms);
    const auto received = fDevices[0]->Received();
    ASSERT_FALSE(received.empty());
    for (const TSimRecord& record : received)
        EXPECT_EQ(record.Payload.size(), 5u) << "only the five-byte read requests";
}

TEST_F(ExporterRunTest, PagesShowTheDevicesHealthAndTheProcessToGetAndHeadOnly) {
    auto exporter = Start({Key(0) + "=studio <1>", Key(1)});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    fDevices[1]->Stop();
    ASSERT_TRUE(WaitUp(*exporter, 1, 0));
    const THttpReply page = HttpGet(exporter->Port(), "/");
    EXPECT_NE(page.Body.find("<td>" + Key(0) +
                             "</td><td>studio &lt;1&gt;</td><td>7710/12 "
                             "SIM</td><td>up</td><td>[A] -&gt; [OUT]</td><td>AUTO</td>"),
              std::string::npos)
        << page.Body;
    EXPECT_NE(page.Body.find("<td>" + Key(1) + "</td>"), std::string::npos);
    EXPECT_NE(page.Body.find("href=\"/metrics\""), std::string::npos);
    const THttpReply health = HttpGet(exporter->Port(), "/-/healthy");
    EXPECT_NE(health.Body.find("healthy"), std::string::npos);
    const THttpReply head = HttpRequest(exporter->Port(), "HEAD", "/-/healthy");
    EXPECT_EQ(head.Status, 200);
    EXPECT_EQ(head.Body, "");
    EXPECT_NE(head.Head.find("Content-Length: " + std::to_string(health.Body.size()) + "\r\n"),
              std::string::npos);
    EXPECT_EQ(HttpRequest(exporter->Port(), "HEAD", "/metrics").Status, 200);
    EXPECT_EQ(HttpRequest(exporter->Port(), "HEAD", "/nothing").Status, 404);
    for (const char* method : {"POST", "DELETE", "OPTIONS"}) {
        const THttpReply refused = HttpRequest(exporter->Port(), method, "/metrics");
        EXPECT_EQ(refused.Status, 405) << method;
        EXPECT_NE(refused.Head.find("Allow: GET, HEAD\r\n"), std::string::npos) << method;
    }
    const std::string metrics = exporter->Metrics();
    EXPECT_EQ(Sample(metrics, "control7710_exporter_build_info", {}), 1);
    EXPECT_NE(metrics.find("control7710_exporter_build_info{version=\"1."), std::string::npos);
    EXPECT_GE(Sample(metrics, "process_cpu_seconds_total", {}).value_or(-1), 0);
    EXPECT_GT(Sample(metrics, "process_resident_memory_bytes", {}).value_or(0), 1e6);
    EXPECT_GT(Sample(metrics, "process_open_fds", {}).value_or(0), 3);
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    EXPECT_NEAR(Sample(metrics, "process_start_time_seconds", {}).value_or(0), now, 60);
}

// A client that sends half a request, or nothing, holds nothing the others need.
TEST_F(ExporterRunTest, ThreeHundredSlowConnectionsDelayNoScrape) {
    auto exporter = Start({Key(0)});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    std::vector<int> slow;
    for (int i = 0; i < 300; ++i) {
        slow.push_back(Connect(exporter->Port()));
        const std::string half = "GET /metrics HTTP/1.1\r\nHost: x\r\n";
        if (i % 2 == 0)
            send(slow.back(), half.data(), half.size(), MSG_NOSIGNAL);
    }
    PumpFor(200ms);
    for (const char* path : {"/metrics", "/-/healthy"}) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(HttpGet(exporter->Port(), path).Status, 200) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << path;
    }
    for (const int fd : slow)
        close(fd);
}

TEST_F(ExporterRunTest, ADroppedDeviceIsConnectedAgainAfterTheFirstWait) {
    auto exporter = Start({Key(0)});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    const std::size_t before = exporter->Lines().size();
    ASSERT_EQ(fDevices[0]->Execute("drop"), "");
    const std::size_t stop = exporter->WaitLog(
        "device=" + Key(0) + " event=stop message=\"Connection is broken", before);
    ASSERT_NE(stop, 0u);
    EXPECT_NE(exporter->Lines()[stop - 1].find("reconnect_in="), std::string::npos);
    EXPECT_TRUE(exporter->WaitSample("control7710_connects_total", {{"device", Key(0)}}, 2, 4s));
    EXPECT_TRUE(WaitUp(*exporter, 0));
    const std::string metrics = exporter->Metrics();
    EXPECT_EQ(
        Sample(metrics, "control7710_stops_total", {{"device", Key(0)}, {"reason", "read_failed"}})
                .value_or(0) +
            Sample(metrics, "control7710_stops_total",
                   {{"device", Key(0)}, {"reason", "write_failed"}})
                .value_or(0),
        1);
    EXPECT_EQ(fDevices[0]->Connections(), 2);
}

TEST_F(ExporterRunTest, SighupReadsTheTargetsAgainAndKeepsTheDevicesStillListed) {
    WriteTargets({0, 1});
    auto exporter = Start({"--targets", "targets"});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    ASSERT_TRUE(WaitUp(*exporter, 1));
    WriteTargets({1, 2});
    {
        std::ofstream file("targets", std::ios::app);
        file << "300.1.1.1\x1b[2J\n";
    }
    exporter->Signal(SIGHUP);
    EXPECT_NE(exporter->WaitLog("\"Targets reloaded\" kept=1 added=1 removed=1"), 0u);
    // The line's control characters are escaped, not sent to the terminal.
    EXPECT_NE(exporter->WaitLog("\"Line skipped\" file=targets line=4 error=\"invalid IP "
                                "address \\\"300.1.1.1\\u001b[2J\\\"\""),
              0u);
    EXPECT_TRUE(WaitUp(*exporter, 2));
    EXPECT_TRUE(exporter->WaitSample("control7710_up", {{"device", Key(0)}}, std::nullopt));
    EXPECT_TRUE(fDevices[0]->WaitStation(false, 3s));
    EXPECT_EQ(fDevices[1]->Connections(), 1) << "a device still listed keeps its connection";
    std::remove("targets");
    exporter->Signal(SIGHUP);
    EXPECT_NE(exporter->WaitLog("Targets not read, kept"), 0u);
    EXPECT_TRUE(WaitUp(*exporter, 2));
}

// A FIFO would wait for a writer: it is refused at once, and nothing waits on it.
TEST_F(ExporterRunTest, AFifoAsTargetsKeepsTheDevicesAndSigtermEndsAtOnce) {
    WriteTargets({0});
    auto exporter = Start({"--targets", "targets"});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    std::remove("targets");
    ASSERT_EQ(mkfifo("targets", 0600), 0);
    exporter->Signal(SIGHUP);
    EXPECT_NE(exporter->WaitLog("level=error event=reload message=\"Targets not read, kept\" "
                                "error=\"cannot read targets: not a regular file\""),
              0u);
    EXPECT_TRUE(WaitUp(*exporter, 0));
    exporter->Signal(SIGTERM);
    EXPECT_EQ(exporter->WaitExit(1s), 0);
    std::remove("targets");
}

TEST_F(ExporterRunTest, SigtermDisconnectsEveryDeviceAndEndsWithinOneTimeOut) {
    ASSERT_EQ(fDevices[2]->Execute("fault silent"), "");
    auto exporter = Start({Key(0), Key(1), Key(2)});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    ASSERT_TRUE(WaitUp(*exporter, 1));
    ASSERT_TRUE(fDevices[2]->WaitReceived(1, 3s)); // the silent one is waiting for a reply
    const auto start = std::chrono::steady_clock::now();
    exporter->Signal(SIGTERM);
    EXPECT_EQ(exporter->WaitExit(5s), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 3500ms);
    for (int device = 0; device < 3; ++device)
        EXPECT_TRUE(fDevices[device]->WaitStation(false, 1s)) << device;
    EXPECT_NE(exporter->WaitLog("Stopping on SIGTERM"), 0u);
}

TEST_F(ExporterRunTest, JsonLogIsOneObjectALine) {
    auto exporter = Start({"--log.format", "json", Key(0)});
    ASSERT_TRUE(WaitUp(*exporter, 0));
    ASSERT_EQ(fDevices[0]->Execute("psu 1 error"), "");
    ASSERT_NE(exporter->WaitLog("POWER SUPPLY 1: ERROR"), 0u);
    exporter->Signal(SIGINT);
    EXPECT_EQ(exporter->WaitExit(5s), 0);
    std::vector<std::string> events;
    for (const std::string& line : exporter->Lines()) {
        const QJsonObject object =
            QJsonDocument::fromJson(QByteArray::fromStdString(line)).object();
        ASSERT_FALSE(object.isEmpty()) << line;
        EXPECT_TRUE(object.contains("time"));
        EXPECT_EQ(object.value("level").toString(), "info");
        events.push_back(object.value("event").toString().toStdString());
        if (events.back() == "stop") {
            EXPECT_TRUE(object.value("code").isDouble()) << line;
        }
        if (events.back() == "change") {
            EXPECT_EQ(object.value("device").toString().toStdString(), Key(0));
        }
    }
    const std::vector<std::string> expected{"start", "connect", "change", "shutdown", "stop"};
    EXPECT_EQ(events, expected);
}

// A socket listening on a loopback port the system picked; its port.
int OccupyPort(int& fd) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(fd, 1);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    return ntohs(address.sin_port);
}

TEST(ExporterStart, APortInUseEndsWithStatusTwoAndOneLine) {
    int fd = -1;
    const int port = OccupyPort(fd);
    TExporterProcess exporter(
        {"--web.listen-address", "127.0.0.1:" + std::to_string(port), "127.0.0.1:1"});
    EXPECT_EQ(exporter.WaitExit(5s), 2);
    const std::string errors = exporter.Errors();
    EXPECT_NE(errors.find("cannot listen on 127.0.0.1:" + std::to_string(port)), std::string::npos);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    close(fd);
}

TEST(ExporterStart, AnUnreadableTargetsFileEndsWithStatusTwo) {
    TExporterProcess exporter({"--web.listen-address", "127.0.0.1:0", "--targets", "missing"});
    EXPECT_EQ(exporter.WaitExit(5s), 2);
    EXPECT_EQ(exporter.Errors(), "control7710-exporter: cannot read missing: No such file or "
                                 "directory\n");
    EXPECT_TRUE(exporter.Lines().empty());
    ASSERT_EQ(mkfifo("fifo-targets", 0600), 0);
    TExporterProcess fifo({"--web.listen-address", "127.0.0.1:0", "--targets", "fifo-targets"});
    EXPECT_EQ(fifo.WaitExit(5s), 2);
    EXPECT_EQ(fifo.Errors(),
              "control7710-exporter: cannot read fifo-targets: not a regular file\n");
    std::remove("fifo-targets");
}

bool Ipv6LoopbackWorks() {
    const int fd = socket(AF_INET6, SOCK_STREAM, 0);
    sockaddr_in6 address{};
    address.sin6_family = AF_INET6;
    address.sin6_addr = in6addr_loopback;
    const bool bound =
        fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return bound;
}

TEST(ExporterStart, ListensOnAnIpv6AddressAndOnEveryInterface) {
    if (!Ipv6LoopbackWorks())
        GTEST_SKIP() << "no IPv6 loopback here";
    TExporterProcess v6({"--web.listen-address", "[::1]:0"});
    ASSERT_NE(v6.WaitListening(), 0);
    EXPECT_EQ(HttpRequest(v6.Port(), "GET", "/-/healthy", "::1").Status, 200);
    TExporterProcess every({"--web.listen-address", ":0"});
    ASSERT_NE(every.WaitListening(), 0);
    EXPECT_EQ(HttpRequest(every.Port(), "GET", "/-/healthy", "::1").Status, 200);
    EXPECT_EQ(HttpGet(every.Port(), "/-/healthy").Status, 200);
}

TEST(ExporterStart, LogLevelLeavesOutTheLinesBelowIt) {
    TExporterProcess exporter(
        {"--web.listen-address", "127.0.0.1:0", "--log.level", "warn", "127.0.0.1:1"});
    ASSERT_NE(exporter.WaitLog("level=warn device=127.0.0.1:1 event=stop"), 0u);
    for (const std::string& line : exporter.Lines())
        EXPECT_EQ(line.find("level=info"), std::string::npos) << line;
}

TEST(ExporterStart, HelpVersionAndUsageErrors) {
    TExporterProcess help({"--help"});
    EXPECT_EQ(help.WaitExit(5s), 0);
    EXPECT_EQ(help.Lines().front().rfind("Usage: control7710-exporter", 0), 0u);
    TExporterProcess version({"--version"});
    EXPECT_EQ(version.WaitExit(5s), 0);
    EXPECT_EQ(version.Lines().front().rfind("control7710-exporter ", 0), 0u);
    TExporterProcess usage({"--interval", "5"});
    EXPECT_EQ(usage.WaitExit(5s), 2);
    EXPECT_NE(usage.Errors().find("--interval"), std::string::npos);
}

} // namespace
