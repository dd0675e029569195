#include "managers/ManagerSupport.h"

#include "common/CoarseClock.h"

#include <QCoreApplication>
#include <QScreen>
#include <QWidget>

void CenterOnScreen(QWidget* window)
{
    if (QScreen* screen = window->screen()) {
        const QRect available = screen->availableGeometry();
        QRect frame = window->frameGeometry();
        frame.moveCenter(available.center());
        window->move(frame.topLeft());
    }
}

void SetOuterSize(QWidget* window, QSize outer)
{
    const QSize frame = window->frameGeometry().size() - window->geometry().size();
    window->resize(outer - frame);
}

bool EventPump::operator()()
{
    if (!Due())
        return false;
    Turn();
    return true;
}

void EventPump::Turn()
{
    QCoreApplication::processEvents();
    m_lastMs = NowMs();
    m_started = true;
}

qint64 EventPump::NowMs()
{
    return CoarseClockMs();
}
