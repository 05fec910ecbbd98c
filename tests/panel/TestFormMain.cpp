// The main window's connection control, settings file, link diagnostics and journal
// buttons, driven through its widgets against the simulated device.

#include "FileSizeLimit.h"
#include "FormFixture.h"
#include "ShortLinkTiming.h"
#include "Widgets.h"

#include <QApplication>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QScreen>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTabBar>
#include <QTabWidget>
#include <QWindow>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <thread>

using namespace std::chrono_literals;

namespace {

bool IsButtonFace(const QColor& colour) {
    return colour == ButtonFace();
}

QColor LampFill(const TFormMain& form, const char* name) {
    return form.findChild<TLamp*>(name)->Fill();
}

} // namespace

TEST_F(FormFixture, OpensNotConnectedWithTheStationTitle) {
    OpenForm();
    EXPECT_EQ(fForm->windowTitle(), "Control-7710/12 (1.1.2)");
    EXPECT_EQ(fForm->size(), QSize(489, 777));
    EXPECT_FALSE(fForm->windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
    EXPECT_EQ(Button("BtnConn")->text(), "Connect");
    EXPECT_EQ(fForm->focusWidget(), Button("BtnConn"));
    EXPECT_EQ(Find<TTextPanel>("PanelDev")->Text(), "NOT CONNECTED");
    for (const char* name : {"BtnA", "BtnAuto", "BtnB", "BtnPSUmode", "BtnSETmode", "BtnPSUset"})
        EXPECT_FALSE(Button(name)->isEnabled()) << name;
    EXPECT_EQ(Messages(), std::vector<QString>{"Programm started"});
    EXPECT_EQ(fForm->pos(), QPoint(100, 100));
    EXPECT_TRUE(Button("BtnSaveJ")->isEnabled()) << "the first line enables the journal";
}

TEST_F(FormFixture, ConnectNormalisesSavesThenShowsTheDevice) {
    StartDevice(fAddress);
    OpenForm();
    const QString canonical = QString::fromStdString(fAddress);
    AddressBox()->addItem("10.0.0.1");
    AddressBox()->addItem(canonical);
    QStringList parts = canonical.split('.');
    TypeAddress("  " + parts[0] + ".00" + parts[1] + "." + parts[2] + "." + parts[3] + " ");

    ClickConnect();
    EXPECT_EQ(TIniFile(fSettingsFile).ReadString("SECMRU", "ADDR0", ""), fAddress)
        << "saved before the connection starts";
    EXPECT_EQ(TIniFile(fSettingsFile).ReadString("SECMRU", "ADDR1", ""), "10.0.0.1");
    EXPECT_EQ(AddressBox()->count(), 2) << "the older entry of the same address went";
    EXPECT_EQ(AddressBox()->currentText(), canonical);
    EXPECT_EQ(Button("BtnConn")->text(), "Connecting...");
    EXPECT_FALSE(AddressBox()->isEnabled());
    EXPECT_EQ(Messages().front(), "Control connecting address: " + canonical);

    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(Find<TTextPanel>("PanelDev")->Text(), "7710/12 SIM");
    EXPECT_EQ(Find<TTextPanel>("PanelDev")->TextColour(), QColor(Qt::black));
    for (const char* name : {"BtnA", "BtnAuto", "BtnB", "BtnPSUmode", "BtnSETmode"})
        EXPECT_TRUE(Button(name)->isEnabled()) << name;

    ClickConnect();
    ASSERT_TRUE(WaitStopped());
    EXPECT_EQ(Messages().front(), "Control stoped manualy");
    EXPECT_TRUE(fMessages.empty()) << "a requested stop shows no box";
    EXPECT_EQ(Find<TTextPanel>("PanelDev")->Text(), "NOT CONNECTED");
    EXPECT_TRUE(AddressBox()->isEnabled());
    EXPECT_TRUE(IsButtonFace(LampFill(*fForm, "ShapeAL")));
}

TEST_F(FormFixture, DeviceWithoutVideoAnalysisKeepsItsVideoLampsDark) {
    StartDevice(fAddress, {"name AUDIO SWITCH"});
    OpenForm();
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitConnected());
    PumpFor(100ms);
    for (const char* name : {"ShapeSyncA", "ShapeMotionB", "ShapeLevelA"})
        EXPECT_TRUE(IsButtonFace(LampFill(*fForm, name))) << name;
    EXPECT_FALSE(IsButtonFace(LampFill(*fForm, "ShapeAL")));
}

