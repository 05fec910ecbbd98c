#include "ExporterOptions.h"

#include <algorithm>

namespace {

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

// "--name=value" or "--name value"; false when the value is missing.
bool TakeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& value) {
    const std::string& arg = args[i];
    if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
        value = arg.substr(name.size() + 1);
        return true;
    }
    if (i + 1 >= args.size())
        return false;
    value = args[++i];
    return true;
}

std::string ApplyLogLevel(const std::string& value, TExporterOptions& options) {
    for (const TLogLevel level :
         {TLogLevel::Debug, TLogLevel::Info, TLogLevel::Warn, TLogLevel::Error}) {
        if (value == LogLevelName(level)) {
            options.LogLevel = level;
            return "";
        }
    }
    return "--log.level takes debug, info, warn or error";
}

std::string ApplyOption(const std::string& name, const std::string& value,
                        TExporterOptions& options) {
    if (name == "--web.listen-address") {
        options.ListenAddress = value;
        return CheckListenAddress(value);
    }
    if (name == "--targets") {
        options.TargetsFile = value;
        return value.empty() ? "--targets needs a file name" : "";
    }
    if (name == "--interval") {
        int ms = 0;
        if (!ParseNumber(value, MIN_INTERVAL_MS, MAX_INTERVAL_MS, ms))
            return "--interval takes milliseconds from 10 to 10000";
        options.Interval = std::chrono::milliseconds(ms);
        return "";
    }
    if (name == "--log.level")
        return ApplyLogLevel(value, options);
    // --log-format and "text" are the names of an earlier version.
    if (value == "logfmt" || value == "text" || value == "json") {
        options.LogFormat = value == "json" ? TLogFormat::Json : TLogFormat::Logfmt;
        return "";
    }
    return name + " takes logfmt or json";
}

const char* const VALUE_OPTIONS[] = {"--web.listen-address", "--targets",    "--interval",
                                     "--log.format",         "--log-format", "--log.level"};

// The option an argument names, "--name" or "--name=value"; empty when none.
std::string OptionName(const std::string& arg) {
    for (const char* name : VALUE_OPTIONS) {
        const std::string option = name;
        if (arg == option || arg.starts_with(option + "="))
            return option;
    }
    return "";
}

// Empty (every interface), an IPv6 address in brackets, or a host without colons.
bool IsListenHost(const std::string& host) {
    if (host.starts_with("["))
        return host.size() > 2 && host.ends_with("]");
    return host.find_first_of(":[]") == std::string::npos;
}

} // namespace

std::string CheckListenAddress(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    int port = 0;
    if (colon == std::string::npos || text.size() > 64 || !IsListenHost(text.substr(0, colon)) ||
        !ParseNumber(text.substr(colon + 1), 0, 65535, port))
        return "--web.listen-address takes HOST:PORT, :PORT or [IPV6]:PORT, e.g. 127.0.0.1:9710";
    return "";
}

std::string ParseExporterOptions(const std::vector<std::string>& args, TExporterOptions& options) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.Help = true;
            continue;
        }
        if (arg == "--version") {
            options.Version = true;
            continue;
        }
        const std::string name = OptionName(arg);
        if (name.empty() && arg.starts_with("-"))
            return "unknown option " + arg;
        std::string value;
        if (!name.empty() && !TakeValue(args, i, name, value))
            return name + " needs a value";
        std::string error;
        if (!name.empty()) {
            error = ApplyOption(name, value, options);
        } else if (auto target = ParseTargetArgument(arg, error)) {
            options.Targets.push_back(*target);
        }
        if (!error.empty())
            return error + (name.empty() ? " in \"" + arg + "\"" : "");
    }
    return "";
}

std::string ExporterHelp() {
    return R"(Usage: control7710-exporter [OPTIONS] [ADDRESS[:PORT][=NAME]]...

Watches 7710/12 changeover switches with the station's own link, one connection per
device, and serves what they report to Prometheus. Read-only: nothing is ever sent to a
device that would change it.

Devices come from the command line and from the targets file; a device listed twice is
watched once. Port 10001 unless given.

Options:
  --web.listen-address [HOST]:PORT
                     where to serve /metrics, / (a page of the devices) and /-/healthy
                     (default 127.0.0.1:9710; :9710 is every interface, IPv4 and IPv6,
                     [::1]:9710 an IPv6 address; port 0 lets the system pick one)
  --targets FILE     one device a line: ADDRESS[:PORT] [LABEL]; '#' starts a comment
                     line. A bad line is reported with its file and line number and
                     skipped; a line that is not UTF-8 is read as Latin-1. Only a
                     regular file of up to 32 MiB is read. SIGHUP reads the file again:
                     devices still listed stay connected, removed ones are disconnected,
                     new ones connect; a file that cannot be read keeps the devices.
  --interval MS      shortest poll cycle per device, 10 to 10000 (default 100)
  --log.format logfmt|json
                     the log on standard output: one line per change the station's
                     journal would write, per connect, stop and reload (default logfmt;
                     --log-format and text are older names)
  --log.level debug|info|warn|error
                     the least level of a line written (default info)
  --help             show this text
  --version          show the version

A link that stops by itself is connected again after 1 s, then after waits doubling up
to 60 s, with jitter; a connection that lasted 60 s starts the waits over.
SIGTERM or SIGINT disconnects every device and ends with status 0.
Exit status 2: a bad command line, an unreadable targets file, or a listen address in use.
)";
}
