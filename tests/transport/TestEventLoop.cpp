// The event loop: tasks, readiness and deadlines all reach their parties on the loop's
// thread, and no task handed in before the loop ends is lost.

#include "EventLoop.h"

#include <atomic>
#include <future>
#include <gtest/gtest.h>
#include <sys/epoll.h>
#include <unistd.h>

using namespace std::chrono_literals;

TEST(EventLoop, RunsTasksOnItsThreadInTheOrderHandedIn) {
    TEventLoop loop;
    std::vector<int> order;
    std::thread::id ranOn;
    loop.Post([&] { order.push_back(1); });
    loop.Call([&] {
        order.push_back(2);
        ranOn = std::this_thread::get_id();
    });
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

// The descriptor stays readable: once its handler has unwatched it, it is reported no more.
TEST(EventLoop, ReportsAWatchedDescriptorUntilItsHandlerUnwatchesIt) {
    TEventLoop loop;
    int pipeEnds[2];
    ASSERT_EQ(pipe(pipeEnds), 0);
    ASSERT_EQ(write(pipeEnds[1], "x", 1), 1);
    std::promise<std::uint32_t> reported;
    std::atomic<int> calls = 0;
    loop.Call([&] {
        const auto id = std::make_shared<TEventLoop::TWatchId>();
        *id = loop.Watch(pipeEnds[0], EPOLLIN, [&, id](std::uint32_t events, TEventLoop::TTime) {
            if (++calls == 1)
                reported.set_value(events);
            loop.Unwatch(*id);
        });
    });
    auto events = reported.get_future();
    ASSERT_EQ(events.wait_for(5s), std::future_status::ready);
    EXPECT_NE(events.get() & EPOLLIN, 0U);
    // A few turns of the loop later the handler has still been called once.
    for (int turn = 0; turn < 3; ++turn)
        loop.Call([] {});
    EXPECT_EQ(calls, 1);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
}

TEST(EventLoop, TellsAPartyWhoseDeadlineHasPassedAndNotOneCancelled) {
    TEventLoop loop;
    std::promise<TEventLoop::TTime> expired;
    bool cancelledExpired = false;
    TEventLoop::TDeadline due(loop, [&](TEventLoop::TTime now) { expired.set_value(now); });
    TEventLoop::TDeadline cancelled(loop, [&](TEventLoop::TTime) { cancelledExpired = true; });
    const TEventLoop::TTime deadline = TEventLoop::TClock::now() + 30ms;
    loop.Call([&] {
        cancelled.Set(deadline - 20ms);
        due.Set(deadline);
        cancelled.Cancel();
    });
    auto fired = expired.get_future();
    ASSERT_EQ(fired.wait_for(5s), std::future_status::ready);
    EXPECT_GE(fired.get(), deadline);
    loop.Call([&] { EXPECT_FALSE(cancelledExpired); });
}

// The first task is still running when the loop is told to end; what it hands in runs.
TEST(EventLoop, RunsTasksHandedInWhileItEnds) {
    std::vector<int> ran;
    {
        TEventLoop loop;
        loop.Post([&] {
            std::this_thread::sleep_for(50ms);
            ran.push_back(1);
            loop.Post([&] { ran.push_back(2); });
        });
    }
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
}
