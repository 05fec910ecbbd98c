// The link machine on its own, fed scripted inputs on a clock of the test's making: the
// order of requests and pauses, commands, retries and stop codes, change notices, the
// rate report and stop requests.

#include "LinkMachine.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace std::chrono_literals;

namespace {

using Log = std::vector<std::string>;

// A group's reply: its header and payload, every payload byte set to fill.
std::vector<std::uint8_t> GroupReply(int group, std::uint8_t fill) {
    const TGroupSpec& layout = GroupSpec(group);
    std::vector<std::uint8_t> reply(layout.ReplyHeader.begin(), layout.ReplyHeader.end());
    reply.resize(HEADER_SIZE + static_cast<std::size_t>(layout.PayloadLength), fill);
    return reply;
}

int PolledGroup(std::span<const std::uint8_t> request) {
    for (int group = 1; group <= GROUP_COUNT; ++group) {
        if (std::equal(request.begin(), request.end(), GroupSpec(group).Request.begin(),
                       GroupSpec(group).Request.end()))
            return group;
    }
    return 0;
}

// A link machine and the test's side of it: a clock, a sound device, and a log of what
// the machine asked for.
class Script {
public:
    explicit Script(std::chrono::milliseconds period = 0ms, std::shared_ptr<TLinkTap> tap = {})
        : fMachine(fCommands, {fSettingsWritten, fPowerWritten}, {{}, period, std::move(tap)}) {}

    // Logs the posts and carries out pauses and waits on the test's clock; returns the first
    // step that needs an answer: Connect, Exchange or Close.
    TLinkStep Settle(TLinkStep step) {
        for (;;) {
            switch (step.Action) {
            case TLinkAction::Post:
                fLog.push_back(NoticeText(step.Notice));
                step = fMachine.Next();
                break;
            case TLinkAction::Pause:
                fLog.push_back("P" + std::to_string(step.Span.count()));
                EXPECT_EQ(step.Until, fNow + step.Span);
                fNow = step.Until;
                step = fMachine.PauseEnded(fNow);
                break;
            case TLinkAction::Wait:
                fLog.push_back("Wait");
                fNow = std::max(fNow, step.Until);
                step = fMachine.PauseEnded(fNow);
                break;
            case TLinkAction::Exchange:
                fLog.push_back(RequestText(step.Request));
                return step;
            case TLinkAction::Close:
                fLog.push_back("Close " + std::to_string(step.Notice.Param) + " " +
                               std::to_string(step.Error));
                return step;
            default:
                return step;
            }
        }
    }

    TLinkStep Connect() {
        EXPECT_EQ(fMachine.Start().Action, TLinkAction::Connect);
        return Settle(fMachine.Connected(fNow));
    }

    // Answers an exchange as a sound device does.
    TLinkStep Answer(const TLinkStep& exchange) {
        const int group = PolledGroup(exchange.Request);
        std::vector<std::uint8_t> reply =
            group != 0 ? GroupReply(group, fFill[group - 1])
                       : std::vector<std::uint8_t>{
                             exchange.Request[0], exchange.Request[1], 0x10, 0x70, 0x01, 0x05};
        return Settle(fMachine.Replied(reply.data(), static_cast<int>(reply.size()), fNow));
    }

    TLinkStep Answer(TLinkStep step, int exchanges) {
        for (int i = 0; i < exchanges; ++i)
            step = Answer(step);
        return step;
    }

    TLinkStep Fail(int error) { return Settle(fMachine.ReceiveFailed(error, fNow)); }

    // Connects and answers the first cycle, leaving the second cycle's first request out.
    TLinkStep FirstCycle() { return Answer(Connect(), GROUP_COUNT); }

    Log Take() { return std::exchange(fLog, {}); }

    static std::string NoticeText(const TLinkNotice& notice) {
        if (notice.Message == WM_SW_LINKSTAT)
            return "Stat " + std::to_string(notice.Param) + " " + std::to_string(notice.Value);
        if (notice.Message == WM_SW_CONNECTED)
            return "Connected";
        return "Group " + std::to_string(notice.Message - WM_SW_GROUP);
    }

