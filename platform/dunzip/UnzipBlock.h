// The parameter block of the extraction library's one entry, `dunzip`,
// shared by the library and the component that calls it.
//
// Field order and the 32-bit value fields are fixed; address fields are
// pointer-sized. A 32-bit build therefore has the classic 142-byte layout,
// a 64-bit build the same order with 8-byte addresses (202 bytes). The size
// field holds sizeof(UnzipCommandBlock) of the caller's build, so the library
// can refuse a block of the other layout.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define DZ_CALLBACK __stdcall
#else
#define DZ_CALLBACK
#endif

#if defined(_WIN32)
#define DZ_EXPORT extern "C" __declspec(dllexport)
#else
#define DZ_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Status callback (major and minor): item text, percent, user value.
// Returns 1 to ask the library to cancel, 0 to go on.
typedef int32_t(DZ_CALLBACK* DzStatusProc)(const char* item, int32_t percent, void* user);
// Message callback: message id and box type (16-bit values in 32-bit slots),
// p1, p2, two texts, user value. Returns the answer.
typedef int32_t(DZ_CALLBACK* DzMessageProc)(uint32_t msgId, uint32_t mbType, int32_t p1, int32_t p2,
                                            const char* lpsz1, const char* lpsz2, void* user);
// Rename callback: the library's rename record, user value.
typedef int32_t(DZ_CALLBACK* DzRenameProc)(void* dzr, void* user);

#pragma pack(push, 1)
struct UnzipCommandBlock {
    int32_t StructSize;
    int32_t Function;
    const char* lpszZipFile;
    void* lpZipInfo;
    const char* lpszFileSpec;
    int32_t Index;
    const char* lpszDestination;
    int32_t FreshenFlag;
    int32_t UpdateFlag;
    int32_t OverWriteFlag;
    int32_t QuietFlag;
    int32_t TestFlag;
    int32_t NoDirectoryNamesFlag;
    int32_t RecurseFlag;
    int32_t NoDirectoryItemsFlag;
    DzStatusProc lpMinorStatus;
    void* lpMinorUserData;
    DzStatusProc lpMajorStatus;
    void* lpMajorUserData;
    int32_t Count;
    char* lpszReturnString;
    int32_t bDiagnostic;
    int32_t bLF2CRLFFlag;
    int32_t DecryptFlag;
    const char* lpszDecryptCode;
    DzMessageProc lpMessageDisplay;
    void* lpMessageDisplayData;
    uint16_t wUnzipSubOptions;
    uint8_t Reserved[8];
    DzRenameProc lpRenameProc;
    void* lpRenameUserData;
    const char* lpszExtProgTitle;
    int32_t Value1;
    int32_t Value2;
    int32_t Value3;
};
#pragma pack(pop)

typedef int32_t(DZ_CALLBACK* DunzipEntry)(UnzipCommandBlock* block);

// The fields in block order, to compute the layout for either address size
// (the component fills a byte buffer by these offsets; tests check the
// 32-bit layout on a 64-bit host).
enum class UnzipField {
    StructSize,
    Function,
    ZipFile,
    ZipInfo,
    FileSpec,
    Index,
    Destination,
    FreshenFlag,
    UpdateFlag,
    OverWriteFlag,
    QuietFlag,
    TestFlag,
    NoDirectoryNamesFlag,
    RecurseFlag,
    NoDirectoryItemsFlag,
    MinorStatus,
    MinorUser,
    MajorStatus,
    MajorUser,
    Count,
    ReturnString,
    Diagnostic,
    LF2CRLF,
    DecryptFlag,
    DecryptCode,
    MessageDisplay,
    MessageUser,
    SubOptions,
    Reserved,
    RenameProc,
    RenameUser,
    ExtProgTitle,
    Value1,
    Value2,
    Value3,
    End
};

constexpr bool UnzipFieldIsAddress(UnzipField f)
{
    switch (f) {
    case UnzipField::ZipFile:
    case UnzipField::ZipInfo:
    case UnzipField::FileSpec:
    case UnzipField::Destination:
    case UnzipField::MinorStatus:
    case UnzipField::MinorUser:
    case UnzipField::MajorStatus:
    case UnzipField::MajorUser:
    case UnzipField::ReturnString:
    case UnzipField::DecryptCode:
    case UnzipField::MessageDisplay:
    case UnzipField::MessageUser:
    case UnzipField::RenameProc:
    case UnzipField::RenameUser:
    case UnzipField::ExtProgTitle:
        return true;
    default:
        return false;
    }
}

