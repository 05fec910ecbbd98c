#pragma once

// The report of the device's whole state that the journal receives once per
// connection, when the first complete set of device data has arrived.

#include "SettingsFields.h"

#include <string>
#include <vector>

struct TDeviceStatus;

enum class TReportKind {
    More,   // an untimed continuation line
    Report, // a time-stamped line of the report
    Add,    // a time-stamped line written in any case
};

struct TReportLine {
    TReportKind Kind;
    std::string Text;
};

// The report's lines, oldest first, in UTF-8, for the device at address. fields are the
// settings as the settings page holds them; decimalPoint is the operator's decimal
// separator.
std::vector<TReportLine> DeviceReport(const TDeviceStatus& status, const std::string& address,
                                      const TSettingsValues& fields,
                                      const std::string& decimalPoint);
