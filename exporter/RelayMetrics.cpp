#include "RelayMetrics.h"

namespace {

using prometheus::Counter;
using prometheus::Gauge;

} // namespace

TRelayFamilies::TRelayFamilies(prometheus::Registry& r)
    : Clients(prometheus::BuildGauge()
                  .Name("control7710_relay_clients")
                  .Help("Clients connected to the device's relay")
                  .Register(r)),
      Writes(prometheus::BuildCounter()
                 .Name("control7710_relay_writes_total")
                 .Help("Writes relayed to the device, by command and result")
                 .Register(r)),
      Refused(prometheus::BuildCounter()
                  .Name("control7710_relay_refused_total")
                  .Help("Connections and requests the relay refused, by reason")
                  .Register(r)),
      DataAge(prometheus::BuildGauge()
                  .Name("control7710_relay_data_age_seconds")
                  .Help("Age of the device data in the relay's latest answer")
                  .Register(r)) {}

std::vector<TFamilySource> TRelayFamilies::Sources() const {
    return {{&Clients.Series, &Clients.Changes},
            {&Writes.Series, &Writes.Changes},
            {&Refused.Series, &Refused.Changes},
            {&DataAge.Series, &DataAge.Changes}};
}

TRelayMetrics::TRelayMetrics(TRelayFamilies& families, const std::string& device)
    : fFamilies(families), fDevice(device),
      fClients(fSeries.Add(families.Clients, {{"device", device}})),
      fDataAge(fSeries.Add(families.DataAge, {{"device", device}})) {}

void TRelayMetrics::SetClients(std::size_t count) {
    fClients.Set(static_cast<double>(count));
    ++fFamilies.Clients.Changes;
}

void TRelayMetrics::Write(const std::string& command, const std::string& result) {
    CounterOf(fFamilies.Writes, {{"device", fDevice}, {"command", command}, {"result", result}})
        .Increment();
    ++fFamilies.Writes.Changes;
}

void TRelayMetrics::Refused(const std::string& reason) {
    CounterOf(fFamilies.Refused, {{"device", fDevice}, {"reason", reason}}).Increment();
    ++fFamilies.Refused.Changes;
}

void TRelayMetrics::Served(std::chrono::steady_clock::duration age) {
    fDataAge.Set(std::chrono::duration<double>(age).count());
    ++fFamilies.DataAge.Changes;
}

Counter& TRelayMetrics::CounterOf(TCountedFamily<prometheus::Counter>& family,
                                  const prometheus::Labels& labels) {
    auto found = fCounters.find(labels);
    if (found == fCounters.end())
        found = fCounters.emplace(labels, &fSeries.Add(family, labels)).first;
    return *found->second;
}
