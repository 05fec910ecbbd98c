#pragma once

// The exporter's own metrics under the names Prometheus's client libraries give them:
// CPU time, resident memory, open files and start time of the process, read from /proc
// at each call, and control7710_exporter_build_info with the version.

#include <string>

// The families in the text exposition format; a figure /proc does not give is left out.
std::string ProcessMetricsText(const std::string& version);
