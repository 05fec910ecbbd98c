#include "SimFleet.h"

#include "SimScript.h"
#include "UnitProc.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <sstream>

namespace {

constexpr std::uint32_t LOOPBACK_NET = 0x7F000000;
constexpr std::uint32_t LOOPBACK_MASK = 0xFF000000;

std::uint32_t AddressNumber(const TAddressValue& value) {
    return static_cast<std::uint32_t>(value[0]) << 24 | static_cast<std::uint32_t>(value[1]) << 16 |
           static_cast<std::uint32_t>(value[2]) << 8 | value[3];
}

std::string AddressText(std::uint32_t number) {
    return std::to_string(number >> 24) + "." + std::to_string((number >> 16) & 0xFF) + "." +
           std::to_string((number >> 8) & 0xFF) + "." + std::to_string(number & 0xFF);
}

bool IsLoopback(std::uint64_t number) {
    return number <= 0xFFFFFFFF && (number & LOOPBACK_MASK) == LOOPBACK_NET;
}

std::string FirstWord(const std::string& command) {
    const std::vector<std::string> words = SplitWords(command);
    if (words.empty())
        return {};
    std::string word = words[0];
    std::transform(word.begin(), word.end(), word.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return word;
}

// Each line of text with "@N " in front.
std::string Prefixed(int number, const std::string& text) {
    std::istringstream in(text);
    std::string result;
    for (std::string line; std::getline(in, line);)
        result += "@" + std::to_string(number) + " " + line + "\n";
    return result;
}

template <typename T, std::size_t N> const T& Pick(std::mt19937& random, const T (&items)[N]) {
    return items[std::uniform_int_distribution<std::size_t>(0, N - 1)(random)];
}

} // namespace

std::string FleetAddresses(const std::string& first, int count,
                           std::vector<std::string>& addresses) {
    TAddressValue value{};
    if (!ParseAddress(first, value))
        return "not an IPv4 address: " + first;
    const std::uint64_t start = AddressNumber(value);
    const std::uint64_t last = start + static_cast<std::uint64_t>(count) - 1;
    if (count > 1 && (!IsLoopback(start) || !IsLoopback(last)))
        return std::to_string(count) + " devices from " + first +
               " would leave the loopback network 127.0.0.0/8";
    addresses.clear();
    for (std::uint64_t number = start; number <= last; ++number)
        addresses.push_back(AddressText(static_cast<std::uint32_t>(number)));
    return {};
}

std::string SplitTarget(const std::string& line, int count, int& number, std::string& command) {
    const std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] != '@') {
        number = 0;
        command = line;
        return {};
    }
    const std::size_t end = line.find_first_of(" \t", start);
    const std::string digits =
        line.substr(start + 1, end == std::string::npos ? end : end - start - 1);
    int value = 0;
    const auto [at, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (digits.empty() || error != std::errc() || at != digits.data() + digits.size() ||
        value < 1 || value > count)
        return "no device @" + digits + " (devices are @1 to @" + std::to_string(count) + ")";
    command = end == std::string::npos ? std::string() : line.substr(end);
    if (command.find_first_not_of(" \t\r\n") == std::string::npos)
        return "usage: @N COMMAND";
    number = value;
    return {};
}

std::string ChurnCommand(std::mt19937& random) {
    static const char* const INPUTS[] = {"A", "B"};
    static const char* const CHECKS[] = {"sync", "motion", "level", "audio-left", "audio-right"};
    static const char* const RESULTS[] = {"ok", "error"};
    static const char* const UNITS[] = {"1", "2"};
    switch (std::uniform_int_distribution<int>(0, 4)(random)) {
    case 0:
        return std::string("psu ") + Pick(random, UNITS) + " " + Pick(random, RESULTS);
    case 1:
        return "temp " + std::to_string(std::uniform_int_distribution<int>(30, 75)(random));
    default:
        return std::string("check ") + Pick(random, INPUTS) + " " + Pick(random, CHECKS) + " " +
               Pick(random, RESULTS);
    }
}

std::string FleetHelp() {
    return "  @N COMMAND\n"
           "      runs COMMAND on device N only (@1 listens on the first address, @2 on the\n"
           "      next); a command without the prefix runs on every device\n"
           "  churn RATE\n"
           "      makes RATE random changes a second (checks, power supplies, temperature)\n"
           "      over the whole fleet, for load; churn 0 stops\n"
           "  requests\n"
           "      prints \"requests:\" and the requests each device has received so far\n";
}

// ---- Fleet ------------------------------------------------------------------------------

TSimFleet::TSimFleet(const TSimOptions& options, int count) {
    if (!FleetAddresses(options.Address, count, fAddresses).empty())
        return;
    for (std::size_t i = 0; i < fAddresses.size(); ++i) {
        TSimOptions own = options;
        own.Address = fAddresses[i];
        if (options.OnEvent && count > 1) {
            own.OnEvent = [on = options.OnEvent, prefix = "@" + std::to_string(i + 1) + " "](
                              const std::string& line) { on(prefix + line); };
        }
        fDevices.push_back(std::make_unique<TSimDevice>(own, fLoop));
    }
}

TSimFleet::~TSimFleet() {
    Stop();
}

