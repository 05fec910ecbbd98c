#include "SettingsFields.h"

#include <algorithm>
#include <cfenv>
#include <cmath>
#include <cstdio>

namespace {

// Min, Max, Step, PageStep, Decimals, Initial, Blank.
constexpr TSpinEditSpec SPECS[] = {
    {0, 99.9, 0.1, 10, 1, 1.9, 0},   // SyncTime
    {0, 99.9, 0.1, 10, 1, 1.9, 0},   // MotionTime
    {2.0, 6.0, 0.5, 1, 1, 2.0, 2.0}, // LevelValue
    {0, 99.9, 0.1, 10, 1, 1.9, 0},   // LevelTime
    {-60, 100, 1, 10, 0, -1, -60},   // ThresholdValue
    {0, 99.5, 0.5, 10, 1, 1.9, 0},   // ThresholdTime
    {2, 12, 1, 2, 0, 2, 2},          // AudioLevelValue
    {0, 99.5, 0.5, 10, 1, 1.9, 0},   // AudioLevelTime
    {0, 999, 1, 50, 0, 1, 0},        // RecoveryTime
};

// How raw values and field values relate: raw = (field - FieldOffset) * Factor + RawOffset.
struct TConversion {
    double FieldOffset;
    double Factor;
    double RawOffset;
};

constexpr TConversion CONVERSIONS[] = {
    {0, 10, 0}, {0, 10, 0}, {2, 2, 1}, {0, 10, 0}, {0, 1, 61},
    {0, 2, 0},  {0, 1, -1}, {0, 2, 0}, {0, 1, 0},
};

const TConversion& ConversionOf(TSettingField field) {
    return CONVERSIONS[static_cast<int>(field)];
}

std::uint8_t Flag(bool on) {
    return on ? 1 : 0;
}

std::uint8_t LowByte(int value) {
    return static_cast<std::uint8_t>(value & 0xFF);
}

void PutWord(TSettingsBlock& block, int at, int value) {
    block[static_cast<std::size_t>(at)] = LowByte(value);
    block[static_cast<std::size_t>(at + 1)] = LowByte(value >> 8);
}

int Raw(TSettingField field, double value) {
    return FieldToRaw(field, value);
}

bool FlagAt(const TSettingsBlock& block, int at) {
    return (block[static_cast<std::size_t>(at)] & 1) != 0;
}

double ByteAt(const TSettingsBlock& block, TSettingField field, int at) {
    return FieldFromRaw(field, block[static_cast<std::size_t>(at)]);
}

double WordAt(const TSettingsBlock& block, TSettingField field, int at) {
    const auto low = static_cast<std::size_t>(at);
    return FieldFromRaw(field, block[low] + 256 * block[low + 1]);
}

} // namespace

const TSpinEditSpec& FieldSpec(TSettingField field) {
    return SPECS[static_cast<int>(field)];
}

long RoundHalfEven(double value) {
    const int previous = std::fegetround();
    std::fesetround(FE_TONEAREST);
    const long result = std::lrint(value);
    std::fesetround(previous);
    return result;
}

double RawToField(TSettingField field, int raw) {
    const TConversion& c = ConversionOf(field);
    return (raw - c.RawOffset) / c.Factor + c.FieldOffset;
}

int FieldToRaw(TSettingField field, double value) {
    const TConversion& c = ConversionOf(field);
    return static_cast<int>(RoundHalfEven((value - c.FieldOffset) * c.Factor + c.RawOffset));
}

double FieldFromRaw(TSettingField field, int raw) {
    return LimitToField(field, RawToField(field, raw));
}

double LimitToField(TSettingField field, double value) {
    const TSpinEditSpec& range = FieldSpec(field);
    return std::clamp(value, range.Min, range.Max);
}

const std::array<TSwitchKind, 6> SWITCHES = {{
    {TSettingSwitch::Sync, &TDeviceStatus::SyncControl, &TSettingsValues::SyncControl,
     &TSwObject::OnSyncControl, "sync", "sync", "SyncControl", "VIDEO SYNC"},
    {TSettingSwitch::Motion, &TDeviceStatus::MotionControl, &TSettingsValues::MotionControl,
     &TSwObject::OnMotionControl, "motion", "motion", "MotionControl", "VIDEO MOTION"},
    {TSettingSwitch::VideoLevel, &TDeviceStatus::VideoLevelControl, &TSettingsValues::LevelControl,
     &TSwObject::OnVideoLevelControl, "level", "level", "VideoLevelControl",
     "VIDEO DIF.LEVEL +THR"},
    {TSettingSwitch::Threshold, &TDeviceStatus::ThresholdControl,
     &TSettingsValues::ThresholdControl, &TSwObject::OnThresholdControl, "threshold", "threshold",
     "ThresholdControl", "AUDIO THRESHOLD"},
    {TSettingSwitch::AudioLevel, &TDeviceStatus::AudioLevelControl,
     &TSettingsValues::AudioLevelControl, &TSwObject::OnAudioLevelControl, "audio-level",
     "audio_level", "AudioLevelControl", "AUDIO DIF.LEVEL"},
    {TSettingSwitch::Recovery, &TDeviceStatus::RecoveryControl, &TSettingsValues::RecoveryControl,
     &TSwObject::OnRecoveryControl, "recovery", "recovery", "RecoveryControl", "RECOVERY"},
}};

