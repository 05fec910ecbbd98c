#pragma once

// A status record as the link holds it after a first pass, for tests that start from a
// known device state.

#include "UnitThread.h"

#include <string>

// A device in automatic mode on input A, every check OK, both power supplies monitored
// and OK at 40 C, with the example settings: SYNC on at 1.9 s, MOTION off, video
// DIF.LEVEL on at 3.5 dB and 2.0 s, THRESHOLD on at -40 dB and 1.5 s, audio DIF.LEVEL off
// at 6 dB and 0.5 s, RECOVERY on at 120 s.
inline TDeviceStatus ExampleStatus(const std::string& name = "7710/12") {
    TDeviceStatus s;
    s.DeviceName = name;
    s.Output = INPUT_A;
    s.AutoMode = true;
    for (int* states : {s.VideoSync, s.VideoMotion, s.VideoLevel, s.AudioLeft, s.AudioRight})
        states[0] = states[1] = STATE_OK;
    s.PsuMonitoring = 3;
    s.Psu1State = s.Psu2State = STATE_OK;
    s.TempValid = true;
    s.Temperature = 40;
    s.SyncControl = true;
    s.SyncTime = 19;
    s.VideoLevelControl = true;
    s.VideoLevelValue = 4;
    s.VideoLevelTime = 20;
    s.ThresholdControl = true;
    s.ThresholdValue = 21;
    s.ThresholdTime = 3;
    s.AudioLevelValue = 5;
    s.AudioLevelTime = 1;
    s.RecoveryControl = true;
    s.RecoveryTime = 120;
    return s;
}
