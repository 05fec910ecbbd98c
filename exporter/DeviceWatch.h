#pragma once

// One watched device: its link, its series, its log lines and its reconnects. Lives on
// the thread whose event loop runs the link's events.

#include "Backoff.h"
#include "DeviceMetrics.h"
#include "LogLine.h"
#include "Relay.h"
#include "Targets.h"
#include "UnitThread.h"

#include <QTimer>
#include <chrono>
#include <functional>
#include <string>

using TLogSink = std::function<void(TLogEvent)>;

class TDeviceWatch {
public:
    // loop drives the link; relay, when given, serves the device's protocol where the
    // target says.
    TDeviceWatch(const TTarget& target, TMetricFamilies& families, TLogSink log,
                 std::chrono::milliseconds cyclePeriod, TLinkLoop& loop, TRelay* relay = nullptr);
    // Disconnects unless that was done already.
    ~TDeviceWatch();
    TDeviceWatch(const TDeviceWatch&) = delete;
    TDeviceWatch& operator=(const TDeviceWatch&) = delete;

    void Start();
    // Ending the watch on request takes four steps on the event loop's thread, so that many
    // watches can wait for their links at once: CancelRetry, BeginDisconnect, then
    // Disconnect, which waits for the link's end, then LogStopped.
    void CancelRetry();
    void BeginDisconnect();
    void Disconnect();
    void LogStopped();
    // The device's series stay in the registry when the watch goes.
    void KeepSeries() { fMetrics.KeepSeries(); }

    void SetLabel(const std::string& label);
    // Serves the device's protocol where target says, or no longer.
    void SetRelay(const std::optional<TRelayEndpoint>& endpoint);
    const std::string& Key() const { return fKey; }
    const TTarget& Target() const { return fTarget; }

private:
    void Wire();
    void WireStateEvents();
    void FirstPassDone();
    void Stopped(int code);
    void Log(TLogLevel level, const std::string& event, const std::string& message,
             TLogFields fields = {}) const;

    TTarget fTarget;
    const std::string fKey;
    TLogSink fLog;
    std::chrono::milliseconds fCyclePeriod;
    TDeviceMetrics fMetrics;
    TBackoff fBackoff;
    QTimer fRetry;
    bool fFirstPass = true;
    TSwObject fLink;
    // After the link: it stops relaying before the link goes.
    std::unique_ptr<TRelayAttachment> fRelay;
};
