#include "SimLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

constexpr int MAX_EVENTS = 256;

// A watched socket's epoll data: its number in the low half, its generation in the high.
std::uint64_t WatchData(int fd, std::uint32_t generation) {
    return static_cast<std::uint64_t>(generation) << 32 | static_cast<std::uint32_t>(fd);
}

} // namespace

TSimLoop::TSimLoop()
    : fEpoll(epoll_create1(EPOLL_CLOEXEC)), fWake(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    Watch(fWake, [this](std::uint32_t) {
        eventfd_t count = 0;
        eventfd_read(fWake, &count);
    });
    Want(fWake, EPOLLIN);
}

TSimLoop::~TSimLoop() {
    Stop();
    if (fWake >= 0)
        close(fWake);
    if (fEpoll >= 0)
        close(fEpoll);
}

bool TSimLoop::Start() {
    const std::lock_guard lock(fLock);
    if (fServing || fEpoll < 0 || fWake < 0)
        return false;
    fServing = true;
    fStopping = false;
    fThread = std::thread(&TSimLoop::Run, this);
    fThreadId = fThread.get_id();
    return true;
}

void TSimLoop::Stop() {
    {
        const std::lock_guard lock(fLock);
        fStopping = true;
    }
    Wake();
    if (fThread.joinable())
        fThread.join();
}

void TSimLoop::Call(const TTask& task) {
    std::unique_lock lock(fLock);
    if (!fServing || std::this_thread::get_id() == fThreadId) {
        lock.unlock();
        task();
        return;
    }
    fTasks.push_back(task);
    const std::uint64_t ticket = ++fHanded;
    lock.unlock();
    Wake();
    lock.lock();
    fDone.wait(lock, [&] { return fFinished >= ticket; });
}

void TSimLoop::Watch(int fd, TReady ready) {
    if (fd < 0)
        return;
    Unwatch(fd);
    if (static_cast<std::size_t>(fd) >= fWatches.size())
        fWatches.resize(static_cast<std::size_t>(fd) + 1);
    TWatch& watch = fWatches[static_cast<std::size_t>(fd)];
    watch.Taken = true;
    watch.Ready = std::move(ready);
}

void TSimLoop::Want(int fd, std::uint32_t events) {
    if (fd < 0 || static_cast<std::size_t>(fd) >= fWatches.size())
        return;
    TWatch& watch = fWatches[static_cast<std::size_t>(fd)];
    if (!watch.Taken || watch.Events == events)
        return;
    epoll_event entry{};
    entry.events = events;
    entry.data.u64 = WatchData(fd, watch.Generation);
    const int operation = watch.Events == 0 ? EPOLL_CTL_ADD
                          : events == 0     ? EPOLL_CTL_DEL
                                            : EPOLL_CTL_MOD;
    epoll_ctl(fEpoll, operation, fd, &entry);
    watch.Events = events;
}

void TSimLoop::Unwatch(int fd) {
    if (fd < 0 || static_cast<std::size_t>(fd) >= fWatches.size())
        return;
    Want(fd, 0);
    TWatch& watch = fWatches[static_cast<std::size_t>(fd)];
    watch.Taken = false;
    watch.Ready = nullptr;
    ++watch.Generation;
}

TSimLoop::TTimer TSimLoop::After(Clock::duration delay, TTask due) {
    const TTimer timer{Clock::now() + delay, ++fTimerCount};
    fTimers.emplace(timer, std::move(due));
    return timer;
}

void TSimLoop::Cancel(TTimer& timer) {
    fTimers.erase(timer);
    timer = {};
}

// ---- The loop's thread --------------------------------------------------------------------

void TSimLoop::Run() {
    epoll_event events[MAX_EVENTS];
    while (Continue()) {
        const int count = epoll_wait(fEpoll, events, MAX_EVENTS, MsUntilNextTimer());
        for (int i = 0; i < count; ++i)
            Dispatch(events[i].data.u64, events[i].events);
        RunDueTimers();
        RunTasks();
    }
}

// False once Stop has asked and every task handed over before has run; the loop is then
// no longer serving, so that Call runs tasks on its caller.
bool TSimLoop::Continue() {
    std::unique_lock lock(fLock);
    if (!fStopping || !fTasks.empty())
        return true;
    fServing = false;
    fThreadId = {};
    return false;
}

// Rounded up, so that no timer runs early; -1 when no timer waits.
int TSimLoop::MsUntilNextTimer() const {
    if (fTimers.empty())
        return -1;
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(fTimers.begin()->first.first - Clock::now());
    return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Events for a socket unwatched since epoll reported them are dropped, even when its number
// has been given to a new socket meanwhile.
void TSimLoop::Dispatch(std::uint64_t data, std::uint32_t events) {
    const auto fd = static_cast<std::size_t>(data & 0xFFFFFFFF);
    const auto generation = static_cast<std::uint32_t>(data >> 32);
    if (fd >= fWatches.size() || !fWatches[fd].Taken || fWatches[fd].Generation != generation)
        return;
    // A copy, since the handler may unwatch its own socket.
    const TReady ready = fWatches[fd].Ready;
    ready(events);
}

void TSimLoop::RunDueTimers() {
    const Clock::time_point now = Clock::now();
    while (!fTimers.empty() && fTimers.begin()->first.first <= now) {
        auto timer = fTimers.extract(fTimers.begin());
        timer.mapped()();
    }
}

void TSimLoop::RunTasks() {
    std::unique_lock lock(fLock);
    while (!fTasks.empty()) {
        std::vector<TTask> tasks;
        tasks.swap(fTasks);
        lock.unlock();
        for (const TTask& task : tasks)
            task();
        lock.lock();
        fFinished += tasks.size();
        fDone.notify_all();
    }
}

void TSimLoop::Wake() const {
    eventfd_write(fWake, 1);
}
