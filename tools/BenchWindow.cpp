#include "BenchWindow.h"

#include "ProcessStat.h"
#include "SimDevice.h"
#include "UnitMain.h"
#include "UnitThread.h"

#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

constexpr const char* PEAK_PREFIX = "peak_kb ";
constexpr double PEAK_GOAL_MB = 80;
constexpr int CHANGE_PERIOD_MS = 100;
constexpr int START_WAIT_MS = 20000;

// The window always connects to the device port, so the simulator gets an address of its
// own in 127.0.0.0/8 from this process's id.
std::string OwnLoopbackAddress() {
    const unsigned id = static_cast<unsigned>(getpid());
    return "127.77." + std::to_string((id >> 8) % 256) + "." + std::to_string(id % 254 + 1);
}

bool AwaitText(QPushButton& button, const QString& text) {
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (button.text() == text)
            loop.exit(0);
    });
    QTimer::singleShot(3s, &loop, [&loop] { loop.exit(1); });
    poll.start(10);
    return loop.exec() == 0;
}

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
    auto* address = form.findChild<QComboBox*>("CBoxIP");
    auto* connect = form.findChild<QPushButton*>("BtnConn");
    if (address == nullptr || connect == nullptr) {
        std::fprintf(stderr, "window process: the window has no address box or connect button\n");
        return 1;
    }
    address->setEditText(QString::fromStdString(options.Address));
    connect->click();
    if (!AwaitText(*connect, "Disconnect")) {
        std::fprintf(stderr, "window process: the window did not connect\n");
        return 1;
    }
    PollFor(device, seconds);
    std::printf("%s%lld\n", PEAK_PREFIX, static_cast<long long>(StatusKb("VmHWM")));
    form.Link()->Disconnect();
    return 0;
}

void BenchWindow(double seconds, TBenchReport& report) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(),
                  {WINDOW_PEAK_OPTION, QString::number(seconds)});
    const int wait = START_WAIT_MS + static_cast<int>(seconds * 1000);
    if (!process.waitForFinished(wait) || process.exitCode() != 0)
        throw TBenchError("the window process failed");
    const QString output = QString::fromUtf8(process.readAllStandardOutput()).trimmed();
    if (!output.startsWith(PEAK_PREFIX))
        throw TBenchError("the window process reported no peak");
    const double megabytes = output.mid(std::strlen(PEAK_PREFIX)).toDouble() * 1024 / 1e6;
    report.Goal("window_peak_rss",
                Format("%.1f MB peak resident memory (VmHWM) of the window connected to the "
                       "simulator, %.0f s of polling with changes, offscreen, own process",
                       megabytes, seconds),
                "< 80 MB", megabytes < PEAK_GOAL_MB);
}
