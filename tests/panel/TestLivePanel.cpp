// The connected window following the simulated device: lamps, change lines, commands,
// the settings page and the report.

#include "FormFixture.h"
#include "SpinEdit.h"
#include "Widgets.h"

#include <QApplication>
#include <QRegularExpression>
#include <QTabWidget>

using namespace std::chrono_literals;

namespace {

using Bytes = std::vector<std::uint8_t>;

const QColor WHITE(255, 255, 255);
const QColor GREEN(0, 255, 0);
const QColor RED(255, 0, 0);
const QColor YELLOW(255, 255, 0);

class LivePanel : public FormFixture {
protected:
    void Connect(std::initializer_list<const char*> script = {"mode manual"}) {
        StartDevice(fAddress, script);
        OpenForm();
        ASSERT_TRUE(ActivateForm());
        TypeAddress(QString::fromStdString(fAddress));
        ClickConnect();
        ASSERT_TRUE(WaitJournal("Control started", 3s));
        fMark = fForm->Journal().Count();
    }

    void Run(const std::string& command) { ASSERT_EQ(fDevice->Execute(command), ""); }

    // Journal messages added since the report, oldest first.
    std::vector<QString> NewLines() const {
        std::vector<QString> all = Messages();
        const auto count = static_cast<std::size_t>(fForm->Journal().Count() - fMark);
        std::vector<QString> fresh(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(count));
        std::reverse(fresh.begin(), fresh.end());
        return fresh;
    }

    bool WaitNewLine(const QString& text) {
        return PumpUntil(
            [&] {
                const std::vector<QString> fresh = NewLines();
                return std::find(fresh.begin(), fresh.end(), text) != fresh.end();
            },
            2s);
    }

    QColor Lamp(const char* name) const { return Find<TLamp>(name)->Fill(); }

    bool WaitLamp(const char* name, const QColor& colour) {
        return PumpUntil([&] { return Lamp(name) == colour; }, 2s);
    }

    // The payloads the station sent that are write requests.
    std::vector<Bytes> Writes() const {
        std::vector<Bytes> writes;
        for (const TSimRecord& record : fDevice->Received()) {
            if (record.Payload.size() > 3 && record.Payload[3] == 0x05)
                writes.emplace_back(record.Payload.begin(), record.Payload.end());
        }
        return writes;
    }

    bool WaitWrites(std::size_t count) {
        return PumpUntil([&] { return Writes().size() >= count; }, 2s);
    }

    TSpinEdit* Edit(const char* name) const { return Find<TSpinEdit>(name); }

    // As the operator types into a field of the settings page: a click into it, all its
    // text replaced by the keys, then Return.
    void Type(const char* name, const QString& text) {
        TSpinEdit* edit = Edit(name);
        Find<QTabWidget>("PControl")->setCurrentIndex(1);
        QTest::mouseClick(fForm->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                          edit->mapTo(fForm.get(), edit->rect().center()));
        ASSERT_EQ(QApplication::focusWidget(), edit) << name;
        PressKey(Qt::Key_A, Qt::ControlModifier);
        PressKey(Qt::Key_Delete);
        TypeKeys(text);
        PressKey(Qt::Key_Return);
    }

    int fMark = 0;
};

struct LampCase {
    const char* Check;
    const char* LampA;
    const char* LampB;
    const char* Text;
};

const LampCase LAMPS[] = {
    {"sync", "ShapeSyncA", "ShapeSyncB", " VIDEO SYNC: "},
    {"motion", "ShapeMotionA", "ShapeMotionB", " VIDEO MOTION: "},
    {"level", "ShapeLevelA", "ShapeLevelB", " VIDEO DIF.LEVEL: "},
    {"audio-left", "ShapeAL", "ShapeBL", " AUDIO DIF.LEVEL +THR (L): "},
    {"audio-right", "ShapeAR", "ShapeBR", " AUDIO DIF.LEVEL +THR (R): "},
};

} // namespace

