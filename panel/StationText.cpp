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

bool StopIsFailure(int code) {
    return code != STOP_BY_REQUEST;
}

std::string StateWord(int state) {
    static const char* const words[] = {"OFF", "OK", "ERROR", "NA"};
    return words[state & 3];
}
