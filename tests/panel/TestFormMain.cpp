// The main window's connection control, settings file, link diagnostics and journal
// buttons, driven through its widgets against the simulated device.

#include "FileSizeLimit.h"
#include "FormFixture.h"
#include "Widgets.h"

#include <QFile>
#include <QRegularExpression>
#include <cerrno>
#include <cstring>

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
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitConnected());
    ASSERT_EQ(fDevice->Execute("fault silent on"), "");
    ASSERT_TRUE(WaitStopped(12s));

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
    QWidget* back = Find<QWidget>("PanelBack");
    const auto visible = [this] {
        return Find<QLabel>("LC")->isVisible() + Find<QLabel>("LE")->isVisible() +
               Find<QLabel>("LR")->isVisible();
    };
    QTest::mouseDClick(back, Qt::LeftButton, Qt::NoModifier, QPoint(300, 66));
    EXPECT_EQ(visible(), 0);
    QTest::mouseDClick(back, Qt::LeftButton, Qt::ControlModifier, QPoint(300, 66));
    EXPECT_EQ(visible(), 3);
    QTest::mouseDClick(Find<QLabel>("LE"), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(visible(), 0);
    QTest::mouseDClick(Find<QWidget>("GBoxPSU"), Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(visible(), 0) << "other widgets' double-clicks do not count";
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

// ---- Saving the journal on a full disk (issue 10) --------------------------------

namespace {

struct FullDiskCase {
    const char* Name;
    int Lines;          // about 60 bytes each: 40 stay in Qt's 16 KB write buffer, 1000 do not
    bool OverOldFile;   // an older journal file stands where the new one goes
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
    EXPECT_EQ(left, c.OverOldFile ? std::vector<std::string>{"journal.log"}
                                  : std::vector<std::string>{})
        << "no temporary file is left behind";
    EXPECT_EQ(fForm->Journal().Count(), lines) << "nothing of the journal is lost";
    EXPECT_TRUE(Button("BtnSaveJ")->isEnabled());

    QTest::mouseClick(Button("BtnSaveJ"), Qt::LeftButton);
    EXPECT_EQ(fMessages.size(), 1U) << "with room again the save goes through";
    const QByteArray saved = FileBytes(fSaveFileName);
    EXPECT_EQ(saved.count("\r\n"), lines);
    EXPECT_TRUE(saved.endsWith(fForm->Journal().Line(0).toUtf8() + "\r\n"));
}

INSTANTIATE_TEST_SUITE_P(
    Journal, FullDiskSave,
    testing::Values(FullDiskCase{"SmallOverOldFile", 40, true},
                    FullDiskCase{"SmallToNewFile", 40, false},
                    FullDiskCase{"LargeOverOldFile", 1000, true},
                    FullDiskCase{"LargeToNewFile", 1000, false}),
    [](const testing::TestParamInfo<FullDiskCase>& info) { return std::string(info.param.Name); });
