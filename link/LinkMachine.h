#pragma once

// The logic of one connection to a device, without any I/O: which request goes out next,
// how long to wait for it, when to try again, when to give up and with which stop code,
// what to tell the window thread and when. A driver carries out each step the machine
// returns and feeds back what came of it: the station's worker thread with blocking calls,
// or an event loop that serves many links at once.
//
// The contract with a driver: call Start once; carry out every step returned; after a
// Post step ask Next for the step that follows; feed the input that ends the step in
// progress (Connected or ConnectFailed after Connect; Replied, SendFailed or
// ReceiveFailed after Exchange; PauseEnded after Pause or Wait). RequestStop and the
// command queue may be used at any time. An input that does not end the step in progress
// changes nothing and returns a None step; so does every input after Close.

#include "CommandQueue.h"
#include "DeviceProtocol.h"
#include "LinkNotice.h"
#include "LinkTap.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

// Stop codes.
constexpr int STOP_BY_REQUEST = 0;
constexpr int STOP_CONNECT_FAILED = 1000;
constexpr int STOP_WRITE_FAILED = 1001;
constexpr int STOP_READ_FAILED = 1002;
constexpr int STOP_TIMEOUT = 1003;

// Link statistics kinds.
constexpr int LINK_RATE = 1;
constexpr int LINK_TIMEOUTS = 2;
constexpr int LINK_READ_WARNING = 3;
constexpr int LINK_READ_ERRORS = 6;

// The station's time limit of the connect and of every send and receive.
constexpr std::uint32_t LINK_TIMEOUT_MS = 3000;

// The times a link waits. The defaults are the station's, and every program keeps them;
// shorter ones let a test reach a time-out sooner.
struct TLinkTiming {
    // The connect, and every send and receive.
    std::chrono::milliseconds Timeout{LINK_TIMEOUT_MS};
    // Between a poll that failed and its next attempt.
    std::chrono::milliseconds RetryPause{100};
};

// How a link runs, fixed for each connection.
struct TLinkSetup {
    TLinkTiming Timing;
    // The shortest time one poll cycle may take; a faster cycle waits out the rest. 0 lets
    // cycles follow each other at once.
    std::chrono::milliseconds MinCyclePeriod{0};
    // Called with every reply and command end as the machine takes them; null for none.
    std::shared_ptr<TLinkTap> Tap;
};

using TLinkClock = std::chrono::steady_clock;
using TLinkTime = TLinkClock::time_point;

enum class TLinkAction {
    // Nothing new: go on with the step in progress (after Close: nothing at all).
    None,
    // Open the connection; the attempt may take Limit.
    Connect,
    // Send Request as one frame, then receive one reply frame; each may take Limit.
    Exchange,
    // Do nothing for Span, until Until; a stop request does not shorten it.
    Pause,
    // Do nothing until Until, or until a stop is requested.
    Wait,
    // Hand Notice to the window thread.
    Post,
    // Close the connection, record Error as the link's last error, then post Notice.
    Close,
};

struct TLinkStep {
    TLinkAction Action = TLinkAction::None;
    std::chrono::milliseconds Limit{0};
    std::chrono::milliseconds Span{0};
    TLinkTime Until{};
    // Valid until the next input.
    std::span<const std::uint8_t> Request;
    TLinkNotice Notice;
    int Error = 0;
};

// The flags a link shares with its notification handler (see TSwObject).
struct TWrittenFlags {
    std::atomic<bool>& Settings;
    std::atomic<bool>& Power;
};

class TLinkMachine {
public:
    // commands is where the window thread queues writes; the machine takes one per cycle
    // from the second cycle on.
    TLinkMachine(TCommandQueue& commands, TWrittenFlags written, TLinkSetup setup);

