#include "LinkLoop.h"

#include "EventLoop.h"
#include "Notification.h"
#include "UnitThread.h"

#include <sys/epoll.h>

namespace {

// The longest request, the settings write, as a frame with every byte escaped.
constexpr int MAX_REQUEST_FRAME = 2 * MAX_WRITE_REQUEST + FRAME_OVERHEAD;

} // namespace

// ---- Core ------------------------------------------------------------------------

class TLinkLoop::TCore {
public:
    TCore(TLinkLoop& owner, TEventLoop& loop) : Loop(loop), fOwner(owner) {}

    // Lets go of link once the loop is done with what it is doing.
    void Ended(TLoopLink& link) {
        Loop.Post([this, &link] { fOwner.Reap(link); });
    }

    TEventLoop& Loop;
    // Replies are decoded here, and handed to the machine before the next is read.
    TSwBuffer Reply{};
    std::uint8_t Chunk[RECEIVE_CHUNK]{};

private:
    TLinkLoop& fOwner;
};

// ---- One link --------------------------------------------------------------------

// A link as the loop drives it: the machine, the socket, the request being sent and the
// reply being read.
class TLoopLink {
public:
    TLoopLink(TLinkLoop::TCore& core, TSwObject& link, QObject* target, const TLinkSetup& setup)
        : fCore(core), fLink(link), fTarget(target), fAddress(link.fAddress), fPort(link.fPort),
          fMachine(link.fCommands, {link.SettingsWritten, link.PowerWritten}, setup),
          fDeadline(core.Loop, [this](TLinkTime now) { Expired(now); }) {}

    void Begin(TLinkTime now) { Carry(fMachine.Start(), now); }

