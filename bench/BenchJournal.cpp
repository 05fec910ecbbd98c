#include "BenchJournal.h"

#include "BenchProcess.h"
#include "Journal.h"
#include "ProcessStat.h"
#include "SimDevice.h"
#include "StationText.h"
#include "UnitMain.h"
#include "UnitThread.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int POOL_SIZE = 1000;
constexpr int SHORT_JOURNAL = 1000;
constexpr int COST_SAMPLES = 1000;
constexpr int COST_BATCH = 50;
// Lines added between two turns of the event loop while the journal is filled.
constexpr int FILL_BATCH = 4096;
constexpr auto PAINT_WAIT = 5s;
constexpr auto SETTLE = 300ms;
// One change every 7 ms, each a line of its own: about 140 lines a second.
constexpr auto FLAP_PERIOD = 7ms;
constexpr int START_WAIT_MS = 120000;

constexpr double GROWTH_GOAL = 1.5;
constexpr double BYTES_GOAL = 70;
constexpr double RSS_GOAL_MB = 100;
constexpr double ON_SCREEN_GOAL_MS = 15;
constexpr double CPU_GOAL = 0.15;

double Megabytes(double kilobytes) {
    return kilobytes * 1024 / 1e6;
}

double ThreadCpuNow() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

double ResidentKb() {
    return static_cast<double>(StatusKb("VmRSS"));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return Percentile(values, 0.5);
}

// ---- Window process ----------------------------------------------------------------

// What a station's journal fills with over the months: change lines of every check,
// output changes, settings switched, power supply alarms, connections and their ends.
std::vector<QString> Messages() {
    std::vector<std::string> messages;
    for (int input : {INPUT_A, INPUT_B}) {
        for (TCheck check : {TCheck::Sync, TCheck::Motion, TCheck::VideoLevel, TCheck::AudioLeft,
                             TCheck::AudioRight})
            for (int state : {STATE_OK, STATE_ERROR})
                messages.push_back(CheckLine(input, check, state));
        messages.push_back(OutputLine(input, true));
    }
    for (TSettingSwitch which :
         {TSettingSwitch::Sync, TSettingSwitch::Motion, TSettingSwitch::VideoLevel,
          TSettingSwitch::Threshold, TSettingSwitch::AudioLevel, TSettingSwitch::Recovery})
        messages.push_back(SettingSwitchLine(which, true));
    messages.push_back(PsuStateLine(1, STATE_ERROR));
    messages.push_back(OverheatLine(72));
    messages.push_back("Control connecting address: 192.168.100.201");
    messages.push_back(StopReason(STOP_TIMEOUT, SOCK_ERR_TIMEOUT));
    std::vector<QString> texts;
    for (const std::string& message : messages)
        texts.push_back(QString::fromStdString(message));
    return texts;
}

// Time-stamped lines a second apart, cycling through the messages.
std::vector<QString> LinePool(const std::vector<QString>& messages) {
    const QDateTime start = QDateTime::currentDateTime();
    std::vector<QString> pool;
    for (int i = 0; i < POOL_SIZE; ++i)
        pool.push_back(TimeStampedLine(start.addSecs(i), messages[i % messages.size()]));
    return pool;
}

double MeanUtf8Bytes(const std::vector<QString>& lines) {
    double bytes = 0;
    for (const QString& line : lines)
        bytes += static_cast<double>(line.toUtf8().size());
    return bytes / static_cast<double>(lines.size());
}

// The window process's application: calls back once a watched widget has painted.
class TPaintClock : public QApplication {
public:
    using QApplication::QApplication;

    void Watch(const QObject* widget, std::function<void()> painted) {
        fWatched = widget;
        fPainted = std::move(painted);
    }

    bool notify(QObject* receiver, QEvent* event) override {
        const bool done = QApplication::notify(receiver, event);
        if (receiver == fWatched && event->type() == QEvent::Paint && fPainted)
            fPainted();
        return done;
    }

private:
    const QObject* fWatched = nullptr;
    std::function<void()> fPainted;
};

