#pragma once

// The exporter's relays: per device, a listener that speaks the device's own protocol to
// any number of clients while the exporter's link to the device is up. Reads are answered
// from the link's latest poll, writes go through the link one at a time and are audited.
// The event loop's thread serves every listener and client, beside whatever else it serves.

#include "LogLine.h"
#include "RelayFeed.h"
#include "RelayMetrics.h"
#include "RelayOptions.h"

#include <functional>
#include <memory>
#include <string>

class TEventLoop;

using TRelayLog = std::function<void(TLogEvent)>;

// A read is answered only from data at most this old.
constexpr auto RELAY_MAX_DATA_AGE = std::chrono::milliseconds(500);
// A write's acknowledgement is sent only within this time of its request.
constexpr auto RELAY_WRITE_LIMIT = std::chrono::milliseconds(2500);
// A client that sends nothing for this long is closed.
constexpr auto RELAY_IDLE_LIMIT = std::chrono::seconds(10);

class TRelay {
public:
    // Serves on loop, which outlives the relay; log is called on the loop's thread.
    TRelay(TEventLoop& loop, const TRelayOptions& options, TRelayFamilies& families, TRelayLog log);
    // Closes every listener and client.
    ~TRelay();
    TRelay(const TRelay&) = delete;
    TRelay& operator=(const TRelay&) = delete;

    // Serves device at endpoint (an empty address: the options' listen address) from its
    // link's feed, listening while the link is up. Serving a device served already moves
    // it to the endpoint given, closing its clients when the endpoint changes.
    void Serve(const std::string& device, const TRelayEndpoint& endpoint,
               std::shared_ptr<TRelayFeed> feed);
    // Stops serving device; its listener and clients are closed when this returns.
    void Stop(const std::string& device);

private:
    class TLoop;
    std::unique_ptr<TLoop> fLoop;
};

// A device watch's part in the relay: the feed its link fills, and whether and where the
// relay serves it. Made before the link first connects, gone before the link goes.
class TRelayAttachment {
public:
    TRelayAttachment(TRelay& relay, std::string device, TSwObject& link);
    ~TRelayAttachment();
    TRelayAttachment(const TRelayAttachment&) = delete;
    TRelayAttachment& operator=(const TRelayAttachment&) = delete;

    // Serves the device at endpoint, or no longer when there is none.
    void Serve(const std::optional<TRelayEndpoint>& endpoint);

private:
    TRelay& fRelay;
    const std::string fDevice;
    std::shared_ptr<TRelayFeed> fFeed;
    std::optional<TRelayEndpoint> fEndpoint;
};
