// Taking a FILES.BBS or DESCRIPT.ION list into an area's records, and
// writing the areas' records out as such lists.
#pragma once

#include "archive/DescriptionList.h"
#include "common/RunDelegate.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

struct DescriptionImportOptions {
    int area = 0;
    QByteArray list; // the list file's bytes
    // Named files that have no record but lie in the area's folder get one.
    bool add = false;
    // Reports what would be set (RunOutcome::Planned) and writes nothing.
    bool dryRun = false;
};

// One list entry that names a record (or a file to add): the record's name,
// the texts it gets, and whether they differ from the record's own.
struct DescriptionImportLine {
    int line = 0;
    QString name;
    QByteArray description;
    QList<QByteArray> longLines;
    bool adds = false;    // a new record for a file in the folder
    bool changes = false; // the texts differ from the record's
};

struct DescriptionImportResult {
    QList<DescriptionImportLine> lines;
    QList<DescriptionEntry> unknown; // names without a record (or a file to add)
    QList<UnreadLine> unread;        // lines the list reader could not read
    int cuts = 0;                    // texts cut to a field's limit
    int set = 0;                     // records written (planned in a dry run)
    int added = 0;                   // records added (planned in a dry run)
    int unchanged = 0;               // records whose texts were equal already
    bool failed = false;             // the area's records could not be read
    bool stopped = false;            // a stop was asked for (and confirmed)
};

// Reads the list and sets the description and long description of the
// records of the area it names (names in any letter case). A record whose
// texts are already equal is not written.
DescriptionImportResult RunDescriptionImport(const DescriptionImportOptions& options,
                                             RunDelegate& run);

struct DescriptionExportOptions {
    QList<int> areas;
    DescriptionListLayout layout = DescriptionListLayout::FilesBbs;
    QString folder; // the lists go into <folder>/<area>/FILES.BBS (or DESCRIPT.ION)
    bool dryRun = false;
};

struct DescriptionExportResult {
    QStringList written;  // the paths of the lists written
    int entries = 0;      // records written out
    int inexact = 0;      // records whose texts can't be read back exactly
    bool failed = false;  // a list could not be written
    bool stopped = false; // a stop was asked for: the areas after it were left
};

// The file name of a list in the layout: "FILES.BBS" or "DESCRIPT.ION".
QString DescriptionListFileName(DescriptionListLayout layout);
// The path of the list of `area` under `folder`.
QString DescriptionListPath(const QString& folder, int area, DescriptionListLayout layout);

// Writes one list per area, with every record of the area in the server's
// order.
DescriptionExportResult RunDescriptionExport(const DescriptionExportOptions& options,
                                             RunDelegate& run);