constexpr std::size_t UnzipFieldSize(UnzipField f, std::size_t addressSize)
{
    if (UnzipFieldIsAddress(f))
        return addressSize;
    if (f == UnzipField::SubOptions)
        return 2;
    if (f == UnzipField::Reserved)
        return 8;
    if (f == UnzipField::End)
        return 0;
    return 4;
}

constexpr std::size_t UnzipFieldOffset(UnzipField f, std::size_t addressSize)
{
    std::size_t offset = 0;
    for (int i = 0; i < int(f); ++i)
        offset += UnzipFieldSize(UnzipField(i), addressSize);
    return offset;
}

constexpr std::size_t UnzipBlockSize(std::size_t addressSize)
{
    return UnzipFieldOffset(UnzipField::End, addressSize);
}

// The documented 32-bit layout.
static_assert(UnzipBlockSize(4) == 142);
static_assert(UnzipFieldOffset(UnzipField::Function, 4) == 4);
static_assert(UnzipFieldOffset(UnzipField::ZipFile, 4) == 8);
static_assert(UnzipFieldOffset(UnzipField::ZipInfo, 4) == 12);
static_assert(UnzipFieldOffset(UnzipField::FileSpec, 4) == 16);
static_assert(UnzipFieldOffset(UnzipField::Index, 4) == 20);
static_assert(UnzipFieldOffset(UnzipField::Destination, 4) == 24);
static_assert(UnzipFieldOffset(UnzipField::FreshenFlag, 4) == 28);
static_assert(UnzipFieldOffset(UnzipField::OverWriteFlag, 4) == 36);
static_assert(UnzipFieldOffset(UnzipField::QuietFlag, 4) == 40);
static_assert(UnzipFieldOffset(UnzipField::NoDirectoryNamesFlag, 4) == 48);
static_assert(UnzipFieldOffset(UnzipField::NoDirectoryItemsFlag, 4) == 56);
static_assert(UnzipFieldOffset(UnzipField::MinorStatus, 4) == 60);
static_assert(UnzipFieldOffset(UnzipField::MajorUser, 4) == 72);
static_assert(UnzipFieldOffset(UnzipField::Count, 4) == 76);
static_assert(UnzipFieldOffset(UnzipField::ReturnString, 4) == 80);
static_assert(UnzipFieldOffset(UnzipField::Diagnostic, 4) == 84);
static_assert(UnzipFieldOffset(UnzipField::DecryptCode, 4) == 96);
static_assert(UnzipFieldOffset(UnzipField::MessageDisplay, 4) == 100);
static_assert(UnzipFieldOffset(UnzipField::MessageUser, 4) == 104);
static_assert(UnzipFieldOffset(UnzipField::SubOptions, 4) == 108);
static_assert(UnzipFieldOffset(UnzipField::Reserved, 4) == 110);
static_assert(UnzipFieldOffset(UnzipField::RenameProc, 4) == 118);
static_assert(UnzipFieldOffset(UnzipField::RenameUser, 4) == 122);
static_assert(UnzipFieldOffset(UnzipField::ExtProgTitle, 4) == 126);
static_assert(UnzipFieldOffset(UnzipField::Value1, 4) == 130);
static_assert(UnzipFieldOffset(UnzipField::Value2, 4) == 134);
static_assert(UnzipFieldOffset(UnzipField::Value3, 4) == 138);

