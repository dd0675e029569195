// Process-wide settings, alive for the whole run.
#pragma once

#include "common/Text.h"
#include "common/TicSettings.h"

#include <QString>
#include <QStringList>

#include <cstdint>

class IniFile;
class InstallLayout;

// Folder of the program (or the per-user folder when that one cannot be
// written), with a trailing '/': where vuru.cfg and Temp/ live.
extern QString ProgramFolder;
// The BBS's home folder; file names are appended to it directly.
extern QString HomeDirSetting;
// The zip viewer program.
extern QString ZipViewerSetting;

// The initial home folder: the BBS home the server library runs on
// (WCSRV_HOME, else $XDG_DATA_HOME/wcsrv, else ~/.local/share/wcsrv), with a
// trailing '/'. The zip viewer default of this platform.
QString DefaultHomeDir();
QString DefaultZipViewer();
// The folder of the executable, or $XDG_CONFIG_HOME/vtfile/ when that
// folder cannot be written or the program is an installed copy; always ends
// in '/'. Tests set ProgramFolderOverride to a temporary folder (with
// trailing '/') so that they never write into the build's program folder.
QString DetermineProgramFolder();
extern QString ProgramFolderOverride;
// The same choice for the program whose files lie as `layout` says.
QString ProgramFolderOf(const InstallLayout& layout, bool make = true);

// The configuration file the program reads: "vuru.cfg" in the folder
// DetermineProgramFolder chooses (the program's folder, or the per-user
// folder when that one cannot be written). Unlike DetermineProgramFolder it
// makes no folder, for readers that write nothing (the command line).
QString ProgramConfigPath();

// "General"/"CodePage" of vuru.cfg: "437", "850", "852" or "866" shows
// record texts in that DOS code page; "Latin1", any other value or no key
// at all keeps Latin-1.
extern const QString kCodePageKey;
RecordCodePage CodePageOfSetting(const QString& value);
QString SettingOfCodePage(RecordCodePage page);
// The code page the file names (Latin-1 when the key is absent).
RecordCodePage ReadCodePageSetting(const IniFile& ini);

// "General"/"AllowLinks" of vuru.cfg: "1" lets links in file area folders
// get records (AreaLinksAllowed); any other value or no key keeps them out.
extern const QString kAllowLinksKey;
bool ReadAllowLinksSetting(const IniFile& ini);

// The file echo intake's settings in vuru.cfg: section "TIC" with Inbound,
// BadFolder (empty or absent: "bad" inside the inbound), Uploader and
// ReplaceSameName ("0" turns it off; absent or any other value keeps it
// on); section "TicAreas" with one "TAG=AREA" line per echo (AREA a file
// area's number); section "TicPasswords" with one "ADDRESS=PASSWORD" line
// per uplink.
extern const QString kTicSection;
extern const QString kTicAreasSection;
extern const QString kTicPasswordsSection;
// Reads them. A TicAreas line whose area is not a whole number from 1 up is
// left out and named in `problems` ("TicAreas: FOO=x is not an area
// number"), for the intake to stop on; `problems` may be null.
TicSettings ReadTicSettings(const IniFile& ini, QStringList* problems = nullptr);
// Puts them into the lines of `ini` (in memory; IniFile::Save writes them):
// the four keys of "TIC", and "TicAreas" and "TicPasswords" rewritten to
// hold exactly the settings' lines, in their order.
void SetTicSettings(IniFile& ini, const TicSettings& settings);

// "General"/"TrashDays" of vuru.cfg: how many days the trash keeps the files
// journaled runs deleted (server/RunJournal.h); 0 unlinks them at once. No
// key, or a value that is not a whole number from 0 to 3650, keeps the
// default of 7.
extern const QString kTrashDaysKey;
uint32_t ReadTrashDaysSetting(const IniFile& ini);
