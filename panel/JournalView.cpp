#include "JournalView.h"

#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyleOptionFocusRect>
#include <QStyleOptionSlider>
#include <QTimerEvent>
#include <algorithm>
#include <tuple>

namespace {

// A scroll bar that leaves out the repaint for a new range when it would look the same:
// at a million rows a line added on top moves neither the handle nor the end it sits at.
class TRowScrollBar : public QScrollBar {
public:
    TRowScrollBar() : QScrollBar(Qt::Vertical) {}

protected:
    void sliderChange(SliderChange change) override {
        if (change == SliderRangeChange && Look() == fPainted)
            return;
        QScrollBar::sliderChange(change);
    }

    void paintEvent(QPaintEvent* event) override {
        fPainted = Look();
        QScrollBar::paintEvent(event);
    }

private:
    // The handle's place and whether the value sits at either end of the range.
    using TLook = std::tuple<QRect, bool, bool>;

    TLook Look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                value() == minimum(), value() == maximum()};
    }

    TLook fPainted;
};

} // namespace

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
    setVerticalScrollBar(new TRowScrollBar);
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
    UpdateScrollRange();
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
void TJournalView::UpdateScrollRange() {
    fRangeTimer.stop();
    const int visible = VisibleRows();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(0, std::max(0, RowCount() - visible));
    bar->setPageStep(visible);
    bar->setSingleStep(1);
}

void TJournalView::updateGeometries() {
    UpdateScrollRange();
    QAbstractItemView::updateGeometries();
}

// A new range makes the scroll area post itself a call, so lines added in a burst get one
// new range, on the next turn of the event loop, or sooner where a scroll needs it.
void TJournalView::timerEvent(QTimerEvent* event) {
    if (event->timerId() == fRangeTimer.timerId())
        UpdateScrollRange();
    else
        QAbstractItemView::timerEvent(event);
}

// The top row keeps its number, so a view at the top shows the new line, and the rows in
// sight below the insertion move down. Their pixels move with them and only the rows that
// come into sight are painted; once they have moved since the last paint, the next paint
// takes in the whole view instead, so a burst of lines costs one paint. The selection
// stays with its line.
void TJournalView::rowsInserted(const QModelIndex& parent, int start, int end) {
    QAbstractItemView::rowsInserted(parent, start, end);
    if (!fRangeTimer.isActive())
        fRangeTimer.start(0, this);
    if (parent != rootIndex())
        return;
    const int top = TopRow();
    if (start <= top && !fMovedSincePaint) {
        viewport()->scroll(0, (end - start + 1) * fRowHeight);
        fMovedSincePaint = true;
    } else if (start <= top + VisibleRows()) {
        viewport()->update();
    }
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
    fMovedSincePaint = false;
    QPainter painter(viewport());
    const QModelIndex current = currentIndex();
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = RowIndex(row);
        PaintRow(painter, index, selectionModel()->isSelected(index),
                 index == current && hasFocus());
    }
}

// The line in the text colour, or on the highlight when selected, cut off with an
// ellipsis where it is wider than the view; the current row framed while the view has
// the focus.
void TJournalView::PaintRow(QPainter& painter, const QModelIndex& index, bool selected,
                            bool focused) const {
    const QRect rect = visualRect(index);
    const QPalette::ColorGroup group = !isEnabled()       ? QPalette::Disabled
                                       : isActiveWindow() ? QPalette::Active
                                                          : QPalette::Inactive;
    if (selected)
        painter.fillRect(rect, palette().brush(group, QPalette::Highlight));
    painter.setPen(palette().color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    const QRect text = rect.adjusted(margin, 0, -margin, 0);
    painter.drawText(
        text, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
        fontMetrics().elidedText(index.data().toString(), textElideMode(), text.width()));
    if (focused) {
        QStyleOptionFocusRect frame;
        frame.initFrom(this);
        frame.rect = rect;
        frame.backgroundColor =
            palette().color(group, selected ? QPalette::Highlight : QPalette::Base);
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &frame, &painter, this);
    }
}
