// Device text with control characters in the window: the device panel and the journal
// show it escaped, and the journal keeps one line per line the station writes, on screen
// and in the saved file.

#include "FormFixture.h"
#include "Widgets.h"

#include <QFile>

using namespace std::chrono_literals;

TEST_F(FormFixture, ControlCharactersOfTheDeviceNameAreShownEscaped) {
    TSimOptions options;
    options.Address = fAddress;
    options.Port = DEVICE_PORT;
    options.Scene.State.Name = "\r\nOVERHEAT 99C\x1b\\";
    fDevice = std::make_unique<TSimDevice>(options);
    ASSERT_TRUE(fDevice->Start());
    OpenForm();
    TypeAddress(QString::fromStdString(fAddress));
    ClickConnect();
    ASSERT_TRUE(WaitJournal("Control started", 3s));
    const QString shown = "\\x0d\\x0aOVERHEAT 99C\\x1b\\\\";
    EXPECT_EQ(Find<TTextPanel>("PanelDev")->Text(), shown);
    EXPECT_TRUE(JournalHas("Name: " + shown));
    EXPECT_FALSE(JournalHas("OVERHEAT 99C"));

    fSaveFileName = QString::fromStdString((fFolder / "journal.log").string());
    QTest::mouseClick(Button("BtnSaveJ"), Qt::LeftButton);
    QFile file(fSaveFileName);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray saved = file.readAll();
    EXPECT_EQ(saved.count('\n'), fForm->Journal().Count()) << "one line in the file per line";
    EXPECT_EQ(saved.count('\r'), fForm->Journal().Count());
}
