#include "SettingsArgs.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

bool ParseDecimal(const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && *end == '\0' && errno == 0 && std::isfinite(value);
}

std::string ApplyOne(const std::string& name, const std::string& text, TSettingsValues& values) {
    for (const TSwitchKind& arg : SWITCHES) {
        if (name != arg.Name)
            continue;
        if (text != "on" && text != "off")
            return name + " takes on or off";
        values.*arg.Value = text == "on";
        return "";
    }
    for (const TFieldKind& arg : FIELDS) {
        if (name != arg.Name)
            continue;
        double number = 0;
        if (!ParseDecimal(text, number))
            return name + " takes a number in " + arg.Unit;
        values.*arg.Value = LimitToField(arg.Field, number);
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
    for (const TSwitchKind& arg : SWITCHES)
        help += std::string("  ") + arg.Name + "=on|off\n";
    for (const TFieldKind& arg : FIELDS) {
        const TSpinEditSpec& limits = FieldSpec(arg.Field);
        char range[96];
        std::snprintf(range, sizeof range, "  %s=%g..%g %s\n", arg.Name, limits.Min, limits.Max,
                      arg.Unit);
        help += range;
    }
    return help;
}
