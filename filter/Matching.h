// The test of one file record against CurrentSearchRecord.
#pragma once

#include "server/Records.h"

// Fetches the record's full form and applies every criterion in a fixed
// order, cheap numeric and flag tests before the server's file check.
bool MatchesFilter(const FileRec& rec);
