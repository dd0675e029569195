#include "ArchiveFixtures.h"
#include "ZipFixtures.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include <array>
#include <cstdint>

namespace
{

void Put16(QByteArray& out, uint32_t v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void Put32(QByteArray& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// CRC-16 with the polynomial 0xA001 (LHA's data check).
uint16_t Crc16(const QByteArray& data)
{
    uint16_t crc = 0;
    for (char ch : data) {
        crc ^= uint8_t(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

uint32_t Crc32(const QByteArray& data)
{
    uint32_t crc = 0xFFFFFFFFu;
    for (char ch : data) {
        crc ^= uint8_t(ch);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return ~crc;
}

// 1995-01-02 12:00:00 as an MS-DOS date and time.
constexpr uint32_t DosTime = (uint32_t(((1995 - 1980) << 9) | (1 << 5) | 2) << 16) | (12 << 11);

// A RAR block: the CRC (low 16 bits of the CRC-32 of the rest) and the rest.
QByteArray RarBlock(const QByteArray& rest)
{
    QByteArray out;
    Put16(out, Crc32(rest) & 0xFFFF);
    return out + rest;
}

} // namespace

bool RunTool(const QString& program, const QStringList& args, const QString& folder)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        qWarning("%s can't be started (tools/install-deps.sh installs it)", qPrintable(program));
        return false;
    }
    p.closeWriteChannel();
    if (!p.waitForFinished(120000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning("%s %s failed: %s", qPrintable(program), qPrintable(args.join(u' ')),
                 p.readAll().constData());
        return false;
    }
    return true;
}

bool WriteTree(const QString& folder, const QMap<QString, QByteArray>& members)
{
    for (auto it = members.begin(); it != members.end(); ++it) {
        const QString path = folder + u'/' + it.key();
        if (!QDir().mkpath(QFileInfo(path).path()))
            return false;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(it.value()) != it.value().size())
            return false;
    }
    return true;
}

QByteArray MakeLha(const QList<RawMember>& members)
{
    QByteArray out;
    for (const RawMember& m : members) {
        QByteArray h; // from the method on: the bytes the header checksum covers
        h += "-lh0-";
        Put32(h, uint32_t(m.data.size())); // packed size
        Put32(h, uint32_t(m.data.size())); // original size
        Put32(h, DosTime);
        h += char(0x20); // archive attribute
        h += char(0);    // header level 0
        h += char(m.name.size());
        h += m.name;
        Put16(h, Crc16(m.data));
        uint8_t sum = 0;
        for (char c : h)
            sum = uint8_t(sum + uint8_t(c));
        out += char(h.size());
        out += char(sum);
        out += h;
        out += m.data;
    }
    out += char(0); // end of archive
    return out;
}

QByteArray MakeRar(const QList<RawMember>& members)
{
    QByteArray out("Rar!\x1A\x07\x00", 7);
    {
        QByteArray main;
        main += char(0x73);
        Put16(main, 0);  // flags
        Put16(main, 13); // header size
        Put16(main, 0);
        Put32(main, 0);
        out += RarBlock(main);
    }
    for (const RawMember& m : members) {
        QByteArray f;
        f += char(0x74);
        Put16(f, 0x8000 | (m.encrypted ? 0x0004 : 0)); // data follows; encrypted
        Put16(f, uint32_t(32 + m.name.size()));
        Put32(f, uint32_t(m.data.size())); // packed size
        Put32(f, uint32_t(m.data.size())); // unpacked size
        f += char(0);                      // MS-DOS
        Put32(f, Crc32(m.data));
        Put32(f, DosTime);
        f += char(20);   // version 2.0 to extract
        f += char(0x30); // stored
        Put16(f, uint32_t(m.name.size()));
        Put32(f, 0x20); // archive attribute
        f += m.name;
        out += RarBlock(f) + m.data;
    }
    QByteArray end;
    end += char(0x7B);
    Put16(end, 0x4000);
    Put16(end, 7);
    out += RarBlock(end);
    return out;
}

QMap<QString, QByteArray> Snapshot(const QString& root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QFileInfo info(path);
        const QString rel = QDir(root).relativeFilePath(path);
        if (info.isSymLink()) {
            out[rel] = "link:" + QFile::encodeName(info.symLinkTarget());
        } else if (info.isDir()) {
            out[rel] = "dir";
        } else {
            QFile f(path);
            out[rel] = f.open(QIODevice::ReadOnly) ? "file:" + f.readAll() : "unreadable";
        }
    }
    return out;
}

bool MakeArchive(const QString& kind, const QString& target, const QString& workFolder,
                 const QMap<QString, QByteArray>& members, const QString& password)
{
    const QString src = workFolder;
    QDir(src).removeRecursively();
    if (!QDir().mkpath(src) || !WriteTree(src, members))
        return false;
    const QStringList files = members.keys();
    QFile::remove(target);
    if (kind == u"tar")
        return RunTool(QStringLiteral("bsdtar"), QStringList{"-cf", target} + files, src);
    if (kind == u"tar.gz")
        return RunTool(QStringLiteral("bsdtar"), QStringList{"-czf", target} + files, src);
    if (kind == u"tar.bz2")
        return RunTool(QStringLiteral("bsdtar"), QStringList{"-cjf", target} + files, src);
    if (kind == u"tar.xz")
        return RunTool(QStringLiteral("bsdtar"), QStringList{"-cJf", target} + files, src);
    if (kind == u"7z") {
        QStringList args{"a", "-bso0", "-bsp0", "-t7z"};
        if (!password.isEmpty())
            args << QStringLiteral("-p") + password << QStringLiteral("-mhe=off");
        return RunTool(QStringLiteral("7z"), args + QStringList{target} + files, src);
    }
    if (kind == u"cab")
        return RunTool(QStringLiteral("gcab"), QStringList{"-c", target} + files, src);
    if (kind == u"cab-mszip")
        return RunTool(QStringLiteral("gcab"), QStringList{"-c", "-z", target} + files, src);
    if (kind == u"iso")
        return RunTool(QStringLiteral("genisoimage"), QStringList{"-quiet", "-o", target, "."},
                       src);
    if (kind == u"iso-rr")
        return RunTool(QStringLiteral("xorriso"),
                       QStringList{"-as", "mkisofs", "-quiet", "-R", "-J", "-o", target, "."}, src);
    if (kind == u"arj")
        return RunTool(QStringLiteral("arj"), QStringList{"a", "-y", target} + files, src);
    if (kind == u"zip") {
        QList<ZipMember> zm;
        for (auto it = members.begin(); it != members.end(); ++it)
            zm.append(ZipMember(qPrintable(it.key()), it.value()));
        return MakeZip(target, zm);
    }
    QList<RawMember> raw;
    for (auto it = members.begin(); it != members.end(); ++it)
        raw.append({it.key().toLatin1(), it.value()});
    if (kind == u"lha")
        return WriteBytes(target, MakeLha(raw));
    if (kind == u"rar")
        return WriteBytes(target, MakeRar(raw));
    qWarning("no maker for %s", qPrintable(kind));
    return false;
}
