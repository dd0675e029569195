#include "archive/ArchiveKind.h"

#include <cstring>

namespace
{

bool At(const QByteArray& head, qsizetype offset, const char* mark, qsizetype length)
{
    return head.size() >= offset + length &&
           std::memcmp(head.constData() + offset, mark, std::size_t(length)) == 0;
}

unsigned Byte(const QByteArray& head, qsizetype offset)
{
    return static_cast<unsigned char>(head.at(offset));
}

// A tar header block: "ustar" at 257 (POSIX and GNU), or, for the old
// format without a mark, a stored checksum that matches the block's bytes
// (the checksum field counted as eight blanks).
bool IsTarHeader(const QByteArray& head)
{
    if (head.size() < 512)
        return false;
    if (At(head, 257, "ustar", 5))
        return true;
    if (head.at(0) == '\0')
        return false;
    unsigned long stored = 0;
    int digits = 0;
    for (qsizetype i = 148; i < 156; ++i) {
        const char c = head.at(i);
        if (c >= '0' && c <= '7') {
            stored = stored * 8 + unsigned(c - '0');
            ++digits;
        } else if (c == ' ' || c == '\0') {
            if (digits > 0)
                break;
        } else {
            return false;
        }
    }
    if (digits == 0)
        return false;
    unsigned long sum = 0;
    for (qsizetype i = 0; i < 512; ++i)
        sum += (i >= 148 && i < 156) ? unsigned(' ') : Byte(head, i);
    return sum == stored;
}

// An LHA header: "-lh?-" or "-lz?-" at offset 2, a header level of 0..3.
bool IsLhaHeader(const QByteArray& head)
{
    if (head.size() < 22)
        return false;
    const char* p = head.constData() + 2;
    if (p[0] != '-' || p[1] != 'l' || (p[2] != 'h' && p[2] != 'z') || p[4] != '-')
        return false;
    return Byte(head, 20) <= 3;
}

// An ARJ main header: 0x60 0xEA, then a basic header size of at most 2600.
bool IsArjHeader(const QByteArray& head)
{
    if (head.size() < 4 || Byte(head, 0) != 0x60 || Byte(head, 1) != 0xEA)
        return false;
    const unsigned size = Byte(head, 2) | (Byte(head, 3) << 8);
    return size > 0 && size <= 2600;
}

// An ARC header: 0x1A, a method of 1..9 or 0x7F (ARC's end mark is
// method 0), then a NUL-terminated name of at most 12 printable characters.
bool IsArcHeader(const QByteArray& head)
{
    if (head.size() < 29 || Byte(head, 0) != 0x1A)
        return false;
    const unsigned method = Byte(head, 1);
    if (!((method >= 1 && method <= 9) || method == 0x7F))
        return false;
    qsizetype i = 2;
    for (; i < 15; ++i) {
        const unsigned c = Byte(head, i);
        if (c == 0)
            break;
        if (c < 0x21 || c > 0x7E)
            return false;
    }
    return i > 2 && i < 15;
}

} // namespace

ArchiveKind DetectArchiveKind(const QByteArray& head)
{
    if (At(head, 0, "PK\x03\x04", 4) || At(head, 0, "PK\x05\x06", 4) ||
        At(head, 0, "PK\x07\x08", 4))
        return ArchiveKind::Zip;
    if (At(head, 0, "7z\xBC\xAF\x27\x1C", 6))
        return ArchiveKind::SevenZip;
    if (At(head, 0, "Rar!\x1A\x07\x01\x00", 8))
        return ArchiveKind::Rar5;
    if (At(head, 0, "Rar!\x1A\x07\x00", 7))
        return ArchiveKind::Rar;
    if (At(head, 0, "MSCF\0\0\0\0", 8))
        return ArchiveKind::Cab;
    if (At(head, 0, "\x1F\x8B\x08", 3))
        return ArchiveKind::Gzip;
    if (At(head, 0, "BZh", 3) && head.size() > 3 && head.at(3) >= '1' && head.at(3) <= '9')
        return ArchiveKind::Bzip2;
    if (At(head, 0,
           "\xFD"
           "7zXZ\0",
           6))
        return ArchiveKind::Xz;
    if (At(head, 7, "**ACE**", 7))
        return ArchiveKind::Ace;
    if (At(head, 0, "ZOO ", 4) && At(head, 20, "\xDC\xA7\xC4\xFD", 4))
        return ArchiveKind::Zoo;
    if (At(head, 0, "HLSQZ", 5))
        return ArchiveKind::Sqz;
    if (At(head, 0, "SIT!", 4) || At(head, 0, "StuffIt ", 8))
        return ArchiveKind::StuffIt;
    if (IsArjHeader(head))
        return ArchiveKind::Arj;
    if (IsLhaHeader(head))
        return ArchiveKind::Lha;
    if (IsTarHeader(head))
        return ArchiveKind::Tar;
    if (At(head, 32769, "CD001", 5))
        return ArchiveKind::Iso9660;
    if (IsArcHeader(head))
        return ArchiveKind::Arc;
    return ArchiveKind::Unknown;
}

QString ArchiveKindName(ArchiveKind kind)
{
    switch (kind) {
    case ArchiveKind::Unknown:
        return QString();
    case ArchiveKind::Zip:
        return QStringLiteral("ZIP");
    case ArchiveKind::SevenZip:
        return QStringLiteral("7z");
    case ArchiveKind::Rar:
        return QStringLiteral("RAR");
    case ArchiveKind::Rar5:
        return QStringLiteral("RAR5");
    case ArchiveKind::Lha:
        return QStringLiteral("LHA");
    case ArchiveKind::Cab:
        return QStringLiteral("CAB");
    case ArchiveKind::Tar:
        return QStringLiteral("tar");
    case ArchiveKind::Gzip:
        return QStringLiteral("gzip");
    case ArchiveKind::Bzip2:
        return QStringLiteral("bzip2");
    case ArchiveKind::Xz:
        return QStringLiteral("xz");
    case ArchiveKind::Iso9660:
        return QStringLiteral("ISO 9660");
    case ArchiveKind::Arj:
        return QStringLiteral("ARJ");
    case ArchiveKind::Ace:
        return QStringLiteral("ACE");
    case ArchiveKind::Zoo:
        return QStringLiteral("ZOO");
    case ArchiveKind::Arc:
        return QStringLiteral("ARC");
    case ArchiveKind::Sqz:
        return QStringLiteral("SQZ");
    case ArchiveKind::StuffIt:
        return QStringLiteral("StuffIt");
    }
    return QString();
}

bool ReadByLibarchive(ArchiveKind kind)
{
    switch (kind) {
    case ArchiveKind::SevenZip:
    case ArchiveKind::Rar:
    case ArchiveKind::Rar5:
    case ArchiveKind::Lha:
    case ArchiveKind::Cab:
    case ArchiveKind::Tar:
    case ArchiveKind::Gzip:
    case ArchiveKind::Bzip2:
    case ArchiveKind::Xz:
    case ArchiveKind::Iso9660:
        return true;
    default:
        return false;
    }
}

bool UnreadableKind(ArchiveKind kind)
{
    switch (kind) {
    case ArchiveKind::Arj:
    case ArchiveKind::Ace:
    case ArchiveKind::Zoo:
    case ArchiveKind::Arc:
    case ArchiveKind::Sqz:
    case ArchiveKind::StuffIt:
        return true;
    default:
        return false;
    }
}
