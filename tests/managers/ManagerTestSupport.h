// Helpers shared by the batch manager tests: record dates, the records of an
// area as the server returns them, and selecting list lines by area number.
#pragma once

#include "common/AreaLines.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "server/wcsrv.h"
#include "tests/support/TestSupport.h"

#include <QListWidget>
#include <QStringList>
#include <QtTest>

#include <functional>

// Names of the records of an area, in the server's order (needs a login).
inline QStringList NamesInArea(int area)
{
    QStringList names;
    FileRec rec{};
    uint32_t position = 0;
    if (!SearchFileRecByAreaName(area, "", &rec, &position))
        return names;
    while (rec.Area == area) {
        names << RecText(rec.Name);
        if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &position))
            break;
    }
    return names;
}

inline void SelectAreas(QListWidget* list, const QList<int>& areas)
{
    list->clearSelection();
    for (int area : areas) {
        QListWidgetItem* item = LineOfArea(list, area);
        QVERIFY2(item, qPrintable(QStringLiteral("no line for area %1").arg(area)));
        item->setSelected(true);
    }
}

// Open file descriptors of this process, to see that every path closes its files.
inline int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files | QDir::Dirs)
                   .size());
}

// Runs `action` once, at the first moment `when` holds while window messages
// are processed (a run gives them a turn after each record).
// Gives up after `tries` turns.
inline void WhenDuringRun(std::function<bool()> when, std::function<void()> action,
                          int tries = 1000000)
{
    auto poll = std::make_shared<std::function<void()>>();
    auto left = std::make_shared<int>(tries);
    *poll = [when, action, poll, left]() {
        if (when()) {
            action();
            *poll = nullptr;
            return;
        }
        if (--*left <= 0) {
            *poll = nullptr;
            return;
        }
        QTimer::singleShot(0, [poll]() {
            if (*poll)
                (*poll)();
        });
    };
    QTimer::singleShot(0, [poll]() { (*poll)(); });
}
