// Pieces the batch managers and their small windows share: the list of area
// lines, window placement, and the rate-limited message pump of long loops.
#pragma once

#include <QElapsedTimer>
#include <QSize>
#include <QStringList>

class QWidget;

// One area line ("   3: Utilities") for each area number from 1 to
// GetFileAreaCount whose GetFileArea succeeds, in number order.
QStringList AllAreaLines();

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

    // True when the interval has passed (or the run has just begun).
    bool Due() const { return !m_timer.isValid() || m_timer.elapsed() >= s_intervalMs; }
    // Processes pending messages when due; true when it did.
    bool operator()();
    // The next call processes messages at once.
    void Restart() { m_timer.invalidate(); }

private:
    static inline int s_intervalMs = kDefaultIntervalMs;
    QElapsedTimer m_timer;
};
