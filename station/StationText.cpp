#include "StationText.h"

#include "NBSockets30.h"
#include "UnitThread.h"

namespace {

std::string ErrorSuffix(int lastError) {
    return " (" + std::to_string(lastError) + ")";
}

bool IsBrokenConnection(int lastError) {
    return lastError == SOCK_ERR_CONN_ABORTED || lastError == SOCK_ERR_CONN_RESET;
}

constexpr const char* BROKEN = "Connection is broken or device powered off";

bool IsControlByte(unsigned char byte) {
    return byte < 0x20 || (byte >= 0x7F && byte < 0xA0);
}

std::string HexEscape(unsigned char byte) {
    static const char digits[] = "0123456789abcdef";
    return {'\\', 'x', digits[byte >> 4], digits[byte & 0x0F]};
}

} // namespace

std::string StopReason(int code, int lastError) {
    switch (code) {
    case STOP_BY_REQUEST:
        return "Control stoped manualy";
    case STOP_CONNECT_FAILED:
        return "Device not found or used by other programm";
    case STOP_WRITE_FAILED:
        return IsBrokenConnection(lastError) ? BROKEN
                                             : "Socket error: WRITE" + ErrorSuffix(lastError);
    case STOP_READ_FAILED:
        return IsBrokenConnection(lastError) ? BROKEN
                                             : "Socket error: READ" + ErrorSuffix(lastError);
    case STOP_TIMEOUT:
        return BROKEN + ErrorSuffix(lastError);
    default:
        return "Unknown" + ErrorSuffix(lastError);
    }
}

std::string StopSummary(std::uint32_t leCount, std::uint32_t lrCount) {
    std::string note;
    if (leCount > 0)
        note += "LE=" + std::to_string(leCount) + " ";
    if (lrCount > 0)
        note += "LR=" + std::to_string(lrCount) + " ";
    return note.empty() ? "Control stoped" : "Control stoped ( " + note + ")";
}

bool StopIsFailure(int code) {
    return code != STOP_BY_REQUEST;
}

const std::array<TStopKind, 5> STOP_KINDS = {{
    {STOP_BY_REQUEST, "by_request"},
    {STOP_CONNECT_FAILED, "connect_failed"},
    {STOP_WRITE_FAILED, "write_failed"},
    {STOP_READ_FAILED, "read_failed"},
    {STOP_TIMEOUT, "timeout"},
}};

std::string StopCodeName(int code) {
    for (const TStopKind& kind : STOP_KINDS) {
        if (kind.Code == code)
            return kind.Name;
    }
    return "other";
}

std::string StateWord(int state) {
    static const char* const words[] = {"OFF", "OK", "ERROR", "NA"};
    return words[state & 3];
}

std::string Latin1ToUtf8(const std::string& text) {
    std::string utf8;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            utf8 += c;
            continue;
        }
        utf8 += static_cast<char>(0xC0 | (byte >> 6));
        utf8 += static_cast<char>(0x80 | (byte & 0x3F));
    }
    return utf8;
}

std::string PrintableDeviceText(const std::string& deviceText) {
    std::string shown;
    for (const char c : deviceText) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '\\')
            shown += "\\\\";
        else if (IsControlByte(byte))
            shown += HexEscape(byte);
        else
            shown += Latin1ToUtf8(std::string(1, c));
    }
    return shown;
}

std::string InputWord(int input) {
    return input == 2 ? "[B]" : "[A]";
}

std::string OutputWord(int output) {
    return InputWord(output) + " -> [OUT]";
}

std::string ModeWord(bool autoMode) {
    return autoMode ? "AUTO" : "MANUAL";
}

std::string SwitchWord(bool on) {
    return on ? "ON" : "OFF";
}

std::string OutputLine(int output, bool autoMode) {
    return OutputWord(output) + " " + ModeWord(autoMode);
}

std::string ModeLine(bool autoMode) {
    return "MODE " + ModeWord(autoMode);
}

std::string CheckLine(int input, TCheck check, int state) {
    return InputWord(input) + " " + CHECKS[static_cast<std::size_t>(check)].JournalName + ": " +
           StateWord(state);
}

std::string PsuControlLine(int unit, bool monitored) {
    return "POWER SUPPLY UNIT " + std::to_string(unit) + " COTROL: " + SwitchWord(monitored);
}

std::string PsuStateLine(int unit, int state) {
    return "POWER SUPPLY " + std::to_string(unit) + ": " + StateWord(state);
}

std::string OverheatLine(int temperature) {
    return "OVERHEAT " + std::to_string(temperature) + "C";
}

std::string SettingSwitchLine(TSettingSwitch which, bool on) {
    return std::string("[SETTINGS] ") + SWITCHES[static_cast<std::size_t>(which)].JournalName +
           " CONTROL: " + SwitchWord(on);
}

bool IsOverheat(int temperature) {
    return temperature >= OVERHEAT_LIMIT;
}

bool StateIsWorthALine(int state) {
    return state == STATE_OK || state == STATE_ERROR;
}
