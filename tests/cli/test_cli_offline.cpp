// Runs that act on records because their file is missing (delete with an
// "Exist On Disk: No" filter, dupes and dupes --delete, move with that
// filter), run as the built vtfilemgr-cli on an area whose folder is empty,
// gone or not a folder: the area is left alone byte for byte, the run says
// why, handles the online areas, and ends with 1; with --allow-offline the
// same run does take the area's records.
#include "filter/SearchRecord.h"
#include "server/AreaFiles.h"
#include "server/Records.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <cstring>
#include <map>
#include <memory>

namespace
{

// The records of one area, as their bytes by "area:name".
std::map<QString, QByteArray> RecordsOfArea(int area)
{
    std::map<QString, QByteArray> out;
    const QString prefix = QString::number(area) + QLatin1Char(':');
    for (const auto& [key, bytes] : RecordSnapshot())
        if (key.startsWith(prefix))
            out.emplace(key, bytes);
    return out;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

class TestCliOffline : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    QTemporaryDir m_out;
    QString m_missingFilter;

    // Area 1 "CD-ROM": A.ZIP (1990), B.ZIP, C.TXT, all with their files
    // until the test takes its folder away.
    // Area 2 "Uploads": AAGONE.ZIP (no file; first in the walk, so the
    // offline check must look further), A.ZIP (2000; on disk as "a.zip"),
    // DUP.ZIP (1995).
    // Area 3 "Mirror": DUP.ZIP (2005, the same bytes as area 2's).
    void fillBbs()
    {
        m_bbs->addArea(1, QStringLiteral("CD-ROM"));
        m_bbs->addArea(2, QStringLiteral("Uploads"));
        m_bbs->addArea(3, QStringLiteral("Mirror"));
        auto add = [&](int area, const char* name, const QByteArray* bytes, int year) {
            m_bbs->addFile(area, QString::fromLatin1(name), bytes, [&](FullFileRec& full) {
                full.Rec.FileTime = TestTime(year, 6, 1, 12);
                full.Rec.Size = 10;
            });
        };
        const QByteArray a1("cd a"), b1("cd b"), c1("cd c"), dup("duplicate bytes");
        add(1, "A.ZIP", &a1, 1990);
        add(1, "B.ZIP", &b1, 1991);
        add(1, "C.TXT", &c1, 1992);
        add(2, "AAGONE.ZIP", nullptr, 1999);
        WriteFile(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("a.zip")), "uploaded a");
        add(2, "A.ZIP", nullptr, 2000);
        add(2, "DUP.ZIP", &dup, 1995);
        add(3, "DUP.ZIP", &dup, 2005);
    }

    QStringList home() const { return {QStringLiteral("--home"), m_bbs->home()}; }

    // "Exist On Disk: No", saved as the match window saves it.
    QString missingFilter()
    {
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        CurrentSearchRecord.ExistOnDiskOp = FlagNo;
        const QString path = m_out.filePath(QStringLiteral("MISSING.FMS"));
        if (WriteSearchRecordFile(path, CurrentSearchRecord) != FmsResult::Ok)
            qFatal("cannot write the filter");
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        return path;
    }

    // Takes area 1's folder offline; returns the reason the run gives.
    QString takeOffline(const QString& kind)
    {
        QByteArray folder;
        if (!AreaFolderBytes(1, folder))
            qFatal("area 1 has no folder");
        const QString path = QFile::decodeName(folder);
        QDir dir(path);
        if (kind == QLatin1String("empty")) {
            for (const QString& name : dir.entryList(QDir::Files))
                dir.remove(name);
            return QStringLiteral("folder %1 holds none of its 3 files").arg(path);
        }
        if (!dir.removeRecursively())
            qFatal("cannot remove %s", qPrintable(path));
        if (kind == QLatin1String("missing"))
            return QStringLiteral("folder %1 does not exist").arg(path);
        WriteFile(path, "a file where the folder was");
        return QStringLiteral("folder %1 is not a folder").arg(path);
    }

