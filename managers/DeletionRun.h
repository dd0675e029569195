// The deletion manager's run: deletes every record (or every record that
// passes the filter) of the given file areas, optionally with the files on
// disk, asking through the delegate what the window asks. A record's file
// stays on disk while another area's record on the same folder still names
// it.
#pragma once

#include "common/AreaLines.h"
#include "common/RunDelegate.h"
#include "filter/AgeLimits.h"
#include "server/wcsrv.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

struct DeletionOptions {
    // The areas in the order they are worked through; an area the server
    // does not have is passed over.
    QList<int> areas;
    // Only records that pass this filter; empty: no filter.
    std::optional<SearchRecord> filter;
    AgeLimits ages;              // and only records of these ages
    bool promptFirst = false;    // "Delete file ... ?" for each record
    bool deleteFromDisk = false; // the files go with their records
    bool dryRun = false;         // reports Planned items and changes nothing
    // Records counted beforehand: when above 0 the progress counts records
    // against it, otherwise it counts areas.
    qint64 recordTotal = 0;

    // When not empty: the run deletes exactly these records, in this order,
    // instead of walking `areas` (the filter and recordTotal play no part;
    // the progress counts these records). With deleteFromDisk, a record's
    // file also stays on disk when it is one of `keepFiles`.
    QList<EntryRef> records;
    QList<WcFileId> keepFiles;
};

struct DeletionResult {
    long deleted = 0;     // records deleted (planned, for a dry run)
    bool stopped = false; // a stop was asked for and confirmed
};

DeletionResult RunDeletion(const DeletionOptions& options, RunDelegate& run);

// Tells whether a record's file must stay on disk when the record goes with
// its file: a record of the same name in another area whose folder is the
// same directory names that very file and has not gone in this run, or the
// file is one of `keepFiles` (the files of records that stay).
class FileKeeper
{
public:
    explicit FileKeeper(QList<WcFileId> keepFiles = {});
    // Why the file of (area, name) stays; empty when it may go.
    QString Why(int area, const QByteArray& name);
    // The record (area, name) is gone: it keeps no file any more.
    void Gone(int area, const QByteArray& name);

private:
    const QList<int>& AreasOnFolderOf(int area);

    QList<WcFileId> m_keepFiles;
    QSet<QString> m_gone;
    bool m_foldersRead = false;
    QHash<int, QList<int>> m_sameFolder; // area -> the areas on its folder
};
