#pragma once

// The watched devices: one watch per target, brought in line with a new target list
// without touching the devices that stay.

#include "DeviceWatch.h"
#include "LinkLoop.h"

#include <map>
#include <memory>
#include <string>
#include <vector>

// What bringing the fleet in line with a target list did.
struct TFleetChange {
    int Kept = 0;
    int Added = 0;
    int Removed = 0;
};

class TFleet {
public:
    // The links are driven on loop, which outlives the fleet; relay, when given, serves the
    // devices whose targets name a relay endpoint.
    TFleet(TEventLoop& loop, TMetricFamilies& families, TLogSink log,
           std::chrono::milliseconds cyclePeriod, TRelay* relay = nullptr);
    ~TFleet();
    TFleet(const TFleet&) = delete;
    TFleet& operator=(const TFleet&) = delete;

    // Watches exactly the given targets: new ones connect, missing ones disconnect,
    // the others go on; a kept device takes its label and relay endpoint from the list.
    TFleetChange Apply(const std::vector<TTarget>& targets);
    // Disconnects every device, all at once.
    void StopAll();
    // Disconnects every device for the program's end: their series are left to go with the
    // registry.
    void Shutdown();
    std::size_t Size() const { return fWatches.size(); }

private:
    std::vector<std::unique_ptr<TDeviceWatch>> TakeAll();
    void Stop(std::vector<std::unique_ptr<TDeviceWatch>>& watches);

    TMetricFamilies& fFamilies;
    TLogSink fLog;
    std::chrono::milliseconds fCyclePeriod;
    TRelay* fRelay;
    // Drives every link on the loop; outlives the watches.
    TLinkLoop fLoop;
    std::map<std::string, std::unique_ptr<TDeviceWatch>> fWatches;
};
