// The timer queue against a plain model: random deadlines set, moved and cancelled, and
// parties taken off in the order of their deadlines.

#include "TimerQueue.h"

#include <gtest/gtest.h>
#include <map>
#include <random>

namespace {

struct Party {
    TTimerSlot Timer;
};

} // namespace

TEST(TimerQueue, TakesPartiesInTheOrderOfTheirLatestDeadlines) {
    using Time = std::chrono::steady_clock::time_point;
    std::mt19937 random(20);
    std::vector<Party> parties(50);
    std::map<Party*, Time> model;
    TTimerQueue<Party> queue;
    const Time start{};
    for (int round = 0; round < 20000; ++round) {
        Party& party = parties[std::uniform_int_distribution<std::size_t>(0, 49)(random)];
        if (std::uniform_int_distribution(0, 3)(random) == 0) {
            queue.Cancel(party);
            model.erase(&party);
        } else {
            const Time deadline = start + std::chrono::milliseconds(random() % 1000);
            queue.Set(party, deadline);
            model[&party] = deadline;
        }
        if (round % 100 != 99)
            continue;
        const Time now = start + std::chrono::milliseconds(random() % 1000);
        Time last = start;
        while (Party* due = queue.PopDue(now)) {
            ASSERT_EQ(model.count(due), 1U);
            EXPECT_LE(model[due], now);
            EXPECT_GE(model[due], last) << "earliest first";
            last = model[due];
            model.erase(due);
        }
        for (const auto& [waiting, deadline] : model)
            EXPECT_GT(deadline, now) << "nothing due is left behind";
        EXPECT_EQ(queue.Empty(), model.empty());
    }
}
