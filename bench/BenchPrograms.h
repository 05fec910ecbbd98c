#pragma once

// The programs beside the benchmark, run as processes of their own: the simulator and
// the exporter, what the system reports about them, and the exporter's web endpoint.

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// A program started by the benchmark, its output going to a file, its standard input
// (when asked for) a pipe. Ended with SIGTERM when destroyed.
class TChild {
public:
    TChild(const std::vector<std::string>& args, const std::string& logFile, bool withInput);
    ~TChild();
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;

    pid_t Pid() const { return fPid; }
    // Writes a line to its standard input.
    void Send(const std::string& line) const;
    bool Running() const;
    // Sends SIGTERM and waits for the end, killing the program after 5 s; returns how long
    // it took to end. Once stopped, returns 0 at once.
    std::chrono::duration<double, std::milli> Stop();

private:
    pid_t fPid = -1;
    int fInput = -1;
    bool fStopped = false;
};

// A temporary folder for the programs' output, removed with what it holds.
struct TWorkFolder {
    TWorkFolder();
    ~TWorkFolder();
    TWorkFolder(const TWorkFolder&) = delete;
    TWorkFolder& operator=(const TWorkFolder&) = delete;

    std::string Path;
};

// User and system CPU time of a process so far, in seconds.
double CpuSecondsOf(pid_t pid);
double RssMbOf(pid_t pid);
int ThreadsOf(pid_t pid);
// Context switches of every thread of a process so far, voluntary or not.
double SwitchesOf(pid_t pid);
// A TCP port on 127.0.0.1 that was free a moment ago.
int FreePort();
// The body of GET path from 127.0.0.1:port; empty when the request failed.
std::string HttpGet(int port, const std::string& path);
std::string ReadText(const std::string& file);
std::size_t Count(const std::string& text, const std::string& part);
// Checks done every 20 ms until it holds; false when timeout passed first.
bool WaitFor(const std::function<bool()>& done, std::chrono::steady_clock::duration timeout);

// The exporter's poll cycle in a fleet run, and the floor poller's.
inline constexpr int FLEET_INTERVAL_MS = 100;

// The simulator serving a fleet of devices on consecutive addresses of a loopback base of
// its own, and once started the exporter polling all of them every 100 ms with further
// options, its log in a file. Throws TBenchError when either does not start.
class TFleet {
public:
    TFleet(int devices, const std::string& work);

    void StartExporter(const std::vector<std::string>& exporterArgs = {});
    int Devices() const { return fDevices; }
    // Device number (from 1) as the simulator numbers them.
    const std::string& Address(int number) const { return fAddresses[number - 1]; }
    const std::vector<std::string>& Addresses() const { return fAddresses; }
    // The exporter's web port.
    int Port() const { return fPort; }
    std::string ExporterLog() const { return ReadText(fExporterLog); }
    TChild& Simulator() { return *fSimulator; }
    const TChild& Exporter() const { return *fExporter; }
    // Ends the exporter with SIGTERM; returns how long it took.
    std::chrono::duration<double, std::milli> StopExporter() { return fExporter->Stop(); }

    // Waits until /metrics shows every device up.
    void WaitUntilAllUp();
    // The requests each device has received so far, as the simulator counts them.
    std::vector<double> Requests();

private:
    bool AllUp(const std::string& metrics) const;

    int fDevices;
    std::string fSimLog;
    std::string fExporterLog;
    std::vector<std::string> fAddresses;
    int fPort = 0;
    std::unique_ptr<TChild> fSimulator;
    std::unique_ptr<TChild> fExporter;
};
