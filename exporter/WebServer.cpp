#include "WebServer.h"

#include "MetricsText.h"
#include "StatusPage.h"

#include <CivetServer.h>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <civetweb.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

// Scrapes are short; a few threads serve Prometheus and a browser side by side.
constexpr const char* SERVER_THREADS = "4";

void Reply(mg_connection* connection, const std::string& contentType, const std::string& body) {
    mg_printf(connection,
              "HTTP/1.1 200 OK\r\nContent-Type: %s\r\nContent-Length: %zu\r\n"
              "Connection: close\r\n\r\n",
              contentType.c_str(), body.size());
    mg_write(connection, body.data(), body.size());
}

// The host the server listens on as an IPv4 address to connect to: a wildcard is
// reached on loopback. Empty when it is not an IPv4 address.
std::string KnockHost(const std::string& listenAddress) {
    const std::string host = listenAddress.substr(0, listenAddress.rfind(':'));
    in_addr address{};
    if (host.empty() || host == "0.0.0.0")
        return "127.0.0.1";
    return inet_pton(AF_INET, host.c_str(), &address) == 1 ? host : "";
}

// Opens a connection to host:port and closes it at once, without waiting for it.
void KnockOn(const std::string& host, int port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (host.empty() || inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
        return;
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    close(fd);
}

} // namespace

class TWebServer::TMetricsHandler : public CivetHandler {
public:
    explicit TMetricsHandler(const std::vector<TFamilySource>& families) : fText(families) {}

    bool handleGet(CivetServer*, mg_connection* connection) override {
        Reply(connection, "text/plain; version=0.0.4; charset=utf-8", fText.Text());
        return true;
    }

private:
    TMetricsText fText;
};

class TWebServer::TPageHandler : public CivetHandler {
public:
    TPageHandler(std::shared_ptr<prometheus::Registry> registry, std::string version)
        : fRegistry(std::move(registry)), fVersion(std::move(version)) {}

    bool handleGet(CivetServer*, mg_connection* connection) override {
        Reply(connection, "text/html; charset=utf-8",
              StatusPage(DeviceRows(fRegistry->Collect()), fVersion));
        return true;
    }

private:
    std::shared_ptr<prometheus::Registry> fRegistry;
    std::string fVersion;
};

class TWebServer::THealthHandler : public CivetHandler {
public:
    bool handleGet(CivetServer*, mg_connection* connection) override {
        Reply(connection, "text/plain; charset=utf-8", "control7710-exporter is healthy.\n");
        return true;
    }
};

TWebServer::TWebServer(const std::string& listenAddress,
                       std::shared_ptr<prometheus::Registry> registry,
                       const std::vector<TFamilySource>& families, std::string version)
    : fListenHost(KnockHost(listenAddress)), fRegistry(registry),
      fMetrics(std::make_unique<TMetricsHandler>(families)),
      fPage(std::make_unique<TPageHandler>(registry, std::move(version))),
      fHealth(std::make_unique<THealthHandler>()) {
    const std::vector<std::string> options{"listening_ports", listenAddress, "num_threads",
                                           SERVER_THREADS};
    try {
        fServer = std::make_unique<CivetServer>(options);
    } catch (const CivetException&) {
        throw std::runtime_error("cannot listen on " + listenAddress +
                                 " (address in use or not available)");
    }
    // Exact paths only: "$" ends the pattern.
    fServer->addHandler("/metrics$", fMetrics.get());
    fServer->addHandler("/$", fPage.get());
    fServer->addHandler("/-/healthy$", fHealth.get());
}

// civetweb's listening thread looks at its stop flag only between waits of up to two
// seconds; a connection of the server's own ends the wait, so stopping takes
// milliseconds.
TWebServer::~TWebServer() {
    const int port = Port();
    std::atomic<bool> stopped{false};
    std::jthread stop([this, &stopped] {
        fServer.reset();
        stopped = true;
    });
    while (!stopped) {
        KnockOn(fListenHost, port);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

int TWebServer::Port() const {
    const std::vector<int> ports = fServer->getListeningPorts();
    return ports.empty() ? 0 : ports.front();
}
