#include "config/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

QString ProgramFolder;
QString HomeDirSetting;
QString ZipViewerSetting;
QString ProgramFolderOverride;

QString DefaultHomeDir()
{
    return QStringLiteral("/wc5/");
}

QString DefaultZipViewer()
{
    return QStringLiteral("xdg-open");
}

QString DetermineProgramFolder()
{
    if (!ProgramFolderOverride.isEmpty())
        return ProgramFolderOverride;
    QString folder = QCoreApplication::applicationDirPath();
    if (!folder.endsWith(u'/'))
        folder += u'/';
    if (::access(QFile::encodeName(folder).constData(), W_OK) == 0)
        return folder;
    // An installed copy: settings and temporary files go to the user's folder.
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    folder = config + QStringLiteral("/vtfile/");
    QDir().mkpath(folder);
    return folder;
}
