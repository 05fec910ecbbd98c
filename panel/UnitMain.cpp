#include "UnitMain.h"

#include "Startup.h"

namespace {

constexpr int CLIENT_WIDTH = 489;
constexpr int CLIENT_HEIGHT = 777;

} // namespace

TFormMain::TFormMain(std::string settingsFileName, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      fSettingsFileName(std::move(settingsFileName)) {
    setWindowTitle(QString::fromUtf8(APP_TITLE));
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
}
