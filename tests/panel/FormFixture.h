#pragma once

// The real main window against a simulated device of its own on loopback. The window
// connects to port 10001 unless told another, so each test gets its own address in
// 127.0.0.0/8.
// Message boxes and the save dialog are answered by the test, not by a modal loop.

#include "IniFile.h"
#include "Journal.h"
#include "QtWait.h"
#include "SimDevice.h"
#include "UnitMain.h"
#include "UnitThread.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <deque>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

// Failure messages show texts as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

inline void PrintTo(const QPoint& point, std::ostream* out) {
    *out << point.x() << ',' << point.y();
}

class FormFixture : public testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
        fFolder = std::filesystem::temp_directory_path() /
                  ("control7710-form-" + std::to_string(::getpid()));
        std::filesystem::create_directories(fFolder);
        fSettingsFile = (fFolder / "control7710.dat").string();
        std::filesystem::remove(fSettingsFile);
        fAddress = UniqueAddress();
    }

    void TearDown() override {
        fForm.reset();
        fDevice.reset();
        std::filesystem::remove_all(fFolder);
    }

    // A loopback address of this test's own, derived from its name.
    static std::string UniqueAddress() {
        const std::string name = testing::UnitTest::GetInstance()->current_test_info()->name();
        const std::size_t hash = std::hash<std::string>{}(name);
        return "127.5." + std::to_string((hash >> 8) % 256) + "." + std::to_string(hash % 254 + 1);
    }

    void WriteSettings(const std::string& text) {
        std::ofstream(fSettingsFile, std::ios::binary) << text;
    }

    // port 0 lets the system pick a free one.
    void StartDevice(const std::string& address, std::initializer_list<const char*> script = {},
                     int port = DEVICE_PORT) {
        TSimOptions options;
        options.Address = address;
        options.Port = port;
        fDevice = std::make_unique<TSimDevice>(options);
        for (const char* line : script)
            ASSERT_EQ(fDevice->Execute(line), "") << line;
        ASSERT_TRUE(fDevice->Start()) << "cannot listen on " << address;
    }

    void OpenForm() {
        fForm = std::make_unique<TFormMain>(fSettingsFile);
        fForm->ShowMessage = [this](QWidget*, const TMessage& message) {
            fMessages.push_back(message);
            if (fAnswers.empty())
                return message.Default != QMessageBox::NoButton ? message.Default : QMessageBox::Ok;
            const QMessageBox::StandardButton answer = fAnswers.front();
            fAnswers.pop_front();
            return answer;
        };
        fForm->AskSaveFileName = [this](QWidget*) { return fSaveFileName; };
        fForm->show();
    }

    template <typename TWidget> TWidget* Find(const char* name) const {
        auto* widget = fForm->findChild<TWidget*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    QPushButton* Button(const char* name) const { return Find<QPushButton>(name); }
    QComboBox* AddressBox() const { return Find<QComboBox>("CBoxIP"); }

    void TypeAddress(const QString& text) { AddressBox()->setEditText(text); }

    // Keys as the keyboard sends them: through the window system to the active window,
    // which hands them to its focused widget, or to the open drop-down list.
    void PressKey(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(static_cast<QWidget*>(nullptr), key, modifiers);
    }

    void TypeKeys(const QString& text) { QTest::keyClicks(static_cast<QWidget*>(nullptr), text); }

    // The operator brings the window to the front, as a click on it would.
    bool ActivateForm() {
        fForm->activateWindow();
        return QTest::qWaitForWindowActive(fForm.get());
    }

    void ClickConnect() { QTest::mouseClick(Button("BtnConn"), Qt::LeftButton); }

    bool WaitConnected() {
        return PumpUntil([this] { return Button("BtnConn")->text() == "Disconnect"; },
                         std::chrono::seconds(3));
    }

    bool WaitJournal(const QString& text, std::chrono::milliseconds timeout) {
        return PumpUntil([&] { return JournalHas(text); }, timeout);
    }

    bool WaitStopped(std::chrono::milliseconds timeout = std::chrono::seconds(3)) {
        return PumpUntil([this] { return !fForm->Link()->IsRunning(); }, timeout) &&
               PumpUntil([this] { return Button("BtnConn")->text() == "Connect"; }, timeout);
    }

    // The journal's messages, newest first, without their time stamps.
    std::vector<QString> Messages() const {
        std::vector<QString> messages;
        const TJournalModel& journal = fForm->Journal();
        for (int row = 0; row < journal.Count(); ++row)
            messages.push_back(journal.Line(row).mid(18));
        return messages;
    }

    bool JournalHas(const QString& text) const {
        const std::vector<QString> messages = Messages();
        return std::find(messages.begin(), messages.end(), text) != messages.end();
    }

    std::filesystem::path fFolder;
    std::string fSettingsFile;
    std::string fAddress;
    std::unique_ptr<TSimDevice> fDevice;
    std::unique_ptr<TFormMain> fForm;
    std::vector<TMessage> fMessages;
    std::deque<QMessageBox::StandardButton> fAnswers;
    QString fSaveFileName;
};
