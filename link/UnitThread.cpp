#include "UnitThread.h"

#include "Notification.h"

#include <QObject>
#include <algorithm>
#include <cstring>
#include <ctime>
#include <optional>
#include <sys/prctl.h>

namespace {

constexpr std::uint32_t RATE_PERIOD_MS = 1000;
constexpr int MAX_ATTEMPTS = 3;

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

// Everything the worker thread keeps for one connection, and its steps.
class TSwObject::TWorker {
public:
    TWorker(TSwObject& link, QObject* target, std::chrono::milliseconds minCyclePeriod,
            const TLinkTiming& timing, std::shared_ptr<TLinkTap> tap)
        : fLink(link), fTarget(target), fMinCyclePeriod(minCyclePeriod),
          fTimeoutMs(Milliseconds(timing.Timeout)), fRetryPauseMs(Milliseconds(timing.RetryPause)),
          fTap(std::move(tap)) {}

    void Run() {
        // The pauses of a cycle are 1 ms; the default timer slack would add to each.
        prctl(PR_SET_TIMERSLACK, 1000UL);
        fLink.SettingsWritten = false;
        fLink.PowerWritten = false;
        if (Open()) {
            Cycles();
        } else {
            fStopCode = STOP_CONNECT_FAILED;
            fLink.fStop = true;
        }
        TSocket socket = fLink.fSocket.exchange(INVALID_SOCKET);
        SocketShutdown(socket);
        EndCommand(TCommandEnd::Failed, nullptr, 0);
        if (fTap)
            fTap->LinkEnded(fStopCode);
        fLink.fRunning = false;
        Post(new TSwNotification(WM_SW_STOPPED, fStopCode));
    }

private:
    bool Stopping() const { return fLink.fStop.load(); }

    bool Open() {
        TSocket socket = INVALID_SOCKET;
        if (!SocketOpen(socket) ||
            !SocketConnectTimeout(socket, fLink.fAddress, fLink.fPort, fTimeoutMs)) {
            SocketShutdown(socket);
            return false;
        }
        fLink.fSocket = socket;
        return true;
    }

    // Polls until the stop flag is set. A Disconnect made while the connect was still
    // pending stands: the flag is not cleared on success.
    void Cycles() {
        fRateTick = TickCount();
        while (!Stopping()) {
            const auto cycleStart = std::chrono::steady_clock::now();
            Pause(1);
            fFirstPost = GROUP_IDENTITY;
            if (!fFirstCycle)
                RunCommand();
            if (Stopping())
                break;
            Poll();
            if (Stopping())
                break;
            Notify();
            WaitOutCycle(cycleStart);
        }
    }

    // Holds the next cycle back until the minimum period since cycleStart has passed;
    // a Disconnect ends the wait at once.
    void WaitOutCycle(std::chrono::steady_clock::time_point cycleStart) {
        if (fMinCyclePeriod.count() <= 0)
            return;
        std::unique_lock lock(fLink.fWakeLock);
        fLink.fWake.wait_until(lock, cycleStart + fMinCyclePeriod, [this] { return Stopping(); });
    }

    void GiveUp(int stopCode, int error) {
        fLink.fLastError = error;
        fStopCode = stopCode;
        fLink.fStop = true;
    }

    bool Send(const std::uint8_t* bytes, int length) {
        if (SendFrame(fLink.fSocket, bytes, length, fTimeoutMs))
            return true;
        GiveUp(STOP_WRITE_FAILED, SocketLastError());
        return false;
    }

    void RunCommand() {
        TCommand command;
        TWriteRequest request;
        if (!fLink.fCommands.Take(command) ||
            !BuildWriteRequest(command.Code, command.Argument, command.Settings, request))
            return;
        if (command.Code == CMD_WRITE_SETTINGS)
            fLink.SettingsWritten = true;
        if (command.Code == CMD_POWER_MONITORING)
            fLink.PowerWritten = true;
        fFirstPost = request.Group;
        fOpenCommand = command;
        fAwaitedGroup = 0;
        WriteExchange(request);
    }