TEST_F(LivePanel, EveryCheckPaintsItsLampAndJournalsOnlyOkAndError) {
    Connect();
    EXPECT_EQ(Lamp("ShapeSyncA"), GREEN) << "painted by the first pass";
    EXPECT_TRUE(NewLines().empty()) << "the first pass writes the report, not change lines";
    for (const LampCase& c : LAMPS) {
        for (const char* input : {"A", "B"}) {
            SCOPED_TRACE(std::string(c.Check) + " " + input);
            const char* lamp = *input == 'A' ? c.LampA : c.LampB;
            const QString line = QString("[%1]").arg(input) + c.Text;
            Run(std::string("check ") + input + " " + c.Check + " error");
            ASSERT_TRUE(WaitLamp(lamp, RED));
            EXPECT_TRUE(WaitNewLine(line + "ERROR"));
            Run(std::string("check ") + input + " " + c.Check + " na");
            ASSERT_TRUE(WaitLamp(lamp, YELLOW));
            Run(std::string("check ") + input + " " + c.Check + " off");
            ASSERT_TRUE(WaitLamp(lamp, WHITE));
            Run(std::string("check ") + input + " " + c.Check + " ok");
            ASSERT_TRUE(WaitLamp(lamp, GREEN));
            EXPECT_TRUE(WaitNewLine(line + "OK"));
        }
    }
    EXPECT_EQ(NewLines().size(), 20U) << "NA and OFF write nothing";
}

TEST_F(LivePanel, DeviceWithoutVideoAnalysisShowsAudioOnly) {
    Connect({"mode manual", "name AUDIO SWITCH"});
    Run("check A sync error");
    Run("check B audio-left error");
    ASSERT_TRUE(WaitLamp("ShapeBL", RED));
    PumpFor(50ms);
    EXPECT_EQ(Lamp("ShapeSyncA"), ButtonFace());
    EXPECT_EQ(NewLines(), std::vector<QString>{"[B] AUDIO DIF.LEVEL +THR (L): ERROR"});
}

TEST_F(LivePanel, TemperatureTurnsRedAtTheLimitWithOneLinePerRise) {
    Connect();
    for (const char* temperature : {"69", "70", "75", "69", "71"}) {
        Run(std::string("temp ") + temperature);
        ASSERT_TRUE(
            PumpUntil([&] { return Find<TTextPanel>("PanelTemp")->Text() == temperature; }, 2s));
        EXPECT_EQ(Lamp("ShapeTemp"), std::atoi(temperature) >= 70 ? RED : GREEN) << temperature;
    }
    EXPECT_EQ(NewLines(), (std::vector<QString>{"OVERHEAT 70C", "OVERHEAT 71C"}));

    Run("temp none");
    ASSERT_TRUE(PumpUntil([&] { return Find<TTextPanel>("PanelTemp")->Text() == "N/A"; }, 2s));
    EXPECT_EQ(Lamp("ShapeTemp"), RED) << "the lamp keeps its colour without a reading";
}

TEST_F(LivePanel, UnmonitoredSupplyStaysDarkButItsErrorIsJournalled) {
    Connect({"mode manual", "psu-mask 1"});
    EXPECT_FALSE(Find<QCheckBox>("CBoxPSU2")->isChecked());
    Run("psu 2 error");
    ASSERT_TRUE(WaitNewLine("POWER SUPPLY 2: ERROR"));
    EXPECT_EQ(Lamp("ShapePSU2"), ButtonFace());
    Run("psu 1 error");
    ASSERT_TRUE(WaitLamp("ShapePSU1", RED));
}

TEST_F(LivePanel, ModeButtonsSendTheirCommandsAndFollowTheDevice) {
    Connect({});
    EXPECT_EQ(ButtonColour(Button("BtnAuto")), GREEN);
    EXPECT_EQ(ButtonColour(Button("BtnA")), GREEN);
    QTest::mouseClick(Button("BtnB"), Qt::LeftButton);
    ASSERT_TRUE(WaitNewLine("[B] -> [OUT] MANUAL"));
    EXPECT_EQ(NewLines(), (std::vector<QString>{"MODE MANUAL", "[B] -> [OUT] MANUAL"}))
        << "mode first when both change in one reply";
    EXPECT_EQ(ButtonColour(Button("BtnB")), GREEN);
    EXPECT_EQ(ButtonColour(Button("BtnAuto")), QColor(238, 238, 238));

    QTest::mouseClick(Button("BtnB"), Qt::LeftButton);
    QTest::mouseClick(Button("BtnA"), Qt::LeftButton);
    QTest::mouseClick(Button("BtnAuto"), Qt::LeftButton);
    ASSERT_TRUE(WaitWrites(4));
    const std::vector<Bytes> writes = Writes();
    EXPECT_EQ(writes[1], (Bytes{0x01, 0x00, 0x80, 0x05, 0x03, 0x01, 0x01, 0x02}))
        << "the input already on the output is still sent";
    EXPECT_EQ(writes[2], (Bytes{0x01, 0x00, 0x80, 0x05, 0x03, 0x01, 0x01, 0x01}));
    EXPECT_EQ(writes[3], (Bytes{0x01, 0x00, 0x80, 0x05, 0x01, 0x02}));
    ASSERT_TRUE(WaitNewLine("MODE AUTO"));
}

