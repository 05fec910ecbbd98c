#pragma once

// The exporter program as a child process of a test, its log read as it comes, and a
// small HTTP client for its endpoints on loopback.

#include <QProcess>
#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

struct THttpReply {
    int Status = 0;
    std::string Head;
    std::string Body;
};

// A request with no body to a numeric loopback host; Status 0 when no reply came.
THttpReply HttpRequest(int port, const std::string& method, const std::string& path,
                       const std::string& host = "127.0.0.1");
// GET path from 127.0.0.1:port.
THttpReply HttpGet(int port, const std::string& path);

// The value of the sample of name whose labels include all of labels, in an exposition
// text; nothing when there is none.
std::optional<double> Sample(const std::string& exposition, const std::string& name,
                             const std::map<std::string, std::string>& labels);

class TExporterProcess {
public:
    explicit TExporterProcess(const std::vector<std::string>& args);
    ~TExporterProcess();

    // Waits until the exporter logs where it listens; its port, or 0.
    int WaitListening(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Waits until a log line containing text appears after the first from lines; the
    // number of lines up to and including it, or 0.
    std::size_t WaitLog(const std::string& text, std::size_t from = 0,
                        std::chrono::milliseconds timeout = std::chrono::seconds(5));
    // Scrapes /metrics until the sample has the value.
    bool WaitSample(const std::string& name, const std::map<std::string, std::string>& labels,
                    std::optional<double> value,
                    std::chrono::milliseconds timeout = std::chrono::seconds(5));
    std::string Metrics() const;

    void Signal(int signal);
    // Waits for the end; the exit status, or -1 when it did not end in time.
    int WaitExit(std::chrono::milliseconds timeout);

    const std::vector<std::string>& Lines();
    std::string Errors();
    int Port() const { return fPort; }

private:
    void ReadLines();

    QProcess fProcess;
    std::string fPending;
    std::vector<std::string> fLines;
    int fPort = 0;
};
