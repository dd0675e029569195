// Real zip archives for the archive tests, written with libzip, and byte
// patches that turn them into hostile ones.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <cstdint>
#include <optional>

struct ZipMember {
    ZipMember(const char* n, const QByteArray& d, bool s = false,
              std::optional<uint32_t> mode = std::nullopt)
        : name(n), data(d), store(s), unixMode(mode)
    {
    }
    QByteArray name;
    QByteArray data;
    bool store = false;               // stored instead of deflated
    std::optional<uint32_t> unixMode; // external attributes (st_mode), e.g. 0120777 for a link
};

// Writes the archive; false (with a test failure message) when libzip fails.
bool MakeZip(const QString& path, const QList<ZipMember>& members);

QByteArray ReadBytes(const QString& path);
bool WriteBytes(const QString& path, const QByteArray& bytes);

// Offsets of member `index`'s local header and central directory header.
struct ZipHeaders {
    qsizetype local = -1;
    qsizetype central = -1;
};
ZipHeaders FindHeaders(const QByteArray& zip, int index);

// Patches a field of member `index` in both its local and central header.
enum class ZipHeaderField { Flags, Method, CompressedSize, UncompressedSize };
bool PatchMember(QByteArray& zip, int index, ZipHeaderField field, uint32_t value);
