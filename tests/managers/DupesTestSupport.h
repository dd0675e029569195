// The BBS the duplicate finder's tests share: four areas, two of them on one
// folder, with copies by name (any letter case, one without its file) and
// by content (one disk file named by two records, a copy under another
// name, a disk name in other letters), a file of the same size with other
// bytes, and records whose file is missing.
#pragma once

#include "platform/wcsrv/WcAdmin.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>

#include <cstring>

inline QByteArray PackBytes()
{
    return QByteArray(3000, 'x');
}

inline void WriteAreaFile(const TestBbs& bbs, int area, const QString& name,
                          const QByteArray& bytes)
{
    QFile f(QDir(bbs.areaFolder(area)).filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(f.fileName()));
}

// Adds a record with the given file date; the file is written when `bytes`
// is given, else the record's size is `size` and no file is written.
inline void AddDupeRecord(TestBbs& bbs, int area, const QString& name, int year,
                          const QByteArray* bytes, int size = 0)
{
    bbs.addFile(area, name, bytes, [&](FullFileRec& full) {
        full.Rec.FileTime = TestTime(year, 6, 1, 12);
        if (!bytes)
            full.Rec.Size = size;
        std::strncpy(full.Rec.Description, qPrintable(QStringLiteral("about ") + name),
                     sizeof full.Rec.Description - 1);
        std::strncpy(full.Rec.Uploader.UserName, "Ann Uploader",
                     sizeof full.Rec.Uploader.UserName - 1);
    });
}

// Area 1 "Uploads", 2 "Mirror" (area 1's folder), 3 "CD-ROM", 4 "Other".
//   1: PACK.ZIP (X, 2020)  GAME.ZIP (111 bytes)  SOLO.TXT (77 bytes)
//   2: pack.zip (2021, the same disk file as 1:PACK.ZIP)
//   3: COPY.ZIP (X, 2019)  Mixed.Zip (X on disk as MIXED.ZIP, 2022)  game.zip (222 bytes)
//   4: SAME.SIZ (3000 other bytes)  Game.Zip (no file)  LOST.ZIP (no file)
inline void FillDupesBbs(TestBbs& bbs)
{
    bbs.addArea(1, QStringLiteral("Uploads"));
    const std::string error =
        wcadmin::AddArea(bbs.homeStd(), 2, "Mirror", bbs.areaFolder(1).toStdString());
    if (!error.empty())
        qFatal("AddArea: %s", error.c_str());
    bbs.addArea(3, QStringLiteral("CD-ROM"));
    bbs.addArea(4, QStringLiteral("Other"));
    const QByteArray pack = PackBytes();
    const QByteArray game1(111, 'g'), game2(222, 'h'), solo(77, 's'), same(3000, 'y');
    AddDupeRecord(bbs, 1, QStringLiteral("PACK.ZIP"), 2020, &pack);
    AddDupeRecord(bbs, 1, QStringLiteral("GAME.ZIP"), 2020, &game1);
    AddDupeRecord(bbs, 1, QStringLiteral("SOLO.TXT"), 2020, &solo);
    AddDupeRecord(bbs, 2, QStringLiteral("pack.zip"), 2021, nullptr, 3000);
    AddDupeRecord(bbs, 3, QStringLiteral("COPY.ZIP"), 2019, &pack);
    WriteAreaFile(bbs, 3, QStringLiteral("MIXED.ZIP"), pack);
    AddDupeRecord(bbs, 3, QStringLiteral("Mixed.Zip"), 2022, nullptr, 3000);
    AddDupeRecord(bbs, 3, QStringLiteral("game.zip"), 2020, &game2);
    AddDupeRecord(bbs, 4, QStringLiteral("SAME.SIZ"), 2020, &same);
    AddDupeRecord(bbs, 4, QStringLiteral("Game.Zip"), 2020, nullptr, 111);
    AddDupeRecord(bbs, 4, QStringLiteral("LOST.ZIP"), 2020, nullptr, 5);
}
