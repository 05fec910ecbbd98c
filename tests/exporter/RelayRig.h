#pragma once

// A simulated device, the exporter program watching it and the device's relay on
// loopback: what relay tests and measurements start from.

#include "ExporterProcess.h"
#include "SimDevice.h"

#include <memory>
#include <string>
#include <vector>

// Requests as the station's link forms them, and the device's acknowledgement of a
// state write.
inline const std::string READ_STATE = "01 00 80 06 00";
inline const std::string SELECT_A = "01 00 80 05 03 01 01 01";
inline const std::string SELECT_B = "01 00 80 05 03 01 01 02";
inline const std::string AUTO = "01 00 80 05 01 02";
inline const TSimBytes STATE_ACK = {0x01, 0x00, 0x10, 0x70, 0x01, 0x05};

class TRelayRig {
public:
    // Starts the device and the exporter with these further options; Ready() tells
    // whether the relay listens. The relay listens on a port the system picks or, with
    // relayAddress, on that address's port 10001, as a targets file line gives it.
    explicit TRelayRig(const std::vector<std::string>& exporterArgs = {},
                       const std::string& relayAddress = "");

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

// Sends count writes to the relay at address:port, select A and auto by turns, each after
// the last one's answer; the number acknowledged.
int AlternateWrites(int port, int count, const std::string& address = "127.0.0.1");

// The value of a field "name=value" in a log line.
std::string LogField(const std::string& line, const std::string& name);