TEST_F(FormFixture, InvalidAddressIsRefusedAndChangesNothing) {
    OpenForm();
    AddressBox()->addItem("10.0.0.1");
    for (const char* text : {"192.168.1", "10.0.0.256", "", "1.2.3.4.5"}) {
        SCOPED_TRACE(text);
        fMessages.clear();
        TypeAddress(text);
        ClickConnect();
        ASSERT_EQ(fMessages.size(), 1U);
        EXPECT_EQ(fMessages[0].Text, "Invalid IP address");
        EXPECT_EQ(fMessages[0].Caption, "Error");
        EXPECT_EQ(fMessages[0].Icon, QMessageBox::Warning);
        EXPECT_EQ(AddressBox()->count(), 1);
        EXPECT_EQ(AddressBox()->lineEdit()->selectedText(), QString(text));
        EXPECT_FALSE(fForm->Link()->IsRunning());
    }
    EXPECT_FALSE(std::filesystem::exists(fSettingsFile));
}

TEST_F(FormFixture, RefusedAndWrongRepliesAreJournalledAndShown) {
    StartDevice(fAddress, {"fault refuse on"});
    OpenForm();
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitStopped());
    ASSERT_EQ(fMessages.size(), 1U);
    EXPECT_EQ(fMessages[0].Text, "Device not found or used by other programm");
    EXPECT_EQ(fMessages[0].Icon, QMessageBox::Warning);
    EXPECT_EQ(Messages()[0], "Control stoped");
    EXPECT_EQ(Messages()[1], "Device not found or used by other programm");

    ASSERT_EQ(fDevice->Execute("fault none"), "");
    ASSERT_EQ(fDevice->Execute("fault wrong-header on"), "");
    ClickConnect();
    ASSERT_TRUE(WaitStopped());
    ASSERT_EQ(fMessages.size(), 2U);
    EXPECT_EQ(fMessages[1].Text, "Socket error: READ (11004)");
    EXPECT_EQ(Messages()[1], "Socket error: READ (11004)");
}

// Waits out three 3-second reply time-outs.
TEST_F(FormFixture, SilentDeviceStopsWithTheTimeOutCountInTheSummary) {
    StartDevice(fAddress);
    OpenForm();
    fForm->Link()->SetTiming(SHORT_LINK_TIMING);
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitConnected());
    ASSERT_EQ(fDevice->Execute("fault silent on"), "");
    ASSERT_TRUE(WaitStopped(5s));

    const std::vector<QString> messages = Messages();
    EXPECT_EQ(messages[0], "Control stoped ( LE=3 )");
    EXPECT_EQ(messages[1], "Connection is broken or device powered off (258)");
    EXPECT_TRUE(JournalHas("!!! connection read malfunction"));
    EXPECT_EQ(Find<QLabel>("LE")->text(), "LE: 3");
    EXPECT_TRUE(Find<QLabel>("LE")->font().bold());
    ASSERT_EQ(fMessages.size(), 1U);
    EXPECT_EQ(fMessages[0].Text, messages[1]);
}

TEST_F(FormFixture, ControlDoubleClickTogglesTheLinkLabels) {
    OpenForm();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(fForm.get()));
    const auto visible = [this] {
        return Find<QLabel>("LC")->isVisible() + Find<QLabel>("LE")->isVisible() +
               Find<QLabel>("LR")->isVisible();
    };
    // Through the window system, which gives the clicks to the widget under the mouse.
    const auto doubleClick = [this](QPoint at, Qt::KeyboardModifiers modifiers) {
        QTest::mouseDClick(fForm->windowHandle(), Qt::LeftButton, modifiers, at);
    };
    const QPoint background(300, 66);
    doubleClick(background, Qt::NoModifier);
    EXPECT_EQ(visible(), 0);
    doubleClick(background, Qt::ControlModifier);
    EXPECT_EQ(visible(), 3);
    doubleClick(Find<QLabel>("LE")->geometry().center(), Qt::ControlModifier);
    EXPECT_EQ(visible(), 0);
    doubleClick(QPoint(300, 100), Qt::ControlModifier);
    EXPECT_EQ(visible(), 0) << "a double-click inside the power supply group does not count";
}

