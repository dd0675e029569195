// Reading a TIC: the control file a mailer puts beside each file that
// arrives through a file echo. A TIC is lines of "Keyword value"; this
// reader knows the keywords the intake uses and keeps every other line for
// the preview. No widgets.
//
// Texts (descriptions, the echo tag, addresses) are kept as the bytes of
// the file: TICs are written in code page 437 (TicText shows them). The
// reader takes outside input and is bounded: at most kTicMaxBytes are read,
// a value keeps at most kTicMaxValueBytes, and no input makes it fail.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

// The most bytes of a TIC file that are read; a longer file is cut there
// (TicFile::cut tells).
inline constexpr qint64 kTicMaxBytes = 256 * 1024;
// The most bytes kept of one value; the rest of its line is skipped.
inline constexpr qsizetype kTicMaxValueBytes = 1024;
// The most bytes kept of a keyword (longer ones are no keyword the reader knows).
inline constexpr qsizetype kTicMaxKeywordBytes = 32;

// A line the reader does not use: an unknown keyword ("Magic", "Created",
// "App", ...) or a second line of a keyword that is taken once.
struct TicLine {
    QByteArray keyword; // as written
    QByteArray value;
    bool operator==(const TicLine&) const = default;
};

struct TicFile {
    QByteArray area;            // Area: the echo's tag
    QByteArray areaDescription; // Areadesc
    QByteArray file;            // File: the file's name
    QByteArray longName;        // Lfile, else Fullname: the long name
    QList<QByteArray> desc;     // every non-empty Desc line, in order
    QList<QByteArray> ldesc;    // every LDesc line, in order, empty ones included
    QList<QByteArray> replaces; // every Replaces value (may hold * and ?)
    QByteArray sizeText;        // Size as written; empty when absent
    std::optional<qint64> size; // its value when it is a whole number of bytes
    QByteArray crcText;         // Crc as written; empty when absent
    std::optional<quint32> crc; // its value when it is 1 to 8 hex digits
    QByteArray pw;              // Pw
    QByteArray origin;          // Origin
    QByteArray from;            // From: the address the TIC came from
    QByteArray to;              // To
    QByteArray date;            // Date
    QList<QByteArray> path;     // every Path line
    QList<QByteArray> seenby;   // every Seenby line
    QList<TicLine> others;      // every line the reader doesn't use
    bool cut = false;           // the input was longer than kTicMaxBytes
    bool operator==(const TicFile&) const = default;
};

// Reads TIC bytes (only the first kTicMaxBytes are looked at).
// - A line ends at LF, CR or CR LF; a last line without a break counts. The
//   text ends at the first NUL or Ctrl-Z (the DOS end-of-file mark).
// - A line is a keyword (the bytes up to the first blank or tab; known
//   keywords in any letter case), blanks or tabs, and the value. Blanks before the keyword and
//   blanks, tabs and other control bytes below 0x20 at the end of the value are dropped. An LDesc
//   value keeps its own leading blanks after the one that follows the keyword (indented text stays
//   indented); every other value is trimmed on both sides. Empty lines and lines without a keyword
//   are skipped.
// - Single keywords (Area, File, Lfile/Fullname, Size, Crc, Pw, ...) take
//   their first line; later ones go to `others`.
TicFile ParseTic(const QByteArray& bytes);

// Reads the file at `path` (at most kTicMaxBytes) and parses it. False
// (and `tic` untouched) when it can't be opened or read.
bool ReadTicFile(const QString& path, TicFile& tic);

// TIC bytes as text, read as code page 437.
QString TicText(const QByteArray& bytes);
