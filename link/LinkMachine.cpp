#include "LinkMachine.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::uint32_t RATE_PERIOD_MS = 1000;
constexpr int MAX_ATTEMPTS = 3;
// At the start of every cycle and after every accepted reply.
constexpr std::chrono::milliseconds SHORT_PAUSE{1};

// Milliseconds of the monotonic clock, compared by unsigned difference.
std::uint32_t Tick(TLinkTime time) {
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch());
    return static_cast<std::uint32_t>(ms.count());
}

} // namespace

TLinkMachine::TLinkMachine(TCommandQueue& commands, TWrittenFlags written, TLinkSetup setup)
    : fCommands(commands), fWritten(written), fSetup(std::move(setup)) {}

// ---- Inputs ----------------------------------------------------------------------

TLinkStep TLinkMachine::Start() {
    if (fPhase != TPhase::Idle)
        return {};
    fWritten.Settings = false;
    fWritten.Power = false;
    fPhase = TPhase::Connecting;
    TLinkStep step;
    step.Action = TLinkAction::Connect;
    step.Limit = fSetup.Timing.Timeout;
    return Act(step);
}

// A stop requested while the connect was pending stands: the first look at the flag
// ends the link before its first cycle.
TLinkStep TLinkMachine::Connected(TLinkTime now) {
    if (fPhase != TPhase::Connecting)
        return {};
    fRateTick = Tick(now);
    return BeginCycle(now);
}

TLinkStep TLinkMachine::ConnectFailed() {
    if (fPhase != TPhase::Connecting)
        return {};
    fStopCode = STOP_CONNECT_FAILED;
    return Close();
}

TLinkStep TLinkMachine::Replied(const std::uint8_t* reply, int length, TLinkTime now) {
    if (fPhase == TPhase::Writing)
        return WriteReplied(reply, length, now);
    if (fPhase == TPhase::Polling)
        return PollReplied(reply, length, now);
    return {};
}

TLinkStep TLinkMachine::SendFailed(int error) {
    if (fPhase != TPhase::Writing && fPhase != TPhase::Polling)
        return {};
    return GiveUp(STOP_WRITE_FAILED, error);
}

TLinkStep TLinkMachine::ReceiveFailed(int error, TLinkTime now) {
    if (fPhase == TPhase::Writing)
        return WriteFailed(error);
    if (fPhase == TPhase::Polling)
        return PollFailed(error, now);
    return {};
}

TLinkStep TLinkMachine::PauseEnded(TLinkTime now) {
    switch (fPhase) {
    case TPhase::CyclePause:
        return CycleWork(now);
    case TPhase::ReplyPause:
        ++fGroup;
        return NextGroup(now);
    case TPhase::RetryPause:
        return SendPoll();
    case TPhase::CycleWait:
        return BeginCycle(now);
    default:
        return {};
    }
}

TLinkStep TLinkMachine::Next() {
    if (fNoticeCount == 0) {
        const TLinkStep action = fAction;
        fAction = {};
        return action;
    }
    TLinkStep step;
    step.Action = TLinkAction::Post;
    step.Notice = fNotices[fNoticeHead];
    fNoticeHead = (fNoticeHead + 1) % fNotices.size();
    --fNoticeCount;
    return step;
}

// ---- The cycle -------------------------------------------------------------------

TLinkStep TLinkMachine::BeginCycle(TLinkTime now) {
    if (fStopRequested)
        return Close();
    fCycleStart = now;
    return Pause(TPhase::CyclePause, now, SHORT_PAUSE);
}

// The command of the cycle, if one is waiting and this is not the first cycle, then the
// poll.
TLinkStep TLinkMachine::CycleWork(TLinkTime now) {
    fFirstPost = GROUP_IDENTITY;
    if (!fFirstCycle && TakeCommand()) {
        fTimeouts = 0;
        fFailures = 0;
        return SendWrite();
    }
    return StartPoll(now);
}

bool TLinkMachine::TakeCommand() {
    TCommand command;
    if (!fCommands.Take(command) ||
        !BuildWriteRequest(command.Code, command.Argument, command.Settings, fWrite))
        return false;
    if (command.Code == CMD_WRITE_SETTINGS)
        fWritten.Settings = true;
    if (command.Code == CMD_POWER_MONITORING)
        fWritten.Power = true;
    fFirstPost = fWrite.Group;
    fOpenCommand = command;
    fAwaitedGroup = 0;
    return true;
}

