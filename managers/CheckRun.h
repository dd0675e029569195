// The check of the whole base: a report that reads and changes nothing, for
// a sysop to run before anything that deletes or moves. Per area it finds
// an area whose folder is offline, records whose file is missing, files no
// record names, names on disk that differ only in letter case, records
// whose size or date is not the file's, and files too large for a record;
// then the store's own check (WcCheckStore). Each area folder is read once:
// one listing and one status per entry, not one server call per record.
#pragma once

#include "common/RunDelegate.h"
#include "server/wcsrv.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

enum class CheckKind {
    Offline,     // the folder is missing, no readable folder, or holds none of its records' files
    Unreadable,  // the area's records could not be read whole
    Missing,     // a record whose file is not in the folder
    SizeDiffers, // the record's Size is not the file's size
    DateDiffers, // the record's date is not the file's (2 seconds or more apart)
    TooLarge,    // a file of 2,147,483,648 bytes or more: a record's Size cannot hold it
    Orphan,      // a file in the folder that no record names
    CaseTwins,   // entries of the folder whose names differ only in letter case
    Link,        // a symbolic link in the folder: a record would offer the file it leads to
    Store,       // a finding of the store's own check
};

// The word of a kind in the command line's output: "offline", "missing", ...
QString CheckKindWord(CheckKind kind);
// The word of a part of the store's check (WcCheckPart): "database",
// "configuration", "user", "area", "record"; empty for another value.
QString CheckPartWord(int part);

struct CheckFinding {
    CheckKind kind = CheckKind::Missing;
    int area = 0;   // 0: a store finding about no area
    QString name;   // a record's name or a disk name (one Latin-1 character a byte)
    QString detail; // what is wrong, in words
    // Size, date and too large: the record's and the file's figures.
    qint64 recordSize = -1, fileSize = -1;
    FILETIME recordTime{}, fileTime{}; // local time, as records keep it
    QStringList names;                 // case twins: every name of the group, in byte order
    int storePart = 0;                 // store: WcCheckPart
};

struct CheckOptions {
    QList<int> areas;       // an area the server does not have is passed over
    bool store = true;      // also the store's own check
    bool integrity = false; // the store's integrity pass (reads the whole database again)
};

struct CheckArea {
    int area = 0;
    QByteArray folder;  // as the server names it
    qint64 records = 0; // records walked
    qint64 files = 0;   // regular files in the folder (description lists left out)
    bool offline = false;
};

struct CheckResult {
    QList<CheckArea> areas;       // the areas checked, in number order
    QList<CheckFinding> findings; // by area (in each: the kinds in their order), then the store's
    qint64 records = 0;
    qint64 files = 0;
    bool storeChecked = false;
    WcCheckSummary store{};
    bool stopped = false; // a stop was asked for: the result is partial
    int Count(CheckKind kind) const;
};

// Walks the areas' records and reads their folders, then checks the store.
// Reports progress (areas) and the status text through the delegate, and
// stops when asked.
CheckResult RunCheck(const CheckOptions& options, RunDelegate& run);
