#include "DeviceMetrics.h"

#include "Checks.h"
#include "SettingsFields.h"

#include <string_view>

namespace {

using prometheus::Counter;
using prometheus::Family;
using prometheus::Gauge;
using prometheus::Labels;

const char* const INPUT_NAMES[] = {"A", "B"};

Family<Gauge>& GaugeFamily(prometheus::Registry& registry, const std::string& name,
                           const std::string& help) {
    return prometheus::BuildGauge().Name("control7710_" + name).Help(help).Register(registry);
}

Family<Counter>& CounterFamily(prometheus::Registry& registry, const std::string& name,
                               const std::string& help) {
    return prometheus::BuildCounter()
        .Name("control7710_" + name + "_total")
        .Help(help)
        .Register(registry);
}

std::array<double, 15> SettingValues(const TDeviceStatus& status) {
    std::array<double, 15> values{};
    std::size_t at = 0;
    for (const TSwitchKind& kind : SWITCHES)
        values[at++] = status.*kind.Status ? 1 : 0;
    for (const TFieldKind& kind : FIELDS)
        values[at++] = FieldFromRaw(kind.Field, status.*kind.Raw);
    return values;
}

// A settings series: its name and the family of its unit.
struct TSettingSeries {
    const char* Name;
    TCountedFamily<Gauge> TMetricFamilies::*Family;
};

// The settings series: six switches, then the nine numeric fields, as SettingValues orders
// their values.
std::array<TSettingSeries, 15> SettingSeries() {
    std::array<TSettingSeries, 15> series{};
    std::size_t at = 0;
    for (const TSwitchKind& kind : SWITCHES)
        series[at++] = {kind.MetricName, &TMetricFamilies::SettingEnabled};
    for (const TFieldKind& kind : FIELDS) {
        series[at++] = {kind.MetricName, std::string_view(kind.Unit) == "s"
                                             ? &TMetricFamilies::SettingSeconds
                                             : &TMetricFamilies::SettingDecibels};
    }
    return series;
}

// Sets a series to a value and counts the change in its family, if the value is new.
void SetValue(TCountedFamily<Gauge>& family, Gauge& series, double value) {
    if (series.Value() == value)
        return;
    series.Set(value);
    ++family.Changes;
}

void Increment(TCountedFamily<Counter>& family, Counter& series, double amount = 1) {
    series.Increment(amount);
    ++family.Changes;
}

// Adds what a running total of the link grew by since it was last seen.
void CountGrowth(TCountedFamily<Counter>& family, Counter& series, std::uint32_t total,
                 std::uint32_t& seen) {
    if (total <= seen)
        return;
    Increment(family, series, total - seen);
    seen = total;
}

} // namespace

TStateValues StateValues(const TDeviceStatus& s) {
    TStateValues v;
    v.OutputInput = s.Output;
    v.AutoMode = s.AutoMode;
    for (std::size_t i = 0; i < 2; ++i) {
        for (std::size_t c = 0; c < CHECKS.size(); ++c)
            v.Checks[i][c] = (s.*CHECKS[c].States)[i];
        for (std::size_t c = 0; c < COUNTERS.size(); ++c)
            v.ErrorCounts[i][c] = (s.*COUNTERS[c].Counts)[i];
    }
    v.OutputCheckFailing = CheckFailsOnOutput(s);
    v.PsuState = {PsuState(s, 1), PsuState(s, 2)};
    v.PsuMonitored = {PsuMonitored(s, 1), PsuMonitored(s, 2)};
    if (s.TempValid)
        v.TemperatureCelsius = s.Temperature;
    v.Settings = SettingValues(s);
    return v;
}

TMetricFamilies::TMetricFamilies(prometheus::Registry& r)
    : Up(GaugeFamily(r, "up", "1 while the link to the device is connected")),
      DeviceInfo(GaugeFamily(r, "device_info", "The device's name; always 1")),
      Connects(CounterFamily(r, "connects", "Connections the link opened")),
      Stops(CounterFamily(r, "stops", "Ends of the link's connections, by stop code")),
      LastStopCode(GaugeFamily(r, "last_stop_code", "Stop code of the link's last stop")),
      OutputInput(GaugeFamily(r, "output_input", "Input on the output: 1 = A, 2 = B")),
      AutoMode(GaugeFamily(r, "auto_mode", "1 in automatic mode, 0 when an input is forced")),
      Changeovers(CounterFamily(r, "changeovers",
                                "Output changes the link saw, by cause: auto = the switch "
                                "changed over by itself, forced = an input was forced")),
      CheckState(GaugeFamily(r, "check_state", "Check result: 0 off, 1 OK, 2 error, 3 n/a")),
      OutputFailing(GaugeFamily(r, "check_on_output_failing",
                                "1 when a switched-on check of the input on the output fails")),
      PsuState(GaugeFamily(r, "psu_state", "Power supply: 0 off, 1 OK, 2 error, 3 n/a")),
      PsuMonitored(GaugeFamily(r, "psu_monitored", "1 when the device monitors the unit")),
      Temperature(GaugeFamily(r, "temperature_celsius", "The device's temperature")),
      CheckErrors(CounterFamily(r, "check_errors", "The device's own check error counters")),
      SettingEnabled(GaugeFamily(r, "setting_enabled", "1 when the check or function is on")),
      SettingSeconds(GaugeFamily(r, "setting_time_seconds", "Time setting of a check")),
      SettingDecibels(GaugeFamily(r, "setting_level_decibels", "Level setting of a check")),
      CyclesPerSecond(GaugeFamily(r, "link_cycles_per_second", "Poll cycles per second")),
      LinkTimeouts(CounterFamily(r, "link_timeouts", "Reply time-outs")),
      LinkReadErrors(
          CounterFamily(r, "link_read_errors", "Receive failures other than time-outs")) {}

