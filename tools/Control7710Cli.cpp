// Headless monitor: connects to a device with the station's link and prints what it
// reports.

#include "EventPrinter.h"
#include "StationText.h"
#include "UnitProc.h"
#include "UnitThread.h"

#include <QCoreApplication>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr int EXIT_USAGE = 64;

const char* const USAGE = R"(Usage: control7710-cli COMMAND [ARGUMENT] ADDRESS [OPTIONS]

Connects to the changeover switch at ADDRESS (a dotted IPv4 address) and prints one
line per event as the station would see it: the event's name, the input (A or B)
where there is one, and the new value. Link statistics print as "LinkStat KIND VALUE".

Commands:
  events ADDRESS        print every event until the time is up or Ctrl+C
  select A|B ADDRESS    as events, and force input A or B after the first pass
  auto ADDRESS          as events, and return to automatic mode after the first pass
  psu MASK ADDRESS      as events, and set the monitored power supplies after the first
                        pass (MASK 0-3: bit 0 unit 1, bit 1 unit 2)

Options:
  --port N       device port (default 10001)
  --seconds S    disconnect after S seconds (default: run until interrupted)
  --help         show this text

Exit status: 0 when the connection ran until the time was up or Ctrl+C and was closed
on request; 1 when the link stopped by itself (the reason is printed); 64 on a usage
error.
)";

struct TOptions {
    std::string Command;
    std::string Argument;
    std::string Address;
    int Port = DEVICE_PORT;
    std::optional<int> Seconds;
};

std::atomic<bool> interrupted{false};

bool ParseNumber(const std::string& text, int low, int high, int& value) {
    char* end = nullptr;
    const long number = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || number < low || number > high)
        return false;
    value = static_cast<int>(number);
    return true;
}

bool TakeOption(const std::vector<std::string>& args, std::size_t& i, TOptions& options) {
    if (i + 1 >= args.size())
        return false;
    const std::string& value = args[++i];
    int number = 0;
    if (args[i - 1] == "--port" && ParseNumber(value, 1, 65535, number)) {
        options.Port = number;
        return true;
    }
    if (args[i - 1] == "--seconds" && ParseNumber(value, 0, 86400 * 365, number)) {
        options.Seconds = number;
        return true;
    }
    return false;
}

bool ValidArgument(const TOptions& options) {
    int mask = 0;
    if (options.Command == "select")
        return options.Argument == "A" || options.Argument == "B";
    if (options.Command == "psu")
        return ParseNumber(options.Argument, 0, 3, mask);
    return true;
}

// Reads the command line; prints what is wrong and returns nothing on a usage error.
std::optional<TOptions> ParseArguments(const std::vector<std::string>& args) {
    TOptions options;
    std::vector<std::string> words;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (!args[i].starts_with("--")) {
            words.push_back(args[i]);
        } else if (!TakeOption(args, i, options)) {
            std::fprintf(stderr, "control7710-cli: bad option %s\n", args[i].c_str());
            return std::nullopt;
        }
    }
    const bool takesArgument = !words.empty() && (words[0] == "select" || words[0] == "psu");
    const std::size_t expected = takesArgument ? 3 : 2;
    const bool known =
        !words.empty() && (words[0] == "events" || words[0] == "auto" || takesArgument);
    if (!known || words.size() != expected) {
        std::fprintf(stderr, "control7710-cli: expected a command and an address; see --help\n");
        return std::nullopt;
    }
    options.Command = words[0];
    options.Argument = takesArgument ? words[1] : "";
    TAddressValue address{};
    if (!ParseAddress(words.back(), address) || !ValidArgument(options)) {
        std::fprintf(stderr, "control7710-cli: invalid address or argument; see --help\n");
        return std::nullopt;
    }
    options.Address = FormatAddress(address);
    return options;
}

void PostCommand(TSwObject& link, const TOptions& options) {
    if (options.Command == "select")
        link.SelectInput(options.Argument == "B" ? INPUT_B : INPUT_A);
    else if (options.Command == "auto")
        link.SetAutoMode();
    else if (options.Command == "psu")
        link.SetPowerMonitoring(std::atoi(options.Argument.c_str()));
}

int Run(const TOptions& options) {
    TSwObject link;
    WireEventPrinter(link, stdout);
    int exitCode = 0;
    auto printCounters = link.OnCounters;
    link.OnCounters = [&](TSwObject* sender) {
        printCounters(sender);
        PostCommand(link, options);
    };
    auto printStop = link.OnStop;
    link.OnStop = [&](TSwObject* sender, int code) {
        printStop(sender, code);
        exitCode = StopIsFailure(code) ? 1 : 0;
        QCoreApplication::exit(exitCode);
    };
    std::signal(SIGINT, [](int) { interrupted = true; });
    std::signal(SIGTERM, [](int) { interrupted = true; });
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (interrupted)
            link.Disconnect();
    });
    watch.start(50);
    if (options.Seconds)
        QTimer::singleShot(*options.Seconds * 1000, [&] { link.Disconnect(); });
    link.Connect(options.Address, options.Port);
    QCoreApplication::exec();
    return exitCode;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
    }
    const std::optional<TOptions> options = ParseArguments(args);
    if (!options)
        return EXIT_USAGE;
    QCoreApplication application(argc, argv);
    return Run(*options);
}
