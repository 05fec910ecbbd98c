// The relay's request intake fed arbitrary bytes: a client connection receiving them from
// a socket in pieces the input chooses, taking frames off them and telling each payload's
// request as the relay does.
//
// Input: as for fuzz_frames (FuzzPieces.h): a control byte, piece sizes, the stream; the
// stream goes out in pieces of the chosen sizes in turn, each received before the next
// goes, so marks and escape pairs fall across reads wherever the input puts them.
//
// Checks: what is taken off the stream does not depend on how it was cut (the stream
// received in reads as large as a read takes gives the same frames and payloads); a payload
// taken as a read is exactly that group's request; one taken as a write is exactly the
// request the station's link sends for its command, so the device gets nothing else, with
// an input or mask the device knows; and the audit's words for a write, the settings it
// changes against any settings the device reported before included, are made.

#include "FuzzCheck.h"
#include "FuzzPieces.h"
#include "RelayClient.h"
#include "UnitThread.h"

#include <sys/socket.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;

// What one read of the client's socket takes at most.
constexpr std::size_t WHOLE_READ = 4096;

struct TTaken {
    TFrameScan Scan;
    Bytes Payload;

    bool operator==(const TTaken&) const = default;
};

// Everything the client takes off the stream sent in pieces of these sizes, in turn.
std::vector<TTaken> Intake(const Bytes& stream, const std::vector<std::size_t>& sizes) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair) != 0)
        Fail("no socket pair");
    std::vector<TTaken> taken;
    {
        TRelayClient client(pair[0], "fuzz", true, TRelayClock::now());
        std::string reason;
        for (std::size_t sent = 0, index = 0; sent < stream.size(); ++index) {
            const std::size_t size =
                std::min({sizes[index % sizes.size()], WHOLE_READ, stream.size() - sent});
            Expect(send(pair[1], stream.data() + sent, size, MSG_NOSIGNAL) ==
                       static_cast<ssize_t>(size),
                   "a piece was not sent whole");
            sent += size;
            Expect(client.Receive(reason), "the connection ended while open");
            for (TFrameScan scan = client.NextFrame(); scan != TFrameScan::None;
                 scan = client.NextFrame())
                taken.push_back({scan, scan == TFrameScan::Payload ? client.Payload() : Bytes{}});
        }
    }
    close(pair[1]);
    return taken;
}

void CheckRead(const Bytes& payload, const TRelayRequest& request) {
    Expect(request.Group >= 1 && request.Group <= GROUP_COUNT, "a read of no group");
    const auto& read = GroupSpec(request.Group).Request;
    Expect(Bytes(read.begin(), read.end()) == payload, "a read that is not its group's request");
}

void CheckWrite(const Bytes& payload, const TRelayRequest& request, const Bytes& stream) {
    const TCommand& command = request.Command;
    TWriteRequest sent;
    Expect(BuildWriteRequest(command.Code, command.Argument, command.Settings, sent) &&
               Bytes(sent.Bytes.begin(), sent.Bytes.begin() + sent.Length) == payload,
           "a write that is not the request its command sends");
    if (command.Code == CMD_SELECT_INPUT)
        Expect(command.Argument == INPUT_A || command.Argument == INPUT_B, "a select of no input");
    if (command.Code == CMD_POWER_MONITORING)
        Expect(command.Argument >= 0 && command.Argument <= 3, "a power mask out of range");
    Expect(!CommandText(command).empty() && !CommandName(command.Code).empty(),
           "a write without words");
    if (command.Code == CMD_WRITE_SETTINGS) {
        // The settings before: whatever the device may have reported.
        Bytes before(stream);
        before.resize(MAX_GROUP_PAYLOAD);
        Expect(!SettingsChanges(before.data(), command.Settings).empty(), "no words for settings");
    }
}

void CheckRequest(const Bytes& payload, const Bytes& stream) {
    const TRelayRequest request = ClassifyRequest(payload);
    if (request.Kind == TRequestKind::Read)
        CheckRead(payload, request);
    else if (request.Kind == TRequestKind::Write)
        CheckWrite(payload, request, stream);
    else
        PayloadText(payload);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TPieces input = SplitPieces(data, size);
    const std::vector<TTaken> taken = Intake(input.Stream, input.Sizes);
    if (taken != Intake(input.Stream, {WHOLE_READ}))
        Fail("the frames taken depend on how the stream was cut");
    for (const TTaken& frame : taken) {
        if (frame.Scan == TFrameScan::Payload)
            CheckRequest(frame.Payload, input.Stream);
    }
    return 0;
}
