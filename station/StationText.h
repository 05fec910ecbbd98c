#pragma once

// The station's words for what the link reports, shared by the window and the
// command-line tools. No widgets here.

#include "Checks.h"
#include "SettingsFields.h"

#include <array>
#include <cstdint>
#include <string>

// The journal's reason for a connection's end: stop code and the link's last error.
std::string StopReason(int code, int lastError);

// The journal line that closes a failed connection, with the last link counters that
// are above 0: "Control stoped ( LE=2 LR=1 )", or "Control stoped" alone.
std::string StopSummary(std::uint32_t leCount, std::uint32_t lrCount);

// True when a stop is a failure the operator is warned about, not a requested stop.
bool StopIsFailure(int code);

// The stop codes of the link, each with its name in the metrics.
struct TStopKind {
    int Code;
    const char* Name;
};

extern const std::array<TStopKind, 5> STOP_KINDS;

// The name of a stop code: "by_request", "connect_failed", "write_failed", "read_failed",
// "timeout", or "other".
std::string StopCodeName(int code);

// "OFF", "OK", "ERROR" or "NA" for a 2-bit state value.
std::string StateWord(int state);

// Text of 8-bit characters, one byte each, as UTF-8.
std::string Latin1ToUtf8(const std::string& text);

// Text from the device (8-bit characters) as UTF-8 that is safe to show anywhere: every
// control character (C0, DEL, C1) becomes \xHH with two lower-case hex digits and a
// backslash becomes \\, so the text can neither drive a terminal nor break a line, and
// an escape can always be told from the same characters sent by the device.
std::string PrintableDeviceText(const std::string& deviceText);

// "[A]" or "[B]".
std::string InputWord(int input);
// "[A] -> [OUT]" or "[B] -> [OUT]".
std::string OutputWord(int output);
// "AUTO" or "MANUAL".
std::string ModeWord(bool autoMode);
// "ON" or "OFF".
std::string SwitchWord(bool on);

// Change lines.
std::string OutputLine(int output, bool autoMode);         // [A] -> [OUT] AUTO
std::string ModeLine(bool autoMode);                       // MODE AUTO
std::string CheckLine(int input, TCheck check, int state); // [A] VIDEO SYNC: OK
std::string PsuControlLine(int unit, bool monitored);      // POWER SUPPLY UNIT 1 COTROL: ON
std::string PsuStateLine(int unit, int state);             // POWER SUPPLY 1: ERROR
std::string OverheatLine(int temperature);                 // OVERHEAT 72C

// The journal's line for a settings switch.
std::string SettingSwitchLine(TSettingSwitch which, bool on); // [SETTINGS] VIDEO SYNC CONTROL: ON

// Temperatures from this one on (degrees Celsius) are an overheat.
constexpr int OVERHEAT_LIMIT = 70;
bool IsOverheat(int temperature);

// True when a check or power supply state deserves a change line (OK or ERROR).
bool StateIsWorthALine(int state);
