// vtfilemgr-cli --older-than, --not-accessed-in and --max-downloads, run as
// the built program on a temporary BBS with "today" fixed: the records each
// combination chooses through list, delete --dry-run and move --dry-run,
// the cut-off a dry run reports, a real deletion, and bad values.
#include "filter/SearchRecord.h"
#include "server/wcsrv.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QRegularExpression>
#include <QtTest>

#include <cstring>
#include <memory>

namespace
{

struct Sample {
    const char* name;
    FILETIME file;
    FILETIME access; // zero: never accessed
    int downloads;
};

// Today is 2026-12-09; 365 days back is 2025-12-09, 30 days back 2026-11-09.
QList<Sample> Samples()
{
    return {
        {"OLD.ZIP", TestTime(2020, 1, 1, 10), FILETIME{}, 0},
        {"OLDDL.ZIP", TestTime(2020, 1, 1, 10), TestTime(2026, 11, 1, 12), 5},
        // Dated at the first moment of the cut-off day, accessed at the last
        // moment of the day before it.
        {"EDGE.TXT", TestTime(2025, 12, 9), TestTime(2025, 12, 8, 23, 59, 59, 999), 1},
        // The other way round.
        {"EDGE2.TXT", TestTime(2025, 12, 8, 23, 59, 59, 999), TestTime(2025, 12, 9), 2},
        {"NEW.ZIP", TestTime(2026, 12, 1, 9), FILETIME{}, 0},
        {"FRESH.TXT", TestTime(2024, 1, 1), TestTime(2026, 12, 9), 3},
        {"TODAY.TXT", TestTime(2026, 12, 9, 8), TestTime(2026, 12, 9, 9), 7},
    };
}

QStringList Sorted(QStringList list)
{
    list.sort();
    return list;
}

// The names of the "1<TAB>NAME<TAB>would ..." lines of a dry run.
QStringList PlannedNames(const QString& out)
{
    static const QRegularExpression line(QStringLiteral("^1\\t([^\\t]+)\\twould"),
                                         QRegularExpression::MultilineOption);
    QStringList names;
    auto it = line.globalMatch(out);
    while (it.hasNext())
        names << it.next().captured(1);
    return Sorted(names);
}

// The names of list --format csv (after its heading line).
QStringList CsvNames(const QString& out)
{
    QStringList names;
    const QStringList lines = out.split(u'\n', Qt::SkipEmptyParts);
    for (qsizetype i = 1; i < lines.size(); ++i)
        names << lines.at(i).section(u',', 1, 1);
    return Sorted(names);
}

} // namespace

