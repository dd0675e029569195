// Dragging a thin bar between two controls: while the mouse moves a line
// follows it across the owner window, and on release the target control
// gets the new size. The line is a rubber band over the owner's children.
#pragma once

#include <QPoint>
#include <QPointer>

class QRubberBand;
class QWidget;

class TSplitControl
{
public:
    explicit TSplitControl(QWidget* owner);
    ~TSplitControl();
    TSplitControl(const TSplitControl&) = delete;
    TSplitControl& operator=(const TSplitControl&) = delete;

    bool IsSplitting() const { return m_bar != nullptr; }
    // Begins a drag of `bar` that will size `target`.
    void StartSplit(QWidget* bar, QWidget* target);
    // x, y: the mouse position in the bar's own coordinates.
    void TrackSplit(int x, int y);
    // Ends the drag and sets the target's height (horizontal bar) or width.
    void EndSplit();
    // Shows the line at the current drag point.
    void DrawSplitLine();

    // The line, for tests: visible only during a drag.
    QRubberBand* Line() const { return m_line; }

private:
    QPointer<QWidget> m_owner;
    QPointer<QWidget> m_bar;
    QPointer<QWidget> m_target;
    QRubberBand* m_line = nullptr;
    bool m_horizontal = false;
    QPoint m_dragPoint;
};
