// control7710-cli run as a child process against the simulated device: device text that
// cannot drive a terminal, output that cannot stall the monitor, and the conventions of
// its command line.

#include "CliProcess.h"
#include "SimDevice.h"

#include <gtest/gtest.h>
#include <memory>
#include <sstream>

using namespace std::chrono_literals;

namespace {

// A simulated device on a port of its own on loopback.
class Device {
public:
    explicit Device(const std::string& name = "7710/12 SIM", int temperature = 35) {
        TSimOptions options;
        options.Address = "127.0.0.1";
        options.Port = 0;
        options.Scene.State.Name = name;
        options.Scene.State.Temperature = temperature;
        fDevice = std::make_unique<TSimDevice>(options);
        EXPECT_TRUE(fDevice->Start());
    }

    std::string Port() const { return std::to_string(fDevice->Port()); }
    TSimDevice& Sim() { return *fDevice; }

private:
    std::unique_ptr<TSimDevice> fDevice;
};

// The code points of UTF-8 text; false when the text is not well-formed UTF-8.
bool DecodeUtf8(const std::string& text, std::vector<char32_t>& points) {
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int extra = lead < 0x80 ? 0 : (lead >> 5) == 6 ? 1 : (lead >> 4) == 14 ? 2 : 3;
        if ((lead >= 0x80 && lead < 0xC2) || lead > 0xF4 || i + extra >= text.size() + (extra == 0))
            return false;
        char32_t point = extra == 0 ? lead : lead & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3F);
        }
        points.push_back(point);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

// Describes the first control character of text other than the line ends, or "".
std::string FirstControl(const std::string& text) {
    std::vector<char32_t> points;
    if (!DecodeUtf8(text, points))
        return "not UTF-8";
    for (const char32_t point : points) {
        if (point != U'\n' && (point < 0x20 || (point >= 0x7F && point < 0xA0)))
            return "control character " + std::to_string(point);
    }
    return "";
}

// The device's bytes again from their printed form: \\ and \xHH undone, UTF-8 back to
// 8-bit characters.
std::string Unescape(const std::string& shown) {
    std::vector<char32_t> points;
    EXPECT_TRUE(DecodeUtf8(shown, points));
    std::string bytes;
    for (std::size_t i = 0; i < points.size(); ++i) {
        if (points[i] == U'\\' && i + 1 < points.size() && points[i + 1] == U'\\') {
            bytes += '\\';
            ++i;
        } else if (points[i] == U'\\' && i + 3 < points.size() && points[i + 1] == U'x') {
            const std::string hex{static_cast<char>(points[i + 2]),
                                  static_cast<char>(points[i + 3])};
            bytes += static_cast<char>(std::stoi(hex, nullptr, 16));
            i += 3;
        } else {
            bytes += static_cast<char>(points[i]);
        }
    }
    return bytes;
}

// The rest of the first line that holds marker, or "" when there is none.
std::string AfterMarker(const std::string& output, const std::string& marker) {
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find(marker);
        if (at != std::string::npos)
            return line.substr(at + marker.size());
    }
    return "";
}

// Every byte value from 1 to 255 in device names of at most 17 bytes; a zero byte would
// end the name.
std::vector<std::string> EveryByteInNames() {
    std::vector<std::string> names(1);
    for (int byte = 1; byte <= 0xFF; ++byte) {
        if (names.back().size() == SIM_NAME_SIZE)
            names.emplace_back();
        names.back() += static_cast<char>(byte);
    }
    return names;
}

// What the monitor must print for a device name, written out independently of it.
std::string PrintableName(const std::string& name) {
    std::string shown;
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
        if (c == '\\')
            shown += "\\\\";
        else if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0))
            shown += escaped;
        else if (byte < 0x80)
            shown += c;
        else
            shown +=
                {static_cast<char>(0xC0 | (byte >> 6)), static_cast<char>(0x80 | (byte & 0x3F))};
    }
    return shown;
}

} // namespace

TEST(CliDeviceText, EveryByteOfTheDeviceNameReachesTheTerminalEscapedAndReversible) {
    // The device serves one station at a time: events and watch get a device each, and
    // report and check follow events on its device once it has ended.
    const std::vector<std::string> names = EveryByteInNames();
    std::vector<std::unique_ptr<Device>> devices;
    std::vector<std::unique_ptr<TCliProcess>> runs;
    for (const std::string& name : names) {
        for (const char* command : {"events", "watch"}) {
            devices.push_back(std::make_unique<Device>(name));
            runs.push_back(std::make_unique<TCliProcess>(std::vector<std::string>{
                command, "127.0.0.1", "--port", devices.back()->Port(), "--seconds", "3"}));
        }
    }
    for (std::size_t i = 0; i < names.size(); ++i) {
        const TCliResult event = runs[2 * i]->Finish();
        const TCliResult watch = runs[2 * i + 1]->Finish();
        const std::string port = devices[2 * i]->Port();
        const TCliResult report = RunCli({"report", "127.0.0.1", "--port", port});
        const TCliResult check = RunCli({"check", "127.0.0.1", "--port", port});
        for (const TCliResult* run : {&report, &check, &event, &watch}) {
            EXPECT_EQ(FirstControl(run->Out), "") << "name " << i << ": " << run->Out;
            EXPECT_EQ(FirstControl(run->Err), "") << "name " << i << ": " << run->Err;
        }
        EXPECT_EQ(Unescape(AfterMarker(report.Out, "Name: ")), names[i]) << report.Out;
        EXPECT_EQ(Unescape(AfterMarker(watch.Out, "Name: ")), names[i]) << watch.Out;
        EXPECT_EQ(Unescape(AfterMarker(event.Out, "DeviceName ")), names[i]) << event.Out;
        EXPECT_NE(check.Out.find(PrintableName(names[i])), std::string::npos) << check.Out;
    }
}
