#include "BenchFloor.h"

#include "BenchReport.h"
#include "DeviceProtocol.h"
#include "ProcessStat.h"
#include "TimerQueue.h"

#include <atomic>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int MAX_EVENTS = 256;
constexpr auto REPLY_LIMIT = std::chrono::seconds(3);

// One polled device: between cycles Group is 0, otherwise the group whose reply is awaited.
struct TFloorDevice {
    TTimerSlot Timer;
    // When its first cycle is to begin: the devices' cycles are spread over one interval,
    // so that they do not all ask at once.
    Clock::time_point FirstCycle{};
    TSocket Socket = INVALID_SOCKET;
    bool Connected = false;
    bool Polled = false;
    int Group = 0;
    Clock::time_point CycleStart{};
    std::vector<std::uint8_t> Raw;
    TFrameSearch Search;
};

} // namespace

class TFloorPoller::TState {
public:
    TState(const std::vector<std::string>& addresses, int port, std::chrono::milliseconds interval)
        : fInterval(interval), fPoll(epoll_create1(EPOLL_CLOEXEC)),
          fStop(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)), fDevices(addresses.size()) {
        if (fPoll < 0 || fStop < 0)
            throw TBenchError("the floor poller cannot create its descriptors");
        Watch(fStop, EPOLLIN, nullptr);
        const Clock::time_point start = Clock::now();
        for (std::size_t i = 0; i < addresses.size(); ++i) {
            fDevices[i].FirstCycle =
                start + interval * static_cast<long>(i) / static_cast<long>(addresses.size());
            Open(fDevices[i], addresses[i], port);
        }
        fThread = std::thread([this] { Run(); });
    }

    ~TState() {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(fStop, &one, sizeof one);
        fThread.join();
        for (TFloorDevice& device : fDevices)
            SocketShutdown(device.Socket);
        close(fStop);
        close(fPoll);
    }

    int Up() const { return fUp.load(); }
    int Failed() const { return fFailed.load(); }
    double CpuSeconds() const { return ThreadCpuSeconds(fThreadId.load()); }

private:
    void Watch(int descriptor, std::uint32_t events, TFloorDevice* device) {
        epoll_event event{};
        event.events = events;
        event.data.ptr = device;
        epoll_ctl(fPoll, EPOLL_CTL_ADD, descriptor, &event);
    }

    void Open(TFloorDevice& device, const std::string& address, int port) {
        if (!SocketOpen(device.Socket))
            return Fail(device);
        Watch(device.Socket, EPOLLIN | EPOLLOUT | EPOLLET, &device);
        if (!SocketConnect(device.Socket, address, port) &&
            SocketLastError() != SOCK_ERR_IN_PROGRESS && SocketLastError() != SOCK_ERR_WOULD_BLOCK)
            Fail(device);
    }

    void Run() {
        fThreadId = gettid();
        epoll_event events[MAX_EVENTS];
        for (;;) {
            const int count = epoll_pwait2(fPoll, events, MAX_EVENTS, Limit(), nullptr);
            const Clock::time_point now = Clock::now();
            for (int i = 0; i < count; ++i) {
                auto* device = static_cast<TFloorDevice*>(events[i].data.ptr);
                if (device == nullptr)
                    return;
                Ready(*device, events[i].events, now);
            }
            while (TFloorDevice* due = fTimers.PopDue(now))
                Expired(*due, now);
        }
    }

    // The time to the earliest deadline, null when there is none.
    const timespec* Limit() {
        if (fTimers.Empty())
            return nullptr;
        const auto left = std::max(fTimers.Earliest() - Clock::now(), Clock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        fLimit = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        return &fLimit;
    }

    void Ready(TFloorDevice& device, std::uint32_t events, Clock::time_point now) {
        if (device.Socket == INVALID_SOCKET)
            return;
        if (!device.Connected) {
            if ((events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) == 0)
                return;
            if (!SocketConnectResult(device.Socket))
                return Fail(device);
            device.Connected = true;
            return fTimers.Set(device, std::max(now, device.FirstCycle));
        }
        if (device.Group != 0 && (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0)
            Read(device, now);
    }

    void Expired(TFloorDevice& device, Clock::time_point now) {
        if (device.Group == 0)
            StartCycle(device, now);
        else
            Fail(device);
    }

    void StartCycle(TFloorDevice& device, Clock::time_point now) {
        device.CycleStart = now;
        Request(device, device.Polled ? GROUP_STATE : GROUP_IDENTITY, now);
    }

    void Request(TFloorDevice& device, int group, Clock::time_point now) {
        std::uint8_t frame[2 * HEADER_SIZE + FRAME_OVERHEAD];
        const int length = EncodeFrame(GroupSpec(group).Request.data(), HEADER_SIZE, frame);
        int sent = 0;
        if (!SocketSend(device.Socket, frame, length, sent) || sent != length)
            return Fail(device);
        device.Group = group;
        device.Raw.clear();
        device.Search = {};
        fTimers.Set(device, now + REPLY_LIMIT);
    }

    void Read(TFloorDevice& device, Clock::time_point now) {
        while (!device.Search.Found()) {
            int received = 0;
            const int room = ReadRoom(static_cast<int>(device.Raw.size()));
            if (!SocketRecv(device.Socket, fChunk, room, received)) {
                if (SocketLastError() != SOCK_ERR_WOULD_BLOCK)
                    Fail(device);
                return;
            }
            device.Raw.insert(device.Raw.end(), fChunk, fChunk + received);
            device.Search.Scan(device.Raw.data(), static_cast<int>(device.Raw.size()));
            if (!device.Search.Found() && device.Raw.size() == SW_BUFFER_SIZE)
                return Fail(device);
        }
        int length = 0;
        if (!TakeFoundFrame(device.Raw.data(), device.Search, fReply, length) ||
            !AcceptPollReply(device.Group, fReply.data(), length))
            return Fail(device);
        if (device.Group != GROUP_COUNTERS)
            return Request(device, device.Group == GROUP_IDENTITY ? GROUP_STATE : device.Group + 1,
                           now);
        EndCycle(device);
    }

    void EndCycle(TFloorDevice& device) {
        if (!device.Polled)
            ++fUp;
        device.Polled = true;
        device.Group = 0;
        fTimers.Set(device, device.CycleStart + fInterval);
    }

    void Fail(TFloorDevice& device) {
        fTimers.Cancel(device);
        SocketShutdown(device.Socket);
        ++fFailed;
    }

    const std::chrono::milliseconds fInterval;
    const int fPoll;
    const int fStop;
    std::vector<TFloorDevice> fDevices;
    TTimerQueue<TFloorDevice> fTimers;
    timespec fLimit{};
    TSwBuffer fReply{};
    std::uint8_t fChunk[RECEIVE_CHUNK]{};
    std::atomic<int> fUp{0};
    std::atomic<int> fFailed{0};
    std::atomic<pid_t> fThreadId{0};
    std::thread fThread;
};

TFloorPoller::TFloorPoller(const std::vector<std::string>& addresses, int port,
                           std::chrono::milliseconds interval)
    : fState(std::make_unique<TState>(addresses, port, interval)) {}

TFloorPoller::~TFloorPoller() = default;

int TFloorPoller::Up() const {
    return fState->Up();
}

int TFloorPoller::Failed() const {
    return fState->Failed();
}

double TFloorPoller::CpuSeconds() const {
    return fState->CpuSeconds();
}
