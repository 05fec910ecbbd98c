#include "RelayRig.h"

#include "QtWait.h"

#include <algorithm>

namespace {

std::unique_ptr<TSimDevice> StartedDevice() {
    TSimOptions options;
    options.Port = 0;
    options.Record = false;
    auto device = std::make_unique<TSimDevice>(options);
    device->Start();
    return device;
}

// The port of "Relay listening address=127.0.0.1:PORT".
int ListeningPort(const std::string& line) {
    const std::string mark = "address=127.0.0.1:";
    const std::size_t at = line.find(mark);
    return at == std::string::npos ? 0 : std::stoi(line.substr(at + mark.size()));
}

} // namespace

TRelayRig::TRelayRig(const std::vector<std::string>& exporterArgs) : fDevice(StartedDevice()) {
    std::vector<std::string> args{"--web.listen-address", "127.0.0.1:0", "--relay.base-port", "0",
                                  Key()};
    args.insert(args.end(), exporterArgs.begin(), exporterArgs.end());
    fExporter = std::make_unique<TExporterProcess>(args);
    if (fExporter->WaitListening() == 0)
        return;
    const std::size_t line = fExporter->WaitLog("Relay listening");
    if (line != 0)
        fRelayPort = ListeningPort(fExporter->Lines()[line - 1]);
}

std::string TRelayRig::Key() const {
    return "127.0.0.1:" + std::to_string(fDevice->Port());
}

std::vector<std::string> TRelayRig::LogLines(const std::vector<std::string>& texts,
                                             std::size_t count) {
    std::vector<std::string> found;
    PumpUntil(
        [&] {
            found.clear();
            for (const std::string& line : fExporter->Lines()) {
                if (std::all_of(texts.begin(), texts.end(), [&line](const std::string& text) {
                        return line.find(text) != std::string::npos;
                    }))
                    found.push_back(line);
            }
            return found.size() >= count;
        },
        std::chrono::seconds(5));
    return found;
}
