#include "SimDevice.h"

#include "FrameScan.h"
#include "Listener.h"
#include "SimProtocol.h"
#include "SimScript.h"
#include "UnitProc.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr auto SEND_TIMEOUT = 3000ms;
constexpr auto SERVED_WAIT = 2s;
constexpr int READ_CHUNK = 1024;

bool SetNoDelay(TSocket handle) {
    int on = 1;
    return setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

} // namespace

TSimDevice::TSimDevice(TSimOptions options)
    : fOptions(std::move(options)), fPort(fOptions.Port), fOwnLoop(std::make_unique<TSimLoop>()),
      fLoop(*fOwnLoop), fScene(fOptions.Scene) {}

TSimDevice::TSimDevice(TSimOptions options, TSimLoop& loop)
    : fOptions(std::move(options)), fPort(fOptions.Port), fLoop(loop), fScene(fOptions.Scene) {}

TSimDevice::~TSimDevice() {
    Stop();
}

bool TSimDevice::Start() {
    TAddressValue address{};
    if (!ParseAddress(fOptions.Address, address))
        return false;
    bool refuse = false;
    {
        const std::lock_guard lock(fLock);
        if (fRunning)
            return false;
        refuse = fScene.Faults.Refuse;
    }
    if (fOwnLoop && !fOwnLoop->Start())
        return false;
    bool ready = false;
    fLoop.Call([&] {
        ready = refuse || OpenListener();
        WatchSockets();
    });
    if (!ready) {
        if (fOwnLoop)
            fOwnLoop->Stop();
        return false;
    }
    const std::lock_guard lock(fLock);
    fStopping = false;
    fDropRequested = false;
    fRunning = true;
    return true;
}

void TSimDevice::Stop() {
    {
        const std::lock_guard lock(fLock);
        fStopping = true;
    }
    fChanged.notify_all();
    fLoop.Call([this] { Detach(); });
    if (fOwnLoop)
        fOwnLoop->Stop();
}

std::string TSimDevice::Execute(const std::string& line) {
    std::string output;
    return Execute(line, output);
}

std::string TSimDevice::Execute(const std::string& line, std::string& output) {
    TSimEffect effect;
    const std::string error = Execute(line, effect);
    output = effect.Output;
    return error;
}

std::string TSimDevice::Execute(const std::string& line, TSimEffect& effect) {
    int ticket = 0;
    {
        const std::lock_guard lock(fLock);
        const bool refused = fScene.Faults.Refuse;
        const std::string error = ApplyCommand(fScene, line, effect);
        if (!error.empty())
            return error;
        fDropRequested = fDropRequested || effect.Drop;
        if (effect.Drop || refused != fScene.Faults.Refuse)
            ticket = ++fRequested;
    }
    fChanged.notify_all();
    if (ticket > 0) {
        fLoop.Call([this] {
            ApplyRequests();
            WatchSockets();
        });
        WaitServed(ticket);
    }
    Pause(effect.WaitMs);
    if (effect.WaitStation)
        WaitForStation();
    return {};
}

bool TSimDevice::Running() const {
    const std::lock_guard lock(fLock);
    return fRunning && !fStopping;
}

TSimState TSimDevice::State() const {
    const std::lock_guard lock(fLock);
    return fScene.State;
}

TSimFaults TSimDevice::Faults() const {
    const std::lock_guard lock(fLock);
    return fScene.Faults;
}

std::vector<TSimRecord> TSimDevice::Received() const {
    const std::lock_guard lock(fLock);
    return fReceived;
}

void TSimDevice::ClearReceived() {
    const std::lock_guard lock(fLock);
    // The memory goes too, so that a long test that clears now and then keeps none of it.
    fReceived = std::vector<TSimRecord>();
}

bool TSimDevice::WaitUntil(const std::function<bool(const std::vector<TSimRecord>&)>& done,
                           std::chrono::milliseconds timeout) const {
    std::unique_lock lock(fLock);
    return fChanged.wait_for(lock, timeout, [&] { return done(fReceived); });
}

bool TSimDevice::WaitReceived(std::size_t count, std::chrono::milliseconds timeout) const {
    return WaitUntil([count](const auto& records) { return records.size() >= count; }, timeout);
}

int TSimDevice::Connections() const {
    const std::lock_guard lock(fLock);
    return fConnections;
}

bool TSimDevice::StationConnected() const {
    const std::lock_guard lock(fLock);
    return fStationConnected;
}

bool TSimDevice::WaitConnections(int count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(fLock);
    return fChanged.wait_for(lock, timeout, [&] { return fConnections >= count; });
}

bool TSimDevice::WaitStation(bool connected, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(fLock);
    return fChanged.wait_for(lock, timeout, [&] { return fStationConnected == connected; });
}

