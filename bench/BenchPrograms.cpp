#include "BenchPrograms.h"

#include "BenchReport.h"
#include "UnitFile.h"

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <random>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

[[noreturn]] void Exec(const std::vector<std::string>& args, const std::string& logFile,
                       int input) {
    const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    dup2(input >= 0 ? input : open("/dev/null", O_RDONLY), STDIN_FILENO);
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

} // namespace

// ---- Child processes -----------------------------------------------------------------

TChild::TChild(const std::vector<std::string>& args, const std::string& logFile, bool withInput) {
    int input[2] = {-1, -1};
    if (withInput && pipe2(input, O_CLOEXEC) != 0)
        throw TBenchError("cannot make a pipe");
    fPid = fork();
    if (fPid == 0)
        Exec(args, logFile, input[0]);
    if (input[0] >= 0)
        close(input[0]);
    fInput = input[1];
    if (fPid < 0)
        throw TBenchError("cannot start " + args[0]);
}

TChild::~TChild() {
    if (fInput >= 0)
        close(fInput);
    Stop();
}

std::chrono::duration<double, std::milli> TChild::Stop() {
    if (fStopped)
        return {};
    fStopped = true;
    const auto start = std::chrono::steady_clock::now();
    kill(fPid, SIGTERM);
    const auto ended = [this] { return waitpid(fPid, nullptr, WNOHANG) != 0; };
    while (!ended() && std::chrono::steady_clock::now() - start < 5s)
        std::this_thread::sleep_for(1ms);
    const auto took = std::chrono::steady_clock::now() - start;
    if (took >= 5s) {
        kill(fPid, SIGKILL);
        waitpid(fPid, nullptr, 0);
    }
    return took;
}

void TChild::Send(const std::string& line) const {
    const std::string text = line + "\n";
    if (write(fInput, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
        throw TBenchError("cannot send \"" + line + "\" to the simulator");
}

bool TChild::Running() const {
    return waitpid(fPid, nullptr, WNOHANG) == 0;
}

TWorkFolder::TWorkFolder() {
    char pattern[] = "/tmp/control7710-bench.XXXXXX";
    if (mkdtemp(pattern) == nullptr)
        throw TBenchError("cannot make a temporary folder");
    Path = pattern;
}

TWorkFolder::~TWorkFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
}

// ---- What the system tells --------------------------------------------------------------

double CpuSecondsOf(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    std::getline(in, text);
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index) {
        if (index >= 14)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// A number field of a /proc status file ("VmRSS:", "Threads:"); 0 when it is missing.
double StatusField(const std::string& path, const std::string& field) {
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(field))
            return std::stod(line.substr(field.size()));
    }
    return 0;
}

double RssMbOf(pid_t pid) {
    return StatusField("/proc/" + std::to_string(pid) + "/status", "VmRSS:") / 1024;
}

int ThreadsOf(pid_t pid) {
    return static_cast<int>(StatusField("/proc/" + std::to_string(pid) + "/status", "Threads:"));
}

double SwitchesOf(pid_t pid) {
    double switches = 0;
    std::error_code error;
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        const std::string status = task.path().string() + "/status";
        switches += StatusField(status, "voluntary_ctxt_switches:") +
                    StatusField(status, "nonvoluntary_ctxt_switches:");
    }
    return switches;
}

int FreePort() {
    const int handle = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(handle, reinterpret_cast<sockaddr*>(&address), sizeof address);
    getsockname(handle, reinterpret_cast<sockaddr*>(&address), &size);
    close(handle);
    return ntohs(address.sin_port);
}

std::string HttpGet(int port, const std::string& path) {
    const int handle = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    std::string response;
    if (connect(handle, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
        if (send(handle, request.data(), request.size(), MSG_NOSIGNAL) ==
            static_cast<ssize_t>(request.size())) {
            char chunk[65536];
            for (ssize_t got; (got = recv(handle, chunk, sizeof chunk, 0)) > 0;)
                response.append(chunk, static_cast<std::size_t>(got));
        }
    }
    close(handle);
    const std::size_t body = response.find("\r\n\r\n");
    return response.starts_with("HTTP/1.1 200") || response.starts_with("HTTP/1.0 200")
               ? response.substr(body + 4)
               : std::string();
}

std::string ReadText(const std::string& file) {
    std::ifstream in(file);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::size_t Count(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

bool WaitFor(const std::function<bool()>& done, Clock::duration timeout) {
    const auto end = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

// ---- Fleet ---------------------------------------------------------------------------

TFleet::TFleet(int devices, const std::string& work)
    : fDevices(devices), fSimLog(work + "/simulator.log"), fExporterLog(work + "/exporter.log") {
    std::mt19937 random(std::random_device{}());
    const std::uint32_t base = (127U << 24) +
                               (std::uniform_int_distribution(20U, 219U)(random) << 16) +
                               (std::uniform_int_distribution(1U, 250U)(random) << 8) + 1;
    // The simulator's devices listen on consecutive addresses from the one it was given.
    for (int number = 0; number < devices; ++number) {
        const in_addr address{htonl(base + static_cast<std::uint32_t>(number))};
        char text[INET_ADDRSTRLEN];
        fAddresses.emplace_back(inet_ntop(AF_INET, &address, text, sizeof text));
    }
    // A log left by the fleet before would announce this simulator before it listens.
    std::filesystem::remove(fSimLog);
    fSimulator = std::make_unique<TChild>(
        std::vector<std::string>{ProgramFolder() + "/control7710-sim", "--count",
                                 std::to_string(devices), "--bind", fAddresses.front()},
        fSimLog, true);
    if (!WaitFor([&] { return Count(ReadText(fSimLog), "listening on") > 0; }, 10s))
        throw TBenchError("the fleet simulator did not start; see " + fSimLog);
}

void TFleet::StartExporter(const std::vector<std::string>& exporterArgs) {
    const std::string& folder = ProgramFolder();
    fPort = FreePort();
    std::vector<std::string> args = {folder + "/control7710-exporter", "--web.listen-address",
                                     "127.0.0.1:" + std::to_string(fPort), "--interval",
                                     std::to_string(FLEET_INTERVAL_MS)};
    args.insert(args.end(), exporterArgs.begin(), exporterArgs.end());
    args.insert(args.end(), fAddresses.begin(), fAddresses.end());
    fExporter = std::make_unique<TChild>(args, fExporterLog, false);
}

void TFleet::WaitUntilAllUp() {
    const bool allUp = WaitFor([&] { return AllUp(HttpGet(fPort, "/metrics")); }, 60s);
    if (!allUp || !fExporter->Running())
        throw TBenchError("the exporter did not connect to all " + std::to_string(fDevices) +
                          " devices");
}

bool TFleet::AllUp(const std::string& metrics) const {
    return std::all_of(fAddresses.begin(), fAddresses.end(), [&](const std::string& address) {
        return metrics.find("control7710_up{device=\"" + address + "\"} 1\n") != std::string::npos;
    });
}

std::vector<double> TFleet::Requests() {
    const std::size_t before = Count(ReadText(fSimLog), "requests:");
    fSimulator->Send("requests");
    std::string log;
    if (!WaitFor([&] { return Count(log = ReadText(fSimLog), "requests:") > before; }, 5s))
        throw TBenchError("the simulator did not report its requests");
    std::istringstream line(log.substr(log.rfind("requests:") + 9));
    std::vector<double> counts;
    for (double count = 0; counts.size() < static_cast<std::size_t>(fDevices) && line >> count;)
        counts.push_back(count);
    return counts;
}
