// vtfilemgr-cli addfiles, run as the built program on a temporary BBS: the
// dry run changes nothing, --yes adds the records, and the exit codes.
#include "common/Text.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

namespace
{

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestCliAddFiles : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { m_bbs.reset(); }
    void badInput_data();
    void badInput();
    void dryRunThenYes();
    void refusalGivesExitOne();
    void linksNeedAllowLinks_data();
    void linksNeedAllowLinks();
    void namesByTheirBytes();
    void folderListsReadWhole_data();
    void folderListsReadWhole();

private:
    std::unique_ptr<TestBbs> m_bbs;
};

void TestCliAddFiles::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Two"));
    const QString folder = m_bbs->areaFolder(1);
    QVERIFY(Write(folder + QStringLiteral("/first.txt"), "first file"));
    QVERIFY(Write(folder + QStringLiteral("/second.dat"), "second"));
    QVERIFY(Write(folder + QStringLiteral("/descript.ion"), "first.txt The first one\r\n"));
}

void TestCliAddFiles::badInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::newRow("neither") << QStringList{"addfiles", "--areas", "1"};
    QTest::newRow("both") << QStringList{"addfiles", "--areas", "1", "--dry-run", "--yes"};
    QTest::newRow("no areas") << QStringList{"addfiles", "--yes"};
    QTest::newRow("unknown area") << QStringList{"addfiles", "--areas", "9", "--yes"};
}

void TestCliAddFiles::badInput()
{
    QFETCH(QStringList, args);
    const auto before = BbsState(*m_bbs, 2);
    const CliRun run = RunCli(QStringList{"--home", m_bbs->home()} + args);
    QCOMPARE(run.code, 2);
    QVERIFY(BbsState(*m_bbs, 2) == before);
}

void TestCliAddFiles::dryRunThenYes()
{
    const auto before = BbsState(*m_bbs, 2);
    const CliRun dry = RunCli({"--home", m_bbs->home(), "addfiles", "--areas", "all", "--dry-run"});
    QVERIFY2(dry.code == 0, qPrintable(dry.out + dry.err));
    QVERIFY2(dry.out.contains("FIRST.TXT") && dry.out.contains("SECOND.DAT"), qPrintable(dry.out));
    QVERIFY(!dry.out.contains("DESCRIPT.ION", Qt::CaseInsensitive));
    QVERIFY(BbsState(*m_bbs, 2) == before);

    const CliRun yes = RunCli({"--home", m_bbs->home(), "addfiles", "--areas", "1", "--yes"});
    QVERIFY2(yes.code == 0, qPrintable(yes.out + yes.err));
    QCOMPARE(RecordNamesOf(1), (QStringList{"FIRST.TXT", "SECOND.DAT"}));
    const FullFileRec first = ReadFullRecord(1, QStringLiteral("FIRST.TXT"));
    QCOMPARE(RecText(first.Rec.Description), QStringLiteral("The first one"));
    QCOMPARE(first.Rec.Size, 10);
    // The files are as they were.
    auto after = BbsState(*m_bbs, 2);
    QCOMPARE(int(after.remove(QStringLiteral("rec 1 FIRST.TXT"))), 1);
    QCOMPARE(int(after.remove(QStringLiteral("rec 1 SECOND.DAT"))), 1);
    QVERIFY(after == before);
}

void TestCliAddFiles::refusalGivesExitOne()
{
    QVERIFY(Write(m_bbs->areaFolder(1) + QStringLiteral("/a-very-long-name.txt"), "x"));
    const CliRun run = RunCli({"--home", m_bbs->home(), "addfiles", "--areas", "1", "--yes"});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.out.contains("a-very-long-name.txt"), qPrintable(run.out));
    QCOMPARE(RecordNamesOf(1), (QStringList{"FIRST.TXT", "SECOND.DAT"}));
}

void TestCliAddFiles::linksNeedAllowLinks_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<bool>("allowed");
    const QStringList add{"addfiles", "--areas", "1", "--yes"};
    QTest::newRow("addfiles") << add << false;
    QTest::newRow("addfiles --allow-links") << add + QStringList{"--allow-links"} << true;
    const QStringList import{"import-desc", "--area", "1", "--add", "--yes"};
    QTest::newRow("import-desc --add") << import << false;
    QTest::newRow("import-desc --add --allow-links")
        << import + QStringList{"--allow-links"} << true;
}

