#include "DeviceWatch.h"

#include "ChangeLines.h"
#include "StationText.h"

#include <random>

namespace {

TBackoff::TRandom RandomShare() {
    return [engine = std::mt19937(std::random_device{}())]() mutable {
        return std::uniform_real_distribution<double>(0.0, 1.0)(engine);
    };
}

// The event slots of the device's data beside its checks and settings, after which the
// state series follow.
TSwObject::TNotifySlot TSwObject::*const STATUS_SLOTS[] = {
    &TSwObject::OnOutput,      &TSwObject::OnAutoMode,  &TSwObject::OnPsuMonitoring,
    &TSwObject::OnPsu1State,   &TSwObject::OnPsu2State, &TSwObject::OnTempValid,
    &TSwObject::OnTemperature,
};

} // namespace

TDeviceWatch::TDeviceWatch(const TTarget& target, TMetricFamilies& families, TLogSink log,
                           std::chrono::milliseconds cyclePeriod, TLinkLoop& loop, TRelay* relay)
    : fTarget(target), fKey(DeviceKey(target)), fLog(std::move(log)), fCyclePeriod(cyclePeriod),
      fMetrics(families, fKey, target.Label), fBackoff(RandomShare()), fLink(loop) {
    if (relay != nullptr) {
        fRelay = std::make_unique<TRelayAttachment>(*relay, fKey, fLink);
        fRelay->Serve(target.Relay);
    }
    fRetry.setSingleShot(true);
    QObject::connect(&fRetry, &QTimer::timeout, [this] { Start(); });
    Wire();
}

TDeviceWatch::~TDeviceWatch() = default;

void TDeviceWatch::Start() {
    fFirstPass = true;
    fLink.SetMinCyclePeriod(fCyclePeriod);
    fLink.Connect(fTarget.Address, fTarget.Port);
}

void TDeviceWatch::CancelRetry() {
    fRetry.stop();
}

void TDeviceWatch::BeginDisconnect() {
    fLink.BeginDisconnect();
}

void TDeviceWatch::Disconnect() {
    fLink.Disconnect();
}

void TDeviceWatch::LogStopped() {
    Log(TLogLevel::Info, "stop", StopReason(STOP_BY_REQUEST, 0),
        {{"code", STOP_BY_REQUEST}, {"reason", StopCodeName(STOP_BY_REQUEST)}});
}

void TDeviceWatch::SetLabel(const std::string& label) {
    fTarget.Label = label;
    fMetrics.SetLabel(label);
}

void TDeviceWatch::SetRelay(const std::optional<TRelayEndpoint>& endpoint) {
    fTarget.Relay = endpoint;
    if (fRelay)
        fRelay->Serve(endpoint);
}

void TDeviceWatch::Wire() {
    // The state record's mode is taken in before its output, so the mode seen here is the
    // one the device reported with the new output: a select command leaves it in MANUAL.
    fLink.OnOutput.Listen([this](TSwObject* link) {
        if (!fFirstPass)
            fMetrics.Changeover(link->AutoMode());
    });
    WireChangeLines(fLink,
                    [this](const std::string& line) { Log(TLogLevel::Info, "change", line); });
    WireStateEvents();
    fLink.OnConnected.Listen([this](TSwObject*, bool) {
        fMetrics.Connected();
        fBackoff.Connected(TBackoff::TClock::now());
    });
    fLink.OnCounters.Listen([this](TSwObject*) { FirstPassDone(); });
    fLink.OnLinkStat.Listen([this](TSwObject*, std::uint32_t value, int kind) {
        fMetrics.LinkStat(value, kind);
        if (kind == LINK_READ_WARNING)
            Log(TLogLevel::Warn, "warning", "!!! connection read malfunction");
    });
    fLink.OnStop.Listen([this](TSwObject*, int code) { Stopped(code); });
}

// Every field event, after its change line, brings the state series up to date.
void TDeviceWatch::WireStateEvents() {
    const auto changed = [this](TSwObject* link) { fMetrics.StateChanged(link->Status()); };
    for (auto slot : STATUS_SLOTS)
        (fLink.*slot).Listen(changed);
    for (const TSwitchKind& kind : SWITCHES)
        (fLink.*kind.Event).Listen(changed);
    for (const TFieldKind& kind : FIELDS)
        (fLink.*kind.Event).Listen(changed);
    for (const TCheckKind& kind : CHECKS)
        (fLink.*kind.Event).Listen([changed](TSwObject* link, int) { changed(link); });
}

void TDeviceWatch::FirstPassDone() {
    fFirstPass = false;
    fMetrics.StateCurrent(fLink.Status());
    Log(TLogLevel::Info, "connect", "Control started",
        {{"name", PrintableDeviceText(fLink.DeviceName())}});
}

void TDeviceWatch::Stopped(int code) {
    fMetrics.Stopped(code);
    TLogFields fields{{"code", code}, {"reason", StopCodeName(code)}, {"error", fLink.LastError()}};
    if (StopIsFailure(code)) {
        const auto wait = fBackoff.Stopped(TBackoff::TClock::now());
        fields.emplace_back("reconnect_in",
                            TLogValue::Decimal(static_cast<double>(wait.count()) / 1000, 1));
        fRetry.start(wait);
    }
    Log(StopIsFailure(code) ? TLogLevel::Warn : TLogLevel::Info, "stop",
        StopReason(code, fLink.LastError()), std::move(fields));
}

void TDeviceWatch::Log(TLogLevel level, const std::string& event, const std::string& message,
                       TLogFields fields) const {
    fLog({QDateTime::currentDateTime(), level, fKey, event, message, std::move(fields)});
}
