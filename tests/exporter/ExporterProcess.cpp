#include "ExporterProcess.h"

#include "QtWait.h"

#include <arpa/inet.h>
#include <csignal>
#include <netdb.h>
#include <netinet/in.h>
#include <regex>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

THttpReply HttpRequest(int port, const std::string& method, const std::string& path,
                       const std::string& host) {
    THttpReply reply;
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* address = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &address) != 0)
        return reply;
    const int fd = socket(address->ai_family, SOCK_STREAM, 0);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const bool connected = connect(fd, address->ai_addr, address->ai_addrlen) == 0;
    freeaddrinfo(address);
    std::string text;
    if (connected) {
        const std::string request = method + " " + path + " HTTP/1.0\r\nHost: x\r\n\r\n";
        send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        char buffer[65536];
        for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
            text.append(buffer, static_cast<std::size_t>(got));
    }
    close(fd);
    const std::size_t bodyAt = text.find("\r\n\r\n");
    if (text.rfind("HTTP/1.", 0) != 0 || bodyAt == std::string::npos)
        return reply;
    reply.Status = std::stoi(text.substr(9, 3));
    reply.Head = text.substr(0, bodyAt + 2);
    reply.Body = text.substr(bodyAt + 4);
    return reply;
}

THttpReply HttpGet(int port, const std::string& path) {
    return HttpRequest(port, "GET", path);
}

namespace {

std::map<std::string, std::string> ParseLabels(const std::string& text) {
    std::map<std::string, std::string> labels;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t equals = text.find("=\"", at);
        const std::size_t end = text.find('"', equals + 2);
        if (equals == std::string::npos || end == std::string::npos)
            break;
        labels[text.substr(at, equals - at)] = text.substr(equals + 2, end - equals - 2);
        at = end + 2; // past the quote and the comma
    }
    return labels;
}

bool Includes(const std::map<std::string, std::string>& labels,
              const std::map<std::string, std::string>& wanted) {
    for (const auto& [name, value] : wanted) {
        const auto found = labels.find(name);
        if (found == labels.end() || found->second != value)
            return false;
    }
    return true;
}

} // namespace

std::optional<double> Sample(const std::string& exposition, const std::string& name,
                             const std::map<std::string, std::string>& labels) {
    std::istringstream lines(exposition);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind(name, 0) != 0 || line.size() <= name.size())
            continue;
        const char next = line[name.size()];
        const std::size_t space = line.rfind(' ');
        std::map<std::string, std::string> found;
        if (next == '{')
            found = ParseLabels(line.substr(name.size() + 1, line.rfind('}') - name.size() - 1));
        else if (next != ' ')
            continue;
        if (Includes(found, labels))
            return std::stod(line.substr(space + 1));
    }
    return std::nullopt;
}

TExporterProcess::TExporterProcess(const std::vector<std::string>& args) {
    QStringList arguments;
    for (const std::string& arg : args)
        arguments << QString::fromStdString(arg);
    fProcess.start(EXPORTER_PATH, arguments);
    fProcess.waitForStarted(5000);
}

TExporterProcess::~TExporterProcess() {
    if (fProcess.state() != QProcess::NotRunning) {
        fProcess.kill();
        fProcess.waitForFinished(5000);
    }
}

void TExporterProcess::ReadLines() {
    fPending += fProcess.readAllStandardOutput().toStdString();
    for (std::size_t end; (end = fPending.find('\n')) != std::string::npos;) {
        fLines.push_back(fPending.substr(0, end));
        fPending.erase(0, end + 1);
    }
}

const std::vector<std::string>& TExporterProcess::Lines() {
    ReadLines();
    return fLines;
}

std::string TExporterProcess::Errors() {
    return fProcess.readAllStandardError().toStdString();
}

int TExporterProcess::WaitListening(std::chrono::milliseconds timeout) {
    const std::size_t line = WaitLog("Listening", 0, timeout);
    if (line == 0)
        return 0;
    // address=HOST:PORT in logfmt, "address":"HOST:PORT" in JSON.
    static const std::regex address(R"(address\W+\S*?:(\d+)[ "])");
    std::smatch match;
    fPort = std::regex_search(fLines[line - 1], match, address) ? std::stoi(match[1]) : 0;
    return fPort;
}

std::size_t TExporterProcess::WaitLog(const std::string& text, std::size_t from,
                                      std::chrono::milliseconds timeout) {
    std::size_t found = 0;
    PumpUntil(
        [&] {
            ReadLines();
            for (std::size_t i = from; i < fLines.size(); ++i) {
                if (fLines[i].find(text) != std::string::npos) {
                    found = i + 1;
                    return true;
                }
            }
            return false;
        },
        timeout);
    return found;
}

std::string TExporterProcess::Metrics() const {
    return HttpGet(fPort, "/metrics").Body;
}

bool TExporterProcess::WaitSample(const std::string& name,
                                  const std::map<std::string, std::string>& labels,
                                  std::optional<double> value, std::chrono::milliseconds timeout) {
    return PumpUntil(
        [&] {
            std::this_thread::sleep_for(20ms);
            return Sample(Metrics(), name, labels) == value;
        },
        timeout);
}

void TExporterProcess::Signal(int signal) {
    ::kill(static_cast<pid_t>(fProcess.processId()), signal);
}

int TExporterProcess::WaitExit(std::chrono::milliseconds timeout) {
    if (!fProcess.waitForFinished(static_cast<int>(timeout.count())))
        return -1;
    ReadLines();
    return fProcess.exitStatus() == QProcess::NormalExit ? fProcess.exitCode() : -1;
}
