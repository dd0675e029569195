// The table of scan results kept beside the records (server/wcsrv.h,
// WcGetScanResult): one row per file content (its SHA-256), with the key of
// the signature set the result was found with. Made on the first write;
// a store without it has no results kept. Shared by the server library and
// the admin tool (copy-store).
#pragma once

#include "WcStore.h"

#include <cstdint>
#include <string>

namespace wcstore::scancache
{

struct Row {
    std::string sha256;     // 32 bytes
    std::string signatures; // the signature set's key
    int32_t outcome = 0;    // WC_SCAN_...
    int64_t scanned = 0;    // UTC seconds
    std::string text;
};

// 1 when the table is there, 0 when not, -1 when that can't be read.
int TableThere(Store& store);
// Makes the table when it isn't there; false with the store's error.
bool MakeTable(Store& store);
// The row of the content; NotFound when none is kept (or no table is there).
Rc Get(Store& store, const std::string& sha256, Row& out);
// Keeps `row` in place of the content's row; the table must be there.
Rc Put(Store& store, const Row& row);
// Copies every row of `from` into `to` inside the caller's transaction on
// `to` (the table made there when `from` has one); empty when done, else
// what failed.
std::string Copy(Store& from, Store& to);

} // namespace wcstore::scancache
