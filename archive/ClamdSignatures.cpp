#include "archive/ClamdSignatures.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cstring>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

constexpr const char* DebianConfig = "/etc/clamav/clamd.conf";
constexpr const char* DefaultDatabaseFolder = "/var/lib/clamav";

// The endings of the files clamd loads signatures from (its database
// formats); state files of the updater (freshclam.dat, mirrors.dat) change
// without the signatures changing and are left out.
bool IsSignatureFile(const QString& name)
{
    static const QSet<QString> endings = {
        QStringLiteral("cvd"),  QStringLiteral("cld"), QStringLiteral("cud"),
        QStringLiteral("db"),   QStringLiteral("hdb"), QStringLiteral("hdu"),
        QStringLiteral("hsb"),  QStringLiteral("hsu"), QStringLiteral("mdb"),
        QStringLiteral("mdu"),  QStringLiteral("msb"), QStringLiteral("msu"),
        QStringLiteral("ndb"),  QStringLiteral("ndu"), QStringLiteral("ldb"),
        QStringLiteral("ldu"),  QStringLiteral("sdb"), QStringLiteral("zmd"),
        QStringLiteral("rmd"),  QStringLiteral("idb"), QStringLiteral("fp"),
        QStringLiteral("sfp"),  QStringLiteral("gdb"), QStringLiteral("pdb"),
        QStringLiteral("wdb"),  QStringLiteral("cbc"), QStringLiteral("ftm"),
        QStringLiteral("cfg"),  QStringLiteral("cdb"), QStringLiteral("cat"),
        QStringLiteral("crb"),  QStringLiteral("ign"), QStringLiteral("ign2"),
        QStringLiteral("info"), QStringLiteral("yar"), QStringLiteral("yara"),
        QStringLiteral("pwdb"), QStringLiteral("ioc"), QStringLiteral("imp"),
    };
    const qsizetype dot = name.lastIndexOf(u'.');
    return dot > 0 && endings.contains(name.mid(dot + 1).toLower());
}

QByteArray ReadSmallFile(const QString& path, qint64 limit)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(limit) : QByteArray();
}

} // namespace

qint64 ClamdDaemonPid(const QString& socketPath)
{
    const QByteArray path = QFile::encodeName(socketPath);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return 0;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    qint64 pid = 0;
    // A connection to a listening socket completes at once (or is refused).
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        ucred peer{};
        socklen_t size = sizeof peer;
        if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0)
            pid = peer.pid;
    }
    ::close(fd);
    return pid;
}

QString ClamdConfigOfProcess(qint64 pid)
{
    const QString fallback = QLatin1String(DebianConfig);
    if (pid <= 0)
        return fallback;
    const QString proc = QStringLiteral("/proc/%1/").arg(pid);
    if (!ReadSmallFile(proc + QStringLiteral("comm"), 64).trimmed().startsWith("clamd"))
        return fallback;
    const QList<QByteArray> args =
        ReadSmallFile(proc + QStringLiteral("cmdline"), 65536).split('\0');
    for (qsizetype i = 1; i < args.size(); ++i) {
        const QByteArray& a = args[i];
        if (a.startsWith("--config-file="))
            return QFile::decodeName(a.mid(14));
        if ((a == "--config-file" || a == "-c") && i + 1 < args.size())
            return QFile::decodeName(args[i + 1]);
    }
    return fallback;
}

QString ClamdDatabaseFolder(const QByteArray& config)
{
    QString folder = QLatin1String(DefaultDatabaseFolder);
    for (QByteArray line : config.split('\n')) {
        line = line.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype space = line.indexOf(' ') >= 0 ? line.indexOf(' ') : line.indexOf('\t');
        if (space <= 0)
            continue;
        if (line.left(space).toLower() == "databasedirectory")
            folder = QFile::decodeName(line.mid(space + 1).trimmed());
    }
    return folder;
}

QByteArray SignatureFilesFingerprint(const QString& folder, int* files)
{
    if (files)
        *files = 0;
    QDir dir(folder);
    if (folder.isEmpty() || !dir.exists() || !dir.isReadable())
        return QByteArray();
    QCryptographicHash sha(QCryptographicHash::Sha256);
    int count = 0;
    const QStringList names = dir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& name : names) {
        if (!IsSignatureFile(name))
            continue;
        struct stat sb {
        };
        if (::stat(QFile::encodeName(dir.filePath(name)).constData(), &sb) != 0)
            continue;
        const QByteArray line = QFile::encodeName(name) + '\0' +
                                QByteArray::number(qint64(sb.st_size)) + ' ' +
                                QByteArray::number(qint64(sb.st_mtim.tv_sec)) + '.' +
                                QByteArray::number(qint64(sb.st_mtim.tv_nsec)) + '\n';
        sha.addData(line);
        ++count;
    }
    if (files)
        *files = count;
    return count ? sha.result().left(16).toHex() : QByteArray();
}

QByteArray MakeSignatureKey(const ClamdVersion& version, const QByteArray& fingerprint)
{
    if (version.database.isEmpty() && fingerprint.isEmpty())
        return QByteArray();
    // "1|" names how this program scans (the archive test one level deep
    // with it): a change there is a new key too.
    QByteArray key = "1|" + version.text.toUtf8();
    const QByteArray tail = fingerprint.isEmpty() ? QByteArray() : "|db:" + fingerprint;
    key.truncate(MaxSignatureKeyBytes - tail.size());
    return key + tail;
}

ClamdSignatureKey ReadClamdSignatureKey(const ClamdClient& client)
{
    ClamdSignatureKey out;
    const ClamdVersion version = client.version();
    out.ok = version.ok;
    out.message = version.message;
    out.version = version.text;
    if (!version.ok)
        return out;
    const QString config = ClamdConfigOfProcess(ClamdDaemonPid(client.socketPath()));
    const QString folder = ClamdDatabaseFolder(ReadSmallFile(config, 1 << 20));
    const QByteArray fingerprint = SignatureFilesFingerprint(folder, &out.databaseFiles);
    if (!fingerprint.isEmpty())
        out.databaseFolder = folder;
    out.key = MakeSignatureKey(version, fingerprint);
    return out;
}

QString ClamdSignatureKey::Text() const
{
    if (!ok)
        return message;
    QString text = QStringLiteral("signatures: %1").arg(version);
    if (!databaseFolder.isEmpty())
        text += QStringLiteral(", %1 files in %2").arg(databaseFiles).arg(databaseFolder);
    if (key.isEmpty())
        text += QStringLiteral(" (no signature version known: results are not kept)");
    return text;
}
