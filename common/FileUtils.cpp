#include "common/FileUtils.h"

#include "common/AppError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#ifndef _WIN32
#include <fcntl.h>
#include <glob.h>
#include <unistd.h>
#else
#include <direct.h>
#include <io.h>
#ifndef S_ISREG
#define S_ISREG(m) (((m)&S_IFMT) == S_IFREG)
#endif
#endif

namespace
{

// A folder search knows two wildcards, '*' and '?'. Every other character
// stands for itself: "[" and "]" are ordinary characters of a file name,
// not the bounds of a set as glob() reads them.
#ifndef _WIN32
// glob() without GLOB_NOESCAPE: a backslash makes the next character plain,
// so a backslash of the name (an ordinary character on Linux) is escaped too.
QByteArray GlobPattern(const QString& pattern)
{
    const QByteArray bytes = QFile::encodeName(pattern);
    QByteArray out;
    out.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        if (c == '[' || c == ']' || c == '\\')
            out += '\\';
        out += c;
    }
    return out;
}
#else
// Name filters read "[...]" as a set; a set of one bracket is the bracket.
QString FilterPattern(const QString& pattern)
{
    QString out;
    for (const QChar c : pattern) {
        if (c == u'[')
            out += QStringLiteral("[[]");
        else if (c == u']')
            out += QStringLiteral("[]]");
        else
            out += c;
    }
    return out;
}
#endif

// Full paths of the entries a wildcard pattern yields, hidden names included.
QStringList SearchEntries(const QString& pattern)
{
    QStringList out;
    if (pattern.isEmpty())
        return out;
#ifndef _WIN32
    glob_t found;
    std::memset(&found, 0, sizeof found);
    // GLOB_PERIOD: a wildcard also matches names that start with a dot.
    const int r = ::glob(GlobPattern(pattern).constData(), GLOB_PERIOD, nullptr, &found);
    if (r == 0) {
        for (std::size_t i = 0; i < found.gl_pathc; ++i)
            out << QFile::decodeName(found.gl_pathv[i]);
    }
    ::globfree(&found);
#else
    const QFileInfo info(pattern);
    QDir dir = info.dir();
    const QStringList names = dir.entryList(QStringList{FilterPattern(info.fileName())},
                                            QDir::AllEntries | QDir::Hidden | QDir::System);
    for (const QString& name : names)
        out << dir.filePath(name);
#endif
    return out;
}

QString NameOf(const QString& path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(u'/'))
        p.chop(1);
    const qsizetype slash = p.lastIndexOf(u'/');
    return slash < 0 ? p : p.mid(slash + 1);
}

bool EqualAsciiNoCase(const QString& a, const QString& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        char16_t x = a.at(i).unicode();
        char16_t y = b.at(i).unicode();
        if (x >= u'A' && x <= u'Z')
            x = char16_t(x - u'A' + u'a');
        if (y >= u'A' && y <= u'Z')
            y = char16_t(y - u'A' + u'a');
        if (x != y)
            return false;
    }
    return true;
}