TLinkStep TLinkMachine::StartPoll(TLinkTime now) {
    fGroup = fFirstPoll;
    return NextGroup(now);
}

TLinkStep TLinkMachine::NextGroup(TLinkTime now) {
    if (fStopRequested)
        return Close();
    if (fGroup > GROUP_COUNT)
        return EndCycle(now);
    fTimeouts = 0;
    fFailures = 0;
    return SendPoll();
}

TLinkStep TLinkMachine::SendWrite() {
    if (fStopRequested)
        return Close();
    return Exchange(TPhase::Writing,
                    {fWrite.Bytes.data(), static_cast<std::size_t>(fWrite.Length)});
}

TLinkStep TLinkMachine::SendPoll() {
    if (fStopRequested)
        return Close();
    return Exchange(TPhase::Polling, GroupSpec(fGroup).Request);
}

TLinkStep TLinkMachine::WriteReplied(const std::uint8_t* reply, int length, TLinkTime now) {
    if (fStopRequested)
        return Close();
    if (!AcceptWriteReply(fWrite, reply, length)) {
        EndCommand(TCommandEnd::Refused, reply, length);
        return GiveUp(STOP_READ_FAILED, SOCK_ERR_BAD_FRAME);
    }
    // The command is done once its group has been read again.
    std::copy_n(reply, ACK_SIZE, fAck.begin());
    fAwaitedGroup = fWrite.Group;
    return StartPoll(now);
}

TLinkStep TLinkMachine::PollReplied(const std::uint8_t* reply, int length, TLinkTime now) {
    if (fStopRequested)
        return Close();
    if (!AcceptPollReply(fGroup, reply, length))
        return GiveUp(STOP_READ_FAILED, SOCK_ERR_BAD_FRAME);
    std::copy_n(reply + HEADER_SIZE, GroupSpec(fGroup).PayloadLength, fCurrent[fGroup - 1].begin());
    if (fSetup.Tap)
        fSetup.Tap->GroupRead(fGroup, reply, length);
    if (fAwaitedGroup == fGroup)
        EndCommand(TCommandEnd::Done, fAck.data(), ACK_SIZE);
    return Pause(TPhase::ReplyPause, now, SHORT_PAUSE);
}

// A write that went unanswered is sent again at once, without statistics.
TLinkStep TLinkMachine::WriteFailed(int error) {
    int& count = error == SOCK_ERR_TIMEOUT ? fTimeouts : fFailures;
    if (++count < MAX_ATTEMPTS)
        return SendWrite();
    return GiveUp(error == SOCK_ERR_TIMEOUT ? STOP_TIMEOUT : STOP_READ_FAILED, error);
}

// A poll that went unanswered is counted in the link statistics and sent again after the
// retry pause.
TLinkStep TLinkMachine::PollFailed(int error, TLinkTime now) {
    if (error == SOCK_ERR_TIMEOUT) {
        PostLinkStat(++fTimeoutTotal, LINK_TIMEOUTS);
        if (++fTimeouts == 2)
            PostLinkStat(0, LINK_READ_WARNING);
        if (fTimeouts >= MAX_ATTEMPTS)
            return GiveUp(STOP_TIMEOUT, SOCK_ERR_TIMEOUT);
    } else {
        PostLinkStat(++fFailureTotal, LINK_READ_ERRORS);
        if (++fFailures >= MAX_ATTEMPTS)
            return GiveUp(STOP_READ_FAILED, error);
    }
    return Pause(TPhase::RetryPause, now, fSetup.Timing.RetryPause);
}

// Tells the tap how the open command ended, if a command is open.
void TLinkMachine::EndCommand(TCommandEnd end, const std::uint8_t* reply, int length) {
    if (fSetup.Tap && fOpenCommand)
        fSetup.Tap->CommandEnded(*fOpenCommand, end, reply, length);
    fOpenCommand.reset();
    fAwaitedGroup = 0;
}

