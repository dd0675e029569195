// The main window's file list: a multi-selection list of lines with a
// current line ("item index") that need not be selected, and a click event
// that fires after a mouse click or a keyboard move, as the list box's own
// click event does.
#pragma once

#include "app/FileListModel.h"

#include <QListView>

class TFileListBox : public QListView
{
    Q_OBJECT
public:
    explicit TFileListBox(QWidget* parent = nullptr);

    FileListModel* Lines() const { return m_model; }
    int Count() const { return m_model->count(); }
    QString Line(int row) const { return m_model->line(row); }

    // The current line, -1 for none.
    int ItemIndex() const;
    // Makes `row` the current line without changing the selection.
    void SetItemIndex(int row);
    bool Selected(int row) const;
    void SetSelected(int row, bool selected);
    // Number of selected lines, counted over the selection ranges (cheap
    // even when 100,000 lines are selected).
    int SelCount() const;
    // Selected rows in list order.
    QList<int> SelectedRows() const;

signals:
    void Click();
    void MouseMove();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    FileListModel* m_model;
};
