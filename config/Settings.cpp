#include "config/Settings.h"

#include "common/InstallLayout.h"
#include "config/IniFile.h"
#include "server/RunJournal.h"

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
    // The folder the server library takes as the default server's home, so
    // that the first start proposes the BBS the program runs on.
    QString home = QString::fromLocal8Bit(qgetenv("WCSRV_HOME"));
    if (home.isEmpty()) {
        const QString data = QString::fromLocal8Bit(qgetenv("XDG_DATA_HOME"));
        home = (data.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : data) +
               QStringLiteral("/wcsrv");
    }
    if (!home.endsWith(u'/'))
        home += u'/';
    return home;
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

QString ProgramFolderOf(const InstallLayout& layout, bool make)
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
    if (make)
        QDir().mkpath(folder);
    return folder;
}

QString ProgramConfigPath()
{
    const QString folder = ProgramFolderOverride.isEmpty()
                               ? ProgramFolderOf(InstallLayout::OfThisProgram(), false)
                               : ProgramFolderOverride;
    return folder + QStringLiteral("vuru.cfg");
}

const QString kCodePageKey = QStringLiteral("CodePage");

RecordCodePage CodePageOfSetting(const QString& value)
{
    RecordCodePage page = RecordCodePage::Latin1;
    return CodePageOfName(value, page) ? page : RecordCodePage::Latin1;
}

QString SettingOfCodePage(RecordCodePage page)
{
    return CodePageName(page);
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

const QString kTicSection = QStringLiteral("TIC");
const QString kTicAreasSection = QStringLiteral("TicAreas");
const QString kTicPasswordsSection = QStringLiteral("TicPasswords");

namespace
{
const QString kInboundKey = QStringLiteral("Inbound");
const QString kBadFolderKey = QStringLiteral("BadFolder");
const QString kUploaderKey = QStringLiteral("Uploader");
const QString kReplaceSameNameKey = QStringLiteral("ReplaceSameName");
} // namespace

TicSettings ReadTicSettings(const IniFile& ini, QStringList* problems)
{
    TicSettings s;
    s.inbound = ini.ReadString(kTicSection, kInboundKey, QString());
    s.badFolder = ini.ReadString(kTicSection, kBadFolderKey, QString());
    s.uploader = ini.ReadString(kTicSection, kUploaderKey, QString());
    s.replaceSameName =
        ini.ReadString(kTicSection, kReplaceSameNameKey, QString()).trimmed() != QLatin1String("0");
    for (const auto& [tag, value] : ini.ReadSection(kTicAreasSection)) {
        int area = 0;
        if (TryStrToInt(value, area) && area >= 1) {
            s.areas.append(TicAreaLink{tag, area});
        } else if (problems) {
            problems->append(QStringLiteral("%1: %2=%3 is not an area number")
                                 .arg(kTicAreasSection, tag, value));
        }
    }
    for (const auto& [address, password] : ini.ReadSection(kTicPasswordsSection))
        s.passwords.append(TicPassword{address, password});
    return s;
}

void SetTicSettings(IniFile& ini, const TicSettings& settings)
{
    ini.SetString(kTicSection, kInboundKey, settings.inbound);
    ini.SetString(kTicSection, kBadFolderKey, settings.badFolder);
    ini.SetString(kTicSection, kUploaderKey, settings.uploader);
    ini.SetString(kTicSection, kReplaceSameNameKey,
                  settings.replaceSameName ? QStringLiteral("1") : QStringLiteral("0"));
    QList<std::pair<QString, QString>> areas;
    for (const TicAreaLink& link : settings.areas)
        areas.append({link.tag, QString::number(link.area)});
    ini.SetSection(kTicAreasSection, areas);
    QList<std::pair<QString, QString>> passwords;
    for (const TicPassword& entry : settings.passwords)
        passwords.append({entry.address, entry.password});
    ini.SetSection(kTicPasswordsSection, passwords);
}

const QString kTrashDaysKey = QStringLiteral("TrashDays");

uint32_t ReadTrashDaysSetting(const IniFile& ini)
{
    bool ok = false;
    const int days =
        ini.ReadString(QStringLiteral("General"), kTrashDaysKey, QString()).trimmed().toInt(&ok);
    return ok && days >= 0 && days <= 3650 ? uint32_t(days) : kDefaultTrashDays;
}
