// FILE_ID.DIZ bytes come from any archive: splitting them into lines and
// putting the lines into a record keeps every text field terminated inside
// its bounds and touches nothing else.
#include "FuzzSupport.h"

#include "archive/DizReader.h"

#include <QByteArray>
#include <QStringList>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{

bool TerminatedIn(const char* field, size_t size)
{
    return std::memchr(field, 0, size) != nullptr;
}

// The field holds exactly `text` followed by zero bytes to its end.
bool HoldsExactly(const char* field, size_t size, const QByteArray& text)
{
    if (size_t(text.size()) >= size || std::memcmp(field, text.constData(), text.size()) != 0)
        return false;
    for (size_t i = size_t(text.size()); i < size; ++i)
        if (field[i] != 0)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QStringList lines = SplitDizLines(bytes);

    // Lines hold no break and no NUL; their bytes are the input's, in order.
    const qsizetype nul = bytes.indexOf('\0');
    const QByteArray text = nul < 0 ? bytes : bytes.left(nul);
    qsizetype at = 0;
    for (const QString& line : lines) {
        const QByteArray b = line.toLatin1();
        FUZZ_CHECK(QString::fromLatin1(b) == line);
        FUZZ_CHECK(!b.contains('\r') && !b.contains('\n') && !b.contains('\0'));
        FUZZ_CHECK(text.mid(at, b.size()) == b);
        at += b.size();
        // Skip the break that ended the line: CR LF, CR or LF.
        if (at < text.size() && text.at(at) == '\r') {
            ++at;
            if (at < text.size() && text.at(at) == '\n')
                ++at;
        } else if (at < text.size() && text.at(at) == '\n') {
            ++at;
        }
    }
    FUZZ_CHECK(at == text.size());
    // Counting: one line per break, plus a last line without a break.
    {
        qsizetype breaks = 0;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (text.at(i) == '\r') {
                ++breaks;
                if (i + 1 < text.size() && text.at(i + 1) == '\n')
                    ++i;
            } else if (text.at(i) == '\n') {
                ++breaks;
            }
        }
        const bool tail = !text.isEmpty() && text.back() != '\r' && text.back() != '\n';
        FUZZ_CHECK(lines.size() == breaks + (tail ? 1 : 0));
    }

    // The record starts dirty: no zero byte anywhere.
    FullFileRec rec;
    std::memset(&rec, 0xA5, sizeof rec);
    FullFileRec before;
    std::memcpy(&before, &rec, sizeof rec);

    const bool applied = ApplyDizLines(lines, rec);
    if (lines.isEmpty()) {
        FUZZ_CHECK(!applied);
        FUZZ_CHECK(std::memcmp(&rec, &before, sizeof rec) == 0);
        return 0;
    }
    FUZZ_CHECK(applied);
    FUZZ_CHECK(rec.Rec.HasLongDescription == 1);
    FUZZ_CHECK(TerminatedIn(rec.Rec.Description, sizeof rec.Rec.Description));
    FUZZ_CHECK(HoldsExactly(rec.Rec.Description, sizeof rec.Rec.Description,
                            lines.first().left(75).toLatin1()));
    for (int i = 0; i < LongDescLines; ++i) {
        FUZZ_CHECK(TerminatedIn(rec.LongDescription[i], LongDescLineSize));
        // Lines beyond those read are empty.
        const QByteArray expect = i < lines.size() ? lines.at(i).left(79).toLatin1() : QByteArray();
        FUZZ_CHECK(HoldsExactly(rec.LongDescription[i], LongDescLineSize, expect));
    }

    // Nothing else of the record changed.
    FullFileRec masked = rec;
    std::memcpy(masked.Rec.Description, before.Rec.Description, sizeof masked.Rec.Description);
    std::memcpy(masked.LongDescription, before.LongDescription, sizeof masked.LongDescription);
    masked.Rec.HasLongDescription = before.Rec.HasLongDescription;
    FUZZ_CHECK(std::memcmp(&masked, &before, sizeof masked) == 0);
    return 0;
}