    static std::string RequestText(std::span<const std::uint8_t> request) {
        const int group = PolledGroup(request);
        return group != 0 ? "S" + std::to_string(group) : "W" + std::to_string(request.size());
    }

    TCommandQueue fCommands;
    std::atomic<bool> fSettingsWritten{true};
    std::atomic<bool> fPowerWritten{true};
    TLinkMachine fMachine;
    TLinkTime fNow = TLinkTime{} + 1h;
    // The byte every payload of a group is filled with.
    std::array<std::uint8_t, GROUP_COUNT> fFill{};
    Log fLog;
};

class LinkMachineTest : public testing::Test, public Script {};

} // namespace

TEST_F(LinkMachineTest, ConnectingAndTheFirstCycles) {
    EXPECT_EQ(fMachine.Start().Limit, 3000ms);
    EXPECT_FALSE(fSettingsWritten) << "the written flags start cleared";
    EXPECT_FALSE(fPowerWritten);
    fCommands.Post({CMD_AUTO_MODE, 0, {}});
    TLinkStep step = Settle(fMachine.Connected(fNow));
    step = Answer(step, GROUP_COUNT);
    EXPECT_EQ(Take(),
              (Log{"P1", "S1", "P1", "S2", "P1", "S3", "P1", "S4", "P1", "S5", "P1", "Connected",
                   "Group 1", "Group 2", "Group 3", "Group 4", "Group 5", "P1", "W6"}))
        << "a command queued in the first cycle waits for the second";
    step = Answer(step, 5);
    EXPECT_EQ(Take(), (Log{"S2", "P1", "S3", "P1", "S4", "P1", "S5", "P1", "P1", "S2"}))
        << "no pause after the acknowledgement; the identity is read once; nothing changed";

    TLinkMachine refused{fCommands, {fSettingsWritten, fPowerWritten}, {}};
    refused.Start();
    step = refused.ConnectFailed();
    EXPECT_EQ(step.Action, TLinkAction::Close);
    EXPECT_EQ(step.Notice.Message, WM_SW_STOPPED);
    EXPECT_EQ(step.Notice.Param, STOP_CONNECT_FAILED);
    EXPECT_EQ(step.Error, 0);

    TLinkMachine stopped{fCommands, {fSettingsWritten, fPowerWritten}, {}};
    stopped.Start();
    stopped.RequestStop();
    step = stopped.Connected(fNow);
    EXPECT_EQ(step.Action, TLinkAction::Close) << "a stop asked for while connecting stands";
    EXPECT_EQ(step.Notice.Param, STOP_BY_REQUEST);
}

TEST_F(LinkMachineTest, CommandsGoOutOnePerCycleAndTheirGroupFirst) {
    TLinkStep step = FirstCycle();
    fSettingsWritten = false;
    fPowerWritten = false;
    TSettingsBlock block{};
    fCommands.Post({CMD_POWER_MONITORING, 3, {}});
    fCommands.Post({CMD_WRITE_SETTINGS, 0, block});
    fCommands.Post({9, 0, {}});
    step = Answer(step, 4);
    Take();
    fFill[GROUP_STATE - 1] = 1;
    step = Answer(step, 5);
    EXPECT_TRUE(fPowerWritten);
    EXPECT_EQ(Take(), (Log{"S2", "P1", "S3", "P1", "S4", "P1", "S5", "P1", "Group 4", "Group 2",
                           "P1", "W27"}))
        << "the power group first, then the others in order";
    fPowerWritten = false;
    step = Answer(step, 5);
    EXPECT_EQ(Take(), (Log{"S2", "P1", "S3", "P1", "S4", "P1", "S5", "P1", "Group 3", "P1", "S2"}))
        << "an unknown command code is dropped without an exchange";
    step = Answer(step, 4);
    EXPECT_EQ(Take(), (Log{"P1", "S3", "P1", "S4", "P1", "S5", "P1", "Group 3", "P1", "S2"}))
        << "posted in every cycle while the settings flag is set";

    // A write is sent again at once, without statistics, and gives up after three attempts.
    fSettingsWritten = false;
    fCommands.Post({CMD_SELECT_INPUT, 2, {}});
    step = Answer(step, 4);
    Take();
    step = Fail(SOCK_ERR_TIMEOUT);
    step = Fail(SOCK_ERR_BAD_FRAME);
    step = Fail(SOCK_ERR_TIMEOUT);
    step = Fail(SOCK_ERR_BAD_FRAME);
    EXPECT_EQ(Take(), (Log{"W8", "W8", "W8", "W8"}));
    step = Fail(SOCK_ERR_TIMEOUT);
    EXPECT_EQ(Take(), (Log{"Close 1003 258"}));
    EXPECT_EQ(Settle(fMachine.Next()).Action, TLinkAction::None) << "nothing after Close";

    Script wrongAck;
    step = wrongAck.FirstCycle();
    wrongAck.fCommands.Post({CMD_AUTO_MODE, 0, {}});
    step = wrongAck.Answer(step, 4);
    wrongAck.Take();
    const std::uint8_t settingsAck[] = {0x01, 0x01, 0x10, 0x70, 0x01, 0x05};
    step = wrongAck.Settle(wrongAck.fMachine.Replied(settingsAck, 6, fNow));
    EXPECT_EQ(wrongAck.Take(), (Log{"Close 1002 11004"}));
}

