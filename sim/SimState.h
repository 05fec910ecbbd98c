#pragma once

// The simulated switch's own state and the rules by which it changes: check results of
// both inputs, output and mode, the settings block, power supplies, temperature and the
// error counters. Nothing here knows about sockets or threads.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using TSimBytes = std::vector<std::uint8_t>;

// Codes of a check or power supply state, as the device reports them in two bits.
constexpr int SIM_OFF = 0;
constexpr int SIM_OK = 1;
constexpr int SIM_ERROR = 2;
constexpr int SIM_NA = 3;

// The five check results each input carries. The two audio states stand for the
// THRESHOLD and DIF.LEVEL checks of one channel together.
enum TSimCheck { SIM_SYNC, SIM_MOTION, SIM_LEVEL, SIM_AUDIO_LEFT, SIM_AUDIO_RIGHT, SIM_CHECKS };

constexpr int SIM_INPUT_A = 1;
constexpr int SIM_INPUT_B = 2;

constexpr std::size_t SIM_NAME_SIZE = 17;
constexpr std::size_t SIM_SETTINGS_SIZE = 21;
constexpr std::size_t SIM_COUNTERS_SIZE = 14;

using TSimSettings = std::array<std::uint8_t, SIM_SETTINGS_SIZE>;

// Byte offsets of the settings block's on/off flags.
constexpr int SIM_FLAG_SYNC = 0;
constexpr int SIM_FLAG_MOTION = 3;
constexpr int SIM_FLAG_LEVEL = 6;
constexpr int SIM_FLAG_THRESHOLD = 10;
constexpr int SIM_FLAG_AUDIO_LEVEL = 14;
constexpr int SIM_FLAG_RECOVERY = 18;

// Byte offsets of the counter pairs (input A, then input B) in the counters payload.
constexpr int SIM_COUNT_SYNC = 0;
constexpr int SIM_COUNT_MOTION = 2;
constexpr int SIM_COUNT_LEVEL = 4;
constexpr int SIM_COUNT_THRESHOLD_LEFT = 6;
constexpr int SIM_COUNT_THRESHOLD_RIGHT = 8;
constexpr int SIM_COUNT_AUDIO_LEVEL_LEFT = 10;
constexpr int SIM_COUNT_AUDIO_LEVEL_RIGHT = 12;

// SYNC on at 1.9 s, MOTION off, video DIF.LEVEL on at 3.5 dB and 2.0 s, THRESHOLD on at
// -40 dB and 1.5 s, audio DIF.LEVEL off at 6 dB and 0.5 s, RECOVERY on at 120 s.
constexpr TSimSettings SIM_DEFAULT_SETTINGS{0x01, 0x13, 0x00, 0x00, 0x00, 0x00, 0x01,
                                            0x04, 0x14, 0x00, 0x01, 0x15, 0x03, 0x00,
                                            0x00, 0x05, 0x01, 0x00, 0x01, 0x78, 0x00};

struct TSimState {
    std::string Name = "7710/12 SIM";
    int Output = SIM_INPUT_A;
    bool AutoMode = true;
    // Check codes indexed [input - 1][check].
    std::array<std::array<int, SIM_CHECKS>, 2> Checks{{{1, 1, 1, 1, 1}, {1, 1, 1, 1, 1}}};
    TSimSettings Settings = SIM_DEFAULT_SETTINGS;
    // Bit 0: power supply 1 is monitored, bit 1: power supply 2.
    int PowerMask = 3;
    // Codes of power supplies 1 and 2, reported whether or not they are monitored.
    std::array<int, 2> Psu{SIM_OK, SIM_OK};
    bool TempValid = true;
    int Temperature = 35;
    std::array<std::uint8_t, SIM_COUNTERS_SIZE> Counters{};
};

// True when the check that produces this result is switched on in the settings. An audio
// channel's result counts as switched on when its THRESHOLD or DIF.LEVEL check is.
bool CheckEnabled(const TSimSettings& settings, int check);

// Sets one check result of an input (1 or 2). A result that newly becomes SIM_ERROR on a
// switched-on check is counted; in automatic mode the output may then change over.
void SetCheck(TSimState& state, int input, int check, int code);

// In automatic mode: when a switched-on check reports SIM_ERROR on the input on the output
// while the other input reports SIM_OK for it, puts the other input on the output.
void ChangeOver(TSimState& state);

// The select input command: forces input 1 or 2 onto the output, manual mode.
void SelectInput(TSimState& state, int input);
// The auto command: automatic mode, which may change over at once.
void SetAutoMode(TSimState& state);
// Stores a 21-byte settings block as written, each flag byte kept to its bit 0.
void StoreSettings(TSimState& state, const std::uint8_t* block);

// The group payloads the device reports, without the 5 header bytes.
TSimBytes IdentityPayload(const TSimState& state);
TSimBytes StatePayload(const TSimState& state);
TSimBytes SettingsPayload(const TSimState& state);
TSimBytes PowerPayload(const TSimState& state);
TSimBytes CountersPayload(const TSimState& state);
