#pragma once

// The station's only window: connection control, status display, settings editing,
// commands, link diagnostics and the journal.

#include "ChangeLines.h"
#include "SettingsFields.h"
#include "StationText.h"

#include <QMessageBox>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QKeyEvent;
class QLabel;
class QPushButton;
class QTabWidget;
class TJournalModel;
class TJournalView;
class TLamp;
class TSpinEdit;
class TSwObject;
class TTextPanel;

// A message box as the window asks for it.
struct TMessage {
    QString Text;
    QString Caption;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons Buttons = QMessageBox::Ok;
    QMessageBox::StandardButton Default = QMessageBox::NoButton;
};

class TFormMain : public QWidget {
    Q_OBJECT

public:
    // Shows a message box owned by the window and returns the button chosen. Tests
    // replace it to answer without a modal loop.
    std::function<QMessageBox::StandardButton(QWidget* owner, const TMessage& message)> ShowMessage;
    // Asks for the file to save the journal to; empty when the operator cancels.
    std::function<QString(QWidget* owner)> AskSaveFileName;

    explicit TFormMain(std::string settingsFileName, QWidget* parent = nullptr);
    ~TFormMain() override;

    TSwObject* Link() const { return fLink.get(); }
    const TJournalModel& Journal() const { return *fJournal; }

    // Journal operations.
    void JournalInsert(const QString& line);
    void JournalAdd(const QString& message);
    void JournalChange(const QString& message);
    void JournalReport(const QString& message);
    void JournalReportMore(const QString& text);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Widget creation.
    void CreateWidgets();
    void CreateTopArea();
    void CreatePowerGroup();
    void CreateTabs();
    void CreateMonitoringPage(QWidget* page);
    void CreateSettingsPage(QWidget* page);
    void CreateJournalArea();
    void WireLink();

    // Connection control.
    void RefreshControls();
    void ShowConnected();
    void ShowNotConnected();
    void BtnConnClick();
    bool AddressBoxKey(const QKeyEvent& key);
    bool IsAddressBoxPart(const QObject* watched) const;
    void OnDeviceName();
    void OnStop(int code);
    void ReportFailure(const QString& reason);
    void ResetLinkLabels();

    // Status display.
    void WireStatus();
    void OnOutput();
    void OnAutoMode();
    void OnCheck(int input, TCheck check);
    void OnPsuMonitoring();
    void OnPsuState(int unit);
    void OnTempValid();
    void OnTemperature();
    TLamp* CheckLamp(int input, TCheck check) const;

    // Output mode and power supply commands.
    void WireCommands();
    void BtnPSUmodeClick();
    void BtnPSUsetClick();

    // Settings editing and the device report.
    void WireSettings();
    void ShowSetting(TSettingField field);
    void ShowSettingSwitch(TSettingSwitch which);
    void ShowAllSettings();
    TSettingsValues SettingsShown() const;
    TSpinEdit* FieldEdit(TSettingField field) const;
    QCheckBox* SwitchBox(TSettingSwitch which) const;
    void BtnSETmodeClick();
    void BtnSETsetClick();
    void OnCounters();

    // Link diagnostics.
    void OnLinkStat(std::uint32_t value, int kind);
    void PanelBackDblClick(Qt::KeyboardModifiers modifiers);

    // Settings file.
    void LoadSettings();
    bool SaveSettings();
    bool SaveSettingsOrReport();

    // Journal buttons.
    void BtnSaveJClick();
    void BtnEraseJClick();

    // Painting.
    void PaintLamp(TLamp* lamp, bool on, const QColor& colour);
    void PaintLampState(TLamp* lamp, bool on, int state);
    void PaintModeButton(QPushButton* button, bool on, bool active = false);
    QString ModeButtonWord(const QPushButton* button, bool active) const;

    QMessageBox::StandardButton Ask(const TMessage& message);
    void ShowError(const QString& text);

    std::string fSettingsFileName;
    std::unique_ptr<TSwObject> fLink;
    std::unique_ptr<TJournalModel> fJournal;
    bool fVideoAnalysis = true;
    TOverheatWatch fOverheat;
    std::uint32_t fLeCount = 0;
    std::uint32_t fLrCount = 0;

    QWidget* PanelBack = nullptr;
    QComboBox* CBoxIP = nullptr;
    QPushButton* BtnConn = nullptr;
    QLabel* LC = nullptr;
    QLabel* LE = nullptr;
    QLabel* LR = nullptr;
    TTextPanel* PanelDev = nullptr;
    QCheckBox* CBoxPSU1 = nullptr;
    QCheckBox* CBoxPSU2 = nullptr;
    TLamp* ShapePSU1 = nullptr;
    TLamp* ShapePSU2 = nullptr;
    TTextPanel* PanelTemp = nullptr;
    TLamp* ShapeTemp = nullptr;
    QPushButton* BtnPSUmode = nullptr;
    QPushButton* BtnPSUset = nullptr;
    QTabWidget* PControl = nullptr;
    QPushButton* BtnA = nullptr;
    QPushButton* BtnAuto = nullptr;
    QPushButton* BtnB = nullptr;
    TLamp* ShapeSyncA = nullptr;
    TLamp* ShapeMotionA = nullptr;
    TLamp* ShapeLevelA = nullptr;
    TLamp* ShapeSyncB = nullptr;
    TLamp* ShapeMotionB = nullptr;
    TLamp* ShapeLevelB = nullptr;
    TLamp* ShapeAL = nullptr;
    TLamp* ShapeAR = nullptr;
    TLamp* ShapeBL = nullptr;
    TLamp* ShapeBR = nullptr;
    QCheckBox* CBoxSync = nullptr;
    QCheckBox* CBoxMotion = nullptr;
    QCheckBox* CBoxLevel = nullptr;
    QCheckBox* CBoxTHR = nullptr;
    QCheckBox* CBoxDIF = nullptr;
    QCheckBox* CBoxRec = nullptr;
    TSpinEdit* SEditSyncT = nullptr;
    TSpinEdit* SEditMotionT = nullptr;
    TSpinEdit* SEditLevelT = nullptr;
    TSpinEdit* SEditLevelV = nullptr;
    TSpinEdit* SEditTHRV = nullptr;
    TSpinEdit* SEditDIFV = nullptr;
    TSpinEdit* SEditTHRT = nullptr;
    TSpinEdit* SEditDIFT = nullptr;
    TSpinEdit* SEditRecT = nullptr;
    QPushButton* BtnSETmode = nullptr;
    QPushButton* BtnSETset = nullptr;
    TJournalView* LBoxJ = nullptr;
    QPushButton* BtnSaveJ = nullptr;
    QPushButton* BtnEraseJ = nullptr;
};