TEST_F(LivePanel, PowerSupplyAdjustModeSendsTheMaskAndCancelRestoresIt) {
    Connect();
    QCheckBox* unit1 = Find<QCheckBox>("CBoxPSU1");
    QPushButton* mode = Button("BtnPSUmode");
    QTest::mouseClick(mode, Qt::LeftButton);
    EXPECT_EQ(mode->text(), "Cancel");
    EXPECT_TRUE(unit1->isChecked()) << "entering keeps the marks";
    unit1->setChecked(false);
    QTest::mouseClick(Button("BtnPSUset"), Qt::LeftButton);
    ASSERT_TRUE(WaitWrites(1));
    EXPECT_EQ(Writes()[0], (Bytes{0x01, 0x03, 0x80, 0x05, 0x02, 0x01, 0x02}));
    ASSERT_TRUE(WaitNewLine("POWER SUPPLY UNIT 2 COTROL: ON"));
    EXPECT_EQ(NewLines()[0], "Power supply control change");
    EXPECT_EQ(NewLines()[1], "POWER SUPPLY UNIT 1 COTROL: OFF");
    EXPECT_EQ(mode->text(), "Cancel") << "Set does not leave adjust mode";

    unit1->setChecked(true);
    QTest::mouseClick(mode, Qt::LeftButton);
    EXPECT_EQ(mode->text(), "Adjust Mode");
    EXPECT_FALSE(unit1->isChecked()) << "restored from what the device holds";
    EXPECT_FALSE(unit1->isEnabled());
}

TEST_F(LivePanel, SettingsPageShowsConvertsAndSendsTheDeviceValues) {
    Connect();
    EXPECT_EQ(Edit("SEditSyncT")->text(), "1.9");
    EXPECT_EQ(Edit("SEditLevelV")->text(), "3.5");
    EXPECT_EQ(Edit("SEditTHRV")->text(), "-40");
    EXPECT_EQ(Edit("SEditDIFV")->text(), "6");
    EXPECT_EQ(Edit("SEditTHRT")->text(), "1.5");
    EXPECT_EQ(Edit("SEditRecT")->text(), "120");
    EXPECT_FALSE(Edit("SEditSyncT")->isEnabled());

    QTest::mouseClick(Button("BtnSETmode"), Qt::LeftButton);
    EXPECT_EQ(Button("BtnSETmode")->text(), "Cancel");
    EXPECT_TRUE(Edit("SEditSyncT")->isEnabled());
    QTest::mouseClick(Button("BtnSETset"), Qt::LeftButton);
    ASSERT_TRUE(WaitWrites(1));
    Bytes example = {0x01, 0x01, 0x80, 0x05, 0x16, 0x01, 0x01, 0x13, 0x00,
                     0x00, 0x00, 0x00, 0x01, 0x04, 0x14, 0x00, 0x01, 0x15,
                     0x03, 0x00, 0x00, 0x05, 0x01, 0x00, 0x01, 0x78, 0x00};
    EXPECT_EQ(Writes()[0], example) << "unedited fields send the device's own values";
    ASSERT_TRUE(WaitNewLine("[SETTINGS] RECOVERY CONTROL: ON"));
    EXPECT_EQ(NewLines()[0], "Settings change");

    Type("SEditTHRV", "0");
    QTest::keyClick(Edit("SEditTHRV"), Qt::Key_Up);
    EXPECT_EQ(Edit("SEditTHRV")->text(), "0") << "stepping above 0 is refused";
    Type("SEditTHRV", "20");
    Type("SEditLevelV", "");
    Type("SEditSyncT", "");
    QTest::mouseClick(Button("BtnSETset"), Qt::LeftButton);
    ASSERT_TRUE(WaitWrites(2));
    const Bytes second = Writes()[1];
    EXPECT_EQ(second[6 + 11], 81) << "typed 20 dB";
    EXPECT_EQ(second[6 + 7], 1) << "an empty level reads as 2.0 dB";
    EXPECT_EQ(second[6 + 1], 0) << "an empty time reads as 0";
    EXPECT_EQ(fDevice->State().Settings[11], 81);
    // The read-back of the write refreshes every field; typing waits for it.
    ASSERT_TRUE(PumpUntil([&] { return !fForm->Link()->SettingsWritten; }, 2s));
    Type("SEditSyncT", "150");
    EXPECT_EQ(Edit("SEditSyncT")->text(), "99.9") << "Return takes the typing into the range";
}

