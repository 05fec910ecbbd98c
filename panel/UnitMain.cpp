#include "UnitMain.h"

#include "IniFile.h"
#include "Journal.h"
#include "SpinEdit.h"
#include "Startup.h"
#include "StationText.h"
#include "UnitProc.h"
#include "UnitThread.h"
#include "Widgets.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDateTime>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <algorithm>

namespace {

constexpr int MRU_KEPT = 10;
constexpr int DEFAULT_POSITION = 100;
const QColor GREY_TEXT(128, 128, 128);
const QColor MODE_ACTIVE(0, 255, 0);
const QColor MODE_INACTIVE(238, 238, 238);

QMessageBox::StandardButton RealMessageBox(QWidget* owner, const TMessage& message) {
    QMessageBox box(message.Icon, message.Caption, message.Text, message.Buttons, owner);
    if (message.Default != QMessageBox::NoButton)
        box.setDefaultButton(message.Default);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

QString RealSaveDialog(QWidget* owner) {
    QFileDialog dialog(owner);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("log");
    dialog.setNameFilters({"Log files (*.log *.txt)", "All files (*)"});
    // Asking before an existing file is overwritten is the dialog's default.
    return dialog.exec() == QDialog::Accepted ? dialog.selectedFiles().value(0) : QString();
}

QString Trimmed(const QString& text) {
    int from = 0;
    int to = static_cast<int>(text.size());
    while (from < to && text[from].unicode() <= 32)
        ++from;
    while (to > from && text[to - 1].unicode() <= 32)
        --to;
    return text.mid(from, to - from);
}

// Swallows every input event of the application while it lives.
class TInputDrop : public QObject {
public:
    TInputDrop() { QCoreApplication::instance()->installEventFilter(this); }
    ~TInputDrop() override { QCoreApplication::instance()->removeEventFilter(this); }
    TInputDrop(const TInputDrop&) = delete;
    TInputDrop& operator=(const TInputDrop&) = delete;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        return event->isInputEvent() || event->type() == QEvent::Shortcut;
    }
};

// Runs the events queued while the window thread was blocked, with the clicks and keys
// among them dropped: they were aimed at a window that could not answer, and must not
// act on the state it shows now.
void DropQueuedInput() {
    const TInputDrop drop;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 100);
}

std::string MruKey(int index) {
    return "ADDR" + std::to_string(index);
}

// The part of the window that must show on one screen for a saved position to be used:
// the whole height of its top strip, where the title bar is, and enough of its width to
// take hold of it.
constexpr qint64 USABLE_WIDTH = 100;
constexpr qint64 USABLE_HEIGHT = 30;

// In 64 bits: a saved edge may be anywhere in the 32-bit range, and an edge plus a size
// must not wrap.
bool ShowsTopStrip(qint64 left, qint64 top, qint64 width, const QRect& screen) {
    const qint64 screenLeft = screen.x();
    const qint64 screenTop = screen.y();
    const qint64 shownWidth =
        std::min(left + width, screenLeft + screen.width()) - std::max(left, screenLeft);
    const qint64 shownHeight =
        std::min(top + USABLE_HEIGHT, screenTop + screen.height()) - std::max(top, screenTop);
    return shownWidth >= std::min(USABLE_WIDTH, width) && shownHeight >= USABLE_HEIGHT;
}

// A saved position is used when some screen shows a usable part of the window there;
// otherwise the window opens at the default position.
QPoint UsablePosition(int left, int top, int width) {
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (ShowsTopStrip(left, top, width, screen->availableGeometry()))
            return {left, top};
    }
    return {DEFAULT_POSITION, DEFAULT_POSITION};
}

} // namespace

