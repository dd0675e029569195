// Date and time texts from the masked edits, the match window and ".FMS"
// files: parsing never fails badly, and a converted time formats back to
// texts that convert to the same minute.
#include "filter/DateTime.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype cut = bytes.indexOf('\n');
    const QString dateText = QString::fromLatin1(cut < 0 ? bytes : bytes.left(cut));
    const QString timeText = QString::fromLatin1(cut < 0 ? QByteArray() : bytes.mid(cut + 1));

    int month = 0, day = 0, year = 0, hour = 0, minute = 0;
    ParseDateText(dateText, month, day, year);
    ParseTimeText(timeText, hour, minute);
    IsAllDigits(dateText);
    TimeMarkerKind(timeText);

    FILETIME ft{};
    SystemTime st;
    // Only years that two digits show can come back from the texts.
    if (TextToFileTime(dateText, timeText, ft) && FileTimeToSystemTime(ft, st) && st.year >= 1980 &&
        st.year <= 2079) {
        const QString d = FileTimeToDateText(ft);
        const QString t = FileTimeToTimeText(ft);
        FILETIME back{};
        if (!TextToFileTime(d, t, back))
            __builtin_trap();
        if (CompareFileTimes(ft, back) != 0 && CompareFileTimes(back, ft) != 0)
            __builtin_trap();
    }
    if (size >= 16) {
        FILETIME a, b;
        std::memcpy(&a, data, 8);
        std::memcpy(&b, data + 8, 8);
        FileTimeToDateText(a);
        FileTimeToTimeText(a);
        const int k = CompareFileTimes(a, b);
        if (k < -1 || k > 1)
            __builtin_trap();
    }
    return 0;
}
