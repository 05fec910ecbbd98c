// The link machine fed arbitrary inputs in arbitrary order, as a careless driver might.
//
// Input: one byte per step. Its low three bits pick the input (a reply, a send or receive
// failure, a pause's end, the connect's outcome, a stop request, a queued command), the
// high bits its variant and how far the clock moves; a reply takes its length and bytes
// from the data that follows, or is the sound reply to the request in progress. After
// every input the posts are taken off until the next step. The machine must hold to its
// contract: an input that does not end the step in progress changes nothing, one that
// does is answered with a step (so there is never more than one request in flight), the
// stop code is one of the table's, notices are ones the handler knows, and after Close
// nothing comes at all.

#include "FuzzCheck.h"
#include "LinkMachine.h"

#include <algorithm>
#include <vector>

namespace {

constexpr int STOP_CODES[] = {STOP_BY_REQUEST, STOP_CONNECT_FAILED, STOP_WRITE_FAILED,
                              STOP_READ_FAILED, STOP_TIMEOUT};
constexpr int ERRORS[] = {SOCK_ERR_TIMEOUT, SOCK_ERR_BAD_FRAME, SOCK_ERR_CONN_RESET, 0};

// What a driver holds: the step in progress and the request it sent.
struct TDriver {
    TLinkAction Pending = TLinkAction::None;
    std::vector<std::uint8_t> Request;
    bool Closed = false;
};

void CheckNotice(const TLinkNotice& notice) {
    const bool group = notice.Message > WM_SW_GROUP && notice.Message <= WM_SW_GROUP + GROUP_COUNT;
    const bool stat = notice.Message == WM_SW_LINKSTAT &&
                      (notice.Param == LINK_RATE || notice.Param == LINK_TIMEOUTS ||
                       notice.Param == LINK_READ_WARNING || notice.Param == LINK_READ_ERRORS);
    Expect(group || stat || (notice.Message == WM_SW_CONNECTED && notice.Param == 1),
           "a notice the handler does not know");
}

// Takes the posts off a step and checks the action after them; step is the machine's
// answer to an input that ended the step in progress when ends is true.
void Take(TLinkMachine& machine, TDriver& driver, TLinkStep step, bool ends) {
    if (driver.Closed) {
        Expect(step.Action == TLinkAction::None, "a step after Close");
        return;
    }
    if (!ends) {
        Expect(step.Action == TLinkAction::None, "an input out of place changed the machine");
        return;
    }
    for (; step.Action == TLinkAction::Post; step = machine.Next())
        CheckNotice(step.Notice);
    Expect(step.Action != TLinkAction::None && step.Action != TLinkAction::Connect,
           "an input that ended a step was not answered with the next");
    if (step.Action == TLinkAction::Exchange) {
        Expect(!step.Request.empty() && step.Request.size() <= MAX_WRITE_REQUEST,
               "a request of impossible length");
        driver.Request.assign(step.Request.begin(), step.Request.end());
    }
    if (step.Action == TLinkAction::Close) {
        Expect(step.Notice.Message == WM_SW_STOPPED &&
                   std::find(std::begin(STOP_CODES), std::end(STOP_CODES), step.Notice.Param) !=
                       std::end(STOP_CODES),
               "a stop code outside the table");
        Expect(machine.Ended(), "closed but not ended");
        driver.Closed = true;
    }
    Expect(machine.Next().Action == TLinkAction::None, "a second step for one input");
    driver.Pending = step.Action;
}

// The reply a sound device gives to request.
std::vector<std::uint8_t> SoundReply(const std::vector<std::uint8_t>& request) {
    for (int group = 1; group <= GROUP_COUNT; ++group) {
        const TGroupSpec& layout = GroupSpec(group);
        if (std::equal(request.begin(), request.end(), layout.Request.begin(),
                       layout.Request.end())) {
            std::vector<std::uint8_t> reply(layout.ReplyHeader.begin(), layout.ReplyHeader.end());
            reply.resize(HEADER_SIZE + static_cast<std::size_t>(layout.PayloadLength), 0x5A);
            return reply;
        }
    }
    return {request.at(0), request.at(1), 0x10, 0x70, 0x01, 0x05};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TCommandQueue commands;
    std::atomic<bool> settingsWritten{false};
    std::atomic<bool> powerWritten{false};
    TLinkTiming timing;
    timing.Timeout = std::chrono::milliseconds(500);
    TLinkMachine machine(commands, {settingsWritten, powerWritten},
                         {timing, std::chrono::milliseconds(size % 2 == 0 ? 0 : 100), nullptr});
    TDriver driver;
    TLinkTime now{};
    Expect(machine.Start().Action == TLinkAction::Connect, "no connect first");
    driver.Pending = TLinkAction::Connect;
    for (std::size_t at = 0; at < size; ++at) {
        const std::uint8_t byte = data[at];
        const int variant = byte >> 3;
        now += std::chrono::milliseconds(variant);
        const bool exchanging = driver.Pending == TLinkAction::Exchange;
        const bool pausing =
            driver.Pending == TLinkAction::Pause || driver.Pending == TLinkAction::Wait;
        switch (byte & 7) {
        case 0: {
            std::vector<std::uint8_t> reply;
            if (variant % 4 != 0 && !driver.Request.empty()) {
                reply = SoundReply(driver.Request);
            } else {
                const std::size_t length = std::min<std::size_t>(variant, size - at - 1);
                reply.assign(data + at + 1, data + at + 1 + length);
                at += length;
            }
            Take(machine, driver,
                 machine.Replied(reply.data(), static_cast<int>(reply.size()), now), exchanging);
            break;
        }
        case 1:
            Take(machine, driver, machine.SendFailed(ERRORS[variant % 4]), exchanging);
            break;
        case 2:
            Take(machine, driver, machine.ReceiveFailed(ERRORS[variant % 4], now), exchanging);
            break;
        case 3:
        case 4:
            Take(machine, driver, machine.PauseEnded(now), pausing);
            break;
        case 5: {
            const bool connecting = driver.Pending == TLinkAction::Connect;
            Take(machine, driver,
                 variant % 2 == 0 ? machine.Connected(now) : machine.ConnectFailed(), connecting);
            break;
        }
        case 6:
            machine.RequestStop();
            break;
        default:
            commands.Post({variant % 6, variant, {}});
            break;
        }
    }
    return 0;
}
