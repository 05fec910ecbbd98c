#include "SimState.h"

#include <algorithm>

namespace {

bool FlagOn(const TSimSettings& settings, int offset) {
    return (settings[static_cast<std::size_t>(offset)] & 0x01) != 0;
}

int OtherInput(int input) {
    return input == SIM_INPUT_A ? SIM_INPUT_B : SIM_INPUT_A;
}

int& CheckCode(TSimState& state, int input, int check) {
    return state.Checks[static_cast<std::size_t>(input - 1)][static_cast<std::size_t>(check)];
}

void CountUp(TSimState& state, int pairOffset, int input) {
    std::uint8_t& counter = state.Counters[static_cast<std::size_t>(pairOffset + input - 1)];
    if (counter < 0xFF)
        ++counter;
}

// An audio channel's error counts once for each of its two checks that is switched on:
// in the THRESHOLD counter and in the DIF.LEVEL counter of that channel.
void CountAudioError(TSimState& state, int input, bool left) {
    if (FlagOn(state.Settings, SIM_FLAG_THRESHOLD))
        CountUp(state, left ? SIM_COUNT_THRESHOLD_LEFT : SIM_COUNT_THRESHOLD_RIGHT, input);
    if (FlagOn(state.Settings, SIM_FLAG_AUDIO_LEVEL))
        CountUp(state, left ? SIM_COUNT_AUDIO_LEVEL_LEFT : SIM_COUNT_AUDIO_LEVEL_RIGHT, input);
}

void CountError(TSimState& state, int input, int check) {
    switch (check) {
    case SIM_SYNC:
        CountUp(state, SIM_COUNT_SYNC, input);
        break;
    case SIM_MOTION:
        CountUp(state, SIM_COUNT_MOTION, input);
        break;
    case SIM_LEVEL:
        CountUp(state, SIM_COUNT_LEVEL, input);
        break;
    default:
        CountAudioError(state, input, check == SIM_AUDIO_LEFT);
        break;
    }
}

// Two-bit codes of one input's video checks: SYNC bits 0-1, MOTION 4-5, DIF.LEVEL 6-7.
std::uint8_t VideoByte(const TSimState& state, int input) {
    const auto& codes = state.Checks[static_cast<std::size_t>(input - 1)];
    return static_cast<std::uint8_t>((codes[SIM_SYNC] & 3) | (codes[SIM_MOTION] & 3) << 4 |
                                     (codes[SIM_LEVEL] & 3) << 6);
}

// Two-bit codes of one input's audio channels: left bits 0-1, right bits 2-3.
std::uint8_t AudioByte(const TSimState& state, int input) {
    const auto& codes = state.Checks[static_cast<std::size_t>(input - 1)];
    return static_cast<std::uint8_t>((codes[SIM_AUDIO_LEFT] & 3) | (codes[SIM_AUDIO_RIGHT] & 3)
                                                                       << 2);
}

} // namespace

bool CheckEnabled(const TSimSettings& settings, int check) {
    switch (check) {
    case SIM_SYNC:
        return FlagOn(settings, SIM_FLAG_SYNC);
    case SIM_MOTION:
        return FlagOn(settings, SIM_FLAG_MOTION);
    case SIM_LEVEL:
        return FlagOn(settings, SIM_FLAG_LEVEL);
    default:
        return FlagOn(settings, SIM_FLAG_THRESHOLD) || FlagOn(settings, SIM_FLAG_AUDIO_LEVEL);
    }
}

void SetCheck(TSimState& state, int input, int check, int code) {
    int& current = CheckCode(state, input, check);
    const bool newError = code == SIM_ERROR && current != SIM_ERROR;
    current = code;
    if (newError && CheckEnabled(state.Settings, check))
        CountError(state, input, check);
    ChangeOver(state);
}

void ChangeOver(TSimState& state) {
    if (!state.AutoMode)
        return;
    const int other = OtherInput(state.Output);
    for (int check = 0; check < SIM_CHECKS; ++check) {
        if (CheckEnabled(state.Settings, check) &&
            CheckCode(state, state.Output, check) == SIM_ERROR &&
            CheckCode(state, other, check) == SIM_OK) {
            state.Output = other;
            return;
        }
    }
}

void SelectInput(TSimState& state, int input) {
    state.Output = input;
    state.AutoMode = false;
}

void SetAutoMode(TSimState& state) {
    state.AutoMode = true;
    ChangeOver(state);
}

void StoreSettings(TSimState& state, const std::uint8_t* block) {
    std::copy_n(block, SIM_SETTINGS_SIZE, state.Settings.begin());
    for (int flag : {SIM_FLAG_SYNC, SIM_FLAG_MOTION, SIM_FLAG_LEVEL, SIM_FLAG_THRESHOLD,
                     SIM_FLAG_AUDIO_LEVEL, SIM_FLAG_RECOVERY})
        state.Settings[static_cast<std::size_t>(flag)] &= 0x01;
    ChangeOver(state);
}

TSimBytes IdentityPayload(const TSimState& state) {
    TSimBytes payload(SIM_NAME_SIZE, 0);
    std::copy_n(state.Name.begin(), std::min(state.Name.size(), SIM_NAME_SIZE), payload.begin());
    return payload;
}

TSimBytes StatePayload(const TSimState& state) {
    TSimBytes payload(9, 0);
    payload[0] = static_cast<std::uint8_t>((state.Output == SIM_INPUT_B ? 0x01 : 0x00) |
                                           (state.AutoMode ? 0x02 : 0x00));
    payload[3] = VideoByte(state, SIM_INPUT_A);
    payload[4] = VideoByte(state, SIM_INPUT_B);
    payload[7] = AudioByte(state, SIM_INPUT_A);
    payload[8] = AudioByte(state, SIM_INPUT_B);
    return payload;
}

TSimBytes SettingsPayload(const TSimState& state) {
    return TSimBytes(state.Settings.begin(), state.Settings.end());
}

TSimBytes PowerPayload(const TSimState& state) {
    return TSimBytes{static_cast<std::uint8_t>(state.PowerMask & 3),
                     static_cast<std::uint8_t>(state.Psu[0] & 3),
                     static_cast<std::uint8_t>(state.Psu[1] & 3),
                     static_cast<std::uint8_t>(state.TempValid ? 1 : 0),
                     static_cast<std::uint8_t>(state.TempValid ? state.Temperature : 0)};
}

TSimBytes CountersPayload(const TSimState& state) {
    return TSimBytes(state.Counters.begin(), state.Counters.end());
}
