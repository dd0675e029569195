// FILES.BBS and DESCRIPT.ION lists come from anywhere: reading any bytes
// keeps every text within its record limit and every line accounted for,
// no text read holds a NUL, CR or LF (a record would store it cut or as a
// line break), and a list written from what was read reads back to the
// same texts (unless the writer reports the entry as one it can't write
// exactly).
#include "FuzzSupport.h"

#include "archive/DescriptionList.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{
bool HoldsBreakOrNul(const QByteArray& text)
{
    return text.contains('\0') || text.contains('\r') || text.contains('\n');
}

// Every text within its limits, every line in order, no NUL or line break.
void CheckList(const DescriptionList& list)
{
    int cuts = 0;
    int previous = 0;
    for (const DescriptionEntry& e : list.entries) {
        FUZZ_CHECK(!e.name.isEmpty());
        FUZZ_CHECK(e.description.size() <= DescriptionTextMax);
        FUZZ_CHECK(e.longLines.size() <= LongDescriptionLineMax);
        FUZZ_CHECK(e.longLines.size() == e.longLineNumbers.size());
        FUZZ_CHECK(e.line > previous);
        previous = e.line;
        for (qsizetype i = 0; i < e.longLines.size(); ++i) {
            FUZZ_CHECK(e.longLines.at(i).size() <= LongDescriptionTextMax);
            FUZZ_CHECK(e.longLineNumbers.at(i) > previous);
            previous = e.longLineNumbers.at(i);
        }
        FUZZ_CHECK(!e.description.contains("\x04\xC2"));
        FUZZ_CHECK(!HoldsBreakOrNul(e.name) && !HoldsBreakOrNul(e.description));
        for (const QByteArray& line : e.longLines)
            FUZZ_CHECK(!HoldsBreakOrNul(line));
        cuts += e.cuts;
    }
    FUZZ_CHECK(cuts == list.cuts);
    for (const UnreadLine& u : list.unread)
        FUZZ_CHECK(u.line >= 1 && !u.text.contains('\n') && !u.text.contains('\r'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const DescriptionList list = ParseDescriptionList(bytes);
    CheckList(list);
    // With file sizes known (here: a name's length for every name), a
    // number that is one reads as the size column.
    CheckList(ParseDescriptionList(bytes, [](const QByteArray& name) { return name.size(); }));

    for (DescriptionListLayout layout :
         {DescriptionListLayout::FilesBbs, DescriptionListLayout::DescriptIon}) {
        const DescriptionListExport ex = ExportDescriptionList(list.entries, layout);
        const DescriptionList back = ParseDescriptionList(ex.bytes);
        FUZZ_CHECK(back.cuts == 0);
        // Every entry is written; the exact ones read back whole.
        qsizetype at = 0;
        for (qsizetype i = 0; i < list.entries.size(); ++i) {
            if (ex.inexact.contains(int(i)))
                continue;
            const DescriptionEntry& e = list.entries.at(i);
            // Find it by its line in the written list: entries are written in order.
            bool found = false;
            for (; at < back.entries.size(); ++at) {
                const DescriptionEntry& b = back.entries.at(at);
                if (b.name == e.name && b.description == e.description &&
                    b.longLines == e.longLines) {
                    found = true;
                    ++at;
                    break;
                }
            }
            FUZZ_CHECK(found);
        }
    }

    // Putting an entry into a record keeps every field terminated.
    for (const DescriptionEntry& e : list.entries) {
        FullFileRec rec;
        std::memset(&rec, 0xA5, sizeof rec);
        ApplyDescriptionEntry(e, rec);
        FUZZ_CHECK(std::memchr(rec.Rec.Description, 0, sizeof rec.Rec.Description));
        for (const auto& line : rec.LongDescription)
            FUZZ_CHECK(std::memchr(line, 0, LongDescLineSize));
    }
    return 0;
}
