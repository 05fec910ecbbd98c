// What the window, the command-line monitor and the exporter show for the same device
// states, compared byte for byte with the texts kept in expected/. Each peer meets every
// scene on a simulated device of its own: the scene's start state, then its changes one
// by one after the first pass. Times, poll rates and link statistics vary from run to
// run and are left out.
//
// CONTROL7710_GOLDEN_UPDATE=1 writes the texts of this run into expected/ instead.

#include "CliProcess.h"
#include "ExporterProcess.h"
#include "FormFixture.h"
#include "SpinEdit.h"
#include "Widgets.h"

#include <csignal>
#include <regex>
#include <sstream>

using namespace std::chrono_literals;

namespace {

struct TScene {
    const char* Name;
    // Simulator commands before the station connects, and after its first pass.
    std::vector<std::string> Start;
    std::vector<std::string> Change;
};

// The refused device comes first: the exporter tries it again after a second or more, and
// reads it before that.
const TScene SCENES[] = {
    {"stop-connect-failed", {"fault refuse"}, {}},
    {"ok-auto-a", {}, {"output B", "setting sync 0", "mode manual"}},
    {"failing-on-air",
     {"mode manual", "check A sync error", "check B audio-left error"},
     {"check A sync ok", "check B motion error"}},
    {"manual-b", {"mode manual", "output B", "check A level error"}, {"mode auto", "psu-mask 2"}},
    {"psu-error", {"psu 2 error", "temp none"}, {"psu 1 na", "psu 2 ok", "temp 40"}},
    {"overheat", {"temp 72"}, {"temp 75", "temp 50", "temp 70"}},
    {"audio-device",
     {"name AUDIO SWITCH", "check A sync error"},
     {"check B sync error", "check B audio-right error", "setting audio-level 1"}},
    {"stop-read-failed", {}, {"fault wrong-group"}},
    {"stop-timeout", {}, {"fault silent"}},
};

// Every peer and command has a loopback network of its own: 127.17.NET.SCENE.
std::string Address(int net, std::size_t scene) {
    return "127.17." + std::to_string(net) + "." + std::to_string(scene + 1);
}

std::unique_ptr<TSimDevice> SceneDevice(const std::string& address, const TScene& scene) {
    TSimOptions options;
    options.Address = address;
    options.Port = DEVICE_PORT;
    auto device = std::make_unique<TSimDevice>(options);
    for (const std::string& line : scene.Start)
        EXPECT_EQ(device->Execute(line), "") << line;
    EXPECT_TRUE(device->Start()) << address;
    return device;
}

bool Refused(const TSimDevice& device) {
    return device.Faults().Refuse;
}

// Waits until every device has had count more requests since before, or lost its station:
// a silent device takes the link three reply time-outs.
void WaitRequests(const std::vector<TSimDevice*>& devices, const std::vector<std::uint64_t>& before,
                  std::uint64_t count) {
    PumpUntil(
        [&] {
            for (std::size_t i = 0; i < devices.size(); ++i) {
                if (devices[i]->StationConnected() && devices[i]->Requests() < before[i] + count)
                    return false;
            }
            return true;
        },
        15s);
}

std::vector<std::uint64_t> RequestCounts(const std::vector<TSimDevice*>& devices) {
    std::vector<std::uint64_t> counts;
    for (const TSimDevice* device : devices)
        counts.push_back(device->Requests());
    return counts;
}

// The first pass is over once the station asks for a group a second time: any change
// after that comes in a later notification, so the station sees it as a change.
void WaitFirstPass(const std::vector<TSimDevice*>& devices) {
    for (TSimDevice* device : devices) {
        if (!Refused(*device)) {
            EXPECT_TRUE(PumpUntil([device] { return device->Requests() > GROUP_COUNT; }, 5s));
        }
    }
}

// Plays the scene's changes on every device, each change seen by two poll cycles before
// the next.
void PlayChanges(const std::vector<TSimDevice*>& devices, const TScene& scene) {
    constexpr std::uint64_t TWO_CYCLES = 2 * GROUP_COUNT;
    for (const std::string& line : scene.Change) {
        const std::vector<std::uint64_t> before = RequestCounts(devices);
        for (TSimDevice* device : devices)
            EXPECT_EQ(device->Execute(line), "") << line;
        WaitRequests(devices, before, TWO_CYCLES);
    }
    PumpFor(100ms);
}

// Leaves out what differs from run to run: time stamps, the poll rate and link statistics.
std::string Normalised(const std::string& text) {
    static const std::regex stamp(R"(^\d\d\D\d\d\D\d\d \d\d\D\d\d\D\d\d )");
    static const std::regex time(R"("time":"[^"]*")");
    static const std::regex cycles(R"(cycles=[^;]*)");
    std::istringstream in(text);
    std::string kept;
    for (std::string line; std::getline(in, line);) {
        if (line.find("LinkStat") != std::string::npos)
            continue;
        line = std::regex_replace(line, stamp, "<stamp> ");
        line = std::regex_replace(line, time, R"("time":"<time>")");
        kept += std::regex_replace(line, cycles, "cycles=<n>") + "\n";
    }
    return kept;
}

// Compares a peer's text with its expected file, or writes the file on request.
void CompareWithExpected(const std::string& peer, const std::string& actual) {
    const std::string path = std::string(GOLDEN_DIR) + "/" + peer + ".txt";
    if (std::getenv("CONTROL7710_GOLDEN_UPDATE") != nullptr) {
        std::ofstream(path, std::ios::binary) << actual;
        return;
    }
    std::ifstream file(path, std::ios::binary);
    ASSERT_TRUE(file) << path;
    const std::string expected{std::istreambuf_iterator<char>(file), {}};
    std::ofstream(peer + ".actual.txt", std::ios::binary) << actual;
    EXPECT_EQ(actual, expected) << "this run's text is in " << peer << ".actual.txt";
}

std::string Heading(const TScene& scene) {
    return std::string("== ") + scene.Name + " ==\n";
}

// ---- The window ------------------------------------------------------------------

class GoldenWindow : public FormFixture {
protected:
    // Lamps, mode buttons, panels and the settings page as the window paints them.
    std::string Painted() const {
        std::string text;
        for (const char* name : {"ShapeSyncA", "ShapeMotionA", "ShapeLevelA", "ShapeAL", "ShapeAR",
                                 "ShapeSyncB", "ShapeMotionB", "ShapeLevelB", "ShapeBL", "ShapeBR",
                                 "ShapePSU1", "ShapePSU2", "ShapeTemp"}) {
            const TLamp* lamp = Find<TLamp>(name);
            text += std::string(name) + " " + Words(lamp->Fill(), lamp->toolTip());
        }
        for (const char* name : {"BtnA", "BtnAuto", "BtnB"}) {
            const QPushButton* button = Button(name);
            text += std::string(name) + " " + Words(ButtonColour(button), button->toolTip());
        }
        for (const char* name : {"PanelDev", "PanelTemp"}) {
            const TTextPanel* panel = Find<TTextPanel>(name);
            text += std::string(name) + " " + Words(panel->TextColour(), panel->Text());
        }
        for (const char* name : {"CBoxPSU1", "CBoxPSU2", "CBoxSync", "CBoxMotion", "CBoxLevel",
                                 "CBoxTHR", "CBoxDIF", "CBoxRec"})
            text += std::string(name) + (Find<QCheckBox>(name)->isChecked() ? " on\n" : " off\n");
        for (const char* name : {"SEditSyncT", "SEditMotionT", "SEditLevelT", "SEditLevelV",
                                 "SEditTHRV", "SEditDIFV", "SEditTHRT", "SEditDIFT", "SEditRecT"})
            text += std::string(name) + " " + Find<TSpinEdit>(name)->text().toStdString() + "\n";
        for (const char* name : {"LE", "LR"})
            text += std::string(name) + " " + Find<QLabel>(name)->text().toStdString() + "\n";
        return text;
    }

    static std::string Words(const QColor& colour, const QString& word) {
        return colour.name().toStdString() + " " + word.toStdString() + "\n";
    }

    // The journal's messages, oldest first, and the message boxes shown.
    std::string Journal() const {
        std::vector<QString> messages = Messages();
        std::string text;
        for (auto line = messages.rbegin(); line != messages.rend(); ++line)
            text += "journal: " + line->toStdString() + "\n";
        for (const TMessage& message : fMessages)
            text += "message: " + message.Text.toStdString() + "\n";
        return text;
    }

    std::string Play(std::size_t index) {
        const TScene& scene = SCENES[index];
        fAddress = Address(1, index);
        const auto device = SceneDevice(fAddress, scene);
        OpenForm();
        TypeAddress(QString::fromStdString(fAddress));
        ClickConnect();
        if (!Refused(*device)) {
            EXPECT_TRUE(WaitJournal("Control started", 3s)) << scene.Name;
            PlayChanges({device.get()}, scene);
        }
        std::string text = Heading(scene) + Painted();
        if (fForm->Link()->IsRunning())
            ClickConnect();
        EXPECT_TRUE(WaitStopped(5s)) << scene.Name;
        text += Journal();
        fForm.reset();
        fMessages.clear();
        return text;
    }
};

TEST_F(GoldenWindow, LampsAndJournalOfEverySceneAreAsBefore) {
    std::string text;
    for (std::size_t index = 0; index < std::size(SCENES); ++index)
        text += Play(index);
    CompareWithExpected("window", text);
}

// ---- The command-line monitor ------------------------------------------------------

// The commands that run until stopped, on networks 2 to 5; check runs on network 6.
const std::vector<std::vector<std::string>> RUNNING_COMMANDS = {
    {"watch"}, {"watch", "--json"}, {"events"}, {"events", "--json"}};

std::string CliText(const std::string& command, const TCliResult& result) {
    return "-- " + command + " (status " + std::to_string(result.Status) + ")\n" +
           Normalised(result.Out) + "-- stderr\n" + result.Err;
}

std::string PlayCli(std::size_t index) {
    const TScene& scene = SCENES[index];
    std::vector<std::unique_ptr<TSimDevice>> owned;
    std::vector<TSimDevice*> devices;
    std::vector<std::unique_ptr<TCliProcess>> runs;
    for (std::size_t c = 0; c < RUNNING_COMMANDS.size(); ++c) {
        const std::string address = Address(2 + static_cast<int>(c), index);
        owned.push_back(SceneDevice(address, scene));
        devices.push_back(owned.back().get());
        std::vector<std::string> args = RUNNING_COMMANDS[c];
        args.insert(args.begin() + 1, address);
        runs.push_back(std::make_unique<TCliProcess>(args));
    }
    const std::string checkAddress = Address(6, index);
    const auto checked = SceneDevice(checkAddress, scene);
    TCliProcess check({"check", "-H", checkAddress});
    WaitFirstPass(devices);
    PlayChanges(devices, scene);
    std::string text = Heading(scene);
    for (std::size_t c = 0; c < runs.size(); ++c) {
        ::kill(runs[c]->Pid(), SIGTERM);
        std::string command;
        for (const std::string& word : RUNNING_COMMANDS[c])
            command += (command.empty() ? "" : " ") + word;
        text += CliText(command, runs[c]->Finish());
    }
    return text + CliText("check", check.Finish());
}

TEST(GoldenCli, ReportEventsChangeLinesAndChecksOfEverySceneAreAsBefore) {
    std::string text;
    for (std::size_t index = 0; index < std::size(SCENES); ++index)
        text += PlayCli(index);
    CompareWithExpected("cli", text);
}

// ---- The exporter ----------------------------------------------------------------

// The exporter names a device on the default port by its address alone.
std::string DeviceKey(std::size_t index) {
    return Address(9, index);
}

// The device's series, sorted, without the poll rate.
std::string DeviceSeries(const std::string& metrics, std::size_t index) {
    static const std::regex rate(R"(^(control7710_link_cycles_per_second\{.*\}) .*$)");
    const std::string label = "device=\"" + DeviceKey(index) + "\"";
    std::istringstream in(metrics);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.find(label) != std::string::npos)
            lines.push_back(std::regex_replace(line, rate, "$1 <n>"));
    }
    std::sort(lines.begin(), lines.end());
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

bool WaitStopCode(const TExporterProcess& exporter, std::size_t index) {
    return PumpUntil(
        [&] {
            const auto code = Sample(exporter.Metrics(), "control7710_last_stop_code",
                                     {{"device", DeviceKey(index)}});
            return code && *code != 0;
        },
        10s);
}

TEST(GoldenExporter, MetricsOfEverySceneAreAsBefore) {
    std::vector<std::unique_ptr<TSimDevice>> devices;
    std::vector<std::string> args = {"--web.listen-address", "127.0.0.1:0"};
    for (std::size_t index = 0; index < std::size(SCENES); ++index) {
        devices.push_back(SceneDevice(Address(9, index), SCENES[index]));
        args.push_back(DeviceKey(index));
    }
    TExporterProcess exporter(args);
    ASSERT_NE(exporter.WaitListening(), 0);
    std::string text;
    for (std::size_t index = 0; index < std::size(SCENES); ++index) {
        const TScene& scene = SCENES[index];
        TSimDevice& device = *devices[index];
        if (!Refused(device)) {
            EXPECT_TRUE(
                exporter.WaitSample("control7710_device_info", {{"device", DeviceKey(index)}}, 1))
                << scene.Name;
            PlayChanges({&device}, scene);
        }
        if (!device.StationConnected()) {
            EXPECT_TRUE(WaitStopCode(exporter, index)) << scene.Name;
        }
        text += Heading(scene) + DeviceSeries(exporter.Metrics(), index);
    }
    CompareWithExpected("exporter", text);
}

} // namespace