    void Ready(std::uint32_t events, TLinkTime now) {
        fReadable = fReadable || (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0;
        fWritable = fWritable || (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0;
        if (fWait == TWait::Connect && fWritable)
            Carry(Opened(now), now);
        else if (fWait == TWait::Send && fWritable)
            Carry(Send(now), now);
        else if (fWait == TWait::Receive && fReadable)
            Carry(Receive(now), now);
    }

private:
    enum class TWait { None, Connect, Send, Receive, Pause };

    void Expired(TLinkTime now) {
        const TWait wait = std::exchange(fWait, TWait::None);
        switch (wait) {
        case TWait::Connect:
            CloseSocket();
            return Carry(fMachine.ConnectFailed(), now);
        case TWait::Send:
            return Carry(fMachine.SendFailed(SOCK_ERR_TIMEOUT), now);
        case TWait::Receive:
            return Carry(fMachine.ReceiveFailed(SOCK_ERR_TIMEOUT, now), now);
        case TWait::Pause:
            return Carry(fMachine.PauseEnded(now), now);
        default:
            return;
        }
    }

public:
    // A stop ends a wait between cycles at once; everything else runs to the machine's
    // next look at it.
    void Stop(TLinkTime now) {
        fStopRequested = true;
        fMachine.RequestStop();
        if (fWait == TWait::Pause && fBetweenCycles)
            Carry(Resume(fMachine.PauseEnded(now)), now);
    }

    bool Ended() const { return fEnded; }
    TSwObject& Link() const { return fLink; }

private:
    void Carry(TLinkStep step, TLinkTime now) {
        for (;;) {
            switch (step.Action) {
            case TLinkAction::Post:
                PostNotification(fTarget, new TSwNotification(step.Notice));
                step = fMachine.Next();
                break;
            case TLinkAction::Connect:
                step = Open(step.Limit, now);
                break;
            case TLinkAction::Exchange:
                step = BeginExchange(step, now);
                break;
            case TLinkAction::Pause:
            case TLinkAction::Wait:
                step = Pause(step, now);
                break;
            case TLinkAction::Close:
                return End(step);
            case TLinkAction::None:
                return;
            }
        }
    }

    void Arm(TWait wait, TLinkTime deadline) {
        fWait = wait;
        fDeadline.Set(deadline);
    }

    // Ends the wait in progress and hands on the input that ended it.
    TLinkStep Resume(TLinkStep step) {
        fWait = TWait::None;
        fDeadline.Cancel();
        return step;
    }

    TLinkStep Pause(const TLinkStep& step, TLinkTime now) {
        fBetweenCycles = step.Action == TLinkAction::Wait;
        if (fBetweenCycles && fStopRequested)
            return fMachine.PauseEnded(now);
        Arm(TWait::Pause, step.Until);
        return {};
    }

    TLinkStep Open(std::chrono::milliseconds limit, TLinkTime now) {
        if (!SocketOpen(fSocket) || !Watch()) {
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
        Arm(TWait::Connect, now + limit);
        return {};
    }

    // Every change of the socket's readiness, until it is closed.
    bool Watch() {
        fWatch =
            fCore.Loop.Watch(fSocket, EPOLLIN | EPOLLOUT | EPOLLET,
                             [this](std::uint32_t events, TLinkTime now) { Ready(events, now); });
        return fWatch != 0;
    }

    TLinkStep Opened(TLinkTime now) {
        Resume({});
        if (SocketConnectResult(fSocket))
            return Connected(now);
        CloseSocket();
        return fMachine.ConnectFailed();
    }

    TLinkStep Connected(TLinkTime now) {
        fLink.fSocket = fSocket;
        return fMachine.Connected(now);
    }

    TLinkStep BeginExchange(const TLinkStep& step, TLinkTime now) {
        fFrameLength =
            EncodeFrame(step.Request.data(), static_cast<int>(step.Request.size()), fFrame);
        fSent = 0;
        fLimit = step.Limit;
        Arm(TWait::Send, now + fLimit);
        return Send(now);
    }

    TLinkStep Send(TLinkTime now) {
        while (fSent < fFrameLength) {
            int sent = 0;
            if (!SocketSend(fSocket, fFrame + fSent, fFrameLength - fSent, sent)) {
                const int error = SocketLastError();
                if (error != SOCK_ERR_WOULD_BLOCK)
                    return Resume(fMachine.SendFailed(error));
                fWritable = false;
                return {};
            }
            fSent += sent;
        }
        fRaw.clear();
        fSearch = {};
        Arm(TWait::Receive, now + fLimit);
        return Receive(now);
    }

    // Reads as ReceiveFrame does, a chunk at a time, until the first frame is whole; what
    // follows it stays in the socket for the next receive.
    TLinkStep Receive(TLinkTime now) {
        while (fReadable) {
            int received = 0;
            const int room = ReadRoom(static_cast<int>(fRaw.size()));
            if (!SocketRecv(fSocket, fCore.Chunk, room, received)) {
                const int error = SocketLastError();
                if (error != SOCK_ERR_WOULD_BLOCK)
                    return Resume(fMachine.ReceiveFailed(error, now));
                fReadable = false;
                return {};
            }
            // A read that did not fill its room emptied the socket; what arrives later
            // is reported anew.
            fReadable = received == room;
            fRaw.insert(fRaw.end(), fCore.Chunk, fCore.Chunk + received);
            fSearch.Scan(fRaw.data(), static_cast<int>(fRaw.size()));
            if (fSearch.Found())
                return Resume(Replied(now));
            if (fRaw.size() == SW_BUFFER_SIZE)
                return Resume(fMachine.ReceiveFailed(SOCK_ERR_BAD_FRAME, now));
        }
        return {};
    }

    TLinkStep Replied(TLinkTime now) {
        int length = 0;
        if (!TakeFoundFrame(fRaw.data(), fSearch, fCore.Reply, length))
            return fMachine.ReceiveFailed(SocketLastError(), now);
        return fMachine.Replied(fCore.Reply.data(), length, now);
    }

    void CloseSocket() {
        fCore.Loop.Unwatch(std::exchange(fWatch, 0));
        SocketShutdown(fSocket);
    }

    void End(const TLinkStep& close) {
        Resume({});
        fLink.fLastError = close.Error;
        CloseSocket();
        fLink.fSocket = INVALID_SOCKET;
        fLink.fRunning = false;
        PostNotification(fTarget, new TSwNotification(close.Notice));
        fEnded = true;
        fCore.Ended(*this);
    }

    TLinkLoop::TCore& fCore;
    TSwObject& fLink;
    QObject* const fTarget;
    const std::string fAddress;
    const std::int32_t fPort;
    TLinkMachine fMachine;
    TEventLoop::TDeadline fDeadline;
    TSocket fSocket = INVALID_SOCKET;
    TEventLoop::TWatchId fWatch = 0;
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

TLinkLoop::TLinkLoop()
    : fOwnLoop(std::make_unique<TEventLoop>()), fLoop(*fOwnLoop),
      fCore(std::make_unique<TCore>(*this, fLoop)) {}

TLinkLoop::TLinkLoop(TEventLoop& loop) : fLoop(loop), fCore(std::make_unique<TCore>(*this, loop)) {}

// Stop requests for links that had ended already may still be on their way.
TLinkLoop::~TLinkLoop() {
    fLoop.Call([] {});
}

void TLinkLoop::Start(TSwObject& link, QObject* target, const TLinkSetup& setup) {
    {
        const std::lock_guard lock(fLock);
        fActive.insert(&link);
    }
    // A task is copied, so the link travels as a plain pointer and is owned again there.
    fLoop.Post([this, served = new TLoopLink(*fCore, link, target, setup)] {
        Begin(std::unique_ptr<TLoopLink>(served));
    });
}

void TLinkLoop::RequestStop(TSwObject& link) {
    fLoop.Post([this, &link] { Stop(link); });
}

void TLinkLoop::WaitEnded(const TSwObject& link) {
    std::unique_lock lock(fLock);
    fEnded.wait(lock, [&] { return fActive.count(&link) == 0; });
}

void TLinkLoop::Begin(std::unique_ptr<TLoopLink> served) {
    TLoopLink& link = *served;
    fServed[&link.Link()] = std::move(served);
    link.Begin(TLinkClock::now());
}

void TLinkLoop::Stop(TSwObject& link) {
    const auto found = fServed.find(&link);
    if (found != fServed.end() && !found->second->Ended())
        found->second->Stop(TLinkClock::now());
}

// Lets go of a link that has ended, and tells whoever waits for it.
void TLinkLoop::Reap(TLoopLink& ended) {
    TSwObject* link = &ended.Link();
    fServed.erase(link);
    {
        const std::lock_guard lock(fLock);
        fActive.erase(link);
    }
    fEnded.notify_all();
}
