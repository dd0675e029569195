// Fixed-layout records exchanged with the BBS server library. The layouts
// are a wire format: sizes, offsets and reserved stretches are exact, and
// bytes the program does not interpret are carried through unchanged.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef __cplusplus
extern "C" {
#endif

// 64-bit count of 100-ns intervals since 1601-01-01, split in two words so
// that it sits at 4-byte aligned offsets inside the records.
typedef struct FILETIME {
    uint32_t dwLowDateTime;
    uint32_t dwHighDateTime;
} FILETIME;

typedef struct UserRef {
    uint32_t UserId;   // 0 when no user is recorded
    char UserName[72]; // at most 71 characters
    uint8_t Reserved[12];
} UserRef;

typedef struct FileRec {
    uint8_t Reserved0[4];
    int32_t Area;
    char Name[16];
    char Description[76];
    char Password[32];
    uint8_t Reserved1[4];
    int32_t Size;
    FILETIME FileTime;
    FILETIME LastAccessed;
    int32_t NeverOverwrite;
    int32_t NeverDelete;
    int32_t FreeFile;
    int32_t CopyBeforeDownload;
    uint8_t Reserved2[4];
    int32_t FailedScan;
    int32_t FreeTime;
    int32_t Downloads;
    int32_t Cost;
    UserRef Uploader;
    uint8_t Reserved3[4];
    int32_t HasLongDescription;
    uint8_t Reserved4[44];
} FileRec;

enum { LongDescLines = 15, LongDescLineSize = 80 };

typedef struct FullFileRec {
    FileRec Rec; // the FileRec fields, byte for byte
    uint8_t Reserved5[260];
    char LongDescription[LongDescLines][LongDescLineSize];
} FullFileRec;

typedef struct FileAreaRec {
    uint8_t Reserved0[4];
    int32_t Number;
    char Name[76];
} FileAreaRec;

typedef struct UserRecord {
    uint8_t Reserved0[8];
    char Name[72];
    uint8_t Reserved1[900];
} UserRecord;

typedef struct MakewildRec {
    uint8_t Reserved0[56];
    char SysopName[72];
    uint8_t Reserved1[1880];
} MakewildRec;

#ifdef __cplusplus
}
#endif

// The largest file a record describes: Size is a signed 32-bit count, so a
// file of 2 GiB (2,147,483,648 bytes) or more has no size a record can hold.
inline constexpr int64_t kMaxRecordFileSize = INT32_MAX;

static_assert(sizeof(FILETIME) == 8);
static_assert(sizeof(UserRef) == 88);
static_assert(offsetof(UserRef, UserId) == 0);
static_assert(offsetof(UserRef, UserName) == 4);
static_assert(offsetof(UserRef, Reserved) == 76);

static_assert(sizeof(FileRec) == 332);
static_assert(offsetof(FileRec, Area) == 4);
static_assert(offsetof(FileRec, Name) == 8);
static_assert(offsetof(FileRec, Description) == 24);
static_assert(offsetof(FileRec, Password) == 100);
static_assert(offsetof(FileRec, Reserved1) == 132);
static_assert(offsetof(FileRec, Size) == 136);
static_assert(offsetof(FileRec, FileTime) == 140);
static_assert(offsetof(FileRec, LastAccessed) == 148);
static_assert(offsetof(FileRec, NeverOverwrite) == 156);
static_assert(offsetof(FileRec, NeverDelete) == 160);
static_assert(offsetof(FileRec, FreeFile) == 164);
static_assert(offsetof(FileRec, CopyBeforeDownload) == 168);
static_assert(offsetof(FileRec, Reserved2) == 172);
static_assert(offsetof(FileRec, FailedScan) == 176);
static_assert(offsetof(FileRec, FreeTime) == 180);
static_assert(offsetof(FileRec, Downloads) == 184);
static_assert(offsetof(FileRec, Cost) == 188);
static_assert(offsetof(FileRec, Uploader) == 192);
static_assert(offsetof(FileRec, Reserved3) == 280);
static_assert(offsetof(FileRec, HasLongDescription) == 284);
static_assert(offsetof(FileRec, Reserved4) == 288);

static_assert(sizeof(FullFileRec) == 1792);
static_assert(offsetof(FullFileRec, Reserved5) == 332);
static_assert(offsetof(FullFileRec, LongDescription) == 592);

static_assert(sizeof(FileAreaRec) == 84);
static_assert(offsetof(FileAreaRec, Number) == 4);
static_assert(offsetof(FileAreaRec, Name) == 8);

static_assert(sizeof(UserRecord) == 980);
static_assert(offsetof(UserRecord, Name) == 8);

static_assert(sizeof(MakewildRec) == 2008);
static_assert(offsetof(MakewildRec, SysopName) == 56);

#ifdef __cplusplus
inline uint64_t FileTimeValue(const FILETIME& ft)
{
    return (uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

inline FILETIME MakeFileTime(uint64_t v)
{
    return FILETIME{uint32_t(v & 0xffffffffu), uint32_t(v >> 32)};
}
#endif
