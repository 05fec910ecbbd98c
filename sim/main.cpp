// control7710-sim: the simulated changeover switch, or a fleet of them, as a program of
// its own.

#include "SignalFile.h"
#include "SimCommandLine.h"
#include "SimPlayer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

std::mutex printLock;
const auto startTime = std::chrono::steady_clock::now();

void Print(std::ostream& out, const std::string& text) {
    const std::lock_guard lock(printLock);
    out << text << std::flush;
}

// A --verbose line, stamped with the seconds since the program started.
void PrintEvent(const std::string& line) {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - startTime);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "[%8.3f] ", static_cast<double>(elapsed.count()) / 1000);
    Print(std::cout, stamp + line + "\n");
}

void RunLines(TSimFleet& fleet, std::istream& in, const std::string& source) {
    PlayCommands(
        fleet, in, source, [](const std::string& text) { Print(std::cout, text); },
        [](const std::string& text) { Print(std::cerr, text); });
}

// Runs the script file, then standard input; ends the program afterwards when asked to.
void ReadCommands(TSimFleet& fleet, std::ifstream script, const std::string& scriptName,
                  bool exitOnEof) {
    if (script.is_open())
        RunLines(fleet, script, scriptName);
    RunLines(fleet, std::cin, "stdin");
    if (exitOnEof)
        kill(getpid(), SIGTERM);
}

void WaitForSignal(const sigset_t& signals) {
    int signal = 0;
    sigwait(&signals, &signal);
}

// Each device takes two descriptors, its listener and its station's connection: a large
// fleet needs more than the usual soft limit, so the program takes all the hard one allows.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

std::string ListeningText(const TSimCommandLine& command, const std::string& where) {
    return command.Options.Scene.Faults.Refuse ? "not listening (refuse fault), port " + where
                                               : "listening on " + where;
}

// One line for a fleet on one port, else one line per device.
std::string StartText(const TSimCommandLine& command, TSimFleet& fleet) {
    const int count = fleet.Count();
    const int port = fleet.Device(1).Port();
    bool samePort = true;
    for (int number = 2; number <= count; ++number)
        samePort = samePort && fleet.Device(number).Port() == port;
    if (count == 1 || !samePort) {
        std::string text;
        for (int number = 1; number <= count; ++number) {
            const std::string where =
                fleet.Address(number) + ":" + std::to_string(fleet.Device(number).Port());
            text += "control7710-sim: " +
                    std::string(count > 1 ? "@" + std::to_string(number) + " " : "") +
                    ListeningText(command, where) + "\n";
        }
        return text;
    }
    return "control7710-sim: " + std::to_string(count) + " devices, " +
           ListeningText(command, fleet.Address(1) + " to " + fleet.Address(count) + ", port " +
                                      std::to_string(port)) +
           "\n";
}

} // namespace

int main(int argc, char** argv) {
    TSimCommandLine command;
    const std::string error = ParseCommandLine({argv + 1, argv + argc}, command);
    if (!error.empty()) {
        std::cerr << "control7710-sim: " << error << " (--help lists the options)\n";
        return 2;
    }
    if (command.Help) {
        std::cout << CommandLineHelp();
        return 0;
    }
    if (command.Version) {
        std::cout << "control7710-sim " << CONTROL7710_VERSION << "\n";
        return 0;
    }
    std::ifstream script;
    if (!command.ScriptFile.empty()) {
        script.open(command.ScriptFile);
        if (!script) {
            std::cerr << "control7710-sim: cannot read " << command.ScriptFile << "\n";
            return 1;
        }
    }
    // SIGINT and SIGTERM are taken by WaitForSignal only; every thread started later keeps
    // them blocked.
    const sigset_t signals = SignalSet({SIGINT, SIGTERM});
    BlockSignals(signals);
    if (command.Verbose)
        command.Options.OnEvent = PrintEvent;
    // Nothing here reads back the payloads received; kept, they would pile up for as long
    // as the program runs.
    command.Options.Record = false;
    RaiseDescriptorLimit();
    TSimFleet fleet(command.Options, command.Count);
    const std::string failure = fleet.Start();
    if (!failure.empty()) {
        std::cerr << "control7710-sim: " << failure << "\n";
        return 1;
    }
    Print(std::cout, StartText(command, fleet));
    std::thread(ReadCommands, std::ref(fleet), std::move(script), command.ScriptFile,
                command.ExitOnEof)
        .detach();
    WaitForSignal(signals);
    fleet.Stop();
    Print(std::cout, "control7710-sim: stopped\n");
    return 0;
}
