#include "SpinEdit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QStyle>
#include <QWheelEvent>
#include <algorithm>

namespace {

constexpr int WHEEL_NOTCH = 120; // angle delta of one notch of a mouse wheel

// The operator's decimal separator. Only the separator follows the locale: digits and the
// minus sign stay ASCII, so what the field shows it can always read back.
QString DecimalPoint() {
    return QLocale().decimalPoint();
}

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Digits after at most one leading sign, with at most one decimal separator where the field
// has decimals. Text without a digit yet ("-", ",") is on its way to a number.
QValidator::State CheckNumberText(QStringView text, QStringView point, bool decimals) {
    qsizetype at = !text.isEmpty() && (text.front() == u'+' || text.front() == u'-') ? 1 : 0;
    bool digitSeen = false;
    bool pointSeen = false;
    while (at < text.size()) {
        if (IsAsciiDigit(text[at])) {
            digitSeen = true;
            ++at;
        } else if (decimals && !pointSeen && text.sliced(at).startsWith(point)) {
            pointSeen = true;
            at += point.size();
        } else {
            return QValidator::Invalid;
        }
    }
    return digitSeen || text.isEmpty() ? QValidator::Acceptable : QValidator::Intermediate;
}

} // namespace

TSpinEdit::TSpinEdit(const TSpinEditSpec& range, QWidget* parent)
    : QAbstractSpinBox(parent), fSpec(range) {
    SetValue(range.Initial);
    connect(lineEdit(), &QLineEdit::textEdited, this, &TSpinEdit::Edited);
    connect(this, &QAbstractSpinBox::editingFinished, this, &TSpinEdit::Commit);
}

double TSpinEdit::Value() const {
    const QString shown = text();
    if (shown.isEmpty())
        return fSpec.Blank;
    const QString point = DecimalPoint();
    if (CheckNumberText(shown, point, fSpec.Decimals > 0) != QValidator::Acceptable)
        return fSpec.Min;
    bool ok = false;
    const double value = QString(shown).replace(point, QStringLiteral(".")).toDouble(&ok);
    return ok ? value : fSpec.Min;
}

void TSpinEdit::SetValue(double value) {
    lineEdit()->setText(TextOf(std::clamp(value, fSpec.Min, fSpec.Max)));
}

bool TSpinEdit::IsEmpty() const {
    return text().isEmpty();
}

QValidator::State TSpinEdit::validate(QString& input, int& /*pos*/) const {
    return CheckNumberText(input, DecimalPoint(), fSpec.Decimals > 0);
}

void TSpinEdit::stepBy(int steps) {
    StepByAmount(steps * fSpec.Step);
}

// Whether a step may go further is for OnChanging and the limits to say.
QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
    return StepUpEnabled | StepDownEnabled;
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_PageUp:
        StepByAmount(fSpec.PageStep);
        break;
    case Qt::Key_PageDown:
        StepByAmount(-fSpec.PageStep);
        break;
    default:
        QAbstractSpinBox::keyPressEvent(event);
        return;
    }
    event->accept();
}

// One step per wheel notch, one page step per notch with Ctrl held. Fine-grained wheels
// deliver fractions of a notch, which add up until a whole notch is reached.
void TSpinEdit::wheelEvent(QWheelEvent* event) {
    fWheelRemainder += event->angleDelta().y();
    const int notches = fWheelRemainder / WHEEL_NOTCH;
    fWheelRemainder -= notches * WHEEL_NOTCH;
    const bool page = event->modifiers().testFlag(Qt::ControlModifier);
    if (notches != 0)
        StepByAmount(notches * (page ? fSpec.PageStep : fSpec.Step));
    event->accept();
}

// An empty field steps from its blank value. The check sees the value as it would be shown.
void TSpinEdit::StepByAmount(double amount) {
    const double newValue = Rounded(Value() + amount);
    if (OnChanging && !OnChanging(newValue))
        return;
    SetValueByOperator(newValue);
    if (style()->styleHint(QStyle::SH_SpinBox_SelectOnStep, nullptr, this))
        selectAll();
}

void TSpinEdit::SetValueByOperator(double value) {
    const QString before = text();
    SetValue(value);
    if (text() != before)
        emit Edited();
}

// Leaving the field after typing: limit and rewrite, but an empty field stays empty.
void TSpinEdit::Commit() {
    if (!IsEmpty())
        SetValueByOperator(Value());
}

// The value as the field would show it. Adding zero turns a negative zero into zero, so a
// value that rounds to zero never shows as "-0".
double TSpinEdit::Rounded(double value) const {
    return QString::number(value, 'f', fSpec.Decimals).toDouble() + 0.0;
}

QString TSpinEdit::TextOf(double value) const {
    return QString::number(Rounded(value), 'f', fSpec.Decimals).replace(u'.', DecimalPoint());
}
