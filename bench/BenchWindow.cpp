#include "BenchWindow.h"

#include "BenchProcess.h"
#include "ProcessStat.h"
#include "SimDevice.h"
#include "UnitMain.h"
#include "UnitThread.h"

#include <QApplication>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

constexpr const char* PEAK_KB = "peak_kb";
constexpr double PEAK_GOAL_MB = 80;
constexpr int CHANGE_PERIOD_MS = 100;
constexpr int START_WAIT_MS = 20000;

// Turns input B's checks and the power supplies between OK and ERROR in turn, so lamps
// repaint and the journal grows as in service.
void ChangeDevice(TSimDevice& device, int step) {
    static const char* const changes[] = {"check B sync error",
                                          "check B sync ok",
                                          "check B motion error",
                                          "check B motion ok",
                                          "psu 2 error",
                                          "psu 2 ok",
                                          "temp 72",
                                          "temp 35",
                                          "check B audio-left error",
                                          "check B audio-left ok"};
    device.Execute(changes[step % std::size(changes)]);
}

void PollFor(TSimDevice& device, double seconds) {
    QEventLoop loop;
    QTimer changes;
    int step = 0;
    QObject::connect(&changes, &QTimer::timeout, [&] { ChangeDevice(device, step++); });
    changes.start(CHANGE_PERIOD_MS);
    QTimer::singleShot(static_cast<int>(seconds * 1000), &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int RunWindowPeak(double seconds) {
    TSimOptions options;
    options.Address = OwnLoopbackAddress();
    options.Port = DEVICE_PORT;
    TSimDevice device(options);
    QTemporaryDir folder;
    if (!device.Start() || !folder.isValid()) {
        std::fprintf(stderr, "window process: cannot start the simulator on %s\n",
                     options.Address.c_str());
        return 1;
    }
    TFormMain form((folder.path() + "/control7710.dat").toStdString());
    form.ShowMessage = [](QWidget*, const TMessage& message) {
        std::fprintf(stderr, "window process: %s\n", message.Text.toUtf8().constData());
        return QMessageBox::Ok;
    };
    form.show();
    if (!ConnectWindow(form, options.Address))
        return 1;
    PollFor(device, seconds);
    PrintMeasure(PEAK_KB, static_cast<double>(StatusKb("VmHWM")));
    form.Link()->Disconnect();
    return 0;
}

void BenchWindow(double seconds, TBenchReport& report) {
    const int wait = START_WAIT_MS + static_cast<int>(seconds * 1000);
    const TMeasures measures = RunSelf({WINDOW_PEAK_OPTION, QString::number(seconds)}, wait);
    const double megabytes = Measure(measures, PEAK_KB) * 1024 / 1e6;
    report.Goal("window_peak_rss",
                Format("%.1f MB peak resident memory (VmHWM) of the window connected to the "
                       "simulator, %.0f s of polling with changes, offscreen, own process",
                       megabytes, seconds),
                "< 80 MB", megabytes < PEAK_GOAL_MB, TGoalKind::Fixed);
}
