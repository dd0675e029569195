// The test of one file record against a search record.
#pragma once

#include "server/Records.h"

struct SearchRecord;

// Fetches the record's full form and applies every criterion of `filter`
// in a fixed order, cheap numeric and flag tests before the server's file
// check.
bool MatchesFilter(const SearchRecord& filter, const FileRec& rec);

// True when `filter` passes only records whose file is missing ("Exist On
// Disk: No"): a run that applies it acts on records because their file is
// missing.
bool FilterSelectsMissingFiles(const SearchRecord& filter);

// The criteria of `s` applied to a full record already fetched, in the same
// order; `fileExists` is asked only when the "exists on disk" choice applies
// and every cheaper test has passed. Touches no server state of its own.
bool MatchesSearchRecord(const SearchRecord& s, const FullFileRec& full,
                         bool (*fileExists)(const FileRec&));
