#include "SimCommandLine.h"

#include "SimScript.h"

#include <charconv>

namespace {

bool ParsePort(const std::string& text, int& port) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0 || value > 65535)
        return false;
    port = value;
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
        return ParsePort(value, command.Options.Port) ? "" : "--port: not a port number: " + value;
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
        else if (flag == "--exit-on-eof")
            command.ExitOnEof = true;
        else if (flag == "--bind" || flag == "--port" || flag == "--script" || flag == "--fault")
            error = ParseValueFlag(args, i, command);
        else
            error = "unknown option " + flag;
        if (!error.empty())
            return error;
    }
    return {};
}

std::string CommandLineHelp() {
    return "Usage: control7710-sim [OPTION]...\n"
           "A simulated 7710/12 changeover switch for the station: listens on a TCP port,\n"
           "serves one station at a time and plays the commands read from --script and\n"
           "then from standard input, one per line.\n\n"
           "Options:\n"
           "  --bind ADDRESS     IPv4 address to listen on (default 127.0.0.1)\n"
           "  --port N           port to listen on (default 10001; 0 picks a free one)\n"
           "  --script FILE      runs the commands in FILE before those on standard input\n"
           "  --fault NAME[=V]   starts with a fault on, as \"fault NAME [V]\" (repeatable),\n"
           "                     e.g. --fault silent, --fault delay=20\n"
           "  --verbose          prints connections, every payload received and every answer\n"
           "  --exit-on-eof      ends when standard input closes (otherwise only on\n"
           "                     SIGINT or SIGTERM)\n"
           "  --help, -h         prints this text\n\n"
           "The port listened on is printed at start. Commands:\n" +
           ScriptHelp();
}
