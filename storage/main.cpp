// Entry point of the station: start-up checks, then the main window.

#include "Startup.h"
#include "UnitFile.h"
#include "UnitMain.h"

#include <QApplication>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace {

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
