// Ages relative to a day: a record's file date, last access date and
// download count measured against cut-offs counted back from "today", so
// that a retention rule ("nobody downloaded it in a year") keeps its meaning
// from one night to the next, where a saved filter holds fixed dates.
#pragma once

#include "filter/SearchRecord.h"
#include "server/Records.h"

#include <QDate>
#include <QString>

#include <cstdint>
#include <optional>

// The highest day count a limit takes (a hundred years back).
constexpr int kAgeDaysMax = 36500;

struct AgeLimits {
    // Each limit applies only when its flag is set; the cut-off is the first
    // day that no longer counts as old (a record of that very day stays).
    bool byFileDate = false;
    QDate fileCutoff;
    bool byAccess = false;
    QDate accessCutoff;
    // The cut-offs' midnights as file-time ticks, reckoned once for a walk.
    uint64_t fileCutoffTicks = 0;
    uint64_t accessCutoffTicks = 0;
    bool byDownloads = false;
    int32_t maxDownloads = 0;

    bool Any() const { return byFileDate || byAccess || byDownloads; }
};

// The limits for day counts taken back from `today`: a count below 0 leaves
// its limit off. False for a count above kAgeDaysMax or a cut-off the file
// times cannot hold.
bool MakeAgeLimits(int olderThanDays, int notAccessedInDays, int maxDownloads, QDate today,
                   AgeLimits& out);

// True when the record is dated before the file cut-off, was last accessed
// before the access cut-off (a record never accessed counts from its file
// date) and has at most maxDownloads downloads, for the limits that are set.
// Record times are local times, compared by calendar day.
bool PassesAgeLimits(const AgeLimits& limits, const FileRec& rec);

// "files dated before 2025-12-09, not accessed since 2025-12-09, at most 0
// downloads": the limits that are set, for a run's report.
QString AgeLimitsText(const AgeLimits& limits);

// The choice every run makes of a record: the age limits (cheap, on the
// record as walked), then `filter` when there is one.
bool PassesRecordChoice(const std::optional<SearchRecord>& filter, const AgeLimits& limits,
                        const FileRec& rec);
