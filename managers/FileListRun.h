// The file list manager's run: a plain-text list of the file records of the
// given areas (optionally only those that pass the filter), one block of
// fixed 80-column lines per area, CR LF line ends, 8-bit text.
#pragma once

#include "common/RunDelegate.h"
#include "filter/AgeLimits.h"
#include "server/Records.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// One line of the list for a record (80 characters, without line end):
// name in 17 columns, size right-aligned in 8, date, time, description in 39.
QByteArray FileListLine(const FileRec& rec);
// The same line appended to `block` (without line end); `format` holds the
// date and time pictures, read once for a whole list.
class DateTimeCharsFormat;
void AppendFileListLine(QByteArray& block, const FileRec& rec, const DateTimeCharsFormat& format);
// The block's heading line: "===[" + area line + " ]=", "=" to 80 columns.
QByteArray FileListHeading(const QString& areaLine);
// The "    Total Files: " line, blanks to 80 columns.
QByteArray FileListTotalLine(long count);

struct FileListArea {
    int area = 0;
    QString line; // the area line of the heading ("   3: Utilities")
};

// The area line of every area the server has, in number order: the lines
// the window's list shows.
QList<FileListArea> AllFileListAreas();

struct FileListOptions {
    QList<FileListArea> areas; // in the order of the list
    // Only records that pass this filter; empty: no filter.
    std::optional<SearchRecord> filter;
    AgeLimits ages; // and only records of these ages
    QString path;   // the list file; each area's block is appended
    // The front end's figures: the area being listed, and the records
    // included from it and in all so far, given before every stop check and
    // (with `areaDone`) at each area's end. May be empty.
    std::function<void(int area)> areaBegun;
    std::function<void(long count, long total, bool areaDone)> counted;
};

struct FileListResult {
    long total = 0;           // records listed
    bool stopped = false;     // stopped between records; the current block dropped
    bool writeFailed = false; // "File Write Error!" was shown
};

// A list never carries an older list's lines: removes the old file at
// `path`; false (the warning shown) when it cannot, and then nothing is to
// be written.
bool RemoveOldFileList(const QString& path, RunDelegate& run);

FileListResult RunFileList(const FileListOptions& options, RunDelegate& run);