// The 64-bit layout: the same order with 8-byte addresses.
static_assert(UnzipBlockSize(8) == 202);
static_assert(UnzipFieldOffset(UnzipField::ZipFile, 8) == 8);
static_assert(UnzipFieldOffset(UnzipField::ZipInfo, 8) == 16);
static_assert(UnzipFieldOffset(UnzipField::FileSpec, 8) == 24);
static_assert(UnzipFieldOffset(UnzipField::Index, 8) == 32);
static_assert(UnzipFieldOffset(UnzipField::Destination, 8) == 36);
static_assert(UnzipFieldOffset(UnzipField::FreshenFlag, 8) == 44);
static_assert(UnzipFieldOffset(UnzipField::OverWriteFlag, 8) == 52);
static_assert(UnzipFieldOffset(UnzipField::QuietFlag, 8) == 56);
static_assert(UnzipFieldOffset(UnzipField::NoDirectoryNamesFlag, 8) == 64);
static_assert(UnzipFieldOffset(UnzipField::MinorStatus, 8) == 76);
static_assert(UnzipFieldOffset(UnzipField::MajorUser, 8) == 100);
static_assert(UnzipFieldOffset(UnzipField::Count, 8) == 108);
static_assert(UnzipFieldOffset(UnzipField::ReturnString, 8) == 112);
static_assert(UnzipFieldOffset(UnzipField::Diagnostic, 8) == 120);
static_assert(UnzipFieldOffset(UnzipField::DecryptCode, 8) == 132);
static_assert(UnzipFieldOffset(UnzipField::MessageDisplay, 8) == 140);
static_assert(UnzipFieldOffset(UnzipField::MessageUser, 8) == 148);
static_assert(UnzipFieldOffset(UnzipField::SubOptions, 8) == 156);
static_assert(UnzipFieldOffset(UnzipField::Reserved, 8) == 158);
static_assert(UnzipFieldOffset(UnzipField::RenameProc, 8) == 166);
static_assert(UnzipFieldOffset(UnzipField::RenameUser, 8) == 174);
static_assert(UnzipFieldOffset(UnzipField::ExtProgTitle, 8) == 182);
static_assert(UnzipFieldOffset(UnzipField::Value1, 8) == 190);
static_assert(UnzipFieldOffset(UnzipField::Value3, 8) == 198);

// The struct of this build matches the computed layout for its address size.
#define DZ_CHECK_FIELD(member, field)                                                              \
    static_assert(offsetof(UnzipCommandBlock, member) ==                                           \
                  UnzipFieldOffset(UnzipField::field, sizeof(void*)))
static_assert(sizeof(UnzipCommandBlock) == UnzipBlockSize(sizeof(void*)));
DZ_CHECK_FIELD(StructSize, StructSize);
DZ_CHECK_FIELD(Function, Function);
DZ_CHECK_FIELD(lpszZipFile, ZipFile);
DZ_CHECK_FIELD(lpZipInfo, ZipInfo);
DZ_CHECK_FIELD(lpszFileSpec, FileSpec);
DZ_CHECK_FIELD(Index, Index);
DZ_CHECK_FIELD(lpszDestination, Destination);
DZ_CHECK_FIELD(FreshenFlag, FreshenFlag);
DZ_CHECK_FIELD(UpdateFlag, UpdateFlag);
DZ_CHECK_FIELD(OverWriteFlag, OverWriteFlag);
DZ_CHECK_FIELD(QuietFlag, QuietFlag);
DZ_CHECK_FIELD(TestFlag, TestFlag);
DZ_CHECK_FIELD(NoDirectoryNamesFlag, NoDirectoryNamesFlag);
DZ_CHECK_FIELD(RecurseFlag, RecurseFlag);
DZ_CHECK_FIELD(NoDirectoryItemsFlag, NoDirectoryItemsFlag);
DZ_CHECK_FIELD(lpMinorStatus, MinorStatus);
DZ_CHECK_FIELD(lpMinorUserData, MinorUser);
DZ_CHECK_FIELD(lpMajorStatus, MajorStatus);
DZ_CHECK_FIELD(lpMajorUserData, MajorUser);
DZ_CHECK_FIELD(Count, Count);
DZ_CHECK_FIELD(lpszReturnString, ReturnString);
DZ_CHECK_FIELD(bDiagnostic, Diagnostic);
DZ_CHECK_FIELD(bLF2CRLFFlag, LF2CRLF);
DZ_CHECK_FIELD(DecryptFlag, DecryptFlag);
DZ_CHECK_FIELD(lpszDecryptCode, DecryptCode);
DZ_CHECK_FIELD(lpMessageDisplay, MessageDisplay);
DZ_CHECK_FIELD(lpMessageDisplayData, MessageUser);
DZ_CHECK_FIELD(wUnzipSubOptions, SubOptions);
DZ_CHECK_FIELD(Reserved, Reserved);
DZ_CHECK_FIELD(lpRenameProc, RenameProc);
DZ_CHECK_FIELD(lpRenameUserData, RenameUser);
DZ_CHECK_FIELD(lpszExtProgTitle, ExtProgTitle);
DZ_CHECK_FIELD(Value1, Value1);
DZ_CHECK_FIELD(Value2, Value2);
DZ_CHECK_FIELD(Value3, Value3);
#undef DZ_CHECK_FIELD