    TLinkStep Start();
    TLinkStep Connected(TLinkTime now);
    TLinkStep ConnectFailed();
    // A reply frame arrived; reply holds its decoded payload.
    TLinkStep Replied(const std::uint8_t* reply, int length, TLinkTime now);
    TLinkStep SendFailed(int error);
    // The receive failed with the socket layer's error; SOCK_ERR_TIMEOUT is a time-out.
    TLinkStep ReceiveFailed(int error, TLinkTime now);
    TLinkStep PauseEnded(TLinkTime now);
    // The step after a Post.
    TLinkStep Next();

    // Takes effect where the link looks for it: before every request, after every reply,
    // between cycles and at once in a Wait (the driver then feeds PauseEnded).
    void RequestStop() { fStopRequested = true; }
    bool Ended() const { return fPhase == TPhase::Ended; }

private:
    enum class TPhase {
        Idle,
        Connecting,
        CyclePause,
        Writing,
        Polling,
        ReplyPause,
        RetryPause,
        CycleWait,
        Ended,
    };
    using TPayload = std::array<std::uint8_t, MAX_GROUP_PAYLOAD>;

    TLinkStep BeginCycle(TLinkTime now);
    TLinkStep CycleWork(TLinkTime now);
    bool TakeCommand();
    TLinkStep StartPoll(TLinkTime now);
    TLinkStep NextGroup(TLinkTime now);
    TLinkStep SendWrite();
    TLinkStep SendPoll();
    TLinkStep WriteReplied(const std::uint8_t* reply, int length, TLinkTime now);
    TLinkStep PollReplied(const std::uint8_t* reply, int length, TLinkTime now);
    TLinkStep WriteFailed(int error);
    TLinkStep PollFailed(int error, TLinkTime now);
    void EndCommand(TCommandEnd end, const std::uint8_t* reply, int length);
    TLinkStep EndCycle(TLinkTime now);
    void Notify();
    void FindChanges();
    void PostGroup(int group);
    void ReportRate(TLinkTime now);
    void PostLinkStat(std::uint32_t value, int kind);
    void Post(const TLinkNotice& notice);

    TLinkStep Act(TLinkStep step);
    TLinkStep Exchange(TPhase phase, std::span<const std::uint8_t> request);
    TLinkStep Pause(TPhase phase, TLinkTime now, std::chrono::milliseconds span);
    TLinkStep GiveUp(int stopCode, int error);
    TLinkStep Close();

    TCommandQueue& fCommands;
    TWrittenFlags fWritten;
    const TLinkSetup fSetup;

    TPhase fPhase = TPhase::Idle;
    bool fStopRequested = false;
    int fStopCode = STOP_BY_REQUEST;
    int fLastError = 0;
    TLinkStep fAction;
    // Notices not yet handed out, oldest at fNoticeHead.
    std::array<TLinkNotice, 8> fNotices{};
    std::size_t fNoticeHead = 0;
    std::size_t fNoticeCount = 0;

    bool fFirstCycle = true;
    int fFirstPoll = GROUP_IDENTITY;
    int fGroup = GROUP_IDENTITY;
    int fFirstPost = GROUP_IDENTITY;
    TLinkTime fCycleStart{};
    TWriteRequest fWrite;
    // The command taken last, until the tap has been told how it ended; once acknowledged,
    // fAwaitedGroup is the group whose next reading completes it (0 before).
    std::optional<TCommand> fOpenCommand;
    int fAwaitedGroup = 0;
    std::array<std::uint8_t, ACK_SIZE> fAck{};
    // Attempts of the exchange in progress that timed out or failed otherwise.
    int fTimeouts = 0;
    int fFailures = 0;
    // Running totals of the connection.
    std::uint32_t fTimeoutTotal = 0;
    std::uint32_t fFailureTotal = 0;
    std::uint32_t fRateTick = 0;
    std::uint32_t fRateCycles = 0;
    std::array<TPayload, GROUP_COUNT> fCurrent{};
    std::array<TPayload, GROUP_COUNT> fPrevious{};
    std::array<bool, GROUP_COUNT> fChanged{};
};
