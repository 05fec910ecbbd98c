#include "Exporter.h"

#include "DeviceMetrics.h"
#include "Fleet.h"
#include "SignalWatch.h"
#include "WebServer.h"

#include <QCoreApplication>
#include <csignal>
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
          fRegistry(std::make_shared<prometheus::Registry>()), fFamilies(*fRegistry) {}

    int Run() {
        std::vector<TTarget> targets;
        if (!ReadTargets(targets, true))
            return EXIT_BAD_START;
        try {
            fServer =
                std::make_unique<TWebServer>(fOptions.ListenAddress, fRegistry, fFamilies.Sources(),
                                             QCoreApplication::applicationVersion().toStdString());
        } catch (const std::runtime_error& error) {
            std::fprintf(fErr, "control7710-exporter: %s\n", error.what());
            return EXIT_BAD_START;
        }
        const TSignalWatch signalWatch(ExporterSignals(),
                                       [this](int signal) { TakeSignal(signal); });
        fFleet = std::make_unique<TFleet>(
            fFamilies, [this](TLogEvent event) { Log(event); }, fOptions.Interval);
        Note("start", "Listening",
             {{"address", ListenText(*fServer)}, {"devices", std::to_string(targets.size())}});
        fFleet->Apply(targets);
        const int status = QCoreApplication::exec();
        fFleet.reset();
        return status;
    }

private:
    // The command line's targets and the file's; false when the file cannot be read.
    bool ReadTargets(std::vector<TTarget>& targets, bool starting) {
        targets = fOptions.Targets;
        if (fOptions.TargetsFile.empty())
            return true;
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

    void TakeSignal(int signal) {
        if (fStopping)
            return;
        if (signal == SIGHUP)
            Reload();
        else
            Shutdown(signal);
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

    void Log(const TLogEvent& event) {
        const std::string line = FormatLogLine(event, fOptions.LogFormat) + "\n";
        std::fwrite(line.data(), 1, line.size(), fOut);
        std::fflush(fOut);
    }

    TExporterOptions fOptions;
    std::FILE* fOut;
    std::FILE* fErr;
    std::shared_ptr<prometheus::Registry> fRegistry;
    TMetricFamilies fFamilies;
    std::unique_ptr<TWebServer> fServer;
    std::unique_ptr<TFleet> fFleet;
    bool fStopping = false;
};

TExporter::TExporter(TExporterOptions options, std::FILE* out, std::FILE* err)
    : fState(std::make_unique<TState>(std::move(options), out, err)) {}

TExporter::~TExporter() = default;

int TExporter::Run() {
    return fState->Run();
}
