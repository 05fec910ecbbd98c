// Headless monitor: connects to a device with the station's own link and prints what
// the station would see, says or judge.

#include "ChangeLines.h"
#include "CliArgs.h"
#include "DeviceCheck.h"
#include "DeviceReport.h"
#include "EventPrinter.h"
#include "Journal.h"
#include "LineOutput.h"
#include "SettingsArgs.h"
#include "SignalWatch.h"
#include "StationText.h"
#include "UnitProc.h"
#include "UnitThread.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonObject>
#include <QTimer>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

constexpr int EXIT_STOPPED = 1;
constexpr int EXIT_USAGE = 64;
constexpr int EXIT_NO_HOST = 68;
constexpr int EXIT_OUTPUT_LOST = 74;
constexpr int SETTINGS_CONFIRM_MS = 3000;
// How long the output may take to drain once the work is done.
constexpr int DRAIN_MS = 200;
// check: what is kept of its time for printing once the device is read.
constexpr int CHECK_MARGIN_MS = 500;

const char* const USAGE = R"USAGE(Usage: control7710-cli COMMAND [ARGUMENT] ADDRESS [OPTIONS]
       control7710-cli check -H HOST [-p PORT] [-t SECONDS] [-w RANGE] [-c RANGE]

Connects to the changeover switch at ADDRESS (a dotted IPv4 address or a host name looked
up as IPv4, followed by :PORT when the device listens on another port than 10001) with the
station's own link. Data goes to standard output; errors and the reasons a connection
ended go to standard error, the latter as "control7710-cli: stop CODE: REASON", e.g.
"stop 1003: Connection is broken or device powered off (258)".

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
                        write, with its time stamp, until the time is up, Ctrl+C or
                        SIGTERM
  check ADDRESS         a monitoring plugin: print one status line with performance data
                        and exit with its status: 0 OK, 1 WARNING (a switched-on check
                        reports ERROR on the input not on the output; the temperature
                        alerts in the warning range; MANUAL mode with --manual warning),
                        2 CRITICAL (device unreachable or the time is up; such an ERROR
                        on the input on the output; a monitored power supply in ERROR;
                        the temperature alerts in the critical range), 3 UNKNOWN (a bad
                        command line, or a host name that cannot be resolved; one line)
  settings ADDRESS NAME=VALUE...
                        read the device's settings, change the named ones, send them as
                        the station's Settings page would, and print what the device
                        took. Names and ranges (values outside are limited to the range):
%s
Options:
  --port N, -p N  device port (default 10001), in place of ADDRESS:PORT
  --seconds S     events and watch: disconnect after S seconds (default: until Ctrl+C)
  --json          events, report and watch: one JSON object per line, times in ISO 8601
                  with their UTC offset, settings in seconds and decibels beside the
                  device's raw value; the last line is a "Stop" object with the stop
                  "code", its "name" and its "text"
  --hostname HOST, -H HOST
                  the device (with :PORT if need be), in place of the ADDRESS word
  --timeout S, -t S
                  check: the whole run ends within S seconds (default 10)
  --warning RANGE, -w RANGE
                  check: temperature range in degrees Celsius for a warning (default %s)
  --critical RANGE, -c RANGE
                  check: temperature range for critical (default %s: from %dC, the
                  station's OVERHEAT)
  --manual ok|warning
                  check: whether a switch in MANUAL mode is a warning (default ok)
  --help, -h      show this text
  --version, -V   show the program's version
Long options take their value after "=" too: --warning=60.

Ranges (check), as monitoring plugins take them; a value outside the range alerts, with
a leading "@" a value inside it, and both ends belong to the range:
  60        below 0 or above 60
  60:       below 60
  ~:60      above 60
  10:60     below 10 or above 60
  @10:60    from 10 to 60

Exit status (except check): 0 when the work was done; when the time was up, Ctrl+C or
SIGTERM came and the connection was closed on request; or when the reader of standard
output went away (as "| head -1" does); 1 when the link stopped by itself; 64 on a usage
error; 68 when the host name cannot be resolved; 74 when output was lost because standard
output was not read or could not be written.
)USAGE";

// The signals that end a session as a Disconnect does.
sigset_t EndSignals() {
    return SignalSet({SIGINT, SIGTERM});
}

// Errors and stop reasons.
void Complain(const std::string& text) {
    std::fprintf(stderr, "control7710-cli: %s\n", text.c_str());
}

