// Files too large for a record's size (a signed 32-bit count) at every place
// a file gets or keeps a record: addfiles, a drop, import-desc --add,
// freshen, the move manager's move with files and the window's move. A file
// of 2^31 - 1 bytes passes; 2^31, 3 GiB and 5 GiB are refused with the
// file's name and size, and no record changes. The files are sparse, so they
// take no disk space.
#include "app/DropFilesRun.h"
#include "app/MoveFilesRun.h"
#include "common/Text.h"
#include "server/wcsrv.h"
#include "tests/cli/CliRun.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

#include <fcntl.h>
#include <unistd.h>

namespace
{

bool MakeSparseFile(const QString& path, qint64 size)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool grown = ::ftruncate(fd, off_t(size)) == 0;
    ::close(fd);
    return grown;
}

// What one intake did: the exit code of the command line (-1 for a run
// inside this process), every text it showed, and whether it copied.
struct Outcome {
    int code = -1;
    QString text;
    int copies = 0;
};

} // namespace

class TestCliLargeFiles : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_bbs.reset(); }
    void intakes_data();
    void intakes();

private:
    Outcome runIntake(const QString& intake);
    QStringList home() const { return {QStringLiteral("--home"), m_bbs->home()}; }

    std::unique_ptr<TestBbs> m_bbs;
};

void TestCliLargeFiles::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Two"));
}

void TestCliLargeFiles::intakes_data()
{
    QTest::addColumn<QString>("intake");
    QTest::addColumn<qint64>("size");
    // The size as the refusal writes it; empty when the file fits.
    QTest::addColumn<QString>("shown");
    const QStringList intakes{"addfiles", "drop", "import-desc --add",
                              "freshen",  "move", "move files"};
    const QList<std::pair<qint64, QString>> sizes{
        {2147483647, QString()},
        {2147483648, QStringLiteral("2,147,483,648")},
        {qint64(3) << 30, QStringLiteral("3,221,225,472")},
        {qint64(5) << 30, QStringLiteral("5,368,709,120")},
    };
    for (const QString& intake : intakes)
        for (const auto& [size, shown] : sizes)
            QTest::addRow("%s %lld", qPrintable(intake), size) << intake << size << shown;
}

Outcome TestCliLargeFiles::runIntake(const QString& intake)
{
    Outcome outcome;
    const auto fromCli = [&outcome](const CliRun& run) {
        outcome.code = run.code;
        outcome.text = run.out + run.err;
    };
    const auto fromRun = [&outcome](const ScriptedRun& run) {
        outcome.text = (run.said() + run.lines(RunOutcome::Refused)).join(u'\n');
        outcome.copies = run.copies;
    };
    if (intake == u"addfiles") {
        fromCli(RunCli(home() << "addfiles"
                              << "--areas"
                              << "1"
                              << "--yes"));
    } else if (intake == u"import-desc --add") {
        QTemporaryDir listDir;
        const QString list = listDir.filePath(QStringLiteral("FILES.BBS"));
        QFile f(list);
        if (f.open(QIODevice::WriteOnly))
            f.write("BIG.ISO  A disc image\r\n");
        f.close();
        fromCli(RunCli(home() << "import-desc"
                              << "--area"
                              << "1"
                              << "--add"
                              << "--yes" << list));
    } else if (intake == u"freshen") {
        fromCli(RunCli(home() << "freshen"
                              << "--areas"
                              << "1"
                              << "--yes"));
    } else if (intake == u"move") {
        // A copy that is let through fails after 16 MiB (the command line
        // inherits the limit), so a file that fits costs no 2 GiB copy.
        FileSizeLimit cap{rlim_t(16) << 20};
        if (!cap.ok())
            return outcome;
        // Copied as between two file systems: on one, the move renames.
        SplitDevices acrossFileSystems;
        fromCli(RunCli(home() << "move"
                              << "--from"
                              << "1"
                              << "--to"
                              << "2"
                              << "--files"
                              << "--yes"));
        outcome.copies = QFile::exists(m_bbs->areaFolder(2) + QStringLiteral("/BIG.ISO")) ? 1 : 0;
    } else if (intake == u"drop") {
        // Dropped from the area's own folder: the file stays, no copy.
        ServerLogin login;
        ScriptedRun run;
        DropFilesOptions options;
        options.area = 1;
        options.paths = {m_bbs->areaFolder(1) + QStringLiteral("/BIG.ISO")};
        RunDropFiles(options, run);
        fromRun(run);
    } else if (intake == u"move files") {
        // A copy that is let through fails; the record then stays.
        ServerLogin login;
        ScriptedRun run;
        run.copyFailsAt = 1;
        run.answers = {RunAnswer::No};
        MoveFilesOptions options;
        options.entries = {{1, QStringLiteral("BIG.ISO")}};
        options.target = 2;
        RunMoveFiles(options, run);
        fromRun(run);
    }
    return outcome;
}

void TestCliLargeFiles::intakes()
{
    QFETCH(QString, intake);
    QFETCH(qint64, size);
    QFETCH(QString, shown);
    const bool fits = shown.isEmpty();
    QVERIFY(MakeSparseFile(m_bbs->areaFolder(1) + QStringLiteral("/BIG.ISO"), size));
    // Freshen and the moves work on a record the file already has.
    const bool hasRecord = intake == u"freshen" || intake.startsWith(u"move");
    if (hasRecord)
        m_bbs->addFile(1, QStringLiteral("BIG.ISO"), nullptr, [](FullFileRec& full) {
            full.Rec.Size = 5;
            full.Rec.FileTime = TestTime(2001, 2, 3, 4, 5, 6);
        });
    const auto before = RecordSnapshot();

    const Outcome outcome = runIntake(intake);
    const bool commandLine = intake != u"drop" && intake != u"move files";
    QVERIFY2(!commandLine || outcome.code >= 0, qPrintable(outcome.text));

    if (!fits) {
        const QString words =
            shown + QStringLiteral(" bytes is too large for a file record (at most 2,147,483,647)");
        QVERIFY2(outcome.text.contains(QStringLiteral("BIG.ISO: ") + words) ||
                     outcome.text.contains(QStringLiteral("BIG.ISO\trefused ") + words),
                 qPrintable(outcome.text));
        QVERIFY(RecordSnapshot() == before);
        QCOMPARE(outcome.copies, 0);
        if (commandLine)
            QCOMPARE(outcome.code, 1);
        return;
    }
    QVERIFY2(!outcome.text.contains(QStringLiteral("too large")), qPrintable(outcome.text));
    if (intake.startsWith(u"move")) {
        // The move went as far as the copy, which was made to fail; the
        // record stayed.
        QCOMPARE(outcome.copies, 1);
        QVERIFY(RecordSnapshot() == before);
        return;
    }
    const FullFileRec rec = ReadFullRecord(1, QStringLiteral("BIG.ISO"));
    QCOMPARE(RecText(rec.Rec.Name), QStringLiteral("BIG.ISO"));
    QCOMPARE(rec.Rec.Size, 2147483647);
    if (commandLine)
        QCOMPARE(outcome.code, 0);
}

VT_TEST_MAIN(TestCliLargeFiles)
#include "test_cli_largefiles.moc"
