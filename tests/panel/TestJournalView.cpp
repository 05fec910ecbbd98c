// The journal's view: newest line on top, the selection staying with its line, scrolling
// by rows, and work per new line that does not grow with the journal.

#include "Journal.h"
#include "JournalView.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

namespace {

constexpr int ROW_HEIGHT = 14;

// The journal view at the window's size, shown offscreen, over the journal's lines.
class JournalViewTest : public testing::Test {
protected:
    void SetUp() override {
        fView.setModel(&fJournal);
        fView.setSelectionMode(QAbstractItemView::SingleSelection);
        fView.resize(473, 137);
        fView.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&fView));
    }

    void Add(int count, const QString& prefix = "line ") {
        for (int i = 0; i < count; ++i)
            fJournal.Append(prefix + QString::number(fJournal.Count()));
    }

    // The line shown in the view's visible row n, counting from 0 at the top.
    QString Shown(int n) const {
        return fView.indexAt(QPoint(5, n * ROW_HEIGHT + ROW_HEIGHT / 2)).data().toString();
    }

    void Click(int row) {
        const QRect rect = fView.visualRect(fJournal.index(row));
        QTest::mouseClick(fView.viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    }

    QString Selected() const {
        const QModelIndexList rows = fView.selectionModel()->selectedRows();
        return rows.size() == 1 ? rows[0].data().toString() : QString();
    }

    TJournalModel fJournal;
    TJournalView fView{ROW_HEIGHT, nullptr};
};

// A long list that counts how often a view asks it for an index and for data.
class TCountingModel : public QAbstractListModel {
public:
    explicit TCountingModel(int rows) : fRows(rows) {}

    void AddOnTop() {
        beginInsertRows(QModelIndex(), 0, 0);
        ++fRows;
        endInsertRows();
    }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override {
        return parent.isValid() ? 0 : fRows;
    }
    QModelIndex index(int row, int column, const QModelIndex& parent) const override {
        ++Indexes;
        return QAbstractListModel::index(row, column, parent);
    }
    QVariant data(const QModelIndex& index, int role) const override {
        ++Data;
        return role == Qt::DisplayRole ? QVariant(QString("row %1").arg(index.row())) : QVariant();
    }

    void ResetCounts() { Indexes = Data = 0; }

    mutable long Indexes = 0;
    mutable long Data = 0;

private:
    int fRows;
};

} // namespace

TEST_F(JournalViewTest, NewestLineOnTopAndTheSelectionStaysWithItsLine) {
    Add(3);
    QApplication::processEvents();
    EXPECT_EQ(Shown(0), "line 2");
    EXPECT_EQ(Shown(2), "line 0");
    EXPECT_EQ(fView.visualRect(fJournal.index(1)).height(), ROW_HEIGHT);

    Click(1);
    EXPECT_EQ(Selected(), "line 1");
    Add(20);
    QApplication::processEvents();
    EXPECT_EQ(Selected(), "line 1") << "the same line, now further down";
    EXPECT_EQ(fView.currentIndex().row(), 21);
    EXPECT_EQ(Shown(0), "line 22");

    Click(0);
    EXPECT_EQ(Selected(), "line 22") << "single selection";
    EXPECT_EQ(fView.selectionModel()->selectedRows().size(), 1);
}

TEST_F(JournalViewTest, ScrolledViewKeepsItsTopRowAndTheRangeReachesTheOldestLine) {
    Add(100);
    QApplication::processEvents();
    const int visible = fView.VisibleRows();
    EXPECT_LE(fView.visualRect(fJournal.index(visible - 1)).bottom(), fView.viewport()->height())
        << "whole rows only";
    EXPECT_EQ(fView.verticalScrollBar()->maximum(), 100 - visible);

    fView.scrollTo(fJournal.index(50), QAbstractItemView::PositionAtTop);
    EXPECT_EQ(fView.TopRow(), 50);
    EXPECT_EQ(Shown(0), "line 49");
    Add(1);
    QApplication::processEvents();
    EXPECT_EQ(fView.TopRow(), 50);
    EXPECT_EQ(Shown(0), "line 50") << "the rows in sight move down by the new line";

    Add(1000);
    fView.scrollTo(fJournal.index(fJournal.Count() - 1));
    EXPECT_EQ(Shown(visible - 1), "line 0") << "a burst's rows can be scrolled to at once";
    QApplication::processEvents();
    EXPECT_EQ(fView.verticalScrollBar()->maximum(), fJournal.Count() - visible);

    fJournal.Clear();
    QApplication::processEvents();
    EXPECT_EQ(fView.verticalScrollBar()->maximum(), 0);
    EXPECT_FALSE(fView.indexAt(QPoint(5, 5)).isValid());
    Add(1);
    QApplication::processEvents();
    EXPECT_EQ(Shown(0), "line 0");
}

