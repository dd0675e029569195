#include "filter/Matching.h"
#include "server/ReadFailures.h"

#include "filter/DateTime.h"
#include "filter/SearchRecord.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <cstring>

// This runs once per record over walks of a million records, so the text
// criteria are compared on the record's own bytes, bounded by each field's
// size, without building any QString.
namespace
{

// Length of a fixed text field: up to its NUL, or the whole field.
std::size_t FieldLength(const char* field, std::size_t size)
{
    const void* nul = std::memchr(field, 0, size);
    return nul ? std::size_t(static_cast<const char*>(nul) - field) : size;
}

// True when the text holds a character above code 32 (non-blank when trimmed
// of blanks and control characters).
bool HasContent(const char* text, std::size_t length)
{
    for (std::size_t i = 0; i < length; ++i)
        if (static_cast<unsigned char>(text[i]) > 32)
            return true;
    return false;
}

template <std::size_t N> std::size_t FieldLength(const char (&field)[N])
{
    return FieldLength(field, N);
}

bool ContainsExact(const char* hay, std::size_t hayLength, const char* needle,
                   std::size_t needleLength)
{
    if (needleLength > hayLength)
        return false;
    if (needleLength == 0)
        return true;
    // Only where the first character is found is the rest compared.
    const char* at = hay;
    const char* const last = hay + (hayLength - needleLength);
    while (at <= last) {
        at = static_cast<const char*>(std::memchr(at, needle[0], std::size_t(last - at) + 1));
        if (!at)
            return false;
        if (std::memcmp(at + 1, needle + 1, needleLength - 1) == 0)
            return true;
        ++at;
    }
    return false;
}

// Equality ignoring the case of A-Z only (no locale).
bool EqualAsciiNoCase(const char* a, std::size_t aLength, const char* b, std::size_t bLength)
{
    if (aLength != bLength)
        return false;
    for (std::size_t i = 0; i < aLength; ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'a' && x <= 'z')
            x = static_cast<unsigned char>(x - 32);
        if (y >= 'a' && y <= 'z')
            y = static_cast<unsigned char>(y - 32);
        if (x != y)
            return false;
    }
    return true;
}

// Numbers compare inclusively for "greater than" and "less than".
bool NumberPasses(int32_t op, int32_t record, int32_t criterion)
{
    switch (EffectiveNumberOp(op)) {
    case OpEqual:
        return record == criterion;
    case OpGreater:
        return record >= criterion;
    case OpLess:
        return record <= criterion;
    case OpNotEqual:
        return record != criterion;
    default:
        return true;
    }
}

// Dates compare strictly, by day or by minute as the criterion's time says.
bool DatePasses(int32_t op, const FILETIME& record, const FILETIME& criterion)
{
    const int32_t effective = EffectiveNumberOp(op);
    if (effective == OpAny)
        return true;
    const int k = CompareFileTimes(record, criterion);
    switch (effective) {
    case OpEqual:
        return k == 0;
    case OpGreater:
        return k > 0;
    case OpLess:
        return k < 0;
    default:
        return k != 0;
    }
}

bool FlagPasses(int32_t choice, bool set)
{
    switch (EffectiveFlagChoice(choice)) {
    case FlagYes:
        return set;
    case FlagNo:
        return !set;
    default:
        return true;
    }
}

// Asks the server whether the record's file exists in its area.
bool ServerFileExists(const FileRec& r)
{
    char name[sizeof r.Name + 1];
    const std::size_t n = FieldLength(r.Name);
    std::memcpy(name, r.Name, n);
    name[n] = '\0';
    const QByteArray path = ServerFilePathBytes(r.Area, name);
    // A failed check is not a missing file: it is noted for the run.
    return WcExistFile(path.constData()) || NoteReadFailure();
}

} // namespace

bool FilterSelectsMissingFiles(const SearchRecord& filter)
{
    return EffectiveFlagChoice(filter.ExistOnDiskOp) == FlagNo;
}

bool MatchesSearchRecord(const SearchRecord& s, const FullFileRec& full,
                         bool (*fileExists)(const FileRec&))
{
    const FileRec& t = s.Template.Rec;
    const FileRec& r = full.Rec;

    if (s.AreaCriterion > 0 && r.Area != t.Area)
        return false;
    if (!NumberPasses(s.SizeOp, r.Size, t.Size))
        return false;
    if (!DatePasses(s.FileDateOp, r.FileTime, t.FileTime))
        return false;
    if (!DatePasses(s.AccessDateOp, r.LastAccessed, t.LastAccessed))
        return false;
    if (!NumberPasses(s.DownloadsOp, r.Downloads, t.Downloads))
        return false;
    if (!NumberPasses(s.CostOp, r.Cost, t.Cost))
        return false;
    if (!FlagPasses(s.NeverDeleteOp, r.NeverDelete != 0) ||
        !FlagPasses(s.NeverOverwriteOp, r.NeverOverwrite != 0) ||
        !FlagPasses(s.FailedScanOp, r.FailedScan != 0) ||
        !FlagPasses(s.CopyBeforeOp, r.CopyBeforeDownload != 0) ||
        !FlagPasses(s.FreeFileOp, r.FreeFile != 0) || !FlagPasses(s.FreeTimeOp, r.FreeTime != 0))
        return false;

    // The server's file check comes after every cheap test.
    if (EffectiveFlagChoice(s.ExistOnDiskOp) != FlagBoth &&
        !FlagPasses(s.ExistOnDiskOp, fileExists(r)))
        return false;

    const std::size_t nameLength = FieldLength(t.Name);
    if (HasContent(t.Name, nameLength) &&
        !ContainsExact(r.Name, FieldLength(r.Name), t.Name, nameLength))
        return false;

    const std::size_t uploaderLength = FieldLength(t.Uploader.UserName);
    if (HasContent(t.Uploader.UserName, uploaderLength) &&
        !EqualAsciiNoCase(t.Uploader.UserName, uploaderLength, r.Uploader.UserName,
                          FieldLength(r.Uploader.UserName)))
        return false;

    const std::size_t descLength = FieldLength(t.Description);
    if (HasContent(t.Description, descLength) &&
        !ContainsExact(r.Description, FieldLength(r.Description), t.Description, descLength))
        return false;

    if (!FlagPasses(s.HasLongDescOp, r.HasLongDescription != 0))
        return false;

    const std::size_t passwordLength = FieldLength(t.Password);
    if (HasContent(t.Password, passwordLength) &&
        !EqualAsciiNoCase(t.Password, passwordLength, r.Password, FieldLength(r.Password)))
        return false;

    if (EffectiveFlagChoice(s.HasPasswordOp) != FlagBoth &&
        !FlagPasses(s.HasPasswordOp, HasContent(r.Password, FieldLength(r.Password))))
        return false;

    return true;
}

bool MatchesFilter(const SearchRecord& filter, const FileRec& rec)
{
    FullFileRec full;
    if (!GetFullFileRec(&rec, &full))
        return NoteReadFailure();
    return MatchesSearchRecord(filter, full, ServerFileExists);
}