std::string Stamped(const std::string& message) {
    return TimeStampedLine(QDateTime::currentDateTime(), QString::fromStdString(message))
        .toStdString();
}

// The report as journal lines, oldest first, or as one JSON object.
void PrintReport(const TSwObject& link, TOutputForm form, TLineOutput& out) {
    if (form == TOutputForm::Json) {
        QJsonObject report = DeviceStateJson(link);
        report.insert("event", "Report");
        out.Put(JsonLine(report, QDateTime::currentDateTime()));
        return;
    }
    const TSettingsValues fields = SettingsFromStatus(link.Status());
    for (const TReportLine& line :
         DeviceReport(link.Status(), WithPort(link.Address(), link.Port()), fields, ".")) {
        if (line.Kind == TReportKind::More)
            out.Put(ContinuationLine(QString::fromStdString(line.Text)).toStdString());
        else
            out.Put(Stamped(line.Text));
    }
}

// A journal line of watch: stamped text, or an object with the text.
void PrintChange(const std::string& text, TOutputForm form, TLineOutput& out) {
    if (form == TOutputForm::Text)
        out.Put(Stamped(text));
    else
        out.Put(JsonLine({{"event", "Change"}, {"text", QString::fromStdString(text)}},
                         QDateTime::currentDateTime()));
}

void PostCommand(TSwObject& link, const TCliOptions& options) {
    if (options.Command == "select")
        link.SelectInput(options.Argument == "B" ? INPUT_B : INPUT_A);
    else if (options.Command == "auto")
        link.SetAutoMode();
    else if (options.Command == "psu")
        link.SetPowerMonitoring(std::atoi(options.Argument.c_str()));
}

// The line on standard error that says how a connection ended.
std::string StopLine(int code, int lastError) {
    return "stop " + std::to_string(code) + ": " + StopReason(code, lastError);
}

// The last object of JSON output: how the connection ended.
std::string StopJson(int code, int lastError) {
    return JsonLine({{"event", "Stop"},
                     {"code", code},
                     {"name", QString::fromStdString(StopCodeName(code))},
                     {"text", QString::fromStdString(StopReason(code, lastError))}},
                    QDateTime::currentDateTime());
}

// One connection under an event loop: ends on the link's stop, on SIGINT or SIGTERM (which
// an output that fails sends too) and, where given, after the time. What is done with the
// events is the caller's wiring. Nothing here waits for the output.
class TSession {
public:
    TSession(const TCliOptions& options, TLineOutput& out) : fOptions(options), fOut(out) {}

    TSwObject& Link() { return fLink; }
    // The reason a connection ended goes to standard error when the link stopped by
    // itself, and for every stop when this is set, unless the reader of the output went
    // away: then the data asked for was taken, and the session ends quietly.
    bool TellEveryStop = false;

    int Run() {
        fLink.OnStop.Listen([this](TSwObject*, int code) { Stopped(code); });
        const TSignalWatch signalWatch(EndSignals(), [this](int) { fLink.Disconnect(); });
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
        if (StopIsFailure(code) || (TellEveryStop && !fOut.ReaderGone()))
            Complain(StopLine(code, fLink.LastError()));
        if (fOptions.Json)
            fOut.Put(StopJson(code, fLink.LastError()));
        QCoreApplication::exit(StopIsFailure(code) ? EXIT_STOPPED : fExitCode);
    }

    const TCliOptions& fOptions;
    TLineOutput& fOut;
    TSwObject fLink;
    int fExitCode = 0;
    bool fFinished = false;
};

TOutputForm FormOf(const TCliOptions& options) {
    return options.Json ? TOutputForm::Json : TOutputForm::Text;
}

int RunEvents(const TCliOptions& options, TLineOutput& out) {
    TSession session(options, out);
    session.TellEveryStop = true;
    TSwObject& link = session.Link();
    WireEventPrinter(
        link, [&out](const std::string& line) { out.Put(line); }, FormOf(options));
    link.OnCounters.Listen([&link, &options](TSwObject*) { PostCommand(link, options); });
    return session.Run();
}

int RunReport(const TCliOptions& options, TLineOutput& out) {
    TSession session(options, out);
    TSwObject& link = session.Link();
    link.OnCounters.Listen([&](TSwObject*) {
        PrintReport(link, FormOf(options), out);
        session.Finish(0);
    });
    return session.Run();
}

