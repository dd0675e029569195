// One opening of a window, told apart from the show events inside it.
//
// A window fills itself (FormShow) when it opens. Brought back after being
// minimised it gets another show event, and a show event can be sent again
// while it shows; filling it anew then would drop what the sysop chose, and
// a run in progress would go on over emptied lists. Only a hide by the
// program (close, done, hide) ends an opening; the hide that minimising
// sends is spontaneous and does not.
#pragma once

#include <QHideEvent>

class WindowOpening
{
public:
    // True for the first show event of an opening.
    bool Begins()
    {
        if (m_open)
            return false;
        m_open = true;
        return true;
    }
    // From the window's hideEvent.
    void Hidden(const QHideEvent* event)
    {
        if (!event->spontaneous())
            m_open = false;
    }
    bool IsOpen() const { return m_open; }

private:
    bool m_open = false;
};
