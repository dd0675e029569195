// The file echo intake: every TIC in the inbound folder, in the order of
// their file times, read and checked (archive/TicCheck.h), then its file
// placed into the echo's area with a record, waited for, or refused into
// the bad folder with its reason beside it. A dry run decides the same and
// changes nothing: its rows are the preview. No widgets: the "Process
// Incoming TIC Files" window and `vtfilemgr-cli tic` both run it.
//
// A kill at any moment leaves each file either in the inbound with its TIC
// or in its area with its record: the file goes into the area before its
// record is stored, and the TIC is removed only once the record is there.
// The next run finds a file that reached its area without a record (or
// with it) by its size and CRC, and finishes the intake. Files that go
// into their areas without replacing anything are placed a batch at a
// time (one commit for their renames, one for their records); a TIC that
// could meet one of the batch waits until the batch is placed.
#pragma once

#include "common/RunDelegate.h"
#include "common/TicSettings.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

class TUnzipFile;

enum class TicAction {
    Place,     // the file goes into its area with a record
    Duplicate, // the area has the very file: the TIC and the inbound copy go
    Wait,      // not complete yet: left in the inbound for the next run
    Bad,       // refused: the TIC (and its file) go to the bad folder
    Failed,    // the disk or the server failed: left in the inbound
};

// One TIC's line of the preview and of the run's report.
struct TicRow {
    QString tic;  // the TIC's file name in the inbound
    QString echo; // its Area line as text
    int area = 0; // the echo's file area; 0 when it has none
    QString file; // the record's name (File as written when it can be none)
    TicAction action = TicAction::Bad;
    // "place", "placed", "place, replaces A.ZIP", "duplicate", "waiting",
    // "bad", "failed": what happens (dry run) or happened.
    QString actionText;
    // Why it waits, is refused or failed; for a file placed, what its texts
    // lost to the record's fields ("long description: 2 lines dropped").
    QString reason;
    QStringList replaces; // the records the file replaces (or would)
};

struct TicRunOptions {
    TicSettings settings;        // the inbound folder, areas, passwords, ...
    bool dryRun = false;         // decide and report, change nothing
    QString announcePath;        // when set, the files placed are appended here
    TUnzipFile* unzip = nullptr; // zip descriptions; may be null
    QDateTime now;               // the time TIC ages count to; invalid: now
    // Each row as soon as it is decided (may be empty).
    std::function<void(const TicRow&)> row;
};

struct TicRunResult {
    QList<TicRow> rows;
    int placed = 0, duplicates = 0, waiting = 0, bad = 0, failed = 0;
    bool noInbound = false;      // the inbound folder is not there: nothing was done
    bool stopped = false;        // a stop was asked for between two TICs
    bool announceFailed = false; // the announcement could not be written (warned)
};

// The word of an action as the preview and the command line show it.
QString TicActionWord(TicAction action, bool dryRun);

// The TIC files ("*.TIC" in any letter case, plain files only) of the
// folder, oldest file time first, names in byte order where times are
// equal. False when the folder cannot be read.
bool InboundTics(const QString& inbound, QStringList& names);

// True when `name` matches `pattern`: '*' any run of characters, '?' any
// one, ASCII letters in any case.
bool TicWildcardMatch(const QByteArray& pattern, const QByteArray& name);

TicRunResult RunTicIntake(const TicRunOptions& options, RunDelegate& run);

// The announcement of the records (area, name) in the file list's layout:
// per area in number order its heading, one line per file, the total.
// Appended to `path`; false when it cannot be written.
bool AppendTicAnnouncement(const QString& path, const QList<std::pair<int, QString>>& placed);
