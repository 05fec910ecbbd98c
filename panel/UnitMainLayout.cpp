// The main window's widgets: places, sizes, captions, colours and initial states.

#include "Journal.h"
#include "JournalView.h"
#include "SpinEdit.h"
#include "UnitMain.h"
#include "Widgets.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>

namespace {

constexpr int CLIENT_WIDTH = 489;
constexpr int CLIENT_HEIGHT = 777;
constexpr int JOURNAL_ROW_HEIGHT = 14;
const QColor GROUP_CAPTION(0, 70, 213);
const QColor PAGE_BACKGROUND(247, 246, 242);
const QColor CHECK_FILL(251, 251, 252);

QFont WindowFont(int pointSize) {
    QFont font;
    font.setFamilies({"Tahoma", "Liberation Sans", "Arial", "DejaVu Sans"});
    font.setPointSize(pointSize);
    return font;
}

QFont JournalFont() {
    QFont font;
    font.setFamilies({"Courier New", "Liberation Mono", "DejaVu Sans Mono"});
    font.setStyleHint(QFont::TypeWriter);
    font.setPointSize(8);
    return font;
}

template <typename TWidget> TWidget* Named(TWidget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

// Sets the text colours of every state: the given ones where enabled, the disabled one
// where not.
void SetTextColours(QWidget* widget, const QColor& text, const QColor& disabled,
                    std::initializer_list<QPalette::ColorRole> roles) {
    QPalette palette = widget->palette();
    for (const QPalette::ColorRole role : roles) {
        palette.setColor(QPalette::Active, role, text);
        palette.setColor(QPalette::Inactive, role, text);
        palette.setColor(QPalette::Disabled, role, disabled);
    }
    widget->setPalette(palette);
}

// Group captions are blue where blue reads on what lies behind them, a lighter or darker
// blue where it would not; what the group holds keeps the plain text colours.
void ColourCaption(QGroupBox* group) {
    const QColor behind = group->parentWidget()->palette().color(QPalette::Window);
    const QColor caption = ReadableOn(GROUP_CAPTION, behind);
    QPalette palette = group->palette();
    palette.setColor(QPalette::WindowText, caption);
    palette.setColor(QPalette::Text, caption);
    group->setPalette(palette);
}

// The text colours of a palette in every state, so disabled widgets still grey out.
void KeepTextOf(QWidget* widget, const QPalette& plain) {
    QPalette palette = widget->palette();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        for (const auto role : {QPalette::WindowText, QPalette::Text})
            palette.setColor(group, role, plain.color(group, role));
    }
    widget->setPalette(palette);
}

// Text drawn straight on the background takes the text colours of that background: the
// system's on the window, the window's own on its light pages. Groups in between only
// colour their captions.
void KeepPlainText(QWidget* widget) {
    QWidget* backdrop = widget->parentWidget();
    while (qobject_cast<QGroupBox*>(backdrop) != nullptr)
        backdrop = backdrop->parentWidget();
    KeepTextOf(widget, backdrop->palette());
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QString& caption, QRect place) {
    auto* group = Named(new QGroupBox(caption, parent), name);
    group->setGeometry(place);
    ColourCaption(group);
    return group;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, QPoint at,
                  int centredWidth = 0) {
    auto* label = Named(new QLabel(text, parent), name);
    KeepPlainText(label);
    label->adjustSize();
    if (centredWidth > 0) {
        label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
        label->resize(centredWidth, label->height());
    }
    label->move(at);
    return label;
}

QCheckBox* MakeCheckBox(QWidget* parent, const char* name, const QString& text, QPoint at) {
    auto* box = Named(new QCheckBox(text, parent), name);
    KeepPlainText(box);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Base, CHECK_FILL);
    box->setPalette(palette);
    // The check mark is drawn on the box's own light fill.
    SetTextColours(box, PinnedText(), PinnedDisabledText(), {QPalette::Text});
    box->setGeometry(at.x(), at.y(), 89, 17);
    return box;
}

TLamp* MakeLamp(QWidget* parent, const char* name, QPoint at) {
    auto* lamp = Named(new TLamp(parent), name);
    lamp->move(at);
    return lamp;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, QRect place) {
    auto* button = Named(new QPushButton(text, parent), name);
    button->setGeometry(place);
    return button;
}

TSpinEdit* MakeSpinEdit(QWidget* parent, const char* name, const TSpinEditSpec& range, QPoint at) {
    auto* edit = Named(new TSpinEdit(range, parent), name);
    // Its text stands on its own field, in the system's colours.
    KeepTextOf(edit, QApplication::palette());
    edit->setGeometry(at.x(), at.y(), 65, 21);
    return edit;
}

