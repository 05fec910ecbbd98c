#include "SettingsArgs.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

struct TSwitchArg {
    const char* Name;
    bool TSettingsValues::*Member;
};

struct TFieldArg {
    const char* Name;
    TSettingField Field;
    double TSettingsValues::*Member;
    const char* Unit;
};

constexpr TSwitchArg SWITCHES[] = {
    {"sync", &TSettingsValues::SyncControl},
    {"motion", &TSettingsValues::MotionControl},
    {"level", &TSettingsValues::LevelControl},
    {"threshold", &TSettingsValues::ThresholdControl},
    {"audio-level", &TSettingsValues::AudioLevelControl},
    {"recovery", &TSettingsValues::RecoveryControl},
};

constexpr TFieldArg FIELDS[] = {
    {"sync-time", TSettingField::SyncTime, &TSettingsValues::SyncTime, "s"},
    {"motion-time", TSettingField::MotionTime, &TSettingsValues::MotionTime, "s"},
    {"level-value", TSettingField::LevelValue, &TSettingsValues::LevelValue, "dB"},
    {"level-time", TSettingField::LevelTime, &TSettingsValues::LevelTime, "s"},
    {"threshold-value", TSettingField::ThresholdValue, &TSettingsValues::ThresholdValue, "dB"},
    {"threshold-time", TSettingField::ThresholdTime, &TSettingsValues::ThresholdTime, "s"},
    {"audio-level-value", TSettingField::AudioLevelValue, &TSettingsValues::AudioLevelValue, "dB"},
    {"audio-level-time", TSettingField::AudioLevelTime, &TSettingsValues::AudioLevelTime, "s"},
    {"recovery-time", TSettingField::RecoveryTime, &TSettingsValues::RecoveryTime, "s"},
};

bool ParseDecimal(const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && std::isfinite(value);
}

std::string ApplyOne(const std::string& name, const std::string& text, TSettingsValues& values) {
    for (const TSwitchArg& arg : SWITCHES) {
        if (name != arg.Name)
            continue;
        if (text != "on" && text != "off")
            return name + " takes on or off";
        values.*arg.Member = text == "on";
        return "";
    }
    for (const TFieldArg& arg : FIELDS) {
        if (name != arg.Name)
            continue;
        double number = 0;
        if (!ParseDecimal(text, number))
            return name + " takes a number in " + arg.Unit;
        values.*arg.Member = LimitToField(arg.Field, number);
        return "";
    }
    return "unknown setting \"" + name + "\"";
}

} // namespace

std::string ApplySettingArgs(const std::vector<std::string>& args, TSettingsValues& values) {
    for (const std::string& arg : args) {
        const std::size_t equals = arg.find('=');
        if (equals == std::string::npos)
            return "expected NAME=VALUE, got \"" + arg + "\"";
        const std::string error = ApplyOne(arg.substr(0, equals), arg.substr(equals + 1), values);
        if (!error.empty())
            return error;
    }
    return "";
}

std::string SettingArgsHelp() {
    std::string help;
    for (const TSwitchArg& arg : SWITCHES)
        help += std::string("  ") + arg.Name + "=on|off\n";
    for (const TFieldArg& arg : FIELDS) {
        const TSpinEditSpec& limits = FieldSpec(arg.Field);
        char range[96];
        std::snprintf(range, sizeof range, "  %s=%g..%g %s\n", arg.Name, limits.Min, limits.Max,
                      arg.Unit);
        help += range;
    }
    return help;
}

std::string SettingChangesText(const TSettingsValues& before, const TSettingsValues& after) {
    std::string text;
    const auto add = [&text](const std::string& change) {
        text += (text.empty() ? "" : ", ") + change;
    };
    for (const TSwitchArg& arg : SWITCHES) {
        if (before.*arg.Member != after.*arg.Member)
            add(std::string(arg.Name) + " " + (before.*arg.Member ? "on->off" : "off->on"));
    }
    for (const TFieldArg& arg : FIELDS) {
        const int decimals = FieldSpec(arg.Field).Decimals;
        char change[96];
        std::snprintf(change, sizeof change, "%s %.*f->%.*f %s", arg.Name, decimals,
                      before.*arg.Member, decimals, after.*arg.Member, arg.Unit);
        if (before.*arg.Member != after.*arg.Member)
            add(change);
    }
    return text;
}
