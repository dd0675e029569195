// vtfilemgr-cli tic, run as the built program on a temporary BBS: bad input
// changes nothing and ends with 2, a dry run shows the rows and changes
// nothing, --yes places the files (0) or puts some into bad (1), the run
// is one run of the journal, and --announce appends the new files.
#include "server/RunJournal.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

namespace
{

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray Tic(const QByteArray& echo, const QByteArray& file, const QByteArray& content)
{
    const uLong crc =
        ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.constData()),
                uInt(content.size()));
    return "Area " + echo + "\r\nFile " + file + "\r\nSize " + QByteArray::number(content.size()) +
           "\r\nCrc " + QByteArray::number(qulonglong(crc), 16) + "\r\nDesc A file\r\n";
}

QStringList Files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

} // namespace

class TestCliTic : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup()
    {
        m_bbs.reset();
        m_dir.reset();
    }
    void badInput_data();
    void badInput();
    void dryRunThenYes();
    void badGivesExitOne();
    void announce();

private:
    QString inbound() const { return m_dir->filePath(QStringLiteral("inbound")); }
    QString config() const { return m_dir->filePath(QStringLiteral("vuru.cfg")); }
    CliRun tic(const QStringList& args)
    {
        return RunCli(QStringList{"--home", m_bbs->home(), "--config", config(), "tic"} + args);
    }
    void writeConfig(const QByteArray& extra = QByteArray())
    {
        QVERIFY(Write(config(), "[TIC]\r\nInbound=" + inbound().toUtf8() +
                                    "\r\n[TicAreas]\r\nGAMES=2\r\n" + extra));
    }

    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestCliTic::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Games"));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir().mkpath(inbound()));
    writeConfig();
    QVERIFY(Write(inbound() + QStringLiteral("/GAME.TIC"), Tic("GAMES", "GAME.ZIP", "game")));
    QVERIFY(Write(inbound() + QStringLiteral("/GAME.ZIP"), "game"));
}

void TestCliTic::badInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("config"); // the settings file's text; "-": none
    QTest::addColumn<QString>("message");
    QTest::newRow("neither") << QStringList{} << QByteArray() << "either --dry-run";
    QTest::newRow("both") << QStringList{"--dry-run", "--yes"} << QByteArray() << "either";
    QTest::newRow("no settings file")
        << QStringList{"--yes"} << QByteArray("-") << "cannot read the settings file";
    QTest::newRow("no TicAreas") << QStringList{"--yes"} << QByteArray("[TIC]\r\nInbound=x\r\n")
                                 << "no TicAreas";
    QTest::newRow("area not a number")
        << QStringList{"--yes"} << QByteArray("[TicAreas]\r\nGAMES=two\r\n") << "not an area";
    QTest::newRow("no inbound set")
        << QStringList{"--yes"} << QByteArray("[TicAreas]\r\nGAMES=2\r\n") << "no inbound folder";
    QTest::newRow("inbound not there") << QStringList{"--yes", "--inbound", "/nonexistent/inbound"}
                                       << QByteArray() << "is not there";
    QTest::newRow("stray argument")
        << QStringList{"--yes", "extra"} << QByteArray() << "unexpected argument";
}

void TestCliTic::badInput()
{
    QFETCH(QStringList, args);
    QFETCH(QByteArray, config);
    QFETCH(QString, message);
    if (config == "-")
        QVERIFY(QFile::remove(this->config()));
    else if (!config.isEmpty())
        QVERIFY(Write(this->config(), config));
    const auto before = BbsState(*m_bbs, 2);
    const CliRun run = tic(args);
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QVERIFY(BbsState(*m_bbs, 2) == before);
    QCOMPARE(Files(inbound()), (QStringList{"GAME.TIC", "GAME.ZIP"}));
}

void TestCliTic::dryRunThenYes()
{
    const auto before = BbsState(*m_bbs, 2);
    CliRun run = tic({"--dry-run"});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains(QStringLiteral("GAME.TIC\tGAMES\t2\tGAME.ZIP\tplace\t")),
             qPrintable(run.out));
    QVERIFY(BbsState(*m_bbs, 2) == before);
    QCOMPARE(Files(inbound()), (QStringList{"GAME.TIC", "GAME.ZIP"}));

    run = tic({"--yes"});
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.contains(QStringLiteral("GAME.TIC\tGAMES\t2\tGAME.ZIP\tplaced\t")),
             qPrintable(run.out));
    QVERIFY(run.out.contains(QStringLiteral("1 placed, 0 duplicate, 0 waiting, 0 bad, 0 failed")));
    QVERIFY(Files(inbound()).isEmpty());
    QCOMPARE(Files(m_bbs->areaFolder(2)), QStringList{"GAME.ZIP"});
    const auto after = BbsState(*m_bbs, 2);
    QVERIFY(after.contains(QStringLiteral("rec 2 GAME.ZIP")));

    // The intake is one run of the journal, named as it was typed.
    ServerLogin login;
    QVERIFY(login.ok());
    QList<WcRunInfo> runs;
    QVERIFY(ListJournalRuns(0, runs));
    QCOMPARE(runs.size(), 1);
    QCOMPARE(QString::fromUtf8(runs.first().Command), QStringLiteral("tic --yes"));
    QCOMPARE(runs.first().Added, 1u);
}

void TestCliTic::badGivesExitOne()
{
    QVERIFY(Write(inbound() + QStringLiteral("/OTHER.TIC"), Tic("NOPE", "OTHER.ZIP", "other")));
    QVERIFY(Write(inbound() + QStringLiteral("/OTHER.ZIP"), "other"));
    const CliRun run = tic({"--yes"});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.out.contains(QStringLiteral("echo 'NOPE' is not in TicAreas")),
             qPrintable(run.out));
    QVERIFY(Files(inbound()).isEmpty());
    QCOMPARE(Files(inbound() + QStringLiteral("/bad")),
             (QStringList{"OTHER.TIC", "OTHER.TIC.reason", "OTHER.ZIP"}));
    QCOMPARE(Files(m_bbs->areaFolder(2)), QStringList{"GAME.ZIP"});
}

void TestCliTic::announce()
{
    const QString list = m_dir->filePath(QStringLiteral("new.txt"));
    const CliRun run = tic({"--yes", "--announce", list});
    QCOMPARE(run.code, 0);
    QFile f(list);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QByteArray text = f.readAll();
    QVERIFY2(text.contains("2: Games ]="), text.constData());
    QVERIFY(text.contains("GAME.ZIP"));
    QVERIFY(text.contains("A file"));
    QVERIFY(text.contains("Total Files: 1"));
    // A dry run writes no announcement.
    QVERIFY(f.remove());
    QCOMPARE(tic({"--dry-run", "--announce", list}).code, 0);
    QVERIFY(!QFile::exists(list));
}

VT_TEST_MAIN(TestCliTic)
#include "test_cli_tic.moc"
