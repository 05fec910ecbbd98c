// Headless monitor: connects to a device with the station's own link and prints what
// the station would see, says or judge.

#include "ChangeLines.h"
#include "DeviceCheck.h"
#include "DeviceReport.h"
#include "EventPrinter.h"
#include "Journal.h"
#include "SettingsArgs.h"
#include "StationText.h"
#include "UnitProc.h"
#include "UnitThread.h"

#include <QCoreApplication>
#include <QDateTime>
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
constexpr int EXIT_STOPPED = 1;
constexpr int SETTINGS_CONFIRM_MS = 3000;

const char* const USAGE = R"(Usage: control7710-cli COMMAND [ARGUMENT] ADDRESS [OPTIONS]

Connects to the changeover switch at ADDRESS (a dotted IPv4 address) with the station's
own link.

Commands:
  events ADDRESS        print one line per event as it fires: the event's name, the input
                        (A or B) where there is one, and the new value; link statistics
                        print as "LinkStat KIND VALUE"
  select A|B ADDRESS    as events, and force input A or B after the first pass
  auto ADDRESS          as events, and return to automatic mode after the first pass
  psu MASK ADDRESS      as events, and set the monitored power supplies after the first
                        pass (MASK 0-3: bit 0 unit 1, bit 1 unit 2)
  report ADDRESS        print the device state report the station's journal receives
                        after connecting (oldest line first), then disconnect
  watch ADDRESS         print the report, then every change line the journal would
                        write, with its time stamp, until the time is up or Ctrl+C
  check ADDRESS         print one summary line and exit with a monitoring status:
                        0 OK, 1 WARNING (a switched-on check reports ERROR on the input
                        not on the output), 2 CRITICAL (device unreachable; such an ERROR
                        on the input on the output; a monitored power supply in ERROR;
                        temperature at 70 C or above), 3 UNKNOWN (bad command line)
  settings ADDRESS NAME=VALUE...
                        read the device's settings, change the named ones, send them as
                        the station's Settings page would, and print what the device
                        took. Names and ranges (values outside are limited to the range):
%s
Options:
  --port N       device port (default 10001)
  --seconds S    events and watch: disconnect after S seconds (default: until Ctrl+C)
  --help         show this text

Exit status (except check): 0 when the work was done, or the time was up or Ctrl+C and
the connection was closed on request; 1 when the link stopped by itself (the reason is
printed); 64 on a usage error.
)";

struct TOptions {
    std::string Command;
    std::string Argument;
    std::string Address;
    std::vector<std::string> Settings;
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

// Where the address stands among the words, for each command; 0 for an unknown one.
std::size_t AddressPosition(const std::string& command) {
    for (const char* plain : {"events", "auto", "report", "watch", "check", "settings"}) {
        if (command == plain)
            return 1;
    }
    return command == "select" || command == "psu" ? 2 : 0;
}

std::string CheckWords(TOptions& options, const std::vector<std::string>& words) {
    const std::size_t at = words.empty() ? 0 : AddressPosition(words[0]);
    if (at == 0)
        return "expected a command; see --help";
    const bool takesSettings = words[0] == "settings";
    if (words.size() <= at || (!takesSettings && words.size() != at + 1) ||
        (takesSettings && words.size() == at + 1))
        return "wrong number of arguments for " + words[0] + "; see --help";
    options.Command = words[0];
    options.Argument = at == 2 ? words[1] : "";
    options.Settings.assign(words.begin() + static_cast<std::ptrdiff_t>(at) + 1, words.end());
    int mask = 0;
    if (options.Command == "select" && options.Argument != "A" && options.Argument != "B")
        return "select takes A or B";
    if (options.Command == "psu" && !ParseNumber(options.Argument, 0, 3, mask))
        return "psu takes a mask from 0 to 3";
    TSettingsValues probe;
    const std::string settingsError = ApplySettingArgs(options.Settings, probe);
    if (!settingsError.empty())
        return settingsError;
    TAddressValue address{};
    if (!ParseAddress(words[at], address))
        return "invalid IP address \"" + words[at] + "\"";
    options.Address = FormatAddress(address);
    return "";
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
    const std::string error = CheckWords(options, words);
    if (error.empty())
        return options;
    std::fprintf(stderr, "control7710-cli: %s\n", error.c_str());
    return std::nullopt;
}

void Print(const std::string& line) {
    std::fprintf(stdout, "%s\n", line.c_str());
    std::fflush(stdout);
}

void PrintStamped(const std::string& message) {
    Print(TimeStampedLine(QDateTime::currentDateTime(), QString::fromStdString(message))
              .toStdString());
}

void PrintReport(const TSwObject& link) {
    const TSettingsValues fields = SettingsFromStatus(link.Status());
    for (const TReportLine& line : DeviceReport(link, fields, ".")) {
        if (line.Kind == TReportKind::More)
            Print(ContinuationLine(QString::fromStdString(line.Text)).toStdString());
        else
            PrintStamped(line.Text);
    }
}

void PostCommand(TSwObject& link, const TOptions& options) {
    if (options.Command == "select")
        link.SelectInput(options.Argument == "B" ? INPUT_B : INPUT_A);
    else if (options.Command == "auto")
        link.SetAutoMode();
    else if (options.Command == "psu")
        link.SetPowerMonitoring(std::atoi(options.Argument.c_str()));
}

// One connection under an event loop: ends on the link's stop, on Ctrl+C and, where
// given, after the time. What is done with the events is the caller's wiring.
class TSession {
public:
    explicit TSession(const TOptions& options) : fOptions(options) {}

