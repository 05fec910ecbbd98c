#pragma once

// Settings given on the command line as NAME=VALUE, in seconds, decibels and on/off.

#include "SettingsFields.h"

#include <string>
#include <vector>

// Applies each NAME=VALUE to values, limited to the field's range as the settings page
// limits it. Returns "" or the error text for the first argument that is not understood;
// then values may be partly changed.
std::string ApplySettingArgs(const std::vector<std::string>& args, TSettingsValues& values);

// One line per name the command line takes, for the help text.
std::string SettingArgsHelp();
