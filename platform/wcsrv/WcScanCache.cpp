// Scan results kept by file content (server/wcsrv.h, WcGetScanResult): the
// contract's two calls on the store of the logged-in context. The rows are
// no records: they are not journaled, and an undo leaves them, as they
// only say what a content held for some signatures.
#include "WcJournal.h"
#include "WcScanCacheStore.h"

// Only the contract's operations leave the library.
#pragma GCC visibility push(default)
#include "server/wcsrv.h"
#pragma GCC visibility pop

#include <cstring>

namespace
{

namespace lib = wcsrv::journal::lib;
namespace sc = wcstore::scancache;
using wcstore::Rc;

constexpr uint32_t kBadArgument = WC_INVALID_OBJECT_ID;
constexpr uint32_t kStorageError = WC_NO_ACTION_TAKEN;

template <typename T> T Fail(uint32_t code, T value)
{
    lib::SetError(code);
    return value;
}

bool KnownOutcome(int32_t outcome)
{
    return outcome == WC_SCAN_CLEAN || outcome == WC_SCAN_INFECTED || outcome == WC_SCAN_DAMAGED;
}

// Copies `text` into a fixed field, cut to leave room for its NUL.
template <size_t N> void PutField(char (&field)[N], const std::string& text)
{
    const size_t n = text.size() < N - 1 ? text.size() : N - 1;
    std::memcpy(field, text.data(), n);
    std::memset(field + n, 0, N - n);
}

// The store whose table is known to be there: the first write of a store
// makes it.
const wcstore::Store* gTableMadeIn = nullptr;

} // namespace

// Prologue of both calls: the library lock, the fault switch, the login.
#define SCAN_CACHE_OP(name, failValue)                                                             \
    std::lock_guard<std::recursive_mutex> lock_(lib::Lock());                                      \
    if (const uint32_t fault_ = lib::FaultHit(name))                                               \
        return Fail(fault_, failValue);                                                            \
    wcstore::Store* store_ = lib::Store(nullptr);                                                  \
    if (!store_)                                                                                   \
        return Fail(uint32_t(WC_USER_NOT_LOGGED_IN), failValue);                                   \
    wcstore::Store& store = *store_;

bool WcGetScanResult(const uint8_t sha256[32], const char* signatures, WcScanResult* out)
{
    SCAN_CACHE_OP("WcGetScanResult", false);
    if (!sha256 || !signatures || !out)
        return Fail(kBadArgument, false);
    sc::Row row;
    const Rc rc = sc::Get(store, std::string(reinterpret_cast<const char*>(sha256), 32), row);
    if (rc == Rc::NotFound)
        return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
    if (rc != Rc::Ok)
        return Fail(kStorageError, false);
    if (row.signatures != signatures)
        return Fail(uint32_t(WC_RECORD_NOT_FOUND), false);
    std::memset(out, 0, sizeof *out);
    std::memcpy(out->Sha256, sha256, sizeof out->Sha256);
    PutField(out->Signatures, row.signatures);
    out->Outcome = row.outcome;
    out->Scanned = row.scanned;
    PutField(out->Text, row.text);
    return true;
}

bool WcPutScanResult(const WcScanResult* result)
{
    SCAN_CACHE_OP("WcPutScanResult", false);
    if (!result || !KnownOutcome(result->Outcome) ||
        !std::memchr(result->Signatures, 0, sizeof result->Signatures) ||
        !std::memchr(result->Text, 0, sizeof result->Text))
        return Fail(kBadArgument, false);
    sc::Row row;
    row.sha256.assign(reinterpret_cast<const char*>(result->Sha256), sizeof result->Sha256);
    row.signatures = result->Signatures;
    row.outcome = result->Outcome;
    row.scanned = result->Scanned;
    row.text = result->Text;
    if (gTableMadeIn != &store) {
        if (!sc::MakeTable(store))
            return Fail(kStorageError, false);
        gTableMadeIn = &store;
    }
    if (sc::Put(store, row) != Rc::Ok) {
        // Another store at the same address (a new login), or the table
        // dropped meanwhile: made again once.
        if (!sc::MakeTable(store) || sc::Put(store, row) != Rc::Ok)
            return Fail(kStorageError, false);
    }
    return true;
}
