#include "Widgets.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPainter>
#include <QPalette>

namespace {

constexpr int LAMP_SIZE = 21;
constexpr int LAMP_RADIUS = 5;
constexpr int TEXT_MARGIN = 5;
const QColor PANEL_BORDER(127, 157, 185);
const QColor LAMP_OUTLINE(96, 96, 96);

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

TLamp::TLamp(QWidget* parent) : QWidget(parent), fFill(ButtonFace()) {
    setFixedSize(LAMP_SIZE, LAMP_SIZE);
}

void TLamp::SetFill(const QColor& colour) {
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

void TTextPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), ThreeDLight());
    painter.setPen(PANEL_BORDER);
    painter.drawRect(rect().adjusted(0, 0, -1, -1));
    painter.setPen(fTextColour);
    painter.drawText(rect().adjusted(TEXT_MARGIN, 0, -TEXT_MARGIN, 0),
                     Qt::AlignLeft | Qt::AlignVCenter, fText);
}

QColor ButtonColour(const QAbstractButton* button) {
    return button->palette().color(QPalette::Button);
}

void SetButtonColour(QAbstractButton* button, const QColor& colour) {
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, colour);
    button->setPalette(palette);
}
