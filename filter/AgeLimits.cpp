#include "filter/AgeLimits.h"

#include "filter/DateTime.h"
#include "filter/Matching.h"

#include <QStringList>

namespace
{

// Midnight at the start of `day` as file-time ticks; false when the day lies
// outside what a file time holds.
bool DayStart(QDate day, uint64_t& ticks)
{
    if (!day.isValid() || day.year() < 1601 || day.year() > 30827)
        return false;
    SystemTime st;
    st.year = uint16_t(day.year());
    st.month = uint16_t(day.month());
    st.day = uint16_t(day.day());
    FILETIME ft{};
    if (!SystemTimeToFileTime(st, ft))
        return false;
    ticks = FileTimeValue(ft);
    return true;
}

} // namespace

bool MakeAgeLimits(int olderThanDays, int notAccessedInDays, int maxDownloads, QDate today,
                   AgeLimits& out)
{
    AgeLimits limits;
    auto cutoff = [&](int days, bool& on, QDate& day, uint64_t& ticks) {
        if (days < 0)
            return true;
        if (days > kAgeDaysMax)
            return false;
        on = true;
        day = today.addDays(-days);
        return DayStart(day, ticks);
    };
    if (!cutoff(olderThanDays, limits.byFileDate, limits.fileCutoff, limits.fileCutoffTicks) ||
        !cutoff(notAccessedInDays, limits.byAccess, limits.accessCutoff, limits.accessCutoffTicks))
        return false;
    if (maxDownloads >= 0) {
        limits.byDownloads = true;
        limits.maxDownloads = maxDownloads;
    }
    out = limits;
    return true;
}

bool PassesAgeLimits(const AgeLimits& limits, const FileRec& rec)
{
    if (limits.byDownloads && rec.Downloads > limits.maxDownloads)
        return false;
    if (limits.byFileDate && FileTimeValue(rec.FileTime) >= limits.fileCutoffTicks)
        return false;
    if (limits.byAccess) {
        // A record nobody has fetched yet has been unused since it came.
        const bool never = FileTimeValue(rec.LastAccessed) == 0;
        if (FileTimeValue(never ? rec.FileTime : rec.LastAccessed) >= limits.accessCutoffTicks)
            return false;
    }
    return true;
}

QString AgeLimitsText(const AgeLimits& limits)
{
    QStringList parts;
    if (limits.byFileDate)
        parts
            << QStringLiteral("files dated before %1").arg(limits.fileCutoff.toString(Qt::ISODate));
    if (limits.byAccess)
        parts << QStringLiteral("not accessed since %1")
                     .arg(limits.accessCutoff.toString(Qt::ISODate));
    if (limits.byDownloads)
        parts << (limits.maxDownloads == 1
                      ? QStringLiteral("at most 1 download")
                      : QStringLiteral("at most %1 downloads").arg(limits.maxDownloads));
    return parts.join(QStringLiteral(", "));
}

bool PassesRecordChoice(const std::optional<SearchRecord>& filter, const AgeLimits& limits,
                        const FileRec& rec)
{
    if (limits.Any() && !PassesAgeLimits(limits, rec))
        return false;
    return !filter || MatchesFilter(*filter, rec);
}
