#include "EventLoop.h"

#include <algorithm>
#include <condition_variable>
#include <stdexcept>
#include <string>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace {

constexpr int MAX_EVENTS = 256;
// The wake-up's watch; the parties' count from 1.
constexpr TEventLoop::TWatchId WAKE_ID = 0;

int Descriptor(int result, const char* what) {
    if (result < 0)
        throw std::runtime_error(std::string("cannot create ") + what);
    return result;
}

bool Control(int poll, int operation, int descriptor, std::uint32_t events,
             TEventLoop::TWatchId id) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = id;
    return epoll_ctl(poll, operation, descriptor, &event) == 0;
}

} // namespace

TEventLoop::TEventLoop()
    : fPoll(Descriptor(epoll_create1(EPOLL_CLOEXEC), "an epoll descriptor")),
      fWake(Descriptor(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK), "an event descriptor")) {
    Control(fPoll, EPOLL_CTL_ADD, fWake, EPOLLIN, WAKE_ID);
    fThread = std::thread([this] { Run(); });
}

TEventLoop::~TEventLoop() {
    {
        const std::lock_guard lock(fLock);
        fQuit = true;
    }
    eventfd_write(fWake, 1);
    fThread.join();
    close(fWake);
    close(fPoll);
}

void TEventLoop::Post(TTask task) {
    bool first = false;
    {
        const std::lock_guard lock(fLock);
        first = fTasks.empty();
        fTasks.push_back(std::move(task));
    }
    // Tasks already waiting have woken the loop, or are about to be taken.
    if (first)
        eventfd_write(fWake, 1);
}

void TEventLoop::Call(TTask task) {
    std::mutex lock;
    std::condition_variable ran;
    bool done = false;
    Post([&] {
        task();
        const std::lock_guard hold(lock);
        done = true;
        ran.notify_one();
    });
    std::unique_lock hold(lock);
    ran.wait(hold, [&] { return done; });
}

TEventLoop::TWatchId TEventLoop::Watch(int descriptor, std::uint32_t events, THandler handler) {
    const TWatchId id = ++fLastId;
    if (!Control(fPoll, EPOLL_CTL_ADD, descriptor, events, id))
        return 0;
    fWatches.emplace(id, TWatch{descriptor, events, std::move(handler)});
    return id;
}

void TEventLoop::Rewatch(TWatchId id, std::uint32_t events) {
    const auto found = fWatches.find(id);
    if (found == fWatches.end() || found->second.Descriptor < 0 || found->second.Events == events)
        return;
    Control(fPoll, EPOLL_CTL_MOD, found->second.Descriptor, events, id);
    found->second.Events = events;
}

// The handler is let go of after the batch in hand: it may be the one running.
void TEventLoop::Unwatch(TWatchId id) {
    const auto found = fWatches.find(id);
    if (found == fWatches.end() || found->second.Descriptor < 0)
        return;
    epoll_ctl(fPoll, EPOLL_CTL_DEL, found->second.Descriptor, nullptr);
    found->second.Descriptor = -1;
    fUnwatched.push_back(id);
}

void TEventLoop::Run() {
    for (;;) {
        const TTime now = Wait();
        const bool quit = Quitting();
        RunTasks();
        if (quit)
            break;
        while (TDeadline* due = fDeadlines.PopDue(now))
            due->fExpired(now);
    }
    // Tasks handed in while the loop was ending, and those they hand in.
    while (RunTasks()) {
    }
}

// Waits for readiness or the earliest deadline, tells the handlers and returns the time
// the loop woke up.
TEventLoop::TTime TEventLoop::Wait() {
    timespec span{};
    timespec* limit = nullptr;
    if (!fDeadlines.Empty()) {
        const auto left = std::max(fDeadlines.Earliest() - TClock::now(), TClock::duration::zero());
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(left).count();
        span = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        limit = &span;
    }
    epoll_event events[MAX_EVENTS];
    const int count = epoll_pwait2(fPoll, events, MAX_EVENTS, limit, nullptr);
    const TTime now = TClock::now();
    for (int i = 0; i < count; ++i) {
        // epoll_event is packed on x86-64: its 64-bit field is copied out, never bound
        // to a reference.
        const TWatchId id = events[i].data.u64;
        if (id == WAKE_ID) {
            eventfd_t taken = 0;
            eventfd_read(fWake, &taken);
            continue;
        }
        // A handler may have unwatched a descriptor whose events are still in the batch.
        const auto found = fWatches.find(id);
        if (found != fWatches.end() && found->second.Descriptor >= 0)
            found->second.Handler(events[i].events, now);
    }
    for (const TWatchId id : std::exchange(fUnwatched, {}))
        fWatches.erase(id);
    return now;
}

bool TEventLoop::Quitting() {
    const std::lock_guard lock(fLock);
    return fQuit;
}

// Runs the tasks handed in so far; false when there were none.
bool TEventLoop::RunTasks() {
    std::vector<TTask> tasks;
    {
        const std::lock_guard lock(fLock);
        tasks.swap(fTasks);
    }
    for (TTask& task : tasks)
        task();
    return !tasks.empty();
}
