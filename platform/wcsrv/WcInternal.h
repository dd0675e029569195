// What the library's operations outside wcsrv.cpp need of its state: the
// library lock, the fault switch, the error code, the login, server paths
// and the descriptors behind handles. Hidden like the rest of the library.
#pragma once

#include "server/wcsrv.h"

#include <cstdint>
#include <mutex>
#include <string>

namespace wcsrv::internal
{

// Held by every operation for its whole call.
std::recursive_mutex& LibraryLock();

// Counts one call of the operation `op` for the fault switch; the code it
// must fail with, or 0.
uint32_t CountCall(const char* op);

// The code the fault switch fails every call of `op` with, or 0; counts
// nothing.
uint32_t FaultKindCode(const char* op);

// Sets the calling thread's error code.
void SetLastError(uint32_t code);

bool IsLoggedIn();

// The disk path of the file behind a server path ("wc:\file\area(N)\NAME")
// and whether a file of that name (in any letter case) is there. False with
// the error code set when the path is not one of an area's files.
bool DiskPathOf(const char* serverPath, std::string* path, bool* exists);

// The disk folder and the file name of a server path, without looking for
// the file. False with the error code set as for DiskPathOf.
bool FolderOfServerPath(const char* serverPath, std::string* folder, std::string* name);

// One end of a copy between two handles, as the kernel copy needs it.
struct HandleFile {
    int fd = -1;
    bool read = false;
    bool write = false;
    bool collecting = false; // writes are collected (write-behind)
    long long collected = 0; // bytes the write-behind took so far
};

// The descriptor behind `handle`; false with WC_INVALID_INDEX when there is
// no such handle.
bool FileOfHandle(WcHandle handle, HandleFile* out);

// Ends the write-behind of `handle`: the bytes it took are stored and the
// descriptor's offset is left after them. False (WC_ACCESS_DENIED set) when
// some could not be stored.
bool EndWriteBehind(WcHandle handle);

} // namespace wcsrv::internal