TFormMain::TFormMain(std::string settingsFileName, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ShowMessage(RealMessageBox), AskSaveFileName(RealSaveDialog),
      fSettingsFileName(std::move(settingsFileName)), fJournal(std::make_unique<TJournalModel>()) {
    setWindowTitle(QString::fromUtf8(APP_TITLE));
    CreateWidgets();
    fLink = std::make_unique<TSwObject>();
    WireLink();
    WireCommands();
    LoadSettings();
    RefreshControls();
    JournalAdd("Programm started");
}

TFormMain::~TFormMain() = default;

void TFormMain::WireLink() {
    fLink->OnStop.Listen([this](TSwObject*, int code) { OnStop(code); });
    fLink->OnLinkStat.Listen(
        [this](TSwObject*, std::uint32_t value, int kind) { OnLinkStat(value, kind); });
    fLink->OnDeviceName.Listen([this](TSwObject*) { OnDeviceName(); });
    WireStatus();
    WireSettings();
}

// ---- Painting --------------------------------------------------------------------

void TFormMain::PaintLamp(TLamp* lamp, bool on, const QColor& colour) {
    lamp->SetFill(on ? colour : ButtonFace());
}

void TFormMain::PaintLampState(TLamp* lamp, bool on, int state) {
    if (on)
        lamp->SetFill(StateColour(state), QString::fromStdString(StateWord(state)));
    else
        PaintLamp(lamp, false, ButtonFace());
}

// The word for what a mode button's colour shows: the input on the output or the mode.
QString TFormMain::ModeButtonWord(const QPushButton* button, bool active) const {
    if (button == BtnAuto)
        return QString::fromStdString(ModeWord(active));
    const int input = button == BtnA ? INPUT_A : INPUT_B;
    return QString::fromStdString(active ? OutputWord(input) : InputWord(input));
}

void TFormMain::PaintModeButton(QPushButton* button, bool on, bool active) {
    button->setToolTip(on ? ModeButtonWord(button, active) : QString());
    if (on)
        SetButtonColour(button, active ? MODE_ACTIVE : MODE_INACTIVE);
    else if (ButtonColour(button) != ButtonFace())
        SetButtonColour(button, ButtonFace());
}

// ---- Connection state ------------------------------------------------------------

void TFormMain::RefreshControls() {
    if (fLink && fLink->IsConnected())
        ShowConnected();
    else
        ShowNotConnected();
    BtnConn->setEnabled(true);
}

void TFormMain::ShowConnected() {
    CBoxIP->setEnabled(false);
    BtnConn->setText("Disconnect");
    PanelDev->SetTextColour(Qt::black);
    for (QPushButton* button : {BtnA, BtnAuto, BtnB}) {
        PaintModeButton(button, true, false);
        button->setEnabled(true);
    }
    for (TLamp* lamp : {ShapeAL, ShapeAR, ShapeBL, ShapeBR})
        PaintLampState(lamp, true, STATE_OFF);
    BtnPSUmode->setEnabled(true);
    BtnSETmode->setEnabled(true);
    for (TLamp* lamp :
         {ShapeSyncA, ShapeSyncB, ShapeMotionA, ShapeMotionB, ShapeLevelA, ShapeLevelB})
        PaintLampState(lamp, fVideoAnalysis, STATE_OFF);
}

void TFormMain::ShowNotConnected() {
    CBoxIP->setEnabled(true);
    if (CBoxIP->count() > 0)
        CBoxIP->setCurrentIndex(0);
    BtnConn->setText("Connect");
    PanelDev->SetText("NOT CONNECTED");
    PanelDev->SetTextColour(GREY_TEXT);
    for (QCheckBox* box : {CBoxPSU1, CBoxPSU2}) {
        box->setChecked(false);
        box->setEnabled(false);
    }
    PanelTemp->SetText("");
    for (TLamp* lamp : {ShapePSU1, ShapePSU2, ShapeTemp})
        PaintLamp(lamp, false, ButtonFace());
    BtnPSUmode->setText("Adjust Mode");
    BtnPSUmode->setEnabled(false);
    BtnPSUset->setEnabled(false);
    for (QPushButton* button : {BtnA, BtnAuto, BtnB}) {
        PaintModeButton(button, false);
        button->setEnabled(false);
    }
    for (TLamp* lamp : {ShapeSyncA, ShapeMotionA, ShapeLevelA, ShapeAL, ShapeAR, ShapeSyncB,
                        ShapeMotionB, ShapeLevelB, ShapeBL, ShapeBR})
        PaintLamp(lamp, false, ButtonFace());
    for (QCheckBox* box : {CBoxSync, CBoxMotion, CBoxLevel, CBoxTHR, CBoxDIF, CBoxRec}) {
        box->setChecked(false);
        box->setEnabled(false);
    }
    for (TSpinEdit* edit : {SEditSyncT, SEditMotionT, SEditLevelT, SEditLevelV, SEditTHRV,
                            SEditDIFV, SEditTHRT, SEditDIFT, SEditRecT}) {
        edit->setEnabled(false);
        edit->SetValue(edit == SEditLevelV || edit == SEditDIFV ? 2.0 : 0.0);
    }
    BtnSETmode->setText("Adjust Mode");
    BtnSETmode->setEnabled(false);
    BtnSETset->setEnabled(false);
}

void TFormMain::BtnConnClick() {
    if (fLink->IsConnected()) {
        BtnConn->setEnabled(false);
        BtnConn->setText("Disconnecting...");
        // Shown now: Disconnect blocks the window thread until the worker has ended, up to
        // one exchange time-out against a slow device.
        BtnConn->repaint();
        fLink->Disconnect();
        // The stop event the worker posted runs here too, and the window is back in its
        // not-connected state; a click made during the wait does not connect again.
        DropQueuedInput();
        return;
    }
    TEndpoint endpoint;
    if (!ParseEndpoint(Trimmed(CBoxIP->currentText()).toStdString(), endpoint)) {
        Ask({"Invalid IP address", "Error", QMessageBox::Warning, QMessageBox::Ok});
        CBoxIP->setFocus();
        CBoxIP->lineEdit()->selectAll();
        return;
    }
    for (int i = 0; i < CBoxIP->count(); ++i) {
        if (EndpointValue(CBoxIP->itemText(i).toStdString()) == endpoint) {
            CBoxIP->removeItem(i);
            break;
        }
    }
    const QString canonical = QString::fromStdString(FormatEndpoint(endpoint));
    CBoxIP->insertItem(0, canonical);
    CBoxIP->setCurrentIndex(0);
    if (!SaveSettingsOrReport())
        return;
    ResetLinkLabels();
    fOverheat.Reset();
    CBoxIP->setEnabled(false);
    BtnConn->setEnabled(false);
    BtnConn->setText("Connecting...");
    JournalAdd("Control connecting address: " + canonical);
    fLink->Connect(FormatAddress(endpoint.Address), endpoint.Port);
}

void TFormMain::OnDeviceName() {
    PanelDev->SetText(QString::fromStdString(PrintableDeviceText(fLink->DeviceName())));
    fVideoAnalysis = AnalysesVideo(fLink->Status());
    RefreshControls();
}

void TFormMain::OnStop(int code) {
    RefreshControls();
    const QString reason = QString::fromStdString(StopReason(code, fLink->LastError()));
    if (StopIsFailure(code))
        ReportFailure(reason);
    else
        JournalAdd(reason);
}

void TFormMain::ReportFailure(const QString& reason) {
    JournalAdd(reason);
    JournalAdd(QString::fromStdString(StopSummary(fLeCount, fLrCount)));
    Ask({reason, "Error", QMessageBox::Warning, QMessageBox::Ok});
}

void TFormMain::closeEvent(QCloseEvent* event) {
    // A settings file that cannot be written is reported, but never keeps the station
    // from closing.
    SaveSettingsOrReport();
    if (fLink && fLink->IsConnected() &&
        Ask({"Control is running.\nClose anyway?", "Close", QMessageBox::Information,
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No}) != QMessageBox::Yes) {
        event->ignore();
        return;
    }
    fLink.reset();
    JournalAdd("Programm closed");
    event->accept();
}

// ---- Link diagnostics ------------------------------------------------------------

void TFormMain::ResetLinkLabels() {
    fLeCount = 0;
    fLrCount = 0;
    LC->setText("LC");
    LE->setText("LE");
    LR->setText("LR");
    for (QLabel* label : {LE, LR}) {
        QFont font = label->font();
        font.setBold(false);
        label->setFont(font);
    }
}

void TFormMain::OnLinkStat(std::uint32_t value, int kind) {
    const auto bold = [](QLabel* label) {
        QFont font = label->font();
        font.setBold(true);
        label->setFont(font);
    };
    switch (kind) {
    case LINK_RATE:
        LC->setText(QString("LC: %1/s").arg(value));
        break;
    case LINK_TIMEOUTS:
        LE->setText(QString("LE: %1").arg(value));
        fLeCount = value;
        bold(LE);
        break;
    case LINK_READ_WARNING:
        JournalAdd("!!! connection read malfunction");
        break;
    case LINK_READ_ERRORS:
        LR->setText(QString("LR: %1").arg(value));
        fLrCount = value;
        bold(LR);
        break;
    default:
        break;
    }
}

void TFormMain::PanelBackDblClick(Qt::KeyboardModifiers modifiers) {
    if (!modifiers.testFlag(Qt::ControlModifier))
        return;
    for (QLabel* label : {LC, LE, LR})
        label->setVisible(!label->isVisible());
}

// Return and Enter in the address box connect, as the button does. The keys reach the box
// itself, which hands them to its line edit by a direct call, or, while its list is open,
// the list, which has by then taken the highlighted address into the box. They are taken
// here, so that neither passes them on and acts on them a second time.
bool TFormMain::AddressBoxKey(const QKeyEvent& key) {
    if (key.key() != Qt::Key_Return && key.key() != Qt::Key_Enter)
        return false;
    if (BtnConn->isEnabled() && !fLink->IsRunning()) {
        CBoxIP->hidePopup();
        BtnConnClick();
    }
    return true;
}

bool TFormMain::IsAddressBoxPart(const QObject* watched) const {
    return CBoxIP != nullptr && (watched == CBoxIP || watched == CBoxIP->view());
}

// Keys in the address box; double-clicks on the bare background and on the three link
// labels, not on the other widgets whose unhandled clicks travel on to the background.
bool TFormMain::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && IsAddressBoxPart(watched))
        return AddressBoxKey(*static_cast<QKeyEvent*>(event));
    if (event->type() != QEvent::MouseButtonDblClick)
        return QWidget::eventFilter(watched, event);
    const auto* click = static_cast<QMouseEvent*>(event);
    const bool onLabel = watched == LC || watched == LE || watched == LR;
    const bool onBackground =
        watched == PanelBack && PanelBack->childAt(click->position().toPoint()) == nullptr;
    if (onLabel || onBackground)
        PanelBackDblClick(click->modifiers());
    return onLabel;
}

