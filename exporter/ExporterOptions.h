#pragma once

// The exporter's command line.

#include "LogLine.h"
#include "RelayOptions.h"
#include "Targets.h"

#include <chrono>
#include <string>
#include <vector>

struct TExporterOptions {
    std::string ListenAddress = "127.0.0.1:9710";
    // Empty when no targets file is given.
    std::string TargetsFile;
    std::chrono::milliseconds Interval{100};
    TLogFormat LogFormat = TLogFormat::Logfmt;
    // Lines below this level are not written.
    TLogLevel LogLevel = TLogLevel::Info;
    std::vector<TTarget> Targets;
    TRelayOptions Relay;
    bool Help = false;
    bool Version = false;
};

constexpr int MIN_INTERVAL_MS = 10;
constexpr int MAX_INTERVAL_MS = 10000;

// A decimal number of at most six digits from low to high.
bool ParseNumber(const std::string& text, int low, int high, int& value);

// Reads the arguments after the program name; the error text of the first bad one, or
// an empty string.
std::string ParseExporterOptions(const std::vector<std::string>& args, TExporterOptions& options);

// Checks "HOST:PORT", ":PORT" (every interface) or "[IPV6]:PORT" for the listen
// address; the reason when it is none of them.
std::string CheckListenAddress(const std::string& text);

std::string ExporterHelp();