TEST_F(FormFixture, ClosingWhileConnectedAsksButSavesFirst) {
    StartDevice(fAddress);
    OpenForm();
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitConnected());
    fForm->move(150, 120);

    fAnswers = {QMessageBox::No};
    EXPECT_FALSE(fForm->close());
    ASSERT_EQ(fMessages.size(), 1U);
    EXPECT_EQ(fMessages[0].Text, "Control is running.\nClose anyway?");
    EXPECT_EQ(fMessages[0].Caption, "Close");
    EXPECT_EQ(fMessages[0].Default, QMessageBox::No);
    EXPECT_TRUE(fForm->Link()->IsConnected());
    EXPECT_EQ(TIniFile(fSettingsFile).ReadInteger("WINDOW", "LEFT", 0), fForm->pos().x());

    fAnswers = {QMessageBox::Yes};
    EXPECT_TRUE(fForm->close());
    EXPECT_EQ(fForm->Link(), nullptr);
    EXPECT_EQ(Messages().front(), "Programm closed");
}

TEST_F(FormFixture, SettingsFileLoadsCleanAddressesAndKeepsForeignEntries) {
    WriteSettings("[APP]\nACCESS=1\n[Window]\nLeft=abc\nTOP=80\n[secmru]\nADDR0=010.000.000.001\n"
                  "ADDR1=10.0.0.1\nADDR2=\nADDR3=300.1.1.1\nADDR4=10.0.0.4\nADDR12=10.0.0.12\n"
                  "[OTHER]\nkeep=me\n");
    OpenForm();
    EXPECT_EQ(fForm->pos(), QPoint(100, 80));
    ASSERT_EQ(AddressBox()->count(), 2);
    EXPECT_EQ(AddressBox()->itemText(0), "10.0.0.1");
    EXPECT_EQ(AddressBox()->itemText(1), "10.0.0.4");
    EXPECT_EQ(AddressBox()->currentText(), "10.0.0.1");

    fForm->close();
    const TIniFile saved(fSettingsFile);
    EXPECT_EQ(saved.ReadString("SECMRU", "ADDR1", "?"), "10.0.0.4");
    EXPECT_EQ(saved.ReadString("SECMRU", "ADDR9", "?"), "");
    EXPECT_EQ(saved.ReadString("OTHER", "KEEP", ""), "me");
    EXPECT_EQ(saved.ReadInteger("APP", "ACCESS", 0), 1);
}

TEST_F(FormFixture, TwelveAddressesSavedTenComeBack) {
    OpenForm();
    for (int i = 1; i <= 12; ++i) {
        // Nothing listens there: each connect is refused at once.
        TypeAddress(QString("127.6.0.%1").arg(i));
        ClickConnect();
        ASSERT_TRUE(WaitStopped());
    }
    fForm->close();
    EXPECT_EQ(TIniFile(fSettingsFile).ReadString("SECMRU", "ADDR11", ""), "127.6.0.1");
    fForm.reset();
    OpenForm();
    ASSERT_EQ(AddressBox()->count(), 10);
    EXPECT_EQ(AddressBox()->itemText(0), "127.6.0.12");
    EXPECT_EQ(AddressBox()->itemText(9), "127.6.0.3");
}

