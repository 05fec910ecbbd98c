#include "Fleet.h"

#include <set>
#include <thread>

TFleet::TFleet(TMetricFamilies& families, TLogSink log, std::chrono::milliseconds cyclePeriod,
               TRelay* relay)
    : fFamilies(families), fLog(std::move(log)), fCyclePeriod(cyclePeriod), fRelay(relay) {}

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
        auto watch = std::make_unique<TDeviceWatch>(target, fFamilies, fLog, fCyclePeriod, fRelay);
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
    std::vector<std::unique_ptr<TDeviceWatch>> all;
    for (auto& [key, watch] : fWatches)
        all.push_back(std::move(watch));
    fWatches.clear();
    Stop(all);
}

// A link may need up to one exchange time-out to end; waiting for the links one after
// the other could add those up, so each waits on a thread of its own.
void TFleet::Stop(std::vector<std::unique_ptr<TDeviceWatch>>& watches) {
    for (auto& watch : watches)
        watch->CancelRetry();
    {
        std::vector<std::jthread> waits;
        waits.reserve(watches.size());
        for (auto& watch : watches)
            waits.emplace_back([&watch] { watch->Disconnect(); });
    }
    for (auto& watch : watches)
        watch->LogStopped();
    watches.clear();
}
