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
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t SEND_TIMEOUT_MS = 3000;
constexpr auto SERVED_WAIT = 2s;
constexpr int READ_CHUNK = 1024;

bool SetNoDelay(TSocket handle) {
    int on = 1;
    return setsockopt(handle, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) == 0;
}

} // namespace

TSimDevice::TSimDevice(TSimOptions options)
    : fOptions(std::move(options)), fPort(fOptions.Port), fScene(fOptions.Scene),
      fWake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TSimDevice::~TSimDevice() {
    Stop();
    if (fWake >= 0)
        close(fWake);
}

bool TSimDevice::Start() {
    TAddressValue address{};
    if (fThread.joinable() || fWake < 0 || !ParseAddress(fOptions.Address, address))
        return false;
    const std::lock_guard lock(fLock);
    if (!fScene.Faults.Refuse && !OpenListener())
        return false;
    fStopping = false;
    fDropRequested = false;
    fRunning = true;
    fThread = std::thread(&TSimDevice::Serve, this);
    return true;
}

void TSimDevice::Stop() {
    {
        const std::lock_guard lock(fLock);
        fStopping = true;
    }
    fChanged.notify_all();
    WakeServer();
    if (fThread.joinable())
        fThread.join();
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
        WakeServer();
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

// ---- Serving thread ------------------------------------------------------------------

void TSimDevice::Serve() {
    while (ApplyRequests()) {
        WaitForTraffic();
        // The station first: a station that has just left makes room for the next one.
        if (fStationReady)
            ReadStation();
        if (fListenerReady)
            AcceptStation();
    }
    CloseStation("device stopped");
    SocketShutdown(fListener);
    const std::lock_guard lock(fLock);
    fRunning = false;
}

// Carries out what Execute asked for (drop, refuse) and tells it so. False on Stop.
bool TSimDevice::ApplyRequests() {
    std::unique_lock lock(fLock);
    if (fStopping)
        return false;
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
    return true;
}

void TSimDevice::FollowRefuse(bool refuse) {
    if (refuse && fListener != INVALID_SOCKET) {
        SocketShutdown(fListener);
        Report("not listening");
    } else if (!refuse && fListener == INVALID_SOCKET && OpenListener()) {
        Report("listening again");
    }
}

bool TSimDevice::OpenListener() {
    if (!ListenOn(fOptions.Address, fPort.load(), 4, fListener))
        return false;
    fPort = BoundPort(fListener);
    return true;
}

void TSimDevice::WaitForTraffic() {
    pollfd entries[3] = {{fListener, POLLIN, 0}, {fStation, POLLIN, 0}, {fWake, POLLIN, 0}};
    const int ready = poll(entries, 3, -1);
    fListenerReady = ready > 0 && entries[0].revents != 0;
    fStationReady = ready > 0 && entries[1].revents != 0;
    eventfd_t count = 0;
    if (ready > 0 && entries[2].revents != 0)
        eventfd_read(fWake, &count);
}

void TSimDevice::WakeServer() const {
    eventfd_write(fWake, 1);
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
    {
        const std::lock_guard lock(fLock);
        ++fConnections;
        fStationConnected = true;
        fScene.Faults.Answered = 0;
    }
    fChanged.notify_all();
    Report("station connected");
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
    TSimBytes payload;
    for (TFrameScan scan = TakeFrame(fPending, payload, SW_BUFFER_SIZE);
         scan != TFrameScan::None && fStation != INVALID_SOCKET;
         scan = TakeFrame(fPending, payload, SW_BUFFER_SIZE)) {
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
    SendReply(ReplyFrame(faults, answer.Payload), faults);
}

void TSimDevice::SendReply(const TSimBytes& frame, const TSimFaults& faults) {
    if (!Pause(faults.DelayMs))
        return;
    const std::size_t count = faults.CloseMidFrame ? frame.size() / 2 : frame.size();
    const bool sent = faults.ByteDelayMs > 0 ? SendSlowly(frame, count, faults.ByteDelayMs)
                                             : SendAll(fStation, frame.data(),
                                                       static_cast<int>(count), SEND_TIMEOUT_MS);
    if (!sent)
        CloseStation("sending failed");
    else if (faults.CloseMidFrame)
        CloseStation("connection closed mid-frame (fault)");
}

bool TSimDevice::SendSlowly(const TSimBytes& frame, std::size_t count, int pauseMs) {
    for (std::size_t i = 0; i < count; ++i) {
        if ((i > 0 && !Pause(pauseMs)) || !SendAll(fStation, &frame[i], 1, SEND_TIMEOUT_MS))
            return false;
    }
    return true;
}

void TSimDevice::CloseStation(const std::string& reason) {
    if (fStation == INVALID_SOCKET)
        return;
    SocketShutdown(fStation);
    {
        const std::lock_guard lock(fLock);
        fStationConnected = false;
    }
    fChanged.notify_all();
    Report(reason);
}

// ---- Shared helpers --------------------------------------------------------------------

// Waits ms milliseconds unless the device stops first; false when it stopped.
bool TSimDevice::Pause(int ms) const {
    std::unique_lock lock(fLock);
    if (ms <= 0)
        return !fStopping;
    return !fChanged.wait_for(lock, std::chrono::milliseconds(ms), [&] { return fStopping; });
}

// A station that comes and goes again while the waiting thread wakes up counts too.
void TSimDevice::WaitForStation() const {
    std::unique_lock lock(fLock);
    const int before = fConnections;
    fChanged.wait(lock, [&] {
        return fStationConnected || fConnections != before || !fRunning || fStopping;
    });
}

// Waits until the serving thread has carried out the request numbered ticket, or no
// serving thread is there to do it.
void TSimDevice::WaitServed(int ticket) {
    std::unique_lock lock(fLock);
    fChanged.wait_for(lock, SERVED_WAIT,
                      [&] { return fServed >= ticket || !fRunning || fStopping; });
}

void TSimDevice::Report(const std::string& line) const {
    if (fOptions.OnEvent)
        fOptions.OnEvent(line);
}