int RunWatch(const TCliOptions& options, TLineOutput& out) {
    TSession session(options, out);
    session.TellEveryStop = true;
    TSwObject& link = session.Link();
    const TOutputForm form = FormOf(options);
    WireChangeLines(link, [&out, form](const std::string& line) { PrintChange(line, form, out); });
    link.OnCounters.Listen([&](TSwObject*) { PrintReport(link, form, out); });
    link.OnLinkStat.Listen([&out, form](TSwObject*, std::uint32_t, int kind) {
        if (kind == LINK_READ_WARNING)
            PrintChange("!!! connection read malfunction", form, out);
    });
    return session.Run();
}

// The time check may take, kept by a thread of its own, since the window thread may be
// waiting out an exchange time-out in a Disconnect. Once the deadline passes, the program
// ends at once with the status settled by then, or CRITICAL "timeout" when none was.
class TCheckDeadline {
public:
    TCheckDeadline(const TCliOptions& options, TLineOutput& out)
        : fThread([this, &options, &out] { Keep(options, out); }) {}

    ~TCheckDeadline() {
        {
            std::lock_guard<std::mutex> hold(fLock);
            fEnded = true;
        }
        fChanged.notify_all();
        fThread.join();
    }

    // Queues the plugin's line, which then stands whatever happens after.
    int Settle(TLineOutput& out, const std::string& line, TCheckStatus status) {
        std::lock_guard<std::mutex> hold(fLock);
        if (!fStatus) {
            out.Put(line);
            fStatus = static_cast<int>(status);
        }
        return *fStatus;
    }

private:
    void Keep(const TCliOptions& options, TLineOutput& out) {
        std::unique_lock<std::mutex> hold(fLock);
        if (fChanged.wait_for(hold, std::chrono::seconds(options.TimeoutSeconds),
                              [this] { return fEnded; }))
            return;
        if (!fStatus) {
            const std::string late =
                "timeout after " + std::to_string(options.TimeoutSeconds) + " s";
            out.Put(PluginLine(Unreachable(late), ""));
            fStatus = static_cast<int>(TCheckStatus::Critical);
        }
        out.Flush(std::chrono::milliseconds(DRAIN_MS));
        std::_Exit(*fStatus);
    }

    std::mutex fLock;
    std::condition_variable fChanged;
    std::optional<int> fStatus;
    bool fEnded = false;
    std::thread fThread;
};

// Reads the device, then waits for the link's first measure of its cycle rate, as long as
// the time allows. The verdict is printed before the link is closed.
int RunCheck(TCliOptions options, TLineOutput& out) {
    TCheckDeadline deadline(options, out);
    const std::string unresolved = ResolveAddress(options);
    if (!unresolved.empty())
        return deadline.Settle(out,
                               PluginLine({TCheckStatus::Unknown, "UNKNOWN - " + unresolved}, ""),
                               TCheckStatus::Unknown);
    TSession session(options, out);
    TSwObject& link = session.Link();
    std::optional<TCheckResult> result;
    std::optional<std::uint32_t> rate;
    std::string failure = "no reply";
    const auto conclude = [&] {
        deadline.Settle(
            out, PluginLine(*result, CheckPerformanceData(link.Status(), options.Limits, rate)),
            result->Status);
        session.Finish(0);
    };
    QTimer::singleShot(std::max(0, options.TimeoutSeconds * 1000 - CHECK_MARGIN_MS), [&] {
        if (result)
            conclude();
    });
    link.OnStop.Listen([&failure](TSwObject* sender, int code) {
        if (StopIsFailure(code))
            failure = StopReason(code, sender->LastError());
    });
    link.OnCounters.Listen(
        [&](TSwObject*) { result = EvaluateDevice(link.Status(), options.Limits); });
    link.OnLinkStat.Listen([&](TSwObject*, std::uint32_t value, int kind) {
        if (kind != LINK_RATE)
            return;
        rate = value;
        if (result)
            conclude();
    });
    session.Run();
    if (result)
        return deadline.Settle(out, "", result->Status);
    return deadline.Settle(out, PluginLine(Unreachable(failure), ""), TCheckStatus::Critical);
}

