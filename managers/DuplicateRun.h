// The duplicate finder's run: scans file areas for records that are
// duplicates by name (the same name, in any letter case, in different
// areas) and by content (files of the same size with the same SHA-256),
// lists apart the records whose file is missing, and chooses per group the
// records to keep. The deletion of the others is the deletion manager's run
// (DeletionRun) given the list of records.
#pragma once

#include "common/AreaLines.h"
#include "common/RunDelegate.h"
#include "server/wcsrv.h"

#include <QByteArray>
#include <QList>
#include <QString>

enum class DupeBy { Name, Content, Both };

// One record of a group or of the missing list, as the scan found it.
struct DupeRecord {
    int area = 0;
    QString name;           // the record's name (one Latin-1 character a byte)
    qint64 size = 0;        // the record's Size
    FILETIME fileTime{};    // the record's file date
    QByteArray description; // record bytes, shown through the record code page
    QByteArray uploader;
    bool present = false; // a regular file lies behind the record
    qint64 diskSize = 0;  // the file's size on disk (present only)
    WcFileId fileId{};    // the disk file (present only)
};

enum class DupeKind { Name, Content };

struct DupeGroup {
    DupeKind kind = DupeKind::Name;
    // The name with its ASCII letters in lower case, or the SHA-256 in hex.
    QString key;
    QList<DupeRecord> members; // in area-and-name order
    // The bytes the copies take on disk: each file once, even when two
    // records (areas sharing a folder) name it.
    qint64 SpaceTaken() const;
};

struct DupeOptions {
    QList<int> areas; // an area the server does not have is passed over
    DupeBy by = DupeBy::Both;
};

struct DupeResult {
    QList<DupeGroup> groups;   // by name (in name order), then by content (largest first)
    QList<DupeRecord> missing; // records whose file is missing, in area-and-name order
    qint64 records = 0;        // records scanned
    qint64 filesRead = 0;      // files read for their hash in this scan
    qint64 bytesRead = 0;
    qint64 hashesReused = 0; // records whose kept hash still held
    qint64 readFailures = 0; // files that could not be read (each reported)
    bool stopped = false;    // a stop was asked for: no groups
};

// Walks the areas (leaving out an area whose folder is offline, unless the
// delegate treats its files as missing: server/OfflineAreas.h), then reads the files whose size
// more than one present file has, unless the hash kept in the store for the record still holds
// (same size, last write time and file number). Reports progress (bytes
// read), the status text (bytes and files per second) and the files it
// could not read through the delegate, and stops when asked.
DupeResult RunDuplicateScan(const DupeOptions& options, RunDelegate& run);

// ---- which records stay -----------------------------------------------------

enum class KeepRule { Oldest, Newest, InArea, ByHand };

struct KeepChoice {
    KeepRule rule = KeepRule::Oldest;
    int area = 0;       // InArea: the area whose records stay
    QList<bool> byHand; // ByHand: one per member, true = stays
};

// One per member of `group`: true for the records the choice keeps.
// Oldest and Newest keep the one record of the earliest or latest file date
// (the first in area-and-name order on a tie); InArea keeps every record of
// that area, and all of them when the group has none there. They choose
// among the records whose file is present when there are any, so a record
// that lost its file never stays in place of one that has it.
QList<bool> KeptMembers(const DupeGroup& group, const KeepChoice& choice);

// The records to delete for `kept` (one list per group, as KeptMembers
// gives): the members no group keeps, each once, in area-and-name order. A
// group that keeps none of its records is left alone. `keepFiles` gets the
// disk files of the records that stay.
QList<EntryRef> RecordsToDelete(const QList<DupeGroup>& groups, const QList<QList<bool>>& kept,
                                QList<WcFileId>* keepFiles = nullptr);

// "FOO.ZIP" -> "foo.zip": ASCII letters folded as the server compares names.
QByteArray FoldedName(const QByteArray& name);
// The parts of the SHA-256 rule and the keep rules the front ends parse.
bool ParseDupeBy(const QString& text, DupeBy& by);