TEST_F(JournalViewTest, KeysMoveTheSelectionAndClicksPastTheLastLineSelectNothing) {
    Add(40);
    QApplication::processEvents();
    Click(0);
    QTest::keyClick(fView.viewport(), Qt::Key_Down);
    EXPECT_EQ(Selected(), "line 38") << "down goes to older lines";
    QTest::keyClick(fView.viewport(), Qt::Key_PageDown);
    EXPECT_EQ(fView.currentIndex().row(), 1 + fView.VisibleRows());
    QTest::keyClick(fView.viewport(), Qt::Key_End);
    EXPECT_EQ(Selected(), "line 0");
    EXPECT_EQ(Shown(fView.VisibleRows() - 1), "line 0") << "the current line is scrolled to";
    QTest::keyClick(fView.viewport(), Qt::Key_Home);
    EXPECT_EQ(Selected(), "line 39");
    EXPECT_EQ(fView.TopRow(), 0);

    fJournal.Clear();
    Add(2);
    QApplication::processEvents();
    QTest::mouseClick(fView.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(5, 100));
    EXPECT_TRUE(fView.selectionModel()->selectedRows().isEmpty());
}

TEST(JournalViewWork, ANewLineCostsTheSameAtAMillionRows) {
    TCountingModel model(1000000);
    TJournalView view(ROW_HEIGHT, nullptr);
    view.setModel(&model);
    view.resize(473, 137);
    view.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    QApplication::processEvents();

    model.ResetCounts();
    model.AddOnTop();
    QApplication::processEvents();
    EXPECT_GT(model.Data, 0) << "the new line was painted";
    EXPECT_LT(model.Data + model.Indexes, 20) << "the new row alone is read";

    model.ResetCounts();
    for (int i = 0; i < 500; ++i)
        model.AddOnTop();
    QApplication::processEvents();
    EXPECT_LT(model.Data, 50) << "a burst of lines is painted once";
    EXPECT_LT(model.Indexes, 2 * 500 + 50) << "no walk over the rows";
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 1000501 - view.VisibleRows());
}

TEST(JournalViewRows, CursorAndScrollTargets) {
    EXPECT_EQ(JournalCursorRow(TRowMove::Down, 0, 0, 8), -1) << "no rows";
    EXPECT_EQ(JournalCursorRow(TRowMove::Down, -1, 5, 8), 0) << "none current";
    EXPECT_EQ(JournalCursorRow(TRowMove::Up, 0, 5, 8), 0);
    EXPECT_EQ(JournalCursorRow(TRowMove::Down, 4, 5, 8), 4);
    EXPECT_EQ(JournalCursorRow(TRowMove::PageDown, 2, 100, 8), 10);
    EXPECT_EQ(JournalCursorRow(TRowMove::PageDown, 95, 100, 8), 99);
    EXPECT_EQ(JournalCursorRow(TRowMove::PageUp, 5, 100, 8), 0);
    EXPECT_EQ(JournalCursorRow(TRowMove::End, 5, 100, 8), 99);
    EXPECT_EQ(JournalCursorRow(TRowMove::Stay, 5, 100, 8), 5);

    using View = QAbstractItemView;
    EXPECT_EQ(JournalTopRowFor(View::EnsureVisible, 12, 10, 8), 10) << "already in sight";
    EXPECT_EQ(JournalTopRowFor(View::EnsureVisible, 3, 10, 8), 3);
    EXPECT_EQ(JournalTopRowFor(View::EnsureVisible, 20, 10, 8), 13);
    EXPECT_EQ(JournalTopRowFor(View::PositionAtTop, 20, 10, 8), 20);
    EXPECT_EQ(JournalTopRowFor(View::PositionAtBottom, 3, 10, 8), 0);
    EXPECT_EQ(JournalTopRowFor(View::PositionAtCenter, 20, 0, 8), 16);
}