// Sends the changed settings after the first pass, then waits until the device reports
// them back, or gives up after a while.
int RunSettings(const TCliOptions& options, TLineOutput& out) {
    TSession session(options, out);
    TSwObject& link = session.Link();
    WireChangeLines(link, [&out](const std::string& line) { out.Put(Stamped(line)); });
    TSettingsBlock sent{};
    QTimer confirm;
    QObject::connect(&confirm, &QTimer::timeout, [&] {
        if (BuildSettingsBlock(SettingsFromStatus(link.Status())) == sent)
            session.Finish(0);
    });
    link.OnCounters.Listen([&](TSwObject*) {
        TSettingsValues values = SettingsFromStatus(link.Status());
        ApplySettingArgs(options.Settings, values);
        sent = BuildSettingsBlock(values);
        link.WriteSettings(sent);
        out.Put(Stamped("Settings change"));
        confirm.start(20);
        QTimer::singleShot(SETTINGS_CONFIRM_MS, [&] {
            Complain("The device did not report the settings sent");
            session.Finish(EXIT_STOPPED);
        });
    });
    return session.Run();
}

int Run(TCliOptions options, TLineOutput& out) {
    if (options.Command == "check")
        return RunCheck(options, out);
    const std::string unresolved = ResolveAddress(options);
    if (!unresolved.empty()) {
        Complain(unresolved);
        return EXIT_NO_HOST;
    }
    if (options.Command == "report")
        return RunReport(options, out);
    if (options.Command == "watch")
        return RunWatch(options, out);
    if (options.Command == "settings")
        return RunSettings(options, out);
    return RunEvents(options, out);
}

std::string DropNote(std::uint64_t dropped, TOutputForm form) {
    const std::string text = std::to_string(dropped) + " lines dropped: output was not read";
    if (form == TOutputForm::Text)
        return Stamped("!!! " + text);
    return JsonLine({{"event", "Dropped"}, {"value", static_cast<qint64>(dropped)}},
                    QDateTime::currentDateTime());
}

// The exit status once the output has had its time to drain: a loss of output is no
// success, unless its reader went away once it had what it wanted. check keeps its
// monitoring status.
int Conclude(const TCliOptions& options, int code, TLineOutput& out) {
    const bool written = out.Flush(std::chrono::milliseconds(DRAIN_MS));
    if ((written && out.Dropped() == 0) || out.ReaderGone())
        return code;
    const std::string failure = out.Failure();
    Complain(std::to_string(out.Dropped()) + " lines dropped and " + std::to_string(out.Pending()) +
             " bytes not written: " + (failure.empty() ? "standard output was not read" : failure));
    return code == 0 && options.Command != "check" ? EXIT_OUTPUT_LOST : code;
}

// A usage error of check is its one UNKNOWN line; the others go to standard error.
int UsageError(const TCliOptions& options, const std::string& error) {
    const std::string text = error + "; see --help";
    if (options.Command != "check") {
        Complain(text);
        return EXIT_USAGE;
    }
    std::printf("%s\n", PluginLine({TCheckStatus::Unknown, "UNKNOWN - " + text}, "").c_str());
    return static_cast<int>(TCheckStatus::Unknown);
}

} // namespace

int main(int argc, char* argv[]) {
    // A reader that went away shows as a failed write, never as a signal that ends the
    // program: the help as well as the data ends quietly when "| head -1" has its line.
    std::signal(SIGPIPE, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    TCliOptions options;
    const std::string error = ParseCliArguments(args, options);
    if (options.Help) {
        const TCheckLimits defaults;
        std::printf(USAGE, SettingArgsHelp().c_str(), defaults.Warning.Text.c_str(),
                    defaults.Critical.Text.c_str(), OVERHEAT_LIMIT);
        return 0;
    }
    if (options.Version) {
        std::printf("control7710-cli %s\n", CONTROL7710_VERSION);
        return 0;
    }
    if (!error.empty())
        return UsageError(options, error);
    BlockSignals(EndSignals());
    QCoreApplication application(argc, argv);
    const TOutputForm form = FormOf(options);
    // Output that cannot be written ends the session as SIGTERM does.
    TLineOutput out(
        STDOUT_FILENO, [form](std::uint64_t dropped) { return DropNote(dropped, form); },
        TLineOutput::DEFAULT_LIMIT, [] { kill(getpid(), SIGTERM); });
    return Conclude(options, Run(options, out), out);
}