TEST_F(FormFixture, JournalSavesOldestFirstAndErasesOnlyOnYes) {
    OpenForm();
    fForm->JournalAdd("B");
    fForm->JournalAdd("C");
    EXPECT_EQ(Messages(), (std::vector<QString>{"C", "B", "Programm started"}));
    const QString stamp = fForm->Journal().Line(0).left(17);
    EXPECT_TRUE(QRegularExpression(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d$)").match(stamp).hasMatch())
        << stamp.toStdString();

    fSaveFileName = QString::fromStdString((fFolder / "journal.log").string());
    QTest::mouseClick(Button("BtnSaveJ"), Qt::LeftButton);
    QFile file(fSaveFileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].endsWith("Programm started\r"));
    EXPECT_TRUE(lines[2].endsWith(" C\r"));
    EXPECT_EQ(fForm->Journal().Count(), 3) << "saving keeps the journal";

    fSaveFileName = QString::fromStdString((fFolder / "missing/journal.log").string());
    QTest::mouseClick(Button("BtnSaveJ"), Qt::LeftButton);
    ASSERT_EQ(fMessages.size(), 1U);
    EXPECT_EQ(fMessages[0].Icon, QMessageBox::Critical);
    EXPECT_TRUE(fMessages[0].Text.contains("journal.log"));

    fAnswers = {QMessageBox::No};
    QTest::mouseClick(Button("BtnEraseJ"), Qt::LeftButton);
    EXPECT_EQ(fMessages.back().Text, "Erase all journal data?");
    EXPECT_EQ(fMessages.back().Default, QMessageBox::No);
    EXPECT_EQ(fForm->Journal().Count(), 3);
    fAnswers = {QMessageBox::Yes};
    QTest::mouseClick(Button("BtnEraseJ"), Qt::LeftButton);
    EXPECT_EQ(fForm->Journal().Count(), 0);
    EXPECT_FALSE(Button("BtnSaveJ")->isEnabled());
    EXPECT_FALSE(Button("BtnEraseJ")->isEnabled());
    fForm->JournalAdd("D");
    EXPECT_TRUE(Button("BtnEraseJ")->isEnabled());
}

// ---- Saving the journal on a full disk ------------------------------------------

