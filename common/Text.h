// 8-bit record text <-> QString (one fixed Latin-1 table both ways, so a text
// shown and stored again keeps its bytes), bounded copies into fixed fields,
// and the integer conversion whose failure ends a command.
#pragma once

#include "common/CodePage.h"

#include <QByteArray>
#include <QString>

#include <cstddef>

// Text of a fixed field: up to its NUL, or the whole field when it has none.
QString RecText(const char* field, std::size_t size);
template <std::size_t N> QString RecText(const char (&field)[N])
{
    return RecText(field, N);
}

// NUL-terminated copy cut to size-1 bytes; bytes after the NUL are left as they were.
void SetRecText(char* field, std::size_t size, const QString& text);
template <std::size_t N> void SetRecText(char (&field)[N], const QString& text)
{
    SetRecText(field, N, text);
}

QByteArray ToBytes(const QString& text); // Latin-1
QString FromBytes(const QByteArray& bytes);

// How record texts (descriptions, long descriptions, uploader, password,
// area names) appear in the windows and in the command line's output: as
// Latin-1 (the default) or as one of the DOS PC's code pages. Either way a
// text shown and stored again keeps its bytes. File names, paths and files
// written to disk are bytes as read and do not depend on it.
using RecordCodePage = CodePage;
void SetRecordCodePage(RecordCodePage page);
RecordCodePage CurrentRecordCodePage();

// Record bytes to the text a window shows, and back (one byte a character;
// a character without a byte becomes '?').
QString ShownText(const QByteArray& bytes);
QByteArray StoredBytes(const QString& text);

// RecText and SetRecText through the shown code page.
QString ShownRecText(const char* field, std::size_t size);
template <std::size_t N> QString ShownRecText(const char (&field)[N])
{
    return ShownRecText(field, N);
}
void SetShownRecText(char* field, std::size_t size, const QString& text);
template <std::size_t N> void SetShownRecText(char (&field)[N], const QString& text)
{
    SetShownRecText(field, N, text);
}

// Removes leading and trailing characters of code 32 or less.
QString TrimControls(const QString& text);

// Decimal text to a signed 32-bit value: surrounding blanks allowed, an
// optional sign. Anything else, or a value beyond the 32-bit range, throws
// ConversionError "'<text>' is not a valid integer value".
int StrToInt(const QString& text);
// The same conversion without the exception.
bool TryStrToInt(const QString& text, int& value);
