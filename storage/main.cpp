// Entry point of the station: its command line, start-up checks, then the main window.

#include "Startup.h"
#include "UnitFile.h"
#include "UnitMain.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace {

constexpr int EXIT_USAGE = 64;

const char* const USAGE = "Usage: control7710 [--help | --version]\n";

const char* const HELP = R"(Usage: control7710 [--help | --version]

Opens the station's window for one network-attached 7710/12 changeover switch. Type or
pick the switch's IPv4 address and press Connect; the station talks to TCP port 10001.
The window needs a display (DISPLAY or WAYLAND_DISPLAY).

Options:
  --help, -h     show this text
  --version, -V  show the program's version

Exit status: 0 when the window was closed; 1 without a display, or when the settings file
could not be written at start (after an error box); 64 on a usage error.
)";

// What the arguments ask for before any window, the first one deciding: the exit status
// of a program that is done with them (help, version, a usage error), or nothing when
// the window is to open.
std::optional<int> TakeArguments(int argc, char* argv[]) {
    if (argc < 2)
        return std::nullopt;
    const std::string arg = argv[1];
    if (arg == "--help" || arg == "-h") {
        std::fputs(HELP, stdout);
        return 0;
    }
    if (arg == "--version" || arg == "-V") {
        std::printf("control7710 %s\n", CONTROL7710_VERSION);
        return 0;
    }
    const bool option = arg.size() > 1 && arg[0] == '-';
    std::fprintf(stderr, "control7710: %s %s\n%s",
                 option ? "unknown option" : "unexpected argument", arg.c_str(), USAGE);
    return EXIT_USAGE;
}

bool HasDisplay() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0')
            return true;
    }
    return false;
}

} // namespace

int main(int argc, char* argv[]) {
    if (const std::optional<int> done = TakeArguments(argc, argv))
        return *done;
    if (!HasDisplay()) {
        std::fprintf(stderr, "control7710: no display (set DISPLAY or WAYLAND_DISPLAY)\n");
        return 1;
    }
    QApplication application(argc, argv);
    const TStartupResult startup = CheckStartup(ProgramFolder(), ProgramName());
    if (!startup.Ok) {
        QMessageBox::critical(nullptr, "Error", QString::fromStdString(startup.ErrorText));
        return 1;
    }
    QApplication::setApplicationName(QString::fromStdString(ProgramName()));
    TFormMain form(startup.SettingsFileName);
    form.show();
    return QApplication::exec();
}
