// File areas whose folder looks offline: an unmounted mount point (an empty
// folder), a folder that is gone, or one that cannot be read. Every record
// of such an area seems to have lost its file, so a run that acts on records
// because their file is missing (deleting them, listing them as missing,
// moving them away) would empty the area. Those runs consult this first and
// leave such an area alone unless the sysop says otherwise. No widgets.
#pragma once

#include <QByteArray>
#include <QString>

class RunDelegate;

enum class OfflineCause {
    None,           // online: a record's file was found, or the area has no record
    NoFolder,       // the folder does not exist
    NotAFolder,     // something else than a folder has its name
    Unreadable,     // the folder cannot be read
    NoneOfItsFiles, // the folder holds none of the files the records name
};

struct AreaOffline {
    OfflineCause cause = OfflineCause::None;
    QByteArray folder; // the area's folder as the server names it
    long records = 0;  // NoneOfItsFiles: the area's records, every one looked at

    bool offline() const { return cause != OfflineCause::None; }
    // "folder /srv/bbs/areas/1 holds none of its 3 files"; empty when online.
    QString Reason() const;
};

// Whether the area is offline. An area with no record, or one the server
// does not know, is not. Cheap for an area that is online: the records are
// looked at only until the first whose file is found, and the folder is
// listed (once) only when the first record's file is not found by its name.
AreaOffline CheckAreaOffline(int area);
// The same for a run that has walked every record of the area already:
// `records` walked, `anyFound` whether the file of one of them was found.
// Only the folder itself is looked at (when no file was found).
AreaOffline AreaOfflineAfterWalk(int area, long records, bool anyFound);
// The same as a yes or no, with the reason text when offline.
bool AreaIsOffline(int area, QString* reason = nullptr);

// "area 1: folder /srv/bbs/areas/1 holds none of its 3 files; left alone (offline?)"
QString OfflineAreaLine(int area, const AreaOffline& state);
// "The folder of file area #1 holds none of its files. Treat them as missing?"
QString OfflineAreaQuestion(int area, const AreaOffline& state);

// For a run about to act on the records of `area` because their files are
// missing: true when it may (the area is online, or the delegate's answer
// to the offline question is to go on); false when the run must leave the
// area alone (the delegate has said so).
bool MayTreatFilesAsMissing(int area, RunDelegate& run);
// The same with the area's state known (AreaOfflineAfterWalk).
bool MayTreatFilesAsMissing(int area, const AreaOffline& state, RunDelegate& run);
