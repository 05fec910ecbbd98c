#pragma once

// The exporter's HTTP endpoints: /metrics in the text exposition format by
// prometheus-cpp's serializer, / a page of the devices, /-/healthy. Every endpoint only
// reads.

#include "DeviceMetrics.h"
#include "HttpServer.h"
#include "MetricsText.h"

#include <memory>
#include <prometheus/registry.h>
#include <string>

class TWebServer {
public:
    // Listens as THttpServer does. /metrics shows the given families and the process's
    // own metrics, the page every device in the registry. Throws std::runtime_error with
    // a one-line reason when it cannot listen.
    TWebServer(const std::string& listenAddress, std::shared_ptr<prometheus::Registry> registry,
               const std::vector<TFamilySource>& families, std::string version);

    // The port listened on.
    int Port() const { return fServer.Port(); }

private:
    THttpReply Reply(const std::string& path);

    std::shared_ptr<prometheus::Registry> fRegistry;
    TMetricsText fMetrics;
    std::string fVersion;
    // Last: it answers once the rest is made, and stops before the rest goes.
    THttpServer fServer;
};
