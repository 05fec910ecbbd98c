#include "SimScript.h"

#include "FrameScan.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <iterator>
#include <sstream>

namespace {

using TWords = std::vector<std::string>;

// A command's arguments: its words in lower case, and the raw text after the first word.
struct TArgs {
    TWords Words;
    std::string Rest;
};

using THandler = std::string (*)(TSimScene&, const TArgs&, TSimEffect&);

struct TCommand {
    const char* Name;
    const char* Form;
    const char* Help;
    THandler Run;
};

struct TSwitchFault {
    const char* Name;
    bool TSimFaults::*Field;
    const char* Help;
};

struct TNumberFault {
    const char* Name;
    int TSimFaults::*Field;
    int Off;
    int Max;
    const char* Value;
    const char* Help;
};

// Width of a settings field: 0 for an on/off flag, else its size in bytes.
struct TSettingField {
    const char* Name;
    int Offset;
    int Width;
};

constexpr const char* CODE_NAMES[] = {"off", "ok", "error", "na"};
constexpr const char* CHECK_NAMES[] = {"sync", "motion", "level", "audio-left", "audio-right"};

constexpr TSwitchFault SWITCH_FAULTS[] = {
    {"silent", &TSimFaults::Silent, "reads requests, never answers"},
    {"close-mid-frame", &TSimFaults::CloseMidFrame,
     "sends half of a reply's frame, then closes the connection"},
    {"bad-checksum", &TSimFaults::BadChecksum, "replies with a wrong checksum"},
    {"wrong-header", &TSimFaults::WrongHeader,
     "replies with a wrong length byte in the header (FF FF 10 01 10)"},
    {"extra-byte", &TSimFaults::ExtraByte, "replies with one payload byte too many"},
    {"wrong-group", &TSimFaults::WrongGroup, "answers each read with the reply of the next group"},
    {"no-ack", &TSimFaults::NoAck, "carries out writes without acknowledging them"},
    {"wrong-ack", &TSimFaults::WrongAck,
     "carries out writes but answers them with a wrong acknowledgement"},
    {"refuse", &TSimFaults::Refuse, "stops listening, so connections are refused"},
};

constexpr TNumberFault NUMBER_FAULTS[] = {
    {"answer-first", &TSimFaults::AnswerFirst, -1, 1000000, "N",
     "answers N more requests on this connection (or the first N of the next), then none"},
    {"byte-by-byte", &TSimFaults::ByteDelayMs, 0, 60000, "MS",
     "sends each reply one byte at a time, MS apart"},
    {"delay", &TSimFaults::DelayMs, 0, 60000, "MS", "waits MS before each reply"},
    {"junk", &TSimFaults::JunkBytes, 0, 1048576, "N",
     "sends N bytes of junk (no frame marks) before each reply"},
};

constexpr TSettingField SETTING_FIELDS[] = {
    {"sync", 0, 0},
    {"sync-time", 1, 2},
    {"motion", 3, 0},
    {"motion-time", 4, 2},
    {"level", 6, 0},
    {"level-value", 7, 1},
    {"level-time", 8, 2},
    {"threshold", 10, 0},
    {"threshold-value", 11, 1},
    {"threshold-time", 12, 2},
    {"audio-level", 14, 0},
    {"audio-level-value", 15, 1},
    {"audio-level-time", 16, 2},
    {"recovery", 18, 0},
    {"recovery-time", 19, 2},
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string Trim(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

template <std::size_t N> int IndexOf(const char* const (&names)[N], const std::string& word) {
    const auto found = std::find(std::begin(names), std::end(names), word);
    return found == std::end(names) ? -1 : static_cast<int>(found - std::begin(names));
}

template <typename T, std::size_t N>
const T* FindByName(const T (&table)[N], const std::string& name) {
    const auto found = std::find_if(std::begin(table), std::end(table),
                                    [&](const T& entry) { return name == entry.Name; });
    return found == std::end(table) ? nullptr : found;
}

bool ParseNumber(const std::string& word, int min, int max, int& value) {
    int parsed = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
    if (error != std::errc() || end != word.data() + word.size() || parsed < min || parsed > max)
        return false;
    value = parsed;
    return true;
}

bool ParseInput(const std::string& word, int& input) {
    if (word != "a" && word != "b")
        return false;
    input = word == "a" ? SIM_INPUT_A : SIM_INPUT_B;
    return true;
}

bool ParseSwitch(const std::string& word, bool& on) {
    if (word != "on" && word != "off")
        return false;
    on = word == "on";
    return true;
}

bool ParseCode(const std::string& word, int& code) {
    code = IndexOf(CODE_NAMES, word);
    return code >= 0;
}

std::string Usage(const char* name);

// ---- Device state commands ---------------------------------------------------------

std::string RunCheck(TSimScene& scene, const TArgs& args, TSimEffect&) {
    const TWords& w = args.Words;
    int input = 0;
    int code = 0;
    const int check = w.size() == 4 ? IndexOf(CHECK_NAMES, w[2]) : -1;
    if (w.size() != 4 || !ParseInput(w[1], input) || (check < 0 && w[2] != "all") ||
        !ParseCode(w[3], code))
        return Usage("check");
    for (int c = 0; c < SIM_CHECKS; ++c) {
        if (check < 0 || c == check)
            SetCheck(scene.State, input, c, code);
    }
    return {};
}

std::string RunName(TSimScene& scene, const TArgs& args, TSimEffect&) {
    if (args.Rest.size() > SIM_NAME_SIZE)
        return "name: at most 17 characters";
    scene.State.Name = args.Rest;
    return {};
}

std::string RunPsu(TSimScene& scene, const TArgs& args, TSimEffect&) {
    int unit = 0;
    int code = 0;
    if (args.Words.size() != 3 || !ParseNumber(args.Words[1], 1, 2, unit) ||
        !ParseCode(args.Words[2], code))
        return Usage("psu");
    scene.State.Psu[static_cast<std::size_t>(unit - 1)] = code;
    return {};
}

std::string RunPsuMask(TSimScene& scene, const TArgs& args, TSimEffect&) {
    if (args.Words.size() != 2 || !ParseNumber(args.Words[1], 0, 3, scene.State.PowerMask))
        return Usage("psu-mask");
    return {};
}

std::string RunTemp(TSimScene& scene, const TArgs& args, TSimEffect&) {
    const bool none = args.Words.size() == 2 && args.Words[1] == "none";
    if (args.Words.size() != 2 ||
        (!none && !ParseNumber(args.Words[1], 0, 255, scene.State.Temperature)))
        return Usage("temp");
    scene.State.TempValid = !none;
    return {};
}

bool ParseSettingValue(const TSettingField& field, const std::string& word, int& value) {
    bool on = false;
    if (field.Width == 0 && ParseSwitch(word, on)) {
        value = on ? 1 : 0;
        return true;
    }
    const int max = field.Width == 0 ? 1 : field.Width == 1 ? 0xFF : 0xFFFF;
    return ParseNumber(word, 0, max, value);
}

std::string RunSetting(TSimScene& scene, const TArgs& args, TSimEffect&) {
    const TSettingField* field =
        args.Words.size() == 3 ? FindByName(SETTING_FIELDS, args.Words[1]) : nullptr;
    int value = 0;
    if (field == nullptr || !ParseSettingValue(*field, args.Words[2], value))
        return Usage("setting");
    TSimSettings& settings = scene.State.Settings;
    const auto offset = static_cast<std::size_t>(field->Offset);
    settings[offset] = static_cast<std::uint8_t>(value & 0xFF);
    if (field->Width == 2)
        settings[offset + 1] = static_cast<std::uint8_t>(value >> 8);
    ChangeOver(scene.State);
    return {};
}

std::string RunOutput(TSimScene& scene, const TArgs& args, TSimEffect&) {
    if (args.Words.size() != 2 || !ParseInput(args.Words[1], scene.State.Output))
        return Usage("output");
    ChangeOver(scene.State);
    return {};
}

std::string RunMode(TSimScene& scene, const TArgs& args, TSimEffect&) {
    const TWords& w = args.Words;
    if (w.size() != 2 || (w[1] != "auto" && w[1] != "manual"))
        return Usage("mode");
    scene.State.AutoMode = w[1] == "auto";
    ChangeOver(scene.State);
    return {};
}

std::string RunCounters(TSimScene& scene, const TArgs& args, TSimEffect&) {
    if (args.Words.size() != 2 || args.Words[1] != "reset")
        return Usage("counters");
    scene.State.Counters.fill(0);
    return {};
}

// ---- Device actions, faults and information --------------------------------------------

std::string RunWait(TSimScene&, const TArgs& args, TSimEffect& effect) {
    if (args.Words.size() != 2 || !ParseNumber(args.Words[1], 0, 3600000, effect.WaitMs))
        return Usage("wait");
    return {};
}

std::string RunWaitStation(TSimScene&, const TArgs& args, TSimEffect& effect) {
    if (args.Words.size() != 1)
        return Usage("wait-station");
    effect.WaitStation = true;
    return {};
}

std::string RunLoop(TSimScene&, const TArgs& args, TSimEffect& effect) {
    if (args.Words.size() != 1)
        return Usage("loop");
    effect.Loop = true;
    return {};
}

std::string RunDrop(TSimScene&, const TArgs& args, TSimEffect& effect) {
    if (args.Words.size() != 1)
        return Usage("drop");
    effect.Drop = true;
    return {};
}

std::string RunFault(TSimScene& scene, const TArgs& args, TSimEffect&) {
    return ApplyFault(scene.Faults, TWords(args.Words.begin() + 1, args.Words.end()));
}

std::string RunState(TSimScene& scene, const TArgs& args, TSimEffect& effect) {
    if (args.Words.size() != 1)
        return Usage("state");
    effect.Output = DescribeScene(scene);
    return {};
}

std::string RunHelp(TSimScene&, const TArgs& args, TSimEffect& effect) {
    if (args.Words.size() != 1)
        return Usage("help");
    effect.Output = ScriptHelp();
    return {};
}

constexpr TCommand COMMANDS[] = {
    {"check", "check A|B sync|motion|level|audio-left|audio-right|all off|ok|error|na",
     "sets a check result of an input (all: every check)", RunCheck},
    {"name", "name [TEXT]", "sets the device name (0 to 17 characters)", RunName},
    {"psu", "psu 1|2 off|ok|error|na", "sets the state of a power supply", RunPsu},
    {"psu-mask", "psu-mask 0..3", "sets which power supplies are monitored (bit 0: 1, bit 1: 2)",
     RunPsuMask},
    {"temp", "temp 0..255|none", "sets the temperature in degrees Celsius, or no reading", RunTemp},
    {"setting", "setting FIELD VALUE", "sets a settings field in raw device units", RunSetting},
    {"output", "output A|B", "puts an input on the output (the mode stays)", RunOutput},
    {"mode", "mode auto|manual", "sets automatic changeover or manual mode", RunMode},
    {"counters", "counters reset", "sets every error counter to 0", RunCounters},
    {"wait", "wait MS", "waits before the next command", RunWait},
    {"wait-station", "wait-station", "waits until a station is connected", RunWaitStation},
    {"loop", "loop", "starts the script file over from its first line (after a wait)", RunLoop},
    {"drop", "drop", "closes the station's connection now", RunDrop},
    {"fault", "fault NAME [VALUE]", "switches a fault on or off (see below)", RunFault},
    {"state", "state", "prints the device state and the faults", RunState},
    {"help", "help", "prints this list", RunHelp},
};

std::string Usage(const char* name) {
    return std::string("usage: ") + FindByName(COMMANDS, name)->Form;
}

std::string FaultUsage(const std::string& name) {
    const TNumberFault* number = FindByName(NUMBER_FAULTS, name);
    if (number != nullptr)
        return "usage: fault " + name + " " + number->Value + "|off";
    return "usage: fault " + name + " [on|off]";
}

// The settings field names of one width, each followed by a blank.
std::string SettingNames(int width) {
    std::string text;
    for (const TSettingField& field : SETTING_FIELDS) {
        if (field.Width == width)
            text += std::string(field.Name) + " ";
    }
    return text;
}

bool ApplySwitchFault(TSimFaults& faults, const TSwitchFault& fault, const TWords& words) {
    bool on = true;
    if (words.size() > 2 || (words.size() == 2 && !ParseSwitch(words[1], on)))
        return false;
    faults.*fault.Field = on;
    return true;
}

bool ApplyNumberFault(TSimFaults& faults, const TNumberFault& fault, const TWords& words) {
    int value = fault.Off;
    if (words.size() != 2 || (words[1] != "off" && !ParseNumber(words[1], 0, fault.Max, value)))
        return false;
    faults.*fault.Field = value;
    if (fault.Field == &TSimFaults::AnswerFirst)
        faults.Answered = 0;
    return true;
}

std::string SettingsText(const TSimSettings& settings) {
    std::string text;
    for (const TSettingField& field : SETTING_FIELDS) {
        const auto offset = static_cast<std::size_t>(field.Offset);
        const int value =
            field.Width == 2 ? settings[offset] | settings[offset + 1] << 8 : settings[offset];
        text += std::string(text.empty() ? "" : ", ") + field.Name + " " + std::to_string(value);
    }
    return text;
}

std::string FaultsText(const TSimFaults& faults) {
    std::string text;
    for (const TSwitchFault& fault : SWITCH_FAULTS) {
        if (faults.*fault.Field)
            text += std::string(text.empty() ? "" : ", ") + fault.Name;
    }
    for (const TNumberFault& fault : NUMBER_FAULTS) {
        if (faults.*fault.Field != fault.Off)
            text += std::string(text.empty() ? "" : ", ") + fault.Name + " " +
                    std::to_string(faults.*fault.Field);
    }
    return text.empty() ? "none" : text;
}

std::string InputText(const TSimState& state, int input) {
    std::string text = std::string("input ") + (input == SIM_INPUT_A ? "A:" : "B:");
    for (int check = 0; check < SIM_CHECKS; ++check) {
        const int code = state.Checks[static_cast<std::size_t>(input - 1)][check];
        text +=
            std::string(check == 0 ? " " : ", ") + CHECK_NAMES[check] + " " + CODE_NAMES[code & 3];
    }
    return text;
}

} // namespace

std::vector<std::string> SplitWords(const std::string& line) {
    std::istringstream in(line);
    return TWords(std::istream_iterator<std::string>(in), std::istream_iterator<std::string>());
}

std::string ApplyFault(TSimFaults& faults, const std::vector<std::string>& words) {
    if (words.empty())
        return Usage("fault");
    TWords lower;
    std::transform(words.begin(), words.end(), std::back_inserter(lower), Lower);
    if (lower == TWords{"none"}) {
        faults = TSimFaults{};
        return {};
    }
    TSimFaults trial = faults;
    const TSwitchFault* toggle = FindByName(SWITCH_FAULTS, lower[0]);
    const TNumberFault* number = FindByName(NUMBER_FAULTS, lower[0]);
    if (toggle == nullptr && number == nullptr)
        return "unknown fault \"" + words[0] + "\" (help lists the faults)";
    if (toggle != nullptr ? !ApplySwitchFault(trial, *toggle, lower)
                          : !ApplyNumberFault(trial, *number, lower))
        return FaultUsage(lower[0]);
    faults = trial;
    return {};
}

std::string ApplyCommand(TSimScene& scene, const std::string& line, TSimEffect& effect) {
    const std::string text = Trim(line);
    if (text.empty() || text[0] == '#')
        return {};
    TArgs args;
    for (const std::string& word : SplitWords(text))
        args.Words.push_back(Lower(word));
    const std::size_t restAt = text.find_first_of(" \t");
    args.Rest = restAt == std::string::npos ? std::string() : Trim(text.substr(restAt));
    const TCommand* command = FindByName(COMMANDS, args.Words[0]);
    if (command == nullptr)
        return "unknown command \"" + args.Words[0] + "\" (help lists the commands)";
    TSimScene trial = scene;
    TSimEffect trialEffect;
    std::string error = command->Run(trial, args, trialEffect);
    if (error.empty()) {
        scene = trial;
        effect = trialEffect;
    }
    return error;
}

std::string ScriptHelp() {
    std::string text;
    for (const TCommand& command : COMMANDS)
        text += "  " + std::string(command.Form) + "\n      " + command.Help + "\n";
    text += "Faults (a switch given without on|off is switched on):\n";
    for (const TSwitchFault& fault : SWITCH_FAULTS)
        text += "  fault " + std::string(fault.Name) + " [on|off]\n      " + fault.Help + "\n";
    for (const TNumberFault& fault : NUMBER_FAULTS)
        text += "  fault " + std::string(fault.Name) + " " + fault.Value + "|off\n      " +
                fault.Help + "\n";
    text += "  fault none\n      switches every fault off\n";
    text += "Settings fields, in raw device units:\n  " + SettingNames(0) + "on|off\n  " +
            SettingNames(1) + "0..255\n  " + SettingNames(2) + "0..65535\n";
    return text + "Blank lines and lines starting with # are ignored.\n";
}

std::string DescribeScene(const TSimScene& scene) {
    const TSimState& state = scene.State;
    std::string text = "name \"" + state.Name + "\", output " +
                       (state.Output == SIM_INPUT_A ? "A" : "B") + ", mode " +
                       (state.AutoMode ? "auto" : "manual") + "\n";
    text += InputText(state, SIM_INPUT_A) + "\n" + InputText(state, SIM_INPUT_B) + "\n";
    text += std::string("psu 1 ") + CODE_NAMES[state.Psu[0] & 3] + ", psu 2 " +
            CODE_NAMES[state.Psu[1] & 3] + ", psu-mask " + std::to_string(state.PowerMask) +
            ", temp " + (state.TempValid ? std::to_string(state.Temperature) : "none") + "\n";
    text += "settings: " + SettingsText(state.Settings) + "\n";
    text += "counters: " + HexText(CountersPayload(state)) + "\n";
    return text + "faults: " + FaultsText(scene.Faults) + "\n";
}
