#include "server/ServerPath.h"

#include "common/Text.h"
#include "server/ReadFailures.h"
#include "server/wcsrv.h"

#include <cstdio>

namespace
{
constexpr qsizetype kServerPathMax = 99;
}

QString ServerFilePath(int area, const QString& name)
{
    return QStringLiteral("wc:\\file\\area(%1)\\%2")
        .arg(QString::number(area), name)
        .left(kServerPathMax);
}

QByteArray ServerFilePathBytes(int area, const char* name)
{
    char buffer[kServerPathMax + 1];
    const int n = std::snprintf(buffer, sizeof buffer, "wc:\\file\\area(%d)\\%s", area, name);
    return QByteArray(buffer, std::min<int>(n < 0 ? 0 : n, int(kServerPathMax)));
}

bool IsServerPath(const QString& path)
{
    return path.left(4).compare(QStringLiteral("wc:\\"), Qt::CaseInsensitive) == 0;
}

long WalkArea(int area, const std::function<bool(FileRec&)>& visit)
{
    FileRec rec{};
    uint32_t position = 0;
    long count = 0;
    // A step that fails for another reason than the walk's end is noted, so
    // a caller can tell a whole area from a walk cut short.
    if (!SearchFileRecByAreaName(area, "", &rec, &position)) {
        NoteReadFailure();
        return 0;
    }
    while (rec.Area == area) {
        ++count;
        if (!visit(rec))
            break;
        if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &position)) {
            NoteReadFailure();
            break;
        }
    }
    return count;
}
