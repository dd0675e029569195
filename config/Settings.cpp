#include "config/Settings.h"

#include "common/InstallLayout.h"
#include "config/IniFile.h"

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
    return ProgramFolderOf(InstallLayout::OfThisProgram());
}

QString ProgramFolderOf(const InstallLayout& layout)
{
    QString folder = layout.BinFolder();
    // An installed copy never writes beside its program, also where it could
    // (run as root, or unpacked into a writable folder): /usr/bin is no place
    // for settings and temporary files.
    if (!layout.IsInstalled() && ::access(QFile::encodeName(folder).constData(), W_OK) == 0)
        return folder;
    // Settings and temporary files go to the user's folder.
    QString config = QString::fromLocal8Bit(qgetenv("XDG_CONFIG_HOME"));
    if (config.isEmpty())
        config = QDir::homePath() + QStringLiteral("/.config");
    folder = config + QStringLiteral("/vtfile/");
    QDir().mkpath(folder);
    return folder;
}

const QString kCodePageKey = QStringLiteral("CodePage");

RecordCodePage CodePageOfSetting(const QString& value)
{
    return value.trimmed() == QLatin1String("437") ? RecordCodePage::Cp437 : RecordCodePage::Latin1;
}

QString SettingOfCodePage(RecordCodePage page)
{
    return page == RecordCodePage::Cp437 ? QStringLiteral("437") : QStringLiteral("Latin1");
}

RecordCodePage ReadCodePageSetting(const IniFile& ini)
{
    return CodePageOfSetting(ini.ReadString(QStringLiteral("General"), kCodePageKey, QString()));
}

const QString kAllowLinksKey = QStringLiteral("AllowLinks");

bool ReadAllowLinksSetting(const IniFile& ini)
{
    return ini.ReadString(QStringLiteral("General"), kAllowLinksKey, QString()).trimmed() ==
           QLatin1String("1");
}