namespace {

struct FullDiskCase {
    const char* Name;
    int Lines;        // about 60 bytes each: 40 stay in Qt's 16 KB write buffer, 1000 do not
    bool OverOldFile; // an older journal file stands where the new one goes
};

void PrintTo(const FullDiskCase& c, std::ostream* out) {
    *out << c.Name;
}

class FullDiskSave : public FormFixture, public testing::WithParamInterface<FullDiskCase> {};

QByteArray FileBytes(const QString& fileName) {
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

} // namespace

TEST_P(FullDiskSave, KeepsTheOldFileShowsTheReasonAndCanBeRepeated) {
    const FullDiskCase& c = GetParam();
    OpenForm();
    for (int i = 0; i < c.Lines; ++i)
        fForm->JournalAdd(QString("[STATUS] INPUT A VIDEO SYNC: ERROR, journal line %1").arg(i));
    const int lines = fForm->Journal().Count();
    const std::filesystem::path folder = fFolder / "journals";
    std::filesystem::create_directories(folder);
    fSaveFileName = QString::fromStdString((folder / "journal.log").string());
    const QByteArray old = "an older journal\r\n";
    if (c.OverOldFile) {
        QFile file(fSaveFileName);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        ASSERT_EQ(file.write(old), old.size());
    }

    {
        const FileSizeLimit full(1024);
        QTest::mouseClick(Button("BtnSaveJ"), Qt::LeftButton);
    }
    ASSERT_EQ(fMessages.size(), 1U) << "the failure is shown";
    EXPECT_EQ(fMessages[0].Icon, QMessageBox::Critical);
    const QString text = fMessages[0].Text;
    EXPECT_TRUE(text.contains(fSaveFileName)) << text.toStdString();
    EXPECT_TRUE(text.contains(QString::fromLocal8Bit(std::strerror(EFBIG))))
        << "names the system's reason: " << text.toStdString();
    if (c.OverOldFile)
        EXPECT_EQ(FileBytes(fSaveFileName), old) << "the old file stays whole";
    else
        EXPECT_FALSE(QFile::exists(fSaveFileName)) << "no empty or cut file is left behind";
    std::vector<std::string> left;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        left.push_back(entry.path().filename().string());
    EXPECT_EQ(left,
              c.OverOldFile ? std::vector<std::string>{"journal.log"} : std::vector<std::string>{})
        << "no temporary file is left behind";
    EXPECT_EQ(fForm->Journal().Count(), lines) << "nothing of the journal is lost";
    EXPECT_TRUE(Button("BtnSaveJ")->isEnabled());

    QTest::mouseClick(Button("BtnSaveJ"), Qt::LeftButton);
    EXPECT_EQ(fMessages.size(), 1U) << "with room again the save goes through";
    const QByteArray saved = FileBytes(fSaveFileName);
    EXPECT_EQ(saved.count("\r\n"), lines);
    EXPECT_TRUE(saved.endsWith(fForm->Journal().Line(0).toUtf8() + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(Journal, FullDiskSave,
                         testing::Values(FullDiskCase{"SmallOverOldFile", 40, true},
                                         FullDiskCase{"SmallToNewFile", 40, false},
                                         FullDiskCase{"LargeOverOldFile", 1000, true},
                                         FullDiskCase{"LargeToNewFile", 1000, false}),
                         [](const testing::TestParamInfo<FullDiskCase>& info) {
                             return std::string(info.param.Name);
                         });

// ---- Disconnect against a device that stopped answering -------------------------

namespace {

// Notes what a widget showed each time it was painted.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(std::function<void()> onPaint) : fOnPaint(std::move(onPaint)) {}

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            fOnPaint();
        return false;
    }

private:
    std::function<void()> fOnPaint;
};

} // namespace

// The worker waits out a 3-second reply time-out before it ends, so Disconnect blocks.
TEST_F(FormFixture, DisconnectShowsItselfBeforeTheWaitAndDropsAClickMadeDuringIt) {
    StartDevice(fAddress);
    OpenForm();
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitConnected());
    QPushButton* conn = Button("BtnConn");
    QWindow* window = fForm->windowHandle();
    ASSERT_NE(window, nullptr);

    std::atomic<bool> shownWhileWaiting{false};
    PaintWatch watch([&] {
        if (conn->text() == "Disconnecting..." && !conn->isEnabled() && fForm->Link()->IsRunning())
            shownWhileWaiting = true;
    });
    conn->installEventFilter(&watch);

    ASSERT_EQ(fDevice->Execute("fault silent on"), "");
    PumpFor(300ms); // the worker now waits for a reply that does not come

    // A click made during the wait goes the window system's way, as a real one would: it
    // is queued and handled once the window thread runs again, after the stop event.
    // The call returns only then, so the press comes from a thread of its own, and its
    // release follows as soon as the press was handled. (Qt takes one such waiting call
    // at a time: two at once deadlock inside Qt.)
    using Clock = std::chrono::steady_clock;
    const QPointF at = conn->mapTo(fForm.get(), conn->rect().center());
    const QPointF global = window->mapToGlobal(at.toPoint());
    const int stamp = QTest::lastMouseTimestamp + 10000;
    QTest::lastMouseTimestamp = stamp + 10000;
    Clock::time_point queued;
    std::atomic<bool> handDone{false};
    std::thread operatorHand([&] {
        for (int i = 0; i < 100 && !shownWhileWaiting; ++i)
            std::this_thread::sleep_for(10ms);
        std::this_thread::sleep_for(200ms);
        queued = Clock::now();
        qt_handleMouseEvent(window, at, global, Qt::LeftButton, Qt::LeftButton,
                            QEvent::MouseButtonPress, Qt::NoModifier, stamp);
        qt_handleMouseEvent(window, at, global, Qt::NoButton, Qt::LeftButton,
                            QEvent::MouseButtonRelease, Qt::NoModifier, stamp + 80);
        handDone = true;
    });

    const Clock::time_point start = Clock::now();
    ClickConnect(); // blocks until the worker has ended
    const Clock::time_point returned = Clock::now();
    EXPECT_TRUE(PumpUntil([&] { return handDone.load(); }, 3s));
    operatorHand.join();
    PumpFor(300ms);
    conn->removeEventFilter(&watch);

    ASSERT_LT(queued, returned) << "the click was made during the wait";
    EXPECT_GT(returned - start, 1s) << "Disconnect waited for the worker";
    EXPECT_TRUE(shownWhileWaiting) << "\"Disconnecting...\", disabled, shows before the wait";
    EXPECT_EQ(Messages().front(), "Control stoped manualy") << "no new connection";
    EXPECT_FALSE(fForm->Link()->IsRunning());
    EXPECT_EQ(conn->text(), "Connect");
    EXPECT_TRUE(conn->isEnabled());
}

TEST_F(FormFixture, TabsAreNineteenPixelsHighAndTheSelectedOneJoinsItsPage) {
    OpenForm();
    auto* tabs = Find<QTabWidget>("PControl");
    const QRect bar = tabs->tabBar()->geometry();
    EXPECT_EQ(bar.height(), 19);
    EXPECT_EQ(tabs->tabBar()->tabRect(tabs->currentIndex()).height(), 19);
    EXPECT_EQ(tabs->tabBar()->sizeHint().height(), 19) << "the tab widget keeps room for 19";
    const QPoint page = Find<QWidget>("TabMon")->mapTo(tabs, QPoint(0, 0));
    EXPECT_LE(page.y(), bar.bottom() + 1) << "no gap between the tabs and their page";
}

TEST_F(FormFixture, SavedPositionIsUsedOnlyWhereTheWindowsTopStripShows) {
    constexpr int MAX = std::numeric_limits<int>::max();
    constexpr int MIN = std::numeric_limits<int>::min();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const int right = screen.x() + screen.width();
    const int bottom = screen.y() + screen.height();
    struct Case {
        int Left, Top;
        bool Kept;
    };
    const Case cases[] = {
        {MAX, 80, false},
        {120, MAX, false},
        {MIN, MIN, false},
        {MAX, MAX, false},
        {-2000000000, 50, false},
        {120, -2000000000, false},
        {right - 1, 80, false},                     // one column of pixels shows
        {120, bottom - 1, false},                   // one row
        {right - 99, 80, false},                    // 99 columns
        {120, bottom - 29, false},                  // 29 rows
        {120, screen.y() - 1, false},               // the title bar's top row is off
        {right - 100, bottom - 30, true},           // just enough
        {screen.x() - 489 + 100, screen.y(), true}, // the right 100 columns
        {120, 80, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.Left) + "," + std::to_string(c.Top));
        WriteSettings("[WINDOW]\nLEFT=" + std::to_string(c.Left) +
                      "\nTOP=" + std::to_string(c.Top) + "\n");
        OpenForm();
        const QPoint expected = c.Kept ? QPoint(c.Left, c.Top) : QPoint(100, 100);
        EXPECT_EQ(fForm->pos(), expected);
        fForm->close();
        const TIniFile saved(fSettingsFile);
        EXPECT_EQ(saved.ReadInteger("WINDOW", "LEFT", 0), expected.x()) << "saved back as shown";
        EXPECT_EQ(saved.ReadInteger("WINDOW", "TOP", 0), expected.y());
        fForm.reset();
    }
}

