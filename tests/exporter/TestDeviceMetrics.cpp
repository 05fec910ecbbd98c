// From the link's status record and events to the exporter's series, and the text of
// /metrics and the front page made from them.

#include "DeviceMetrics.h"
#include "ExampleStatus.h"
#include "MetricsText.h"
#include "StatusPage.h"

#include <cstring>
#include <gtest/gtest.h>
#include <optional>
#include <prometheus/text_serializer.h>
#include <set>

namespace {

using prometheus::ClientMetric;
using prometheus::MetricFamily;

// The value of the one series of name with all the given labels, if there is one.
std::optional<double> Value(prometheus::Registry& registry, const std::string& name,
                            const std::map<std::string, std::string>& labels) {
    for (const MetricFamily& family : registry.Collect()) {
        if (family.name != name)
            continue;
        for (const ClientMetric& metric : family.metric) {
            std::size_t matched = 0;
            for (const ClientMetric::Label& label : metric.label)
                matched += labels.count(label.name) != 0 && labels.at(label.name) == label.value;
            if (matched == labels.size())
                return family.type == prometheus::MetricType::Counter ? metric.counter.value
                                                                      : metric.gauge.value;
        }
    }
    return std::nullopt;
}

using TNames = std::set<std::string>;

std::string FamilyName(const prometheus::Collectable& family) {
    if (const auto* gauges = dynamic_cast<const prometheus::Family<prometheus::Gauge>*>(&family))
        return gauges->GetName();
    return dynamic_cast<const prometheus::Family<prometheus::Counter>&>(family).GetName();
}

// An exposition's families, each from its HELP line to the next, in sorted order.
std::vector<std::string> FamilyTexts(const std::string& text) {
    std::vector<std::string> families;
    for (std::size_t at = 0; at < text.size();) {
        std::size_t next = text.find("\n# HELP ", at);
        next = next == std::string::npos ? text.size() : next + 1;
        families.push_back(text.substr(at, next - at));
        at = next;
    }
    std::sort(families.begin(), families.end());
    return families;
}

std::size_t SeriesCount(prometheus::Registry& registry) {
    std::size_t count = 0;
    for (const MetricFamily& family : registry.Collect())
        count += family.metric.size();
    return count;
}

TDeviceStatus SimulatorLikeStatus() {
    TDeviceStatus s = ExampleStatus("7710/12 SIM");
    s.PsuMonitoring = 2;
    s.Psu1State = STATE_ERROR;
    s.Temperature = 71;
    return s;
}

TEST(StateValues, OutputModeChecksPowerAndSettingsInBaseUnits) {
    TDeviceStatus s = SimulatorLikeStatus();
    s.Output = INPUT_B;
    s.AudioRight[1] = STATE_NA;
    s.MotionCount[1] = 7;
    const TStateValues v = StateValues(s);
    EXPECT_EQ(v.OutputInput, 2);
    EXPECT_TRUE(v.AutoMode);
    EXPECT_EQ(v.Checks[1][4], STATE_NA);
    EXPECT_EQ(v.ErrorCounts[1][1], 7);
    EXPECT_EQ(v.PsuState[0], STATE_ERROR);
    EXPECT_FALSE(v.PsuMonitored[0]);
    EXPECT_TRUE(v.PsuMonitored[1]);
    EXPECT_EQ(v.TemperatureCelsius, 71);
    // Switches: sync, motion, level, threshold, audio level, recovery.
    const double switches[] = {1, 0, 1, 1, 0, 1};
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(v.Settings[i], switches[i]) << i;
    // Sync time, motion time, level dB, level time, threshold dB, threshold time, audio
    // level dB, audio level time, recovery time.
    const double fields[] = {1.9, 0, 3.5, 2.0, -40, 1.5, 6, 0.5, 120};
    for (int i = 0; i < 9; ++i)
        EXPECT_DOUBLE_EQ(v.Settings[6 + i], fields[i]) << i;
}

TEST(StateValues, ThresholdBelowItsRangeIsLimitedAsTheStationShowsIt) {
    TDeviceStatus s = SimulatorLikeStatus();
    s.ThresholdValue = 0;
    EXPECT_EQ(StateValues(s).Settings[6 + 4], -60);
}

TEST(StateValues, NoTemperatureWhileTheDeviceReportsNone) {
    TDeviceStatus s = SimulatorLikeStatus();
    s.TempValid = false;
    EXPECT_FALSE(StateValues(s).TemperatureCelsius);
}

TEST(StateValues, OutputFailingIsTheStationsVerdictOnTheInputOnTheOutput) {
    TDeviceStatus s = SimulatorLikeStatus();
    EXPECT_FALSE(StateValues(s).OutputCheckFailing);
    s.VideoSync[s.Output - 1] = STATE_ERROR;
    EXPECT_TRUE(StateValues(s).OutputCheckFailing);
}

class DeviceMetricsTest : public testing::Test {
protected:
    prometheus::Registry fRegistry;
    TMetricFamilies fFamilies{fRegistry};

