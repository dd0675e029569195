// Reading a FILE_ID.DIZ description file and putting it into a file record.
#pragma once

#include "server/Records.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Most bytes of a description file that are read (the extraction library
// extracts nothing larger).
constexpr qint64 DizMaxBytes = 64 * 1024;

// Splits description bytes into lines: a line ends at CR, LF or the pair
// CR LF; a NUL byte ends the text; a last line without a break counts; lines
// are kept exactly (no trimming), empty lines included. Bytes map 1:1 to
// characters (Latin-1).
QStringList SplitDizLines(const QByteArray& bytes);

// Reads the file (at most DizMaxBytes) and splits it. False when it can't be
// opened.
bool ReadDizFile(const QString& path, QStringList& lines);

// Puts the lines into the record: Description = the first line's first 75
// characters, LongDescription line i = the first 79 characters of line i for
// the first 15 lines, HasLongDescription = 1. Long-description lines beyond
// those read are emptied, so no line of an older description stays behind.
// With no lines the record is unchanged and the result false.
bool ApplyDizLines(const QStringList& lines, FullFileRec& rec);
