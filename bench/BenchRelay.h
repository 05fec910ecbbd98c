#pragma once

// The exporter's relay: a station-style link's poll rate through the relay beside the same
// link straight to the simulated device, the time a change in the device takes to reach a
// client through the relay, and the exporter's CPU with 250 devices and a client on each
// device's relay. The exporter and the fleet simulator are the programs beside this one.

class TBenchReport;

// Needs a QCoreApplication on the calling thread. Throws TBenchError when something keeps
// it from measuring.
void BenchRelay(TBenchReport& report);
