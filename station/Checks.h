#pragma once

// The checks the device reports per input, and the error counters it keeps per check:
// one table each of what the station knows of them, and the rules on a status record
// that every user of the checks shares.

#include "UnitThread.h"

#include <array>

// The per-input checks, in the order of the table below.
enum class TCheck { Sync, Motion, VideoLevel, AudioLeft, AudioRight };

struct TCheckKind {
    TCheck Check;
    // The states of both inputs in the status record.
    int (TDeviceStatus::*States)[2];
    // The link's event for a change of one input's state.
    TSwObject::TInputSlot TSwObject::*Event;
    // The event's name ("VideoSync"), the journal's words ("VIDEO SYNC") and the label
    // value of the metrics ("sync").
    const char* EventName;
    const char* JournalName;
    const char* MetricName;
    // A video check, analysed only by video devices.
    bool Video;
};

extern const std::array<TCheckKind, 5> CHECKS;

// The error counters, per input.
struct TCounterKind {
    int (TDeviceStatus::*Counts)[2];
    // The name in the command-line monitor's output ("SyncCount"), the report's words
    // ("VIDEO SYNC") and the label value of the metrics ("sync").
    const char* EventName;
    const char* ReportName;
    const char* MetricName;
};

extern const std::array<TCounterKind, 7> COUNTERS;

// The state (STATE_OFF .. STATE_NA) of a check on input 1 or 2.
int CheckState(const TDeviceStatus& status, int input, TCheck check);

// The value of a per-input array of the status record for input 1 or 2; 0 for another.
int OfInput(const int (&values)[2], int input);

// True for a device that analyses video as well as audio: its model, 7710, in its name.
bool AnalysesVideo(const TDeviceStatus& status);

// True when the device analyses the check at all: video checks only on video devices.
bool CheckAnalysed(const TDeviceStatus& status, TCheck check);

// True when the settings switch on the check. An audio channel's check counts as
// switched on when its THRESHOLD or DIF.LEVEL check is.
bool CheckSwitchedOn(const TDeviceStatus& status, TCheck check);

// The input on the output: INPUT_B, or INPUT_A for anything else.
int OnAirInput(const TDeviceStatus& status);

// True when an analysed, switched-on check reports ERROR on the input.
bool CheckFails(const TDeviceStatus& status, TCheck check, int input);

// True when such a check fails on the input on the output.
bool CheckFailsOnOutput(const TDeviceStatus& status);

// The state of power supply 1 or 2, and whether the device monitors it.
int PsuState(const TDeviceStatus& status, int unit);
bool PsuMonitored(const TDeviceStatus& status, int unit);
