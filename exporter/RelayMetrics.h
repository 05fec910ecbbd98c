#pragma once

// The relay's metrics: its families, registered beside the devices' own, and the series
// of one device's relay.

#include "DeviceMetrics.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

struct TRelayFamilies {
    explicit TRelayFamilies(prometheus::Registry& registry);

    std::vector<TFamilySource> Sources() const;

    TCountedFamily<prometheus::Gauge> Clients;
    TCountedFamily<prometheus::Counter> Writes;
    TCountedFamily<prometheus::Counter> Refused;
    TCountedFamily<prometheus::Gauge> DataAge;
};

// The series of one device's relay; the counters of a label value appear with its first
// count.
class TRelayMetrics {
public:
    TRelayMetrics(TRelayFamilies& families, const std::string& device);

    void SetClients(std::size_t count);
    // One relayed write ended with result: "acknowledged", "refused", "failed", "not_allowed".
    void Write(const std::string& command, const std::string& result);
    // A connection or request refused, by reason.
    void Refused(const std::string& reason);
    // The age of the data in the answer just served.
    void Served(std::chrono::steady_clock::duration age);

private:
    prometheus::Counter& CounterOf(TCountedFamily<prometheus::Counter>& family,
                                   const prometheus::Labels& labels);

    TRelayFamilies& fFamilies;
    const std::string fDevice;
    TSeriesSet fSeries;
    prometheus::Gauge& fClients;
    prometheus::Gauge& fDataAge;
    std::map<prometheus::Labels, prometheus::Counter*> fCounters;
};
