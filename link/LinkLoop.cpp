#include "LinkLoop.h"

#include "Notification.h"
#include "TimerQueue.h"
#include "UnitThread.h"

#include <cerrno>
#include <ctime>
#include <stdexcept>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int MAX_EVENTS = 256;
// The longest request, the settings write, as a frame with every byte escaped.
constexpr int MAX_REQUEST_FRAME = 2 * MAX_WRITE_REQUEST + FRAME_OVERHEAD;

int Descriptor(int result, const char* what) {
    if (result < 0)
        throw std::runtime_error(std::string("cannot create ") + what);
    return result;
}

} // namespace

// ---- Core ------------------------------------------------------------------------

class TLinkLoop::TCore {
public:
    TCore()
        : fPoll(Descriptor(epoll_create1(EPOLL_CLOEXEC), "an epoll descriptor")),
          fWake(Descriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), "an event descriptor")) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.ptr = nullptr;
        epoll_ctl(fPoll, EPOLL_CTL_ADD, fWake, &event);
    }
    ~TCore() {
        close(fWake);
        close(fPoll);
    }
    TCore(const TCore&) = delete;
    TCore& operator=(const TCore&) = delete;

    // Reports every change of socket's readiness to link, until the socket is closed.
    bool Watch(TSocket socket, TLoopLink& link) {
        epoll_event event{};
        event.events = EPOLLIN | EPOLLOUT | EPOLLET;
        event.data.ptr = &link;
        return epoll_ctl(fPoll, EPOLL_CTL_ADD, socket, &event) == 0;
    }

    void Wake() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(fWake, &one, sizeof one);
    }

    void TakeWake() {
        std::uint64_t count = 0;
        [[maybe_unused]] const ssize_t read = ::read(fWake, &count, sizeof count);
    }

    // Waits for readiness or the earliest deadline; the ready links (null for a wake-up).
    int Wait(epoll_event* events, TLinkTime now) {
        timespec span{};
        timespec* limit = nullptr;
        if (!Timers.Empty()) {
            const auto left = std::max(Timers.Earliest() - now, TLinkClock::duration::zero());
            const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
            span = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
            limit = &span;
        }
        const int count = epoll_pwait2(fPoll, events, MAX_EVENTS, limit, nullptr);
        return count < 0 ? 0 : count;
    }

    TTimerQueue<TLoopLink> Timers;
    // Links that have ended since the loop last let go of them.
    std::vector<TLoopLink*> Ended;
    // Replies are decoded here, and handed to the machine before the next is read.
    TSwBuffer Reply{};
    std::uint8_t Chunk[RECEIVE_CHUNK]{};

private:
    const int fPoll;
    const int fWake;
};

// ---- One link --------------------------------------------------------------------

// A link as the loop drives it: the machine, the socket, the request being sent and the
// reply being read.
class TLoopLink {
public:
    TLoopLink(TSwObject& link, QObject* target, const TLinkSetup& setup)
        : fLink(link), fTarget(target), fAddress(link.fAddress), fPort(link.fPort),
          fMachine(link.fCommands, {link.SettingsWritten, link.PowerWritten}, setup) {}

    void Begin(TLinkLoop::TCore& core, TLinkTime now) { Carry(core, fMachine.Start(), now); }

