#pragma once

// The journal's view: one column of rows of one fixed height, scrolled a row at a time.
// It keeps nothing per row and lays out nothing: where a row is follows from its number,
// so a line added on top costs the same at a million lines as at ten, and a paint reads
// only the rows in sight. Long lines are cut off with an ellipsis.

#include <QAbstractItemView>
#include <QBasicTimer>

class QPainter;

// Keyboard moves of the current row. Up goes towards row 0, the newest line.
enum class TRowMove { Up, Down, PageUp, PageDown, Home, End, Stay };

class TJournalView : public QAbstractItemView {
    Q_OBJECT

public:
    TJournalView(int rowHeight, QWidget* parent);

    int RowHeight() const { return fRowHeight; }
    // The row shown at the top of the viewport.
    int TopRow() const;
    // Rows that fit whole in the viewport; at least one.
    int VisibleRows() const;

    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    void updateGeometries() override;
    void rowsInserted(const QModelIndex& parent, int start, int end) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) override;
    void reset() override;
    void scrollContentsBy(int dx, int dy) override;
    void timerEvent(QTimerEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    static TRowMove RowMove(CursorAction action);
    void UpdateScrollRange();
    void PaintRow(QPainter& painter, const QModelIndex& index, bool selected, bool focused) const;
    int RowCount() const;
    QModelIndex RowIndex(int row) const;
    // The row at viewport height y, which may lie past the last row.
    int RowAtY(int y) const;

    int fRowHeight;
    bool fMovedSincePaint = false;
    QBasicTimer fRangeTimer;
};

// Where the current row goes from row current of count rows, pageRows rows to a page;
// -1 when there are no rows, row 0 when none is current.
int JournalCursorRow(TRowMove move, int current, int count, int pageRows);
// The top row that brings row into sight of a viewport of visibleRows rows now starting
// at top, as the scroll hint asks.
int JournalTopRowFor(QAbstractItemView::ScrollHint hint, int row, int top, int visibleRows);
