#include "archive/DizReader.h"

#include "common/Text.h"

#include <QFile>

#include <cstring>

QStringList SplitDizLines(const QByteArray& bytes)
{
    QStringList lines;
    const char* data = bytes.constData();
    const qsizetype end = [&] {
        const void* nul = std::memchr(data, 0, std::size_t(bytes.size()));
        return nul ? qsizetype(static_cast<const char*>(nul) - data) : bytes.size();
    }();
    qsizetype start = 0;
    qsizetype i = 0;
    while (i < end) {
        const char c = data[i];
        if (c == '\r' || c == '\n') {
            lines << QString::fromLatin1(data + start, i - start);
            if (c == '\r' && i + 1 < end && data[i + 1] == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    if (start < end)
        lines << QString::fromLatin1(data + start, end - start);
    return lines;
}

bool ReadDizFile(const QString& path, QStringList& lines)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    lines = SplitDizLines(file.read(DizMaxBytes));
    return true;
}

bool ApplyDizLines(const QStringList& lines, FullFileRec& rec)
{
    if (lines.isEmpty())
        return false;
    rec.Rec.HasLongDescription = 1;
    std::memset(rec.Rec.Description, 0, sizeof rec.Rec.Description);
    SetRecText(rec.Rec.Description, lines.first().left(int(sizeof rec.Rec.Description) - 1));
    for (int i = 0; i < LongDescLines; ++i) {
        std::memset(rec.LongDescription[i], 0, LongDescLineSize);
        if (i < lines.size())
            SetRecText(rec.LongDescription[i], lines.at(i).left(LongDescLineSize - 1));
    }
    return true;
}
