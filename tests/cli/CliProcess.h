#pragma once

// control7710-cli as a child process: its arguments, what it printed on each stream, its
// exit status and how long it ran.

#include <chrono>
#include <string>
#include <sys/types.h>
#include <vector>

struct TCliResult {
    // The exit status, or 128 + the signal that ended it.
    int Status = -1;
    std::string Out;
    std::string Err;
    std::chrono::milliseconds Took{};
};

class TCliProcess {
public:
    // Starts the program with args. With stalledOutput, its standard output is a full pipe
    // that nobody reads.
    explicit TCliProcess(const std::vector<std::string>& args, bool stalledOutput = false);
    ~TCliProcess();
    TCliProcess(const TCliProcess&) = delete;
    TCliProcess& operator=(const TCliProcess&) = delete;

    pid_t Pid() const { return fPid; }
    // Reads standard output up to its first line end, then closes it as "| head -1" does,
    // and returns that line.
    std::string FirstLineThenClose();
    // Reads both streams to their end and waits for the program; kills it once timeout has
    // passed since its start.
    TCliResult Finish(std::chrono::milliseconds timeout = std::chrono::seconds(15));

private:
    pid_t fPid = -1;
    int fOut = -1;
    int fErr = -1;
    bool fStalled = false;
    std::chrono::steady_clock::time_point fStart;
};

// Runs the program to its end.
TCliResult RunCli(const std::vector<std::string>& args);
