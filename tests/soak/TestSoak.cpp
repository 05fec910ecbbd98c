// Soak test of the link: connect and disconnect round after round against the simulated
// device under every fault it can play, with commands posted at random moments, then
// check that each round stopped as its fault must make it stop, that nothing the rounds
// opened or started stayed behind, and that the window thread never blocked for longer
// than the one exchange time-out a Disconnect may have to wait out.
//
// Six lanes run side by side, each a device and a link of its own: one turns quickly
// through the faults that end a round at once or soon; one polls a sound device for
// seconds at a time, so that anything a cycle leaks adds up; four wait out the reply
// time-outs of a silent device (to its end, or until a Disconnect), a device that stops
// answering and a write that is never acknowledged. The last five run one round for every
// SLOW_SHARE quick rounds, and one at least. The four waiting lanes use short link times,
// the others the station's own.
// The lanes share the program-wide refresh flags, which decide only whether events are
// forced; this test looks at stop codes, not events.
//
// SOAK_ROUNDS sets the quick lane's rounds (default 60), SOAK_SEED the random seed; by hand:
//     SOAK_ROUNDS=1000 build/tests/soak/test_soak

#include "ProcessStat.h"
#include "ShortLinkTiming.h"
#include "SoakLane.h"

#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <malloc.h>
#include <optional>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int DEFAULT_ROUNDS = 60;
constexpr unsigned DEFAULT_SEED = 7710;
// Rounds of the quick lane after which the memory in use must stay where it is.
constexpr int WARM_UP_ROUNDS = 10;
constexpr int DESTROY_EVERY = 25;
constexpr int SLOW_SHARE = 60;
// Steady rounds last 2.5 s on average: three take about as long as the quick lane.
constexpr int STEADY_ROUNDS = 3;
// One of the station's exchange time-outs and a little for the join.
constexpr double WINDOW_BLOCK_LIMIT_MS = 3200;
constexpr std::int64_t RESIDENT_GROWTH_LIMIT_KB = 4096;
constexpr double HEAP_GROWTH_LIMIT = 64 * 1024;

// AddressSanitizer holds freed memory back in quarantine and finds leaks itself: the
// memory checks hold for builds without it.
#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_ASAN 1
#endif
#endif
#ifdef SOAK_ASAN
constexpr bool MEMORY_CHECKED = false;
#else
constexpr bool MEMORY_CHECKED = true;
#endif

int EnvNumber(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

struct TResources {
    int Files = 0;
    std::size_t Threads = 0;
    std::int64_t ResidentKb = 0;
    double Heap = 0;
};

TResources ReadResources() {
    const struct mallinfo2 heap = mallinfo2();
    return {OpenFileCount(), ThreadIds().size(), StatusKb("VmRSS"),
            static_cast<double>(heap.uordblks + heap.hblkhd)};
}

double Milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

void PrintLane(const TSoakLane& lane) {
    for (const auto& [kind, codes] : lane.Seen()) {
        std::string text;
        for (const auto& [code, count] : codes)
            text += " stop " + std::to_string(code) + " x" + std::to_string(count);
        std::printf("  %-22s%s\n", KindName(kind), text.c_str());
    }
}

class SoakTest : public testing::Test {
protected:
    SoakTest() {
        using K = TSoakKind;
        fLanes.push_back(std::make_unique<TSoakLane>(
            std::vector<K>{K::Clean, K::Delay, K::ByteByByte, K::Junk, K::Refuse, K::WrongHeader,
                           K::ExtraByte, K::WrongGroup, K::BadChecksum, K::CloseMidFrame, K::Drop},
            fRounds, DESTROY_EVERY, fSeed, fTimes));
        const int slowRounds = std::max(1, fRounds / SLOW_SHARE);
        unsigned seed = fSeed;
        fLanes.push_back(std::make_unique<TSoakLane>(
            std::vector<K>{K::Steady}, STEADY_ROUNDS * slowRounds, 0, ++seed, fTimes));
        for (K kind : {K::Silent, K::SilentThenDisconnect, K::AnswerFirst, K::NoAck})
            fLanes.push_back(std::make_unique<TSoakLane>(std::vector<K>{kind}, slowRounds, 0,
                                                         ++seed, fTimes, SHORT_LINK_TIMING));
    }

    TSoakLane& Quick() { return *fLanes[0]; }

    // False once every lane has run its rounds.
    bool StepLanes() {
        bool busy = false;
        for (const auto& lane : fLanes) {
            lane->Step();
            busy = busy || !lane->Finished();
        }
        return busy;
    }

    void Pump() {
        const auto start = Clock::now();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        fTimes.Pump = std::max(fTimes.Pump, Milliseconds(Clock::now() - start));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    const int fRounds = EnvNumber("SOAK_ROUNDS", DEFAULT_ROUNDS);
    const unsigned fSeed = static_cast<unsigned>(EnvNumber("SOAK_SEED", DEFAULT_SEED));
    TWindowThreadTimes fTimes;
    std::vector<std::unique_ptr<TSoakLane>> fLanes;
};

} // namespace

TEST_F(SoakTest, EveryFaultStopsAsItMustAndNothingGrows) {
    const auto start = Clock::now();
    const TResources before = ReadResources();
    std::optional<TResources> warm;
    while (StepLanes()) {
        Pump();
        if (!warm && Quick().Rounds() >= WARM_UP_ROUNDS)
            warm = ReadResources();
    }
    // Notifications of the last stops are read; nothing may be left running.
    for (int i = 0; i < 20; ++i)
        Pump();
    const TResources after = ReadResources();

    int total = 0;
    for (const auto& lane : fLanes) {
        total += lane->Rounds();
        for (const std::string& failure : lane->Failures())
            ADD_FAILURE() << failure;
    }
    std::printf("soak: %d rounds in %.1f s (the quick lane's %d in %.1f s), seed %u\n", total,
                Milliseconds(Clock::now() - start) / 1000, Quick().Rounds(), Quick().Seconds(),
                fSeed);
    for (const auto& lane : fLanes)
        PrintLane(*lane);
    std::printf("window thread: longest Disconnect %.1f ms, other link call %.2f ms, "
                "event loop pump %.2f ms\n",
                fTimes.Disconnect, fTimes.OtherLinkCall, fTimes.Pump);
    ASSERT_TRUE(warm.has_value());
    std::printf("files %d -> %d, threads %zu -> %zu, after warm-up: resident %lld -> %lld kB, "
                "heap in use %.0f -> %.0f kB\n",
                before.Files, after.Files, before.Threads, after.Threads,
                static_cast<long long>(warm->ResidentKb), static_cast<long long>(after.ResidentKb),
                warm->Heap / 1024, after.Heap / 1024);

    EXPECT_GE(Quick().Rounds(), fRounds);
    EXPECT_EQ(after.Files, before.Files) << "file descriptors left open";
    EXPECT_EQ(after.Threads, before.Threads) << "threads left running";
    if (MEMORY_CHECKED) {
        EXPECT_LE(after.ResidentKb - warm->ResidentKb, RESIDENT_GROWTH_LIMIT_KB);
        EXPECT_LE(after.Heap - warm->Heap, HEAP_GROWTH_LIMIT);
    }
    EXPECT_LE(fTimes.Disconnect, WINDOW_BLOCK_LIMIT_MS);
    EXPECT_LE(fTimes.OtherLinkCall, WINDOW_BLOCK_LIMIT_MS);
    EXPECT_LE(fTimes.Pump, WINDOW_BLOCK_LIMIT_MS);
}
