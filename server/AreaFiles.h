// Files in area folders as every command that gives them records sees them
// (the drop, adding the files of a folder, the list import's --add): the
// folder's entries as bytes, the record name of each (server/DiskNames.h),
// and the checks an entry passes before a record may name it. No widgets.
//
// Record names travel through the program as QStrings of one character per
// byte (Latin-1, FromBytes/ToBytes), so the bytes survive; disk names and
// paths are QByteArrays and never go through a text conversion.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// The record name of a name on disk (ASCII letters in upper case, every
// other byte the same), as record text.
QString RecordNameOfDiskName(const QByteArray& diskName);
// The same for a name already held as record text (a list's entry).
QString RecordNameOfFile(const QString& fileName);
// True when a record name is too long for the file database (15 or more).
bool NameTooLongForDatabase(const QString& name);
// Why a record name of a file to be added can name no file of an area's
// folder ("a control character in the name", ...); empty when it can.
// Longer than a record holds counts here; the file database's own limit of
// 14 is NameTooLongForDatabase's.
QString FileNameRefusal(const QString& recordName);

// The names of the folder's entries, "." and ".." left out, as the bytes
// the file system holds: in order of their names with ASCII letters folded,
// then of their bytes. `ok` (when given) is false when the folder can't be
// read.
QList<QByteArray> FolderEntryNames(const QByteArray& folder, bool* ok = nullptr);
// `folder` + "/" + `name`, as bytes.
QByteArray DiskPathIn(const QByteArray& folder, const QByteArray& name);

// Whether the path names a regular file (a link is followed), found without
// opening it: opening a FIFO for reading waits for a writer.
bool IsRegularDiskFile(const QByteArray& path);
bool IsRegularDiskFile(const QString& path);
// Whether the path itself is a symbolic link.
bool IsDiskLink(const QByteArray& path);
// Whether the disk file is the very file behind the server path (same
// device and inode).
bool IsFileBehind(const QString& serverPath, const QByteArray& diskPath);
bool IsFileBehind(const QString& serverPath, const QString& diskPath);

// The folder of an area as bytes; false when the server names none.
bool AreaFolderBytes(int area, QByteArray& folder);
// The disk entry the server finds for the record name in the area's folder
// (DiskNames.h's FindInFolder); empty when there is none.
QByteArray AreaEntryOfName(int area, const QString& recordName);
// True when the folder holding `path`'s last part is the folder of a file
// area (the same folder, however it is reached).
bool LiesInAreaFolder(const QByteArray& path);

// Whether a link in an area's folder may get a record ("General",
// "AllowLinks" in vuru.cfg; --allow-links on the command line). Off by
// default: a link may point at any file the BBS can read, and a record
// would offer that file for download.
void SetAreaLinksAllowed(bool allowed);
bool AreaLinksAllowed();
// The refusal of a link in an area's folder while links are not allowed.
QString LinkRefusal();