    // A command's words with the filter's path and the --allow-offline
    // switch put in.
    QStringList words(QStringList args, bool allowOffline) const
    {
        args.replaceInStrings(QStringLiteral("MISSING.FMS"), m_missingFilter);
        if (allowOffline)
            args << QStringLiteral("--allow-offline");
        return home() + args;
    }

private slots:
    void init()
    {
        QVERIFY(m_out.isValid());
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        fillBbs();
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
        m_missingFilter = missingFilter();
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void offlineAreaLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");        // how area 1's folder is taken away
        QTest::addColumn<QStringList>("command"); // without --allow-offline
        // A second run for the online area, when the command takes one area.
        QTest::addColumn<QStringList>("onlineCommand");
        QTest::addColumn<QString>("onlineLine");  // area 2 or 3 handled
        QTest::addColumn<QString>("offlineLine"); // area 1 taken with --allow-offline
        QTest::addColumn<bool>("changes");        // not a dry run or a listing
        const QStringList deleteDry{QStringLiteral("delete"),      QStringLiteral("--areas"),
                                    QStringLiteral("1,2"),         QStringLiteral("--filter"),
                                    QStringLiteral("MISSING.FMS"), QStringLiteral("--files"),
                                    QStringLiteral("--dry-run")};
        const QStringList deleteYes{QStringLiteral("delete"),      QStringLiteral("--areas"),
                                    QStringLiteral("1,2"),         QStringLiteral("--filter"),
                                    QStringLiteral("MISSING.FMS"), QStringLiteral("--yes")};
        const QStringList dupes{QStringLiteral("dupes"), QStringLiteral("--areas"),
                                QStringLiteral("1-3"), QStringLiteral("--by"),
                                QStringLiteral("name")};
        const QStringList dupesDelete{QStringLiteral("dupes"),  QStringLiteral("--areas"),
                                      QStringLiteral("1-3"),    QStringLiteral("--keep"),
                                      QStringLiteral("oldest"), QStringLiteral("--delete")};
        auto move = [](int from) {
            return QStringList{QStringLiteral("move"),        QStringLiteral("--from"),
                               QString::number(from),         QStringLiteral("--to"),
                               QStringLiteral("3"),           QStringLiteral("--filter"),
                               QStringLiteral("MISSING.FMS"), QStringLiteral("--yes")};
        };
        for (const char* kind : {"empty", "missing", "file"}) {
            const QString k = QString::fromLatin1(kind);
            auto row = [&](const char* what) -> QTestData& {
                return QTest::newRow(
                           qPrintable(QStringLiteral("%1, %2").arg(QLatin1String(what), k)))
                       << k;
            };
            row("delete --dry-run")
                << deleteDry << QStringList() << QStringLiteral("2\tAAGONE.ZIP\twould delete")
                << QStringLiteral("1\tA.ZIP\twould delete") << false;
            row("delete --yes") << deleteYes << QStringList()
                                << QStringLiteral("2\tAAGONE.ZIP\tdeleted")
                                << QStringLiteral("1\tA.ZIP\tdeleted") << true;
            row("dupes") << dupes << QStringList() << QStringLiteral("  2\tAAGONE.ZIP\t")
                         << QStringLiteral("  1\tA.ZIP\t") << false;
            row("dupes --delete --dry-run")
                << (QStringList(dupesDelete) << QStringLiteral("--dry-run")) << QStringList()
                << QStringLiteral("3\tDUP.ZIP\twould delete")
                << QStringLiteral("1\tA.ZIP\twould delete") << false;
            row("dupes --delete --yes") << (QStringList(dupesDelete) << QStringLiteral("--yes"))
                                        << QStringList() << QStringLiteral("3\tDUP.ZIP\tdeleted")
                                        << QStringLiteral("1\tA.ZIP\tdeleted") << true;
            row("move") << move(1) << move(2) << QStringLiteral("2\tAAGONE.ZIP\tmoved to 3")
                        << QStringLiteral("1\tA.ZIP\tmoved to 3") << true;
        }
    }

    void offlineAreaLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(QStringList, command);
        QFETCH(QStringList, onlineCommand);
        QFETCH(QString, onlineLine);
        QFETCH(QString, offlineLine);
        QFETCH(bool, changes);

        const QString reason = takeOffline(kind);
        const std::map<QString, QByteArray> before = RecordsOfArea(1);
        QCOMPARE(before.size(), std::size_t(3));

        // Left alone: every record of area 1 as it was, the reason given,
        // the online area handled, and 1 for the exit.
        const CliRun left = RunCli(words(command, false));
        QCOMPARE(left.code, 1);
        QVERIFY2(left.err.contains(QStringLiteral("area 1: %1; left alone (offline?)").arg(reason)),
                 qPrintable(left.err));
        QVERIFY2(!left.out.contains(offlineLine), qPrintable(left.out));
        QCOMPARE(RecordsOfArea(1), before);
        if (onlineCommand.isEmpty()) {
            QVERIFY2(left.out.contains(onlineLine), qPrintable(left.out));
        } else {
            const CliRun online = RunCli(words(onlineCommand, false));
            QCOMPARE(online.code, 0);
            QVERIFY2(online.out.contains(onlineLine), qPrintable(online.out));
        }
        if (changes) // the online area's records did change
            QVERIFY(!RecordSnapshot().count(onlineLine.startsWith(QLatin1Char('3'))
                                                ? QStringLiteral("3:DUP.ZIP")
                                                : QStringLiteral("2:AAGONE.ZIP")));

        // On purpose: the same run takes area 1's records as missing, as
        // every such run did before areas were looked at.
        const CliRun allowed = RunCli(words(command, true));
        QVERIFY2(allowed.out.contains(offlineLine), qPrintable(allowed.out));
        QVERIFY2(!allowed.err.contains(QStringLiteral("left alone")), qPrintable(allowed.err));
        if (changes)
            QVERIFY(!RecordsOfArea(1).count(QStringLiteral("1:A.ZIP")));
        else
            QCOMPARE(RecordsOfArea(1), before);
    }
};

VT_TEST_MAIN(TestCliOffline)
#include "test_cli_offline.moc"
