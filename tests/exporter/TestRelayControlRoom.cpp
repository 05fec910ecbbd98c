// A control room on one device: the station's window, ten `control7710-cli events` and two
// writers at once, all through the exporter's relay on an alias address at port 10001, so
// each reaches it by a plain address as it would the device itself, while the exporter's
// series are scraped the whole time.

#include "CliProcess.h"
#include "FormFixture.h"
#include "RelayRig.h"
#include "Widgets.h"

#include <csignal>
#include <future>
#include <set>
#include <sstream>

using namespace std::chrono_literals;

namespace {

constexpr int MONITORS = 10;
constexpr int WRITES_EACH = 20;
constexpr auto SCRAPE_PERIOD = 50ms;

// The values one event took in the output of `events`, in order.
std::vector<std::string> EventValues(const std::string& output, const std::string& event) {
    std::vector<std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind(event + " ", 0) == 0)
            values.push_back(line.substr(event.size() + 1));
    }
    return values;
}

// The outputs and modes the device went through: from A in AUTO, through each write of
// the audit in the order the device carried them out.
struct TCourse {
    std::vector<std::string> Outputs{"A"};
    std::vector<std::string> Modes{"AUTO"};
};

TCourse CourseOf(const std::vector<std::string>& writes) {
    TCourse course;
    for (const std::string& line : writes) {
        const bool select = LogField(line, "command") == "select";
        const std::string output = select ? LogField(line, "input") : course.Outputs.back();
        const std::string mode = select ? "MANUAL" : "AUTO";
        if (output != course.Outputs.back())
            course.Outputs.push_back(output);
        if (mode != course.Modes.back())
            course.Modes.push_back(mode);
    }
    return course;
}

// A scrape shows the device up, and the relay serving data at most 500 ms old.
bool ScrapeIsCurrent(TRelayRig& rig) {
    const THttpReply reply = HttpGet(rig.Exporter().Port(), "/metrics");
    const std::map<std::string, std::string> device{{"device", rig.Key()}};
    const double age =
        Sample(reply.Body, "control7710_relay_data_age_seconds", device).value_or(-1);
    return reply.Status == 200 && Sample(reply.Body, "control7710_up", device) == 1 && age >= 0 &&
           age <= 0.5;
}

double Metric(TRelayRig& rig, const std::string& name, std::map<std::string, std::string> labels) {
    labels["device"] = rig.Key();
    return Sample(rig.Exporter().Metrics(), name, labels).value_or(-1);
}

bool Ready(std::future<int>& writer) {
    return writer.wait_for(0s) == std::future_status::ready;
}

} // namespace

class RelayControlRoom : public FormFixture {};

TEST_F(RelayControlRoom, WindowMonitorsAndWritersShareOneDevice) {
    TRelayRig rig({"--relay.allow-write", "127.0.0.0/8"}, fAddress);
    ASSERT_TRUE(rig.Ready());
    ASSERT_EQ(rig.RelayPort(), DEVICE_PORT);
    std::vector<std::unique_ptr<TCliProcess>> monitors;
    for (int i = 0; i < MONITORS; ++i)
        monitors.push_back(
            std::make_unique<TCliProcess>(std::vector<std::string>{"events", fAddress}));
    ASSERT_TRUE(
        rig.Exporter().WaitSample("control7710_relay_clients", {{"device", rig.Key()}}, MONITORS));
    PumpFor(500ms); // each monitor's first pass

    OpenForm();
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(Find<TTextPanel>("PanelDev")->Text(), "7710/12 SIM");
    QTest::mouseClick(Button("BtnB"), Qt::LeftButton);
    ASSERT_TRUE(WaitJournal("[B] -> [OUT] MANUAL", 3s));
    EXPECT_EQ(rig.Device().State().Output, INPUT_B);

    auto first =
        std::async(std::launch::async, AlternateWrites, DEVICE_PORT, WRITES_EACH, fAddress);
    auto second =
        std::async(std::launch::async, AlternateWrites, DEVICE_PORT, WRITES_EACH, fAddress);
    int scrapes = 0;
    int stale = 0;
    auto nextScrape = std::chrono::steady_clock::now();
    ASSERT_TRUE(PumpUntil(
        [&] {
            if (std::chrono::steady_clock::now() >= nextScrape) {
                nextScrape += SCRAPE_PERIOD;
                ++scrapes;
                stale += ScrapeIsCurrent(rig) ? 0 : 1;
            }
            return Ready(first) && Ready(second);
        },
        60s));
    EXPECT_EQ(first.get(), WRITES_EACH);
    EXPECT_EQ(second.get(), WRITES_EACH);
    EXPECT_EQ(stale, 0) << "of " << scrapes << " scrapes";

    // Every write logged once and acknowledged; the window and every monitor saw each
    // change the writes made, in order, and none of them stopped.
    const std::size_t count = 2 * WRITES_EACH + 1;
    rig.LogLines({"event=relay_write"}, count);
    PumpFor(300ms);
    const auto writes = rig.LogLines({"event=relay_write"}, count);
    ASSERT_EQ(writes.size(), count);
    std::set<std::string> clients;
    for (const std::string& line : writes) {
        EXPECT_EQ(LogField(line, "result"), "acknowledged") << line;
        clients.insert(LogField(line, "client"));
    }
    EXPECT_EQ(clients.size(), 3u);
    const TCourse course = CourseOf(writes);
    EXPECT_EQ(fForm->Link()->AutoMode(), course.Modes.back() == "AUTO");
    EXPECT_TRUE(fMessages.empty());
    EXPECT_TRUE(rig.Exporter().WaitSample("control7710_relay_clients", {{"device", rig.Key()}},
                                          MONITORS + 1));
    for (const auto& monitor : monitors) {
        ::kill(monitor->Pid(), SIGTERM);
        const TCliResult result = monitor->Finish();
        EXPECT_EQ(result.Status, 0) << result.Err;
        EXPECT_EQ(EventValues(result.Out, "Output"), course.Outputs);
        EXPECT_EQ(EventValues(result.Out, "AutoMode"), course.Modes);
    }

    // The exporter's own series followed, both changes of output counted as forced.
    EXPECT_TRUE(rig.Exporter().WaitSample("control7710_auto_mode", {{"device", rig.Key()}},
                                          course.Modes.back() == "AUTO" ? 1 : 0));
    EXPECT_EQ(Metric(rig, "control7710_changeovers_total", {{"cause", "forced"}}), 2);
    EXPECT_EQ(Metric(rig, "control7710_changeovers_total", {{"cause", "auto"}}), 0);
    EXPECT_EQ(Metric(rig, "control7710_relay_writes_total", {{"command", "auto"}}), WRITES_EACH);
    EXPECT_EQ(Metric(rig, "control7710_relay_writes_total", {{"command", "select"}}),
              WRITES_EACH + 1);
}
