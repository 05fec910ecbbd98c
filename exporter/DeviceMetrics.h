#pragma once

// The exporter's metrics: every family in one registry, and per device the series that
// follow its link. A device's link series and its info series live as long as the device
// is listed; its state series exist only while its data is current, from the end of a
// connection's first pass to the connection's end.

#include "StationText.h"
#include "UnitThread.h"

#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <prometheus/counter.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/registry.h>
#include <string>
#include <vector>

// One number per state series, taken from a status record.
struct TStateValues {
    int OutputInput = 0;
    bool AutoMode = false;
    // [input - 1][check]: sync, motion, level, audio_left, audio_right.
    std::array<std::array<int, 5>, 2> Checks{};
    bool OutputCheckFailing = false;
    std::array<int, 2> PsuState{};
    std::array<bool, 2> PsuMonitored{};
    std::optional<int> TemperatureCelsius;
    // [input - 1][counter]: sync, motion, level, threshold_left, threshold_right,
    // audio_level_left, audio_level_right.
    std::array<std::array<int, 7>, 2> ErrorCounts{};
    // Six switches, then nine times and levels, in the order of SettingSeries().
    std::array<double, 15> Settings{};
};

TStateValues StateValues(const TDeviceStatus& status);

// A family and the count of its changes: a value set anew, a series added or removed.
// Every change is counted after it was made, so a text of the family made after reading
// the count shows at least every change counted up to it.
template <typename T> struct TCountedFamily {
    explicit TCountedFamily(prometheus::Family<T>& family) : Series(family) {}

    prometheus::Family<T>& Series;
    std::atomic<std::uint64_t> Changes{0};
};

// A family as the text of /metrics reads it.
struct TFamilySource {
    const prometheus::Collectable* Family;
    const std::atomic<std::uint64_t>* Changes;
};

// Every family the exporter serves, registered in one registry.
struct TMetricFamilies {
    explicit TMetricFamilies(prometheus::Registry& registry);

    // Every family, in the order /metrics shows them.
    std::vector<TFamilySource> Sources() const;

    TCountedFamily<prometheus::Gauge> Up;
    TCountedFamily<prometheus::Gauge> DeviceInfo;
    TCountedFamily<prometheus::Counter> Connects;
    TCountedFamily<prometheus::Counter> Stops;
    TCountedFamily<prometheus::Gauge> LastStopCode;
    TCountedFamily<prometheus::Gauge> OutputInput;
    TCountedFamily<prometheus::Gauge> AutoMode;
    TCountedFamily<prometheus::Counter> Changeovers;
    TCountedFamily<prometheus::Gauge> CheckState;
    TCountedFamily<prometheus::Gauge> OutputFailing;
    TCountedFamily<prometheus::Gauge> PsuState;
    TCountedFamily<prometheus::Gauge> PsuMonitored;
    TCountedFamily<prometheus::Gauge> Temperature;
    TCountedFamily<prometheus::Counter> CheckErrors;
    TCountedFamily<prometheus::Gauge> SettingEnabled;
    TCountedFamily<prometheus::Gauge> SettingSeconds;
    TCountedFamily<prometheus::Gauge> SettingDecibels;
    TCountedFamily<prometheus::Gauge> CyclesPerSecond;
    TCountedFamily<prometheus::Counter> LinkTimeouts;
    TCountedFamily<prometheus::Counter> LinkReadErrors;
};

// Series added for one device, removed together when the set goes. Adding and removing
// a series each count as a change of its family.
class TSeriesSet {
public:
    TSeriesSet() = default;
    TSeriesSet(const TSeriesSet&) = delete;
    TSeriesSet& operator=(const TSeriesSet&) = delete;
    ~TSeriesSet();

    template <typename T> T& Add(TCountedFamily<T>& family, const prometheus::Labels& labels) {
        T& metric = family.Series.Add(labels);
        ++family.Changes;
        fRemovers.push_back([&family, &metric] {
            family.Series.Remove(&metric);
            ++family.Changes;
        });
        return metric;
    }

    // The series stay in their families when the set goes. For a registry about to go as a
    // whole: each removal searches its family, so removing a large fleet's series one by
    // one takes seconds.
    void Keep() { fRemovers.clear(); }

private:
    std::vector<std::function<void()>> fRemovers;
};

// The series of one device.
class TDeviceMetrics {
public:
    // label: the operator's name for the device, a label of its info series.
    TDeviceMetrics(TMetricFamilies& families, std::string device, std::string label = "");
    ~TDeviceMetrics();
    // The device's series stay in the registry when this goes (see TSeriesSet::Keep).
    void KeepSeries();

    // The link connected: up, one more connect, the link figures of the new connection.
    void Connected();
    // The first pass is complete: the state series appear with the status's values.
    void StateCurrent(const TDeviceStatus& status);
    // A field event after the first pass.
    void StateChanged(const TDeviceStatus& status);
    // The output changed after the first pass: by the switch itself when it is in AUTO,
    // forced by an operator when it is in MANUAL.
    void Changeover(bool autoMode);
    // The link stopped: down, the stop counted, the state series gone.
    void Stopped(int code);
    void LinkStat(std::uint32_t value, int kind);
    // The targets file, read again, gives the device another label.
    void SetLabel(const std::string& label);

private:
    void SetInfo(std::string name, std::string label);

    struct TStateSeries;

    TMetricFamilies& fFamilies;
    const std::string fDevice;
    std::unique_ptr<TSeriesSet> fLinkSeries;
    prometheus::Gauge& fUp;
    prometheus::Counter& fConnects;
    prometheus::Gauge& fLastStopCode;
    prometheus::Counter& fAutoChangeovers;
    prometheus::Counter& fForcedChangeovers;
    prometheus::Gauge& fCycles;
    prometheus::Counter& fTimeouts;
    prometheus::Counter& fReadErrors;
    std::array<prometheus::Counter*, std::tuple_size_v<decltype(STOP_KINDS)>> fStops{};
    std::string fLabel;
    std::string fName;
    std::unique_ptr<TSeriesSet> fInfo;
    // The link's running totals of this connection, already counted.
    std::uint32_t fTimeoutsSeen = 0;
    std::uint32_t fReadErrorsSeen = 0;
    std::unique_ptr<TStateSeries> fState;
};