#if defined(__x86_64__) || defined(_WIN64) || defined(__aarch64__)
// Spelled out once for the 64-bit build, in case the field list is edited.
static_assert(sizeof(UnzipCommandBlock) == 202);
static_assert(offsetof(UnzipCommandBlock, Count) == 108);
static_assert(offsetof(UnzipCommandBlock, wUnzipSubOptions) == 156);
static_assert(offsetof(UnzipCommandBlock, Value3) == 198);
#elif defined(__i386__) || defined(_WIN32)
static_assert(sizeof(UnzipCommandBlock) == 142);
static_assert(offsetof(UnzipCommandBlock, Count) == 76);
static_assert(offsetof(UnzipCommandBlock, wUnzipSubOptions) == 108);
static_assert(offsetof(UnzipCommandBlock, Value3) == 138);
#endif

// Function codes the library carries out.
enum DunzipFunction : int32_t {
    DZ_COUNT_ITEMS = 1,   // count: number of members of the archive
    DZ_COUNT_MATCHES = 3, // count: number of file members matching lpszFileSpec
    DZ_TEST_MATCHES = 4,  // reads the matching members through (no size limit, nothing kept);
                          // count: members read; each failing member is reported through
                          // the message callback (DZ_MSG_MEMBER_FAILED)
    DZ_NAME_LENGTH = 5,   // count: length of the name of member Index
    DZ_NAME_TEXT = 6,     // member Index's name into lpszReturnString (at most count chars)
    DZ_EXTRACT = 8,       // extracts the matching members flat into lpszDestination
};

// Results (0 = success).
enum DunzipResult : int32_t {
    DZ_OK = 0,
    DZ_ERR_BLOCK = 1,       // no block, or a block of the other layout
    DZ_ERR_FUNCTION = 2,    // function code not carried out
    DZ_ERR_ARGUMENT = 3,    // a text the function needs is missing
    DZ_ERR_OPEN = 4,        // the archive can't be opened or read
    DZ_ERR_NOT_FOUND = 5,   // no member matches
    DZ_ERR_UNSUPPORTED = 6, // encrypted, or stored with a method that can't be decoded
    DZ_ERR_TOO_LARGE = 7,   // a member above the size limit
    DZ_ERR_DATA = 8,        // damaged member data
    DZ_ERR_NAME = 9,        // a member name that can't be written ("", ".", "..")
    DZ_ERR_LINK = 10,       // a link member
    DZ_ERR_WRITE = 11,      // the destination can't be written
    DZ_ERR_CANCELLED = 12,  // a status callback asked to cancel
    DZ_ERR_INDEX = 13,      // Index outside the archive
};

// Message ids passed to the message callback.
enum DunzipMessage : uint32_t {
    // May an existing file be replaced? lpsz1: member name, lpsz2: target
    // path; the answer 1 replaces it.
    DZ_MSG_REPLACE = 1,
    // A tested member can't be read through: p1 the result code, p2 a
    // DunzipFailure, lpsz1 the member's raw name. The answer is ignored.
    DZ_MSG_MEMBER_FAILED = 2,
};

// Why a tested member failed (p2 of DZ_MSG_MEMBER_FAILED).
enum DunzipFailure : int32_t {
    DZ_FAIL_OTHER = 0,
    DZ_FAIL_ENCRYPTED = 1, // the member is encrypted
    DZ_FAIL_METHOD = 2,    // packed with a method that can't be decoded
    DZ_FAIL_CRC = 3,       // the data decodes but fails its CRC check
    DZ_FAIL_DECODE = 4,    // the packed data can't be decoded
    DZ_FAIL_SHORT = 5,     // the data ends before the member does
    DZ_FAIL_READ = 6,      // the archive file can't be read (an I/O error)
    DZ_FAIL_LINK = 7,      // a link member (not read)
};

// Largest member (uncompressed) the library extracts.
constexpr int64_t DunzipMaxMemberSize = 64 * 1024;
