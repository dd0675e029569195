#include "server/ReadFailures.h"

#include "server/wcsrv.h"

namespace
{
thread_local uint32_t t_firstFailure = 0;
}

bool IsNotThereCode(uint32_t code)
{
    switch (code) {
    case WC_RECORD_NOT_FOUND:
    case WC_INVALID_FILEAREA:
    case WC_ITEM_NOT_FOUND:
    case WC_NAME_NOT_FOUND:
        return true;
    default:
        return false;
    }
}

bool NoteReadFailure()
{
    const uint32_t code = WcGetLastError();
    if (!IsNotThereCode(code) && t_firstFailure == 0)
        t_firstFailure = code ? code : uint32_t(WC_NO_ACTION_TAKEN);
    return false;
}

uint32_t TakeReadFailure()
{
    const uint32_t code = t_firstFailure;
    t_firstFailure = 0;
    return code;
}
