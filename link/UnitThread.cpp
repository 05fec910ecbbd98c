#include "UnitThread.h"

#include "LinkLoop.h"
#include "Notification.h"

#include <QObject>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <sys/prctl.h>

namespace {

// Sleeps as close to ms milliseconds as the platform allows.
void Pause(std::uint32_t ms) {
    timespec span{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &span, &span) != 0) {
    }
}

// The window thread's end of the worker's notifications.
class TNotifyTarget : public QObject {
public:
    explicit TNotifyTarget(TSwObject& owner) : fOwner(owner) {}

    bool event(QEvent* event) override {
        AcceptNotification(event);
        if (event->type() != TSwNotification::Type())
            return QObject::event(event);
        fOwner.HandleNotification(*static_cast<TSwNotification*>(event));
        return true;
    }

private:
    TSwObject& fOwner;
};

int Word(const std::uint8_t* bytes, int at) {
    return bytes[at] + 256 * bytes[at + 1];
}

bool Bit0(std::uint8_t byte) {
    return (byte & 1) != 0;
}

template <typename T>
void Update(TSwObject* sender, T& field, T value, bool force, const TSwObject::TNotifySlot& slot) {
    if (value == field && !force)
        return;
    field = value;
    slot(sender);
}

void UpdateInput(TSwObject* sender, int (&fields)[2], int input, int value, bool force,
                 const TSwObject::TInputSlot& slot) {
    if (value == fields[input - 1] && !force)
        return;
    fields[input - 1] = value;
    slot(sender, input);
}

std::uint32_t Milliseconds(std::chrono::milliseconds span) {
    return static_cast<std::uint32_t>(span.count());
}

} // namespace

// ---- Worker ----------------------------------------------------------------------

// The worker thread's driver of the link machine: it carries out each step with the
// blocking calls of the socket layer, and feeds the outcome back.
class TSwObject::TWorker {
public:
    TWorker(TSwObject& link, QObject* target, TLinkSetup setup)
        : fLink(link), fTarget(target),
          fMachine(link.fCommands, {link.SettingsWritten, link.PowerWritten}, std::move(setup)) {}

    void Run() {
        // The pauses of a cycle are 1 ms; the default timer slack would add to each.
        prctl(PR_SET_TIMERSLACK, 1000UL);
        TLinkStep step = fMachine.Start();
        while (step.Action != TLinkAction::Close)
            step = Carry(step);
        End(step);
    }

private:
    TLinkStep Carry(const TLinkStep& step) {
        switch (step.Action) {
        case TLinkAction::Connect:
            return Open(step.Limit);
        case TLinkAction::Exchange:
            return Exchange(step);
        case TLinkAction::Pause:
            Pause(Milliseconds(step.Span));
            return Feed([&] { return fMachine.PauseEnded(TLinkClock::now()); });
        case TLinkAction::Wait:
            WaitUntil(step.Until);
            return Feed([&] { return fMachine.PauseEnded(TLinkClock::now()); });
        case TLinkAction::Post:
            Post(new TSwNotification(step.Notice));
            return fMachine.Next();
        default:
            return fMachine.Next();
        }
    }

    // Hands the machine a stop request made since the last input, then the input.
    template <typename TInput> TLinkStep Feed(TInput input) {
        if (fLink.fStop)
            fMachine.RequestStop();
        return input();
    }

    TLinkStep Open(std::chrono::milliseconds limit) {
        TSocket socket = INVALID_SOCKET;
        if (!SocketOpen(socket) ||
            !SocketConnectTimeout(socket, fLink.fAddress, fLink.fPort, Milliseconds(limit))) {
            SocketShutdown(socket);
            return Feed([&] { return fMachine.ConnectFailed(); });
        }
        fLink.fSocket = socket;
        return Feed([&] { return fMachine.Connected(TLinkClock::now()); });
    }

    TLinkStep Exchange(const TLinkStep& step) {
        const std::uint32_t limit = Milliseconds(step.Limit);
        if (!SendFrame(fLink.fSocket, step.Request.data(), static_cast<int>(step.Request.size()),
                       limit)) {
            const int error = SocketLastError();
            return Feed([&] { return fMachine.SendFailed(error); });
        }
        int length = 0;
        if (!ReceiveFrame(fLink.fSocket, fReply, length, limit)) {
            const int error = SocketLastError();
            return Feed([&] { return fMachine.ReceiveFailed(error, TLinkClock::now()); });
        }
        return Feed([&] { return fMachine.Replied(fReply.data(), length, TLinkClock::now()); });
    }

    // Holds the next cycle back until its time; a Disconnect ends the wait at once.
    void WaitUntil(TLinkTime until) {
        std::unique_lock lock(fLink.fWakeLock);
        fLink.fWake.wait_until(lock, until, [this] { return fLink.fStop.load(); });
    }