// ---- Settings file ---------------------------------------------------------------

void TFormMain::LoadSettings() {
    const TIniFile settings(fSettingsFileName);
    move(UsablePosition(settings.ReadInteger("WINDOW", "LEFT", DEFAULT_POSITION),
                        settings.ReadInteger("WINDOW", "TOP", DEFAULT_POSITION), width()));
    for (int index = 0; index < MRU_KEPT; ++index) {
        TEndpoint endpoint;
        if (!ParseEndpoint(settings.ReadString("SECMRU", MruKey(index), ""), endpoint))
            continue;
        const QString canonical = QString::fromStdString(FormatEndpoint(endpoint));
        if (CBoxIP->findText(canonical, Qt::MatchExactly) < 0)
            CBoxIP->addItem(canonical);
    }
}

bool TFormMain::SaveSettings() {
    TIniFile settings(fSettingsFileName);
    settings.WriteInteger("WINDOW", "LEFT", pos().x());
    settings.WriteInteger("WINDOW", "TOP", pos().y());
    const int count = CBoxIP->count();
    for (int index = 0; index < count; ++index) {
        TEndpoint endpoint;
        if (ParseEndpoint(CBoxIP->itemText(index).toStdString(), endpoint))
            settings.WriteString("SECMRU", MruKey(index), FormatEndpoint(endpoint));
    }
    for (int index = count; index < MRU_KEPT; ++index)
        settings.WriteString("SECMRU", MruKey(index), "");
    return settings.UpdateFile();
}