    TSwObject& Link() { return fLink; }
    // Called with the stop code when the link stopped by itself.
    std::function<void(int code)> OnFailure;

    int Run() {
        auto previous = fLink.OnStop;
        fLink.OnStop = [this, previous](TSwObject* sender, int code) {
            if (previous)
                previous(sender, code);
            Stopped(code);
        };
        std::signal(SIGINT, [](int) { interrupted = true; });
        std::signal(SIGTERM, [](int) { interrupted = true; });
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [this] {
            if (interrupted)
                fLink.Disconnect();
        });
        watch.start(50);
        if (fOptions.Seconds)
            QTimer::singleShot(*fOptions.Seconds * 1000, [this] { fLink.Disconnect(); });
        fLink.Connect(fOptions.Address, fOptions.Port);
        return QCoreApplication::exec();
    }

    // Ends the session once the link has stopped, with exitCode.
    void Finish(int exitCode) {
        if (fFinished)
            return;
        fFinished = true;
        fExitCode = exitCode;
        fLink.Disconnect();
    }

private:
    void Stopped(int code) {
        if (StopIsFailure(code) && OnFailure)
            OnFailure(code);
        QCoreApplication::exit(StopIsFailure(code) ? EXIT_STOPPED : fExitCode);
    }

    const TOptions& fOptions;
    TSwObject fLink;
    int fExitCode = 0;
    bool fFinished = false;
};

std::string FailureText(const TSwObject& link, int code) {
    return StopReason(code, link.LastError());
}

int RunEvents(const TOptions& options) {
    TSession session(options);
    TSwObject& link = session.Link();
    WireEventPrinter(link, stdout);
    auto printCounters = link.OnCounters;
    link.OnCounters = [&link, &options, printCounters](TSwObject* sender) {
        printCounters(sender);
        PostCommand(link, options);
    };
    return session.Run();
}

int RunReport(const TOptions& options) {
    TSession session(options);
    TSwObject& link = session.Link();
    link.OnCounters = [&](TSwObject*) {
        PrintReport(link);
        session.Finish(0);
    };
    session.OnFailure = [&link](int code) { Print(FailureText(link, code)); };
    return session.Run();
}

int RunWatch(const TOptions& options) {
    TSession session(options);
    TSwObject& link = session.Link();
    WireChangeLines(link, PrintStamped);
    link.OnCounters = [&](TSwObject*) { PrintReport(link); };
    link.OnLinkStat = [](TSwObject*, std::uint32_t, int kind) {
        if (kind == LINK_READ_WARNING)
            PrintStamped("!!! connection read malfunction");
    };
    session.OnFailure = [&link](int code) { PrintStamped(FailureText(link, code)); };
    return session.Run();
}

int RunCheck(const TOptions& options) {
    TSession session(options);
    TSwObject& link = session.Link();
    TCheckResult result = Unreachable("no reply");
    link.OnCounters = [&](TSwObject*) {
        result = EvaluateDevice(link);
        session.Finish(0);
    };
    session.OnFailure = [&](int code) { result = Unreachable(FailureText(link, code)); };
    session.Run();
    Print(result.Summary);
    return static_cast<int>(result.Status);
}

// Sends the changed settings after the first pass, then waits until the device reports
// them back, or gives up after a while.
int RunSettings(const TOptions& options) {
    TSession session(options);
    TSwObject& link = session.Link();
    WireChangeLines(link, PrintStamped);
    TSettingsBlock sent{};
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [&] {
        if (BuildSettingsBlock(SettingsFromStatus(link.Status())) == sent)
            session.Finish(0);
    });
    link.OnCounters = [&](TSwObject*) {
        TSettingsValues values = SettingsFromStatus(link.Status());
        ApplySettingArgs(options.Settings, values);
        sent = BuildSettingsBlock(values);
        link.WriteSettings(sent);
        PrintStamped("Settings change");
        confirm.start(20);
        QTimer::singleShot(SETTINGS_CONFIRM_MS, [&] {
            PrintStamped("The device did not report the settings sent");
            session.Finish(EXIT_STOPPED);
        });
    };
    session.OnFailure = [&link](int code) { PrintStamped(FailureText(link, code)); };
    return session.Run();
}

int Run(const TOptions& options) {
    if (options.Command == "report")
        return RunReport(options);
    if (options.Command == "watch")
        return RunWatch(options);
    if (options.Command == "check")
        return RunCheck(options);
    if (options.Command == "settings")
        return RunSettings(options);
    return RunEvents(options);
}

bool WantsHelp(const std::vector<std::string>& args) {
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h")
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (WantsHelp(args)) {
        std::printf(USAGE, SettingArgsHelp().c_str());
        return 0;
    }
    const std::optional<TOptions> options = ParseArguments(args);
    if (!options) {
        const bool checking = !args.empty() && args[0] == "check";
        return checking ? static_cast<int>(TCheckStatus::Unknown) : EXIT_USAGE;
    }
    QCoreApplication application(argc, argv);
    return Run(*options);
}
