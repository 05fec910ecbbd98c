#pragma once

// Small widgets of the main window: the lamps and the flat text boxes.

#include <QColor>
#include <QPushButton>
#include <QString>
#include <QWidget>

class QAbstractButton;

// Colours of the window's system scheme.
QColor ButtonFace();
QColor ThreeDLight();
// Lamp colour of a check or power supply state: white, green, red, yellow.
QColor StateColour(int state);

// How far apart two colours are for reading text: from 1 (the same lightness) to 21
// (black on white), as the web content accessibility guidelines measure it.
double ContrastRatio(const QColor& first, const QColor& second);
// The colour itself where it reads on the background at 4.5:1 or better, else the
// colour moved towards white or black, whichever reaches that first.
QColor ReadableOn(const QColor& colour, const QColor& background);
// Text colours that go with the window's own light backgrounds, whatever the system's
// scheme: black, and a grey for disabled widgets.
QColor PinnedText();
QColor PinnedDisabledText();

// A 21 x 21 rounded square filled with one colour.
class TLamp : public QWidget {
    Q_OBJECT

public:
    explicit TLamp(QWidget* parent);

    QColor Fill() const { return fFill; }
    // Repaints only when the colour differs from the fill. The word tells the state in
    // the lamp's tooltip, for whoever cannot tell the colours apart.
    void SetFill(const QColor& colour, const QString& word = QString());

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor fFill;
};

// A flat, read-only box of one line of text: light background, thin blue-grey border,
// text left-aligned five pixels in. The background is the system's 3D-light colour where
// black text reads on it, else white: the text colours are set by the window.
class TTextPanel : public QWidget {
    Q_OBJECT

public:
    explicit TTextPanel(QWidget* parent);

    QString Text() const { return fText; }
    void SetText(const QString& text);
    QColor TextColour() const { return fTextColour; }
    void SetTextColour(const QColor& colour);
    QColor Background() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString fText;
    QColor fTextColour = Qt::black;
};

// A mode button: a flat face filled with exactly its background colour (the palette's
// button colour), a thin border, a highlight frame while the mouse is over it (hot
// tracking) and a hand cursor. Its icon stands ten pixels from the left edge and its
// caption four pixels right of the icon; a caption without an icon is centred. The caption is black
// on a face that was given a colour of its own, and in the system's button-text colour on the
// system's button face.
class TModeButton : public QPushButton {
    Q_OBJECT

public:
    TModeButton(const QString& text, QWidget* parent);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// A push button's background colour, and setting it so that the default style paints it.
QColor ButtonColour(const QAbstractButton* button);
void SetButtonColour(QAbstractButton* button, const QColor& colour);