// Whether one folder level exists, looked up by its exact name (no
// wildcards, no case folding: the host's file system decides).
bool LevelExists(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

bool IsFolder(const QString& path)
{
    struct stat st;
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

QString PadToWidth(const QString& text, QChar fill, int width, QChar side)
{
    if (width < 0)
        return QString();
    if (text.size() == width)
        return text;
    if (text.size() > width)
        return text.left(width);
    const QString run(width - text.size(), fill);
    if (side == u'L' || side == u'l')
        return run + text;
    return text + run;
}

bool DeleteDiskFile(const QString& path)
{
    if (path.isEmpty() || path.size() > MaxDiskPath)
        return false;
    return ::unlink(QFile::encodeName(path).constData()) == 0;
}

QString WithTrailingBackslash(const QString& path)
{
    if (path.isEmpty() || path.endsWith(u'/'))
        return path;
    return path + u'/';
}

bool FolderExists(const QString& path)
{
    QString p = path;
    if (p.endsWith(u'/') && p.size() > 1)
        p.chop(1);
    return !SearchEntries(p).isEmpty();
}

bool FolderEntryExists(const QString& pattern, const QString& name)
{
    const QStringList entries = SearchEntries(pattern);
    for (const QString& entry : entries)
        if (EqualAsciiNoCase(NameOf(entry), name))
            return true;
    return false;
}

bool MakeFolderPath(const QString& path)
{
    // The root part: "/" on this host (a drive "C:\" where there are drives);
    // a relative path starts from the current folder.
    qsizetype start = 0;
    QString root;
    if (path.startsWith(u'/')) {
        root = QStringLiteral("/");
        start = 1;
    } else if (path.size() >= 3 && path.at(1) == u':' && path.at(0).isLetter()) {
        root = path.left(3);
        start = 3;
    }
    QStringList components;
    QString component;
    for (qsizetype i = start; i < path.size(); ++i) {
        if (path.at(i) == u'/') {
            components << component;
            component.clear();
        } else {
            component += path.at(i);
        }
    }
    // A trailing part without '/' behind it is not a level to create.

    QString accumulated = root;
    for (const QString& level : std::as_const(components)) {
        if (level.isEmpty())
            continue; // a doubled '/'
        const QString levelPath = accumulated + level;
        // Every existing level counts, whatever its name holds (dots
        // included): it is looked up by its exact name, not by a pattern.
        if (!LevelExists(levelPath)) {
#ifndef _WIN32
            const int made = ::mkdir(QFile::encodeName(levelPath).constData(), 0777);
#else
            const int made = ::_mkdir(QFile::encodeName(levelPath).constData());
#endif
            if (made != 0) {
                const int error = errno;
                // Made meanwhile by someone else: the level is there.
                if (!(error == EEXIST && IsFolder(levelPath)))
                    throw WriteError(QString::fromLocal8Bit(std::strerror(error)));
            }
        }
        accumulated = levelPath + u'/';
    }
    return FolderExists(path);
}

#ifndef _WIN32
ReplaceOutcome ReplaceFileInFolder(const QString& folder, const QString& name,
                                   const QByteArray& bytes)
{
    const QByteArray dir = QFile::encodeName(folder);
    const QByteArray target = QFile::encodeName(name);
    struct stat st {
    };
    if (::lstat(dir.constData(), &st) != 0 && (errno != ENOENT || !QDir().mkpath(folder)))
        return ReplaceOutcome::Failed;
    // The folder is held open from here on, so a link planted at its name
    // after this look changes nothing: every step below is relative to it.
    const int dirFd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return errno == ELOOP ? ReplaceOutcome::FolderIsLink : ReplaceOutcome::Failed;
    mode_t mode = 0666; // narrowed by the umask
    struct stat old {
    };
    const bool keepMode = ::fstatat(dirFd, target.constData(), &old, AT_SYMLINK_NOFOLLOW) == 0 &&
                          S_ISREG(old.st_mode);
    if (keepMode)
        mode = old.st_mode & 07777;
    QByteArray temp;
    int fd = -1;
    // O_EXCL creates a new file or fails: it never opens what lies there.
    for (int tries = 0; fd < 0 && tries < 100; ++tries) {
        temp = '.' + target + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 16) +
               ".tmp";
        fd = ::openat(dirFd, temp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    bool ok = fd >= 0 && (!keepMode || ::fchmod(fd, mode) == 0);
    for (qsizetype done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += n > 0 ? n : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    if (fd >= 0)
        ok = ::close(fd) == 0 && ok;
    // rename() replaces the entry under the name, whatever it is; a folder
    // there makes it fail.
    ok = ok && ::renameat(dirFd, temp.constData(), dirFd, target.constData()) == 0;
    if (!ok && fd >= 0)
        ::unlinkat(dirFd, temp.constData(), 0);
    ::close(dirFd);
    return ok ? ReplaceOutcome::Written : ReplaceOutcome::Failed;
}
#else
ReplaceOutcome ReplaceFileInFolder(const QString& folder, const QString& name,
                                   const QByteArray& bytes)
{
    if (!QDir().mkpath(folder))
        return ReplaceOutcome::Failed;
    QSaveFile file(QDir(folder).filePath(name));
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()
               ? ReplaceOutcome::Written
               : ReplaceOutcome::Failed;
}
#endif

int OpenRegularFile(const QString& path, bool* notRegular)
{
    return OpenRegularFile(QFile::encodeName(path), notRegular);
}

int OpenRegularFile(const QByteArray& name, bool* notRegular)
{
    if (notRegular)
        *notRegular = false;
#ifndef _WIN32
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
#else
    const int fd = ::_open(name.constData(), _O_RDONLY | _O_BINARY);
#endif
    if (fd < 0)
        return -1;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        if (notRegular)
            *notRegular = true;
        ::close(fd);
        return -1;
    }
#ifndef _WIN32
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
#endif
    return fd;
}