class TestCliAges : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    QTemporaryDir m_dir;

    QStringList home() const { return {QStringLiteral("--home"), m_bbs->home()}; }

    // A filter of names with "ZIP", saved as the match window saves it.
    QString zipFilter() const
    {
        SearchRecord record{};
        std::strncpy(record.Template.Rec.Name, "ZIP", sizeof record.Template.Rec.Name - 1);
        const QString path = m_dir.filePath(QStringLiteral("ZIPS.FMS"));
        if (WriteSearchRecordFile(path, record) != FmsResult::Ok)
            qFatal("cannot write the filter");
        return path;
    }

    // "FILTER" in a row's options stands for --filter and the ZIP filter.
    QStringList withFilter(const QStringList& options) const
    {
        QStringList args;
        for (const QString& option : options) {
            if (option == QLatin1String("FILTER"))
                args << QStringLiteral("--filter") << zipFilter();
            else
                args << option;
        }
        return args;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        qputenv("VTFILEMGR_TODAY", "2026-12-09");
    }

    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(2, QStringLiteral("Archive"));
        for (const Sample& sample : Samples()) {
            const QByteArray content = QByteArray(sample.name) + " content";
            m_bbs->addFile(1, QString::fromLatin1(sample.name), &content, [&](FullFileRec& full) {
                full.Rec.FileTime = sample.file;
                full.Rec.LastAccessed = sample.access;
                full.Rec.Downloads = sample.downloads;
            });
        }
        // The records hold the times given (a never-accessed one keeps zero).
        QCOMPARE(FileTimeValue(ReadFullRecord(1, QStringLiteral("OLD.ZIP")).Rec.LastAccessed),
                 quint64(0));
        QCOMPARE(ReadFullRecord(1, QStringLiteral("OLDDL.ZIP")).Rec.Downloads, 5);
    }

    void cleanup() { m_bbs.reset(); }

    void choosesByAge_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("cutoff");
        const auto row = [](const char* tag, const QStringList& options, const QStringList& names,
                            const QString& cutoff) {
            QTest::newRow(tag) << options << Sorted(names) << cutoff;
        };
        const QString all[] = {"OLD.ZIP", "OLDDL.ZIP", "EDGE.TXT", "EDGE2.TXT",
                               "NEW.ZIP", "FRESH.TXT", "TODAY.TXT"};
        row("nothing", {}, QStringList(std::begin(all), std::end(all)), QString());
        row("older-than", {"--older-than", "365"},
            {"OLD.ZIP", "OLDDL.ZIP", "EDGE2.TXT", "FRESH.TXT"},
            "Cut-off: files dated before 2025-12-09");
        row("older-than 0", {"--older-than", "0"},
            {"OLD.ZIP", "OLDDL.ZIP", "EDGE.TXT", "EDGE2.TXT", "NEW.ZIP", "FRESH.TXT"},
            "Cut-off: files dated before 2026-12-09");
        row("older-than ceiling", {"--older-than", "36500"}, {},
            "Cut-off: files dated before " +
                QDate(2026, 12, 9).addDays(-36500).toString(Qt::ISODate));
        row("not-accessed-in", {"--not-accessed-in", "365"}, {"OLD.ZIP", "EDGE.TXT"},
            "Cut-off: not accessed since 2025-12-09");
        // OLD.ZIP and NEW.ZIP were never accessed: their file dates decide.
        row("not-accessed-in 30", {"--not-accessed-in", "30"},
            {"OLD.ZIP", "OLDDL.ZIP", "EDGE.TXT", "EDGE2.TXT"},
            "Cut-off: not accessed since 2026-11-09");
        row("not-accessed-in 0", {"--not-accessed-in", "0"},
            {"OLD.ZIP", "OLDDL.ZIP", "EDGE.TXT", "EDGE2.TXT", "NEW.ZIP"},
            "Cut-off: not accessed since 2026-12-09");
        row("max-downloads 0", {"--max-downloads", "0"}, {"OLD.ZIP", "NEW.ZIP"},
            "Cut-off: at most 0 downloads");
        row("max-downloads 1", {"--max-downloads", "1"}, {"OLD.ZIP", "NEW.ZIP", "EDGE.TXT"},
            "Cut-off: at most 1 download");
        row("filter alone", {"FILTER"}, {"OLD.ZIP", "OLDDL.ZIP", "NEW.ZIP"}, QString());
        row("filter and older-than", {"FILTER", "--older-than", "365"}, {"OLD.ZIP", "OLDDL.ZIP"},
            "Cut-off: files dated before 2025-12-09");
        row("filter, not accessed, no downloads",
            {"--not-accessed-in", "365", "FILTER", "--max-downloads", "0"}, {"OLD.ZIP"},
            "Cut-off: not accessed since 2025-12-09, at most 0 downloads");
        row("all three",
            {"--older-than", "365", "--not-accessed-in", "365", "--max-downloads", "1"},
            {"OLD.ZIP"},
            "Cut-off: files dated before 2025-12-09, not accessed since 2025-12-09, at most 1 "
            "download");
    }

    void choosesByAge()
    {
        QFETCH(QStringList, options);
        QFETCH(QStringList, names);
        QFETCH(QString, cutoff);
        const QStringList args = withFilter(options);

        const CliRun list = RunCli(home() << QStringLiteral("list") << QStringLiteral("--areas")
                                          << QStringLiteral("1") << QStringLiteral("--format")
                                          << QStringLiteral("csv") << args);
        QCOMPARE(list.code, 0);
        QCOMPARE(CsvNames(list.out), names);
        // The list's output is data only.
        QVERIFY(!list.out.contains(QStringLiteral("Cut-off")));

        const QStringList dryRuns[] = {
            {QStringLiteral("delete"), QStringLiteral("--areas"), QStringLiteral("1"),
             QStringLiteral("--dry-run")},
            {QStringLiteral("move"), QStringLiteral("--from"), QStringLiteral("1"),
             QStringLiteral("--to"), QStringLiteral("2"), QStringLiteral("--dry-run")},
        };
        for (const QStringList& command : dryRuns) {
            const CliRun dry = RunCli(home() << command << args);
            QVERIFY2(dry.code == 0, qPrintable(dry.err));
            QCOMPARE(PlannedNames(dry.out), names);
            const QStringList lines = dry.out.split(u'\n');
            if (cutoff.isEmpty())
                QVERIFY(!dry.out.contains(QStringLiteral("Cut-off")));
            else
                QVERIFY2(lines.contains(cutoff), qPrintable(dry.out));
        }
        QCOMPARE(RecordNamesOf(1).size(), 7);
    }

    // --yes deletes exactly what the dry run named, and the log keeps the
    // cut-off of the run.
    void deleteYesFollowsAges()
    {
        const QString log = m_dir.filePath(QStringLiteral("ages.log"));
        const CliRun run =
            RunCli(home() << QStringLiteral("--log") << log << QStringLiteral("delete")
                          << QStringLiteral("--areas") << QStringLiteral("1")
                          << QStringLiteral("--files") << QStringLiteral("--not-accessed-in")
                          << QStringLiteral("365") << QStringLiteral("--yes"));
        QVERIFY2(run.code == 0, qPrintable(run.err));
        QCOMPARE(Sorted(RecordNamesOf(1)),
                 Sorted({"OLDDL.ZIP", "EDGE2.TXT", "NEW.ZIP", "FRESH.TXT", "TODAY.TXT"}));
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("OLD.ZIP")));
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("NEW.ZIP")));
        QFile file(log);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Cut-off: not accessed since 2025-12-09"));
    }

    void badValues_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<QString>("value");
        QTest::newRow("negative") << "older-than"
                                  << "-1";
        QTest::newRow("letters") << "older-than"
                                 << "abc";
        QTest::newRow("fraction") << "older-than"
                                  << "1.5";
        QTest::newRow("empty") << "older-than"
                               << "";
        QTest::newRow("above ceiling") << "older-than"
                                       << "36501";
        QTest::newRow("plus sign") << "not-accessed-in"
                                   << "+5";
        QTest::newRow("huge") << "not-accessed-in"
                              << "99999999999999999999";
        QTest::newRow("blank") << "not-accessed-in"
                               << " 30";
        QTest::newRow("negative downloads") << "max-downloads"
                                            << "-3";
        QTest::newRow("beyond int32") << "max-downloads"
                                      << "2147483648";
        QTest::newRow("exponent") << "max-downloads"
                                  << "1e3";
    }

    void badValues()
    {
        QFETCH(QString, option);
        QFETCH(QString, value);
        const QStringList commands[] = {
            {QStringLiteral("list"), QStringLiteral("--areas"), QStringLiteral("1")},
            {QStringLiteral("delete"), QStringLiteral("--areas"), QStringLiteral("1"),
             QStringLiteral("--yes")},
        };
        for (const QStringList& command : commands) {
            const CliRun run = RunCli(home() << command << QStringLiteral("--") + option << value);
            QCOMPARE(run.code, 2);
            QVERIFY2(run.err.contains(QStringLiteral("--%1 needs a number of").arg(option)),
                     qPrintable(run.err));
            QVERIFY2(run.out.isEmpty(), qPrintable(run.out));
        }
        QCOMPARE(RecordNamesOf(1).size(), 7);
    }

    // The options are in every --filter command's help, and the completion
    // offers day counts for them.
    void helpAndCompletion()
    {
        for (const char* command : {"list", "filelist", "delete", "move", "freshen"}) {
            const CliRun help = RunCli({QString::fromLatin1(command), QStringLiteral("--help")});
            QCOMPARE(help.code, 0);
            for (const char* option : {"--older-than <DAYS>", "--not-accessed-in <DAYS>",
                                       "--max-downloads <N>", "[--older-than DAYS]"})
                QVERIFY2(help.out.contains(QLatin1String(option)), command);
        }
        const CliRun completion = RunCli({QStringLiteral("--completion")});
        QCOMPARE(completion.code, 0);
        QVERIFY(completion.out.contains(
            QStringLiteral("--not-accessed-in) _vtfilemgr_cli_words '30 90 180 365 730'")));
    }
};

VT_TEST_MAIN(TestCliAges)

#include "test_cli_ages.moc"