std::vector<TFamilySource> TMetricFamilies::Sources() const {
    const auto source = [](const auto& family) {
        return TFamilySource{&family.Series, &family.Changes};
    };
    return {source(Up),
            source(DeviceInfo),
            source(Connects),
            source(Stops),
            source(LastStopCode),
            source(OutputInput),
            source(AutoMode),
            source(Changeovers),
            source(CheckState),
            source(OutputFailing),
            source(PsuState),
            source(PsuMonitored),
            source(Temperature),
            source(CheckErrors),
            source(SettingEnabled),
            source(SettingSeconds),
            source(SettingDecibels),
            source(CyclesPerSecond),
            source(LinkTimeouts),
            source(LinkReadErrors)};
}

TSeriesSet::~TSeriesSet() {
    for (const auto& remove : fRemovers)
        remove();
}

// The series of one connection's device data.
struct TDeviceMetrics::TStateSeries {
    TSeriesSet Set;
    Gauge* OutputInput;
    Gauge* AutoMode;
    std::array<std::array<Gauge*, 5>, 2> Checks{};
    Gauge* OutputFailing;
    std::array<Gauge*, 2> PsuState{};
    std::array<Gauge*, 2> PsuMonitored{};
    std::array<TCountedFamily<Gauge>*, 15> SettingFamilies{};
    std::array<Gauge*, 15> Settings{};
    std::unique_ptr<TSeriesSet> TemperatureSet;
    Gauge* Temperature = nullptr;

    TStateSeries(TMetricFamilies& f, const std::string& device, const TStateValues& values) {
        const Labels own{{"device", device}};
        OutputInput = &Set.Add(f.OutputInput, own);
        AutoMode = &Set.Add(f.AutoMode, own);
        OutputFailing = &Set.Add(f.OutputFailing, own);
        for (std::size_t i = 0; i < 2; ++i) {
            for (std::size_t c = 0; c < CHECKS.size(); ++c) {
                Checks[i][c] = &Set.Add(f.CheckState, {{"device", device},
                                                       {"input", INPUT_NAMES[i]},
                                                       {"check", CHECKS[c].MetricName}});
            }
            for (std::size_t c = 0; c < COUNTERS.size(); ++c) {
                Counter& errors = Set.Add(f.CheckErrors, {{"device", device},
                                                          {"input", INPUT_NAMES[i]},
                                                          {"check", COUNTERS[c].MetricName}});
                Increment(f.CheckErrors, errors, values.ErrorCounts[i][c]);
            }
            const std::string unit = std::to_string(i + 1);
            PsuState[i] = &Set.Add(f.PsuState, {{"device", device}, {"unit", unit}});
            PsuMonitored[i] = &Set.Add(f.PsuMonitored, {{"device", device}, {"unit", unit}});
        }
        AddSettings(f, device);
        Update(f, device, values);
    }

    void AddSettings(TMetricFamilies& f, const std::string& device) {
        const std::array<TSettingSeries, 15> series = SettingSeries();
        for (std::size_t at = 0; at < Settings.size(); ++at) {
            auto& family = f.*series[at].Family;
            SettingFamilies[at] = &family;
            Settings[at] = &Set.Add(family, {{"device", device}, {"setting", series[at].Name}});
        }
    }

    void Update(TMetricFamilies& f, const std::string& device, const TStateValues& values) {
        SetValue(f.OutputInput, *OutputInput, values.OutputInput);
        SetValue(f.AutoMode, *AutoMode, values.AutoMode ? 1 : 0);
        SetValue(f.OutputFailing, *OutputFailing, values.OutputCheckFailing ? 1 : 0);
        for (int i = 0; i < 2; ++i) {
            for (int c = 0; c < 5; ++c)
                SetValue(f.CheckState, *Checks[i][c], values.Checks[i][c]);
            SetValue(f.PsuState, *PsuState[i], values.PsuState[i]);
            SetValue(f.PsuMonitored, *PsuMonitored[i], values.PsuMonitored[i] ? 1 : 0);
        }
        for (std::size_t at = 0; at < Settings.size(); ++at)
            SetValue(*SettingFamilies[at], *Settings[at], values.Settings[at]);
        UpdateTemperature(f, device, values.TemperatureCelsius);
    }

