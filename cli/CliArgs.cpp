#include "CliArgs.h"

#include "SettingsArgs.h"
#include "UnitProc.h"

#include <algorithm>
#include <cstdlib>

namespace {

const std::string PORT_OPTIONS[] = {"-p", "--port"};

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool IsCheckOption(const std::string& option) {
    return option == "-t" || option == "-w" || option == "-c";
}

bool IsOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

// An option and its value; "" or what is wrong.
std::string TakeValue(const std::string& option, const std::string& value, TCliOptions& options,
                      std::optional<std::string>& host) {
    int number = 0;
    const char* const known[] = {"-H", "-p", "--port", "--seconds", "-t", "-w", "-c"};
    if (std::find(std::begin(known), std::end(known), option) == std::end(known))
        return "bad option " + option;
    if (option == "-H") {
        host = value;
        return "";
    }
    if ((option == "--port" || option == "-p") && ParseNumber(value, 1, 65535, number))
        options.Port = number;
    else if (option == "--seconds" && ParseNumber(value, 0, 86400 * 365, number))
        options.Seconds = number;
    else if (option == "-t" && ParseNumber(value, 1, 86400, number))
        options.TimeoutSeconds = number;
    else if (option == "-w" && ParseNumber(value, 0, 255, number))
        options.Limits.Warning = number;
    else if (option == "-c" && ParseNumber(value, 0, 255, number))
        options.Limits.Critical = number;
    else
        return "bad value \"" + value + "\" for " + option;
    return "";
}

// Where the address stands among the words, for each command; 0 for an unknown one.
std::size_t AddressPosition(const std::string& command) {
    for (const char* plain : {"events", "auto", "report", "watch", "check", "settings"}) {
        if (command == plain)
            return 1;
    }
    return command == "select" || command == "psu" ? 2 : 0;
}

bool PrintsEvents(const std::string& command) {
    for (const char* printing : {"events", "select", "auto", "psu", "report", "watch"}) {
        if (command == printing)
            return true;
    }
    return false;
}

std::string CheckArgument(const TCliOptions& options) {
    int mask = 0;
    if (options.Command == "select" && options.Argument != "A" && options.Argument != "B")
        return "select takes A or B";
    if (options.Command == "psu" && !ParseNumber(options.Argument, 0, 3, mask))
        return "psu takes a mask from 0 to 3";
    TSettingsValues probe;
    return ApplySettingArgs(options.Settings, probe);
}

// The address word, and its port when it has one; "" or what is wrong. portOption: the
// port was given by an option too.
std::string TakeAddress(const std::string& text, bool portOption, TCliOptions& options) {
    TEndpoint endpoint;
    if (!ParseEndpoint(text, endpoint))
        return EndpointProblem(text);
    const bool hasPort = text.find(':') != std::string::npos;
    if (hasPort && portOption)
        return "the port is given twice, in \"" + text + "\" and by an option";
    options.Address = FormatAddress(endpoint.Address);
    if (hasPort)
        options.Port = endpoint.Port;
    return "";
}

// The words: the command, its argument, the address unless -H gave it, settings.
std::string CheckWords(std::vector<std::string> words, const std::optional<std::string>& host,
                       bool portOption, TCliOptions& options) {
    const std::size_t at = words.empty() ? 0 : AddressPosition(words[0]);
    if (at == 0)
        return "expected a command";
    if (host && words.size() >= at)
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(at), *host);
    const bool takesSettings = words[0] == "settings";
    if (words.size() <= at || (!takesSettings && words.size() != at + 1) ||
        (takesSettings && words.size() == at + 1))
        return "wrong number of arguments for " + words[0];
    options.Command = words[0];
    options.Argument = at == 2 ? words[1] : "";
    options.Settings.assign(words.begin() + static_cast<std::ptrdiff_t>(at) + 1, words.end());
    const std::string error = CheckArgument(options);
    if (!error.empty())
        return error;
    return TakeAddress(words[at], portOption, options);
}

// What the options say that the command does not take; "" when all fit.
std::string CheckFit(const TCliOptions& options, const std::vector<std::string>& given) {
    for (const std::string& option : given) {
        if (IsCheckOption(option) && options.Command != "check")
            return option + " is an option of check";
        if (option == "--json" && !PrintsEvents(options.Command))
            return "--json is not an option of " + options.Command;
    }
    if (options.Limits.Warning > options.Limits.Critical)
        return "the warning temperature is above the critical one";
    return "";
}

} // namespace

std::string ParseCliArguments(const std::vector<std::string>& args, TCliOptions& options) {
    std::vector<std::string> words;
    std::vector<std::string> given;
    std::optional<std::string> host;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        options.Help = options.Help || arg == "--help" || arg == "-h";
        options.Version = options.Version || arg == "--version" || arg == "-V";
        if (options.Help || options.Version)
            return "";
        if (!IsOption(arg)) {
            words.push_back(arg);
            continue;
        }
        given.push_back(arg);
        if (arg == "--json") {
            options.Json = true;
            continue;
        }
        if (i + 1 >= args.size())
            return "bad option " + arg;
        const std::string error = TakeValue(arg, args[++i], options, host);
        if (!error.empty())
            return error;
    }
    const bool portOption = std::find_first_of(given.begin(), given.end(), std::begin(PORT_OPTIONS),
                                               std::end(PORT_OPTIONS)) != given.end();
    const std::string error = CheckWords(words, host, portOption, options);
    return error.empty() ? CheckFit(options, given) : error;
}
