#include "BenchProcess.h"

#include "BenchReport.h"
#include "UnitMain.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEventLoop>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <sstream>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

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

TMeasures ParseMeasures(const std::string& output) {
    TMeasures measures;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string name;
        double value = 0;
        if (fields >> name >> value)
            measures[name] = value;
    }
    return measures;
}

} // namespace

TMeasures RunSelf(const QStringList& arguments, int timeoutMs) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    process.setProcessEnvironment(environment);
    process.start(QCoreApplication::applicationFilePath(), arguments);
    const std::string what = arguments.join(' ').toStdString();
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        throw TBenchError("the process " + what + " did not finish in time");
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw TBenchError("the process " + what + " failed");
    return ParseMeasures(process.readAllStandardOutput().toStdString());
}

double Measure(const TMeasures& measures, const std::string& name) {
    const auto found = measures.find(name);
    if (found == measures.end())
        throw TBenchError("a window process did not report " + name);
    return found->second;
}

// Always with a decimal point, whatever the locale the application set.
void PrintMeasure(const char* name, double value) {
    std::printf("%s %s\n", name, QByteArray::number(value, 'f', 6).constData());
    std::fflush(stdout);
}

std::string OwnLoopbackAddress() {
    const unsigned id = static_cast<unsigned>(getpid());
    return "127.77." + std::to_string((id >> 8) % 256) + "." + std::to_string(id % 254 + 1);
}

bool ConnectWindow(TFormMain& form, const std::string& address) {
    auto* box = form.findChild<QComboBox*>("CBoxIP");
    auto* connect = form.findChild<QPushButton*>("BtnConn");
    if (box == nullptr || connect == nullptr) {
        std::fprintf(stderr, "window process: the window has no address box or connect button\n");
        return false;
    }
    box->setEditText(QString::fromStdString(address));
    connect->click();
    if (!AwaitText(*connect, "Disconnect")) {
        std::fprintf(stderr, "window process: the window did not connect\n");
        return false;
    }
    return true;
}
