// Milliseconds of the system's coarse monotonic clock: a few milliseconds
// fine, and much cheaper to read than the precise clock. For loops that ask
// after every record whether it is time to draw or to hand over to the
// window.
#pragma once

#include <QtGlobal>

#include <ctime>

inline qint64 CoarseClockMs()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return qint64(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}
