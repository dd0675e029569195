#include "common/AreaLines.h"

#include "common/Text.h"

QString AreaLinePrefix(int area)
{
    return QStringLiteral("%1: ").arg(area, 4);
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
