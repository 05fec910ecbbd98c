#include "JournalView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

int JournalCursorRow(TRowMove move, int current, int count, int pageRows) {
    if (count <= 0)
        return -1;
    if (current < 0 || current >= count)
        return 0;
    switch (move) {
    case TRowMove::Up:
        return std::max(0, current - 1);
    case TRowMove::Down:
        return std::min(count - 1, current + 1);
    case TRowMove::PageUp:
        return std::max(0, current - pageRows);
    case TRowMove::PageDown:
        return std::min(count - 1, current + pageRows);
    case TRowMove::Home:
        return 0;
    case TRowMove::End:
        return count - 1;
    case TRowMove::Stay:
        break;
    }
    return current;
}

int JournalTopRowFor(QAbstractItemView::ScrollHint hint, int row, int top, int visibleRows) {
    switch (hint) {
    case QAbstractItemView::EnsureVisible:
        if (row < top)
            return row;
        if (row >= top + visibleRows)
            return row - visibleRows + 1;
        return top;
    case QAbstractItemView::PositionAtTop:
        return row;
    case QAbstractItemView::PositionAtBottom:
        return std::max(0, row - visibleRows + 1);
    case QAbstractItemView::PositionAtCenter:
        return std::max(0, row - visibleRows / 2);
    }
    return top;
}

TJournalView::TJournalView(int rowHeight, QWidget* parent)
    : QAbstractItemView(parent), fRowHeight(std::max(1, rowHeight)) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollMode(ScrollPerItem);
}

int TJournalView::TopRow() const {
    return verticalScrollBar()->value();
}

int TJournalView::VisibleRows() const {
    return std::max(1, viewport()->height() / fRowHeight);
}

int TJournalView::RowCount() const {
    return model() == nullptr ? 0 : model()->rowCount(rootIndex());
}

QModelIndex TJournalView::RowIndex(int row) const {
    return model() == nullptr ? QModelIndex() : model()->index(row, 0, rootIndex());
}

int TJournalView::RowAtY(int y) const {
    return TopRow() + y / fRowHeight;
}

QRect TJournalView::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.column() != 0 || index.parent() != rootIndex())
        return QRect();
    return QRect(0, (index.row() - TopRow()) * fRowHeight, viewport()->width(), fRowHeight);
}

void TJournalView::scrollTo(const QModelIndex& index, ScrollHint hint) {
    if (!index.isValid())
        return;
    verticalScrollBar()->setValue(JournalTopRowFor(hint, index.row(), TopRow(), VisibleRows()));
}

QModelIndex TJournalView::indexAt(const QPoint& point) const {
    if (point.y() < 0)
        return QModelIndex();
    const int row = RowAtY(point.y());
    return row < RowCount() ? RowIndex(row) : QModelIndex();
}

TRowMove TJournalView::RowMove(CursorAction action) {
    switch (action) {
    case MoveUp:
    case MovePrevious:
        return TRowMove::Up;
    case MoveDown:
    case MoveNext:
        return TRowMove::Down;
    case MovePageUp:
        return TRowMove::PageUp;
    case MovePageDown:
        return TRowMove::PageDown;
    case MoveHome:
        return TRowMove::Home;
    case MoveEnd:
        return TRowMove::End;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return TRowMove::Stay;
}

QModelIndex TJournalView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const QModelIndex current = currentIndex();
    const int row = JournalCursorRow(RowMove(action), current.isValid() ? current.row() : -1,
                                     RowCount(), VisibleRows());
    return row < 0 ? QModelIndex() : RowIndex(row);
}

int TJournalView::horizontalOffset() const {
    return 0;
}

int TJournalView::verticalOffset() const {
    return TopRow() * fRowHeight;
}

bool TJournalView::isIndexHidden(const QModelIndex&) const {
    return false;
}

void TJournalView::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    const int count = RowCount();
    const QRect area = rect.normalized();
    const int first = RowAtY(std::max(0, area.top()));
    if (first >= count) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    const int last = std::min(count - 1, RowAtY(std::max(0, area.bottom())));
    selectionModel()->select(QItemSelection(RowIndex(first), RowIndex(last)), command);
}

QRegion TJournalView::visualRegionForSelection(const QItemSelection& selection) const {
    const int top = TopRow();
    const int bottom = top + VisibleRows();
    QRegion region;
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex())
            continue;
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += QRect(0, (first - top) * fRowHeight, viewport()->width(),
                            (last - first + 1) * fRowHeight);
    }
    return region;
}

// The scroll bar counts rows: its range ends where the oldest line sits at the bottom.
void TJournalView::updateGeometries() {
    const int visible = VisibleRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, RowCount() - visible));
    bar->setPageStep(visible);
    bar->setSingleStep(1);
    QAbstractItemView::updateGeometries();
}

// Rows below the insertion move down; the top row keeps its number, so a view at the top
// shows the new line and the selection stays with its line.
void TJournalView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    updateGeometries();
    viewport()->update();
}

void TJournalView::rowsAboutToBeRemoved(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsAboutToBeRemoved(parent, start, end);
    scheduleDelayedItemsLayout();
}

void TJournalView::reset() {
    QAbstractItemView::reset();
    updateGeometries();
}

void TJournalView::scrollContentsBy(int, int) {
    viewport()->update();
}

void TJournalView::paintEvent(QPaintEvent* event) {
    const int count = RowCount();
    const QRect area = event->rect();
    const int first = RowAtY(std::max(0, area.top()));
    const int last = std::min(count - 1, RowAtY(area.bottom()));
    if (first > last)
        return;
    QPainter painter(viewport());
    QStyleOptionViewItem base;
    initViewItemOption(&base);
    const QModelIndex current = currentIndex();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = RowIndex(row);
        QStyleOptionViewItem option = base;
        option.rect = visualRect(index);
        if (selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (index == current && hasFocus())
            option.state |= QStyle::State_HasFocus;
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}
