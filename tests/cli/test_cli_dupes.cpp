// vtfilemgr-cli dupes on a temporary BBS: the listing in its three formats,
// a dry run that changes nothing and the same run with --yes that changes
// only what it said, every record and file compared, and the exit codes.
#include "tests/cli/CliRun.h"
#include "tests/managers/DupesTestSupport.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

class TestCliDupes : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;

    QStringList dupes() const
    {
        return {QStringLiteral("--home"), m_bbs->home(), QStringLiteral("dupes"),
                QStringLiteral("--areas"), QStringLiteral("all")};
    }

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        FillDupesBbs(*m_bbs);
    }

    void cleanup() { m_bbs.reset(); }

    void listingFormats()
    {
        const CliRun json = RunCli(dupes() << QStringLiteral("--format") << QStringLiteral("json"));
        QCOMPARE(json.code, 0);
        const QJsonObject all = QJsonDocument::fromJson(json.out.toUtf8()).object();
        const QJsonArray groups = all.value(QStringLiteral("groups")).toArray();
        QCOMPARE(groups.size(), 3);
        QStringList kinds;
        for (const QJsonValue& g : groups)
            kinds << g.toObject().value(QStringLiteral("by")).toString() +
                         QString::number(g.toObject().value(QStringLiteral("count")).toInt());
        QCOMPARE(kinds, (QStringList{QStringLiteral("name3"), QStringLiteral("name2"),
                                     QStringLiteral("content4")}));
        QCOMPARE(all.value(QStringLiteral("missing")).toArray().size(), 2);
        QCOMPARE(
            all.value(QStringLiteral("scan")).toObject().value(QStringLiteral("filesRead")).toInt(),
            4);

        const CliRun csv = RunCli(dupes() << QStringLiteral("--format") << QStringLiteral("csv")
                                          << QStringLiteral("--by") << QStringLiteral("content"));
        QCOMPARE(csv.code, 0);
        const QStringList lines = csv.out.trimmed().split(u'\n');
        QCOMPARE(lines.size(), 1 + 4 + 2); // header, the content group, the missing records
        QVERIFY(lines.contains(
            QStringLiteral("1,content,") +
            QString::fromLatin1(
                QCryptographicHash::hash(PackBytes(), QCryptographicHash::Sha256).toHex()) +
            QStringLiteral(",3,COPY.ZIP,3000,2019-06-01 12:00:00,about "
                           "COPY.ZIP,Ann Uploader,yes")));

        const CliRun text = RunCli(dupes() << QStringLiteral("--by") << QStringLiteral("name"));
        QCOMPARE(text.code, 0);
        QVERIFY(text.out.contains(QStringLiteral("group 1 by name game.zip: 3 records")));
        QVERIFY(text.out.contains(QStringLiteral("file missing: 2 records")));
    }

    void dryRunThenYes()
    {
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 4);
        const QStringList args = dupes() << QStringLiteral("--by") << QStringLiteral("content")
                                         << QStringLiteral("--keep") << QStringLiteral("area:1")
                                         << QStringLiteral("--delete") << QStringLiteral("--files");
        const CliRun dry = RunCli(QStringList(args) << QStringLiteral("--dry-run"));
        QCOMPARE(dry.code, 0);
        QVERIFY(dry.out.contains(QStringLiteral("1\tPACK.ZIP\tkept (group 1 by content)")));
        QVERIFY(dry.out.contains(QStringLiteral("2\tpack.zip\twould delete, its file kept")));
        QVERIFY(dry.out.contains(QStringLiteral("3\tCOPY.ZIP\twould delete with its file")));
        QVERIFY(dry.out.contains(QStringLiteral("3\tMixed.Zip\twould delete with its file")));
        QVERIFY(dry.out.contains(QStringLiteral("3 planned")));
        QCOMPARE(BbsState(*m_bbs, 4), before);

        const CliRun yes = RunCli(QStringList(args) << QStringLiteral("--yes"));
        QCOMPARE(yes.code, 0);
        QVERIFY(yes.out.contains(QStringLiteral("2\tpack.zip\tdeleted, its file kept")));
        QVERIFY(yes.out.contains(QStringLiteral("3\tCOPY.ZIP\tdeleted with its file")));
        QVERIFY(yes.out.contains(QStringLiteral("3 done")));
        // Exactly the three records and the two files only they named are
        // gone; everything else is byte for byte as it was.
        QMap<QString, QByteArray> expected = before;
        for (const char* key : {"rec 2 pack.zip", "rec 3 COPY.ZIP", "rec 3 Mixed.Zip",
                                "file 3 COPY.ZIP", "file 3 MIXED.ZIP"})
            QVERIFY2(expected.remove(QLatin1String(key)) == 1, key);
        QCOMPARE(BbsState(*m_bbs, 4), expected);
        QCOMPARE(expected.value(QStringLiteral("file 1 PACK.ZIP")), PackBytes());
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("extra");
        QTest::addColumn<QString>("message");
        auto row = [](const char* name, const QStringList& extra, const char* message) {
            QTest::newRow(name) << extra << QString::fromLatin1(message);
        };
        row("unknown --by", {QStringLiteral("--by"), QStringLiteral("size")}, "unknown --by");
        row("unknown --format", {QStringLiteral("--format"), QStringLiteral("xml")},
            "unknown --format");
        row("delete without keep", {QStringLiteral("--delete"), QStringLiteral("--yes")},
            "needs --keep");
        row("delete without yes or dry run",
            {QStringLiteral("--keep"), QStringLiteral("oldest"), QStringLiteral("--delete")},
            "one of --dry-run and --yes");
        row("keep without delete", {QStringLiteral("--keep"), QStringLiteral("oldest")},
            "go with --delete");
        row("unknown keep rule",
            {QStringLiteral("--keep"), QStringLiteral("largest"), QStringLiteral("--delete"),
             QStringLiteral("--yes")},
            "unknown --keep");
        row("keep in an unknown area",
            {QStringLiteral("--keep"), QStringLiteral("area:99"), QStringLiteral("--delete"),
             QStringLiteral("--yes")},
            "no file area 99");
    }

    void exitCodes()
    {
        QFETCH(QStringList, extra);
        QFETCH(QString, message);
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 4);
        const CliRun run = RunCli(dupes() << extra);
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(BbsState(*m_bbs, 4), before);
    }
};

VT_TEST_MAIN(TestCliDupes)
#include "test_cli_dupes.moc"