TEST_F(FormFixture, ReturnAndEnterInTheAddressBoxConnectAsTheButtonDoes) {
    StartDevice(fAddress);
    OpenForm();
    ASSERT_TRUE(ActivateForm());
    const QString address = QString::fromStdString(fAddress);
    PressKey(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), AddressBox()) << "next after Connect";
    TypeKeys("10.0.0.256");
    PressKey(Qt::Key_Return);
    ASSERT_EQ(fMessages.size(), 1U) << "one key, one answer";
    EXPECT_EQ(fMessages[0].Text, "Invalid IP address");

    // The key's delivery also runs the event loop, which may already bring the first pass:
    // the connect is counted, wherever its line stands.
    const QString connecting = "Control connecting address: " + address;
    const auto connects = [&] {
        const std::vector<QString> messages = Messages();
        return std::count(messages.begin(), messages.end(), connecting);
    };
    TypeKeys(" " + address);
    PressKey(Qt::Key_Enter, Qt::KeypadModifier);
    EXPECT_EQ(connects(), 1);
    ASSERT_TRUE(WaitConnected());
    const int lines = fForm->Journal().Count();
    PressKey(Qt::Key_Return);
    EXPECT_EQ(fForm->Journal().Count(), lines) << "Return while connected does nothing";
    EXPECT_EQ(Button("BtnConn")->text(), "Disconnect");

    // With the list open, the key takes the highlighted address and connects to it.
    for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter}) {
        ClickConnect();
        ASSERT_TRUE(WaitStopped());
        QTest::mouseClick(fForm->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          AddressBox()->geometry().center());
        TypeKeys("x");
        PressKey(Qt::Key_Down, Qt::AltModifier);
        ASSERT_NE(QApplication::activePopupWidget(), nullptr) << key;
        const auto before = connects();
        PressKey(key, key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(QApplication::activePopupWidget(), nullptr) << key;
        EXPECT_EQ(connects(), before + 1) << key;
        ASSERT_TRUE(WaitConnected()) << key;
    }
    EXPECT_EQ(fMessages.size(), 1U);
}