// A link in an area's folder that points outside the BBS gets a record only
// with --allow-links; the file it points at is never changed.
void TestCliAddFiles::linksNeedAllowLinks()
{
    QFETCH(QStringList, args);
    QFETCH(bool, allowed);
    QTemporaryDir outside;
    const QString secret = outside.filePath(QStringLiteral("secret.txt"));
    QVERIFY(Write(secret, "not for download"));
    QVERIFY(QFile::link(secret, m_bbs->areaFolder(1) + QStringLiteral("/LINK.TXT")));
    const QString list = outside.filePath(QStringLiteral("FILES.BBS"));
    QVERIFY(Write(list, "LINK.TXT  a link\r\n"));
    if (args.first() == u"import-desc")
        args << list;
    const CliRun run = RunCli(QStringList{"--home", m_bbs->home()} + args);
    QVERIFY2(run.out.contains("LINK.TXT"), qPrintable(run.out + run.err));
    QCOMPARE(run.code, allowed ? 0 : 1);
    QCOMPARE(RecordNamesOf(1).contains(QStringLiteral("LINK.TXT")), allowed);
    if (allowed)
        QCOMPARE(ReadFullRecord(1, QStringLiteral("LINK.TXT")).Rec.Size, 16);
    else
        QVERIFY2(run.out.contains("links in file area folders are not allowed"),
                 qPrintable(run.out));
    QFile f(secret);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("not for download"));
}

// "CAFÉ.TXT" in UTF-8 beside "CAF\xC9.TXT": two records, each of its own
// file's size, and deleting them with their files deletes exactly both.
void TestCliAddFiles::namesByTheirBytes()
{
    const QByteArray folder = QFile::encodeName(m_bbs->areaFolder(1));
    for (const QByteArray& name : {QByteArray("CAF\xc3\x89.TXT"), QByteArray("CAF\xc9.TXT")}) {
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, name.constData(), std::size_t(name.size())), name.size());
        ::close(fd);
    }
    const CliRun add = RunCli({"--home", m_bbs->home(), "addfiles", "--areas", "1", "--yes"});
    QVERIFY2(add.code == 0, qPrintable(add.out + add.err));
    QCOMPARE(RecordNamesOf(1),
             (QStringList{"CAF\u00c3\u0089.TXT", "CAF\u00c9.TXT", "FIRST.TXT", "SECOND.DAT"}));
    QCOMPARE(ReadFullRecord(1, QStringLiteral("CAF\u00c3\u0089.TXT")).Rec.Size, 9);
    QCOMPARE(ReadFullRecord(1, QStringLiteral("CAF\u00c9.TXT")).Rec.Size, 8);
    const CliRun del =
        RunCli({"--home", m_bbs->home(), "delete", "--areas", "1", "--files", "--yes"});
    QVERIFY2(del.code == 0, qPrintable(del.out + del.err));
    // Only the list the records never named is left.
    std::error_code error;
    QStringList left;
    for (const auto& entry : std::filesystem::directory_iterator(folder.toStdString(), error))
        left << QString::fromStdString(entry.path().filename().string());
    QCOMPARE(left, QStringList{"descript.ion"});
}

// The folder's lists go through the one list reader: a FIFO or a list
// beyond the limit is reported and left out (never waited on), and a list
// is read whole up to the limit (once only its first 4 MiB were).
void TestCliAddFiles::folderListsReadWhole_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("secondFrom");
    QTest::newRow("FIFO") << QStringLiteral("fifo") << 1
                          << QStringLiteral("FILES.BBS in file area #1 was not read: not a regular "
                                            "file.")
                          << QStringLiteral("no description");
    QTest::newRow("beyond the limit")
        << QStringLiteral("sparse") << 1
        << QStringLiteral("FILES.BBS in file area #1 was not read: larger than 64 MiB.")
        << QStringLiteral("no description");
    QTest::newRow("5 MiB list") << QStringLiteral("large") << 0 << QString()
                                << QStringLiteral("description from the folder's list");
}

void TestCliAddFiles::folderListsReadWhole()
{
    QFETCH(QString, kind);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, secondFrom);
    const QString list = m_bbs->areaFolder(1) + QStringLiteral("/FILES.BBS");
    if (kind == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(list).constData(), 0600), 0);
    } else {
        // 5 MiB of comment lines, then the entry.
        QByteArray bytes;
        const QByteArray comment = "; " + QByteArray(60, '-') + "\r\n";
        while (bytes.size() < 5 * 1024 * 1024)
            bytes += comment;
        bytes += "second.dat Second, from the list\r\n";
        QVERIFY(Write(list, bytes));
        if (kind == QLatin1String("sparse"))
            QVERIFY(QFile(list).resize(64 * 1024 * 1024 + 1));
    }
    const auto before = BbsState(*m_bbs, 2);
    const CliRun dry =
        RunCli({"--home", m_bbs->home(), "addfiles", "--areas", "1", "--dry-run"}, 60000);
    QCOMPARE(dry.code, code);
    if (!message.isEmpty())
        QVERIFY2(dry.err.contains(message), qPrintable(dry.err));
    QVERIFY2(dry.out.contains(QStringLiteral("FIRST.TXT\twould add, description from the "
                                             "folder's list")),
             qPrintable(dry.out));
    QVERIFY2(dry.out.contains(QStringLiteral("SECOND.DAT\twould add, ") + secondFrom),
             qPrintable(dry.out));
    QVERIFY(BbsState(*m_bbs, 2) == before);
}

VT_TEST_MAIN(TestCliAddFiles)
#include "test_cli_addfiles.moc"