TLinkStep TLinkMachine::EndCycle(TLinkTime now) {
    Notify();
    ReportRate(now);
    if (fSetup.MinCyclePeriod.count() <= 0)
        return BeginCycle(now);
    fPhase = TPhase::CycleWait;
    TLinkStep step;
    step.Action = TLinkAction::Wait;
    step.Until = fCycleStart + fSetup.MinCyclePeriod;
    return Act(step);
}

// ---- Notifications ---------------------------------------------------------------

void TLinkMachine::Notify() {
    if (fFirstCycle) {
        fFirstCycle = false;
        fChanged.fill(true);
        fFirstPoll = GROUP_STATE; // the identity is read once per connection
        Post({WM_SW_CONNECTED, 1});
    } else {
        FindChanges();
    }
    if (fChanged[fFirstPost - 1])
        PostGroup(fFirstPost);
    for (int group = 1; group <= GROUP_COUNT; ++group) {
        if (fChanged[group - 1])
            PostGroup(group);
    }
}

// A written flag stays set until the handler has taken a notification of its group, so
// the group goes out in every cycle until then.
void TLinkMachine::FindChanges() {
    for (int group = 1; group <= GROUP_COUNT; ++group) {
        const auto length = static_cast<std::size_t>(GroupSpec(group).PayloadLength);
        fChanged[group - 1] =
            std::memcmp(fCurrent[group - 1].data(), fPrevious[group - 1].data(), length) != 0;
    }
    fChanged[GROUP_SETTINGS - 1] = fChanged[GROUP_SETTINGS - 1] || fWritten.Settings;
    fChanged[GROUP_POWER - 1] = fChanged[GROUP_POWER - 1] || fWritten.Power;
}

void TLinkMachine::PostGroup(int group) {
    fPrevious[group - 1] = fCurrent[group - 1];
    TLinkNotice notice{WM_SW_GROUP + group};
    notice.Payload = fCurrent[group - 1];
    Post(notice);
    fChanged[group - 1] = false;
}

void TLinkMachine::ReportRate(TLinkTime now) {
    ++fRateCycles;
    const std::uint32_t tick = Tick(now);
    const std::uint32_t elapsed = tick - fRateTick;
    if (elapsed < RATE_PERIOD_MS)
        return;
    PostLinkStat(CycleRate(fRateCycles, elapsed), LINK_RATE);
    fRateTick = tick;
    fRateCycles = 0;
}

void TLinkMachine::PostLinkStat(std::uint32_t value, int kind) {
    Post({WM_SW_LINKSTAT, kind, static_cast<std::int32_t>(value)});
}

void TLinkMachine::Post(const TLinkNotice& notice) {
    fNotices[(fNoticeHead + fNoticeCount) % fNotices.size()] = notice;
    ++fNoticeCount;
}

// ---- Steps -----------------------------------------------------------------------

// Keeps step as the action that follows the notices still to be handed out.
TLinkStep TLinkMachine::Act(TLinkStep step) {
    fAction = step;
    return Next();
}

TLinkStep TLinkMachine::Exchange(TPhase phase, std::span<const std::uint8_t> request) {
    fPhase = phase;
    TLinkStep step;
    step.Action = TLinkAction::Exchange;
    step.Limit = fSetup.Timing.Timeout;
    step.Request = request;
    return Act(step);
}

TLinkStep TLinkMachine::Pause(TPhase phase, TLinkTime now, std::chrono::milliseconds span) {
    fPhase = phase;
    TLinkStep step;
    step.Action = TLinkAction::Pause;
    step.Span = span;
    step.Until = now + span;
    return Act(step);
}

TLinkStep TLinkMachine::GiveUp(int stopCode, int error) {
    fStopCode = stopCode;
    fLastError = error;
    return Close();
}

TLinkStep TLinkMachine::Close() {
    fPhase = TPhase::Ended;
    EndCommand(TCommandEnd::Failed, nullptr, 0);
    if (fSetup.Tap)
        fSetup.Tap->LinkEnded(fStopCode);
    TLinkStep step;
    step.Action = TLinkAction::Close;
    step.Notice = {WM_SW_STOPPED, fStopCode};
    step.Error = fLastError;
    return Act(step);
}
