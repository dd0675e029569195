// Fault switch of libwcsrv, for tests only: makes chosen server operations
// fail with an error code, as a damaged or busy server would.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// Fail the k-th operation (1-based, counted from this call) with `code`.
void WcFaultFailNth(long k, uint32_t code);
// Fail every call of the named operation ("UpdateFileRec", "WcWriteFile", ...).
void WcFaultFailKind(const char* operation, uint32_t code);
// Turn every fault off and reset the count.
void WcFaultReset(void);
// Operations counted since the last WcFaultFailNth/WcFaultReset.
long WcFaultCallCount(void);

#ifdef __cplusplus
}
#endif
