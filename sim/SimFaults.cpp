#include "SimFaults.h"

#include "NBSockets30.h"

namespace {

constexpr std::size_t HEADER_LENGTH_BYTE = 4;
constexpr std::size_t ACK_SIZE = 6;
constexpr std::uint8_t ACK_OPERATION = 0x70;

bool IsAcknowledgement(const TSimBytes& payload) {
    return payload.size() == ACK_SIZE && payload[3] == ACK_OPERATION;
}

void SpoilPayload(const TSimFaults& faults, TSimBytes& payload) {
    if (faults.WrongHeader && payload.size() > HEADER_LENGTH_BYTE)
        payload[HEADER_LENGTH_BYTE] ^= 0x01;
    if (faults.WrongAck && IsAcknowledgement(payload))
        payload.back() ^= 0x01;
    if (faults.ExtraByte)
        payload.push_back(0x00);
}

// The low checksum byte is the fourth from the end, before the two end marks.
void SpoilFrame(const TSimFaults& faults, TSimBytes& frame) {
    if (faults.BadChecksum)
        frame[frame.size() - 4] ^= 0x01;
}

// Junk without a frame mark: no two bytes in a row are equal, and none is a mark byte.
TSimBytes Junk(int count) {
    TSimBytes junk(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < junk.size(); ++i)
        junk[i] = static_cast<std::uint8_t>(0x80 | (i & 0x7F));
    return junk;
}

} // namespace

bool TakeAnswer(TSimFaults& faults, bool acknowledgement) {
    if (faults.Silent || (acknowledgement && faults.NoAck))
        return false;
    if (faults.AnswerFirst >= 0 && faults.Answered >= faults.AnswerFirst)
        return false;
    ++faults.Answered;
    return true;
}

TSimBytes ReplyFrame(const TSimFaults& faults, TSimBytes payload) {
    SpoilPayload(faults, payload);
    TSimBytes frame(2 * payload.size() + FRAME_OVERHEAD);
    frame.resize(static_cast<std::size_t>(
        EncodeFrame(payload.data(), static_cast<int>(payload.size()), frame.data())));
    SpoilFrame(faults, frame);
    TSimBytes bytes = Junk(faults.JunkBytes);
    bytes.insert(bytes.end(), frame.begin(), frame.end());
    return bytes;
}
