#include "CliArgs.h"

#include "SettingsArgs.h"
#include "UnitProc.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <netdb.h>

namespace {

struct TOptionName {
    const char* Long;
    const char* Short;
    bool TakesValue;
    bool OfCheck;
};

const TOptionName OPTIONS[] = {
    {"--port", "-p", true, false},     {"--seconds", nullptr, true, false},
    {"--json", nullptr, false, false}, {"--hostname", "-H", true, false},
    {"--timeout", "-t", true, true},   {"--warning", "-w", true, true},
    {"--critical", "-c", true, true},  {"--manual", nullptr, true, true},
};

// The option an argument names, by its long or short name (without "=VALUE").
const TOptionName* FindOption(const std::string& name) {
    for (const TOptionName& option : OPTIONS) {
        if (name == option.Long || (option.Short != nullptr && name == option.Short))
            return &option;
    }
    return nullptr;
}

bool IsOption(const std::string& arg) {
    return arg.size() > 1 && arg[0] == '-';
}

// The name of an option argument: "--port=1" names "--port".
std::string NameOf(const std::string& arg) {
    return arg.starts_with("--") ? arg.substr(0, arg.find('=')) : arg;
}

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool ParseRange(const std::string& text, TThresholdRange& range) {
    const std::optional<TThresholdRange> parsed = ParseThresholdRange(text);
    if (parsed)
        range = *parsed;
    return parsed.has_value();
}

bool ParseManual(const std::string& text, bool& warning) {
    if (text != "ok" && text != "warning")
        return false;
    warning = text == "warning";
    return true;
}

// Applies the value of a known option; false when the value does not fit it.
bool TakeValue(const TOptionName& option, const std::string& value, TCliOptions& options) {
    const std::string name = option.Long;
    int number = 0;
    if (name == "--hostname")
        options.Host = value;
    else if (name == "--port" && ParseNumber(value, 1, 65535, number))
        options.Port = number;
    else if (name == "--seconds" && ParseNumber(value, 0, 86400 * 365, number))
        options.Seconds = number;
    else if (name == "--timeout" && ParseNumber(value, 1, 86400, number))
        options.TimeoutSeconds = number;
    else if (name == "--warning")
        return ParseRange(value, options.Limits.Warning);
    else if (name == "--critical")
        return ParseRange(value, options.Limits.Critical);
    else if (name == "--manual")
        return ParseManual(value, options.Limits.ManualWarning);
    else
        return false;
    return true;
}

// The first word that is neither an option nor an option's value: the command.
std::string FirstWord(const std::vector<std::string>& args) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!IsOption(args[i]))
            return args[i];
        const TOptionName* option = FindOption(args[i]);
        if (option != nullptr && option->TakesValue)
            ++i;
    }
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

// True for text meant as an address rather than a name: digits and dots only, or one of
// the older forms of a number ("0x7f.1").
bool LooksNumeric(const std::string& text) {
    in_addr number{};
    return text.find_first_not_of("0123456789.") == std::string::npos ||
           inet_aton(text.c_str(), &number) != 0;
}

// The address word, ADDRESS[:PORT], and its port when it has one; "" or what is wrong. A
// dotted IPv4 address is taken as it is, other text is a host name to be resolved.
// portOption: the port was given by an option too.
std::string TakeAddress(const std::string& text, bool portOption, TCliOptions& options) {
    const std::size_t colon = text.find(':');
    const bool hasPort = colon != std::string::npos;
    if (hasPort && portOption)
        return "the port is given twice, in \"" + text + "\" and by an option";
    TEndpoint endpoint;
    int port = options.Port;
    if (ParseEndpoint(text, endpoint)) {
        options.Address = FormatAddress(endpoint.Address);
        port = endpoint.Port;
    } else if (LooksNumeric(text.substr(0, colon))) {
        return EndpointProblem(text);
    } else if (hasPort && !ParsePort(text.substr(colon + 1), port)) {
        return "invalid port \"" + text.substr(colon + 1) + "\"";
    }
    options.Host = text.substr(0, colon);
    if (hasPort)
        options.Port = port;
    return "";
}

// The words: the command, its argument, the address unless -H gave it, settings.
std::string CheckWords(std::vector<std::string> words, bool portOption, TCliOptions& options) {
    const std::size_t at = words.empty() ? 0 : AddressPosition(words[0]);
    if (at == 0)
        return "expected a command";
    if (!options.Host.empty() && words.size() >= at)
        words.insert(words.begin() + static_cast<std::ptrdiff_t>(at), options.Host);
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
    for (const std::string& name : given) {
        if (FindOption(name)->OfCheck && options.Command != "check")
            return name + " is an option of check";
        if (name == "--json" && !PrintsEvents(options.Command))
            return "--json is not an option of " + options.Command;
    }
    return "";
}

} // namespace

std::string ParseCliArguments(const std::vector<std::string>& args, TCliOptions& options) {
    options.Command = FirstWord(args);
    std::vector<std::string> words;
    std::vector<std::string> given;
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
        const std::string name = NameOf(arg);
        const TOptionName* option = FindOption(name);
        const bool inlineValue = name.size() < arg.size();
        if (option == nullptr || (inlineValue && !option->TakesValue) ||
            (option->TakesValue && !inlineValue && i + 1 >= args.size()))
            return "bad option " + arg;
        given.push_back(name);
        if (!option->TakesValue) { // --json, the one option without a value
            options.Json = true;
            continue;
        }
        const std::string value = inlineValue ? arg.substr(name.size() + 1) : args[++i];
        if (!TakeValue(*option, value, options))
            return "bad value \"" + value + "\" for " + name;
    }
    const bool portOption = std::any_of(given.begin(), given.end(), [](const std::string& name) {
        return FindOption(name)->Long == std::string("--port");
    });
    const std::string error = CheckWords(words, portOption, options);
    return error.empty() ? CheckFit(options, given) : error;
}

std::string ResolveAddress(TCliOptions& options) {
    if (!options.Address.empty())
        return "";
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int error = getaddrinfo(options.Host.c_str(), nullptr, &hints, &found);
    if (error != 0)
        return "cannot resolve host name \"" + options.Host + "\": " + gai_strerror(error);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr, text,
              sizeof text);
    freeaddrinfo(found);
    options.Address = text;
    return "";
}
