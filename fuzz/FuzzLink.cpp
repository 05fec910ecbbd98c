// The link's checks of a decoded reply and the notification handler's decoding of group
// payloads, fed arbitrary bytes.
//
// Input: one selector byte, then a reply. The selector's bits 0-2 pick the polled group
// (taken modulo 5), bits 3-4 the write command, bits 5-7 set the refresh flags the handler
// reads. The reply goes through both reply checks; its bytes after the header then reach
// the handler as the picked group's payload, accepted or not. Every further 22 bytes are
// one more notification: a message number (1025 plus the byte, so the known numbers and
// unknown ones alike) and the 21 payload bytes, the first eight also serving as the
// notification's two values. After each notification every field of the status record
// must lie in the range its lamp or field expects.

#include "DeviceProtocol.h"
#include "FuzzCheck.h"
#include "Notification.h"
#include "UnitThread.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t RECORD_SIZE = 1 + MAX_GROUP_PAYLOAD;

int GroupOf(std::uint8_t selector) {
    return (selector & 7) % GROUP_COUNT + 1;
}

int CommandOf(std::uint8_t selector) {
    return ((selector >> 3) & 3) + 1;
}

void CheckPollReply(int group, const std::uint8_t* reply, int length) {
    if (!AcceptPollReply(group, reply, length))
        return;
    const TGroupSpec& layout = GroupSpec(group);
    Expect(length == HEADER_SIZE + layout.PayloadLength &&
               std::equal(layout.ReplyHeader.begin(), layout.ReplyHeader.end(), reply),
           "a poll reply was accepted with a wrong header or length");
}

void CheckWriteReply(int command, const std::uint8_t* reply, int length) {
    TSettingsBlock settings{};
    std::copy_n(reply, std::min<int>(length, SETTINGS_BLOCK_SIZE), settings.begin());
    TWriteRequest request;
    Expect(BuildWriteRequest(command, length > 0 ? reply[0] : 0, settings, request),
           "a command code was refused");
    if (!AcceptWriteReply(request, reply, length))
        return;
    Expect(length == ACK_SIZE && std::equal(request.Ack.begin(), request.Ack.end(), reply),
           "a write reply was accepted that is not the acknowledgement");
}

bool IsState(int value) {
    return value >= STATE_OFF && value <= STATE_NA;
}

bool IsByte(int value) {
    return value >= 0 && value <= 255;
}

bool IsWord(int value) {
    return value >= 0 && value <= 65535;
}

void CheckPerInput(const TDeviceStatus& s) {
    for (int i = 0; i < 2; ++i) {
        Expect(IsState(s.VideoSync[i]) && IsState(s.VideoMotion[i]) && IsState(s.VideoLevel[i]) &&
                   IsState(s.AudioLeft[i]) && IsState(s.AudioRight[i]),
               "a check state out of range");
        Expect(IsByte(s.SyncCount[i]) && IsByte(s.MotionCount[i]) && IsByte(s.VideoLevelCount[i]) &&
                   IsByte(s.ThresholdLeftCount[i]) && IsByte(s.ThresholdRightCount[i]) &&
                   IsByte(s.AudioLevelLeftCount[i]) && IsByte(s.AudioLevelRightCount[i]),
               "a counter out of range");
    }
}

void CheckStatus(const TDeviceStatus& s) {
    Expect(s.DeviceName.size() <=
                   static_cast<std::size_t>(GroupSpec(GROUP_IDENTITY).PayloadLength) &&
               s.DeviceName.find('\0') == std::string::npos,
           "device name too long or holding a zero byte");
    Expect(s.Output == 0 || s.Output == INPUT_A || s.Output == INPUT_B, "output out of range");
    Expect(s.PsuMonitoring >= 0 && s.PsuMonitoring <= 3 && IsState(s.Psu1State) &&
               IsState(s.Psu2State) && IsByte(s.Temperature),
           "power group out of range");
    Expect(IsWord(s.SyncTime) && IsWord(s.MotionTime) && IsWord(s.VideoLevelTime) &&
               IsWord(s.ThresholdTime) && IsWord(s.AudioLevelTime) && IsWord(s.RecoveryTime) &&
               IsByte(s.VideoLevelValue) && IsByte(s.ThresholdValue) && IsByte(s.AudioLevelValue),
           "a settings field out of range");
    CheckPerInput(s);
}

void ConnectInputChecks(TSwObject& link) {
    const auto check = [](TSwObject*, int input) {
        Expect(input == INPUT_A || input == INPUT_B, "an event for an input that is not A or B");
    };
    for (auto slot : {&TSwObject::OnVideoSync, &TSwObject::OnVideoMotion, &TSwObject::OnVideoLevel,
                      &TSwObject::OnAudioLeft, &TSwObject::OnAudioRight})
        (link.*slot).Listen(check);
}

std::int32_t ValueAt(const std::uint8_t* bytes) {
    std::int32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

void Deliver(TSwObject& link, int message, const std::uint8_t* bytes, std::size_t count) {
    std::array<std::uint8_t, MAX_GROUP_PAYLOAD> payload{};
    std::copy_n(bytes, std::min(count, payload.size()), payload.begin());
    TSwNotification notification(message, ValueAt(payload.data()), ValueAt(payload.data() + 4));
    notification.Payload = payload;
    link.HandleNotification(notification);
    CheckStatus(link.Status());
}

void SetFlags(TSwObject& link, std::uint8_t selector) {
    link.FullRefresh = (selector & 0x20) != 0;
    link.SettingsWritten = (selector & 0x40) != 0;
    link.PowerWritten = (selector & 0x80) != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t selector = data[0];
    const std::uint8_t* reply = data + 1;
    const std::size_t length = std::min<std::size_t>(size - 1, HEADER_SIZE + MAX_GROUP_PAYLOAD);
    CheckPollReply(GroupOf(selector), reply, static_cast<int>(size - 1));
    CheckWriteReply(CommandOf(selector), reply, static_cast<int>(size - 1));

    TSwObject link;
    ConnectInputChecks(link);
    SetFlags(link, selector);
    const std::size_t header = std::min<std::size_t>(length, HEADER_SIZE);
    Deliver(link, WM_SW_GROUP + GroupOf(selector), reply + header, length - header);
    for (std::size_t at = 1 + length; at + RECORD_SIZE <= size; at += RECORD_SIZE)
        Deliver(link, WM_SW_COMMAND + data[at], data + at + 1, MAX_GROUP_PAYLOAD);
    return 0;
}