    std::optional<double> Get(const std::string& name,
                              std::map<std::string, std::string> labels = {}) {
        labels.emplace("device", "127.0.1.7");
        return Value(fRegistry, "control7710_" + name, labels);
    }

    // The families whose change count moved since the last call, without the prefix.
    TNames Moved() {
        TNames moved;
        for (const TFamilySource& source : fFamilies.Sources()) {
            const std::uint64_t changes = source.Changes->load();
            if (changes != fSeen[source.Changes])
                moved.insert(FamilyName(*source.Family).substr(std::strlen("control7710_")));
            fSeen[source.Changes] = changes;
        }
        return moved;
    }

    std::map<const std::atomic<std::uint64_t>*, std::uint64_t> fSeen;
};

// The info series stays while the device is down, so that an alert can name it by its
// label.
TEST_F(DeviceMetricsTest, LinkAndInfoSeriesExistFromTheStartStateSeriesOnlyWhileCurrent) {
    TDeviceMetrics metrics(fFamilies, "127.0.1.7", "Studio 7");
    EXPECT_EQ(Get("up"), 0);
    EXPECT_EQ(Get("device_info", {{"name", ""}, {"label", "Studio 7"}}), 1);
    EXPECT_EQ(Get("connects_total"), 0);
    EXPECT_EQ(Get("stops_total", {{"reason", "timeout"}}), 0);
    EXPECT_FALSE(Get("output_input"));
    metrics.Connected();
    EXPECT_EQ(Get("up"), 1);
    EXPECT_FALSE(Get("output_input"));
    metrics.StateCurrent(SimulatorLikeStatus());
    EXPECT_EQ(Get("output_input"), 1);
    EXPECT_EQ(Get("auto_mode"), 1);
    EXPECT_EQ(Get("check_state", {{"input", "B"}, {"check", "audio_right"}}), STATE_OK);
    EXPECT_EQ(Get("psu_state", {{"unit", "1"}}), STATE_ERROR);
    EXPECT_EQ(Get("psu_monitored", {{"unit", "1"}}), 0);
    EXPECT_EQ(Get("temperature_celsius"), 71);
    EXPECT_EQ(Get("setting_level_decibels", {{"setting", "threshold"}}), -40);
    EXPECT_EQ(Get("setting_time_seconds", {{"setting", "sync"}}), 1.9);
    EXPECT_EQ(Get("setting_enabled", {{"setting", "motion"}}), 0);
    EXPECT_EQ(Get("device_info", {{"name", "7710/12 SIM"}, {"label", "Studio 7"}}), 1);
    metrics.Stopped(STOP_TIMEOUT);
    EXPECT_EQ(Get("up"), 0);
    EXPECT_EQ(Get("stops_total", {{"reason", "timeout"}}), 1);
    EXPECT_EQ(Get("last_stop_code"), STOP_TIMEOUT);
    EXPECT_FALSE(Get("output_input"));
    EXPECT_FALSE(Get("temperature_celsius"));
    EXPECT_EQ(Get("device_info", {{"name", "7710/12 SIM"}, {"label", "Studio 7"}}), 1);
}

TEST_F(DeviceMetricsTest, ChangesFollowTheStatusAndTemperatureComesAndGoes) {
    TDeviceMetrics metrics(fFamilies, "127.0.1.7");
    TDeviceStatus s = SimulatorLikeStatus();
    metrics.StateChanged(s); // before the first pass ends nothing appears
    EXPECT_FALSE(Get("check_state", {{"input", "A"}, {"check", "sync"}}));
    metrics.Connected();
    metrics.StateCurrent(s);
    s.VideoSync[0] = STATE_ERROR;
    s.TempValid = false;
    metrics.StateChanged(s);
    EXPECT_EQ(Get("check_state", {{"input", "A"}, {"check", "sync"}}), STATE_ERROR);
    EXPECT_EQ(Get("check_on_output_failing"), 1);
    EXPECT_FALSE(Get("temperature_celsius"));
    s.TempValid = true;
    s.Temperature = 40;
    metrics.StateChanged(s);
    EXPECT_EQ(Get("temperature_celsius"), 40);
}

TEST_F(DeviceMetricsTest, CountersKeepAddingOverConnections) {
    TDeviceMetrics metrics(fFamilies, "127.0.1.7");
    metrics.Connected();
    metrics.LinkStat(1, LINK_TIMEOUTS);
    metrics.LinkStat(2, LINK_TIMEOUTS);
    metrics.LinkStat(0, LINK_READ_WARNING);
    metrics.LinkStat(1, LINK_READ_ERRORS);
    metrics.LinkStat(97, LINK_RATE);
    metrics.Changeover(true);
    EXPECT_EQ(Get("link_cycles_per_second"), 97);
    metrics.Stopped(STOP_READ_FAILED);
    EXPECT_EQ(Get("link_cycles_per_second"), 0);
    metrics.Connected();
    metrics.LinkStat(1, LINK_TIMEOUTS); // the link's totals start again at each connect
    metrics.Changeover(true);
    metrics.Changeover(false); // in MANUAL: forced
    EXPECT_EQ(Get("connects_total"), 2);
    EXPECT_EQ(Get("link_timeouts_total"), 3);
    EXPECT_EQ(Get("link_read_errors_total"), 1);
    EXPECT_EQ(Get("changeovers_total", {{"cause", "auto"}}), 2);
    EXPECT_EQ(Get("changeovers_total", {{"cause", "forced"}}), 1);
}

TEST_F(DeviceMetricsTest, DeviceErrorCountersFallWhenTheDeviceResetsThem) {
    TDeviceMetrics metrics(fFamilies, "127.0.1.7");
    TDeviceStatus s = SimulatorLikeStatus();
    s.SyncCount[0] = 5;
    s.AudioLevelRightCount[1] = 2;
    metrics.Connected();
    metrics.StateCurrent(s);
    EXPECT_EQ(Get("check_errors_total", {{"input", "A"}, {"check", "sync"}}), 5);
    EXPECT_EQ(Get("check_errors_total", {{"input", "B"}, {"check", "audio_level_right"}}), 2);
    metrics.Stopped(STOP_TIMEOUT);
    s.SyncCount[0] = 1;
    metrics.Connected();
    metrics.StateCurrent(s);
    EXPECT_EQ(Get("check_errors_total", {{"input", "A"}, {"check", "sync"}}), 1);
}

TEST_F(DeviceMetricsTest, EveryLabelNamesItsDeviceAndNothingStaysBehind) {
    const std::size_t families = SeriesCount(fRegistry);
    {
        TDeviceMetrics first(fFamilies, "127.0.1.7");
        TDeviceMetrics second(fFamilies, "127.0.1.8:10002");
        first.Connected();
        first.StateCurrent(SimulatorLikeStatus());
        first.SetLabel("studio \"7\"");
        EXPECT_EQ(Get("device_info", {{"label", "studio \"7\""}}), 1);
        EXPECT_EQ(Value(fRegistry, "control7710_up", {{"device", "127.0.1.8:10002"}}), 0);
        for (const MetricFamily& family : fRegistry.Collect()) {
            for (const ClientMetric& metric : family.metric) {
                EXPECT_TRUE(std::any_of(metric.label.begin(), metric.label.end(),
                                        [](const auto& l) { return l.name == "device"; }))
                    << family.name;
            }
        }
    }
    EXPECT_EQ(SeriesCount(fRegistry), families);
}

// A family's served text is made again only after its count moved: every change must
// move the count of its own family, and nothing else any count.
TEST_F(DeviceMetricsTest, EachChangeIsCountedInItsOwnFamilyOnly) {
    auto metrics = std::make_unique<TDeviceMetrics>(fFamilies, "127.0.1.7");
    const TNames listed{"up",
                        "device_info",
                        "connects_total",
                        "stops_total",
                        "last_stop_code",
                        "changeovers_total",
                        "link_cycles_per_second",
                        "link_timeouts_total",
                        "link_read_errors_total"};
    EXPECT_EQ(Moved(), listed);
    metrics->LinkStat(10, LINK_RATE);
    EXPECT_EQ(Moved(), (TNames{"link_cycles_per_second"}));
    metrics->LinkStat(10, LINK_RATE);
    metrics->LinkStat(0, LINK_READ_WARNING);
    metrics->LinkStat(0, LINK_TIMEOUTS);
    EXPECT_EQ(Moved(), (TNames{}));
    metrics->LinkStat(1, LINK_TIMEOUTS);
    EXPECT_EQ(Moved(), (TNames{"link_timeouts_total"}));
    metrics->Connected();
    EXPECT_EQ(Moved(), (TNames{"up", "connects_total"}));
    TDeviceStatus s = SimulatorLikeStatus();
    metrics->StateChanged(s); // no state series yet
    EXPECT_EQ(Moved(), (TNames{}));
    metrics->StateCurrent(s);
    const TNames state = Moved();
    EXPECT_EQ(state.count("device_info"), 1u);
    EXPECT_EQ(state.count("check_errors_total"), 1u);
    EXPECT_EQ(state.count("temperature_celsius"), 1u);
    EXPECT_EQ(state.count("up"), 0u);
    metrics->StateChanged(s);
    EXPECT_EQ(Moved(), (TNames{})) << "the same status changes nothing";
    s.Temperature = 40;
    metrics->StateChanged(s);
    EXPECT_EQ(Moved(), (TNames{"temperature_celsius"}));
    s.VideoSync[0] = STATE_ERROR;
    s.RecoveryTime = 60;
    metrics->StateChanged(s);
    EXPECT_EQ(Moved(), (TNames{"check_state", "check_on_output_failing", "setting_time_seconds"}));
    metrics->Changeover(false);
    EXPECT_EQ(Moved(), (TNames{"changeovers_total"}));
    metrics->SetLabel("x");
    EXPECT_EQ(Moved(), (TNames{"device_info"}));
    metrics->SetLabel("x");
    EXPECT_EQ(Moved(), (TNames{}));
    metrics->Stopped(STOP_TIMEOUT);
    TNames stopped = state;
    stopped.erase("device_info");
    stopped.insert({"up", "stops_total", "last_stop_code", "link_cycles_per_second"});
    EXPECT_EQ(Moved(), stopped);
    metrics.reset();
    EXPECT_EQ(Moved(), listed);
}

TEST_F(DeviceMetricsTest, MetricsTextIsTheWholeRegistryAsOneExposition) {
    TMetricsText text(fFamilies.Sources());
    const auto whole = [this] {
        return FamilyTexts(prometheus::TextSerializer().Serialize(fRegistry.Collect()));
    };
    auto second = std::make_unique<TDeviceMetrics>(fFamilies, "127.0.1.8");
    TDeviceMetrics first(fFamilies, "127.0.1.7");
    first.Connected();
    first.StateCurrent(SimulatorLikeStatus());
    first.SetLabel("studio 7");
    second->Stopped(STOP_CONNECT_FAILED);
    EXPECT_EQ(FamilyTexts(text.Text()), whole());
    TDeviceStatus s = SimulatorLikeStatus();
    s.TempValid = false;
    first.StateChanged(s);
    second.reset();
    EXPECT_EQ(FamilyTexts(text.Text()), whole()) << "a family gone and a device gone";
}

// A series set past its family's count stays as the last text showed it: proof that
// the text of an unchanged family is reused, not made again.
TEST_F(DeviceMetricsTest, MetricsTextMakesOnlyTheChangedFamiliesAgain) {
    TMetricsText text(fFamilies.Sources());
    TDeviceMetrics metrics(fFamilies, "127.0.1.7");
    TDeviceStatus s = SimulatorLikeStatus();
    metrics.Connected();
    metrics.StateCurrent(s);
    const std::string syncA = "control7710_check_state{check=\"sync\",device=\"127.0.1.7\","
                              "input=\"A\"} ";
    EXPECT_NE(text.Text().find(syncA + "1\n"), std::string::npos);
    fFamilies.CheckState.Series.Add({{"device", "127.0.1.7"}, {"input", "A"}, {"check", "sync"}})
        .Set(STATE_NA);
    s.Temperature = 40;
    metrics.StateChanged(s);
    const std::string changed = text.Text();
    EXPECT_NE(changed.find("control7710_temperature_celsius{device=\"127.0.1.7\"} 40\n"),
              std::string::npos);
    EXPECT_NE(changed.find(syncA + "1\n"), std::string::npos);
    s.VideoSync[0] = STATE_ERROR;
    metrics.StateChanged(s);
    EXPECT_NE(text.Text().find(syncA + "2\n"), std::string::npos);
}

TEST_F(DeviceMetricsTest, DeviceNamesAreEscapedInTheInfoLabel) {
    TDeviceMetrics metrics(fFamilies, "127.0.1.7");
    TDeviceStatus s = SimulatorLikeStatus();
    s.DeviceName = "evil\n\x1b name";
    metrics.Connected();
    metrics.StateCurrent(s);
    EXPECT_EQ(Get("device_info", {{"name", "evil\\x0a\\x1b name"}}), 1);
}

TEST_F(DeviceMetricsTest, FrontPageListsEveryDeviceWithItsState) {
    TDeviceMetrics up(fFamilies, "127.0.1.7");
    TDeviceMetrics down(fFamilies, "127.0.1.8");
    TDeviceStatus s = SimulatorLikeStatus();
    s.DeviceName = "<b>7710</b>";
    s.Output = INPUT_B;
    s.AutoMode = false;
    up.Connected();
    up.StateCurrent(s);
    up.SetLabel("Studio & Co");
    down.Stopped(STOP_CONNECT_FAILED);
    const auto rows = DeviceRows(fRegistry.Collect());
    ASSERT_EQ(rows.size(), 2u);
    const TDeviceRow& row = rows.at("127.0.1.7");
    EXPECT_TRUE(row.Up);
    EXPECT_EQ(row.Output, 2);
    EXPECT_FALSE(row.AutoMode);
    EXPECT_EQ(row.Label, "Studio & Co");
    EXPECT_EQ(rows.at("127.0.1.8").LastStopCode, STOP_CONNECT_FAILED);
    const std::string page = StatusPage(rows, "1.2.3");
    EXPECT_NE(page.find("<a href=\"/metrics\">"), std::string::npos);
    EXPECT_NE(page.find("<td>&lt;b&gt;7710&lt;/b&gt;</td><td>up</td><td>[B] -&gt; [OUT]</td>"
                        "<td>MANUAL</td>"),
              std::string::npos);
    EXPECT_NE(page.find("<td>Studio &amp; Co</td>"), std::string::npos);
    EXPECT_NE(page.find("<td>127.0.1.8</td><td></td><td></td><td>down</td>"), std::string::npos);
    EXPECT_EQ(page.find("<b>"), std::string::npos);
}

} // namespace
