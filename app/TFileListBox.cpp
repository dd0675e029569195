#include "app/TFileListBox.h"

#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMouseEvent>

#include <algorithm>

TFileListBox::TFileListBox(QWidget* parent) : QListView(parent), m_model(new FileListModel(this))
{
    setModel(m_model);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setUniformItemSizes(true);
    // Mouse moves are reported with no button pressed too, as the list box's
    // own mouse-move event is.
    setMouseTracking(true);
    viewport()->setMouseTracking(true);
}

int TFileListBox::ItemIndex() const
{
    const QModelIndex current = selectionModel()->currentIndex();
    return current.isValid() ? current.row() : -1;
}

void TFileListBox::SetItemIndex(int row)
{
    if (row < 0 || row >= Count()) {
        selectionModel()->setCurrentIndex(QModelIndex(), QItemSelectionModel::NoUpdate);
        return;
    }
    selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::NoUpdate);
}

bool TFileListBox::Selected(int row) const
{
    return row >= 0 && row < Count() && selectionModel()->isRowSelected(row, QModelIndex());
}

void TFileListBox::SetSelected(int row, bool selected)
{
    if (row < 0 || row >= Count())
        return;
    selectionModel()->select(m_model->index(row), selected ? QItemSelectionModel::Select
                                                           : QItemSelectionModel::Deselect);
}

int TFileListBox::SelCount() const
{
    int n = 0;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        n += range.height();
    return n;
}

QList<int> TFileListBox::SelectedRows() const
{
    QList<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int r = range.top(); r <= range.bottom(); ++r)
            rows.append(r);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    return rows;
}

void TFileListBox::mouseReleaseEvent(QMouseEvent* event)
{
    QListView::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton)
        emit Click();
}

void TFileListBox::mouseMoveEvent(QMouseEvent* event)
{
    QListView::mouseMoveEvent(event);
    emit MouseMove();
}

void TFileListBox::keyPressEvent(QKeyEvent* event)
{
    const int before = ItemIndex();
    const int selectedBefore = SelCount();
    QListView::keyPressEvent(event);
    if (ItemIndex() != before || SelCount() != selectedBefore)
        emit Click();
}
