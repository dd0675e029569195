#include "server/FileAreas.h"

#include "common/AreaLines.h"
#include "common/Text.h"
#include "server/wcsrv.h"

QString FileArea::Line() const
{
    return AreaLinePrefix(number) + name;
}

QList<FileArea> AllAreas()
{
    QList<FileArea> areas;
    const int count = GetFileAreaCount();
    for (int n = 1; n <= count; ++n) {
        FileArea area;
        if (!GetFileArea(n, &area.rec))
            continue;
        area.number = int(area.rec.Number);
        area.name = ShownRecText(area.rec.Name);
        areas.append(area);
    }
    return areas;
}
