#include "SettingsFields.h"

#include "UnitThread.h"

#include <algorithm>
#include <cfenv>
#include <cmath>

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

int RawSetting(const TDeviceStatus& s, TSettingField field) {
    switch (field) {
    case TSettingField::SyncTime:
        return s.SyncTime;
    case TSettingField::MotionTime:
        return s.MotionTime;
    case TSettingField::LevelValue:
        return s.VideoLevelValue;
    case TSettingField::LevelTime:
        return s.VideoLevelTime;
    case TSettingField::ThresholdValue:
        return s.ThresholdValue;
    case TSettingField::ThresholdTime:
        return s.ThresholdTime;
    case TSettingField::AudioLevelValue:
        return s.AudioLevelValue;
    case TSettingField::AudioLevelTime:
        return s.AudioLevelTime;
    case TSettingField::RecoveryTime:
        return s.RecoveryTime;
    }
    return 0;
}

bool SwitchSetting(const TDeviceStatus& s, TSettingSwitch which) {
    switch (which) {
    case TSettingSwitch::Sync:
        return s.SyncControl;
    case TSettingSwitch::Motion:
        return s.MotionControl;
    case TSettingSwitch::VideoLevel:
        return s.VideoLevelControl;
    case TSettingSwitch::Threshold:
        return s.ThresholdControl;
    case TSettingSwitch::AudioLevel:
        return s.AudioLevelControl;
    case TSettingSwitch::Recovery:
        return s.RecoveryControl;
    }
    return false;
}

TSettingsValues SettingsFromStatus(const TDeviceStatus& s) {
    using F = TSettingField;
    using W = TSettingSwitch;
    const auto field = [&s](F f) { return FieldFromRaw(f, RawSetting(s, f)); };
    TSettingsValues v;
    v.SyncControl = SwitchSetting(s, W::Sync);
    v.SyncTime = field(F::SyncTime);
    v.MotionControl = SwitchSetting(s, W::Motion);
    v.MotionTime = field(F::MotionTime);
    v.LevelControl = SwitchSetting(s, W::VideoLevel);
    v.LevelValue = field(F::LevelValue);
    v.LevelTime = field(F::LevelTime);
    v.ThresholdControl = SwitchSetting(s, W::Threshold);
    v.ThresholdValue = field(F::ThresholdValue);
    v.ThresholdTime = field(F::ThresholdTime);
    v.AudioLevelControl = SwitchSetting(s, W::AudioLevel);
    v.AudioLevelValue = field(F::AudioLevelValue);
    v.AudioLevelTime = field(F::AudioLevelTime);
    v.RecoveryControl = SwitchSetting(s, W::Recovery);
    v.RecoveryTime = field(F::RecoveryTime);
    return v;
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
