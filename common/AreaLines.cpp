#include "common/AreaLines.h"

#include "common/Text.h"

#include <algorithm>
#include <cstring>

QString AreaLinePrefix(int area)
{
    return QStringLiteral("%1: ").arg(area, 4);
}

int AreaLinePrefixChars(int area, char* out)
{
    // The digits (and sign) from the right end of a small buffer.
    char digits[12];
    char* at = digits + sizeof digits;
    unsigned v = area < 0 ? 0u - unsigned(area) : unsigned(area);
    do {
        *--at = char('0' + v % 10);
        v /= 10;
    } while (v);
    if (area < 0)
        *--at = '-';
    const int length = int(digits + sizeof digits - at);
    const int pad = std::max(0, 4 - length);
    std::memset(out, ' ', size_t(pad));
    std::memcpy(out + pad, at, size_t(length));
    out[pad + length] = ':';
    out[pad + length + 1] = ' ';
    return pad + length + 2;
}

int AreaNumberOfLine(const QString& line)
{
    const qsizetype colon = line.indexOf(u':');
    if (colon < 0)
        return 0;
    return StrToInt(line.left(colon));
}

QString FileNameOfLine(const QString& line)
{
    const qsizetype colon = line.indexOf(u':');
    return TrimControls(colon < 0 ? line : line.mid(colon + 1));
}

EntryRef EntryOfLine(const QString& line, int shownArea)
{
    if (line.contains(u':'))
        return EntryRef{AreaNumberOfLine(line), FileNameOfLine(line)};
    return EntryRef{shownArea, line};
}
