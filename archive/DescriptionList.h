// Description lists that file folders carry: FILES.BBS and DESCRIPT.ION.
// Read and written as bytes, so every byte of a text survives.
//
// The dialects read:
//  - a file line: the name (in double quotes when it holds blanks), then
//    blanks or tabs, then the description up to the line end;
//  - the DOS directory layout of the name: padded with blanks to eight
//    columns, the extension apart ("RG0930F .ZIP  text" names RG0930F.ZIP);
//  - between the name and the description, optional columns, each at most
//    once in any order: a size ("12345", "1,234,567", "120K"), a date
//    ("01-02-95", "1/2/1995", "01.02.95", "1995-01-02") and a download count
//    in brackets ("[3]", "[ 12]"). A size is a column only where the list
//    has one: a date or a count stands on the same line, or it is the
//    file's size (when the caller knows it), or most of the list's other
//    entries carry a size; otherwise the number begins the description
//    ("386.DOC  80386 processor manual");
//  - continuation lines, which add a long-description line to the file
//    before them: they start with blanks (the text follows them), or with
//    one of | + > after any blanks (the text follows the mark and at most
//    one blank);
//  - lines starting with ; - = are comments, lines of blanks are empty; both
//    end the file before them (a continuation after them can't be read).
//    Under a name in the DOS directory layout, lines of blanks followed by
//    more continuation lines are blank lines of the long description;
//  - CR LF, LF or CR alone end a line; a DOS end-of-file mark (0x1A) at the
//    end;
//  - on any line the 4DOS extension mark (0x04 0xC2) and all after it are
//    ignored;
//  - a line holding a NUL byte can't be read (a record's text would end
//    there), so no text read holds a NUL, CR or LF.
// When the blanks before the description hold a tab, the description starts
// after the last tab: blanks after it are the description's own. The writer
// uses this for descriptions that start with blanks.
#pragma once

#include "server/Records.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

// Whether a name on disk is that of a description list a folder carries
// (FILES.BBS or DESCRIPT.ION, in any letter case): a list describes the
// folder's files and is no file for a record of its own.
bool IsDescriptionListFile(const QByteArray& diskName);

// Limits of the record fields the texts go into (the terminating zero not
// counted), and the long description's line count.
constexpr qsizetype DescriptionTextMax = qsizetype(sizeof(FileRec::Description)) - 1;
constexpr qsizetype LongDescriptionTextMax = LongDescLineSize - 1;
constexpr qsizetype LongDescriptionLineMax = LongDescLines;

struct DescriptionEntry {
    QByteArray name;             // quotes removed
    QByteArray description;      // at most DescriptionTextMax bytes
    QList<QByteArray> longLines; // at most 15, each at most LongDescriptionTextMax bytes
    int line = 0;                // line number (from 1) of the file line
    QList<int> longLineNumbers;  // line number of each long-description line
    // The optional columns, when the line had them (-1 / empty when not).
    qint64 size = -1;
    QByteArray date;
    int downloads = -1;
    int cuts = 0; // texts cut to a limit, and long lines dropped beyond 15
};

struct UnreadLine {
    int line = 0;
    QByteArray text;
};

struct DescriptionList {
    QList<DescriptionEntry> entries;
    QList<UnreadLine> unread;
    int cuts = 0; // sum of the entries' cuts
};

// The size of the file a list entry names, or -1 when it is not known.
using DescriptionFileSizes = std::function<qint64(const QByteArray& name)>;

// Reads a list; `sizes` (when given) tells a number that is the file's size
// as the size column.
DescriptionList ParseDescriptionList(const QByteArray& bytes,
                                     const DescriptionFileSizes& sizes = {});

// Most bytes of a list file; a larger one is not read.
constexpr qint64 DescriptionListMaxBytes = 64 * 1024 * 1024;

struct DescriptionListFile {
    QByteArray bytes;
    QString failure; // why the file was not read; empty when it was
    bool ok() const { return failure.isEmpty(); }
};

// Reads a list file whole, for every reader of lists (the import, the add
// of an area folder's files). Only a regular file is read: a FIFO or a
// device is refused without blocking. A file of more than `maxBytes` bytes
// (also one that grows beyond them while it is read) is refused, never read
// in part.
DescriptionListFile ReadDescriptionListFile(const QString& path,
                                            qint64 maxBytes = DescriptionListMaxBytes);

enum class DescriptionListLayout {
    FilesBbs,    // name padded to 12, columns, description; "|" continuations
    DescriptIon, // name, one blank, description; "|" continuations
};

struct DescriptionListExport {
    QByteArray bytes;
    // Entries whose texts can't be written so that reading gives them back
    // exactly (a line break, a 4DOS mark or a leading tab in a text, a
    // quote in a name, a date that isn't a date). They are written as well
    // as the layout allows.
    QList<int> inexact;
};

// Writes the entries in the layout, CR LF line ends. The columns are written
// when the entry has them (FILES.BBS layout only). Texts are written whole
// (the caller's texts are already within the record limits).
DescriptionListExport ExportDescriptionList(const QList<DescriptionEntry>& entries,
                                            DescriptionListLayout layout);

// The record's texts as a list entry: Description, and the long description
// up to its last non-empty line.
DescriptionEntry DescriptionEntryOfRecord(const FullFileRec& rec);
// Puts the entry's texts into the record: Description, the long-description
// lines (the rest emptied), HasLongDescription 1 when there is a line.
// Copies are bounded by the fields.
void ApplyDescriptionEntry(const DescriptionEntry& entry, FullFileRec& rec);
