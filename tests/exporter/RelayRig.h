#pragma once

// A simulated device, the exporter program watching it and the device's relay on a
// loopback port the system picked: what relay tests and measurements start from.

#include "ExporterProcess.h"
#include "SimDevice.h"

#include <memory>
#include <string>
#include <vector>

class TRelayRig {
public:
    // Starts the device and the exporter with these further options; Ready() tells
    // whether the relay listens.
    explicit TRelayRig(const std::vector<std::string>& exporterArgs = {});

    bool Ready() const { return fRelayPort != 0; }
    int RelayPort() const { return fRelayPort; }
    // The device's key in the exporter's log and metrics.
    std::string Key() const;
    TSimDevice& Device() { return *fDevice; }
    TExporterProcess& Exporter() { return *fExporter; }

    // Runs a simulator command, "" or its error.
    std::string Run(const std::string& command) { return fDevice->Execute(command); }
    // The log lines that contain every one of the texts, once there are at least count
    // of them or 5 s have passed.
    std::vector<std::string> LogLines(const std::vector<std::string>& texts, std::size_t count = 1);

private:
    std::unique_ptr<TSimDevice> fDevice;
    std::unique_ptr<TExporterProcess> fExporter;
    int fRelayPort = 0;
};
