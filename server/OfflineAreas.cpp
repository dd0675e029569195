#include "server/OfflineAreas.h"

#include "common/RunDelegate.h"
#include "server/AreaFiles.h"
#include "server/DiskNames.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QFile>

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_set>

namespace
{

// The state of the folder itself, before any record is looked at.
OfflineCause FolderCause(const QByteArray& folder)
{
    struct stat st {
    };
    if (::stat(folder.constData(), &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? OfflineCause::NoFolder
                                                   : OfflineCause::Unreadable;
    if (!S_ISDIR(st.st_mode))
        return OfflineCause::NotAFolder;
    DIR* dir = ::opendir(folder.constData());
    if (!dir)
        return OfflineCause::Unreadable;
    ::closedir(dir);
    return OfflineCause::None;
}

// The folder's entry names with ASCII letters folded, as the server matches
// a record's name to an entry.
std::unordered_set<std::string> FoldedEntries(const QByteArray& folder)
{
    std::unordered_set<std::string> names;
    if (DIR* dir = ::opendir(folder.constData())) {
        while (const dirent* e = ::readdir(dir))
            names.insert(disknames::FoldedName(e->d_name));
        ::closedir(dir);
    }
    return names;
}

} // namespace

QString AreaOffline::Reason() const
{
    const QString path = QFile::decodeName(folder);
    switch (cause) {
    case OfflineCause::None:
        break;
    case OfflineCause::NoFolder:
        return QStringLiteral("folder %1 does not exist").arg(path);
    case OfflineCause::NotAFolder:
        return QStringLiteral("folder %1 is not a folder").arg(path);
    case OfflineCause::Unreadable:
        return QStringLiteral("folder %1 cannot be read").arg(path);
    case OfflineCause::NoneOfItsFiles:
        return records == 1 ? QStringLiteral("folder %1 does not hold its only file").arg(path)
                            : QStringLiteral("folder %1 holds none of its %2 files")
                                  .arg(path, QString::number(records));
    }
    return QString();
}

AreaOffline CheckAreaOffline(int area)
{
    AreaOffline state;
    if (!AreaFolderBytes(area, state.folder))
        return state;
    const OfflineCause folderCause = FolderCause(state.folder);
    if (folderCause != OfflineCause::None) {
        // Offline only when there is a record to leave alone.
        if (WalkArea(area, [](FileRec&) { return false; }) > 0)
            state.cause = folderCause;
        return state;
    }
    bool found = false, listed = false;
    std::unordered_set<std::string> entries;
    const long walked = WalkArea(area, [&](FileRec& rec) {
        char name[sizeof rec.Name + 1] = {};
        std::memcpy(name, rec.Name, qstrnlen(rec.Name, sizeof rec.Name));
        // Only a name the folder holds in some letter case asks the server;
        // the first record asks it directly, so an online folder is never
        // listed when its first file is there.
        if (listed && !entries.count(disknames::FoldedName(name)))
            return true;
        found = WcExistFile(ServerFilePathBytes(area, name).constData());
        if (!found && !listed) {
            entries = FoldedEntries(state.folder);
            listed = true;
        }
        return !found;
    });
    if (!found && walked > 0) {
        state.cause = OfflineCause::NoneOfItsFiles;
        state.records = walked;
    }
    return state;
}

AreaOffline AreaOfflineAfterWalk(int area, long records, bool anyFound)
{
    AreaOffline state;
    if (anyFound || records <= 0 || !AreaFolderBytes(area, state.folder))
        return state;
    state.cause = FolderCause(state.folder);
    if (state.cause == OfflineCause::None) {
        state.cause = OfflineCause::NoneOfItsFiles;
        state.records = records;
    }
    return state;
}

bool AreaIsOffline(int area, QString* reason)
{
    const AreaOffline state = CheckAreaOffline(area);
    if (reason)
        *reason = state.Reason();
    return state.offline();
}

QString OfflineAreaLine(int area, const AreaOffline& state)
{
    return QStringLiteral("area %1: %2; left alone (offline?)")
        .arg(QString::number(area), state.Reason());
}

QString OfflineAreaQuestion(int area, const AreaOffline& state)
{
    const QString folder = QStringLiteral("The folder of file area #%1").arg(area);
    switch (state.cause) {
    case OfflineCause::NoFolder:
        return folder + QStringLiteral(" does not exist. Treat its files as missing?");
    case OfflineCause::NotAFolder:
        return folder + QStringLiteral(" is not a folder. Treat its files as missing?");
    case OfflineCause::Unreadable:
        return folder + QStringLiteral(" cannot be read. Treat its files as missing?");
    case OfflineCause::None:
    case OfflineCause::NoneOfItsFiles:
        break;
    }
    return folder + QStringLiteral(" holds none of its files. Treat them as missing?");
}

bool MayTreatFilesAsMissing(int area, RunDelegate& run)
{
    return MayTreatFilesAsMissing(area, CheckAreaOffline(area), run);
}

bool MayTreatFilesAsMissing(int area, const AreaOffline& state, RunDelegate& run)
{
    return !state.offline() || run.TreatOfflineAsMissing(OfflineAreaQuestion(area, state),
                                                         OfflineAreaLine(area, state));
}
