// Server paths reach the server library from records, list lines and typed
// names: its parser accepts only "wc:\file\area(N)\NAME" with an area of 1
// or more and a name that stays inside the area's folder.
#include "FuzzSupport.h"

#include "platform/wcsrv/WcFault.h"
#include "server/ServerPath.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace
{

bool SafeName(const char* name, size_t length)
{
    if (length == 0 || length > 15)
        return false;
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(name[i]);
        if (c < 0x20 || c == 0x7f || c == '/' || c == '\\')
            return false;
    }
    // Dots inside a name ("FILE..ZIP") are legal; the names "." and ".."
    // themselves are not.
    return std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray path(reinterpret_cast<const char*>(data), qsizetype(size));
    const QByteArray text = path.left(path.indexOf('\0') < 0 ? path.size() : path.indexOf('\0'));

    int32_t area = -5;
    char name[16];
    std::memset(name, 'Z', sizeof name);
    const bool ok = WcTestParseServerPath(path.constData(), &area, name);
    if (ok) {
        const void* nul = std::memchr(name, 0, sizeof name);
        FUZZ_CHECK(nul != nullptr);
        const size_t length = size_t(static_cast<const char*>(nul) - name);
        FUZZ_CHECK(SafeName(name, length));
        FUZZ_CHECK(area > 0);
        FUZZ_CHECK(text.size() < 100);
        FUZZ_CHECK(text.toLower().startsWith("wc:\\file\\area("));
        FUZZ_CHECK(text.endsWith(QByteArray(")\\") + name));
        // The program's own path builder gives a path that parses the same.
        const QByteArray again = ServerFilePathBytes(area, name);
        int32_t area2 = 0;
        char name2[16];
        FUZZ_CHECK(WcTestParseServerPath(again.constData(), &area2, name2));
        FUZZ_CHECK(area2 == area && std::strcmp(name, name2) == 0);
    } else {
        // A refused path leaves the outputs alone.
        FUZZ_CHECK(area == -5);
    }

    // Names taken whole from the input never parse into anything unsafe.
    if (size > 0 && size <= 40) {
        const QByteArray built = ServerFilePathBytes(1 + data[0] % 200, text.mid(1).constData());
        int32_t a = 0;
        char n[16];
        if (WcTestParseServerPath(built.constData(), &a, n)) {
            FUZZ_CHECK(SafeName(n, std::strlen(n)));
            FUZZ_CHECK(a == 1 + data[0] % 200);
        }
    }
    return 0;
}
