// Area lines ("   7: Uploads") and filtered file lines ("  12: FOO.ZIP"),
// and how a selected list line becomes an (area, name) pair.
#pragma once

#include <QString>

// The area number right-aligned in four columns, then ": ".
QString AreaLinePrefix(int area);
// The same characters put at `out` (room for kAreaLinePrefixMax); returns
// their number. For lines made without a string per line.
constexpr int kAreaLinePrefixMax = 16;
int AreaLinePrefixChars(int area, char* out);
// The text before the first ':' as an integer (blanks allowed); 0 when the
// line has no ':'. Throws ConversionError when that text is not a number.
int AreaNumberOfLine(const QString& line);
// The text after the first ':', trimmed of characters of code 32 or less.
QString FileNameOfLine(const QString& line);

struct EntryRef {
    int area = 0;
    QString name;
};
// A line with ':' carries its own area; a plain line is a name in shownArea.
EntryRef EntryOfLine(const QString& line, int shownArea);