    void End(const TLinkStep& close) {
        fLink.fLastError = close.Error;
        TSocket socket = fLink.fSocket.exchange(INVALID_SOCKET);
        SocketShutdown(socket);
        fLink.fRunning = false;
        Post(new TSwNotification(close.Notice));
    }

    void Post(TSwNotification* notification) { PostNotification(fTarget, notification); }

    TSwObject& fLink;
    QObject* fTarget;
    TLinkMachine fMachine;
    TSwBuffer fReply{};
};

// ---- Link object -----------------------------------------------------------------

TSwObject::TSwObject() : fTarget(std::make_unique<TNotifyTarget>(*this)) {}

TSwObject::TSwObject(TLinkLoop& loop)
    : fTarget(std::make_unique<TNotifyTarget>(*this)), fLoop(&loop) {}

TSwObject::~TSwObject() {
    Disconnect();
    WaitForWorker();
    // Notifications still queued are deleted with their target, payloads included.
    fTarget.reset();
}

void TSwObject::Connect(const std::string& address, std::int32_t port) {
    if (IsRunning())
        return;
    WaitForWorker();
    fAddress = address;
    fPort = port;
    fLastError = 0;
    FullRefresh = true;
    fStop = false;
    fCommands.Clear();
    fRunning = true;
    if (fLoop != nullptr)
        return fLoop->Start(*this, fTarget.get(), fSetup);
    fThread = std::thread([this, target = fTarget.get(), setup = fSetup] {
        TWorker worker(*this, target, setup);
        worker.Run();
    });
}

void TSwObject::SetMinCyclePeriod(std::chrono::milliseconds period) {
    fSetup.MinCyclePeriod = period;
}

void TSwObject::SetTiming(const TLinkTiming& timing) {
    fSetup.Timing = timing;
}

void TSwObject::SetTap(std::shared_ptr<TLinkTap> tap) {
    fSetup.Tap = std::move(tap);
}

void TSwObject::Disconnect() {
    if (!IsRunning())
        return;
    BeginDisconnect();
    WaitForWorker();
}

void TSwObject::BeginDisconnect() {
    if (!IsRunning())
        return;
    fStop = true;
    if (fLoop != nullptr)
        fLoop->RequestStop(*this);
    else
        WakeWorker();
}

// Ends a wait between cycles. Taking the lock once after the stop flag was set means the
// worker either has not yet tested the flag under the lock or is already waiting.
void TSwObject::WakeWorker() {
    { std::lock_guard lock(fWakeLock); }
    fWake.notify_all();
}

void TSwObject::WaitForWorker() {
    if (fLoop != nullptr)
        fLoop->WaitEnded(*this);
    else if (fThread.joinable())
        fThread.join();
}

bool TSwObject::IsRunning() const {
    return fRunning.load();
}

bool TSwObject::IsConnected() const {
    return IsRunning() && fSocket.load() != INVALID_SOCKET;
}

void TSwObject::PostCommand(const TCommand& command) {
    if (IsConnected())
        fCommands.Post(command);
}

void TSwObject::SelectInput(std::int32_t input) {
    PostCommand({CMD_SELECT_INPUT, input, {}});
}

void TSwObject::SetAutoMode() {
    PostCommand({CMD_AUTO_MODE, 0, {}});
}

void TSwObject::WriteSettings(const TSettingsBlock& block) {
    PostCommand({CMD_WRITE_SETTINGS, 0, block});
}

void TSwObject::SetPowerMonitoring(std::int32_t mask) {
    PostCommand({CMD_POWER_MONITORING, mask, {}});
}

// ---- Notification handler --------------------------------------------------------

void TSwObject::HandleNotification(const TSwNotification& notification) {
    switch (notification.Message) {
    case WM_SW_CONNECTED:
        OnConnected(this, notification.Param > 0);
        return;
    case WM_SW_STOPPED:
        OnStop(this, notification.Param);
        return;
    case WM_SW_LINKSTAT:
        OnLinkStat(this, static_cast<std::uint32_t>(notification.Value), notification.Param);
        return;
    case WM_SW_GROUP + GROUP_IDENTITY:
        return DecodeIdentity(notification.Payload.data());
    case WM_SW_GROUP + GROUP_STATE:
        return DecodeState(notification.Payload.data());
    case WM_SW_GROUP + GROUP_SETTINGS:
        return DecodeSettings(notification.Payload.data());
    case WM_SW_GROUP + GROUP_POWER:
        return DecodePower(notification.Payload.data());
    case WM_SW_GROUP + GROUP_COUNTERS:
        return DecodeCounters(notification.Payload.data());
    default:
        return;
    }
}

