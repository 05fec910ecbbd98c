#include "ExporterOptions.h"

#include <algorithm>

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    if (text.empty() || text.size() > 6 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    value = std::stoi(text);
    return value >= low && value <= high;
}

namespace {

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
    if (IsRelayOption(name))
        return ApplyRelayOption(name, value, options.Relay);
    // --log-format and "text" are the names of an earlier version.
    if (value == "logfmt" || value == "text" || value == "json") {
        options.LogFormat = value == "json" ? TLogFormat::Json : TLogFormat::Logfmt;
        return "";
    }
    return name + " takes logfmt or json";
}

const char* const VALUE_OPTIONS[] = {
    "--web.listen-address",   "--targets",         "--interval",
    "--log.format",           "--log-format",      "--log.level",
    "--relay.listen-address", "--relay.base-port", "--relay.allow-write",
    "--relay.max-clients"};

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
device, and serves what they report to Prometheus. Read-only unless a relay lets clients
write: nothing else is ever sent to a device that would change it.

Devices come from the command line and from the targets file; a device listed twice is
watched once. Port 10001 unless given.

Options:
  --web.listen-address [HOST]:PORT
                     where to serve /metrics, / (a page of the devices) and /-/healthy
                     (default 127.0.0.1:9710; :9710 is every interface, IPv4 and IPv6,
                     [::1]:9710 an IPv6 address; port 0 lets the system pick one)
  --targets FILE     one device a line: ADDRESS[:PORT] [relay=[ADDRESS:]PORT] [LABEL];
                     '#' starts a comment line. A bad line is reported with its file
                     and line number and skipped; a line that is not UTF-8 is read as
                     Latin-1. Only a regular file of up to 32 MiB is read. SIGHUP reads
                     the file again: devices still listed stay connected, removed ones
                     are disconnected, new ones connect; a file that cannot be read
                     keeps the devices.
  --interval MS      shortest poll cycle per device, 10 to 10000 (default 100)
  --log.format logfmt|json
                     the log on standard output: one line per change the station's
                     journal would write, per connect, stop and reload (default logfmt;
                     --log-format and text are older names)
  --log.level debug|info|warn|error
                     the least level of a line written (default info)
  --relay.base-port N
                     relays device k (in the order listed) on port N+k-1, unless its
                     targets line gives relay=; 0 lets the system pick each port
  --relay.listen-address ADDRESS
                     the IPv4 address relays listen on (default 127.0.0.1)
  --relay.allow-write CIDR[,CIDR...]
                     clients that may write through a relay, e.g. 10.1.2.0/24 (default
                     none: read-only; a write from any other client closes it)
  --relay.max-clients N
                     clients per relay, 1 to 10000 (default 32); more are refused
  --help             show this text
  --version          show the version

A relay speaks the device's own protocol, so the station and the CLI work through it
while the exporter keeps the device's one connection. It listens only while the device
is up and answers reads from the latest poll while that is at most 500 ms old (keep
--interval well below). Writes go to the device one at a time and are acknowledged once
the device took them and their group was read again; each is logged with its client,
command and result. A client idle for 10 s is closed. The relay does not authenticate:
the listen address and --relay.allow-write are its controls.

A link that stops by itself is connected again after 1 s, then after waits doubling up
to 60 s, with jitter; a connection that lasted 60 s starts the waits over.
SIGTERM or SIGINT disconnects every device and ends with status 0.
Exit status 2: a bad command line, an unreadable targets file, or a listen address in use.
)";
}
