#include "WebServer.h"

#include "StatusPage.h"

#include <CivetServer.h>
#include <civetweb.h>
#include <prometheus/text_serializer.h>
#include <stdexcept>

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

} // namespace

class TWebServer::TMetricsHandler : public CivetHandler {
public:
    explicit TMetricsHandler(std::shared_ptr<prometheus::Registry> registry)
        : fRegistry(std::move(registry)) {}

    bool handleGet(CivetServer*, mg_connection* connection) override {
        const std::string body = prometheus::TextSerializer().Serialize(fRegistry->Collect());
        Reply(connection, "text/plain; version=0.0.4; charset=utf-8", body);
        return true;
    }

private:
    std::shared_ptr<prometheus::Registry> fRegistry;
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
                       std::shared_ptr<prometheus::Registry> registry, std::string version)
    : fRegistry(registry), fMetrics(std::make_unique<TMetricsHandler>(registry)),
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

TWebServer::~TWebServer() {
    fServer.reset();
}

int TWebServer::Port() const {
    const std::vector<int> ports = fServer->getListeningPorts();
    return ports.empty() ? 0 : ports.front();
}
