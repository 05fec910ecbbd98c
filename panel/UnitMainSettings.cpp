// The settings page: showing the device's settings, adjust mode, sending them back;
// and the device report written once per connection.

#include "DeviceReport.h"
#include "SpinEdit.h"
#include "UnitMain.h"
#include "UnitProc.h"
#include "UnitThread.h"

#include <QCheckBox>
#include <QLocale>
#include <QPushButton>

namespace {

// Stepping the threshold is kept to the levels the device can measure; typing may go
// further.
bool SEditTHRVChanging(double value) {
    return value >= -60 && value <= 0;
}

} // namespace

void TFormMain::WireSettings() {
    TSwObject& link = *fLink;
    for (const TSwitchKind& kind : SWITCHES) {
        (link.*kind.Event).Listen([this, which = kind.Which](TSwObject*) {
            ShowSettingSwitch(which);
        });
    }
    for (const TFieldKind& kind : FIELDS)
        (link.*kind.Event).Listen([this, field = kind.Field](TSwObject*) { ShowSetting(field); });
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
    for (const TSwitchKind& kind : SWITCHES)
        ShowSettingSwitch(kind.Which);
    for (const TFieldKind& kind : FIELDS)
        ShowSetting(kind.Field);
}

TSettingsValues TFormMain::SettingsShown() const {
    TSettingsValues values;
    for (const TSwitchKind& kind : SWITCHES)
        values.*kind.Value = SwitchBox(kind.Which)->isChecked();
    for (const TFieldKind& kind : FIELDS)
        values.*kind.Value = FieldEdit(kind.Field)->Value();
    return values;
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
    for (const TReportLine& line :
         DeviceReport(fLink->Status(), WithPort(fLink->Address(), fLink->Port()), SettingsShown(),
                      decimalPoint)) {
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