// The station's window with its journal view in sight, and whether the view has painted
// since it was last asked to.
class TJournalWindow {
public:
    TJournalWindow(TPaintClock& application, const QString& settingsFile)
        : fApplication(application), fForm(settingsFile.toStdString()) {
        fForm.ShowMessage = [](QWidget*, const TMessage& message) {
            std::fprintf(stderr, "window process: %s\n", message.Text.toUtf8().constData());
            return QMessageBox::Ok;
        };
        fView = fForm.findChild<QAbstractItemView*>("LBoxJ");
        if (fView == nullptr)
            throw TBenchError("the window has no journal view");
        WatchPaints(nullptr);
        fForm.show();
        AwaitPaint();
    }

    ~TJournalWindow() { fApplication.Watch(nullptr, nullptr); }

    TFormMain& Form() { return fForm; }
    const TJournalModel& Journal() const { return fForm.Journal(); }

    // Calls back after each paint of the journal view, besides noting it.
    void WatchPaints(std::function<void()> painted) {
        fApplication.Watch(fView->viewport(), [this, painted = std::move(painted)] {
            fPainted = true;
            if (painted)
                painted();
        });
    }

    void AwaitPaint() {
        const auto end = Clock::now() + PAINT_WAIT;
        while (!fPainted) {
            if (Clock::now() > end)
                throw TBenchError("the journal view was not painted");
            QApplication::processEvents(QEventLoop::AllEvents);
        }
        fPainted = false;
    }

    void CheckNewestOnTop(const QString& line) const {
        if (fView->indexAt(QPoint(1, 1)).data().toString() != line)
            throw TBenchError("the journal view does not show the newest line on top");
    }

private:
    TPaintClock& fApplication;
    TFormMain fForm;
    QAbstractItemView* fView = nullptr;
    bool fPainted = false;
};

void RunEventLoopFor(Clock::duration span) {
    QEventLoop loop;
    QTimer::singleShot(std::chrono::duration_cast<std::chrono::milliseconds>(span), &loop,
                       &QEventLoop::quit);
    loop.exec();
}

void Settle() {
    RunEventLoopFor(SETTLE);
}

// CPU time of the window thread, in microseconds, for each of count lines added as the
// station adds it, up to the journal view having painted it on top.
void AddCosts(TJournalWindow& window, const std::vector<QString>& messages, int count,
              std::vector<double>& samples) {
    window.WatchPaints(nullptr);
    for (int i = 0; i < count; ++i) {
        const double start = ThreadCpuNow();
        window.Form().JournalAdd(messages[i % messages.size()]);
        window.AwaitPaint();
        samples.push_back(1e6 * (ThreadCpuNow() - start));
    }
    window.CheckNewestOnTop(window.Journal().Line(0));
}

struct TAppendCosts {
    double Short = 0;
    double Long = 0;
};

// The median cost of a line in either window, taken a batch in one, then a batch in the
// other, so that whatever else the machine does meanwhile weighs on both alike.
TAppendCosts CompareAppendCosts(TJournalWindow& shortWindow, TJournalWindow& longWindow,
                                const std::vector<QString>& messages) {
    std::vector<double> shortSamples;
    std::vector<double> longSamples;
    for (int batch = 0; batch < COST_SAMPLES / COST_BATCH; ++batch) {
        AddCosts(shortWindow, messages, COST_BATCH, shortSamples);
        AddCosts(longWindow, messages, COST_BATCH, longSamples);
    }
    return {Median(shortSamples), Median(longSamples)};
}

