// vtfilemgr-cli import-desc and export-desc, run as the built program on a
// temporary BBS: a dry run writes nothing, --yes sets the texts, an export
// read back gives the same records, and the exit codes.
#include "common/Text.h"
#include "server/wcsrv.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

#include <cstring>
#include <memory>

namespace
{

QByteArray Description(int area, const QString& name)
{
    const FullFileRec full = ReadFullRecord(area, name);
    return QByteArray(full.Rec.Description,
                      qsizetype(strnlen(full.Rec.Description, sizeof full.Rec.Description)));
}

} // namespace

class TestCliDescList : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_bbs.reset(); }
    void importDesc();
    void exportDesc();
    void badInput_data();
    void badInput();
    void unreadableLists_data();
    void unreadableLists();

private:
    std::unique_ptr<TestBbs> m_bbs;
    QString m_list;
    QTemporaryDir m_dir;
};

void TestCliDescList::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Two"));
    const QByteArray content("data");
    m_bbs->addFile(1, QStringLiteral("A.ZIP"), &content);
    m_bbs->addFile(2, QStringLiteral("B.ZIP"), &content, [](FullFileRec& f) {
        SetRecText(f.Rec.Description, QStringLiteral("Bee \xE9t\xE9"));
        SetRecText(f.LongDescription[0], QStringLiteral("long"));
        f.Rec.HasLongDescription = 1;
    });
    m_list = m_dir.filePath(QStringLiteral("FILES.BBS"));
    QFile f(m_list);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("a.zip  New alpha\r\n   | line two\r\n");
}

void TestCliDescList::importDesc()
{
    const auto before = RecordSnapshot();
    const CliRun dry = RunCli({QStringLiteral("import-desc"), QStringLiteral("--area"),
                               QStringLiteral("1"), m_list, QStringLiteral("--dry-run")},
                              120000);
    QCOMPARE(dry.code, 0);
    QVERIFY2(dry.out.contains(QStringLiteral(
                 "1\tA.ZIP\twould set \"New alpha\" and 1 long description line (line 1)")),
             qPrintable(dry.out));
    QVERIFY(before == RecordSnapshot());

    const CliRun yes = RunCli({QStringLiteral("import-desc"), QStringLiteral("--area"),
                               QStringLiteral("1"), m_list, QStringLiteral("--yes")},
                              120000);
    QCOMPARE(yes.code, 0);
    QCOMPARE(Description(1, QStringLiteral("A.ZIP")), QByteArray("New alpha"));

    // An unknown name is refused: exit code 1.
    QFile f(m_list);
    QVERIFY(f.open(QIODevice::Append));
    f.write("NOPE.ZIP  Nothing\r\n");
    f.close();
    const CliRun unknown = RunCli({QStringLiteral("import-desc"), QStringLiteral("--area"),
                                   QStringLiteral("1"), m_list, QStringLiteral("--yes")},
                                  120000);
    QCOMPARE(unknown.code, 1);
    QVERIFY2(unknown.out.contains(QStringLiteral("NOPE.ZIP")), qPrintable(unknown.out));
}

void TestCliDescList::exportDesc()
{
    const QString out = m_dir.filePath(QStringLiteral("out"));
    const CliRun run = RunCli({QStringLiteral("export-desc"), QStringLiteral("--areas"),
                               QStringLiteral("all"), QStringLiteral("--format"),
                               QStringLiteral("descript.ion"), QStringLiteral("--out"), out},
                              120000);
    QCOMPARE(run.code, 0);
    QVERIFY(QFile::exists(out + QStringLiteral("/1/DESCRIPT.ION")));
    QFile list(out + QStringLiteral("/2/DESCRIPT.ION"));
    QVERIFY(list.open(QIODevice::ReadOnly));
    QCOMPARE(list.readAll(), QByteArray("B.ZIP Bee \xE9t\xE9\r\n      | long\r\n"));
}

void TestCliDescList::badInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("import without --yes") << QStringList{"import-desc", "--area", "1", "@LIST@"};
    QTest::newRow("import unknown area")
        << QStringList{"import-desc", "--area", "9", "@LIST@", "--yes"};
    QTest::newRow("import missing file")
        << QStringList{"import-desc", "--area", "1", "/nonexistent/FILES.BBS", "--yes"};
    QTest::newRow("export bad format")
        << QStringList{"export-desc", "--areas", "all", "--format", "txt", "--out", "@DIR@"};
}

void TestCliDescList::badInput()
{
    QFETCH(QStringList, args);
    args.replaceInStrings(QStringLiteral("@LIST@"), m_list);
    args.replaceInStrings(QStringLiteral("@DIR@"), m_dir.filePath(QStringLiteral("x")));
    const auto before = RecordSnapshot();
    const CliRun run = RunCli(args, 120000);
    QCOMPARE(run.code, 2);
    QVERIFY(before == RecordSnapshot());
    QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("x"))));
}

// A list that can't be read whole is refused at once with its reason:
// never a wait on a FIFO, never a read without end.
void TestCliDescList::unreadableLists_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("endless device") << QStringLiteral("/dev/zero")
                                    << QStringLiteral("cannot read /dev/zero: not a regular file");
    QTest::newRow("FIFO") << QStringLiteral("fifo") << QStringLiteral("not a regular file");
    QTest::newRow("beyond the limit")
        << QStringLiteral("sparse") << QStringLiteral("larger than 64 MiB");
}

void TestCliDescList::unreadableLists()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    QString path = kind;
    if (kind == QLatin1String("fifo")) {
        path = m_dir.filePath(QStringLiteral("FIFO.BBS"));
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (kind == QLatin1String("sparse")) {
        path = m_list;
        QVERIFY(QFile(path).resize(64 * 1024 * 1024 + 1));
    }
    const auto before = RecordSnapshot();
    const CliRun run = RunCli({QStringLiteral("import-desc"), QStringLiteral("--area"),
                               QStringLiteral("1"), path, QStringLiteral("--dry-run")},
                              60000);
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(before == RecordSnapshot());
}

VT_TEST_MAIN(TestCliDescList)
#include "test_cli_desclist.moc"
