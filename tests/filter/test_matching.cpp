// MatchesFilter against the records of a real BBS in a temporary folder.
#include "filter/Matching.h"

#include "common/Text.h"
#include "filter/DateTime.h"
#include "filter/SearchRecord.h"
#include "platform/wcsrv/WcFault.h"
#include "server/ServerPath.h"
#include "tests/support/TestSupport.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

namespace
{

// The filter the tests match against.
SearchRecord g_filter{};

FileRec Rec(int area, const char* name)
{
    FileRec rec{};
    uint32_t position = 0;
    if (!GetFileRecByAreaName(area, name, &rec, &position))
        qFatal("no record %d %s", area, name);
    return rec;
}

bool Matches(int area, const char* name)
{
    return MatchesFilter(g_filter, Rec(area, name));
}

SearchRecord& S()
{
    return g_filter;
}
FileRec& T()
{
    return g_filter.Template.Rec;
}

} // namespace

class TestMatching : public QObject
{
    Q_OBJECT
private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

private slots:
    void initTestCase()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Games"));
        m_bbs->addUser(QStringLiteral("Alice Smith"));
        m_bbs->addUser(QStringLiteral("Bob Jones"));
        const QByteArray thousand(1000, 'k');
        m_bbs->addFile(1, QStringLiteral("FOO.ZIP"), &thousand, [](FullFileRec& f) {
            SetRecText(f.Rec.Description, QStringLiteral("Best Utility for DOS"));
            SetRecText(f.Rec.Password, QStringLiteral("SECRET"));
            SetRecText(f.Rec.Uploader.UserName, QStringLiteral("Alice Smith"));
            f.Rec.FileTime = TestTime(1998, 5, 1, 17, 45, 50);
            f.Rec.LastAccessed = TestTime(1999, 1, 10, 8, 0);
            f.Rec.Downloads = 5;
            f.Rec.Cost = 10;
            f.Rec.NeverDelete = 1;
            f.Rec.FreeFile = 1;
            f.Rec.HasLongDescription = 1;
            SetRecText(f.LongDescription[0], QStringLiteral("More text"));
        });
        m_bbs->addFile(1, QStringLiteral("ZIPPER.TXT"), nullptr, [](FullFileRec& f) {
            f.Rec.Size = 0;
            f.Rec.FileTime = TestTime(1998, 5, 2, 0, 10);
            f.Rec.LastAccessed = TestTime(1999, 1, 11);
            SetRecText(f.Rec.Password, QStringLiteral("   "));
            SetRecText(f.Rec.Uploader.UserName, QStringLiteral("Bob Jones"));
            f.Rec.NeverOverwrite = 1;
            f.Rec.FailedScan = 1;
            f.Rec.CopyBeforeDownload = 1;
            f.Rec.FreeTime = 1;
        });
        const QByteArray small("abc");
        m_bbs->addFile(2, QStringLiteral("GAME.EXE"), &small, [](FullFileRec& f) {
            f.Rec.FileTime = TestTime(2003, 5, 6, 12, 0);
            f.Rec.Downloads = 2147483647;
            f.Rec.Cost = -3;
            SetRecText(f.Rec.Description, QStringLiteral("best game"));
        });
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanupTestCase()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void init()
    {
        g_filter = SearchRecord{};
        WcFaultReset();
    }

    void allZeroMatchesEverything()
    {
        int seen = 0;
        for (int area : {1, 2})
            WalkArea(area, [&](FileRec& rec) {
                ++seen;
                if (!MatchesFilter(g_filter, rec))
                    qWarning("%s did not match", rec.Name);
                return MatchesFilter(g_filter, rec);
            });
        QCOMPARE(seen, 3);
        QVERIFY(Matches(1, "FOO.ZIP") && Matches(1, "ZIPPER.TXT") && Matches(2, "GAME.EXE"));
    }

    void recordNotReturnedDoesNotMatch()
    {
        FileRec ghost = Rec(1, "FOO.ZIP");
        SetRecText(ghost.Name, QStringLiteral("GHOST.ZIP"));
        const FileRec copy = ghost;
        QVERIFY(!MatchesFilter(g_filter, ghost));
        QCOMPARE(std::memcmp(&ghost, &copy, sizeof ghost), 0);
    }

    void area()
    {
        S().AreaCriterion = 2;
        T().Area = 2;
        QVERIFY(!Matches(1, "FOO.ZIP"));
        QVERIFY(Matches(2, "GAME.EXE"));
        // Zero or negative: any area.
        S().AreaCriterion = -1;
        QVERIFY(Matches(1, "FOO.ZIP"));
    }

