#include "Widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QStyleOptionButton>
#include <algorithm>
#include <cmath>

namespace {

constexpr int LAMP_SIZE = 21;
constexpr int LAMP_RADIUS = 5;
constexpr int TEXT_MARGIN = 5;
const QColor PANEL_BORDER(127, 157, 185);
const QColor LAMP_OUTLINE(96, 96, 96);
const QColor PINNED_TEXT(0, 0, 0);
const QColor PINNED_GREY_TEXT(109, 109, 109);
constexpr double READABLE_CONTRAST = 4.5;

double RelativeLuminance(const QColor& colour) {
    const auto linear = [](double channel) {
        return channel <= 0.03928 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

QColor Mix(const QColor& from, const QColor& to, double share) {
    const auto channel = [share](int a, int b) {
        return static_cast<int>(std::lround(a + (b - a) * share));
    };
    return {channel(from.red(), to.red()), channel(from.green(), to.green()),
            channel(from.blue(), to.blue())};
}
constexpr int MODE_ICON_MARGIN = 10;
constexpr int MODE_ICON_SPACING = 4;

} // namespace

QColor ButtonFace() {
    return QApplication::palette().color(QPalette::Button);
}

QColor ThreeDLight() {
    return QApplication::palette().color(QPalette::Light);
}

QColor StateColour(int state) {
    static const QColor colours[] = {QColor(255, 255, 255), QColor(0, 255, 0), QColor(255, 0, 0),
                                     QColor(255, 255, 0)};
    return colours[state & 3];
}

double ContrastRatio(const QColor& first, const QColor& second) {
    const double a = RelativeLuminance(first);
    const double b = RelativeLuminance(second);
    return (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05);
}

QColor ReadableOn(const QColor& colour, const QColor& background) {
    for (int step = 0; step <= 10; ++step) {
        for (const QColor& end : {QColor(Qt::white), QColor(Qt::black)}) {
            const QColor moved = Mix(colour, end, step / 10.0);
            if (ContrastRatio(moved, background) >= READABLE_CONTRAST)
                return moved;
        }
    }
    return ContrastRatio(Qt::white, background) > ContrastRatio(Qt::black, background)
               ? QColor(Qt::white)
               : QColor(Qt::black);
}

QColor PinnedText() {
    return PINNED_TEXT;
}

QColor PinnedDisabledText() {
    return PINNED_GREY_TEXT;
}

TLamp::TLamp(QWidget* parent) : QWidget(parent), fFill(ButtonFace()) {
    setFixedSize(LAMP_SIZE, LAMP_SIZE);
}

void TLamp::SetFill(const QColor& colour, const QString& word) {
    setToolTip(word);
    if (colour == fFill)
        return;
    fFill = colour;
    update();
}

void TLamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(LAMP_OUTLINE, 1));
    painter.setBrush(fFill);
    painter.drawRoundedRect(QRectF(0.5, 0.5, LAMP_SIZE - 1, LAMP_SIZE - 1), LAMP_RADIUS,
                            LAMP_RADIUS);
}

TTextPanel::TTextPanel(QWidget* parent) : QWidget(parent) {}

void TTextPanel::SetText(const QString& text) {
    if (text == fText)
        return;
    fText = text;
    update();
}

void TTextPanel::SetTextColour(const QColor& colour) {
    if (colour == fTextColour)
        return;
    fTextColour = colour;
    update();
}

QColor TTextPanel::Background() const {
    const QColor light = ThreeDLight();
    return ContrastRatio(PINNED_TEXT, light) >= READABLE_CONTRAST ? light : QColor(Qt::white);
}

void TTextPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Background());
    painter.setPen(PANEL_BORDER);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(fTextColour);
    painter.drawText(rect().adjusted(TEXT_MARGIN, 0, -TEXT_MARGIN, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, fText);
}

TModeButton::TModeButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
}

// Rings from the edge inwards: the border (pixel 0), the hover frame (pixels 1 and 2),
// the focus mark (pixel 3); the face fills all the rest.
void TModeButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    const QColor face = colours.color(QPalette::Button);
    const bool enabled = isEnabled();
    const QRect area = rect();
    painter.fillRect(area, face);

    const QPalette::ColorGroup group = enabled ? QPalette::Active : QPalette::Disabled;
    painter.setPen(colours.color(group, QPalette::Shadow));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    if (enabled && (underMouse() || isDown())) {
        painter.setPen(QPen(colours.color(QPalette::Active, QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(area).adjusted(2, 2, -2, -2));
    }
    if (hasFocus()) {
        QPen dots(colours.color(group, QPalette::Shadow), 1, Qt::DotLine);
        painter.setPen(dots);
        painter.drawRect(area.adjusted(3, 3, -4, -4));
    }

    // The caption's colour goes with the face's: black on a colour of the button's own.
    const bool ownFace = face != ButtonFace();
    const QColor text = ownFace ? (enabled ? PinnedText() : PinnedDisabledText())
                                : colours.color(group, QPalette::ButtonText);
    QRect room = area;
    const int shift = isDown() ? 1 : 0;
    if (!icon().isNull()) {
        const QSize size = iconSize();
        const QRect place(MODE_ICON_MARGIN + shift, (area.height() - size.height()) / 2 + shift,
                          size.width(), size.height());
        icon().paint(&painter, place, Qt::AlignCenter, enabled ? QIcon::Normal : QIcon::Disabled);
        room.setLeft(place.right() + 1 + MODE_ICON_SPACING);
    }
    painter.setFont(font());
    painter.setPen(text);
    const int alignment = icon().isNull() ? Qt::AlignCenter : Qt::AlignLeft | Qt::AlignVCenter;
    painter.drawText(room.translated(shift, shift), alignment | Qt::TextShowMnemonic, this->text());
}

QColor ButtonColour(const QAbstractButton* button) {
    return button->palette().color(QPalette::Button);
}

void SetButtonColour(QAbstractButton* button, const QColor& colour) {
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colour);
    button->setPalette(palette);
}
