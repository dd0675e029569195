// ".FMS" search-record files are outside input: any bytes must load (or be
// refused whole), and matching with whatever operators they hold must treat
// out-of-range values as "not applied".
#include "FuzzSupport.h"

#include "filter/Matching.h"
#include "filter/SearchRecord.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{

int gExistsCalls = 0;
bool gExistsAnswer = false;

bool FakeExists(const FileRec&)
{
    ++gExistsCalls;
    return gExistsAnswer;
}

// Every operator field of the record, in file order.
int32_t* OperatorFields(SearchRecord& s, int& count)
{
    count = int((offsetof(SearchRecord, UploaderText) - offsetof(SearchRecord, SizeOp)) / 4);
    return &s.SizeOp;
}

bool IsFlagField(int index)
{
    // SizeOp .. CostOp are number operators, the rest flag choices.
    return index >= 5;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string path = fuzz::ScratchFolder() + "/input.FMS";
    fuzz::WriteBytes(path, data, size);

    SearchRecord loaded;
    std::memset(&loaded, 0xA5, sizeof loaded);
    SearchRecord before;
    std::memcpy(&before, &loaded, sizeof loaded);

    const FmsResult result = ReadSearchRecordFile(QString::fromLocal8Bit(path.c_str()), loaded);
    if (size < sizeof(SearchRecord)) {
        // A short file is refused and the record keeps every byte.
        FUZZ_CHECK(result == FmsResult::ReadError);
        FUZZ_CHECK(std::memcmp(&loaded, &before, sizeof loaded) == 0);
        // Still exercise matching: the short bytes over a zero record.
        std::memset(&loaded, 0, sizeof loaded);
        std::memcpy(&loaded, data, size);
    } else {
        // Any 1,924 bytes load, and only the first 1,924 count.
        FUZZ_CHECK(result == FmsResult::Ok);
        FUZZ_CHECK(std::memcmp(&loaded, data, sizeof loaded) == 0);
    }

    // The record tested: the bytes after the search record when there are
    // enough, else the template itself with its numbers nudged.
    FullFileRec full;
    if (size >= sizeof(SearchRecord) + sizeof(FullFileRec)) {
        std::memcpy(&full, data + sizeof(SearchRecord), sizeof full);
    } else {
        full = loaded.Template;
        full.Rec.Size = int32_t(uint32_t(full.Rec.Size) + uint32_t(size & 3) - 1u);
        full.Rec.FileTime.dwLowDateTime ^= uint32_t(size & 0x70) << 20;
        full.Rec.Downloads ^= int32_t(size & 1);
    }
    gExistsAnswer = (size & 8) != 0;

    gExistsCalls = 0;
    const bool match = MatchesSearchRecord(loaded, full, FakeExists);
    const int calls = gExistsCalls;
    // The file check is asked at most once, and never when it doesn't apply.
    FUZZ_CHECK(calls <= 1);
    if (EffectiveFlagChoice(loaded.ExistOnDiskOp) == FlagBoth)
        FUZZ_CHECK(calls == 0);

    // Out-of-range operators count as 0: the same record with them written
    // as 0 gives the same answer.
    SearchRecord normal = loaded;
    int count = 0;
    int32_t* ops = OperatorFields(normal, count);
    for (int i = 0; i < count; ++i) {
        int32_t v;
        std::memcpy(&v, &ops[i], sizeof v);
        v = IsFlagField(i) ? EffectiveFlagChoice(v) : EffectiveNumberOp(v);
        std::memcpy(&ops[i], &v, sizeof v);
    }
    gExistsCalls = 0;
    FUZZ_CHECK(MatchesSearchRecord(normal, full, FakeExists) == match);
    FUZZ_CHECK(gExistsCalls == calls);

    // Setting one criterion to "not applied" never turns a match into a miss.
    if (match && size > 0) {
        SearchRecord relaxed = loaded;
        int n = 0;
        int32_t* r = OperatorFields(relaxed, n);
        const int which = data[size - 1] % (n + 4);
        if (which < n) {
            const int32_t zero = 0;
            std::memcpy(&r[which], &zero, sizeof zero);
        } else if (which == n) {
            relaxed.AreaCriterion = 0;
        } else if (which == n + 1) {
            std::memset(relaxed.Template.Rec.Name, 0, sizeof relaxed.Template.Rec.Name);
        } else if (which == n + 2) {
            std::memset(relaxed.Template.Rec.Description, 0,
                        sizeof relaxed.Template.Rec.Description);
        } else {
            std::memset(relaxed.Template.Rec.Password, 0, sizeof relaxed.Template.Rec.Password);
        }
        FUZZ_CHECK(MatchesSearchRecord(relaxed, full, FakeExists));
    }

    // An all-zero search record matches every record.
    SearchRecord zero;
    std::memset(&zero, 0, sizeof zero);
    gExistsCalls = 0;
    FUZZ_CHECK(MatchesSearchRecord(zero, full, FakeExists));
    FUZZ_CHECK(gExistsCalls == 0);
    return 0;
}
