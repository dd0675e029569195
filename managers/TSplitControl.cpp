#include "managers/TSplitControl.h"

#include <QRubberBand>
#include <QWidget>

#include <algorithm>

TSplitControl::TSplitControl(QWidget* owner) : m_owner(owner) {}

TSplitControl::~TSplitControl()
{
    if (m_bar)
        m_bar->releaseMouse();
    delete m_line;
}

void TSplitControl::StartSplit(QWidget* bar, QWidget* target)
{
    if (!bar || !target || !m_owner)
        return;
    m_bar = bar;
    m_target = target;
    m_bar->grabMouse();
    m_horizontal = bar->width() > bar->height();
    m_dragPoint = QPoint(0, 0);
    if (!m_line) {
        m_line = new QRubberBand(QRubberBand::Line, m_owner);
        m_line->setObjectName(QStringLiteral("SplitLine"));
    }
    DrawSplitLine();
}

void TSplitControl::DrawSplitLine()
{
    if (!m_bar || !m_owner || !m_line)
        return;
    // From the bar's coordinates to the owner's, through the screen.
    const QPoint from = m_owner->mapFromGlobal(m_bar->mapToGlobal(m_dragPoint));
    QRect rect;
    if (m_horizontal) {
        const QPoint to = m_owner->mapFromGlobal(m_bar->mapToGlobal(QPoint(m_bar->width(), 0)));
        rect = QRect(from.x(), from.y(), to.x() - from.x(), m_bar->height());
    } else {
        const QPoint to = m_owner->mapFromGlobal(m_bar->mapToGlobal(QPoint(0, m_bar->height())));
        rect = QRect(from.x(), from.y(), m_bar->width(), to.y() - from.y());
    }
    m_line->setGeometry(rect);
    m_line->raise();
    m_line->show();
}

void TSplitControl::TrackSplit(int x, int y)
{
    if (!m_bar)
        return;
    if (m_horizontal)
        m_dragPoint.setY(y);
    else
        m_dragPoint.setX(x);
    DrawSplitLine();
}

void TSplitControl::EndSplit()
{
    if (!m_bar)
        return;
    if (m_line)
        m_line->hide();
    QWidget* bar = m_bar;
    const QPoint inTarget =
        m_target ? m_target->mapFromGlobal(bar->mapToGlobal(m_dragPoint)) : QPoint();
    bar->releaseMouse();
    m_bar = nullptr;
    if (!m_target)
        return;
    // A size below zero means nothing; keep at least the bar's room in the owner.
    if (m_horizontal) {
        const int limit = m_owner ? std::max(0, m_owner->height() - bar->height()) : inTarget.y();
        m_target->setFixedHeight(std::clamp(inTarget.y(), 0, limit));
    } else {
        const int limit = m_owner ? std::max(0, m_owner->width() - bar->width()) : inTarget.x();
        m_target->setFixedWidth(std::clamp(inTarget.x(), 0, limit));
    }
}
