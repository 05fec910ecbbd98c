#pragma once

// Parts of the benchmark that run in a process of their own: this program run again with
// an option of its own, so that nothing else the benchmark did counts towards their memory.
// Such a process prints its measures as "name value" lines, and shows the station's window
// offscreen, connected to a simulator on a loopback address of its own.

#include <QStringList>
#include <map>
#include <string>

class TFormMain;

using TMeasures = std::map<std::string, double>;

// Runs this program with the arguments, offscreen, and reads back what it printed.
// Throws TBenchError when it cannot start, fails or overruns timeoutMs.
TMeasures RunSelf(const QStringList& arguments, int timeoutMs);

// One measure of the set; throws TBenchError when the process did not print it.
double Measure(const TMeasures& measures, const std::string& name);

// Prints one measure as RunSelf reads it.
void PrintMeasure(const char* name, double value);

// The window always connects to the device port, so a simulator in this process gets an
// address of its own in 127.0.0.0/8 from the process id.
std::string OwnLoopbackAddress();

// Types the address into the window's address box and clicks Connect; true once the
// button reads "Disconnect", false with a note on stderr when it does not within 3 s.
bool ConnectWindow(TFormMain& form, const std::string& address);
