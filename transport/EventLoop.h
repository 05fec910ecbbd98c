#pragma once

// One thread that serves many parties: descriptors watched together, each with its
// handler; deadlines, at most one per party; and tasks handed in from any thread. Every
// handler, deadline and task runs on the loop's thread, one after another.

#include "TimerQueue.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <vector>

class TEventLoop {
public:
    using TClock = std::chrono::steady_clock;
    using TTime = TClock::time_point;
    using TTask = std::function<void()>;
    // Told the readiness events of its descriptor, and the time the loop woke up.
    using THandler = std::function<void(std::uint32_t events, TTime now)>;
    using TWatchId = std::uint64_t;

    // A party's deadline on the loop: when it passes, the party is told once. Set, moved
    // and cancelled on the loop's thread only.
    class TDeadline {
    public:
        TDeadline(TEventLoop& loop, std::function<void(TTime now)> expired)
            : fLoop(loop), fExpired(std::move(expired)) {}
        ~TDeadline() { Cancel(); }
        TDeadline(const TDeadline&) = delete;
        TDeadline& operator=(const TDeadline&) = delete;

        void Set(TTime deadline) { fLoop.fDeadlines.Set(*this, deadline); }
        void Cancel() { fLoop.fDeadlines.Cancel(*this); }

        TTimerSlot Timer;

    private:
        friend class TEventLoop;
        TEventLoop& fLoop;
        const std::function<void(TTime now)> fExpired;
    };

    // Starts the loop's thread. Throws std::runtime_error when the system refuses the
    // descriptors it needs.
    TEventLoop();
    // Ends the thread once every task handed in before it ends has run. Watches and
    // deadlines still set are left alone.
    ~TEventLoop();
    TEventLoop(const TEventLoop&) = delete;
    TEventLoop& operator=(const TEventLoop&) = delete;

    // Any thread: runs task on the loop's thread after the readiness at hand is handled,
    // tasks in the order they were handed in.
    void Post(TTask task);
    // Any thread but the loop's: runs task there and returns when it has run, after every
    // task handed in before it.
    void Call(TTask task);

    // The loop's thread: reports events of descriptor to handler until it is unwatched;
    // 0 when the system refuses. Unwatch before closing the descriptor: events already
    // taken for it then go unreported.
    TWatchId Watch(int descriptor, std::uint32_t events, THandler handler);
    // Changes the events watched for, when they differ.
    void Rewatch(TWatchId id, std::uint32_t events);
    void Unwatch(TWatchId id);

private:
    struct TWatch {
        // Negative once unwatched.
        int Descriptor;
        std::uint32_t Events;
        THandler Handler;
    };

    void Run();
    TTime Wait();
    bool Quitting();
    bool RunTasks();

    const int fPoll;
    const int fWake;
    std::mutex fLock;
    std::vector<TTask> fTasks;
    bool fQuit = false;
    // The loop thread's own.
    std::unordered_map<TWatchId, TWatch> fWatches;
    std::vector<TWatchId> fUnwatched;
    TWatchId fLastId = 0;
    TTimerQueue<TDeadline> fDeadlines;
    std::thread fThread;
};