TEST_F(FormFixture, AddressWithAPortConnectsThereAndIsListedOnceInNormalForm) {
    StartDevice(fAddress, {}, 0);
    const QString address = QString::fromStdString(fAddress);
    const QString port = QString::number(fDevice->Port());
    OpenForm();
    AddressBox()->addItem(address);
    ASSERT_TRUE(ActivateForm());
    PressKey(Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), AddressBox());
    TypeKeys(address + ":0");
    PressKey(Qt::Key_Return);
    ASSERT_EQ(fMessages.size(), 1U);
    EXPECT_EQ(fMessages[0].Text, "Invalid IP address");
    EXPECT_EQ(AddressBox()->count(), 1);

    TypeKeys(" " + address + ":" + port);
    PressKey(Qt::Key_Return);
    EXPECT_TRUE(JournalHas("Control connecting address: " + address + ":" + port));
    ASSERT_TRUE(WaitConnected());
    EXPECT_EQ(TIniFile(fSettingsFile).ReadString("SECMRU", "ADDR0", ""),
              fAddress + ":" + port.toStdString());

    // Port 10001 is the address alone: the entry already listed moves to the top.
    ClickConnect();
    ASSERT_TRUE(WaitStopped());
    TypeAddress(address + ":10001");
    ClickConnect();
    EXPECT_TRUE(JournalHas("Control connecting address: " + address));
    ASSERT_TRUE(WaitStopped());
    ASSERT_EQ(AddressBox()->count(), 2);
    EXPECT_EQ(AddressBox()->itemText(0), address);
    EXPECT_EQ(AddressBox()->itemText(1), address + ":" + port);
}

// ---- Readable in any colour scheme -----------------------------------------------

namespace {

// The colour most pixels of the area have: what lies behind the text drawn there.
QColor Behind(const QImage& image, const QRect& area) {
    std::map<QRgb, int> counts;
    const QRect inside = area & image.rect();
    for (int y = inside.top(); y <= inside.bottom(); ++y)
        for (int x = inside.left(); x <= inside.right(); ++x)
            ++counts[image.pixel(x, y)];
    const auto most = std::max_element(counts.begin(), counts.end(),
                                       [](auto a, auto b) { return a.second < b.second; });
    return most == counts.end() ? QColor() : QColor::fromRgb(most->first);
}

QColor TextColour(const QWidget* widget, QPalette::ColorRole role) {
    return widget->palette().color(widget->isEnabled() ? QPalette::Active : QPalette::Disabled,
                                   role);
}

// Every label, group caption, check box and text panel the window shows now whose text
// does not read on what the window painted behind it: 4.5:1 at least, 3:1 for dimmed
// (grey) texts.
std::string UnreadableTexts(QWidget* form) {
    // Disabled texts need not read better than the system's own disabled text does (on
    // a shade of its window colour, as inside a group).
    const QPalette system = QApplication::palette();
    const double disabledRatio =
        0.95 * std::min(3.0, ContrastRatio(system.color(QPalette::Disabled, QPalette::WindowText),
                                           system.color(QPalette::Disabled, QPalette::Window)));
    const QImage image = form->grab().toImage();
    std::string unreadable;
    const auto check = [&](const QWidget* widget, const QColor& text, QRect area, bool dim) {
        area.translate(widget->mapTo(form, QPoint(0, 0)));
        const QColor behind = Behind(image, area);
        const double ratio = ContrastRatio(text, behind);
        const double least = !widget->isEnabled() ? disabledRatio : dim ? 3.0 : 4.5;
        if (ratio < least)
            unreadable += " " + widget->objectName().toStdString() + " " +
                          text.name().toStdString() + " on " + behind.name().toStdString() + " (" +
                          std::to_string(ratio) + ")";
    };
    for (const QLabel* label : form->findChildren<QLabel*>()) {
        if (label->isVisible() && !label->text().isEmpty())
            check(label, TextColour(label, QPalette::WindowText), label->rect(), false);
    }
    for (const QCheckBox* box : form->findChildren<QCheckBox*>()) {
        QStyleOptionButton option;
        option.initFrom(box);
        option.text = box->text();
        const QRect text = box->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, box);
        if (box->isVisible())
            check(box, TextColour(box, QPalette::WindowText), text, false);
    }
    for (const QGroupBox* group : form->findChildren<QGroupBox*>()) {
        const QFontMetrics metrics(group->font());
        const QRect caption(0, 0, metrics.horizontalAdvance(group->title()) + 16, metrics.height());
        if (group->isVisible())
            check(group, TextColour(group, QPalette::WindowText), caption, false);
    }
    for (const TTextPanel* panel : form->findChildren<TTextPanel*>()) {
        if (panel->isVisible())
            check(panel, panel->TextColour(), panel->rect().adjusted(2, 2, -2, -2),
                  panel->TextColour() == QColor(128, 128, 128));
    }
    return unreadable;
}

