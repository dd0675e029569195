// WcCheckStore through the contract, on SQLite and on PostgreSQL: a sound
// store gives no finding with and without the integrity pass; each kind of
// damage put into the database by hand gives its finding (a file row's
// only with the integrity pass); a SQLite file with damaged pages fails
// SQLite's own check; the check itself changes no byte of the database.
#include "platform/wcsrv/WcStore.h"
#include "server/wcsrv.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

#include <sqlite3.h>

#include <cstring>
#include <memory>

namespace
{

struct Found {
    int part = 0;
    int area = 0;
    uint32_t id = 0;
    QByteArray name;
    QString text;
};

struct CheckResult {
    bool ok = false;
    WcCheckSummary summary{};
    QList<Found> findings;
};

bool Collect(void* context, const WcCheckFinding* f)
{
    auto* out = static_cast<QList<Found>*>(context);
    out->append({f->Part, f->Area, f->Id, QByteArray(f->Name, int(strnlen(f->Name, 16))),
                 QString::fromUtf8(f->Text, int(strnlen(f->Text, sizeof f->Text)))});
    return true;
}

CheckResult Check(uint32_t flags)
{
    CheckResult r;
    ServerLogin login;
    if (!login.ok())
        return r;
    r.ok = WcCheckStore(flags, Collect, &r.findings, &r.summary);
    return r;
}

QString Describe(const QList<Found>& findings)
{
    QStringList lines;
    for (const Found& f : findings)
        lines << QStringLiteral("%1/%2/%3/%4: %5")
                     .arg(f.part)
                     .arg(f.area)
                     .arg(f.id)
                     .arg(QString::fromLatin1(f.name), f.text);
    return lines.join(QLatin1Char('\n'));
}

// The database's bytes as the library sees them: the SQLite file with its
// log, or every row of every table.
QByteArray StoreBytes(const TestBbs& bbs)
{
    if (TestsOnPostgres()) {
        QByteArray all;
        for (const char* table : {"bbs", "areas", "users", "files"}) {
            const auto rows =
                PgQuery(bbs.database(), QByteArray("SELECT * FROM ") + table + " ORDER BY 1, 2");
            for (const QByteArrayList& row : rows)
                all += row.join('|') + '\n';
        }
        return all;
    }
    QByteArray all;
    for (const char* file : {"/wcsrv.db", "/wcsrv.db-wal"}) {
        QFile f(bbs.home() + QLatin1String(file));
        if (f.open(QIODevice::ReadOnly))
            all += f.readAll();
    }
    return all;
}

} // namespace

