#pragma once

// The floor the exporter's CPU is measured against: a minimal poller of the same devices
// with the same requests per cycle and every reply frame checked, paced by timers on one
// thread, without the link's pauses, statistics, retries or notifications.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

class TFloorPoller {
public:
    // Starts polling every address on port, one cycle per interval at most. Throws
    // TBenchError when the system refuses the descriptors it needs.
    TFloorPoller(const std::vector<std::string>& addresses, int port,
                 std::chrono::milliseconds interval);
    // Stops polling and closes every connection.
    ~TFloorPoller();
    TFloorPoller(const TFloorPoller&) = delete;
    TFloorPoller& operator=(const TFloorPoller&) = delete;

    // Devices that have completed a cycle, and those given up on a failure.
    int Up() const;
    int Failed() const;
    // CPU time of the poller's thread so far, in seconds.
    double CpuSeconds() const;

private:
    class TState;
    std::unique_ptr<TState> fState;
};
