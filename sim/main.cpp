// control7710-sim: the simulated changeover switch as a program of its own.

#include "SimCommandLine.h"
#include "SimPlayer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <mutex>
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

void RunLines(TSimDevice& device, std::istream& in, const std::string& source) {
    PlayCommands(
        device, in, source, [](const std::string& text) { Print(std::cout, text); },
        [](const std::string& text) { Print(std::cerr, text); });
}

// Runs the script file, then standard input; ends the program afterwards when asked to.
void ReadCommands(TSimDevice& device, std::ifstream script, const std::string& scriptName,
                  bool exitOnEof) {
    if (script.is_open())
        RunLines(device, script, scriptName);
    RunLines(device, std::cin, "stdin");
    if (exitOnEof)
        kill(getpid(), SIGTERM);
}

// SIGINT and SIGTERM are taken by WaitForSignal only; every thread started later keeps
// them blocked.
sigset_t BlockEndSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

void WaitForSignal(const sigset_t& signals) {
    int signal = 0;
    sigwait(&signals, &signal);
}

std::string ListeningText(const TSimCommandLine& command, int port) {
    const std::string where = command.Options.Address + ":" + std::to_string(port);
    return command.Options.Scene.Faults.Refuse ? "not listening (refuse fault), port " + where
                                               : "listening on " + where;
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
    std::ifstream script;
    if (!command.ScriptFile.empty()) {
        script.open(command.ScriptFile);
        if (!script) {
            std::cerr << "control7710-sim: cannot read " << command.ScriptFile << "\n";
            return 1;
        }
    }
    const sigset_t signals = BlockEndSignals();
    if (command.Verbose)
        command.Options.OnEvent = PrintEvent;
    TSimDevice device(command.Options);
    if (!device.Start()) {
        std::cerr << "control7710-sim: cannot listen on " << command.Options.Address << ":"
                  << command.Options.Port << "\n";
        return 1;
    }
    Print(std::cout, "control7710-sim: " + ListeningText(command, device.Port()) + "\n");
    std::thread(ReadCommands, std::ref(device), std::move(script), command.ScriptFile,
                command.ExitOnEof)
        .detach();
    WaitForSignal(signals);
    device.Stop();
    Print(std::cout, "control7710-sim: stopped\n");
    return 0;
}
