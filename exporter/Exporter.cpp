#include "Exporter.h"

#include "DeviceMetrics.h"
#include "Fleet.h"
#include "Relay.h"
#include "WebServer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstring>
#include <mutex>
#include <stdexcept>
#include <sys/signalfd.h>
#include <thread>
#include <unistd.h>

namespace {

sigset_t ExporterSignals() {
    sigset_t signalSet;
    sigemptyset(&signalSet);
    sigaddset(&signalSet, SIGHUP);
    sigaddset(&signalSet, SIGINT);
    sigaddset(&signalSet, SIGTERM);
    return signalSet;
}

// The blocked signals, readable as a file descriptor the event loop watches.
class TSignalFile {
public:
    TSignalFile() {
        const sigset_t signalSet = ExporterSignals();
        fFile = signalfd(-1, &signalSet, SFD_NONBLOCK | SFD_CLOEXEC);
        if (fFile < 0)
            throw std::runtime_error(std::string("cannot watch signals: ") + std::strerror(errno));
    }
    ~TSignalFile() { close(fFile); }
    TSignalFile(const TSignalFile&) = delete;
    TSignalFile& operator=(const TSignalFile&) = delete;

    int Descriptor() const { return fFile; }
    // The next signal that arrived, or 0.
    int Take() const {
        signalfd_siginfo info{};
        if (read(fFile, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            return 0;
        return static_cast<int>(info.ssi_signo);
    }

private:
    int fFile = -1;
};

} // namespace

void BlockExporterSignals() {
    const sigset_t signalSet = ExporterSignals();
    pthread_sigmask(SIG_BLOCK, &signalSet, nullptr);
}

class TExporter::TState {
public:
    TState(TExporterOptions options, std::FILE* out, std::FILE* err)
        : fOptions(std::move(options)), fOut(out), fErr(err),
          fRegistry(std::make_shared<prometheus::Registry>()), fFamilies(*fRegistry),
          fRelayFamilies(*fRegistry) {}

    int Run() {
        std::vector<TTarget> targets;
        if (!ReadTargets(targets, true))
            return EXIT_BAD_START;
        try {
            fServer =
                std::make_unique<TWebServer>(fOptions.ListenAddress, fRegistry, Sources(),
                                             QCoreApplication::applicationVersion().toStdString());
            fRelay = std::make_unique<TRelay>(fOptions.Relay, fRelayFamilies,
                                              [this](TLogEvent event) { Log(event); });
        } catch (const std::runtime_error& error) {
            std::fprintf(fErr, "control7710-exporter: %s\n", error.what());
            return EXIT_BAD_START;
        }
        TSignalFile signalFile;
        QSocketNotifier notifier(signalFile.Descriptor(), QSocketNotifier::Read);
        QObject::connect(&notifier, &QSocketNotifier::activated,
                         [this, &signalFile] { TakeSignals(signalFile); });
        fFleet = std::make_unique<TFleet>(
            fFamilies, [this](TLogEvent event) { Log(event); }, fOptions.Interval, fRelay.get());
        Note("start", "Listening",
             {{"address", ListenText(*fServer)}, {"devices", std::to_string(targets.size())}});
        fFleet->Apply(targets);
        const int status = QCoreApplication::exec();
        fFleet.reset();
        return status;
    }

private:
    // Every family /metrics shows: the devices' own, then the relays'.
    std::vector<TFamilySource> Sources() const {
        std::vector<TFamilySource> sources = fFamilies.Sources();
        const std::vector<TFamilySource> relay = fRelayFamilies.Sources();
        sources.insert(sources.end(), relay.begin(), relay.end());
        return sources;
    }

    // The command line's targets and the file's, each device once, with the relay ports
    // the options give them; false when the file cannot be read.
    bool ReadTargets(std::vector<TTarget>& targets, bool starting) {
        targets = fOptions.Targets;
        if (!fOptions.TargetsFile.empty() && !AddFileTargets(targets, starting))
            return false;
        targets = UniqueTargets(targets);
        AssignRelayPorts(targets, fOptions.Relay);
        return true;
    }

    bool AddFileTargets(std::vector<TTarget>& targets, bool starting) {
        std::string error;
        const auto list = ReadTargetsFile(fOptions.TargetsFile, error);
        if (!list) {
            if (starting)
                std::fprintf(fErr, "control7710-exporter: %s\n", error.c_str());
            else
                Note("reload", "Targets not read, kept", {{"error", error}});
            return false;
        }
        for (const TTargetError& bad : list->Errors) {
            Note("targets", "Line skipped",
                 {{"file", bad.File}, {"line", std::to_string(bad.Line)}, {"error", bad.Reason}});
        }
        targets.insert(targets.end(), list->Targets.begin(), list->Targets.end());
        return true;
    }

    void TakeSignals(const TSignalFile& signalFile) {
        for (int signal = signalFile.Take(); signal != 0 && !fStopping;
             signal = signalFile.Take()) {
            if (signal == SIGHUP)
                Reload();
            else
                Shutdown(signal);
        }
    }

    void Reload() {
        std::vector<TTarget> targets;
        if (!ReadTargets(targets, false))
            return;
        const TFleetChange change = fFleet->Apply(targets);
        Note("reload", "Targets reloaded",
             {{"kept", std::to_string(change.Kept)},
              {"added", std::to_string(change.Added)},
              {"removed", std::to_string(change.Removed)}});
    }

    void Shutdown(int signal) {
        Note("shutdown", "Stopping on " + std::string(signal == SIGINT ? "SIGINT" : "SIGTERM"),
             {{"devices", std::to_string(fFleet->Size())}});
        fStopping = true;
        // The server and the links end side by side.
        std::jthread serverStop([this] { fServer.reset(); });
        fFleet->StopAll();
        QCoreApplication::exit(0);
    }

    std::string ListenText(const TWebServer& server) const {
        const std::string& address = fOptions.ListenAddress;
        return address.substr(0, address.rfind(':') + 1) + std::to_string(server.Port());
    }

    // A line about the exporter itself.
    void Note(const std::string& event, const std::string& message,
              std::vector<std::pair<std::string, std::string>> fields) {
        Log({QDateTime::currentDateTime(), "", event, message, std::move(fields)});
    }

    // Any thread: the relay logs from its own.
    void Log(const TLogEvent& event) {
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
    std::unique_ptr<TWebServer> fServer;
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
