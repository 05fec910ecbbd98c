// The status display and the operator's direct commands: output mode and power supply
// monitoring.

#include "UnitMain.h"
#include "UnitThread.h"
#include "Widgets.h"

#include <QCheckBox>
#include <QPushButton>

namespace {

bool IsVideo(TCheck check) {
    return check == TCheck::Sync || check == TCheck::Motion || check == TCheck::VideoLevel;
}

int CheckState(const TSwObject& link, int input, TCheck check) {
    switch (check) {
    case TCheck::Sync:
        return link.VideoSync(input);
    case TCheck::Motion:
        return link.VideoMotion(input);
    case TCheck::VideoLevel:
        return link.VideoLevel(input);
    case TCheck::AudioLeft:
        return link.AudioLeft(input);
    case TCheck::AudioRight:
        return link.AudioRight(input);
    }
    return STATE_OFF;
}

} // namespace

void TFormMain::WireStatus() {
    TSwObject& link = *fLink;
    link.OnOutput.Listen([this](TSwObject*) { OnOutput(); });
    link.OnAutoMode.Listen([this](TSwObject*) { OnAutoMode(); });
    link.OnVideoSync.Listen([this](TSwObject*, int input) { OnCheck(input, TCheck::Sync); });
    link.OnVideoMotion.Listen([this](TSwObject*, int input) { OnCheck(input, TCheck::Motion); });
    link.OnVideoLevel.Listen([this](TSwObject*, int input) { OnCheck(input, TCheck::VideoLevel); });
    link.OnAudioLeft.Listen([this](TSwObject*, int input) { OnCheck(input, TCheck::AudioLeft); });
    link.OnAudioRight.Listen([this](TSwObject*, int input) { OnCheck(input, TCheck::AudioRight); });
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
    JournalChange(QString::fromStdString(OutputLine(output, fLink->AutoMode())));
}

void TFormMain::OnAutoMode() {
    PaintModeButton(BtnAuto, true, fLink->AutoMode());
    JournalChange(QString::fromStdString(ModeLine(fLink->AutoMode())));
}

TLamp* TFormMain::CheckLamp(int input, TCheck check) const {
    TLamp* const lamps[2][5] = {{ShapeSyncA, ShapeMotionA, ShapeLevelA, ShapeAL, ShapeAR},
                                {ShapeSyncB, ShapeMotionB, ShapeLevelB, ShapeBL, ShapeBR}};
    return lamps[input == INPUT_B ? 1 : 0][static_cast<int>(check)];
}

void TFormMain::OnCheck(int input, TCheck check) {
    if (IsVideo(check) && !fVideoAnalysis)
        return;
    const int state = CheckState(*fLink, input, check);
    PaintLampState(CheckLamp(input, check), true, state);
    if (StateIsWorthALine(state))
        JournalChange(QString::fromStdString(CheckLine(input, check, state)));
}

void TFormMain::OnPsuMonitoring() {
    const int mask = fLink->PsuMonitoring();
    CBoxPSU1->setChecked((mask & 1) != 0);
    CBoxPSU2->setChecked((mask & 2) != 0);
    PaintLampState(ShapePSU1, (mask & 1) != 0, fLink->Psu1State());
    PaintLampState(ShapePSU2, (mask & 2) != 0, fLink->Psu2State());
    JournalChange(QString::fromStdString(PsuControlLine(1, CBoxPSU1->isChecked())));
    JournalChange(QString::fromStdString(PsuControlLine(2, CBoxPSU2->isChecked())));
}

void TFormMain::OnPsuState(int unit) {
    const int state = unit == 1 ? fLink->Psu1State() : fLink->Psu2State();
    const bool monitored = (fLink->PsuMonitoring() & unit) != 0;
    PaintLampState(unit == 1 ? ShapePSU1 : ShapePSU2, monitored, state);
    if (StateIsWorthALine(state))
        JournalChange(QString::fromStdString(PsuStateLine(unit, state)));
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
    const bool over = temperature >= OVERHEAT_LIMIT;
    PaintLampState(ShapeTemp, true, over ? STATE_ERROR : STATE_OK);
    if (over && !fOverheat)
        JournalChange(QString::fromStdString(OverheatLine(temperature)));
    fOverheat = over;
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
        CBoxPSU1->setChecked((fLink->PsuMonitoring() & 1) != 0);
        CBoxPSU2->setChecked((fLink->PsuMonitoring() & 2) != 0);
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
