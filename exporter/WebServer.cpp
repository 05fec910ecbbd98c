#include "WebServer.h"

#include "ProcessMetrics.h"
#include "StatusPage.h"

TWebServer::TWebServer(const std::string& listenAddress,
                       std::shared_ptr<prometheus::Registry> registry,
                       const std::vector<TFamilySource>& families, std::string version)
    : fRegistry(std::move(registry)), fMetrics(families), fVersion(std::move(version)),
      fServer(listenAddress, [this](const std::string& path) { return Reply(path); }) {}

THttpReply TWebServer::Reply(const std::string& path) {
    if (path == "/metrics")
        return {200, "text/plain; version=0.0.4; charset=utf-8",
                fMetrics.Text() + ProcessMetricsText(fVersion)};
    if (path == "/")
        return {200, "text/html; charset=utf-8",
                StatusPage(DeviceRows(fRegistry->Collect()), fVersion)};
    if (path == "/-/healthy")
        return {200, "text/plain; charset=utf-8", "control7710-exporter is healthy.\n"};
    return {404, "text/plain; charset=utf-8", "Not found.\n"};
}