// ---- On the loop's thread ---------------------------------------------------------------

bool TSimDevice::OpenListener() {
    if (!ListenOn(fOptions.Address, fPort.load(), 4, fListener))
        return false;
    fPort = BoundPort(fListener);
    fLoop.Watch(fListener, [this](std::uint32_t) {
        // The station first, whatever order epoll gives: a station that has just left
        // makes room for the next one.
        if (fStation != INVALID_SOCKET)
            ReadStation();
        AcceptStation();
        Settle();
    });
    return true;
}

void TSimDevice::CloseListener() {
    fLoop.Unwatch(fListener);
    SocketShutdown(fListener);
}

void TSimDevice::Detach() {
    CloseStation("device stopped");
    CloseListener();
    {
        const std::lock_guard lock(fLock);
        fRunning = false;
    }
    fChanged.notify_all();
}

// Carries out what Execute asked for (drop, refuse) and tells it so; a reply under way
// goes out first.
void TSimDevice::ApplyRequests() {
    if (fReply) {
        fRequestsDeferred = true;
        return;
    }
    std::unique_lock lock(fLock);
    if (!fRunning || fStopping)
        return;
    const bool drop = std::exchange(fDropRequested, false);
    const bool refuse = fScene.Faults.Refuse;
    const int ticket = fRequested;
    lock.unlock();
    if (drop)
        CloseStation("connection dropped");
    FollowRefuse(refuse);
    lock.lock();
    fServed = ticket;
    lock.unlock();
    fChanged.notify_all();
}

void TSimDevice::FollowRefuse(bool refuse) {
    if (refuse && fListener != INVALID_SOCKET) {
        CloseListener();
        Report("not listening");
    } else if (!refuse && fListener == INVALID_SOCKET && OpenListener()) {
        Report("listening again");
    }
}

// After each event on the sockets or of a reply: once no reply is under way, takes the
// frames already received and what Execute asked for meanwhile, in that order.
void TSimDevice::Settle() {
    if (!fReply)
        TakeFrames();
    if (!fReply && std::exchange(fRequestsDeferred, false))
        ApplyRequests();
    WatchSockets();
}

// While a reply is under way the device neither reads nor takes a new station: it waits
// for the socket to take the reply, or for nothing while the reply's timer runs.
void TSimDevice::WatchSockets() {
    constexpr std::uint32_t NONE = 0;
    constexpr std::uint32_t READ = EPOLLIN;
    constexpr std::uint32_t WRITE = EPOLLOUT;
    fLoop.Want(fStation, !fReply ? READ : fReply->Flushing ? WRITE : NONE);
    fLoop.Want(fListener, fReply ? NONE : READ);
}

void TSimDevice::AcceptStation() {
    TSocket handle = accept(fListener, nullptr, nullptr);
    if (handle == INVALID_SOCKET)
        return;
    if (fStation != INVALID_SOCKET) {
        SocketShutdown(handle);
        Report("second station turned away");
        return;
    }
    SocketSetBlocking(handle, false);
    SetNoDelay(handle);
    fStation = handle;
    fPending.clear();
    fLoop.Watch(fStation, [this](std::uint32_t) {
        OnStation();
        Settle();
    });
    {
        const std::lock_guard lock(fLock);
        ++fConnections;
        fStationConnected = true;
        fScene.Faults.Answered = 0;
    }
    fChanged.notify_all();
    Report("station connected");
}

void TSimDevice::OnStation() {
    if (!fReply)
        ReadStation();
    else if (fReply->Flushing)
        FlushChunk();
}

void TSimDevice::ReadStation() {
    std::uint8_t chunk[READ_CHUNK];
    int received = 0;
    if (!SocketRecv(fStation, chunk, READ_CHUNK, received)) {
        if (SocketLastError() != SOCK_ERR_WOULD_BLOCK)
            CloseStation("station disconnected");
        return;
    }
    fPending.insert(fPending.end(), chunk, chunk + received);
}

// Answers the frames received in order, until one's reply has to wait.
void TSimDevice::TakeFrames() {
    TSimBytes payload;
    while (!fReply && fStation != INVALID_SOCKET) {
        const TFrameScan scan = TakeFrame(fPending, payload, SW_BUFFER_SIZE);
        if (scan == TFrameScan::None)
            return;
        if (scan == TFrameScan::Payload)
            HandlePayload(payload);
        else
            Report("broken frame dropped");
    }
}