    void Ready(TLinkLoop::TCore& core, std::uint32_t events, TLinkTime now) {
        fReadable = fReadable || (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0;
        fWritable = fWritable || (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0;
        if (fWait == TWait::Connect && fWritable)
            Carry(core, Opened(core, now), now);
        else if (fWait == TWait::Send && fWritable)
            Carry(core, Send(core, now), now);
        else if (fWait == TWait::Receive && fReadable)
            Carry(core, Receive(core, now), now);
    }

    void Expired(TLinkLoop::TCore& core, TLinkTime now) {
        const TWait wait = std::exchange(fWait, TWait::None);
        switch (wait) {
        case TWait::Connect:
            CloseSocket();
            return Carry(core, fMachine.ConnectFailed(), now);
        case TWait::Send:
            return Carry(core, fMachine.SendFailed(SOCK_ERR_TIMEOUT), now);
        case TWait::Receive:
            return Carry(core, fMachine.ReceiveFailed(SOCK_ERR_TIMEOUT, now), now);
        case TWait::Pause:
            return Carry(core, fMachine.PauseEnded(now), now);
        default:
            return;
        }
    }

    // A stop ends a wait between cycles at once; everything else runs to the machine's
    // next look at it.
    void Stop(TLinkLoop::TCore& core, TLinkTime now) {
        fStopRequested = true;
        fMachine.RequestStop();
        if (fWait == TWait::Pause && fBetweenCycles)
            Carry(core, Resume(core, fMachine.PauseEnded(now)), now);
    }

    bool Ended() const { return fEnded; }
    TSwObject& Link() const { return fLink; }

    TTimerSlot Timer;

private:
    enum class TWait { None, Connect, Send, Receive, Pause };

    void Carry(TLinkLoop::TCore& core, TLinkStep step, TLinkTime now) {
        for (;;) {
            switch (step.Action) {
            case TLinkAction::Post:
                PostNotification(fTarget, new TSwNotification(step.Notice));
                step = fMachine.Next();
                break;
            case TLinkAction::Connect:
                step = Open(core, step.Limit, now);
                break;
            case TLinkAction::Exchange:
                step = BeginExchange(core, step, now);
                break;
            case TLinkAction::Pause:
            case TLinkAction::Wait:
                step = Pause(core, step, now);
                break;
            case TLinkAction::Close:
                return End(core, step);
            case TLinkAction::None:
                return;
            }
        }
    }

    void Arm(TLinkLoop::TCore& core, TWait wait, TLinkTime deadline) {
        fWait = wait;
        core.Timers.Set(*this, deadline);
    }

    // Ends the wait in progress and hands on the input that ended it.
    TLinkStep Resume(TLinkLoop::TCore& core, TLinkStep step) {
        fWait = TWait::None;
        core.Timers.Cancel(*this);
        return step;
    }

    TLinkStep Pause(TLinkLoop::TCore& core, const TLinkStep& step, TLinkTime now) {
        fBetweenCycles = step.Action == TLinkAction::Wait;
        if (fBetweenCycles && fStopRequested)
            return fMachine.PauseEnded(now);
        Arm(core, TWait::Pause, step.Until);
        return {};
    }

    TLinkStep Open(TLinkLoop::TCore& core, std::chrono::milliseconds limit, TLinkTime now) {
        if (!SocketOpen(fSocket) || !core.Watch(fSocket, *this)) {
            CloseSocket();
            return fMachine.ConnectFailed();
        }
        if (SocketConnect(fSocket, fAddress, fPort))
            return Connected(now);
        const int error = SocketLastError();
        if (error != SOCK_ERR_WOULD_BLOCK && error != SOCK_ERR_IN_PROGRESS) {
            CloseSocket();
            return fMachine.ConnectFailed();
        }
        Arm(core, TWait::Connect, now + limit);
        return {};
    }

    TLinkStep Opened(TLinkLoop::TCore& core, TLinkTime now) {
        Resume(core, {});
        if (SocketConnectResult(fSocket))
            return Connected(now);
        CloseSocket();
        return fMachine.ConnectFailed();
    }

    TLinkStep Connected(TLinkTime now) {
        fLink.fSocket = fSocket;
        return fMachine.Connected(now);
    }

    TLinkStep BeginExchange(TLinkLoop::TCore& core, const TLinkStep& step, TLinkTime now) {
        fFrameLength =
            EncodeFrame(step.Request.data(), static_cast<int>(step.Request.size()), fFrame);
        fSent = 0;
        fLimit = step.Limit;
        Arm(core, TWait::Send, now + fLimit);
        return Send(core, now);
    }

    TLinkStep Send(TLinkLoop::TCore& core, TLinkTime now) {
        while (fSent < fFrameLength) {
            int sent = 0;
            if (!SocketSend(fSocket, fFrame + fSent, fFrameLength - fSent, sent)) {
                const int error = SocketLastError();
                if (error != SOCK_ERR_WOULD_BLOCK)
                    return Resume(core, fMachine.SendFailed(error));
                fWritable = false;
                return {};
            }
            fSent += sent;
        }
        fRaw.clear();
        fSearch = {};
        Arm(core, TWait::Receive, now + fLimit);
        return Receive(core, now);
    }

    // Reads as ReceiveFrame does, a chunk at a time, until the first frame is whole; what
    // follows it stays in the socket for the next receive.
    TLinkStep Receive(TLinkLoop::TCore& core, TLinkTime now) {
        while (fReadable) {
            int received = 0;
            const int room = ReadRoom(static_cast<int>(fRaw.size()));
            if (!SocketRecv(fSocket, core.Chunk, room, received)) {
                const int error = SocketLastError();
                if (error != SOCK_ERR_WOULD_BLOCK)
                    return Resume(core, fMachine.ReceiveFailed(error, now));
                fReadable = false;
                return {};
            }
            // A read that did not fill its room emptied the socket; what arrives later
            // is reported anew.
            fReadable = received == room;
            fRaw.insert(fRaw.end(), core.Chunk, core.Chunk + received);
            fSearch.Scan(fRaw.data(), static_cast<int>(fRaw.size()));
            if (fSearch.Found())
                return Resume(core, Replied(core, now));
            if (fRaw.size() == SW_BUFFER_SIZE)
                return Resume(core, fMachine.ReceiveFailed(SOCK_ERR_BAD_FRAME, now));
        }
        return {};
    }

    TLinkStep Replied(TLinkLoop::TCore& core, TLinkTime now) {
        int length = 0;
        if (!TakeFoundFrame(fRaw.data(), fSearch, core.Reply, length))
            return fMachine.ReceiveFailed(SocketLastError(), now);
        return fMachine.Replied(core.Reply.data(), length, now);
    }

    void CloseSocket() {
        // Closing the descriptor also takes it off the loop's watch.
        SocketShutdown(fSocket);
    }

    void End(TLinkLoop::TCore& core, const TLinkStep& close) {
        Resume(core, {});
        fLink.fLastError = close.Error;
        CloseSocket();
        fLink.fSocket = INVALID_SOCKET;
        fLink.fRunning = false;
        PostNotification(fTarget, new TSwNotification(close.Notice));
        fEnded = true;
        core.Ended.push_back(this);
    }

    TSwObject& fLink;
    QObject* const fTarget;
    const std::string fAddress;
    const std::int32_t fPort;
    TLinkMachine fMachine;
    TSocket fSocket = INVALID_SOCKET;
    TWait fWait = TWait::None;
    bool fBetweenCycles = false;
    bool fStopRequested = false;
    bool fEnded = false;
    // Readiness seen since the last read or send that would have blocked.
    bool fReadable = false;
    bool fWritable = false;
    std::uint8_t fFrame[MAX_REQUEST_FRAME]{};
    int fFrameLength = 0;
    int fSent = 0;
    std::chrono::milliseconds fLimit{0};
    std::vector<std::uint8_t> fRaw;
    TFrameSearch fSearch;
};

// ---- Loop ------------------------------------------------------------------------

TLinkLoop::TLinkLoop() : fCore(std::make_unique<TCore>()), fThread([this] { Run(); }) {}

TLinkLoop::~TLinkLoop() {
    {
        const std::lock_guard lock(fLock);
        fQuit = true;
    }
    fCore->Wake();
    fThread.join();
}

void TLinkLoop::Start(TSwObject& link, QObject* target, const TLinkSetup& setup) {
    {
        const std::lock_guard lock(fLock);
        fActive.insert(&link);
    }
    Send({&link, std::make_unique<TLoopLink>(link, target, setup)});
}

void TLinkLoop::RequestStop(TSwObject& link) {
    Send({&link, nullptr});
}

void TLinkLoop::WaitEnded(const TSwObject& link) {
    std::unique_lock lock(fLock);
    fEnded.wait(lock, [&] { return fActive.count(&link) == 0; });
}

void TLinkLoop::Send(TMail mail) {
    {
        const std::lock_guard lock(fLock);
        fMail.push_back(std::move(mail));
    }
    fCore->Wake();
}

void TLinkLoop::Run() {
    epoll_event events[MAX_EVENTS];
    for (;;) {
        const int count = fCore->Wait(events, TLinkClock::now());
        const TLinkTime now = TLinkClock::now();
        for (int i = 0; i < count; ++i) {
            auto* link = static_cast<TLoopLink*>(events[i].data.ptr);
            if (link == nullptr) {
                if (!TakeMail())
                    return;
            } else if (!link->Ended()) {
                link->Ready(*fCore, events[i].events, now);
            }
        }
        while (TLoopLink* due = fCore->Timers.PopDue(now))
            due->Expired(*fCore, now);
        Reap();
    }
}

// Starts and stops what the mail asks for; false once the loop is to end.
bool TLinkLoop::TakeMail() {
    fCore->TakeWake();
    std::vector<TMail> mail;
    {
        const std::lock_guard lock(fLock);
        if (fQuit)
            return false;
        mail.swap(fMail);
    }
    const TLinkTime now = TLinkClock::now();
    for (TMail& item : mail) {
        if (item.Served) {
            TLoopLink& served = *item.Served;
            fServed[item.Link] = std::move(item.Served);
            served.Begin(*fCore, now);
            continue;
        }
        const auto found = fServed.find(item.Link);
        if (found != fServed.end() && !found->second->Ended())
            found->second->Stop(*fCore, now);
    }
    return true;
}

// Lets go of the links that have ended, and tells whoever waits for them.
void TLinkLoop::Reap() {
    if (fCore->Ended.empty())
        return;
    std::vector<const TSwObject*> ended;
    for (TLoopLink* link : std::exchange(fCore->Ended, {})) {
        ended.push_back(&link->Link());
        fServed.erase(&link->Link());
    }
    {
        const std::lock_guard lock(fLock);
        for (const TSwObject* link : ended)
            fActive.erase(link);
    }
    fEnded.notify_all();
}