// Both pages in turn.
std::string UnreadableOnEitherPage(QWidget* form) {
    auto* tabs = form->findChild<QTabWidget*>("PControl");
    std::string unreadable;
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        unreadable += UnreadableTexts(form);
    }
    tabs->setCurrentIndex(0);
    return unreadable;
}

// A dark scheme as a system theme gives it: every role derived from a dark window.
QPalette DarkPalette() {
    return QPalette(QColor(53, 53, 53), QColor(53, 53, 53));
}

} // namespace

TEST(Contrast, RatiosFollowTheReadabilityGuidelines) {
    EXPECT_DOUBLE_EQ(ContrastRatio(Qt::black, Qt::white), 21.0);
    EXPECT_DOUBLE_EQ(ContrastRatio(Qt::white, Qt::black), 21.0);
    EXPECT_DOUBLE_EQ(ContrastRatio(QColor(9, 9, 9), QColor(9, 9, 9)), 1.0);
    EXPECT_NEAR(ContrastRatio(QColor(128, 128, 128), Qt::white), 3.95, 0.01);
    const QColor blue(0, 70, 213);
    EXPECT_EQ(ReadableOn(blue, QColor(247, 246, 242)), blue) << "blue reads on light grey";
    const QColor lighter = ReadableOn(blue, QColor(53, 53, 53));
    EXPECT_GE(ContrastRatio(lighter, QColor(53, 53, 53)), 4.5);
    EXPECT_GT(lighter.blue(), lighter.red()) << "still blue";
}

TEST_F(FormFixture, EveryTextReadsOnItsOwnBackgroundInALightAndADarkScheme) {
    const QPalette systemPalette = QApplication::palette();
    const QString systemStyle = QApplication::style()->name();
    QApplication::setStyle("Fusion");
    StartDevice(fAddress);
    for (const bool dark : {false, true}) {
        SCOPED_TRACE(dark ? "dark" : "light");
        QApplication::setPalette(dark ? DarkPalette() : systemPalette);
        OpenForm();
        EXPECT_EQ(UnreadableOnEitherPage(fForm.get()), "") << "not connected";
        TypeAddress(QString::fromStdString(fAddress));
        ClickConnect();
        ASSERT_TRUE(WaitJournal("Control started", 3s));
        QTest::mouseClick(Button("BtnPSUmode"), Qt::LeftButton);
        QTest::mouseClick(Button("BtnSETmode"), Qt::LeftButton);
        EXPECT_TRUE(Find<QCheckBox>("CBoxRec")->isEnabled());
        EXPECT_EQ(UnreadableOnEitherPage(fForm.get()), "") << "connected, in adjust mode";
        fForm.reset();
    }
    QApplication::setPalette(systemPalette);
    QApplication::setStyle(systemStyle);
}
