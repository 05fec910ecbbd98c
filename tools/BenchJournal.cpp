#include "BenchJournal.h"

#include "Journal.h"
#include "ProcessStat.h"
#include "StationText.h"
#include "UnitMain.h"
#include "UnitThread.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QDateTime>
#include <QTemporaryDir>
#include <chrono>
#include <malloc.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int POOL_SIZE = 1000;
constexpr auto PAINT_WAIT = 5s;
constexpr double TIME_GOAL_S = 2;
constexpr double BYTES_GOAL = 150;

double Milliseconds(Clock::duration span) {
    return std::chrono::duration<double, std::milli>(span).count();
}

// What a station's journal fills with over the months: change lines of every check,
// output changes, settings switched, power supply alarms, connections and their ends.
std::vector<std::string> Messages() {
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
    return messages;
}

// Time-stamped lines a second apart, cycling through the messages.
std::vector<QString> LinePool() {
    const std::vector<std::string> messages = Messages();
    const QDateTime start = QDateTime::currentDateTime();
    std::vector<QString> pool;
    for (int i = 0; i < POOL_SIZE; ++i) {
        const std::string& message = messages[static_cast<std::size_t>(i) % messages.size()];
        pool.push_back(TimeStampedLine(start.addSecs(i), QString::fromStdString(message)));
    }
    return pool;
}

// Bytes the allocator has handed out and not taken back, all arenas and mappings.
double HeapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

struct TFill {
    double Seconds = 0;
    double TextBytes = 0;
    double Characters = 0;
    double HeapBytes = 0;
    double ResidentBytes = 0;
};

TFill Fill(TJournalModel& journal, int lines) {
    const std::vector<QString> pool = LinePool();
    std::vector<double> sizes;
    for (const QString& line : pool)
        sizes.push_back(static_cast<double>(line.toUtf8().size()));
    TFill fill;
    const double heapBefore = HeapInUse();
    const std::int64_t residentBefore = StatusKb("VmRSS");
    const auto start = Clock::now();
    for (int i = 0; i < lines; ++i)
        journal.Append(pool[static_cast<std::size_t>(i % POOL_SIZE)]);
    fill.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
    fill.HeapBytes = HeapInUse() - heapBefore;
    fill.ResidentBytes = 1024.0 * static_cast<double>(StatusKb("VmRSS") - residentBefore);
    for (int i = 0; i < lines; ++i) {
        fill.TextBytes += sizes[static_cast<std::size_t>(i % POOL_SIZE)];
        fill.Characters +=
            static_cast<double>(pool[static_cast<std::size_t>(i % POOL_SIZE)].size());
    }
    return fill;
}

void ReportFill(const TFill& fill, int lines, TBenchReport& report) {
    const double perLine = 1.0 / lines;
    report.Goal("journal_append",
                Format("%d lines of %.1f characters on average in %.3f s (%.2f us a line)", lines,
                       fill.Characters * perLine, fill.Seconds, 1e6 * fill.Seconds * perLine),
                "< 2 s", fill.Seconds < TIME_GOAL_S);
    const double heapExtra = (fill.HeapBytes - fill.TextBytes) * perLine;
    const double residentExtra = (fill.ResidentBytes - fill.TextBytes) * perLine;
    report.Goal("journal_memory",
                Format("%.1f bytes a line beyond the text by the allocator's count, %.1f by "
                       "resident memory (text %.1f MB, allocated %.1f MB, resident +%.1f MB)",
                       heapExtra, residentExtra, fill.TextBytes / 1e6, fill.HeapBytes / 1e6,
                       fill.ResidentBytes / 1e6),
                "< 150 bytes a line", std::max(heapExtra, residentExtra) < BYTES_GOAL);
}

// Runs the event loop until the watched viewport has been painted; the time when it was.
Clock::time_point AwaitPaint(bool& painted) {
    painted = false;
    const auto end = Clock::now() + PAINT_WAIT;
    while (!painted) {
        if (Clock::now() > end)
            throw TBenchError("the journal view was not painted");
        QApplication::processEvents(QEventLoop::AllEvents);
    }
    return Clock::now();
}

// Notes that a watched widget is about to paint.
class TPaintWatch : public QObject {
public:
    explicit TPaintWatch(bool& painted) : fPainted(painted) {}

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            fPainted = true;
        return false;
    }

private:
    bool& fPainted;
};

// The window's own journal view, given the filled journal: the time until it first shows,
// and the time from one more line to the view showing it on top.
void ReportShowNewest(TJournalModel& journal, TBenchReport& report) {
    QTemporaryDir folder;
    TFormMain form((folder.path() + "/control7710.dat").toStdString());
    auto* view = form.findChild<QAbstractItemView*>("LBoxJ");
    if (view == nullptr)
        throw TBenchError("the window has no journal view");
    view->setModel(&journal);
    bool painted = false;
    TPaintWatch watch(painted);
    view->viewport()->installEventFilter(&watch);
    const auto showStart = Clock::now();
    form.show();
    const double firstShow = Milliseconds(AwaitPaint(painted) - showStart);

    const QString newest = TimeStampedLine(QDateTime::currentDateTime(), "[A] VIDEO SYNC: ERROR");
    const auto start = Clock::now();
    journal.Append(newest);
    const double shown = Milliseconds(AwaitPaint(painted) - start);
    if (view->indexAt(QPoint(1, 1)).data().toString() != newest)
        throw TBenchError("the journal view does not show the newest line on top");
    report.Figure("journal_show_newest",
                  Format("%.2f ms from adding a line to the window's journal view painting it on "
                         "top of %d lines (first showing of the view: %.2f ms)",
                         shown, journal.Count(), firstShow));
}

} // namespace

void BenchJournal(int lines, TBenchReport& report) {
    TJournalModel journal;
    ReportFill(Fill(journal, lines), lines, report);
    ReportShowNewest(journal, report);
}
