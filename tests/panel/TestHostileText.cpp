// Device text with control characters in the window: the journal keeps one line per line
// the station writes, on screen and in the saved file, and the device panel shows the
// characters escaped.

#include "FormFixture.h"
#include "Widgets.h"

#include <QFile>

using namespace std::chrono_literals;

namespace {

class HostileName : public FormFixture {
protected:
    void ConnectTo(const std::string& name) {
        TSimOptions options;
        options.Address = fAddress;
        options.Port = DEVICE_PORT;
        options.Scene.State.Name = name;
        fDevice = std::make_unique<TSimDevice>(options);
        ASSERT_TRUE(fDevice->Start());
        OpenForm();
        TypeAddress(QString::fromStdString(fAddress));
        ClickConnect();
        ASSERT_TRUE(WaitJournal("Control started", 3s));
    }

    QByteArray SavedJournal() {
        fSaveFileName = QString::fromStdString((fFolder / "journal.log").string());
        QTest::mouseClick(Button("BtnSaveJ"), Qt::LeftButton);
        QFile file(fSaveFileName);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return file.readAll();
    }
};

bool HasControl(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || (c.unicode() >= 0x7F && c.unicode() < 0xA0))
            return true;
    }
    return false;
}

} // namespace

TEST_F(HostileName, LineBreaksInTheNameCannotForgeAJournalLine) {
    ConnectTo("\r\nOVERHEAT 99C");
    EXPECT_FALSE(JournalHas("OVERHEAT 99C"));
    EXPECT_TRUE(JournalHas("Name: \\x0d\\x0aOVERHEAT 99C"));
    const TJournalModel& journal = fForm->Journal();
    for (int row = 0; row < journal.Count(); ++row)
        EXPECT_FALSE(HasControl(journal.Line(row))) << journal.Line(row).toStdString();

    const QByteArray saved = SavedJournal();
    EXPECT_EQ(saved.count("\r\n"), journal.Count()) << "one line in the file per journal line";
    EXPECT_EQ(saved.count('\r'), journal.Count());
    EXPECT_EQ(saved.count('\n'), journal.Count());
    EXPECT_FALSE(saved.contains("\nOVERHEAT 99C"));
}

TEST_F(HostileName, EveryControlCharacterIsEscapedAndTheStationsOwnTextsStayAsTheyAre) {
    ConnectTo(std::string("\x1b[2J\x07\x9b\x7f\\A\xe9", 10));
    const QString shown = QString::fromUtf8("\\x1b[2J\\x07\\x9b\\x7f\\\\A\u00e9");
    EXPECT_TRUE(JournalHas("Name: " + shown));
    EXPECT_EQ(Find<TTextPanel>("PanelDev")->Text(), shown);
    EXPECT_TRUE(JournalHas("Address: " + QString::fromStdString(fAddress)));
    EXPECT_TRUE(JournalHas("Control connecting address: " + QString::fromStdString(fAddress)));
    EXPECT_TRUE(JournalHas("Programm started"));
}