bool TFormMain::SaveSettingsOrReport() {
    if (SaveSettings())
        return true;
    ShowError("Unable to write to " + QString::fromStdString(fSettingsFileName));
    return false;
}

// ---- Journal ---------------------------------------------------------------------

void TFormMain::JournalInsert(const QString& line) {
    BtnSaveJ->setEnabled(true);
    BtnEraseJ->setEnabled(true);
    fJournal->Append(line);
}

void TFormMain::JournalAdd(const QString& message) {
    JournalInsert(TimeStampedLine(QDateTime::currentDateTime(), message));
}

void TFormMain::JournalChange(const QString& message) {
    if (!fLink->FullRefresh)
        JournalAdd(message);
}

void TFormMain::JournalReport(const QString& message) {
    if (fLink->FullRefresh)
        JournalAdd(message);
}

void TFormMain::JournalReportMore(const QString& text) {
    if (fLink->FullRefresh)
        JournalInsert(ContinuationLine(text));
}

void TFormMain::BtnSaveJClick() {
    const QString fileName = AskSaveFileName(this);
    if (fileName.isEmpty())
        return;
    QString error;
    if (!fJournal->SaveTo(fileName, error))
        ShowError(error);
}

void TFormMain::BtnEraseJClick() {
    if (fJournal->Count() == 0)
        return;
    if (Ask({"Erase all journal data?", "Warning", QMessageBox::Information,
             QMessageBox::Yes | QMessageBox::No, QMessageBox::No}) != QMessageBox::Yes)
        return;
    fJournal->Clear();
    BtnSaveJ->setEnabled(false);
    BtnEraseJ->setEnabled(false);
}

// ---- Message boxes ---------------------------------------------------------------

QMessageBox::StandardButton TFormMain::Ask(const TMessage& message) {
    return ShowMessage(this, message);
}

void TFormMain::ShowError(const QString& text) {
    Ask({text, QString::fromUtf8(APP_TITLE), QMessageBox::Critical, QMessageBox::Ok});
}