const std::array<TFieldKind, 9> FIELDS = {{
    {TSettingField::SyncTime, &TDeviceStatus::SyncTime, &TSettingsValues::SyncTime,
     &TSwObject::OnSyncTime, "sync-time", "sync", "SyncTime", "s"},
    {TSettingField::MotionTime, &TDeviceStatus::MotionTime, &TSettingsValues::MotionTime,
     &TSwObject::OnMotionTime, "motion-time", "motion", "MotionTime", "s"},
    {TSettingField::LevelValue, &TDeviceStatus::VideoLevelValue, &TSettingsValues::LevelValue,
     &TSwObject::OnVideoLevelValue, "level-value", "level", "VideoLevelValue", "dB"},
    {TSettingField::LevelTime, &TDeviceStatus::VideoLevelTime, &TSettingsValues::LevelTime,
     &TSwObject::OnVideoLevelTime, "level-time", "level", "VideoLevelTime", "s"},
    {TSettingField::ThresholdValue, &TDeviceStatus::ThresholdValue,
     &TSettingsValues::ThresholdValue, &TSwObject::OnThresholdValue, "threshold-value", "threshold",
     "ThresholdValue", "dB"},
    {TSettingField::ThresholdTime, &TDeviceStatus::ThresholdTime, &TSettingsValues::ThresholdTime,
     &TSwObject::OnThresholdTime, "threshold-time", "threshold", "ThresholdTime", "s"},
    {TSettingField::AudioLevelValue, &TDeviceStatus::AudioLevelValue,
     &TSettingsValues::AudioLevelValue, &TSwObject::OnAudioLevelValue, "audio-level-value",
     "audio_level", "AudioLevelValue", "dB"},
    {TSettingField::AudioLevelTime, &TDeviceStatus::AudioLevelTime,
     &TSettingsValues::AudioLevelTime, &TSwObject::OnAudioLevelTime, "audio-level-time",
     "audio_level", "AudioLevelTime", "s"},
    {TSettingField::RecoveryTime, &TDeviceStatus::RecoveryTime, &TSettingsValues::RecoveryTime,
     &TSwObject::OnRecoveryTime, "recovery-time", "recovery", "RecoveryTime", "s"},
}};

int RawSetting(const TDeviceStatus& status, TSettingField field) {
    return status.*FIELDS[static_cast<std::size_t>(field)].Raw;
}

bool SwitchSetting(const TDeviceStatus& status, TSettingSwitch which) {
    return status.*SWITCHES[static_cast<std::size_t>(which)].Status;
}

TSettingsValues SettingsFromStatus(const TDeviceStatus& status) {
    TSettingsValues values;
    for (const TSwitchKind& kind : SWITCHES)
        values.*kind.Value = status.*kind.Status;
    for (const TFieldKind& kind : FIELDS)
        values.*kind.Value = FieldFromRaw(kind.Field, status.*kind.Raw);
    return values;
}

TSettingsBlock BuildSettingsBlock(const TSettingsValues& v) {
    using F = TSettingField;
    TSettingsBlock block{};
    block[0] = Flag(v.SyncControl);
    PutWord(block, 1, Raw(F::SyncTime, v.SyncTime));
    block[3] = Flag(v.MotionControl);
    PutWord(block, 4, Raw(F::MotionTime, v.MotionTime));
    block[6] = Flag(v.LevelControl);
    block[7] = LowByte(Raw(F::LevelValue, v.LevelValue));
    PutWord(block, 8, Raw(F::LevelTime, v.LevelTime));
    block[10] = Flag(v.ThresholdControl);
    block[11] = LowByte(Raw(F::ThresholdValue, v.ThresholdValue));
    PutWord(block, 12, Raw(F::ThresholdTime, v.ThresholdTime));
    block[14] = Flag(v.AudioLevelControl);
    block[15] = LowByte(Raw(F::AudioLevelValue, v.AudioLevelValue));
    PutWord(block, 16, Raw(F::AudioLevelTime, v.AudioLevelTime));
    block[18] = Flag(v.RecoveryControl);
    PutWord(block, 19, Raw(F::RecoveryTime, v.RecoveryTime));
    return block;
}

TSettingsValues SettingsFromBlock(const TSettingsBlock& block) {
    using F = TSettingField;
    TSettingsValues v;
    v.SyncControl = FlagAt(block, 0);
    v.SyncTime = WordAt(block, F::SyncTime, 1);
    v.MotionControl = FlagAt(block, 3);
    v.MotionTime = WordAt(block, F::MotionTime, 4);
    v.LevelControl = FlagAt(block, 6);
    v.LevelValue = ByteAt(block, F::LevelValue, 7);
    v.LevelTime = WordAt(block, F::LevelTime, 8);
    v.ThresholdControl = FlagAt(block, 10);
    v.ThresholdValue = ByteAt(block, F::ThresholdValue, 11);
    v.ThresholdTime = WordAt(block, F::ThresholdTime, 12);
    v.AudioLevelControl = FlagAt(block, 14);
    v.AudioLevelValue = ByteAt(block, F::AudioLevelValue, 15);
    v.AudioLevelTime = WordAt(block, F::AudioLevelTime, 16);
    v.RecoveryControl = FlagAt(block, 18);
    v.RecoveryTime = WordAt(block, F::RecoveryTime, 19);
    return v;
}

std::string SettingChangesText(const TSettingsValues& before, const TSettingsValues& after) {
    std::string text;
    const auto add = [&text](const std::string& change) {
        text += (text.empty() ? "" : ", ") + change;
    };
    for (const TSwitchKind& arg : SWITCHES) {
        if (before.*arg.Value != after.*arg.Value)
            add(std::string(arg.Name) + " " + (before.*arg.Value ? "on->off" : "off->on"));
    }
    for (const TFieldKind& arg : FIELDS) {
        const int decimals = FieldSpec(arg.Field).Decimals;
        char change[96];
        std::snprintf(change, sizeof change, "%s %.*f->%.*f %s", arg.Name, decimals,
                      before.*arg.Value, decimals, after.*arg.Value, arg.Unit);
        if (before.*arg.Value != after.*arg.Value)
            add(change);
    }
    return text;
}