void TSwObject::DecodeIdentity(const std::uint8_t* payload) {
    const int length = GroupSpec(GROUP_IDENTITY).PayloadLength;
    const auto* end = std::find(payload, payload + length, 0);
    fStatus.DeviceName.assign(payload, end);
    OnDeviceName(this);
}

void TSwObject::DecodeState(const std::uint8_t* p) {
    const bool force = FullRefresh;
    TDeviceStatus& s = fStatus;
    UpdateInput(this, s.VideoSync, INPUT_A, p[3] & 3, force, OnVideoSync);
    UpdateInput(this, s.VideoSync, INPUT_B, p[4] & 3, force, OnVideoSync);
    UpdateInput(this, s.VideoMotion, INPUT_A, (p[3] >> 4) & 3, force, OnVideoMotion);
    UpdateInput(this, s.VideoMotion, INPUT_B, (p[4] >> 4) & 3, force, OnVideoMotion);
    UpdateInput(this, s.VideoLevel, INPUT_A, p[3] >> 6, force, OnVideoLevel);
    UpdateInput(this, s.VideoLevel, INPUT_B, p[4] >> 6, force, OnVideoLevel);
    UpdateInput(this, s.AudioLeft, INPUT_A, p[7] & 3, force, OnAudioLeft);
    UpdateInput(this, s.AudioRight, INPUT_A, (p[7] >> 2) & 3, force, OnAudioRight);
    UpdateInput(this, s.AudioLeft, INPUT_B, p[8] & 3, force, OnAudioLeft);
    UpdateInput(this, s.AudioRight, INPUT_B, (p[8] >> 2) & 3, force, OnAudioRight);
    Update(this, s.AutoMode, (p[0] & 2) != 0, force, OnAutoMode);
    Update(this, s.Output, Bit0(p[0]) ? INPUT_B : INPUT_A, force, OnOutput);
}

void TSwObject::DecodeSettings(const std::uint8_t* p) {
    const bool force = FullRefresh || SettingsWritten;
    TDeviceStatus& s = fStatus;
    Update(this, s.SyncControl, Bit0(p[0]), force, OnSyncControl);
    Update(this, s.SyncTime, Word(p, 1), force, OnSyncTime);
    Update(this, s.MotionControl, Bit0(p[3]), force, OnMotionControl);
    Update(this, s.MotionTime, Word(p, 4), force, OnMotionTime);
    Update(this, s.VideoLevelControl, Bit0(p[6]), force, OnVideoLevelControl);
    Update(this, s.VideoLevelValue, int{p[7]}, force, OnVideoLevelValue);
    Update(this, s.VideoLevelTime, Word(p, 8), force, OnVideoLevelTime);
    Update(this, s.ThresholdControl, Bit0(p[10]), force, OnThresholdControl);
    Update(this, s.ThresholdValue, int{p[11]}, force, OnThresholdValue);
    Update(this, s.ThresholdTime, Word(p, 12), force, OnThresholdTime);
    Update(this, s.AudioLevelControl, Bit0(p[14]), force, OnAudioLevelControl);
    Update(this, s.AudioLevelValue, int{p[15]}, force, OnAudioLevelValue);
    Update(this, s.AudioLevelTime, Word(p, 16), force, OnAudioLevelTime);
    Update(this, s.RecoveryControl, Bit0(p[18]), force, OnRecoveryControl);
    Update(this, s.RecoveryTime, Word(p, 19), force, OnRecoveryTime);
    SettingsWritten = false;
}

void TSwObject::DecodePower(const std::uint8_t* q) {
    const bool force = FullRefresh || PowerWritten;
    TDeviceStatus& s = fStatus;
    Update(this, s.PsuMonitoring, q[0] & 3, force, OnPsuMonitoring);
    Update(this, s.Psu1State, q[1] & 3, force, OnPsu1State);
    Update(this, s.Psu2State, q[2] & 3, force, OnPsu2State);
    Update(this, s.TempValid, Bit0(q[3]), force, OnTempValid);
    // The temperature is kept even without a valid reading, but only announced with one.
    static const TNotifySlot silent;
    Update(this, s.Temperature, int{q[4]}, force, s.TempValid ? OnTemperature : silent);
    PowerWritten = false;
}

void TSwObject::DecodeCounters(const std::uint8_t* c) {
    if (FullRefresh) {
        int* counters[] = {fStatus.SyncCount,           fStatus.MotionCount,
                           fStatus.VideoLevelCount,     fStatus.ThresholdLeftCount,
                           fStatus.ThresholdRightCount, fStatus.AudioLevelLeftCount,
                           fStatus.AudioLevelRightCount};
        for (int kind = 0; kind < 7; ++kind) {
            counters[kind][0] = c[2 * kind];
            counters[kind][1] = c[2 * kind + 1];
        }
        OnCounters(this);
    }
    FullRefresh = false;
}