std::string TSimFleet::Start() {
    if (fDevices.empty())
        return "no device to start";
    if (!fLoop.Start())
        return "cannot start serving: the fleet runs already, or the system gave no epoll";
    for (int number = 1; number <= Count(); ++number) {
        if (!Device(number).Start()) {
            Stop();
            return "cannot listen on " + Address(number) + ":" +
                   std::to_string(Device(number).Port());
        }
    }
    fLoop.Call([this] { RestartChurn(); });
    return {};
}

void TSimFleet::Stop() {
    fLoop.Call([this] { fLoop.Cancel(fChurnTimer); });
    for (const auto& device : fDevices)
        device->Stop();
    fLoop.Stop();
}

std::string TSimFleet::Execute(const std::string& line) {
    std::string output;
    return Execute(line, output);
}

std::string TSimFleet::Execute(const std::string& line, std::string& output) {
    TSimEffect effect;
    const std::string error = Execute(line, effect);
    output = effect.Output;
    return error;
}

std::string TSimFleet::Execute(const std::string& line, TSimEffect& effect) {
    effect.Output.clear();
    std::string& output = effect.Output;
    int number = 0;
    std::string command;
    const std::string error = SplitTarget(line, Count(), number, command);
    if (!error.empty())
        return error;
    const std::string word = FirstWord(command);
    if (word == "churn")
        return number == 0 ? SetChurn(command) : "churn applies to the whole fleet";
    if (word == "requests")
        return number == 0 ? RequestCounts(command, output) : "requests applies to the whole fleet";
    if (word == "help") {
        output = ScriptHelp() + "Fleet:\n" + FleetHelp();
        return {};
    }
    if (number > 0)
        return Device(number).Execute(command, effect);
    // Waiting once is waiting for every device, and a script starts over once.
    if (word == "wait" || word == "wait-station" || word == "loop" || Count() == 1)
        return Device(1).Execute(command, effect);
    return ExecuteOnAll(command, effect);
}

// The command language is the same on every device, so a command that the first device
// takes is taken by all.
std::string TSimFleet::ExecuteOnAll(const std::string& command, TSimEffect& effect) {
    for (int number = 1; number <= Count(); ++number) {
        TSimEffect one;
        const std::string error = Device(number).Execute(command, one);
        if (!error.empty())
            return error;
        effect.Output += Prefixed(number, one.Output);
    }
    return {};
}

std::string TSimFleet::SetChurn(const std::string& command) {
    const std::vector<std::string> words = SplitWords(command);
    int rate = -1;
    if (words.size() == 2) {
        const std::string& text = words[1];
        const auto [at, error] = std::from_chars(text.data(), text.data() + text.size(), rate);
        if (error != std::errc() || at != text.data() + text.size())
            rate = -1;
    }
    if (rate < 0 || rate > SIM_MAX_CHURN)
        return "usage: churn 0.." + std::to_string(SIM_MAX_CHURN);
    {
        const std::lock_guard lock(fLock);
        fChurnRate = rate;
    }
    fLoop.Call([this] { RestartChurn(); });
    return {};
}

// One line: "requests:" and each device's count, device 1 first.
std::string TSimFleet::RequestCounts(const std::string& command, std::string& output) {
    if (SplitWords(command).size() != 1)
        return "usage: requests";
    output = "requests:";
    for (int number = 1; number <= Count(); ++number)
        output += " " + std::to_string(Device(number).Requests());
    output += "\n";
    return {};
}

int TSimFleet::ChurnRate() const {
    const std::lock_guard lock(fLock);
    return fChurnRate;
}

std::uint64_t TSimFleet::ChurnChanges() const {
    const std::lock_guard lock(fLock);
    return fChurnChanges;
}

// Starts the churn over at the rate set last.
void TSimFleet::RestartChurn() {
    fLoop.Cancel(fChurnTimer);
    fChurnPace = ChurnRate();
    fChurnStart = Clock::now();
    fChurnMade = 0;
    if (fChurnPace > 0)
        ScheduleChurn();
}

// Makes the changes due at the rate since it was set; a backlog of more than a second,
// when the devices cannot keep up, is dropped rather than made up in a burst.
void TSimFleet::Churn() {
    const double elapsed = std::chrono::duration<double>(Clock::now() - fChurnStart).count();
    const auto due = static_cast<std::uint64_t>(elapsed * fChurnPace);
    if (due > fChurnMade + static_cast<std::uint64_t>(fChurnPace))
        fChurnMade = due - 1;
    std::uniform_int_distribution<int> pickDevice(1, Count());
    const std::uint64_t before = fChurnMade;
    for (; fChurnMade < due; ++fChurnMade)
        Device(pickDevice(fChurnRandom)).Execute(ChurnCommand(fChurnRandom));
    {
        const std::lock_guard lock(fLock);
        fChurnChanges += fChurnMade - before;
    }
    ScheduleChurn();
}

// When the next change is due.
void TSimFleet::ScheduleChurn() {
    const auto next =
        fChurnStart + std::chrono::duration_cast<Clock::duration>(
                          std::chrono::duration<double>((fChurnMade + 1.0) / fChurnPace));
    fChurnTimer = fLoop.After(next - Clock::now(), [this] { Churn(); });
}
