#include "Fleet.h"

#include <set>

TFleet::TFleet(TEventLoop& loop, TMetricFamilies& families, TLogSink log,
               std::chrono::milliseconds cyclePeriod, TRelay* relay)
    : fFamilies(families), fLog(std::move(log)), fCyclePeriod(cyclePeriod), fRelay(relay),
      fLoop(loop) {}

TFleet::~TFleet() {
    StopAll();
}

TFleetChange TFleet::Apply(const std::vector<TTarget>& targets) {
    TFleetChange change;
    std::set<std::string> listed;
    for (const TTarget& target : UniqueTargets(targets)) {
        const std::string key = DeviceKey(target);
        listed.insert(key);
        auto found = fWatches.find(key);
        if (found != fWatches.end()) {
            found->second->SetLabel(target.Label);
            found->second->SetRelay(target.Relay);
            ++change.Kept;
            continue;
        }
        auto watch =
            std::make_unique<TDeviceWatch>(target, fFamilies, fLog, fCyclePeriod, fLoop, fRelay);
        watch->Start();
        fWatches.emplace(key, std::move(watch));
        ++change.Added;
    }
    std::vector<std::unique_ptr<TDeviceWatch>> removed;
    for (auto it = fWatches.begin(); it != fWatches.end();) {
        if (listed.count(it->first) != 0) {
            ++it;
            continue;
        }
        removed.push_back(std::move(it->second));
        it = fWatches.erase(it);
    }
    change.Removed = static_cast<int>(removed.size());
    Stop(removed);
    return change;
}

void TFleet::StopAll() {
    auto all = TakeAll();
    Stop(all);
}

void TFleet::Shutdown() {
    auto all = TakeAll();
    for (auto& watch : all)
        watch->KeepSeries();
    Stop(all);
}

std::vector<std::unique_ptr<TDeviceWatch>> TFleet::TakeAll() {
    std::vector<std::unique_ptr<TDeviceWatch>> all;
    for (auto& [key, watch] : fWatches)
        all.push_back(std::move(watch));
    fWatches.clear();
    return all;
}

// A link may need up to one exchange time-out to end; every link is asked to stop before
// the first is waited for, so that those times do not add up.
void TFleet::Stop(std::vector<std::unique_ptr<TDeviceWatch>>& watches) {
    for (auto& watch : watches) {
        watch->CancelRetry();
        watch->BeginDisconnect();
    }
    for (auto& watch : watches)
        watch->Disconnect();
    for (auto& watch : watches)
        watch->LogStopped();
    watches.clear();
}
