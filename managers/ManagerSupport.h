// Pieces the batch managers and their small windows share: the list of area
// lines, window placement, and the rate-limited message pump of long loops.
#pragma once

#include "server/ServerQueries.h" // AllAreaLines

#include <QElapsedTimer>
#include <QSize>
#include <QStringList>
#include <QtGlobal>

class QWidget;

// Moves a top-level window to the middle of its screen.
void CenterOnScreen(QWidget* window);
// Sizes a window so that its outer size, frame included, is `outer` (the
// frame is known once the window is shown; before, the client gets `outer`).
void SetOuterSize(QWidget* window, QSize outer);

// Long loops run on the interface thread and give pending window messages a
// turn after each record. Doing that for every record costs more than the
// record itself, so the pump hands over at most once per interval; the first
// call of a run always does. Callers still read their stop flag after every
// record, so a Stop or Cancel press acts at the first record after the
// message has been processed, at most one interval later.
class EventPump
{
public:
    static constexpr int kDefaultIntervalMs = 15;
    // The interval for every pump; 0 hands over after every record (tests
    // use it to stop a run at a chosen record).
    static void SetInterval(int ms) { s_intervalMs = ms; }
    static int Interval() { return s_intervalMs; }

    // True when the interval has passed (or the run has just begun). Asked
    // after every record, so it reads the system's coarse clock (a few
    // milliseconds fine, enough for an interval of 15): the precise clock
    // would cost a few percent of a walk.
    bool Due() const
    {
        return !m_started || s_intervalMs <= 0 || NowMs() - m_lastMs >= s_intervalMs;
    }
    // Processes pending messages when due; true when it did.
    bool operator()();
    // Processes pending messages now; the next interval starts.
    void Turn();
    // The next call processes messages at once.
    void Restart() { m_started = false; }

private:
    static qint64 NowMs();

    static inline int s_intervalMs = kDefaultIntervalMs;
    bool m_started = false;
    qint64 m_lastMs = 0;
};