class TestWcsrvStoreCheck : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Games"));
        m_bbs->addUser(QStringLiteral("Ann Uploader"));
        m_bbs->addUser(QStringLiteral("Bob Caller"));
        m_bbs->addFile(1, QStringLiteral("A.ZIP"));
        m_bbs->addFile(1, QStringLiteral("B.ZIP"));
        m_bbs->addFile(2, QStringLiteral("C.ZIP"), nullptr, [](FullFileRec& full) {
            // Texts the SQLite store keeps in its text image (bytes behind the NUL).
            std::strcpy(full.Rec.Description, "about C");
            full.Rec.Description[10] = 'x';
            std::strcpy(full.LongDescription[0], "line one");
        });
    }

    void cleanup() { m_bbs.reset(); }

    void soundStore()
    {
        const CheckResult quick = Check(0);
        QVERIFY(quick.ok);
        QVERIFY2(quick.findings.isEmpty(), qPrintable(Describe(quick.findings)));
        QCOMPARE(quick.summary.Findings, 0u);
        QCOMPARE(quick.summary.Records, 0u); // no file row read without the integrity pass
        QCOMPARE(quick.summary.Users, 2u);
        QCOMPARE(quick.summary.Areas, 2u);
        QCOMPARE(quick.summary.Flags, 0u);

        const CheckResult full = Check(WC_CHECK_INTEGRITY);
        QVERIFY(full.ok);
        QVERIFY2(full.findings.isEmpty(), qPrintable(Describe(full.findings)));
        QCOMPARE(full.summary.Records, 3u);
        QCOMPARE(full.summary.Flags, WC_CHECK_INTEGRITY);
    }

    void notLoggedIn()
    {
        WcCheckSummary summary{};
        QVERIFY(!WcCheckStore(0, nullptr, nullptr, &summary));
        QCOMPARE(WcGetLastError(), uint32_t(WC_USER_NOT_LOGGED_IN));
    }

    void changesNothing()
    {
        const QByteArray before = StoreBytes(*m_bbs);
        QVERIFY(!before.isEmpty());
        QVERIFY(Check(WC_CHECK_INTEGRITY).ok);
        QVERIFY(Check(0).ok);
        QCOMPARE(StoreBytes(*m_bbs), before);
    }

    void damage_data()
    {
        QTest::addColumn<QByteArray>("sqliteSql");
        QTest::addColumn<QByteArray>("pgSql");
        QTest::addColumn<int>("part");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QString>("sqliteText");
        QTest::addColumn<QString>("pgText");
        QTest::addColumn<bool>("integrityOnly");

        QTest::newRow("record in no area")
            << QByteArray("UPDATE files SET area = 9 WHERE name = 'B.ZIP'")
            << QByteArray("UPDATE files SET area = 9 WHERE name_key = 'b.zip'::bytea")
            << int(WC_CHECK_RECORD) << QByteArray("B.ZIP")
            << QStringLiteral("its area does not exist")
            << QStringLiteral("the record says area 1, its row area 9") << true;
        QTest::newRow("record bytes cut")
            << QByteArray("UPDATE files SET opaque = x'0102' WHERE name = 'A.ZIP'")
            << QByteArray("UPDATE files SET rec = substring(rec from 1 for 100) WHERE name_key = "
                          "'a.zip'::bytea")
            << int(WC_CHECK_RECORD) << QByteArray("A.ZIP")
            << QStringLiteral("the reserved stretch is not 72 bytes")
            << QStringLiteral("the record part is 100 bytes, not 332") << true;
        QTest::newRow("record text or key broken")
            << QByteArray("UPDATE files SET description = CAST(x'41ff42' AS TEXT) WHERE name = "
                          "'A.ZIP'")
            << QByteArray("UPDATE files SET name_key = 'zzz'::bytea WHERE name_key = "
                          "'a.zip'::bytea")
            << int(WC_CHECK_RECORD) << QByteArray("A.ZIP")
            << QStringLiteral("the description is not UTF-8")
            << QStringLiteral("its key does not match its name") << true;
        QTest::newRow("text image cut")
            << QByteArray("UPDATE files SET text_image = x'00' WHERE name = 'C.ZIP'")
            << QByteArray("UPDATE files SET ext = '\\x00'::bytea WHERE name_key = "
                          "'c.zip'::bytea")
            << int(WC_CHECK_RECORD) << QByteArray("C.ZIP")
            << QStringLiteral("the text image is not 1396 bytes")
            << QStringLiteral("the long part is 1 bytes, not 1460") << true;
        QTest::newRow("user without a name")
            << QByteArray("UPDATE users SET name = '' WHERE name = 'Bob Caller'")
            << QByteArray("UPDATE users SET name = '' WHERE name = 'Bob Caller'")
            << int(WC_CHECK_USER) << QByteArray() << QStringLiteral("the user has no name")
            << QStringLiteral("the user has no name") << false;
        QTest::newRow("configuration record cut")
            << QByteArray("UPDATE bbs SET makewild = x'0102'")
            << QByteArray("UPDATE bbs SET makewild = '\\x0102'::bytea") << int(WC_CHECK_CONFIG)
            << QByteArray() << QStringLiteral("the configuration record is 2 bytes, not 2008")
            << QStringLiteral("the configuration record is 2 bytes, not 2008") << false;
        QTest::newRow("area without a folder")
            << QByteArray("UPDATE areas SET folder = '' WHERE number = 2")
            << QByteArray("UPDATE areas SET folder = '' WHERE number = 2") << int(WC_CHECK_AREA)
            << QByteArray() << QStringLiteral("the area has no folder")
            << QStringLiteral("the area has no folder") << false;
    }

    void damage()
    {
        QFETCH(QByteArray, sqliteSql);
        QFETCH(QByteArray, pgSql);
        QFETCH(int, part);
        QFETCH(QByteArray, name);
        QFETCH(QString, sqliteText);
        QFETCH(QString, pgText);
        QFETCH(bool, integrityOnly);
        const bool pg = TestsOnPostgres();
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, pg ? pgSql : sqliteSql, &error), qPrintable(error));

        const CheckResult full = Check(WC_CHECK_INTEGRITY);
        QVERIFY(full.ok);
        QCOMPARE(full.findings.size(), 1);
        QCOMPARE(full.summary.Findings, 1u);
        const Found& f = full.findings.first();
        QCOMPARE(f.part, part);
        QCOMPARE(f.name, name);
        QCOMPARE(f.text, pg ? pgText : sqliteText);
        if (part == WC_CHECK_USER)
            QVERIFY(f.id != 0);
        if (part == WC_CHECK_AREA)
            QCOMPARE(f.area, 2);

        // A file row is read by the integrity pass only.
        const CheckResult quick = Check(0);
        QVERIFY(quick.ok);
        QCOMPARE(quick.findings.size(), integrityOnly ? 0 : 1);
    }

    void visitEndsCheck()
    {
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, "UPDATE areas SET folder = ''", &error), qPrintable(error));
        int calls = 0;
        ServerLogin login;
        QVERIFY(login.ok());
        WcCheckSummary summary{};
        QVERIFY(WcCheckStore(
            WC_CHECK_INTEGRITY,
            [](void* context, const WcCheckFinding*) {
                ++*static_cast<int*>(context);
                return false;
            },
            &calls, &summary));
        QCOMPARE(calls, 1);
        QCOMPARE(summary.Findings, 1u);
    }

    // Pages of the files table overwritten in the file: SQLite's own check
    // finds them.
    void damagedSqliteFile()
    {
        if (TestsOnPostgres())
            QSKIP("SQLite only");
        {
            std::string openError;
            auto store = wcstore::OpenStore(m_bbs->homeStd(), "", false, openError);
            QVERIFY2(store, openError.c_str());
            QVERIFY(store->Begin());
            for (int i = 0; i < 2000; ++i) {
                FullFileRec full{};
                full.Rec.Area = 1 + i % 2;
                std::snprintf(full.Rec.Name, sizeof full.Rec.Name, "F%05d.ZIP", i);
                std::snprintf(full.Rec.Description, sizeof full.Rec.Description,
                              "record %d with some text to fill pages", i);
                QVERIFY(store->Insert(full) == wcstore::Rc::Ok);
            }
            QVERIFY(store->Commit());
        }
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, "PRAGMA wal_checkpoint(TRUNCATE)", &error), qPrintable(error));
        QVERIFY(Check(WC_CHECK_INTEGRITY).findings.isEmpty());

        QFile db(m_bbs->home() + QStringLiteral("/wcsrv.db"));
        QVERIFY(db.open(QIODevice::ReadWrite));
        const qint64 pageSize = 4096, pages = db.size() / pageSize;
        QVERIFY2(pages > 20, qPrintable(QString::number(pages)));
        // The second half of the pages (the last to be filled: file rows),
        // each with garbage over its header and first cells.
        for (qint64 page = pages / 2; page < pages; ++page) {
            QVERIFY(db.seek(page * pageSize));
            QVERIFY(db.write(QByteArray(512, char(0x5A))) == 512);
        }
        db.close();

        const CheckResult full = Check(WC_CHECK_INTEGRITY);
        QVERIFY(full.ok);
        QVERIFY(!full.findings.isEmpty());
        QCOMPARE(full.findings.first().part, int(WC_CHECK_DATABASE));
        QVERIFY2(full.findings.first().text.startsWith(QStringLiteral("integrity check: ")),
                 qPrintable(Describe(full.findings)));
        // Without the integrity pass the pages are not read.
        const CheckResult quick = Check(0);
        QVERIFY2(quick.findings.isEmpty(), qPrintable(Describe(quick.findings)));
    }
};

VT_TEST_MAIN(TestWcsrvStoreCheck)
#include "test_wcsrv_storecheck.moc"
