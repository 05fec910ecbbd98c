// The settings page: showing the device's settings, adjust mode, sending them back;
// and the device report written once per connection.

#include "DeviceReport.h"
#include "SpinEdit.h"
#include "UnitMain.h"
#include "UnitThread.h"

#include <QCheckBox>
#include <QLocale>
#include <QPushButton>

namespace {

using F = TSettingField;
using W = TSettingSwitch;

// The fifteen settings in the order the device reports them.
struct TSettingItem {
    bool IsSwitch;
    W Switch;
    F Field;
};

constexpr TSettingItem SETTINGS_ORDER[] = {
    {true, W::Sync, {}},
    {false, {}, F::SyncTime},
    {true, W::Motion, {}},
    {false, {}, F::MotionTime},
    {true, W::VideoLevel, {}},
    {false, {}, F::LevelValue},
    {false, {}, F::LevelTime},
    {true, W::Threshold, {}},
    {false, {}, F::ThresholdValue},
    {false, {}, F::ThresholdTime},
    {true, W::AudioLevel, {}},
    {false, {}, F::AudioLevelValue},
    {false, {}, F::AudioLevelTime},
    {true, W::Recovery, {}},
    {false, {}, F::RecoveryTime},
};

// Stepping the threshold is kept to the levels the device can measure; typing may go
// further.
bool SEditTHRVChanging(double value) {
    return value >= -60 && value <= 0;
}

} // namespace

void TFormMain::WireSettings() {
    TSwObject& link = *fLink;
    link.OnSyncControl.Listen([this](TSwObject*) { ShowSettingSwitch(W::Sync); });
    link.OnSyncTime.Listen([this](TSwObject*) { ShowSetting(F::SyncTime); });
    link.OnMotionControl.Listen([this](TSwObject*) { ShowSettingSwitch(W::Motion); });
    link.OnMotionTime.Listen([this](TSwObject*) { ShowSetting(F::MotionTime); });
    link.OnVideoLevelControl.Listen([this](TSwObject*) { ShowSettingSwitch(W::VideoLevel); });
    link.OnVideoLevelValue.Listen([this](TSwObject*) { ShowSetting(F::LevelValue); });
    link.OnVideoLevelTime.Listen([this](TSwObject*) { ShowSetting(F::LevelTime); });
    link.OnThresholdControl.Listen([this](TSwObject*) { ShowSettingSwitch(W::Threshold); });
    link.OnThresholdValue.Listen([this](TSwObject*) { ShowSetting(F::ThresholdValue); });
    link.OnThresholdTime.Listen([this](TSwObject*) { ShowSetting(F::ThresholdTime); });
    link.OnAudioLevelControl.Listen([this](TSwObject*) { ShowSettingSwitch(W::AudioLevel); });
    link.OnAudioLevelValue.Listen([this](TSwObject*) { ShowSetting(F::AudioLevelValue); });
    link.OnAudioLevelTime.Listen([this](TSwObject*) { ShowSetting(F::AudioLevelTime); });
    link.OnRecoveryControl.Listen([this](TSwObject*) { ShowSettingSwitch(W::Recovery); });
    link.OnRecoveryTime.Listen([this](TSwObject*) { ShowSetting(F::RecoveryTime); });
    link.OnCounters.Listen([this](TSwObject*) { OnCounters(); });
    SEditTHRV->OnChanging = SEditTHRVChanging;
    connect(BtnSETmode, &QPushButton::clicked, this, [this] { BtnSETmodeClick(); });
    connect(BtnSETset, &QPushButton::clicked, this, [this] { BtnSETsetClick(); });
}

TSpinEdit* TFormMain::FieldEdit(TSettingField field) const {
    TSpinEdit* const edits[] = {SEditSyncT, SEditMotionT, SEditLevelV, SEditLevelT, SEditTHRV,
                                SEditTHRT,  SEditDIFV,    SEditDIFT,   SEditRecT};
    return edits[static_cast<int>(field)];
}