TEST_F(LivePanel, CancelRestoresTheFieldsAndJournalsTheSixSwitches) {
    Connect();
    QTest::mouseClick(Button("BtnSETmode"), Qt::LeftButton);
    Type("SEditRecT", "500");
    Find<QCheckBox>("CBoxRec")->setChecked(false);
    QTest::mouseClick(Button("BtnSETmode"), Qt::LeftButton);
    EXPECT_EQ(Edit("SEditRecT")->text(), "120");
    EXPECT_TRUE(Find<QCheckBox>("CBoxRec")->isChecked());
    EXPECT_FALSE(Find<QCheckBox>("CBoxRec")->isEnabled());
    EXPECT_EQ(NewLines(), (std::vector<QString>{"[SETTINGS] VIDEO SYNC CONTROL: ON",
                                                "[SETTINGS] VIDEO MOTION CONTROL: OFF",
                                                "[SETTINGS] VIDEO DIF.LEVEL +THR CONTROL: ON",
                                                "[SETTINGS] AUDIO THRESHOLD CONTROL: ON",
                                                "[SETTINGS] AUDIO DIF.LEVEL CONTROL: OFF",
                                                "[SETTINGS] RECOVERY CONTROL: ON"}));
    EXPECT_TRUE(Writes().empty());
}

TEST_F(LivePanel, ReportFollowsEachConnectAndDisconnectResetsThePage) {
    Connect({"mode manual", "check B motion error", "counters reset", "temp 72"});
    const std::vector<QString> messages = Messages();
    EXPECT_EQ(messages[0], "Control started");
    EXPECT_EQ(messages[1].trimmed(), "");
    EXPECT_EQ(messages[2].trimmed(), "RECOVERY Time: 120 s");
    EXPECT_TRUE(JournalHas("TEMPERATURE CONTROL: 72C OVERHEAT"));
    EXPECT_TRUE(JournalHas("Device state"));
    EXPECT_FALSE(JournalHas("Error control counters:"));
    EXPECT_FALSE(JournalHas("OVERHEAT 72C")) << "no change line for a device hot at connect";

    ClickConnect();
    ASSERT_TRUE(WaitStopped());
    EXPECT_EQ(Edit("SEditLevelV")->text(), "2.0");
    EXPECT_EQ(Edit("SEditSyncT")->text(), "0.0");
    EXPECT_FALSE(Find<QCheckBox>("CBoxSync")->isChecked());
    EXPECT_EQ(Lamp("ShapeTemp"), ButtonFace());
}

TEST_F(LivePanel, DecimalCommaLocaleShowsAndReportsWithItsSeparators) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    Connect();
    EXPECT_EQ(Edit("SEditSyncT")->text(), "1,9");
    EXPECT_TRUE(JournalHas("VIDEO SYNC Time: 1,9 s"));
    EXPECT_TRUE(JournalHas("VIDEO DIF.LEVEL Value: 3,5 dB"));
    const QString stamp = fForm->Journal().Line(0).left(17);
    EXPECT_TRUE(QRegularExpression(R"(^\d\d\.\d\d\.\d\d \d\d:\d\d:\d\d$)").match(stamp).hasMatch())
        << stamp.toStdString();

    QTest::mouseClick(Button("BtnSETmode"), Qt::LeftButton);
    Type("SEditLevelT", "2,5");
    QTest::mouseClick(Button("BtnSETset"), Qt::LeftButton);
    ASSERT_TRUE(WaitWrites(1));
    EXPECT_EQ(Writes()[0][6 + 8], 25) << "2,5 s in tenths";
}