    // Sends a write and waits for its acknowledgement; a failed receive sends it again
    // at once, up to three attempts for each kind of failure.
    void WriteExchange(const TWriteRequest& request) {
        int timeouts = 0;
        int failures = 0;
        while (!Stopping()) {
            if (!Send(request.Bytes.data(), request.Length))
                return;
            int length = 0;
            if (!ReceiveFrame(fLink.fSocket, fReply, length, fTimeoutMs)) {
                const int error = SocketLastError();
                int& count = error == SOCK_ERR_TIMEOUT ? timeouts : failures;
                if (++count < MAX_ATTEMPTS)
                    continue;
                GiveUp(error == SOCK_ERR_TIMEOUT ? STOP_TIMEOUT : STOP_READ_FAILED, error);
                return;
            }
            if (Stopping())
                return;
            if (AcceptWriteReply(request, fReply.data(), length)) {
                AwaitReadAgain(request.Group, length);
                return;
            }
            GiveUp(STOP_READ_FAILED, SOCK_ERR_BAD_FRAME);
            EndCommand(TCommandEnd::Refused, fReply.data(), length);
            return;
        }
    }

    // The command is done once its group has been read again; its acknowledgement is
    // kept until then.
    void AwaitReadAgain(int group, int length) {
        std::copy_n(fReply.begin(), length, fAck.begin());
        fAckLength = length;
        fAwaitedGroup = group;
    }

    // Tells the tap how the open command ended, if a command is open.
    void EndCommand(TCommandEnd end, const std::uint8_t* reply, int length) {
        if (fTap && fOpenCommand)
            fTap->CommandEnded(*fOpenCommand, end, reply, length);
        fOpenCommand.reset();
    }

    void Poll() {
        for (int group = fFirstPoll; group <= GROUP_COUNT && !Stopping(); ++group) {
            if (!PollGroup(group))
                return;
            Pause(1);
        }
    }

    // One request and its reply, with retries; true when the group's payload arrived.
    bool PollGroup(int group) {
        const TGroupSpec& layout = GroupSpec(group);
        int timeouts = 0;
        int failures = 0;
        while (!Stopping()) {
            if (!Send(layout.Request.data(), HEADER_SIZE))
                return false;
            int length = 0;
            if (ReceiveFrame(fLink.fSocket, fReply, length, fTimeoutMs))
                return !Stopping() && TakeReply(group, length);
            const int error = SocketLastError();
            if (error == SOCK_ERR_TIMEOUT ? !CountTimeout(timeouts)
                                          : !CountFailure(failures, error))
                return false;
            Pause(fRetryPauseMs);
        }
        return false;
    }

    bool TakeReply(int group, int length) {
        if (!AcceptPollReply(group, fReply.data(), length)) {
            GiveUp(STOP_READ_FAILED, SOCK_ERR_BAD_FRAME);
            return false;
        }
        std::copy_n(fReply.begin() + HEADER_SIZE, GroupSpec(group).PayloadLength,
                    fCurrent[group - 1].begin());
        if (fTap)
            fTap->GroupRead(group, fReply.data(), length);
        if (fOpenCommand && fAwaitedGroup == group)
            EndCommand(TCommandEnd::Done, fAck.data(), fAckLength);
        return true;
    }

    // Counts one reply time-out; false when the request has run out of attempts.
    bool CountTimeout(int& timeouts) {
        ++fTimeoutTotal;
        PostLinkStat(fTimeoutTotal, LINK_TIMEOUTS);
        if (++timeouts == 2)
            PostLinkStat(0, LINK_READ_WARNING);
        if (timeouts < MAX_ATTEMPTS)
            return true;
        GiveUp(STOP_TIMEOUT, SOCK_ERR_TIMEOUT);
        return false;
    }

    bool CountFailure(int& failures, int error) {
        ++fFailureTotal;
        PostLinkStat(fFailureTotal, LINK_READ_ERRORS);
        if (++failures < MAX_ATTEMPTS)
            return true;
        GiveUp(STOP_READ_FAILED, error);
        return false;
    }

    void Notify() {
        if (fFirstCycle)
            StartConnection();
        else
            FindChanges();
        if (fChanged[fFirstPost - 1])
            PostGroup(fFirstPost);
        for (int group = 1; group <= GROUP_COUNT; ++group) {
            if (fChanged[group - 1])
                PostGroup(group);
        }
        ReportRate();
    }

    void StartConnection() {
        fFirstCycle = false;
        fChanged.fill(true);
        fFirstPoll = GROUP_STATE; // the identity is read once per connection
        Post(new TSwNotification(WM_SW_CONNECTED, 1));
    }

