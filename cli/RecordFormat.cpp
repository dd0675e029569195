#include "cli/RecordFormat.h"

#include "filter/DateTime.h"

QString IsoTime(const FILETIME& ft)
{
    SystemTime st;
    if (!FileTimeToSystemTime(ft, st))
        return QString();
    return QStringLiteral("%1-%2-%3 %4:%5:%6")
        .arg(st.year, 4, 10, QLatin1Char('0'))
        .arg(st.month, 2, 10, QLatin1Char('0'))
        .arg(st.day, 2, 10, QLatin1Char('0'))
        .arg(st.hour, 2, 10, QLatin1Char('0'))
        .arg(st.minute, 2, 10, QLatin1Char('0'))
        .arg(st.second, 2, 10, QLatin1Char('0'));
}

QString CsvField(const QString& text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    return QLatin1Char('"') + QString(text).replace(QLatin1String("\""), QLatin1String("\"\"")) +
           QLatin1Char('"');
}