TEST_F(LinkMachineTest, PollFailuresAreCountedRetriedAndEndTheLink) {
    TLinkStep step = FirstCycle();
    Take();
    step = Fail(SOCK_ERR_TIMEOUT);
    step = Fail(SOCK_ERR_TIMEOUT);
    step = Answer(step);
    step = Fail(SOCK_ERR_TIMEOUT);
    step = Fail(SOCK_ERR_CONN_RESET);
    EXPECT_EQ(Take(), (Log{"Stat 2 1", "P100", "S2", "Stat 2 2", "Stat 3 0", "P100", "S2", "P1",
                           "S3", "Stat 2 3", "P100", "S3", "Stat 6 1", "P100", "S3"}))
        << "counts restart with every request, totals run on";
    step = Fail(SOCK_ERR_TIMEOUT);
    Take();
    step = Fail(SOCK_ERR_TIMEOUT);
    EXPECT_EQ(Take(), (Log{"Stat 2 5", "Close 1003 258"}));

    Script failing;
    step = failing.FirstCycle();
    step = failing.Fail(SOCK_ERR_CONN_RESET);
    step = failing.Fail(SOCK_ERR_BAD_FRAME);
    failing.Take();
    step = failing.Fail(SOCK_ERR_CONN_RESET);
    EXPECT_EQ(failing.Take(), (Log{"Stat 6 3", "Close 1002 10054"}));

    Script wrongReply;
    step = wrongReply.Connect();
    const std::vector<std::uint8_t> state = GroupReply(GROUP_STATE, 0);
    step = wrongReply.Settle(
        wrongReply.fMachine.Replied(state.data(), static_cast<int>(state.size()), fNow));
    EXPECT_EQ(wrongReply.Take(), (Log{"P1", "S1", "Close 1002 11004"}));

    Script sendFails;
    step = sendFails.Settle(sendFails.fMachine.SendFailed(SOCK_ERR_CONN_RESET));
    EXPECT_EQ(step.Action, TLinkAction::None) << "no exchange in progress yet";
    step = sendFails.Connect();
    step = sendFails.Settle(sendFails.fMachine.SendFailed(SOCK_ERR_CONN_RESET));
    EXPECT_EQ(sendFails.Take(), (Log{"P1", "S1", "Close 1001 10054"}));
}

TEST_F(LinkMachineTest, ChangedGroupsAndTheRateAreReported) {
    TLinkStep step = FirstCycle();
    fSettingsWritten = false;
    fPowerWritten = false;
    step = Answer(step, 4);
    Take();
    fFill[GROUP_COUNTERS - 1] = 7;
    fFill[GROUP_SETTINGS - 1] = 9;
    step = Answer(step, 4);
    EXPECT_EQ(Take(),
              (Log{"P1", "S3", "P1", "S4", "P1", "S5", "P1", "Group 3", "Group 5", "P1", "S2"}));
    step = Answer(step, 4);
    EXPECT_EQ(Take(), (Log{"P1", "S3", "P1", "S4", "P1", "S5", "P1", "P1", "S2"}));

    // On the test's clock the first cycle takes 6 ms and every later one 5 ms, so the 200th
    // ends at 1001 ms: 199.8 cycles a second, reported once, rounded.
    for (int cycle = 5; cycle <= 200; ++cycle)
        step = Answer(step, 4);
    const Log log = Take();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& line) { return line.starts_with("Stat"); }),
              1);
    EXPECT_NE(std::find(log.begin(), log.end(), "Stat 1 200"), log.end());
}

