#include "SimCommandLine.h"

#include "SimScript.h"

#include <charconv>

namespace {

// The most devices one process serves, all from one thread: two thousand polled ten times
// a second each keep it well within one core.
constexpr int MAX_COUNT = 2000;

bool ParseNumber(const std::string& text, int min, int max, int& number) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < min || value > max)
        return false;
    number = value;
    return true;
}

// "--fault NAME" or "--fault NAME=VALUE" as the words of a fault command.
std::string ParseFaultFlag(const std::string& text, TSimFaults& faults) {
    const std::size_t equals = text.find('=');
    std::vector<std::string> words{text.substr(0, equals)};
    if (equals != std::string::npos)
        words.push_back(text.substr(equals + 1));
    return ApplyFault(faults, words);
}

// Reads a flag that takes a value; i moves past the value.
std::string ParseValueFlag(const std::vector<std::string>& args, std::size_t& i,
                           TSimCommandLine& command) {
    const std::string& flag = args[i];
    if (i + 1 >= args.size())
        return flag + " needs a value";
    const std::string& value = args[++i];
    if (flag == "--bind")
        command.Options.Address = value;
    else if (flag == "--port")
        return ParseNumber(value, 0, 65535, command.Options.Port)
                   ? ""
                   : "--port: not a port number: " + value;
    else if (flag == "--count")
        return ParseNumber(value, 1, MAX_COUNT, command.Count)
                   ? ""
                   : "--count: not a number from 1 to " + std::to_string(MAX_COUNT) + ": " + value;
    else if (flag == "--script")
        command.ScriptFile = value;
    else
        return ParseFaultFlag(value, command.Options.Scene.Faults);
    return {};
}

} // namespace

std::string ParseCommandLine(const std::vector<std::string>& args, TSimCommandLine& command) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& flag = args[i];
        std::string error;
        if (flag == "--help" || flag == "-h")
            command.Help = true;
        else if (flag == "--verbose")
            command.Verbose = true;
        else if (flag == "--version")
            command.Version = true;
        else if (flag == "--exit-on-eof")
            command.ExitOnEof = true;
        else if (flag == "--bind" || flag == "--port" || flag == "--count" || flag == "--script" ||
                 flag == "--fault")
            error = ParseValueFlag(args, i, command);
        else
            error = "unknown option " + flag;
        if (!error.empty())
            return error;
    }
    std::vector<std::string> addresses;
    return command.Count > 1 ? FleetAddresses(command.Options.Address, command.Count, addresses)
                             : std::string();
}

std::string CommandLineHelp() {
    return "Usage: control7710-sim [OPTION]...\n"
           "A simulated 7710/12 changeover switch for the station: listens on a TCP port,\n"
           "serves one station at a time and plays the commands read from --script and\n"
           "then from standard input, one per line. With --count N it serves N independent\n"
           "devices in one process, each on its own loopback address: --count 250 --bind\n"
           "127.0.1.1 listens on 127.0.1.1 to 127.0.1.250, each on port 10001.\n\n"
           "Options:\n"
           "  --bind ADDRESS     IPv4 address to listen on, the first of a fleet\n"
           "                     (default 127.0.0.1)\n"
           "  --count N          serves N devices (1 to 2000, default 1) on N consecutive\n"
           "                     addresses from --bind, all in 127.0.0.0/8\n"
           "  --port N           port every device listens on (default 10001; 0 picks a free\n"
           "                     one for each)\n"
           "  --script FILE      runs the commands in FILE before those on standard input\n"
           "  --fault NAME[=V]   starts with a fault on, as \"fault NAME [V]\" (repeatable),\n"
           "                     e.g. --fault silent, --fault delay=20\n"
           "  --verbose          prints connections, every payload received and every answer\n"
           "  --exit-on-eof      ends when standard input closes (otherwise only on\n"
           "                     SIGINT or SIGTERM)\n"
           "  --help, -h         prints this text\n"
           "  --version          prints the program's version\n\n"
           "The addresses and ports listened on are printed at start. A command runs on\n"
           "every device unless a prefix @N names one: \"@7 check A sync error\" changes\n"
           "device 7, the 7th address from --bind (@1 is the --bind address itself).\n"
           "Commands:\n" +
           ScriptHelp() + FleetHelp();
}
