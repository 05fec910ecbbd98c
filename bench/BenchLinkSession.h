#pragma once

// The link under test and what measures it, shared by the link's own benchmark and the
// relay's: the event loop run for a while, a link with the slots a benchmark needs, and
// the time changes in the simulated device take to fire the link's events.

#include "SimDevice.h"
#include "UnitThread.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <sys/types.h>
#include <vector>

// Runs the calling thread's event loop for span.
void RunEventLoopFor(std::chrono::steady_clock::duration span);

// Runs the event loop until done holds; false when timeout passed first.
bool Await(const std::function<bool()>& done, std::chrono::steady_clock::duration timeout);

// A simulated device on a free port of 127.0.0.1 whose check changes do not change it over.
TSimOptions BenchDeviceOptions();

// The link under test, with the slots the benchmark needs: the end of the first pass,
// the link's own rate figures, and any stop.
class TLinkSession {
public:
    TLinkSession();

    TSwObject& Link() { return fLink; }
    const std::vector<std::uint32_t>& Rates() const { return fRates; }

    // Connects, waits for the first pass, and returns the worker thread's system id.
    // Throws TBenchError when the link stops or another thread appears.
    pid_t Connect(int port);
    // Throws TBenchError when the link has stopped.
    void CheckRunning() const;
    void Disconnect();
    void ClearRates() { fRates.clear(); }

private:
    TSwObject fLink;
    bool fFirstPass = false;
    int fStopCode = -1;
    std::vector<std::uint32_t> fRates;
};

// Changes input A's sync result back and forth, each change at a random moment up to
// phaseMs after the event of the last one, and times each from just before the change to
// the link's event; milliseconds. Throws TBenchError when an event does not come.
std::vector<double> MeasureChangeLatency(TSimDevice& device, TSwObject& link, int changes,
                                         int phaseMs);
