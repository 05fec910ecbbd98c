#pragma once

// The numeric entry field of the settings page: a decimal number with a fixed number of
// decimals, a range, a step and a page step, a value for an empty field and an optional
// check before every step. The text is the field's only state.

#include "SettingsFields.h"

#include <QAbstractSpinBox>
#include <functional>

class TSpinEdit : public QAbstractSpinBox {
    Q_OBJECT

public:
    explicit TSpinEdit(const TSpinEditSpec& range, QWidget* parent = nullptr);

    // Empty text reads as Blank, text that is not a number as Min, anything else as the
    // number, even outside Min..Max while the operator is still typing.
    double Value() const;
    // Limits to Min..Max and rewrites the text with the field's decimals.
    void SetValue(double value);
    bool IsEmpty() const;

    // Asked with the new value before a step is taken; the step is dropped when it answers
    // false. Unset allows every step.
    std::function<bool(double newValue)> OnChanging;

    QValidator::State validate(QString& input, int& pos) const override;
    void stepBy(int steps) override;

signals:
    // The operator changed the text: typing, a step, or the rewrite on leaving the field.
    void Edited();

protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void StepByAmount(double amount);
    void SetValueByOperator(double value);
    void Commit();
    double Rounded(double value) const;
    QString TextOf(double value) const;

    TSpinEditSpec fSpec;
    int fWheelRemainder = 0;
};
