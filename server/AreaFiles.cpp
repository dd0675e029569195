#include "server/AreaFiles.h"

#include "common/Text.h"
#include "server/DiskNames.h"
#include "server/wcsrv.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <string>

namespace
{

std::atomic<bool> g_linksAllowed{false};

std::string_view View(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

} // namespace

QString RecordNameOfDiskName(const QByteArray& diskName)
{
    return FromBytes(QByteArray::fromStdString(disknames::RecordNameOfDiskName(View(diskName))));
}

QString RecordNameOfFile(const QString& fileName)
{
    QString text = fileName;
    for (QChar& c : text)
        if (c >= u'a' && c <= u'z')
            c = QChar(char16_t(c.unicode() - 32));
    return text;
}

bool NameTooLongForDatabase(const QString& name)
{
    return name.size() >= 15;
}

QString FileNameRefusal(const QString& recordName)
{
    const QByteArray bytes = ToBytes(recordName);
    // A character beyond Latin-1 has no byte: no disk name or record gave it.
    if (FromBytes(bytes) != recordName)
        return QStringLiteral("not a file name");
    switch (disknames::ProblemOfFileName(View(bytes))) {
    case disknames::NameProblem::None:
        return QString();
    case disknames::NameProblem::TooLong:
        return QStringLiteral("name too long for the file database");
    case disknames::NameProblem::ControlByte:
        return QStringLiteral("a control character in the name");
    case disknames::NameProblem::Separator:
        return QStringLiteral("a backslash in the name (the separator of server paths)");
    case disknames::NameProblem::Empty:
    case disknames::NameProblem::FolderName:
        break;
    }
    return QStringLiteral("not a file name");
}

QList<QByteArray> FolderEntryNames(const QByteArray& folder, bool* ok)
{
    QList<QByteArray> names;
    DIR* dir = ::opendir(folder.constData());
    if (ok)
        *ok = dir != nullptr;
    if (!dir)
        return names;
    while (const dirent* e = ::readdir(dir)) {
        const QByteArray name(e->d_name);
        if (name != "." && name != "..")
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end(), [](const QByteArray& a, const QByteArray& b) {
        const std::string fa = disknames::FoldedName(View(a)), fb = disknames::FoldedName(View(b));
        return fa != fb ? fa < fb : a < b;
    });
    return names;
}

QByteArray DiskPathIn(const QByteArray& folder, const QByteArray& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

bool IsRegularDiskFile(const QByteArray& path)
{
    struct stat st {
    };
    return ::stat(path.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsRegularDiskFile(const QString& path)
{
    return IsRegularDiskFile(QFile::encodeName(path));
}

bool IsDiskLink(const QByteArray& path)
{
    struct stat st {
    };
    return ::lstat(path.constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A file dropped from the area's own folder (an upload given its record) is
// found by the server under its name in any letter case; copying it onto
// itself would empty it.
bool IsFileBehind(const QString& serverPath, const QByteArray& diskPath)
{
    struct stat st {
    };
    WcFileId id{};
    return ::stat(diskPath.constData(), &st) == 0 &&
           WcGetFileId(ToBytes(serverPath).constData(), &id) && id.Volume == uint64_t(st.st_dev) &&
           id.File == uint64_t(st.st_ino);
}

bool IsFileBehind(const QString& serverPath, const QString& diskPath)
{
    return IsFileBehind(serverPath, QFile::encodeName(diskPath));
}

bool AreaFolderBytes(int area, QByteArray& folder)
{
    char bytes[1024];
    if (!WcGetFileAreaFolder(area, bytes, sizeof bytes))
        return false;
    folder = QByteArray(bytes);
    return true;
}

QByteArray AreaEntryOfName(int area, const QString& recordName)
{
    QByteArray folder;
    const QByteArray name = ToBytes(recordName);
    if (!disknames::IsFileName(View(name)) || !AreaFolderBytes(area, folder))
        return QByteArray();
    bool exists = false;
    const std::string path = disknames::FindInFolder(folder.toStdString(), View(name), &exists);
    return exists ? QByteArray::fromStdString(path) : QByteArray();
}

bool LiesInAreaFolder(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    const QByteArray parent = slash < 0    ? QByteArray(".")
                              : slash == 0 ? QByteArray("/")
                                           : path.left(slash);
    struct stat where {
    };
    if (::stat(parent.constData(), &where) != 0)
        return false;
    for (int area = 1, last = GetFileAreaCount(); area <= last; ++area) {
        QByteArray folder;
        struct stat st {
        };
        if (AreaFolderBytes(area, folder) && ::stat(folder.constData(), &st) == 0 &&
            st.st_dev == where.st_dev && st.st_ino == where.st_ino)
            return true;
    }
    return false;
}

void SetAreaLinksAllowed(bool allowed)
{
    g_linksAllowed.store(allowed);
}

bool AreaLinksAllowed()
{
    return g_linksAllowed.load();
}

QString LinkRefusal()
{
    return QStringLiteral("a link, and links in file area folders are not allowed");
}
