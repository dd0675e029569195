// Description lists that file folders carry: FILES.BBS and DESCRIPT.ION.
// Read and written as bytes, so every byte of a text survives.
//
// The dialects read:
//  - a file line: the name (in double quotes when it holds blanks), then
//    blanks or tabs, then the description up to the line end;
//  - between the name and the description, optional columns, each at most
//    once in any order: a size ("12345", "1,234,567", "120K"), a date
//    ("01-02-95", "1/2/1995", "01.02.95", "1995-01-02") and a download count
//    in brackets ("[3]", "[ 12]");
//  - continuation lines, which add a long-description line to the file
//    before them: they start with blanks (the text follows them), or with
//    one of | + > after any blanks (the text follows the mark and at most
//    one blank);
//  - lines starting with ; - = are comments, lines of blanks are empty; both
//    end the file before them (a continuation after them can't be read);
//  - CR LF or LF line ends, a DOS end-of-file mark (0x1A) at the end;
//  - on any line the 4DOS extension mark (0x04 0xC2) and all after it are
//    ignored.
// When the blanks before the description hold a tab, the description starts
// after the last tab: blanks after it are the description's own. The writer
// uses this for descriptions that start with blanks.
#pragma once

#include "server/Records.h"

#include <QByteArray>
#include <QList>

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

DescriptionList ParseDescriptionList(const QByteArray& bytes);

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
