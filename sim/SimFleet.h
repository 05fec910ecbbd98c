#pragma once

// Many simulated devices in one process, each on an address of its own: device 1 on the
// first address, device N on the address N - 1 above it, all on the same port. Commands
// go to every device or, after a prefix "@N", to device N alone; "churn RATE" makes random
// changes over the whole fleet at RATE a second, for load; "requests" prints how many
// requests each device has received, for measuring the stations that poll them.
//
//     TSimOptions first;
//     first.Address = "127.0.1.1";
//     TSimFleet fleet(first, 250);          // 127.0.1.1 to 127.0.1.250
//     fleet.Start();
//     fleet.Execute("@7 check A sync error");
//     fleet.Execute("churn 100");

#include "SimDevice.h"
#include "SimLoop.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

// The highest churn rate, changes a second.
constexpr int SIM_MAX_CHURN = 100000;

// The address count - 1 above first, for each of count devices. Returns "" or the error
// text: first is not a dotted quad, or a fleet of more than one device would leave the
// loopback network 127.0.0.0/8.
std::string FleetAddresses(const std::string& first, int count,
                           std::vector<std::string>& addresses);

// Splits "@N COMMAND" into the device number and the command; a line without the prefix
// is for every device (number 0). Returns "" or the error text for a number that is not
// one of 1 to count.
std::string SplitTarget(const std::string& line, int count, int& number, std::string& command);

// One random change of a device's state, as a command line: a check result, a power
// supply state or the temperature.
std::string ChurnCommand(std::mt19937& random);

// The fleet's own commands and the prefix, for the help texts.
std::string FleetHelp();

class TSimFleet {
public:
    // Every device gets options, but the address; Options.Address is the first address.
    TSimFleet(const TSimOptions& options, int count);
    ~TSimFleet();
    TSimFleet(const TSimFleet&) = delete;
    TSimFleet& operator=(const TSimFleet&) = delete;

    // Starts every device, all served by one event loop. Returns "" or the error text
    // naming the address that failed, in which case none runs.
    std::string Start();
    // Stops the churn, every device and the loop.
    void Stop();

    int Count() const { return static_cast<int>(fDevices.size()); }
    // Device number (1 to Count()).
    TSimDevice& Device(int number) { return *fDevices[static_cast<std::size_t>(number - 1)]; }
    const std::string& Address(int number) const {
        return fAddresses[static_cast<std::size_t>(number - 1)];
    }

    // Runs one command line, routed as its prefix says. Returns "" or the error text, in
    // which case no device has changed. Output of a command for every device is given
    // line by line with the prefix of the device it came from when there is more than one.
    std::string Execute(const std::string& line, std::string& output);
    std::string Execute(const std::string& line);
    // The same, giving everything the command asked for (see TSimDevice::Execute); the
    // output goes to effect.Output. "wait-station" without a prefix waits for device 1.
    std::string Execute(const std::string& line, TSimEffect& effect);

    // Changes a second that churn makes now, and the changes made since construction.
    int ChurnRate() const;
    std::uint64_t ChurnChanges() const;

private:
    using Clock = TSimLoop::Clock;

    std::string ExecuteOnAll(const std::string& command, TSimEffect& effect);
    std::string SetChurn(const std::string& command);
    std::string RequestCounts(const std::string& command, std::string& output);
    void RestartChurn();
    void Churn();
    void ScheduleChurn();

    // Serves every device and runs the churn; made before the devices, gone after them.
    TSimLoop fLoop;
    std::vector<std::string> fAddresses;
    std::vector<std::unique_ptr<TSimDevice>> fDevices;

    // Guarded by fLock.
    mutable std::mutex fLock;
    int fChurnRate = 0;
    std::uint64_t fChurnChanges = 0;

    // The loop's: the churn under way, at fChurnPace changes a second since fChurnStart.
    int fChurnPace = 0;
    Clock::time_point fChurnStart;
    std::uint64_t fChurnMade = 0;
    TSimLoop::TTimer fChurnTimer;
    std::mt19937 fChurnRandom{std::random_device{}()};
};
