#include "SpinEdit.h"

#include <QApplication>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace {

// Fields read and write numbers in a pinned locale, whatever the machine's.
class SpinEditTest : public testing::Test {
protected:
    void SetUp() override {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedKingdom));
    }
    void TearDown() override { QLocale::setDefault(fSaved); }

private:
    QLocale fSaved;
};

// Replaces the whole text by typing; Return then leaves the field.
void Type(TSpinEdit& edit, const QString& keys, bool leave = false) {
    edit.selectAll();
    QTest::keyClick(&edit, Qt::Key_Backspace);
    QTest::keyClicks(&edit, keys);
    if (leave)
        QTest::keyClick(&edit, Qt::Key_Return);
}

void Wheel(TSpinEdit& edit, int delta, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, delta), Qt::NoButton,
                      modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&edit, &event);
}

} // namespace

TEST_F(SpinEditTest, TypingReadingAndLeavingFollowTheFieldRules) {
    TSpinEdit time(FieldSpec(TSettingField::SyncTime));
    EXPECT_EQ(time.text(), "1.9");
    Type(time, "-1.2.3a +,");
    EXPECT_EQ(time.text(), "-1.23") << "one leading sign, one separator of this locale, digits";
    Type(time, "150");
    EXPECT_EQ(time.Value(), 150) << "not limited before leaving";
    Type(time, "150", true);
    EXPECT_EQ(time.text(), "99.9");
    Type(time, "", true);
    EXPECT_TRUE(time.IsEmpty());

    TSpinEdit threshold(FieldSpec(TSettingField::ThresholdValue));
    EXPECT_EQ(threshold.Value(), -1);
    Type(threshold, "");
    EXPECT_EQ(threshold.Value(), -60) << "blank value";
    for (const char* pasted : {"abc", "-", "nan", "1e3"}) {
        threshold.findChild<QLineEdit*>()->setText(pasted);
        EXPECT_EQ(threshold.Value(), -60) << pasted;
    }
    threshold.SetValue(-0.4);
    EXPECT_EQ(threshold.text(), "0") << "no negative zero";
}

TEST_F(SpinEditTest, StepsAndPageStepsByKeysAndWheel) {
    TSpinEdit time(FieldSpec(TSettingField::SyncTime));
    for (int i = 0; i < 10; ++i)
        QTest::keyClick(&time, Qt::Key_Up);
    EXPECT_EQ(time.text(), "2.9") << "no drift";
    QTest::keyClick(&time, Qt::Key_PageDown);
    EXPECT_EQ(time.text(), "0.0") << "limited";

    TSpinEdit recovery(FieldSpec(TSettingField::RecoveryTime));
    Wheel(recovery, 60);
    Wheel(recovery, 60);
    Wheel(recovery, 120, Qt::ControlModifier);
    EXPECT_EQ(recovery.text(), "52") << "two half notches, then one page step";

    TSpinEdit level(FieldSpec(TSettingField::LevelValue));
    Type(level, "");
    QTest::keyClick(&level, Qt::Key_PageUp);
    EXPECT_EQ(level.text(), "3.0") << "an empty field steps from its blank value";
}

TEST_F(SpinEditTest, TheCheckBeforeAStepCanRefuseIt) {
    TSpinEdit threshold(FieldSpec(TSettingField::ThresholdValue));
    threshold.OnChanging = [](double value) { return value >= -60 && value <= 0; };
    QSignalSpy edited(&threshold, &TSpinEdit::Edited);
    threshold.SetValue(0);
    QTest::keyClick(&threshold, Qt::Key_Up);
    EXPECT_EQ(threshold.text(), "0");
    threshold.SetValue(-60);
    Wheel(threshold, -120);
    EXPECT_EQ(threshold.text(), "-60");
    EXPECT_EQ(edited.count(), 0) << "neither refused steps nor SetValue are edits";
    Type(threshold, "20", true);
    EXPECT_EQ(threshold.text(), "20") << "typing is limited by Min and Max only";
    EXPECT_GT(edited.count(), 0);
}

TEST_F(SpinEditTest, FollowsADecimalCommaLocale) {
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    TSpinEdit time(FieldSpec(TSettingField::SyncTime));
    EXPECT_EQ(time.text(), "1,9");
    EXPECT_EQ(time.Value(), 1.9);
    Type(time, "2.2,6", true);
    EXPECT_EQ(time.text(), "22,6");
}
