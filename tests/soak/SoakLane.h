#pragma once

// One lane of the soak test: a simulated device of its own and a link that connects to it
// round after round, each round under one fault, with commands posted at random moments.
// The test's main thread drives every lane between pumps of its event loop, as the
// station's window thread would, and times every call it makes on a link.

#include "SimDevice.h"
#include "UnitThread.h"

#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

enum class TSoakKind {
    Clean,                // no fault; disconnected on request
    Steady,               // no fault, polling for seconds with commands now and then
    Delay,                // every reply late, well within the time-out
    ByteByByte,           // every reply a byte at a time, well within the time-out
    Junk,                 // bytes without a frame mark before every reply
    Refuse,               // nothing listens
    WrongHeader,          // replies with a spoiled header
    ExtraByte,            // replies one byte too long
    WrongGroup,           // replies for another group than the one asked for
    BadChecksum,          // replies with a wrong checksum
    CloseMidFrame,        // the device closes the connection halfway through a reply
    Drop,                 // the device closes the connection between replies
    Destroy,              // the link object is destroyed while it polls
    Silent,               // the device stops answering
    SilentThenDisconnect, // disconnected on request while the link waits out its retries
    AnswerFirst,          // the device answers a few requests, then no more
    NoAck,                // the device does not acknowledge a write
};

const char* KindName(TSoakKind kind);

// The longest any one call on the window thread took, in milliseconds.
struct TWindowThreadTimes {
    double Disconnect = 0;
    double OtherLinkCall = 0;
    double Pump = 0;
};

class TSoakLane {
public:
    using Clock = std::chrono::steady_clock;

    // The lane runs rounds rounds, turning through rotation, one kind per round; with
    // destroyEvery above 0, every destroyEvery-th round is a Destroy round instead. Its
    // links wait as timing says.
    TSoakLane(std::vector<TSoakKind> rotation, int rounds, int destroyEvery, unsigned seed,
              TWindowThreadTimes& times, const TLinkTiming& timing = {});

    // Carries out what is due, and starts the next round when the last has ended.
    void Step();
    bool Finished() const { return fPhase == TPhase::Idle && fRounds >= fRoundsWanted; }
    int Rounds() const { return fRounds; }
    // From the first round's start to the last round's end.
    double Seconds() const;

    // One line per round whose stop was not the one its fault must produce.
    const std::vector<std::string>& Failures() const { return fFailures; }
    // How often each stop code ended each kind of round; -1 when no stop was seen.
    const std::map<TSoakKind, std::map<int, int>>& Seen() const { return fSeen; }

private:
    enum class TPhase { Idle, WaitingForDevice, Running };
    enum class TAct { Fault, WriteFault, Drop, Command, Disconnect, Destroy };

    struct TAction {
        Clock::time_point At;
        TAct Act;
        std::string Text;
        // Waits, once due, until the link is connected and the device has it.
        bool NeedsConnection = false;
    };

    void BeginRound();
    void StartRound();
    int Schedule(TAct act, int fromMs, int toMs, std::string text = {},
                 bool needsConnection = false);
    void ScheduleFault(const std::string& fault);
    void ScheduleRound();
    void AwaitCycleEnd();
    void RunDueActions();
    bool Run(const TAction& action);
    void PostRandomCommand();
    void CheckEnd();
    void EndRound(int code, int lastError);
    void NewLink();
    void Execute(const std::string& command);
    int Random(int from, int to);
    void TimedDisconnect();

    std::vector<TSoakKind> fRotation;
    int fRoundsWanted;
    int fDestroyEvery;
    std::mt19937 fRandom;
    TWindowThreadTimes& fTimes;
    const TLinkTiming fTiming;
    // The link goes first, before the device it may still be connected to.
    std::unique_ptr<TSimDevice> fDevice;
    std::unique_ptr<TSwObject> fLink;

    TPhase fPhase = TPhase::Idle;
    TSoakKind fKind = TSoakKind::Clean;
    int fRounds = 0;
    Clock::time_point fFirstStart;
    Clock::time_point fLastEnd;
    std::vector<TAction> fActions;
    Clock::time_point fDeadline;
    bool fStopped = false;
    bool fDestroyed = false;
    int fStopCode = -1;
    int fStopError = 0;

    std::vector<std::string> fFailures;
    std::map<TSoakKind, std::map<int, int>> fSeen;
};
