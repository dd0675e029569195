#include "filter/SearchRecord.h"

#include <QFile>
#include <QFileInfo>

#include <cstring>

SearchRecord CurrentSearchRecord{};
bool FilterDefined = false;
QString SearchRecordFileName;

QString FileNamePart(const QString& path)
{
    qsizetype at = path.size();
    while (at > 0) {
        const QChar c = path.at(at - 1);
        if (c == u'/' || c == u'\\' || c == u':')
            break;
        --at;
    }
    return path.mid(at);
}

QString WithFmsExtension(const QString& name)
{
    if (name.contains(QLatin1String(".fms")) || name.contains(QLatin1String(".FMS")))
        return name;
    return name + QLatin1String(".FMS");
}

FmsResult WriteSearchRecordFile(const QString& path, const SearchRecord& record)
{
    if (QFileInfo::exists(path))
        QFile::remove(path);
    QFile file(path);
    // Unbuffered, so that a failing write is seen at the write itself.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        return FmsResult::OpenError;
    const qint64 done =
        file.write(reinterpret_cast<const char*>(&record), qint64(sizeof(SearchRecord)));
    const bool flushed = file.flush();
    file.close();
    if (done != qint64(sizeof(SearchRecord)) || !flushed || file.error() != QFileDevice::NoError)
        return FmsResult::WriteError;
    return FmsResult::Ok;
}

FmsResult ReadSearchRecordFile(const QString& path, SearchRecord& out)
{
    QFileInfo info(path);
    if (!info.exists())
        return FmsResult::NotFound;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return FmsResult::OpenError;
    // Read into a buffer first: a short or unreadable file keeps the
    // caller's criteria as they were.
    char buffer[sizeof(SearchRecord)];
    qint64 have = 0;
    while (have < qint64(sizeof buffer)) {
        const qint64 n = file.read(buffer + have, qint64(sizeof buffer) - have);
        if (n <= 0)
            break;
        have += n;
    }
    file.close();
    if (have != qint64(sizeof buffer))
        return FmsResult::ReadError;
    std::memcpy(&out, buffer, sizeof buffer);
    return FmsResult::Ok;
}
