#include "SoakLane.h"

#include "DeviceProtocol.h"
#include "SimState.h"

#include <algorithm>

namespace {

// Far beyond the longest round: three of the station's reply time-outs and the pauses
// between them.
constexpr auto ROUND_LIMIT = std::chrono::seconds(15);
constexpr int MAX_COMMANDS = 3;
constexpr int STEADY_COMMANDS = 6;
constexpr auto CYCLE_WAIT = std::chrono::milliseconds(50);

double Milliseconds(std::chrono::steady_clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// The stop codes a round of each kind may end with, and the last error that goes with
// them; -1 for a code when no stop event is to be seen, and for the error when any will do.
struct TExpected {
    std::vector<int> Codes;
    int Error;
};

TExpected Expected(TSoakKind kind) {
    switch (kind) {
    case TSoakKind::Clean:
    case TSoakKind::Steady:
    case TSoakKind::Delay:
    case TSoakKind::ByteByByte:
    case TSoakKind::Junk:
    case TSoakKind::SilentThenDisconnect:
        return {{STOP_BY_REQUEST}, 0};
    case TSoakKind::Refuse:
        return {{STOP_CONNECT_FAILED}, -1};
    case TSoakKind::WrongHeader:
    case TSoakKind::ExtraByte:
    case TSoakKind::WrongGroup:
    case TSoakKind::BadChecksum:
        return {{STOP_READ_FAILED}, SOCK_ERR_BAD_FRAME};
    case TSoakKind::CloseMidFrame:
    case TSoakKind::Drop:
        return {{STOP_WRITE_FAILED, STOP_READ_FAILED}, SOCK_ERR_CONN_RESET};
    case TSoakKind::Destroy:
        return {{-1}, -1};
    case TSoakKind::Silent:
    case TSoakKind::AnswerFirst:
    case TSoakKind::NoAck:
        return {{STOP_TIMEOUT}, SOCK_ERR_TIMEOUT};
    }
    return {{}, -1};
}

} // namespace

const char* KindName(TSoakKind kind) {
    switch (kind) {
    case TSoakKind::Clean:
        return "clean";
    case TSoakKind::Steady:
        return "steady";
    case TSoakKind::Delay:
        return "delay";
    case TSoakKind::ByteByByte:
        return "byte-by-byte";
    case TSoakKind::Junk:
        return "junk";
    case TSoakKind::Refuse:
        return "refuse";
    case TSoakKind::WrongHeader:
        return "wrong-header";
    case TSoakKind::ExtraByte:
        return "extra-byte";
    case TSoakKind::WrongGroup:
        return "wrong-group";
    case TSoakKind::BadChecksum:
        return "bad-checksum";
    case TSoakKind::CloseMidFrame:
        return "close-mid-frame";
    case TSoakKind::Drop:
        return "drop";
    case TSoakKind::Destroy:
        return "destroy";
    case TSoakKind::Silent:
        return "silent";
    case TSoakKind::SilentThenDisconnect:
        return "silent-then-disconnect";
    case TSoakKind::AnswerFirst:
        return "answer-first";
    case TSoakKind::NoAck:
        return "no-ack";
    }
    return "?";
}

TSoakLane::TSoakLane(std::vector<TSoakKind> rotation, int rounds, int destroyEvery, unsigned seed,
                     TWindowThreadTimes& times, const TLinkTiming& timing)
    : fRotation(std::move(rotation)), fRoundsWanted(rounds), fDestroyEvery(destroyEvery),
      fRandom(seed), fTimes(times), fTiming(timing) {
    TSimOptions options;
    options.Port = 0;
    fDevice = std::make_unique<TSimDevice>(options);
    if (!fDevice->Start())
        fFailures.push_back("the simulator cannot listen on 127.0.0.1");
    NewLink();
}

void TSoakLane::NewLink() {
    fLink = std::make_unique<TSwObject>();
    fLink->SetTiming(fTiming);
    fLink->OnStop.Listen([this](TSwObject* link, int code) {
        fStopped = true;
        fStopCode = code;
        fStopError = link->LastError();
    });
}

int TSoakLane::Random(int from, int to) {
    return std::uniform_int_distribution<int>(from, to)(fRandom);
}

void TSoakLane::Execute(const std::string& command) {
    const std::string error = fDevice->Execute(command);
    if (!error.empty())
        fFailures.push_back("simulator refused \"" + command + "\": " + error);
}

double TSoakLane::Seconds() const {
    return std::chrono::duration<double>(fLastEnd - fFirstStart).count();
}

void TSoakLane::Step() {
    switch (fPhase) {
    case TPhase::Idle:
        if (fRounds < fRoundsWanted)
            BeginRound();
        return;
    case TPhase::WaitingForDevice:
        // The device serves one station at a time: the last round's must have left.
        if (!fDevice->StationConnected())
            StartRound();
        return;
    case TPhase::Running:
        // The device keeps every payload it receives; the lane reads none of them, and
        // their memory must not be taken for the link's.
        fDevice->ClearReceived();
        RunDueActions();
        CheckEnd();
        return;
    }
}

void TSoakLane::BeginRound() {
    if (fRounds == 0)
        fFirstStart = Clock::now();
    const bool destroy = fDestroyEvery > 0 && (fRounds + 1) % fDestroyEvery == 0;
    fKind = destroy ? TSoakKind::Destroy
                    : fRotation[static_cast<std::size_t>(fRounds) % fRotation.size()];
    fStopped = false;
    fDestroyed = false;
    fStopCode = -1;
    fPhase = TPhase::WaitingForDevice;
}

void TSoakLane::StartRound() {
    switch (fKind) {
    case TSoakKind::Refuse:
        Execute("fault refuse on");
        break;
    case TSoakKind::AnswerFirst:
        Execute("fault answer-first " + std::to_string(Random(0, 40)));
        break;
    case TSoakKind::NoAck:
        Execute("fault no-ack on");
        break;
    default:
        break;
    }
    const auto start = Clock::now();
    fLink->Connect("127.0.0.1", fDevice->Port());
    fTimes.OtherLinkCall = std::max(fTimes.OtherLinkCall, Milliseconds(Clock::now() - start));
    fDeadline = Clock::now() + ROUND_LIMIT;
    ScheduleRound();
    fPhase = TPhase::Running;
}

// Schedules an action a random number of milliseconds from now, and returns the number.
int TSoakLane::Schedule(TAct act, int fromMs, int toMs, std::string text, bool needsConnection) {
    const int ms = Random(fromMs, toMs);
    fActions.push_back(
        {Clock::now() + std::chrono::milliseconds(ms), act, std::move(text), needsConnection});
    return ms;
}

// The fault is there from the first request on, or starts at a random moment of the
// first cycles, or meets the acknowledgement of a write.
void TSoakLane::ScheduleFault(const std::string& fault) {
    switch (Random(0, 2)) {
    case 0:
        Execute("fault " + fault);
        return;
    case 1:
        Schedule(TAct::Fault, 0, 150, fault);
        return;
    default:
        Schedule(TAct::WriteFault, 0, 150, fault, true);
        return;
    }
}

// Waits until the device has received the last request of a cycle; the worker then takes
// a command after the pause that starts its next cycle.
void TSoakLane::AwaitCycleEnd() {
    const auto& last = GroupSpec(GROUP_COUNTERS).Request;
    const TSimBytes request(last.begin(), last.end());
    fDevice->WaitUntil(
        [&request](const std::vector<TSimRecord>& records) {
            return !records.empty() && records.back().Payload == request;
        },
        CYCLE_WAIT);
}

void TSoakLane::ScheduleRound() {
    for (int i = Random(0, MAX_COMMANDS); i > 0; --i)
        Schedule(TAct::Command, 0, 300);
    switch (fKind) {
    case TSoakKind::Clean:
        Schedule(TAct::Disconnect, 20, 300);
        return;
    case TSoakKind::Steady:
        for (int i = 0; i < STEADY_COMMANDS; ++i)
            Schedule(TAct::Command, 0, 4000);
        Schedule(TAct::Disconnect, 1000, 4000);
        return;
    case TSoakKind::Delay:
        ScheduleFault("delay " + std::to_string(Random(1, 40)));
        Schedule(TAct::Disconnect, 50, 400);
        return;
    case TSoakKind::ByteByByte:
        ScheduleFault("byte-by-byte " + std::to_string(Random(1, 4)));
        Schedule(TAct::Disconnect, 50, 400);
        return;
    case TSoakKind::Junk:
        ScheduleFault("junk " + std::to_string(Random(1, 300)));
        Schedule(TAct::Disconnect, 50, 400);
        return;
    case TSoakKind::WrongHeader:
    case TSoakKind::ExtraByte:
    case TSoakKind::WrongGroup:
    case TSoakKind::BadChecksum:
    case TSoakKind::CloseMidFrame:
    case TSoakKind::Silent:
        ScheduleFault(KindName(fKind)); // named as the simulator names the fault
        return;
    case TSoakKind::Drop:
        Schedule(TAct::Drop, 0, 200, {}, true);
        return;
    case TSoakKind::Destroy:
        Schedule(TAct::Destroy, 0, 300);
        return;
    case TSoakKind::SilentThenDisconnect: {
        // Within the first two of the three reply time-outs: a Disconnect during the last
        // one ends the round as a time-out, the device having been silent all along.
        const int silentMs = Schedule(TAct::Fault, 0, 150, "silent");
        const auto timeoutMs = static_cast<int>(fTiming.Timeout.count());
        Schedule(TAct::Disconnect, silentMs + timeoutMs / 10, silentMs + 2 * timeoutMs);
        return;
    }
    case TSoakKind::NoAck:
        Schedule(TAct::Command, 0, 100, {}, true);
        return;
    case TSoakKind::Refuse:
    case TSoakKind::AnswerFirst:
        return;
    }
}

void TSoakLane::RunDueActions() {
    const auto now = Clock::now();
    std::erase_if(fActions, [&](const TAction& action) {
        return !fDestroyed && action.At <= now && Run(action);
    });
}

// False when the action must wait for the connection.
bool TSoakLane::Run(const TAction& action) {
    if (action.NeedsConnection && !(fLink->IsConnected() && fDevice->StationConnected()))
        return false;
    switch (action.Act) {
    case TAct::Fault:
        Execute("fault " + action.Text);
        return true;
    case TAct::WriteFault:
        AwaitCycleEnd();
        PostRandomCommand();
        Execute("fault " + action.Text);
        return true;
    case TAct::Drop:
        Execute("drop");
        return true;
    case TAct::Command:
        PostRandomCommand();
        return true;
    case TAct::Disconnect:
        TimedDisconnect();
        return true;
    case TAct::Destroy: {
        const auto start = Clock::now();
        fLink.reset();
        fTimes.Disconnect = std::max(fTimes.Disconnect, Milliseconds(Clock::now() - start));
        NewLink();
        fDestroyed = true;
        return true;
    }
    }
    return true;
}

void TSoakLane::TimedDisconnect() {
    const auto start = Clock::now();
    fLink->Disconnect();
    fTimes.Disconnect = std::max(fTimes.Disconnect, Milliseconds(Clock::now() - start));
}

void TSoakLane::PostRandomCommand() {
    const auto start = Clock::now();
    switch (Random(0, 3)) {
    case 0:
        fLink->SelectInput(Random(INPUT_A, INPUT_B));
        break;
    case 1:
        fLink->SetAutoMode();
        break;
    case 2: {
        TSettingsBlock block = SIM_DEFAULT_SETTINGS;
        block[1] = static_cast<std::uint8_t>(Random(1, 99)); // sync time, tenths of a second
        fLink->WriteSettings(block);
        break;
    }
    default:
        fLink->SetPowerMonitoring(Random(0, 3));
        break;
    }
    fTimes.OtherLinkCall = std::max(fTimes.OtherLinkCall, Milliseconds(Clock::now() - start));
}

void TSoakLane::CheckEnd() {
    if (fDestroyed) {
        // The stop notification went away with the link object, unseen.
        EndRound(-1, 0);
        return;
    }
    if (fStopped) {
        EndRound(fStopCode, fStopError);
        return;
    }
    if (Clock::now() > fDeadline) {
        fFailures.push_back(std::string("round ") + std::to_string(fRounds) + " (" +
                            KindName(fKind) + "): no stop within 15 s");
        fDeadline = Clock::now() + ROUND_LIMIT;
        TimedDisconnect();
    }
}

void TSoakLane::EndRound(int code, int lastError) {
    ++fSeen[fKind][code];
    const TExpected expected = Expected(fKind);
    const bool codeOk =
        std::find(expected.Codes.begin(), expected.Codes.end(), code) != expected.Codes.end();
    if (!codeOk || (expected.Error >= 0 && lastError != expected.Error))
        fFailures.push_back(std::string("round ") + std::to_string(fRounds) + " (" +
                            KindName(fKind) + "): stop " + std::to_string(code) + ", last error " +
                            std::to_string(lastError));
    // Every fault off, a refused listener open again: the device as the next round, or
    // the end of the test, expects it.
    Execute("fault none");
    fActions.clear();
    fPhase = TPhase::Idle;
    ++fRounds;
    fLastEnd = Clock::now();
}