    void numbers_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("criterion");
        QTest::addColumn<int>("area");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("match");
        // Greater and less than include the criterion value.
        QTest::newRow("size > 1000 accepts 1000") << "size" << 2 << 1000 << 1 << "FOO.ZIP" << true;
        QTest::newRow("size < 1000 accepts 1000") << "size" << 3 << 1000 << 1 << "FOO.ZIP" << true;
        QTest::newRow("size > 1001 rejects 1000") << "size" << 2 << 1001 << 1 << "FOO.ZIP" << false;
        QTest::newRow("size < 999 rejects 1000") << "size" << 3 << 999 << 1 << "FOO.ZIP" << false;
        QTest::newRow("size = 0 accepts empty") << "size" << 1 << 0 << 1 << "ZIPPER.TXT" << true;
        QTest::newRow("size = 0 rejects 1000") << "size" << 1 << 0 << 1 << "FOO.ZIP" << false;
        QTest::newRow("size <> 0 rejects empty") << "size" << 4 << 0 << 1 << "ZIPPER.TXT" << false;
        QTest::newRow("size <> 0 accepts 1000") << "size" << 4 << 0 << 1 << "FOO.ZIP" << true;
        QTest::newRow("size op 5 not applied") << "size" << 5 << 7 << 1 << "FOO.ZIP" << true;
        QTest::newRow("size op -1 not applied") << "size" << -1 << 7 << 1 << "FOO.ZIP" << true;
        QTest::newRow("downloads = 5") << "downloads" << 1 << 5 << 1 << "FOO.ZIP" << true;
        QTest::newRow("downloads = 6") << "downloads" << 1 << 6 << 1 << "FOO.ZIP" << false;
        QTest::newRow("downloads > max")
            << "downloads" << 2 << 2147483647 << 2 << "GAME.EXE" << true;
        QTest::newRow("cost < 0 signed") << "cost" << 3 << 0 << 2 << "GAME.EXE" << true;
        QTest::newRow("cost > 0 signed") << "cost" << 2 << 0 << 2 << "GAME.EXE" << false;
        QTest::newRow("cost <> 10") << "cost" << 4 << 10 << 1 << "FOO.ZIP" << false;
    }
    void numbers()
    {
        QFETCH(QString, field);
        QFETCH(int, op);
        QFETCH(int, criterion);
        QFETCH(int, area);
        QFETCH(QString, name);
        QFETCH(bool, match);
        if (field == QLatin1String("size")) {
            S().SizeOp = op;
            T().Size = criterion;
        } else if (field == QLatin1String("downloads")) {
            S().DownloadsOp = op;
            T().Downloads = criterion;
        } else {
            S().CostOp = op;
            T().Cost = criterion;
        }
        QCOMPARE(Matches(area, name.toLatin1().constData()), match);
    }

    void dates_data()
    {
        QTest::addColumn<bool>("access");
        QTest::addColumn<int>("op");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("day");  // FOO.ZIP, 1998-05-01 17:45:50
        QTest::addColumn<bool>("next"); // ZIPPER.TXT, 1998-05-02 00:10
        QTest::newRow("= day at 00:00") << false << 1 << "05/01/98"
                                        << "00:00" << true << false;
        QTest::newRow("= 17:45 any seconds") << false << 1 << "05/01/98"
                                             << "17:45" << true << false;
        QTest::newRow("= 17:46") << false << 1 << "05/01/98"
                                 << "17:46" << false << false;
        QTest::newRow("> day is strict") << false << 2 << "05/01/98"
                                         << "00:00" << false << true;
        QTest::newRow("< next day is strict") << false << 3 << "05/02/98"
                                              << "00:00" << true << false;
        QTest::newRow("> 17:44 by minute") << false << 2 << "05/01/98"
                                           << "17:44" << true << true;
        QTest::newRow("< 17:45 by minute") << false << 3 << "05/01/98"
                                           << "17:45" << false << false;
        QTest::newRow("<> day") << false << 4 << "05/01/98"
                                << "00:00" << false << true;
        QTest::newRow("op 9 not applied") << false << 9 << "01/01/80"
                                          << "00:00" << true << true;
        QTest::newRow("access = 01/10/99") << true << 1 << "01/10/99"
                                           << "00:00" << true << false;
        QTest::newRow("access > 01/10/99 08:00") << true << 2 << "01/10/99"
                                                 << "08:00" << false << true;
    }
    void dates()
    {
        QFETCH(bool, access);
        QFETCH(int, op);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(bool, day);
        QFETCH(bool, next);
        FILETIME ft{};
        QVERIFY(TextToFileTime(date, time, ft));
        if (access) {
            S().AccessDateOp = op;
            T().LastAccessed = ft;
        } else {
            S().FileDateOp = op;
            T().FileTime = ft;
        }
        QCOMPARE(Matches(1, "FOO.ZIP"), day);
        QCOMPARE(Matches(1, "ZIPPER.TXT"), next);
    }

    void flags_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<int>("choice");
        QTest::addColumn<bool>("foo");    // NeverDelete, FreeFile, HasLongDescription set
        QTest::addColumn<bool>("zipper"); // NeverOverwrite, FailedScan, CopyBefore, FreeTime set
        const char* names[] = {"NeverDelete", "NeverOverwrite", "FailedScan", "CopyBefore",
                               "FreeFile",    "FreeTime",       "HasLongDesc"};
        const bool fooSet[] = {true, false, false, false, true, false, true};
        for (int i = 0; i < 7; ++i) {
            QTest::addRow("%s yes", names[i]) << i << 1 << fooSet[i] << !fooSet[i];
            QTest::addRow("%s no", names[i]) << i << 2 << !fooSet[i] << fooSet[i];
            QTest::addRow("%s both", names[i]) << i << 0 << true << true;
            QTest::addRow("%s out of range", names[i]) << i << 3 << true << true;
        }
    }
    void flags()
    {
        QFETCH(int, which);
        QFETCH(int, choice);
        QFETCH(bool, foo);
        QFETCH(bool, zipper);
        int32_t* ops[] = {&S().NeverDeleteOp, &S().NeverOverwriteOp, &S().FailedScanOp,
                          &S().CopyBeforeOp,  &S().FreeFileOp,       &S().FreeTimeOp,
                          &S().HasLongDescOp};
        *ops[which] = choice;
        QCOMPARE(Matches(1, "FOO.ZIP"), foo);
        QCOMPARE(Matches(1, "ZIPPER.TXT"), zipper);
    }

    void texts_data()
    {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("criterion");
        QTest::addColumn<bool>("foo");
        QTest::addColumn<bool>("zipper");
        QTest::addColumn<bool>("game");
        QTest::newRow("name ZIP") << "name"
                                  << "ZIP" << true << true << false;
        QTest::newRow("name zip is case-exact") << "name"
                                                << "zip" << false << false << false;
        QTest::newRow("name blanks not applied") << "name"
                                                 << "   " << true << true << true;
        QTest::newRow("name untrimmed") << "name"
                                        << "O.Z" << true << false << false;
        QTest::newRow("name with blank") << "name"
                                         << " ZIP" << false << false << false;
        QTest::newRow("name wildcard literal") << "name"
                                               << "*.ZIP" << false << false << false;
        QTest::newRow("name full") << "name"
                                   << "GAME.EXE" << false << false << true;
        QTest::newRow("description substring") << "desc"
                                               << "Utility" << true << false << false;
        QTest::newRow("description case-exact") << "desc"
                                                << "best" << false << false << true;
        // The first character found before the match, the match at the
        // very end, the whole text, one character more than the text.
        QTest::newRow("description after a false start") << "desc"
                                                         << "t f" << false << false << false;
        QTest::newRow("description after false starts") << "desc"
                                                        << "ty f" << true << false << false;
        QTest::newRow("description at the end") << "desc"
                                                << "DOS" << true << false << false;
        QTest::newRow("description one character") << "desc"
                                                   << "e" << true << false << true;
        QTest::newRow("description whole") << "desc"
                                           << "best game" << false << false << true;
        QTest::newRow("description longer than it") << "desc"
                                                    << "best games" << false << false << false;
        QTest::newRow("description tab only") << "desc"
                                              << "\t" << true << true << true;
        QTest::newRow("password other case") << "password"
                                             << "secret" << true << false << false;
        QTest::newRow("password part") << "password"
                                       << "SECRE" << false << false << false;
        QTest::newRow("password blank") << "password"
                                        << " " << true << true << true;
        QTest::newRow("uploader other case") << "uploader"
                                             << "alice SMITH" << true << false << false;
        QTest::newRow("uploader part") << "uploader"
                                       << "Alice" << false << false << false;
        QTest::newRow("uploader blank") << "uploader"
                                        << "  " << true << true << true;
    }
    void texts()
    {
        QFETCH(QString, field);
        QFETCH(QString, criterion);
        QFETCH(bool, foo);
        QFETCH(bool, zipper);
        QFETCH(bool, game);
        if (field == QLatin1String("name"))
            SetRecText(T().Name, criterion);
        else if (field == QLatin1String("desc"))
            SetRecText(T().Description, criterion);
        else if (field == QLatin1String("password"))
            SetRecText(T().Password, criterion);
        else
            SetRecText(T().Uploader.UserName, criterion);
        QCOMPARE(Matches(1, "FOO.ZIP"), foo);
        QCOMPARE(Matches(1, "ZIPPER.TXT"), zipper);
        QCOMPARE(Matches(2, "GAME.EXE"), game);
    }

    // Criterion texts that fill their field without a NUL are read up to the field's end.
    void textsWithoutNul()
    {
        std::memcpy(T().Name, "FOO.ZIPFOO.ZIPFO", 16);
        QVERIFY(!Matches(1, "FOO.ZIP"));
        std::memset(T().Name, 0, 16);
        std::memset(T().Password, 'S', sizeof T().Password);
        QVERIFY(!Matches(1, "FOO.ZIP"));
    }

    void hasPassword()
    {
        S().HasPasswordOp = 1;
        QVERIFY(Matches(1, "FOO.ZIP"));
        QVERIFY(!Matches(1, "ZIPPER.TXT")); // only blanks
        QVERIFY(!Matches(2, "GAME.EXE"));
        S().HasPasswordOp = 2;
        QVERIFY(!Matches(1, "FOO.ZIP"));
        QVERIFY(Matches(1, "ZIPPER.TXT"));
        QVERIFY(Matches(2, "GAME.EXE"));
    }

    void existOnDisk()
    {
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("FOO.ZIP")));
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("ZIPPER.TXT")));
        S().ExistOnDiskOp = 2;
        QVERIFY(Matches(1, "ZIPPER.TXT"));
        QVERIFY(!Matches(1, "FOO.ZIP"));
        S().ExistOnDiskOp = 1;
        QVERIFY(!Matches(1, "ZIPPER.TXT"));
        QVERIFY(Matches(1, "FOO.ZIP"));
        QVERIFY(Matches(2, "GAME.EXE"));
    }

    // The server's file check is asked only after the cheap tests pass.
    void cheapTestsBeforeFileCheck()
    {
        const FileRec foo = Rec(1, "FOO.ZIP");
        S().ExistOnDiskOp = 1;
        WcFaultReset();
        QVERIFY(MatchesFilter(g_filter, foo));
        const long withCheck = WcFaultCallCount();
        S().SizeOp = 1;
        T().Size = 1; // fails before the file check
        WcFaultReset();
        QVERIFY(!MatchesFilter(g_filter, foo));
        QCOMPARE(WcFaultCallCount(), withCheck - 1);
        // A refused file check counts as the file being absent.
        S().SizeOp = 0;
        WcFaultFailKind("WcExistFile", WC_ACCESS_DENIED);
        QVERIFY(!MatchesFilter(g_filter, foo));
        S().ExistOnDiskOp = 2;
        QVERIFY(MatchesFilter(g_filter, foo));
        WcFaultReset();
    }

    void serverRefusesFullRecord()
    {
        const FileRec foo = Rec(1, "FOO.ZIP");
        WcFaultFailKind("GetFullFileRec", WC_RECORD_NOT_FOUND);
        QVERIFY(!MatchesFilter(g_filter, foo));
        WcFaultReset();
        QVERIFY(MatchesFilter(g_filter, foo));
    }

    // Any 1,924 bytes loaded from a file are a search record that matching
    // can use without harm.
    void garbageRecords()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("garbage.FMS"));
        const FileRec recs[] = {Rec(1, "FOO.ZIP"), Rec(1, "ZIPPER.TXT"), Rec(2, "GAME.EXE")};
        QRandomGenerator gen(20240601);
        for (int round = 0; round < 300; ++round) {
            QByteArray bytes(1924, '\0');
            for (char& c : bytes)
                c = char(gen.bounded(256));
            if (round % 3 == 0) // many small operator values, so criteria apply
                for (int off = 1796; off < 1852; off += 4)
                    bytes[off] = char(gen.bounded(6)),
                    bytes[off + 1] = bytes[off + 2] = bytes[off + 3] = 0;
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            f.write(bytes);
            f.close();
            QCOMPARE(ReadSearchRecordFile(path, g_filter), FmsResult::Ok);
            for (const FileRec& r : recs)
                MatchesFilter(g_filter, r);
        }
        // A matching record still matches after the garbage.
        g_filter = SearchRecord{};
        QVERIFY(MatchesFilter(g_filter, recs[0]));
    }
};

VT_TEST_MAIN(TestMatching)
#include "test_matching.moc"