QCheckBox* TFormMain::SwitchBox(TSettingSwitch which) const {
    QCheckBox* const boxes[] = {CBoxSync, CBoxMotion, CBoxLevel, CBoxTHR, CBoxDIF, CBoxRec};
    return boxes[static_cast<int>(which)];
}

void TFormMain::ShowSetting(TSettingField field) {
    FieldEdit(field)->SetValue(RawToField(field, RawSetting(fLink->Status(), field)));
}

void TFormMain::ShowSettingSwitch(TSettingSwitch which) {
    QCheckBox* box = SwitchBox(which);
    box->setChecked(SwitchSetting(fLink->Status(), which));
    JournalChange(QString::fromStdString(SettingSwitchLine(which, box->isChecked())));
}

void TFormMain::ShowAllSettings() {
    for (const TSettingItem& item : SETTINGS_ORDER) {
        if (item.IsSwitch)
            ShowSettingSwitch(item.Switch);
        else
            ShowSetting(item.Field);
    }
}

TSettingsValues TFormMain::SettingsShown() const {
    const auto value = [this](F field) { return FieldEdit(field)->Value(); };
    const auto on = [this](W which) { return SwitchBox(which)->isChecked(); };
    TSettingsValues v;
    v.SyncControl = on(W::Sync);
    v.SyncTime = value(F::SyncTime);
    v.MotionControl = on(W::Motion);
    v.MotionTime = value(F::MotionTime);
    v.LevelControl = on(W::VideoLevel);
    v.LevelValue = value(F::LevelValue);
    v.LevelTime = value(F::LevelTime);
    v.ThresholdControl = on(W::Threshold);
    v.ThresholdValue = value(F::ThresholdValue);
    v.ThresholdTime = value(F::ThresholdTime);
    v.AudioLevelControl = on(W::AudioLevel);
    v.AudioLevelValue = value(F::AudioLevelValue);
    v.AudioLevelTime = value(F::AudioLevelTime);
    v.RecoveryControl = on(W::Recovery);
    v.RecoveryTime = value(F::RecoveryTime);
    return v;
}

void TFormMain::BtnSETmodeClick() {
    QWidget* const video[] = {CBoxSync,     CBoxMotion,  CBoxLevel,  SEditSyncT,
                              SEditMotionT, SEditLevelV, SEditLevelT};
    QWidget* const others[] = {CBoxTHR,   CBoxDIF,   CBoxRec,   SEditTHRV,
                               SEditTHRT, SEditDIFV, SEditDIFT, SEditRecT};
    if (CBoxRec->isEnabled()) {
        BtnSETmode->setText("Adjust Mode");
        for (QWidget* widget : std::initializer_list<QWidget*>{
                 BtnSETset, CBoxSync, CBoxMotion, CBoxLevel, CBoxTHR, CBoxDIF, CBoxRec, SEditSyncT,
                 SEditMotionT, SEditLevelV, SEditLevelT, SEditTHRV, SEditTHRT, SEditDIFV, SEditDIFT,
                 SEditRecT})
            widget->setEnabled(false);
        ShowAllSettings();
        return;
    }
    BtnSETmode->setText("Cancel");
    BtnSETset->setEnabled(true);
    for (QWidget* widget : video)
        widget->setEnabled(fVideoAnalysis);
    for (QWidget* widget : others)
        widget->setEnabled(true);
}

void TFormMain::BtnSETsetClick() {
    fLink->WriteSettings(BuildSettingsBlock(SettingsShown()));
    JournalChange("Settings change");
}

void TFormMain::OnCounters() {
    const std::string decimalPoint = QLocale().decimalPoint().toStdString();
    for (const TReportLine& line : DeviceReport(*fLink, SettingsShown(), decimalPoint)) {
        const QString text = QString::fromStdString(line.Text);
        switch (line.Kind) {
        case TReportKind::More:
            JournalReportMore(text);
            break;
        case TReportKind::Report:
            JournalReport(text);
            break;
        case TReportKind::Add:
            JournalAdd(text);
            break;
        }
    }
}
