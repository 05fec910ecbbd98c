// The status display and the operator's direct commands: output mode and power supply
// monitoring.

#include "UnitMain.h"
#include "UnitThread.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

} // namespace

void TFormMain::WireStatus() {
    TSwObject& link = *fLink;
    link.OnOutput.Listen([this](TSwObject*) { OnOutput(); });
    link.OnAutoMode.Listen([this](TSwObject*) { OnAutoMode(); });
    for (const TCheckKind& kind : CHECKS) {
        (link.*kind.Event).Listen([this, check = kind.Check](TSwObject*, int input) {
            OnCheck(input, check);
        });
    }
    link.OnPsuMonitoring.Listen([this](TSwObject*) { OnPsuMonitoring(); });
    link.OnPsu1State.Listen([this](TSwObject*) { OnPsuState(1); });
    link.OnPsu2State.Listen([this](TSwObject*) { OnPsuState(2); });
    link.OnTempValid.Listen([this](TSwObject*) { OnTempValid(); });
    link.OnTemperature.Listen([this](TSwObject*) { OnTemperature(); });
}

void TFormMain::OnOutput() {
    const int output = fLink->Output();
    if (output != INPUT_A && output != INPUT_B)
        return;
    PaintModeButton(BtnA, true, output == INPUT_A);
    PaintModeButton(BtnB, true, output == INPUT_B);
    JournalChange(Text(OutputChangeLine(fLink->Status())));
}

void TFormMain::OnAutoMode() {
    PaintModeButton(BtnAuto, true, fLink->AutoMode());
    JournalChange(Text(ModeChangeLine(fLink->Status())));
}

TLamp* TFormMain::CheckLamp(int input, TCheck check) const {
    TLamp* const lamps[2][5] = {{ShapeSyncA, ShapeMotionA, ShapeLevelA, ShapeAL, ShapeAR},
                                {ShapeSyncB, ShapeMotionB, ShapeLevelB, ShapeBL, ShapeBR}};
    return lamps[input == INPUT_B ? 1 : 0][static_cast<int>(check)];
}

void TFormMain::OnCheck(int input, TCheck check) {
    const TDeviceStatus& status = fLink->Status();
    if (!CheckAnalysed(status, check))
        return;
    PaintLampState(CheckLamp(input, check), true, CheckState(status, input, check));
    if (const auto line = CheckChangeLine(status, check, input))
        JournalChange(Text(*line));
}

void TFormMain::OnPsuMonitoring() {
    const TDeviceStatus& status = fLink->Status();
    CBoxPSU1->setChecked(PsuMonitored(status, 1));
    CBoxPSU2->setChecked(PsuMonitored(status, 2));
    PaintLampState(ShapePSU1, PsuMonitored(status, 1), PsuState(status, 1));
    PaintLampState(ShapePSU2, PsuMonitored(status, 2), PsuState(status, 2));
    for (const std::string& line : PsuMonitoringLines(status))
        JournalChange(Text(line));
}

void TFormMain::OnPsuState(int unit) {
    const TDeviceStatus& status = fLink->Status();
    PaintLampState(unit == 1 ? ShapePSU1 : ShapePSU2, PsuMonitored(status, unit),
                   PsuState(status, unit));
    if (const auto line = PsuStateChangeLine(status, unit))
        JournalChange(Text(*line));
}

void TFormMain::OnTempValid() {
    if (fLink->TempValid()) {
        PanelTemp->SetTextColour(Qt::black);
        return;
    }
    PanelTemp->SetTextColour(QColor(128, 128, 128));
    PanelTemp->SetText("N/A");
}

void TFormMain::OnTemperature() {
    const int temperature = fLink->Temperature();
    PanelTemp->SetText(QString::number(temperature));
    PaintLampState(ShapeTemp, true, IsOverheat(temperature) ? STATE_ERROR : STATE_OK);
    if (const auto line = fOverheat.Temperature(fLink->Status()))
        JournalChange(Text(*line));
}

// ---- Commands --------------------------------------------------------------------

void TFormMain::WireCommands() {
    connect(BtnA, &QPushButton::clicked, this, [this] { fLink->SelectInput(INPUT_A); });
    connect(BtnB, &QPushButton::clicked, this, [this] { fLink->SelectInput(INPUT_B); });
    connect(BtnAuto, &QPushButton::clicked, this, [this] { fLink->SetAutoMode(); });
    connect(BtnPSUmode, &QPushButton::clicked, this, [this] { BtnPSUmodeClick(); });
    connect(BtnPSUset, &QPushButton::clicked, this, [this] { BtnPSUsetClick(); });
}

void TFormMain::BtnPSUmodeClick() {
    if (CBoxPSU1->isEnabled()) {
        BtnPSUmode->setText("Adjust Mode");
        for (QWidget* widget : std::initializer_list<QWidget*>{BtnPSUset, CBoxPSU1, CBoxPSU2})
            widget->setEnabled(false);
        CBoxPSU1->setChecked(PsuMonitored(fLink->Status(), 1));
        CBoxPSU2->setChecked(PsuMonitored(fLink->Status(), 2));
        return;
    }
    BtnPSUmode->setText("Cancel");
    for (QWidget* widget : std::initializer_list<QWidget*>{BtnPSUset, CBoxPSU1, CBoxPSU2})
        widget->setEnabled(true);
}

void TFormMain::BtnPSUsetClick() {
    const int mask = (CBoxPSU2->isChecked() ? 2 : 0) + (CBoxPSU1->isChecked() ? 1 : 0);
    fLink->SetPowerMonitoring(mask);
    JournalChange("Power supply control change");
}
