// TIC files come from any uplink: reading them never fails, keeps every
// value bounded and free of line breaks, reads a file as it reads its
// bytes, and the texts a TIC gives a record stay inside their fields.
#include "FuzzSupport.h"

#include "archive/TicCheck.h"
#include "archive/TicFile.h"

#include <QByteArray>
#include <QFile>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{

bool Clean(const QByteArray& value)
{
    return value.size() <= kTicMaxValueBytes && !value.contains('\r') && !value.contains('\n') &&
           !value.contains('\0') && !value.contains('\x1a');
}

bool AllClean(const QList<QByteArray>& values)
{
    for (const QByteArray& v : values)
        if (!Clean(v))
            return false;
    return true;
}

bool TerminatedIn(const char* field, size_t size)
{
    return std::memchr(field, 0, size) != nullptr;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const TicFile tic = ParseTic(bytes);

    for (const QByteArray* v :
         {&tic.area, &tic.areaDescription, &tic.file, &tic.longName, &tic.sizeText, &tic.crcText,
          &tic.pw, &tic.origin, &tic.from, &tic.to, &tic.date})
        FUZZ_CHECK(Clean(*v));
    FUZZ_CHECK(AllClean(tic.desc) && AllClean(tic.ldesc) && AllClean(tic.replaces));
    FUZZ_CHECK(AllClean(tic.path) && AllClean(tic.seenby));
    for (const TicLine& line : tic.others) {
        FUZZ_CHECK(Clean(line.value));
        FUZZ_CHECK(!line.keyword.isEmpty() && line.keyword.size() <= kTicMaxKeywordBytes);
    }
    FUZZ_CHECK(tic.cut == (bytes.size() > kTicMaxBytes));
    FUZZ_CHECK(!tic.size || *tic.size >= 0);
    (void)TicText(tic.area);

    // The file reader sees exactly what the byte reader sees.
    const std::string path = fuzz::ScratchFolder() + "/input.tic";
    fuzz::WriteBytes(path, data, size);
    TicFile read;
    FUZZ_CHECK(ReadTicFile(QFile::decodeName(QByteArray::fromStdString(path)), read));
    FUZZ_CHECK(read == tic);

    // The check and the record texts, for a TIC whose echo is known and
    // whose file is complete.
    TicSettings settings;
    settings.areas = {{QString::fromLatin1(tic.area), 1}};
    settings.passwords = {{QStringLiteral("1:2/3"), QStringLiteral("pw")}};
    TicFileState state;
    state.exists = true;
    state.size = tic.size.value_or(1);
    state.crc = tic.crc.value_or(0);
    for (const CodePage page : {CodePage::Cp437, CodePage::Latin1}) {
        const TicDecision d = CheckTic(tic, settings, state, page);
        FUZZ_CHECK((d.verdict == TicVerdict::Accept) == d.reason.isEmpty());
        FUZZ_CHECK(d.description.size() <= kTicDescriptionBytes);
        FUZZ_CHECK(d.longDescription.size() <= LongDescLines);
        for (const QByteArray& line : d.longDescription)
            FUZZ_CHECK(line.size() <= kTicLongLineBytes);
        if (d.verdict == TicVerdict::Accept)
            FUZZ_CHECK(!d.ticOnly && !d.recordName.isEmpty() && d.recordName.size() <= 15);

        FullFileRec rec;
        std::memset(&rec, 0xA5, sizeof rec);
        ApplyTicTexts(d, rec);
        FUZZ_CHECK(TerminatedIn(rec.Rec.Description, sizeof rec.Rec.Description));
        for (int i = 0; i < LongDescLines; ++i)
            FUZZ_CHECK(TerminatedIn(rec.LongDescription[i], LongDescLineSize));
    }
    return 0;
}
