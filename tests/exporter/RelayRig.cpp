#include "RelayRig.h"

#include "QtWait.h"
#include "SimClient.h"

#include <algorithm>
#include <fstream>
#include <thread>

namespace {

std::unique_ptr<TSimDevice> StartedDevice() {
    TSimOptions options;
    options.Port = 0;
    options.Record = false;
    auto device = std::make_unique<TSimDevice>(options);
    device->Start();
    return device;
}

// The port of "Relay listening address=HOST:PORT".
int ListeningPort(const std::string& line) {
    const std::size_t at = line.find("address=");
    const std::size_t colon = at == std::string::npos ? at : line.find(':', at);
    return colon == std::string::npos ? 0 : std::stoi(line.substr(colon + 1));
}

// Where the exporter is told its device and relay: on its command line with a base port
// of 0, or in a targets file that names the relay's address.
std::vector<std::string> DeviceArgs(const std::string& key, const std::string& relayAddress) {
    if (relayAddress.empty())
        return {"--relay.base-port", "0", key};
    const std::string file = "relay-targets";
    std::ofstream(file) << key << " relay=" << relayAddress << ":10001\n";
    return {"--targets", file};
}

} // namespace

TRelayRig::TRelayRig(const std::vector<std::string>& exporterArgs, const std::string& relayAddress)
    : fDevice(StartedDevice()) {
    std::vector<std::string> args{"--web.listen-address", "127.0.0.1:0"};
    for (const std::vector<std::string>& more : {DeviceArgs(Key(), relayAddress), exporterArgs})
        args.insert(args.end(), more.begin(), more.end());
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

int AlternateWrites(int port, int count, const std::string& address) {
    TSimClient client(port, address);
    int acknowledged = 0;
    for (int i = 0; i < count; ++i) {
        if (client.Ask(i % 2 == 0 ? SELECT_A : AUTO, 3000) == STATE_ACK)
            ++acknowledged;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return acknowledged;
}

std::string LogField(const std::string& line, const std::string& name) {
    const std::size_t at = line.find(" " + name + "=");
    if (at == std::string::npos)
        return "";
    const std::size_t from = at + name.size() + 2;
    return line.substr(from, line.find(' ', from) - from);
}
