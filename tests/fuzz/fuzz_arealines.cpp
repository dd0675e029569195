// Area lines and file lines typed into the editable selector or read back
// from list lines: any text gives a number, a name or a ConversionError.
#include "common/AppError.h"
#include "common/AreaLines.h"

#include <QString>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString line = QString::fromLatin1(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const EntryRef e = EntryOfLine(line, 3);
        if (!line.contains(u':') && (e.area != 3 || e.name != line))
            __builtin_trap();
        if (!e.name.isEmpty() &&
            (e.name.front().unicode() <= 32 || e.name.back().unicode() <= 32) &&
            line.contains(u':'))
            __builtin_trap();
    } catch (const ConversionError&) {
    }
    try {
        const int n = AreaNumberOfLine(line);
        // The prefix of a number reads back as that number.
        if (AreaNumberOfLine(AreaLinePrefix(n) + line) != n)
            __builtin_trap();
    } catch (const ConversionError&) {
    }
    return 0;
}
