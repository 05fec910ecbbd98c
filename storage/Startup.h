#pragma once

// The checks the station makes before any window exists: a data folder it may write
// to, and a settings file in it that can be written.

#include <string>

struct TStartupResult {
    bool Ok = false;
    // Text of the error box to show when Ok is false.
    std::string ErrorText;
    // Full path of the settings file when Ok is true.
    std::string SettingsFileName;
};

inline constexpr const char* APP_TITLE = "Control-7710/12 (1.1.2)";

// Chooses the data folder for a program in programFolder named programName, then writes
// ACCESS=1 in the settings file's APP section to prove that the file can be written.
TStartupResult CheckStartup(const std::string& programFolder, const std::string& programName);
