#pragma once

// One thread that serves many sockets and timers: it sleeps in epoll until a watched
// socket is ready, a timer is due or another thread hands it a task, and runs whatever
// that calls for. Sockets, timers and the handlers belong to the loop's thread; another
// thread reaches them through Call.
//
//     TSimLoop loop;
//     loop.Start();
//     loop.Call([&] {
//         loop.Watch(socket, [&](std::uint32_t events) { ... });
//         loop.Want(socket, EPOLLIN);
//         timer = loop.After(50ms, [&] { ... });
//     });

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

class TSimLoop {
public:
    using Clock = std::chrono::steady_clock;
    using TTask = std::function<void()>;
    // Called with the epoll events that came for a watched socket.
    using TReady = std::function<void(std::uint32_t events)>;
    // A timer's place in the queue: when it is due, and a number unique to it. The default
    // value is no timer.
    using TTimer = std::pair<Clock::time_point, std::uint64_t>;

    TSimLoop();
    // Stops the loop.
    ~TSimLoop();
    TSimLoop(const TSimLoop&) = delete;
    TSimLoop& operator=(const TSimLoop&) = delete;

    // Starts the loop's thread. False when it already runs or the system gave no epoll.
    bool Start();
    // Runs the tasks handed over so far, then ends the thread and waits for it. Watches and
    // timers stay for the next Start.
    void Stop();

    // Runs task on the loop's thread and returns once it has run. It runs at once on the
    // caller's thread when that is the loop's thread or the loop is not running.
    void Call(const TTask& task);

    // The rest is for the loop's thread, or for any thread while the loop is not running.

    // Takes fd into the loop with the handler for its events, watching none yet; a socket
    // taken before is taken anew. Unwatch it before closing it.
    void Watch(int fd, TReady ready);
    // The events (EPOLLIN, EPOLLOUT) fd is watched for; 0 for none.
    void Want(int fd, std::uint32_t events);
    void Unwatch(int fd);

    // Runs due after delay, unless cancelled before.
    TTimer After(Clock::duration delay, TTask due);
    // Cancels timer if it is still waiting, and makes it no timer.
    void Cancel(TTimer& timer);

private:
    struct TWatch {
        // Told apart from the socket that had the same number before.
        std::uint32_t Generation = 0;
        bool Taken = false;
        std::uint32_t Events = 0;
        TReady Ready;
    };

    void Run();
    bool Continue();
    int MsUntilNextTimer() const;
    void Dispatch(std::uint64_t data, std::uint32_t events);
    void RunDueTimers();
    void RunTasks();
    void Wake() const;

    int fEpoll = -1;
    int fWake = -1;
    std::vector<TWatch> fWatches;
    std::map<TTimer, TTask> fTimers;
    std::uint64_t fTimerCount = 0;

    // Guarded by fLock; fDone is notified when tasks have run or the loop has ended.
    std::mutex fLock;
    std::condition_variable fDone;
    std::vector<TTask> fTasks;
    std::uint64_t fHanded = 0;
    std::uint64_t fFinished = 0;
    bool fServing = false;
    bool fStopping = false;

    std::thread fThread;
    std::thread::id fThreadId;
};