QPushButton* MakeModeButton(QWidget* parent, const char* name, const QString& text, int x) {
    auto* button = Named(new TModeButton(text, parent), name);
    button->setGeometry(x, 24, 89, 41);
    button->setFont(WindowFont(12));
    return button;
}

// Two arrows chasing each other round a circle: automatic changeover.
QIcon AutoIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0, 70, 213), 2));
    painter.drawArc(QRectF(2, 2, 12, 12), 30 * 16, 120 * 16);
    painter.drawArc(QRectF(2, 2, 12, 12), 210 * 16, 120 * 16);
    painter.setBrush(QColor(0, 70, 213));
    painter.drawPolygon(QPolygonF({QPointF(2, 4), QPointF(6, 8), QPointF(1, 9)}));
    painter.drawPolygon(QPolygonF({QPointF(14, 12), QPointF(10, 8), QPointF(15, 7)}));
    return QIcon(pixmap);
}

constexpr int TAB_HEIGHT = 19;

// Tabs of a fixed height, so that the tab widget keeps no more room for them than they
// take and the selected tab joins its page.
class TTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    QSize tabSizeHint(int index) const override {
        return {QTabBar::tabSizeHint(index).width(), TAB_HEIGHT};
    }
    QSize minimumTabSizeHint(int index) const override {
        return {QTabBar::minimumTabSizeHint(index).width(), TAB_HEIGHT};
    }
};

class TTabWidget : public QTabWidget {
public:
    explicit TTabWidget(QWidget* parent) : QTabWidget(parent) { setTabBar(new TTabBar(this)); }
};

QWidget* MakePage(QTabWidget* tabs, const char* name, const QString& caption) {
    auto* page = Named(new QWidget, name);
    page->setAutoFillBackground(true);
    QPalette palette = page->palette();
    palette.setColor(QPalette::Window, PAGE_BACKGROUND);
    page->setPalette(palette);
    // A light page of the window's own carries dark text in any system scheme.
    SetTextColours(page, PinnedText(), PinnedDisabledText(),
                   {QPalette::WindowText, QPalette::Text});
    tabs->addTab(page, caption);
    return page;
}

} // namespace

void TFormMain::CreateWidgets() {
    setFont(WindowFont(8));
    setFixedSize(CLIENT_WIDTH, CLIENT_HEIGHT);
    PanelBack = Named(new QWidget(this), "PanelBack");
    PanelBack->setGeometry(0, 0, CLIENT_WIDTH, CLIENT_HEIGHT);
    PanelBack->installEventFilter(this);
    CreateTopArea();
    CreatePowerGroup();
    CreateTabs();
    CreateJournalArea();
    setTabOrder(BtnConn, CBoxIP);
    BtnConn->setFocus();
}

void TFormMain::CreateTopArea() {
    CBoxIP = Named(new QComboBox(PanelBack), "CBoxIP");
    CBoxIP->setGeometry(8, 9, 161, 21);
    CBoxIP->setEditable(true);
    CBoxIP->setMaxVisibleItems(10);
    CBoxIP->setCompleter(nullptr);
    CBoxIP->setInsertPolicy(QComboBox::NoInsert);
    CBoxIP->installEventFilter(this);
    CBoxIP->view()->installEventFilter(this);
    BtnConn = MakeButton(PanelBack, "BtnConn", "Connect", QRect(176, 6, 89, 25));
    connect(BtnConn, &QPushButton::clicked, this, [this] { BtnConnClick(); });
    LC = MakeLabel(PanelBack, "LC", "LC", QPoint(288, 5));
    LE = MakeLabel(PanelBack, "LE", "LE", QPoint(384, 5));
    LR = MakeLabel(PanelBack, "LR", "LR", QPoint(384, 21));
    for (QLabel* label : {LC, LE, LR}) {
        label->resize(81, 13);
        label->hide();
        label->installEventFilter(this);
    }
    MakeLabel(PanelBack, "LabelDev", "Connected device", QPoint(8, 44));
    PanelDev = Named(new TTextPanel(PanelBack), "PanelDev");
    PanelDev->setGeometry(104, 40, 361, 21);
}