    // The temperature series exists only while the device reports a temperature.
    void UpdateTemperature(TMetricFamilies& f, const std::string& device,
                           std::optional<int> celsius) {
        if (!celsius) {
            TemperatureSet.reset();
            Temperature = nullptr;
            return;
        }
        if (!TemperatureSet) {
            TemperatureSet = std::make_unique<TSeriesSet>();
            Temperature = &TemperatureSet->Add(f.Temperature, {{"device", device}});
        }
        SetValue(f.Temperature, *Temperature, *celsius);
    }
};

TDeviceMetrics::TDeviceMetrics(TMetricFamilies& families, std::string device, std::string label)
    : fFamilies(families), fDevice(std::move(device)), fLinkSeries(std::make_unique<TSeriesSet>()),
      fUp(fLinkSeries->Add(families.Up, {{"device", fDevice}})),
      fConnects(fLinkSeries->Add(families.Connects, {{"device", fDevice}})),
      fLastStopCode(fLinkSeries->Add(families.LastStopCode, {{"device", fDevice}})),
      fAutoChangeovers(
          fLinkSeries->Add(families.Changeovers, {{"device", fDevice}, {"cause", "auto"}})),
      fForcedChangeovers(
          fLinkSeries->Add(families.Changeovers, {{"device", fDevice}, {"cause", "forced"}})),
      fCycles(fLinkSeries->Add(families.CyclesPerSecond, {{"device", fDevice}})),
      fTimeouts(fLinkSeries->Add(families.LinkTimeouts, {{"device", fDevice}})),
      fReadErrors(fLinkSeries->Add(families.LinkReadErrors, {{"device", fDevice}})) {
    for (std::size_t at = 0; at < fStops.size(); ++at) {
        fStops[at] = &fLinkSeries->Add(families.Stops,
                                       {{"device", fDevice}, {"reason", STOP_KINDS[at].Name}});
    }
    SetInfo("", std::move(label));
}

TDeviceMetrics::~TDeviceMetrics() {
    fInfo.reset();
    fState.reset();
    fLinkSeries.reset();
}

void TDeviceMetrics::KeepSeries() {
    for (TSeriesSet* set : {fInfo.get(), fState ? &fState->Set : nullptr, fLinkSeries.get()}) {
        if (set != nullptr)
            set->Keep();
    }
}

void TDeviceMetrics::Connected() {
    SetValue(fFamilies.Up, fUp, 1);
    Increment(fFamilies.Connects, fConnects);
    fTimeoutsSeen = 0;
    fReadErrorsSeen = 0;
}

void TDeviceMetrics::StateCurrent(const TDeviceStatus& status) {
    fState = std::make_unique<TStateSeries>(fFamilies, fDevice, StateValues(status));
    SetInfo(PrintableDeviceText(status.DeviceName), fLabel);
}

void TDeviceMetrics::StateChanged(const TDeviceStatus& status) {
    if (fState)
        fState->Update(fFamilies, fDevice, StateValues(status));
}

void TDeviceMetrics::Changeover(bool autoMode) {
    Increment(fFamilies.Changeovers, autoMode ? fAutoChangeovers : fForcedChangeovers);
}

void TDeviceMetrics::Stopped(int code) {
    SetValue(fFamilies.Up, fUp, 0);
    SetValue(fFamilies.CyclesPerSecond, fCycles, 0);
    SetValue(fFamilies.LastStopCode, fLastStopCode, code);
    for (std::size_t at = 0; at < fStops.size(); ++at) {
        if (STOP_KINDS[at].Code == code)
            Increment(fFamilies.Stops, *fStops[at]);
    }
    fState.reset();
}

// The link reports running totals of the connection; the counters keep adding over
// connections.
void TDeviceMetrics::LinkStat(std::uint32_t value, int kind) {
    if (kind == LINK_RATE)
        SetValue(fFamilies.CyclesPerSecond, fCycles, value);
    else if (kind == LINK_TIMEOUTS)
        CountGrowth(fFamilies.LinkTimeouts, fTimeouts, value, fTimeoutsSeen);
    else if (kind == LINK_READ_ERRORS)
        CountGrowth(fFamilies.LinkReadErrors, fReadErrors, value, fReadErrorsSeen);
}

void TDeviceMetrics::SetLabel(const std::string& label) {
    SetInfo(fName, label);
}

// The info series keeps the name the device gave last, and is made again only when a
// label changes.
void TDeviceMetrics::SetInfo(std::string name, std::string label) {
    if (fInfo && name == fName && label == fLabel)
        return;
    fName = std::move(name);
    fLabel = std::move(label);
    fInfo.reset();
    fInfo = std::make_unique<TSeriesSet>();
    Gauge& info =
        fInfo->Add(fFamilies.DeviceInfo, {{"device", fDevice}, {"name", fName}, {"label", fLabel}});
    SetValue(fFamilies.DeviceInfo, info, 1);
}
