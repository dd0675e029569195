// The search record: one set of file-filter criteria, and the exact content
// of an ".FMS" file (1,924 bytes, no header).
#pragma once

#include "server/Records.h"

#include <QString>

#include <cstddef>
#include <cstdint>

enum NumberOp : int32_t { OpAny = 0, OpEqual = 1, OpGreater = 2, OpLess = 3, OpNotEqual = 4 };
enum FlagChoice : int32_t { FlagBoth = 0, FlagYes = 1, FlagNo = 2 };

struct SearchRecord {
    FullFileRec Template;
    int32_t AreaCriterion;
    int32_t SizeOp;
    int32_t FileDateOp;
    int32_t AccessDateOp;
    int32_t DownloadsOp;
    int32_t CostOp;
    int32_t NeverDeleteOp;
    int32_t NeverOverwriteOp;
    int32_t FailedScanOp;
    int32_t CopyBeforeOp;
    int32_t FreeFileOp;
    int32_t FreeTimeOp;
    int32_t ExistOnDiskOp;
    int32_t HasLongDescOp;
    int32_t HasPasswordOp;
    char UploaderText[72];
};

static_assert(sizeof(SearchRecord) == 1924);
static_assert(offsetof(SearchRecord, AreaCriterion) == 1792);
static_assert(offsetof(SearchRecord, SizeOp) == 1796);
static_assert(offsetof(SearchRecord, FileDateOp) == 1800);
static_assert(offsetof(SearchRecord, AccessDateOp) == 1804);
static_assert(offsetof(SearchRecord, DownloadsOp) == 1808);
static_assert(offsetof(SearchRecord, CostOp) == 1812);
static_assert(offsetof(SearchRecord, NeverDeleteOp) == 1816);
static_assert(offsetof(SearchRecord, NeverOverwriteOp) == 1820);
static_assert(offsetof(SearchRecord, FailedScanOp) == 1824);
static_assert(offsetof(SearchRecord, CopyBeforeOp) == 1828);
static_assert(offsetof(SearchRecord, FreeFileOp) == 1832);
static_assert(offsetof(SearchRecord, FreeTimeOp) == 1836);
static_assert(offsetof(SearchRecord, ExistOnDiskOp) == 1840);
static_assert(offsetof(SearchRecord, HasLongDescOp) == 1844);
static_assert(offsetof(SearchRecord, HasPasswordOp) == 1848);
static_assert(offsetof(SearchRecord, UploaderText) == 1852);

// Process-wide filter state, kept by the match window and read by the main
// window; a run is given the filter it applies in its options.
extern SearchRecord CurrentSearchRecord; // all zero at start: matches everything
extern bool FilterDefined;               // criteria confirmed with the match window's OK
extern QString SearchRecordFileName;     // last ".FMS" saved or loaded

// The file-name part of a path: the text after its last '/', '\' or ':'.
QString FileNamePart(const QString& path);

// Outcome of reading or writing an ".FMS" file.
enum class FmsResult { Ok, NotFound, OpenError, ReadError, WriteError };

// Deletes an existing file of that name, creates it and writes the record's
// 1,924 bytes. OpenError when the file cannot be created, WriteError when
// writing or closing fails.
FmsResult WriteSearchRecordFile(const QString& path, const SearchRecord& record);
// Reads the first 1,924 bytes of the file into `out`. NotFound, OpenError,
// ReadError (shorter file or read failure) leave `out` untouched; bytes
// after the first record are ignored. Any bytes load: the readers of a
// search record treat out-of-range operators as "not applied" and read
// texts only up to their field's end.
FmsResult ReadSearchRecordFile(const QString& path, SearchRecord& out);

// The name a search record is saved under: ".FMS" appended unless the name
// contains ".fms" or ".FMS" (exact letter case) anywhere.
QString WithFmsExtension(const QString& name);

// An operator value as it is applied: values outside 0..4 count as 0.
inline int32_t EffectiveNumberOp(int32_t op)
{
    return op >= 0 && op <= 4 ? op : 0;
}
// A flag choice as it is applied: values outside 0..2 count as 0.
inline int32_t EffectiveFlagChoice(int32_t op)
{
    return op >= 0 && op <= 2 ? op : 0;
}