    void FindChanges() {
        for (int group = 1; group <= GROUP_COUNT; ++group) {
            const auto length = static_cast<std::size_t>(GroupSpec(group).PayloadLength);
            fChanged[group - 1] =
                std::memcmp(fCurrent[group - 1].data(), fPrevious[group - 1].data(), length) != 0;
        }
        fChanged[GROUP_SETTINGS - 1] = fChanged[GROUP_SETTINGS - 1] || fLink.SettingsWritten;
        fChanged[GROUP_POWER - 1] = fChanged[GROUP_POWER - 1] || fLink.PowerWritten;
    }

    void PostGroup(int group) {
        fPrevious[group - 1] = fCurrent[group - 1];
        auto* notification = new TSwNotification(WM_SW_GROUP + group, 0);
        notification->Payload = fCurrent[group - 1];
        Post(notification);
        fChanged[group - 1] = false;
    }

    void ReportRate() {
        ++fRateCycles;
        const std::uint32_t now = TickCount();
        const std::uint32_t elapsed = now - fRateTick;
        if (elapsed < RATE_PERIOD_MS)
            return;
        PostLinkStat(CycleRate(fRateCycles, elapsed), LINK_RATE);
        fRateTick = now;
        fRateCycles = 0;
    }

    void PostLinkStat(std::uint32_t value, int kind) {
        Post(new TSwNotification(WM_SW_LINKSTAT, kind, static_cast<std::int32_t>(value)));
    }

    void Post(TSwNotification* notification) { PostNotification(fTarget, notification); }

    using TPayload = std::array<std::uint8_t, MAX_GROUP_PAYLOAD>;

    TSwObject& fLink;
    QObject* fTarget;
    const std::chrono::milliseconds fMinCyclePeriod;
    const std::uint32_t fTimeoutMs;
    const std::uint32_t fRetryPauseMs;
    const std::shared_ptr<TLinkTap> fTap;
    // The command taken last, until it has ended; once acknowledged, fAwaitedGroup is the
    // group whose next reading completes it (0 before).
    std::optional<TCommand> fOpenCommand;
    int fAwaitedGroup = 0;
    std::array<std::uint8_t, ACK_SIZE> fAck{};
    int fAckLength = 0;
    TSwBuffer fReply{};
    std::array<TPayload, GROUP_COUNT> fCurrent{};
    std::array<TPayload, GROUP_COUNT> fPrevious{};
    std::array<bool, GROUP_COUNT> fChanged{};
    bool fFirstCycle = true;
    int fFirstPoll = GROUP_IDENTITY;
    int fFirstPost = GROUP_IDENTITY;
    std::uint32_t fTimeoutTotal = 0;
    std::uint32_t fFailureTotal = 0;
    std::uint32_t fRateTick = 0;
    std::uint32_t fRateCycles = 0;
    int fStopCode = STOP_BY_REQUEST;
};

// ---- Link object -----------------------------------------------------------------

TSwObject::TSwObject() : fTarget(std::make_unique<TNotifyTarget>(*this)) {}

TSwObject::~TSwObject() {
    Disconnect();
    JoinWorker();
    // Notifications still queued are deleted with their target, payloads included.
    fTarget.reset();
}

void TSwObject::Connect(const std::string& address, std::int32_t port) {
    if (IsRunning())
        return;
    JoinWorker();
    fAddress = address;
    fPort = port;
    fLastError = 0;
    FullRefresh = true;
    fStop = false;
    fCommands.Clear();
    fRunning = true;
    fThread = std::thread(
        [this, target = fTarget.get(), period = fMinCyclePeriod, timing = fTiming, tap = fTap] {
            TWorker worker(*this, target, period, timing, tap);
            worker.Run();
        });
}

void TSwObject::SetMinCyclePeriod(std::chrono::milliseconds period) {
    fMinCyclePeriod = period;
}

void TSwObject::SetTiming(const TLinkTiming& timing) {
    fTiming = timing;
}

void TSwObject::SetTap(std::shared_ptr<TLinkTap> tap) {
    fTap = std::move(tap);
}

void TSwObject::Disconnect() {
    if (!IsRunning())
        return;
    fStop = true;
    WakeWorker();
    JoinWorker();
}

// Ends a wait between cycles. Taking the lock once after the stop flag was set means the
// worker either has not yet tested the flag under the lock or is already waiting.
void TSwObject::WakeWorker() {
    { std::lock_guard lock(fWakeLock); }
    fWake.notify_all();
}

void TSwObject::JoinWorker() {
    if (fThread.joinable())
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