void TFormMain::CreatePowerGroup() {
    QGroupBox* group = MakeGroup(PanelBack, "GBoxPSU", " Power Supply and Temperature control ",
                                 QRect(8, 72, 473, 121));
    MakeLabel(group, "LabelPSU1", "Power Supply Unit 1", QPoint(8, 24));
    CBoxPSU1 = MakeCheckBox(group, "CBoxPSU1", "monitoring", QPoint(144, 24));
    ShapePSU1 = MakeLamp(group, "ShapePSU1", QPoint(240, 21));
    MakeLabel(group, "LabelPSU2", "Power Supply Unit 2", QPoint(8, 56));
    CBoxPSU2 = MakeCheckBox(group, "CBoxPSU2", "monitoring", QPoint(144, 56));
    ShapePSU2 = MakeLamp(group, "ShapePSU2", QPoint(240, 53));
    MakeLabel(group, "LabelTemp", "Temperature, C", QPoint(8, 88));
    PanelTemp = Named(new TTextPanel(group), "PanelTemp");
    PanelTemp->setGeometry(144, 85, 33, 21);
    ShapeTemp = MakeLamp(group, "ShapeTemp", QPoint(240, 85));
    BtnPSUmode = MakeButton(group, "BtnPSUmode", "Adjust Mode", QRect(296, 85, 75, 25));
    BtnPSUset = MakeButton(group, "BtnPSUset", "Set", QRect(384, 85, 75, 25));
    for (QWidget* widget :
         std::initializer_list<QWidget*>{CBoxPSU1, CBoxPSU2, BtnPSUmode, BtnPSUset})
        widget->setEnabled(false);
}

void TFormMain::CreateTabs() {
    PControl = Named(new TTabWidget(PanelBack), "PControl");
    PControl->setGeometry(8, 200, 473, 369);
    PControl->tabBar()->setMouseTracking(false);
    CreateMonitoringPage(MakePage(PControl, "TabMon", "Monitoring"));
    CreateSettingsPage(MakePage(PControl, "TabSet", "Settings"));
    PControl->setCurrentIndex(0);
}

void TFormMain::CreateMonitoringPage(QWidget* page) {
    QGroupBox* mode = MakeGroup(page, "GBoxMode", " Mode ", QRect(8, 8, 457, 85));
    BtnA = MakeModeButton(mode, "BtnA", "A", 48);
    BtnAuto = MakeModeButton(mode, "BtnAuto", "Auto", 184);
    BtnAuto->setIcon(AutoIcon());
    BtnB = MakeModeButton(mode, "BtnB", "B", 320);
    for (QPushButton* button : {BtnA, BtnAuto, BtnB})
        button->setEnabled(false);

    QGroupBox* status = MakeGroup(page, "GBoxStatus", " Status ", QRect(6, 104, 457, 228));
    QGroupBox* video = MakeGroup(status, "GBoxVideo", " Video ", QRect(8, 24, 441, 121));
    ShapeSyncA = MakeLamp(video, "ShapeSyncA", QPoint(72, 21));
    ShapeMotionA = MakeLamp(video, "ShapeMotionA", QPoint(72, 53));
    ShapeLevelA = MakeLamp(video, "ShapeLevelA", QPoint(72, 85));
    MakeLabel(video, "LabelSync", "SYNC", QPoint(112, 24), 217);
    MakeLabel(video, "LabelMotion", "MOTION", QPoint(112, 56), 217);
    MakeLabel(video, "LabelLevel", "DIF. LEVEL", QPoint(112, 88), 217);
    ShapeSyncB = MakeLamp(video, "ShapeSyncB", QPoint(347, 21));
    ShapeMotionB = MakeLamp(video, "ShapeMotionB", QPoint(347, 53));
    ShapeLevelB = MakeLamp(video, "ShapeLevelB", QPoint(347, 85));

    QGroupBox* audio = MakeGroup(status, "GBoxAudio", " Audio ", QRect(8, 152, 441, 68));
    ShapeAL = MakeLamp(audio, "ShapeAL", QPoint(54, 21));
    ShapeAR = MakeLamp(audio, "ShapeAR", QPoint(90, 21));
    MakeLabel(audio, "LabelAL", "L", QPoint(49, 45), 31);
    MakeLabel(audio, "LabelAR", "R", QPoint(86, 45), 31);
    MakeLabel(audio, "LabelDIF", "DIF. LEVEL +", QPoint(120, 24), 201);
    MakeLabel(audio, "LabelTHR", "THRESHOLD", QPoint(120, 40), 201);
    ShapeBL = MakeLamp(audio, "ShapeBL", QPoint(330, 21));
    ShapeBR = MakeLamp(audio, "ShapeBR", QPoint(366, 21));
    MakeLabel(audio, "LabelBL", "L", QPoint(325, 45), 31);
    MakeLabel(audio, "LabelBR", "R", QPoint(362, 45), 31);
}