void TSimDevice::HandlePayload(const TSimBytes& payload) {
    TSimAnswer answer;
    bool known = false;
    bool send = false;
    TSimFaults faults;
    ++fRequests;
    {
        const std::lock_guard lock(fLock);
        if (fOptions.Record)
            fReceived.push_back(TSimRecord{std::chrono::steady_clock::now(), payload});
        const TSimBytes asked = fScene.Faults.WrongGroup ? NextGroupRequest(payload) : payload;
        known = AnswerRequest(fScene.State, asked, answer);
        send = known && TakeAnswer(fScene.Faults, answer.Acknowledgement);
        faults = fScene.Faults;
    }
    fChanged.notify_all();
    if (Reporting())
        Report("received " + HexText(payload) + (known ? "" : " (unknown request)"));
    if (!send) {
        Report(known ? "no answer (fault)" : "no answer");
        return;
    }
    if (Reporting())
        Report("answer " + HexText(answer.Payload));
    BeginReply(ReplyFrame(faults, answer.Payload), faults);
}

// The reply waits for its delay, then goes out whole or a byte at a time.
void TSimDevice::BeginReply(TSimBytes frame, const TSimFaults& faults) {
    const std::size_t count = faults.CloseMidFrame ? frame.size() / 2 : frame.size();
    fReply = TReply{std::move(frame), count, 0, 0, faults.ByteDelayMs, faults.CloseMidFrame, false};
    if (faults.DelayMs <= 0) {
        SendChunk();
        return;
    }
    fReplyTimer = fLoop.After(std::chrono::milliseconds(faults.DelayMs), [this] {
        SendChunk();
        Settle();
    });
}

// Sends the rest of the reply, or its next byte when they go one at a time; the station
// has SEND_TIMEOUT to take them.
void TSimDevice::SendChunk() {
    fReply->ChunkEnd = fReply->ByteDelayMs > 0 ? fReply->Sent + 1 : fReply->Count;
    FlushChunk();
    if (!fReply || !fReply->Flushing)
        return;
    fSendDeadline = fLoop.After(SEND_TIMEOUT, [this] {
        EndReply(false);
        Settle();
    });
}

// Sends what the socket takes of the chunk; once all of it has gone, the reply ends or
// pauses before its next byte.
void TSimDevice::FlushChunk() {
    TReply& reply = *fReply;
    int sent = 0;
    if (!SocketSend(fStation, reply.Bytes.data() + reply.Sent,
                    static_cast<int>(reply.ChunkEnd - reply.Sent), sent)) {
        if (SocketLastError() != SOCK_ERR_WOULD_BLOCK) {
            EndReply(false);
            return;
        }
        sent = 0;
    }
    reply.Sent += static_cast<std::size_t>(sent);
    reply.Flushing = reply.Sent < reply.ChunkEnd;
    if (reply.Flushing)
        return;
    fLoop.Cancel(fSendDeadline);
    if (reply.Sent == reply.Count) {
        EndReply(true);
        return;
    }
    fReplyTimer = fLoop.After(std::chrono::milliseconds(reply.ByteDelayMs), [this] {
        SendChunk();
        Settle();
    });
}

void TSimDevice::EndReply(bool sent) {
    const bool closeAfter = fReply->CloseAfter;
    DropReply();
    if (!sent)
        CloseStation("sending failed");
    else if (closeAfter)
        CloseStation("connection closed mid-frame (fault)");
}

void TSimDevice::DropReply() {
    fLoop.Cancel(fReplyTimer);
    fLoop.Cancel(fSendDeadline);
    fReply.reset();
}

void TSimDevice::CloseStation(const std::string& reason) {
    DropReply();
    if (fStation == INVALID_SOCKET)
        return;
    fLoop.Unwatch(fStation);
    SocketShutdown(fStation);
    {
        const std::lock_guard lock(fLock);
        fStationConnected = false;
    }
    fChanged.notify_all();
    Report(reason);
}

// ---- Shared helpers --------------------------------------------------------------------

// Waits ms milliseconds unless the device stops first.
void TSimDevice::Pause(int ms) const {
    if (ms <= 0)
        return;
    std::unique_lock lock(fLock);
    fChanged.wait_for(lock, std::chrono::milliseconds(ms), [&] { return fStopping; });
}

// A station that comes and goes again while the waiting thread wakes up counts too.
void TSimDevice::WaitForStation() const {
    std::unique_lock lock(fLock);
    const int before = fConnections;
    fChanged.wait(lock, [&] {
        return fStationConnected || fConnections != before || !fRunning || fStopping;
    });
}

// Waits until the loop has carried out the request numbered ticket for the device, or the
// device no longer runs.
void TSimDevice::WaitServed(int ticket) {
    std::unique_lock lock(fLock);
    fChanged.wait_for(lock, SERVED_WAIT,
                      [&] { return fServed >= ticket || !fRunning || fStopping; });
}

void TSimDevice::Report(const std::string& line) const {
    if (fOptions.OnEvent)
        fOptions.OnEvent(line);
}