// ---- Mode button faces ----------------------------------------------------------

namespace {

// Points of a button's face clear of its border, hover frame, focus mark and caption.
std::vector<QPoint> FacePoints(const QSize& size) {
    const int right = size.width() - 6;
    const int bottom = size.height() - 6;
    return {{5, 5},  {right, 5},  {5, bottom},           {right, bottom},
            {5, 20}, {right, 20}, {size.width() / 2, 5}, {size.width() / 2, bottom}};
}

// Empty when every face point of the button's image holds exactly the colour.
std::string FaceMismatch(QPushButton* button, const QColor& colour) {
    const QImage image = button->grab().toImage();
    std::string mismatch;
    for (const QPoint& at : FacePoints(image.size())) {
        const QColor found = image.pixelColor(at);
        if (found.rgb() != colour.rgb())
            mismatch += " at " + std::to_string(at.x()) + "," + std::to_string(at.y()) + " " +
                        found.name().toStdString();
    }
    return mismatch;
}

} // namespace

TEST_F(LivePanel, ModeButtonFacesAreFlatInTheTabledColoursWithHotTracking) {
    Connect({"mode manual", "output A"});
    ASSERT_EQ(ButtonColour(Button("BtnA")), GREEN);
    EXPECT_EQ(FaceMismatch(Button("BtnA"), GREEN), "");
    EXPECT_EQ(FaceMismatch(Button("BtnB"), QColor(238, 238, 238)), "");
    EXPECT_EQ(FaceMismatch(Button("BtnAuto"), QColor(238, 238, 238)), "");
    for (const char* name : {"BtnA", "BtnAuto", "BtnB"})
        EXPECT_EQ(Button(name)->cursor().shape(), Qt::PointingHandCursor) << name;

    QPushButton* a = Button("BtnA");
    const QImage still = a->grab().toImage();
    QTest::mouseMove(a, a->rect().center());
    PumpFor(20ms);
    ASSERT_TRUE(a->underMouse());
    const QImage hot = a->grab().toImage();
    EXPECT_NE(hot, still) << "hot tracking shows the button under the mouse";
    EXPECT_EQ(hot.pixelColor(1, hot.height() / 2), a->palette().color(QPalette::Highlight));
    EXPECT_EQ(FaceMismatch(a, GREEN), "") << "the face keeps its colour under the mouse";
    QTest::mouseMove(Find<QWidget>("PanelBack"), QPoint(2, 2));

    ClickConnect();
    ASSERT_TRUE(WaitStopped());
    for (const char* name : {"BtnA", "BtnAuto", "BtnB"})
        EXPECT_EQ(FaceMismatch(Button(name), ButtonFace()), "") << name << " when off";
}

TEST_F(LivePanel, LampsAndModeButtonsTellTheirStateInWordsToo) {
    Connect({"mode manual", "output A", "temp 40"});
    const auto tip = [this](const char* name) { return Find<QWidget>(name)->toolTip(); };
    EXPECT_EQ(tip("BtnA"), "[A] -> [OUT]");
    EXPECT_EQ(tip("BtnB"), "[B]");
    EXPECT_EQ(tip("BtnAuto"), "MANUAL");
    EXPECT_EQ(tip("ShapeSyncA"), "OK");
    EXPECT_EQ(tip("ShapeTemp"), "OK");
    for (const auto& step : {std::pair{"error", "ERROR"}, {"na", "NA"}, {"off", "OFF"}}) {
        Run(std::string("check B motion ") + step.first);
        const QString word = step.second;
        EXPECT_TRUE(PumpUntil([&] { return tip("ShapeMotionB") == word; }, 2s)) << step.second;
    }
    Run("mode auto");
    EXPECT_TRUE(PumpUntil([&] { return tip("BtnAuto") == "AUTO"; }, 2s));

    ClickConnect();
    ASSERT_TRUE(WaitStopped());
    for (const char* name : {"BtnA", "BtnAuto", "ShapeSyncA", "ShapeMotionB", "ShapeTemp"})
        EXPECT_EQ(tip(name), "") << name << ": no state when not connected";
}
