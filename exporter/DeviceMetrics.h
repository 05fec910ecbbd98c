#pragma once

// The exporter's metrics: every family in one registry, and per device the series that
// follow its link. A device's link series live as long as the device is listed; its
// state series exist only while its data is current, from the end of a connection's
// first pass to the connection's end.

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

// The label value of a stop code in stops_total: "by_request", "connect_failed",
// "write_failed", "read_failed", "timeout", or "other".
std::string StopCodeName(int code);

// Every family the exporter serves, registered in one registry.
struct TMetricFamilies {
    explicit TMetricFamilies(prometheus::Registry& registry);

    prometheus::Family<prometheus::Gauge>& Up;
    prometheus::Family<prometheus::Gauge>& DeviceInfo;
    prometheus::Family<prometheus::Counter>& Connects;
    prometheus::Family<prometheus::Counter>& Stops;
    prometheus::Family<prometheus::Gauge>& LastStopCode;
    prometheus::Family<prometheus::Gauge>& OutputInput;
    prometheus::Family<prometheus::Gauge>& AutoMode;
    prometheus::Family<prometheus::Counter>& Changeovers;
    prometheus::Family<prometheus::Gauge>& CheckState;
    prometheus::Family<prometheus::Gauge>& OutputFailing;
    prometheus::Family<prometheus::Gauge>& PsuState;
    prometheus::Family<prometheus::Gauge>& PsuMonitored;
    prometheus::Family<prometheus::Gauge>& Temperature;
    prometheus::Family<prometheus::Counter>& CheckErrors;
    prometheus::Family<prometheus::Gauge>& SettingEnabled;
    prometheus::Family<prometheus::Gauge>& SettingSeconds;
    prometheus::Family<prometheus::Gauge>& SettingDecibels;
    prometheus::Family<prometheus::Gauge>& CyclesPerSecond;
    prometheus::Family<prometheus::Counter>& LinkTimeouts;
    prometheus::Family<prometheus::Counter>& LinkReadErrors;
    // Counts every change of a value or of the set of series, each after the change: a
    // text made after reading one count shows at least every change counted up to it.
    std::atomic<std::uint64_t> Changes{0};
};

// Series added for one device, removed together when the set goes.
class TSeriesSet {
public:
    TSeriesSet() = default;
    TSeriesSet(const TSeriesSet&) = delete;
    TSeriesSet& operator=(const TSeriesSet&) = delete;
    ~TSeriesSet();

    template <typename T> T& Add(prometheus::Family<T>& family, const prometheus::Labels& labels) {
        T& metric = family.Add(labels);
        fRemovers.push_back([&family, &metric] { family.Remove(&metric); });
        return metric;
    }

private:
    std::vector<std::function<void()>> fRemovers;
};

// The series of one device.
class TDeviceMetrics {
public:
    TDeviceMetrics(TMetricFamilies& families, std::string device);
    ~TDeviceMetrics();

    // The link connected: up, one more connect, the link figures of the new connection.
    void Connected();
    // The first pass is complete: the state series appear with the status's values.
    void StateCurrent(const TDeviceStatus& status);
    // A field event after the first pass.
    void StateChanged(const TDeviceStatus& status);
    void Changeover();
    // The link stopped: down, the stop counted, the state series gone.
    void Stopped(int code);
    void LinkStat(std::uint32_t value, int kind);
    // The operator's name for the device, a label of its info series.
    void SetLabel(const std::string& label);

private:
    void AddInfo();

    struct TStateSeries;

    TMetricFamilies& fFamilies;
    const std::string fDevice;
    std::unique_ptr<TSeriesSet> fLinkSeries;
    prometheus::Gauge& fUp;
    prometheus::Counter& fConnects;
    prometheus::Gauge& fLastStopCode;
    prometheus::Counter& fChangeovers;
    prometheus::Gauge& fCycles;
    prometheus::Counter& fTimeouts;
    prometheus::Counter& fReadErrors;
    std::array<prometheus::Counter*, 5> fStops{};
    std::string fLabel;
    std::string fName;
    std::unique_ptr<TSeriesSet> fInfo;
    // The link's running totals of this connection, already counted.
    std::uint32_t fTimeoutsSeen = 0;
    std::uint32_t fReadErrorsSeen = 0;
    std::unique_ptr<TStateSeries> fState;
};
