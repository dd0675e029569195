// The walk over every file area of the BBS that the area lists of the
// windows, the batch managers, the file list and the command line share.
#pragma once

#include "server/Records.h"

#include <QList>
#include <QString>

struct FileArea {
    int number = 0;
    // The name through the record code page, as the windows show it.
    QString name;
    // The record as the server gave it: the name's bytes, for output that
    // writes them unchanged (the file list).
    FileAreaRec rec{};

    // The area line "   3: Utilities" of the lists, with the shown name.
    QString Line() const;
};

// Every area number from 1 to GetFileAreaCount whose GetFileArea succeeds,
// in number order.
QList<FileArea> AllAreas();