// Fills the journal up to that many lines; the seconds it took.
double Fill(TJournalWindow& window, const std::vector<QString>& pool, int lines) {
    if (window.Journal().Count() >= lines)
        return 0;
    const auto start = Clock::now();
    for (int n = window.Journal().Count(); n < lines; ++n) {
        window.Form().JournalInsert(pool[n % pool.size()]);
        if (n % FILL_BATCH == 0)
            QApplication::processEvents(QEventLoop::AllEvents);
    }
    window.AwaitPaint();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct TCpuSplit {
    double Process = 0;
    double Window = 0;
    double Simulator = 0;
};

TCpuSplit ReadCpu(const std::vector<pid_t>& simulator) {
    TCpuSplit cpu{ProcessCpuSeconds(), ThreadCpuSeconds(getpid()), 0};
    for (const pid_t thread : simulator)
        cpu.Simulator += ThreadCpuSeconds(thread);
    return cpu;
}

// The ten check results of both inputs set to ERROR one after another, then back to OK:
// each change a line of its own, and the same result changes again only 70 ms later, so
// a slow poll cycle does not fold two of its changes into none.
std::vector<std::string> FlapChanges() {
    std::vector<std::string> changes;
    for (const char* state : {"error", "ok"})
        for (const char* check : {"sync", "motion", "level", "audio-left", "audio-right"})
            for (const char* input : {"A", "B"})
                changes.push_back(std::string("check ") + input + ' ' + check + ' ' + state);
    return changes;
}

// Plays the changes in turn, one every FLAP_PERIOD, from a thread of its own; the CPU time
// it took.
class TFlapper {
public:
    explicit TFlapper(TSimDevice& device)
        : fThread([this, &device] {
              const std::vector<std::string> changes = FlapChanges();
              auto next = Clock::now();
              for (std::size_t step = 0; !fStop; ++step) {
                  device.Execute(changes[step % changes.size()]);
                  next += FLAP_PERIOD;
                  std::this_thread::sleep_until(next);
              }
              fCpuSeconds = ThreadCpuNow();
          }) {}

    // Stops and joins the thread.
    double Stop() {
        fStop = true;
        fThread.join();
        return fCpuSeconds;
    }

private:
    std::atomic<bool> fStop = false;
    double fCpuSeconds = 0;
    std::thread fThread;
};

// The link events that the flapping fires, each noting when it started, and every line
// added while one runs, timed from that start to the journal view having painted.
class TLineTimer {
public:
    explicit TLineTimer(TJournalWindow& window) : fWindow(window) {
        TSwObject& link = *window.Form().Link();
        // The timer goes around the window's own listeners, which it puts back when done.
        for (const auto event : EVENTS) {
            fInner.push_back(link.*event);
            link.*event = {};
            (link.*event).Listen([this, inner = fInner.back()](TSwObject* sender, int input) {
                fEventStart = Clock::now();
                fInEvent = true;
                inner(sender, input);
                fInEvent = false;
            });
        }
        QObject::connect(&window.Journal(), &QAbstractItemModel::rowsInserted, &fContext, [this] {
            if (fInEvent)
                fPending.push_back(fEventStart);
        });
        window.WatchPaints([this] { Painted(); });
    }

    ~TLineTimer() {
        fWindow.WatchPaints(nullptr);
        TSwObject& link = *fWindow.Form().Link();
        for (std::size_t i = 0; i < std::size(EVENTS); ++i)
            link.*EVENTS[i] = fInner[i];
    }

    std::vector<double> Samples() const { return fSamples; }

private:
    void Painted() {
        const auto now = Clock::now();
        for (const auto start : fPending)
            fSamples.push_back(Milliseconds(now - start));
        fPending.clear();
    }

    static constexpr TSwObject::TInputSlot TSwObject::*EVENTS[] = {
        &TSwObject::OnVideoSync, &TSwObject::OnVideoMotion, &TSwObject::OnVideoLevel,
        &TSwObject::OnAudioLeft, &TSwObject::OnAudioRight};

    TJournalWindow& fWindow;
    std::vector<TSwObject::TInputSlot> fInner;
    QObject fContext;
    Clock::time_point fEventStart;
    bool fInEvent = false;
    std::vector<Clock::time_point> fPending;
    std::vector<double> fSamples;
};

// Connects the window to the simulator and lets the device flap for that many seconds.
void MeasureFlapping(TJournalWindow& window, TSimDevice& device, const std::string& address,
                     const std::vector<pid_t>& simulator, double seconds) {
    if (!ConnectWindow(window.Form(), address))
        throw TBenchError("the window did not connect to the simulator");
    Settle();
    TLineTimer timer(window);
    const int linesBefore = window.Journal().Count();
    const TCpuSplit before = ReadCpu(simulator);
    const auto start = Clock::now();
    TFlapper flapper(device);
    RunEventLoopFor(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
    const double flapperCpu = flapper.Stop();
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    const TCpuSplit after = ReadCpu(simulator);
    window.Form().Link()->Disconnect();

    std::vector<double> samples = timer.Samples();
    std::sort(samples.begin(), samples.end());
    const double station =
        after.Process - before.Process - (after.Simulator - before.Simulator) - flapperCpu;
    PrintMeasure("flap_seconds", elapsed);
    PrintMeasure("flap_lines", window.Journal().Count() - linesBefore);
    PrintMeasure("station_cpu", station / elapsed);
    PrintMeasure("window_thread_cpu", (after.Window - before.Window) / elapsed);
    PrintMeasure("screen_count", static_cast<double>(samples.size()));
    PrintMeasure("screen_median_ms", Percentile(samples, 0.5));
    PrintMeasure("screen_p99_ms", Percentile(samples, 0.99));
    PrintMeasure("screen_max_ms", samples.empty() ? 0 : samples.back());
}

void MeasureJournalWindow(TPaintClock& application, const TJournalPlan& plan) {
    TSimOptions options;
    options.Address = OwnLoopbackAddress();
    options.Port = DEVICE_PORT;
    // Input A's errors must not change the device over to input B.
    options.Scene.State.AutoMode = false;
    TSimDevice device(options);
    const std::vector<pid_t> before = ThreadIds();
    QTemporaryDir folder;
    if (!device.Start() || !folder.isValid())
        throw TBenchError("cannot start the simulator on " + options.Address);
    const std::vector<pid_t> simulator = NewThreadIds(before, ThreadIds());

    const std::vector<QString> messages = Messages();
    const std::vector<QString> pool = LinePool(messages);
    TJournalWindow window(application, folder.filePath("long.dat"));
    Settle();
    PrintMeasure("line_bytes", MeanUtf8Bytes(pool));
    PrintMeasure("fresh_rss_kb", ResidentKb());
    PrintMeasure("fill_seconds", Fill(window, pool, plan.Lines));
    Settle();
    PrintMeasure("long_lines", window.Journal().Count());
    PrintMeasure("long_rss_kb", ResidentKb());
    {
        TJournalWindow shortWindow(application, folder.filePath("short.dat"));
        Fill(shortWindow, pool, SHORT_JOURNAL);
        PrintMeasure("short_lines", shortWindow.Journal().Count());
        const TAppendCosts costs = CompareAppendCosts(shortWindow, window, messages);
        PrintMeasure("short_us", costs.Short);
        PrintMeasure("long_us", costs.Long);
    }

    MeasureFlapping(window, device, options.Address, simulator, plan.FlapSeconds);
}

// ---- Report ------------------------------------------------------------------------

void ReportAppend(const TMeasures& measures, TBenchReport& report) {
    const double shortCost = Measure(measures, "short_us");
    const double longCost = Measure(measures, "long_us");
    const double growth = longCost / shortCost;
    report.Goal("journal_window_append",
                Format("median %.1f us of the window thread's CPU a line at %.0f lines, %.1f us "
                       "at %.0f lines (x%.2f); each line added as the station adds it and "
                       "painted on top; %d lines each, in turns (filled to %.0f lines in %.1f s)",
                       shortCost, Measure(measures, "short_lines"), longCost,
                       Measure(measures, "long_lines"), growth, COST_SAMPLES,
                       Measure(measures, "long_lines"), Measure(measures, "fill_seconds")),
                Format("at the long journal within %.1fx of the short", GROWTH_GOAL),
                growth <= GROWTH_GOAL, TGoalKind::Fixed);
}

void ReportMemory(const TMeasures& measures, TBenchReport& report) {
    const double fresh = Measure(measures, "fresh_rss_kb");
    const double full = Measure(measures, "long_rss_kb");
    const double lines = Measure(measures, "long_lines");
    const double perLine = (full - fresh) * 1024 / lines;
    report.Goal(
        "journal_window_bytes_per_line",
        Format("%.1f bytes a line by resident memory beyond the fresh window (lines of "
               "%.1f bytes of UTF-8 on average; %.1f MB fresh, %.1f MB with %.0f lines)",
               perLine, Measure(measures, "line_bytes"), Megabytes(fresh), Megabytes(full), lines),
        Format("<= %.0f bytes a line", BYTES_GOAL), perLine <= BYTES_GOAL, TGoalKind::Fixed);
    report.Goal("window_rss_1m_lines",
                Format("%.1f MB resident memory of the window showing a journal of %.0f lines",
                       Megabytes(full), lines),
                Format("<= %.0f MB", RSS_GOAL_MB), Megabytes(full) <= RSS_GOAL_MB,
                TGoalKind::Fixed);
}

void ReportFlapping(const TMeasures& measures, TBenchReport& report) {
    const double seconds = Measure(measures, "flap_seconds");
    const double rate = Measure(measures, "flap_lines") / seconds;
    const double lines = Measure(measures, "long_lines");
    const double p99 = Measure(measures, "screen_p99_ms");
    if (Measure(measures, "screen_count") == 0)
        throw TBenchError("no journal line of the flapping device reached the screen");
    report.Goal("journal_line_on_screen",
                Format("median %.2f ms, p99 %.2f ms, max %.2f ms over %.0f lines at %.0f lines/s "
                       "on top of %.0f, from the link's event to the journal view having "
                       "painted the line",
                       Measure(measures, "screen_median_ms"), p99,
                       Measure(measures, "screen_max_ms"), Measure(measures, "screen_count"), rate,
                       lines),
                Format("p99 <= %.0f ms", ON_SCREEN_GOAL_MS), p99 <= ON_SCREEN_GOAL_MS);
    const double cpu = Measure(measures, "station_cpu");
    report.Goal("journal_window_cpu",
                Format("%.1f%% of one core for the window process, simulator and flapping "
                       "thread left out (window thread %.1f%%), %.0f s at %.0f lines/s on top "
                       "of %.0f",
                       100 * cpu, 100 * Measure(measures, "window_thread_cpu"), seconds, rate,
                       lines),
                Format("<= %.0f%% of one core", 100 * CPU_GOAL), cpu <= CPU_GOAL);
}

} // namespace

void BenchJournal(const TJournalPlan& plan, TBenchReport& report) {
    const TMeasures measures = RunSelf(
        {JOURNAL_WINDOW_OPTION, QString::number(plan.Lines), QString::number(plan.FlapSeconds)},
        START_WAIT_MS + static_cast<int>(plan.FlapSeconds * 1000));
    ReportAppend(measures, report);
    ReportMemory(measures, report);
    ReportFlapping(measures, report);
}

int RunJournalWindow(int& argc, char** argv, const TJournalPlan& plan) {
    TPaintClock application(argc, argv);
    try {
        MeasureJournalWindow(application, plan);
    } catch (const TBenchError& error) {
        std::fprintf(stderr, "window process: %s\n", error.what());
        return 1;
    }
    return 0;
}
