// The frame codec fed arbitrary bytes: DecodeFrame on the whole stream, and ReceiveFrame
// reading the same stream from a socket in pieces that the input chooses.
//
// Input: one control byte, then as many piece sizes as its bits 0-2 say (0 stands for
// 1024), then the stream. When bit 3 is set, the stream is repeated until it is longer
// than a receive buffer, so short inputs reach the receiver's full-buffer path too. The
// stream goes out in pieces of the chosen sizes in turn, then in pieces of 1024. A
// sequenced-packet socket pair hands each piece to a read of its own, so marks and escape
// pairs fall across reads wherever the input puts them. The writing end is shut once
// everything is queued, so a stream without a frame ends the receive at once.
//
// ReceiveFrame must give what one look at the whole stream finds: the first frame in the
// bytes one call can hold, decoded, or the error for its absence.

#include "FuzzCheck.h"
#include "FuzzPieces.h"
#include "NBSockets30.h"

#include <algorithm>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t RECEIVE_TIMEOUT_MS = 2000;
constexpr std::uint8_t REPEAT_BIT = 0x08;
constexpr std::size_t READ_SIZE = 1024;
// Pieces of chosen sizes; the rest of the stream goes in reads of READ_SIZE, which keeps
// the number of queued packets within what the socket pair holds.
constexpr std::size_t MAX_CHOSEN_PIECES = 48;

struct TOutcome {
    bool Ok = false;
    int Error = 0;
    Bytes Payload;
};

void RepeatPastOneBuffer(Bytes& stream) {
    const Bytes once = stream;
    while (!once.empty() && stream.size() <= SW_BUFFER_SIZE)
        stream.insert(stream.end(), once.begin(), once.end());
}

TPieces Split(const std::uint8_t* data, std::size_t size) {
    TPieces input = SplitPieces(data, size);
    if ((input.Control & REPEAT_BIT) != 0)
        RepeatPastOneBuffer(input.Stream);
    return input;
}

// A piece never exceeds the room the receiver's next read has, so every read takes
// exactly one piece, as a read of a stream socket could.
std::size_t PieceSize(const TPieces& input, std::size_t index, std::size_t sent) {
    const std::size_t chosen =
        index < MAX_CHOSEN_PIECES ? input.Sizes[index % input.Sizes.size()] : READ_SIZE;
    return std::min({chosen, READ_SIZE, SW_BUFFER_SIZE - sent, input.Stream.size() - sent});
}

// Queues the stream (at most one receive buffer of it) and shuts the writing end. Returns
// how many bytes were queued.
std::size_t Feed(int writer, const TPieces& input) {
    std::size_t sent = 0;
    for (std::size_t index = 0; sent < std::min(input.Stream.size(), SW_BUFFER_SIZE); ++index) {
        const std::size_t size = PieceSize(input, index, sent);
        if (send(writer, input.Stream.data() + sent, size, MSG_DONTWAIT | MSG_NOSIGNAL) !=
            static_cast<ssize_t>(size))
            break;
        sent += size;
    }
    shutdown(writer, SHUT_WR);
    return sent;
}

std::size_t FindMark(const Bytes& bytes, std::size_t from, std::size_t count, std::uint8_t mark) {
    for (std::size_t p = from; p + 1 < count; ++p) {
        if (bytes[p] == mark && bytes[p + 1] == mark)
            return p;
    }
    return count;
}

TOutcome Decode(const std::uint8_t* frame, std::size_t size) {
    TOutcome outcome;
    outcome.Payload.resize(FRAME_MAX_DECLARED);
    int length = 0;
    outcome.Ok = DecodeFrame(frame, static_cast<int>(size), outcome.Payload.data(), length);
    outcome.Payload.resize(outcome.Ok ? static_cast<std::size_t>(length) : 0);
    outcome.Error = outcome.Ok ? 0 : SOCK_ERR_BAD_FRAME;
    return outcome;
}

// What ReceiveFrame must report for the first count bytes of the stream.
TOutcome Expected(const Bytes& stream, std::size_t count) {
    const std::size_t start = FindMark(stream, 0, count, 0x05);
    const std::size_t end = start < count ? FindMark(stream, start + 2, count, 0x06) : count;
    if (end >= count) {
        const int error = count == SW_BUFFER_SIZE ? SOCK_ERR_BAD_FRAME : SOCK_ERR_CONN_RESET;
        return TOutcome{false, error, {}};
    }
    return Decode(stream.data() + start, end + 2 - start);
}

TOutcome Receive(int reader) {
    TSwBuffer destination{};
    TOutcome outcome;
    int length = 0;
    SetSocketLastError(0);
    outcome.Ok = ReceiveFrame(reader, destination, length, RECEIVE_TIMEOUT_MS);
    outcome.Error = outcome.Ok ? 0 : SocketLastError();
    if (outcome.Ok)
        outcome.Payload.assign(destination.begin(), destination.begin() + length);
    return outcome;
}

void CheckReceive(const TPieces& input) {
    int pair[2];
    if (socketpair(AF_UNIX, SOCK_SEQPACKET, 0, pair) != 0)
        Fail("no socket pair");
    const std::size_t queued = Feed(pair[1], input);
    const TOutcome got = Receive(pair[0]);
    const TOutcome expected = Expected(input.Stream, queued);
    close(pair[0]);
    close(pair[1]);
    if (got.Ok != expected.Ok || got.Error != expected.Error || got.Payload != expected.Payload)
        Fail("ReceiveFrame differs from the frame in the stream");
}

// A payload that decodes comes back unchanged from its own frame.
void CheckDecode(const Bytes& stream) {
    const TOutcome decoded = Decode(stream.data(), stream.size());
    if (!decoded.Ok || decoded.Payload.size() > static_cast<std::size_t>(FRAME_MAX_PAYLOAD))
        return;
    Bytes frame(2 * decoded.Payload.size() + FRAME_OVERHEAD);
    const int size =
        EncodeFrame(decoded.Payload.data(), static_cast<int>(decoded.Payload.size()), frame.data());
    const TOutcome again = Decode(frame.data(), static_cast<std::size_t>(size));
    if (!again.Ok || again.Payload != decoded.Payload)
        Fail("a decoded payload does not survive its own frame");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const TPieces input = Split(data, size);
    CheckDecode(input.Stream);
    CheckReceive(input);
    return 0;
}
