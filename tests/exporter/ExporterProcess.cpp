#include "ExporterProcess.h"

#include "QtWait.h"

#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::chrono_literals;

THttpReply HttpGet(int port, const std::string& path) {
    THttpReply reply;
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    timeval limit{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return reply;
    }
    const std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string text;
    char buffer[65536];
    for (ssize_t got; (got = recv(fd, buffer, sizeof buffer, 0)) > 0;)
        text.append(buffer, static_cast<std::size_t>(got));
    close(fd);
    const std::size_t bodyAt = text.find("\r\n\r\n");
    if (text.rfind("HTTP/1.", 0) != 0 || bodyAt == std::string::npos)
        return reply;
    reply.Status = std::stoi(text.substr(9, 3));
    reply.Body = text.substr(bodyAt + 4);
    return reply;
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
    const std::string& text = fLines[line - 1];
    const std::size_t at = text.find("127.0.0.1:");
    fPort = at == std::string::npos ? 0 : std::stoi(text.substr(at + 10));
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
