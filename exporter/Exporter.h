#pragma once

// The exporter as a whole: its options, targets, metrics, devices, endpoints, log and
// signals, under one Qt event loop.

#include "ExporterOptions.h"

#include <cstdio>
#include <memory>
#include <string>

constexpr int EXIT_BAD_START = 2;

class TExporter {
public:
    // out receives the log, err the one-line errors that end the start.
    TExporter(TExporterOptions options, std::FILE* out, std::FILE* err);
    ~TExporter();
    TExporter(const TExporter&) = delete;
    TExporter& operator=(const TExporter&) = delete;

    // Reads the targets, starts listening and watching, runs until SIGTERM or SIGINT.
    // The process's exit status. The calling thread must own the Qt application and have
    // SIGHUP, SIGINT and SIGTERM blocked (see BlockExporterSignals) before any thread
    // starts.
    int Run();

private:
    class TState;
    std::unique_ptr<TState> fState;
};

// Blocks the signals the exporter takes through its event loop, for this thread and
// every thread started from it later.
void BlockExporterSignals();