TEST_F(LinkMachineTest, StopRequestsTakeEffectBetweenStepsOnly) {
    TLinkStep step = Connect();
    fMachine.RequestStop();
    step = Answer(step);
    EXPECT_EQ(Take(), (Log{"P1", "S1", "Close 0 0"})) << "a reply after the request is not used";

    Script retrying;
    step = retrying.FirstCycle();
    retrying.Take();
    retrying.fMachine.RequestStop();
    step = retrying.Fail(SOCK_ERR_TIMEOUT);
    EXPECT_EQ(retrying.Take(), (Log{"Stat 2 1", "P100", "Close 0 0"}))
        << "the retry pause is waited out";
}

TEST(PacedLinkMachine, CyclesWaitForTheirPeriodAndAStopEndsTheWait) {
    Script paced(100ms);
    TLinkMachine& fMachine = paced.fMachine;
    TLinkTime& fNow = paced.fNow;
    TLinkStep step = paced.FirstCycle();
    const TLinkTime secondCycle = fNow - 1ms;
    step = paced.Answer(step, 4);
    EXPECT_EQ(fNow, secondCycle + 100ms + 1ms) << "the second cycle began 100 ms after the first";
    step = paced.Answer(step, 3);
    step = fMachine.Replied(GroupReply(GROUP_COUNTERS, 0).data(), 19, fNow);
    EXPECT_EQ(step.Action, TLinkAction::Pause);
    fNow = step.Until;
    step = fMachine.PauseEnded(fNow);
    EXPECT_EQ(step.Action, TLinkAction::Wait);
    EXPECT_EQ(step.Until, secondCycle + 200ms);
    fMachine.RequestStop();
    EXPECT_EQ(fMachine.Next().Action, TLinkAction::None);
    step = fMachine.PauseEnded(fNow);
    EXPECT_EQ(step.Action, TLinkAction::Close);
    EXPECT_TRUE(fMachine.Ended());
    EXPECT_EQ(fMachine.PauseEnded(fNow).Action, TLinkAction::None);
    EXPECT_EQ(fMachine.Connected(fNow).Action, TLinkAction::None);
}

namespace {

// Every tap call as one line: "group 2", "command 1 done", "ended 1003".
class LineTap : public TLinkTap {
public:
    void GroupRead(int group, const std::uint8_t*, int) override {
        Lines.push_back("group " + std::to_string(group));
    }
    void CommandEnded(const TCommand& command, TCommandEnd end, const std::uint8_t*,
                      int length) override {
        const char* const ends[] = {"done", "refused", "failed"};
        Lines.push_back("command " + std::to_string(command.Code) + " " +
                        ends[static_cast<int>(end)] + " " + std::to_string(length));
    }
    void LinkEnded(int stopCode) override { Lines.push_back("ended " + std::to_string(stopCode)); }

    Log Lines;
};

} // namespace

TEST(TappedLinkMachine, ACommandEndsWhenItsGroupIsReadAgainOrWithTheLink) {
    auto tap = std::make_shared<LineTap>();
    Script script(0ms, tap);
    TLinkStep step = script.FirstCycle();
    script.fCommands.Post({CMD_POWER_MONITORING, 1, {}});
    script.fCommands.Post({CMD_AUTO_MODE, 0, {}});
    step = script.Answer(step, 4 + 5);
    step = script.Fail(SOCK_ERR_CONN_RESET);
    step = script.Fail(SOCK_ERR_CONN_RESET);
    step = script.Fail(SOCK_ERR_CONN_RESET);
    EXPECT_EQ(tap->Lines, (Log{"group 1", "group 2", "group 3", "group 4", "group 5", "group 2",
                               "group 3", "group 4", "group 5", "group 2", "group 3", "group 4",
                               "command 4 done 6", "group 5", "command 2 failed 0", "ended 1002"}));
}
