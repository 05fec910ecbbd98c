#pragma once

// The exporter's front page: the watched devices and their state, read from the same
// series /metrics serves.

#include <map>
#include <prometheus/metric_family.h>
#include <string>
#include <vector>

// What the page shows of one device.
struct TDeviceRow {
    std::string Device;
    std::string Label;
    std::string Name;
    bool Up = false;
    // 1 = A, 2 = B; 0 while the device's state is unknown.
    int Output = 0;
    bool AutoMode = false;
    int LastStopCode = 0;
    double Connects = 0;
};

// One row per device, by device key.
std::map<std::string, TDeviceRow> DeviceRows(const std::vector<prometheus::MetricFamily>& families);

std::string HtmlEscape(const std::string& text);

// A complete HTML document with one table row per device and a link to /metrics.
std::string StatusPage(const std::map<std::string, TDeviceRow>& rows, const std::string& version);
