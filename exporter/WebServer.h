#pragma once

// The exporter's HTTP endpoints on civetweb, the server prometheus-cpp's own exposer runs
// on: /metrics in the text exposition format by prometheus-cpp's serializer, / a page
// of the devices, /-/healthy. Every endpoint only reads.

#include "DeviceMetrics.h"

#include <memory>
#include <prometheus/registry.h>
#include <string>

class CivetServer;

class TWebServer {
public:
    // Listens on "HOST:PORT" (port 0: one the system picks) with a few threads of its
    // own. /metrics shows the given families, the page every device in the registry.
    // Throws std::runtime_error with a one-line reason when it cannot listen.
    TWebServer(const std::string& listenAddress, std::shared_ptr<prometheus::Registry> registry,
               const std::vector<TFamilySource>& families, std::string version);
    ~TWebServer();
    TWebServer(const TWebServer&) = delete;
    TWebServer& operator=(const TWebServer&) = delete;

    // The port listened on.
    int Port() const;

private:
    class TMetricsHandler;
    class TPageHandler;
    class THealthHandler;

    std::string fListenHost;
    std::shared_ptr<prometheus::Registry> fRegistry;
    std::unique_ptr<TMetricsHandler> fMetrics;
    std::unique_ptr<TPageHandler> fPage;
    std::unique_ptr<THealthHandler> fHealth;
    std::unique_ptr<CivetServer> fServer;
};