void TFormMain::CreateSettingsPage(QWidget* page) {
    QGroupBox* video = MakeGroup(page, "GBoxVideoA", " Video analysis ", QRect(8, 8, 457, 137));
    MakeLabel(video, "LabelValV", "Value, dB", QPoint(136, 16), 65);
    MakeLabel(video, "LabelTimeV", "Time, s", QPoint(208, 16), 65);
    CBoxSync = MakeCheckBox(video, "CBoxSync", "SYNC", QPoint(8, 40));
    CBoxMotion = MakeCheckBox(video, "CBoxMotion", "MOTION", QPoint(8, 72));
    CBoxLevel = MakeCheckBox(video, "CBoxLevel", "DIF. LEVEL", QPoint(8, 104));
    SEditSyncT =
        MakeSpinEdit(video, "SEditSyncT", FieldSpec(TSettingField::SyncTime), QPoint(208, 38));
    SEditMotionT =
        MakeSpinEdit(video, "SEditMotionT", FieldSpec(TSettingField::MotionTime), QPoint(208, 70));
    SEditLevelT =
        MakeSpinEdit(video, "SEditLevelT", FieldSpec(TSettingField::LevelTime), QPoint(208, 102));
    SEditLevelV =
        MakeSpinEdit(video, "SEditLevelV", FieldSpec(TSettingField::LevelValue), QPoint(136, 102));

    QGroupBox* audio = MakeGroup(page, "GBoxAudioA", " Audio analysis ", QRect(8, 152, 457, 105));
    MakeLabel(audio, "LabelValA", "Value, dB", QPoint(136, 16), 65);
    MakeLabel(audio, "LabelTimeA", "Time, s", QPoint(208, 16), 65);
    CBoxTHR = MakeCheckBox(audio, "CBoxTHR", "THRESHOLD", QPoint(8, 40));
    CBoxDIF = MakeCheckBox(audio, "CBoxDIF", "DIF. LEVEL", QPoint(8, 72));
    SEditTHRV =
        MakeSpinEdit(audio, "SEditTHRV", FieldSpec(TSettingField::ThresholdValue), QPoint(136, 38));
    SEditDIFV = MakeSpinEdit(audio, "SEditDIFV", FieldSpec(TSettingField::AudioLevelValue),
                             QPoint(136, 70));
    SEditTHRT =
        MakeSpinEdit(audio, "SEditTHRT", FieldSpec(TSettingField::ThresholdTime), QPoint(208, 38));
    SEditDIFT =
        MakeSpinEdit(audio, "SEditDIFT", FieldSpec(TSettingField::AudioLevelTime), QPoint(208, 70));

    CBoxRec = MakeCheckBox(page, "CBoxRec", "RECOVERY", QPoint(16, 272));
    SEditRecT =
        MakeSpinEdit(page, "SEditRecT", FieldSpec(TSettingField::RecoveryTime), QPoint(216, 270));
    BtnSETmode = MakeButton(page, "BtnSETmode", "Adjust Mode", QRect(296, 309, 75, 25));
    BtnSETset = MakeButton(page, "BtnSETset", "Set", QRect(384, 309, 75, 25));
    BtnSETmode->setEnabled(false);
    BtnSETset->setEnabled(false);
}

void TFormMain::CreateJournalArea() {
    MakeLabel(PanelBack, "LabelJournal", "Journal", QPoint(8, 579), 473);
    // Rows 14 pixels high whatever the font's own line height.
    LBoxJ = Named(new TJournalView(JOURNAL_ROW_HEIGHT, PanelBack), "LBoxJ");
    LBoxJ->setGeometry(8, 600, 473, 137);
    LBoxJ->setFont(JournalFont());
    LBoxJ->setModel(fJournal.get());
    LBoxJ->setSelectionMode(QAbstractItemView::SingleSelection);
    LBoxJ->setEditTriggers(QAbstractItemView::NoEditTriggers);
    BtnSaveJ = MakeButton(PanelBack, "BtnSaveJ", "Save Journal", QRect(304, 747, 81, 20));
    BtnEraseJ = MakeButton(PanelBack, "BtnEraseJ", "Erase Journal", QRect(400, 747, 81, 20));
    BtnSaveJ->setEnabled(false);
    BtnEraseJ->setEnabled(false);
    connect(BtnSaveJ, &QPushButton::clicked, this, [this] { BtnSaveJClick(); });
    connect(BtnEraseJ, &QPushButton::clicked, this, [this] { BtnEraseJClick(); });
}
