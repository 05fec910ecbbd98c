#pragma once

#include <string>

// The device's analysis settings as the operator sees them, in seconds and decibels,
// and their conversion from and to the device's raw values. No widgets here: the
// settings page, the device report and the command-line tools share these rules.

#include "UnitThread.h"

#include <array>

// Range, steps, decimals and empty value of one numeric settings field.
struct TSpinEditSpec {
    double Min;
    double Max;
    double Step;
    double PageStep;
    int Decimals;
    double Initial;
    // What an emptied field reads as.
    double Blank;
};

// The nine numeric fields.
enum class TSettingField {
    SyncTime,
    MotionTime,
    LevelValue,
    LevelTime,
    ThresholdValue,
    ThresholdTime,
    AudioLevelValue,
    AudioLevelTime,
    RecoveryTime,
};

// The six switches: five checks and the recovery function.
enum class TSettingSwitch { Sync, Motion, VideoLevel, Threshold, AudioLevel, Recovery };

const TSpinEditSpec& FieldSpec(TSettingField field);

// The raw value of a numeric field and the state of a switch in a status record.
int RawSetting(const TDeviceStatus& status, TSettingField field);
bool SwitchSetting(const TDeviceStatus& status, TSettingSwitch which);

// Rounds to the nearest integer, halves to even.
long RoundHalfEven(double value);

// A raw device value in the field's unit, before the field's limits.
double RawToField(TSettingField field, int raw);
// A field value as the device's raw value.
int FieldToRaw(TSettingField field, double value);
// A value limited to the field's range, as the field holds it.
double LimitToField(TSettingField field, double value);
// A raw device value as the field shows it: converted, then limited.
double FieldFromRaw(TSettingField field, int raw);

// Every setting as the settings page holds it.
struct TSettingsValues {
    bool SyncControl = false;
    double SyncTime = 0;
    bool MotionControl = false;
    double MotionTime = 0;
    bool LevelControl = false;
    double LevelValue = 2;
    double LevelTime = 0;
    bool ThresholdControl = false;
    double ThresholdValue = 0;
    double ThresholdTime = 0;
    bool AudioLevelControl = false;
    double AudioLevelValue = 2;
    double AudioLevelTime = 0;
    bool RecoveryControl = false;
    double RecoveryTime = 0;
};

// The settings table: for each switch and each numeric field where the status record,
// the settings page's values and the link's events keep it, and the names it goes by.
struct TSwitchKind {
    TSettingSwitch Which;
    bool TDeviceStatus::*Status;
    bool TSettingsValues::*Value;
    TSwObject::TNotifySlot TSwObject::*Event;
    // On the command line ("audio-level"), in the metrics ("audio_level"), as the
    // monitor's event ("AudioLevelControl") and in the journal ("AUDIO DIF.LEVEL").
    const char* Name;
    const char* MetricName;
    const char* EventName;
    const char* JournalName;
};

struct TFieldKind {
    TSettingField Field;
    int TDeviceStatus::*Raw;
    double TSettingsValues::*Value;
    TSwObject::TNotifySlot TSwObject::*Event;
    // On the command line ("audio-level-time"), the check it belongs to in the metrics
    // ("audio_level"), and as the monitor's event ("AudioLevelTime").
    const char* Name;
    const char* MetricName;
    const char* EventName;
    // "s" or "dB".
    const char* Unit;
};

extern const std::array<TSwitchKind, 6> SWITCHES;
extern const std::array<TFieldKind, 9> FIELDS;

// The settings of a status record, converted and limited as the fields take them.
TSettingsValues SettingsFromStatus(const TDeviceStatus& status);

// The 21-byte block that sends the settings to the device.
TSettingsBlock BuildSettingsBlock(const TSettingsValues& values);
// The settings a block (or the settings group, which has the block's layout) holds,
// converted and limited as the fields take them.
TSettingsValues SettingsFromBlock(const TSettingsBlock& block);

// The settings that differ between before and after, by their command-line names, with both
// values in the field's unit: "sync-time 1.9->2.5 s, level on->off"; "" when none does.
std::string SettingChangesText(const TSettingsValues& before, const TSettingsValues& after);
