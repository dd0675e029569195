// The one check of a file's size before a record takes it: a record's Size
// is a signed 32-bit count (kMaxRecordFileSize, server/Records.h), so a file
// of 2 GiB or more would be stored with a wrong or negative size. Adding,
// dropping, a list's --add, freshening and moving refuse such a file here,
// before anything is copied or stored. No widgets.
#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// Whether a file of `size` bytes fits a record's Size (an unknown size,
// below 0, counts as fitting: the caller's own checks tell a missing file).
bool FileFitsRecord(qint64 size);
// Why a file of `size` bytes can't have a record: "3,221,225,472 bytes is
// too large for a file record (at most 2,147,483,647)"; empty when it fits
// (or the size is unknown, below 0).
QString FileTooLargeWords(qint64 size);
// The same after the file's name: "FOO.ISO: 3,221,225,472 bytes is ...";
// empty when it fits.
QString FileTooLargeMessage(const QString& name, qint64 size);

// The size of the disk file at `path` (a link followed); -1 when it can't
// be read.
qint64 DiskFileSize(const QByteArray& path);
// The size of the file the server finds for the record name in the area's
// folder; -1 when there is none. Read from the disk entry, since the
// server's own size answers only sizes a record holds.
qint64 AreaFileSize(int area, const QString& recordName);
