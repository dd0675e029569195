#include "ZipFixtures.h"

#include <QFile>
#include <QtTest>

#include <zip.h>

bool MakeZip(const QString& path, const QList<ZipMember>& members)
{
    QFile::remove(path);
    int error = 0;
    zip_t* za = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!za) {
        qWarning("zip_open failed: %d", error);
        return false;
    }
    for (const ZipMember& m : members) {
        // libzip reads the data when the archive is written: hand it a
        // malloc'd copy that it frees itself (an empty member needs none).
        zip_source_t* src = nullptr;
        if (m.data.isEmpty()) {
            src = zip_source_buffer(za, nullptr, 0, 0);
        } else {
            void* copy = std::malloc(std::size_t(m.data.size()));
            std::memcpy(copy, m.data.constData(), std::size_t(m.data.size()));
            src = zip_source_buffer(za, copy, zip_uint64_t(m.data.size()), 1);
            if (!src)
                std::free(copy);
        }
        if (!src) {
            zip_discard(za);
            return false;
        }
        const zip_int64_t index =
            zip_file_add(za, m.name.constData(), src, ZIP_FL_ENC_RAW | ZIP_FL_OVERWRITE);
        if (index < 0) {
            qWarning("zip_file_add failed: %s", zip_strerror(za));
            zip_source_free(src);
            zip_discard(za);
            return false;
        }
        zip_set_file_compression(za, zip_uint64_t(index), m.store ? ZIP_CM_STORE : ZIP_CM_DEFLATE,
                                 0);
        if (m.unixMode)
            zip_file_set_external_attributes(za, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX,
                                             *m.unixMode << 16);
    }
    if (zip_close(za) != 0) {
        qWarning("zip_close failed: %s", zip_strerror(za));
        zip_discard(za);
        return false;
    }
    return true;
}

QByteArray ReadBytes(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

bool WriteBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

namespace
{
uint32_t Get32(const QByteArray& b, qsizetype at)
{
    return uint32_t(uint8_t(b[at])) | uint32_t(uint8_t(b[at + 1])) << 8 |
           uint32_t(uint8_t(b[at + 2])) << 16 | uint32_t(uint8_t(b[at + 3])) << 24;
}
uint16_t Get16(const QByteArray& b, qsizetype at)
{
    return uint16_t(uint8_t(b[at]) | uint8_t(b[at + 1]) << 8);
}
void Put(QByteArray& b, qsizetype at, uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b[at + i] = char(uint8_t(v >> (8 * i)));
}
} // namespace

ZipHeaders FindHeaders(const QByteArray& zip, int index)
{
    ZipHeaders h;
    // The end record gives where the central directory starts.
    const qsizetype eocd = zip.lastIndexOf(QByteArray("PK\x05\x06", 4));
    if (eocd < 0 || eocd + 22 > zip.size())
        return h;
    qsizetype at = qsizetype(Get32(zip, eocd + 16));
    for (int i = 0; at + 46 <= zip.size() && Get32(zip, at) == 0x02014b50; ++i) {
        if (i == index) {
            h.central = at;
            h.local = qsizetype(Get32(zip, at + 42));
            return h;
        }
        at += 46 + Get16(zip, at + 28) + Get16(zip, at + 30) + Get16(zip, at + 32);
    }
    return h;
}

bool PatchMember(QByteArray& zip, int index, ZipHeaderField field, uint32_t value)
{
    const ZipHeaders h = FindHeaders(zip, index);
    if (h.local < 0 || h.central < 0)
        return false;
    switch (field) {
    case ZipHeaderField::Flags:
        Put(zip, h.local + 6, value, 2);
        Put(zip, h.central + 8, value, 2);
        break;
    case ZipHeaderField::Method:
        Put(zip, h.local + 8, value, 2);
        Put(zip, h.central + 10, value, 2);
        break;
    case ZipHeaderField::CompressedSize:
        Put(zip, h.local + 18, value, 4);
        Put(zip, h.central + 20, value, 4);
        break;
    case ZipHeaderField::UncompressedSize:
        Put(zip, h.local + 22, value, 4);
        Put(zip, h.central + 24, value, 4);
        break;
    }
    return true;
}
