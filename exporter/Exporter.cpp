#include "Exporter.h"

#include "DeviceMetrics.h"
#include "EventLoop.h"
#include "Fleet.h"
#include "Relay.h"
#include "SignalWatch.h"
#include "TargetsReader.h"
#include "WebServer.h"

#include <QCoreApplication>
#include <QTimer>
#include <csignal>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace {

sigset_t ExporterSignals() {
    return SignalSet({SIGHUP, SIGINT, SIGTERM});
}

} // namespace

void BlockExporterSignals() {
    BlockSignals(ExporterSignals());
}

class TExporter::TState {
public:
    TState(TExporterOptions options, std::FILE* out, std::FILE* err)
        : fOptions(std::move(options)), fOut(out), fErr(err),
          fRegistry(std::make_shared<prometheus::Registry>()), fFamilies(*fRegistry),
          fRelayFamilies(*fRegistry) {}

    // Signals are taken from the first moment; the targets file is read on a thread of
    // its own, and the exporter starts when it has been read.
    int Run() {
        const TSignalWatch signalWatch(ExporterSignals(),
                                       [this](int signal) { TakeSignal(signal); });
        TTargetsReader reader([this](const TTargetsRead& read) { TargetsRead(read); });
        fReader = &reader;
        if (fOptions.TargetsFile.empty())
            QTimer::singleShot(0, [this] { TargetsRead({TTargetList{}, ""}); });
        else
            reader.Read(fOptions.TargetsFile);
        const int status = QCoreApplication::exec();
        fFleet.reset();
        return status;
    }

private:
    void TargetsRead(const TTargetsRead& read) {
        if (fStopping)
            return;
        if (fFleet)
            Reload(read);
        else
            Start(read);
    }

    // Listens and watches the devices; a targets file that could not be read, or an
    // address that cannot be listened on, ends the start with one line and status 2.
    void Start(const TTargetsRead& read) {
        std::vector<TTarget> targets;
        if (!TakeTargets(read, targets))
            return StartFailed(read.Error);
        try {
            fServer =
                std::make_unique<TWebServer>(fOptions.ListenAddress, fRegistry, Sources(),
                                             QCoreApplication::applicationVersion().toStdString());
            fLoop = std::make_unique<TEventLoop>();
            fRelay = std::make_unique<TRelay>(*fLoop, fOptions.Relay, fRelayFamilies,
                                              [this](TLogEvent event) { Log(event); });
        } catch (const std::runtime_error& error) {
            return StartFailed(error.what());
        }
        fFleet = std::make_unique<TFleet>(
            *fLoop, fFamilies, [this](TLogEvent event) { Log(event); }, fOptions.Interval,
            fRelay.get());
        fFleet->Apply(targets);
        Note(TLogLevel::Info, "start", "Listening",
             {{"address", ListenText(*fServer)}, {"devices", fFleet->Size()}});
    }

    // Every family /metrics shows: the devices' own, then the relays'.
    std::vector<TFamilySource> Sources() const {
        std::vector<TFamilySource> sources = fFamilies.Sources();
        const std::vector<TFamilySource> relay = fRelayFamilies.Sources();
        sources.insert(sources.end(), relay.begin(), relay.end());
        return sources;
    }

    void StartFailed(const std::string& error) {
        std::fprintf(fErr, "control7710-exporter: %s\n", error.c_str());
        QCoreApplication::exit(EXIT_BAD_START);
    }

    // The command line's targets and the file's, each device once with the relay port the
    // options give it, and the file's bad and converted lines logged; false when the file
    // could not be read.
    bool TakeTargets(const TTargetsRead& read, std::vector<TTarget>& targets) {
        if (!read.List)
            return false;
        const std::string& file = fOptions.TargetsFile;
        for (const TTargetError& bad : read.List->Errors) {
            Note(TLogLevel::Warn, "targets", "Line skipped",
                 {{"file", bad.File}, {"line", bad.Line}, {"error", bad.Reason}});
        }
        for (const int line : read.List->Latin1Lines)
            Note(TLogLevel::Warn, "targets", "Line read as Latin-1",
                 {{"file", file}, {"line", line}});
        targets = fOptions.Targets;
        targets.insert(targets.end(), read.List->Targets.begin(), read.List->Targets.end());
        targets = UniqueTargets(targets);
        AssignRelayPorts(targets, fOptions.Relay);
        return true;
    }

    void TakeSignal(int signal) {
        if (fStopping)
            return;
        if (signal != SIGHUP)
            Shutdown(signal);
        else if (fFleet && fOptions.TargetsFile.empty())
            Reload({TTargetList{}, ""});
        else if (fFleet)
            fReader->Read(fOptions.TargetsFile);
    }

    void Reload(const TTargetsRead& read) {
        std::vector<TTarget> targets;
        if (!TakeTargets(read, targets)) {
            Note(TLogLevel::Error, "reload", "Targets not read, kept", {{"error", read.Error}});
            return;
        }
        const TFleetChange change = fFleet->Apply(targets);
        Note(TLogLevel::Info, "reload", "Targets reloaded",
             {{"kept", change.Kept}, {"added", change.Added}, {"removed", change.Removed}});
    }

    void Shutdown(int signal) {
        Note(TLogLevel::Info, "shutdown",
             "Stopping on " + std::string(signal == SIGINT ? "SIGINT" : "SIGTERM"),
             {{"devices", fFleet ? fFleet->Size() : 0}});
        fStopping = true;
        // The server and the links end side by side.
        std::jthread serverStop([this] { fServer.reset(); });
        if (fFleet)
            fFleet->Shutdown();
        QCoreApplication::exit(0);
    }

    std::string ListenText(const TWebServer& server) const {
        const std::string& address = fOptions.ListenAddress;
        return address.substr(0, address.rfind(':') + 1) + std::to_string(server.Port());
    }

    // A line about the exporter itself.
    void Note(TLogLevel level, const std::string& event, const std::string& message,
              TLogFields fields) {
        Log({QDateTime::currentDateTime(), level, "", event, message, std::move(fields)});
    }

    // Any thread: the relay logs from the loop's.
    void Log(const TLogEvent& event) {
        if (event.Level < fOptions.LogLevel)
            return;
        const std::string line = FormatLogLine(event, fOptions.LogFormat) + "\n";
        const std::lock_guard lock(fLogLock);
        std::fwrite(line.data(), 1, line.size(), fOut);
        std::fflush(fOut);
    }

    TExporterOptions fOptions;
    std::FILE* fOut;
    std::FILE* fErr;
    std::shared_ptr<prometheus::Registry> fRegistry;
    TMetricFamilies fFamilies;
    TRelayFamilies fRelayFamilies;
    std::mutex fLogLock;
    TTargetsReader* fReader = nullptr;
    std::unique_ptr<TWebServer> fServer;
    // One thread for every link and the relay; it ends after both have let go of it.
    std::unique_ptr<TEventLoop> fLoop;
    // Before the fleet: the devices stop being relayed before the relay goes.
    std::unique_ptr<TRelay> fRelay;
    std::unique_ptr<TFleet> fFleet;
    bool fStopping = false;
};

TExporter::TExporter(TExporterOptions options, std::FILE* out, std::FILE* err)
    : fState(std::make_unique<TState>(std::move(options), out, err)) {}

TExporter::~TExporter() = default;

int TExporter::Run() {
    return fState->Run();
}
