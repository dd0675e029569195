// Archives of every kind for the archive tests: made with the archivers
// (bsdtar, 7z, gcab, genisoimage, arj) where Debian has one that writes the
// kind, and written byte by byte for the kinds it has none for (LHA, RAR).
#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>

// Runs `program` with `args` in `folder`; false (with the output in the
// failure message) when it can't start or exits non-zero.
bool RunTool(const QString& program, const QStringList& args, const QString& folder);

// Writes the members (name -> bytes, names may hold folders) under `folder`.
bool WriteTree(const QString& folder, const QMap<QString, QByteArray>& members);

struct RawMember {
    QByteArray name; // written as given: any separator, any path
    QByteArray data;
    bool encrypted = false; // RAR only: the member's "encrypted" flag
};

// An LHA archive, level 0 headers, members stored (-lh0-).
QByteArray MakeLha(const QList<RawMember>& members);
// A RAR archive (the 1.5-4.x format), members stored, MS-DOS host.
QByteArray MakeRar(const QList<RawMember>& members);

// Makes the archive `target` of `kind` from the members, written under
// `workFolder` first (emptied and made again). Kinds: "tar", "tar.gz",
// "tar.bz2", "tar.xz", "7z", "cab", "cab-mszip", "iso", "iso-rr", "arj" and
// "zip" (libzip) from the archivers; "lha" and "rar" byte by byte. With a
// password (7z only) the members' data is encrypted, their names are not.
bool MakeArchive(const QString& kind, const QString& target, const QString& workFolder,
                 const QMap<QString, QByteArray>& members, const QString& password = QString());

// Every path under `root` (relative) with its kind, size and bytes; links
// are listed with their target, never followed.
QMap<QString, QByteArray> Snapshot(const QString& root);
