#include "config/Settings.h"

#include "config/IniFile.h"

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
