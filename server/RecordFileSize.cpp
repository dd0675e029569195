#include "server/RecordFileSize.h"

#include "server/AreaFiles.h"
#include "server/Records.h"

#include <sys/stat.h>

namespace
{

// Digits in groups of three with commas, the same in every locale.
QString GroupedDigits(qint64 value)
{
    const QString digits = QString::number(value);
    QString grouped;
    for (qsizetype i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            grouped += u',';
        grouped += digits.at(i);
    }
    return grouped;
}

} // namespace

bool FileFitsRecord(qint64 size)
{
    return size <= kMaxRecordFileSize;
}

QString FileTooLargeWords(qint64 size)
{
    if (FileFitsRecord(size))
        return QString();
    return QStringLiteral("%1 bytes is too large for a file record (at most %2)")
        .arg(GroupedDigits(size), GroupedDigits(kMaxRecordFileSize));
}

QString FileTooLargeMessage(const QString& name, qint64 size)
{
    const QString words = FileTooLargeWords(size);
    return words.isEmpty() ? QString() : name + QStringLiteral(": ") + words;
}

qint64 DiskFileSize(const QByteArray& path)
{
    struct stat st {
    };
    return ::stat(path.constData(), &st) == 0 ? qint64(st.st_size) : -1;
}

qint64 AreaFileSize(int area, const QString& recordName)
{
    const QByteArray entry = AreaEntryOfName(area, recordName);
    return entry.isEmpty() ? -1 : DiskFileSize(entry);
}
