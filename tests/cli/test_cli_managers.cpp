// vtfilemgr-cli filelist, delete and move, run as the built program on a
// temporary BBS: the window's bytes, dry runs, the exit codes, and a run
// while a second process writes to the same BBS.
#include "common/Text.h"
#include "filter/SearchRecord.h"
#include "managers/TFileListMgrForm.h"
#include "server/wcsrv.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMap>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <cstdio>
#include <cstring>
#include <memory>

namespace
{

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// The second process of the concurrency test (this program started again
// with VT_CLI_WRITER=<milliseconds>): adds "WR" records with their files to
// area 2 and updates them until the time is up. Prints "ops <n> failed <m>".
int WriterMain(int ms)
{
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "writer: no login (%x)\n", WcGetLastError());
        return 2;
    }
    std::printf("WRITING\n");
    std::fflush(stdout);
    long ops = 0, failed = 0;
    QElapsedTimer timer;
    timer.start();
    for (int serial = 0; timer.elapsed() < ms; ++serial) {
        ++ops;
        FullFileRec full{};
        full.Rec.Area = 2;
        SetRecText(full.Rec.Name, QStringLiteral("WR%1.TXT").arg(serial, 4, 10, QLatin1Char('0')));
        SetRecText(full.Rec.Description, QStringLiteral("writer %1").arg(serial));
        if (!AddFileRec(&full)) {
            ++failed;
            continue;
        }
        FileRec rec{};
        uint32_t at = 0;
        if (!GetFileRecByAreaName(2, full.Rec.Name, &rec, &at) || !GetFullFileRec(&rec, &full)) {
            ++failed;
            continue;
        }
        full.Rec.Downloads += 1;
        if (!UpdateFullFileRec(&full))
            ++failed;
    }
    std::printf("ops %ld failed %ld\n", ops, failed);
    return 0;
}

} // namespace

class TestCliManagers : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    QTemporaryDir m_out;

    // Area 1: four files, area 2: three, area 3: none; each file holds its name.
    void fillBbs()
    {
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(2, QStringLiteral("Uploads"));
        m_bbs->addArea(3, QStringLiteral("Empty"));
        int n = 0;
        for (const char* name : {"ALPHA.ZIP", "BETA.TXT", "DELTA.DOC", "GAMMA.ZIP"}) {
            const QByteArray content = QByteArray(name) + " content";
            m_bbs->addFile(1, QString::fromLatin1(name), &content, [&](FullFileRec& full) {
                full.Rec.FileTime = TestTime(1997, 3, 15, 14, ++n);
                SetRecText(full.Rec.Description, QStringLiteral("About ") + QLatin1String(name));
            });
        }
        for (const char* name : {"ONE.ZIP", "THREE.ZIP", "TWO.TXT"}) {
            const QByteArray content = QByteArray(name) + " content";
            m_bbs->addFile(2, QString::fromLatin1(name), &content);
        }
    }

    QStringList home() const { return {QStringLiteral("--home"), m_bbs->home()}; }

    // A filter of names with "ZIP", saved as the match window saves it.
    QString zipFilter() const
    {
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        std::strncpy(CurrentSearchRecord.Template.Rec.Name, "ZIP",
                     sizeof CurrentSearchRecord.Template.Rec.Name - 1);
        FilterDefined = true;
        const QString path = m_out.filePath(QStringLiteral("ZIPS.FMS"));
        if (WriteSearchRecordFile(path, CurrentSearchRecord) != FmsResult::Ok)
            qFatal("cannot write the filter");
        return path;
    }

private slots:
    void init()
    {
        QVERIFY(m_out.isValid());
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        FilterDefined = false;
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        fillBbs();
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void filelistEqualsWindow_data()
    {
        QTest::addColumn<QString>("spec");
        QTest::addColumn<QList<int>>("areas");
        QTest::addColumn<bool>("filter");
        QTest::newRow("all") << QStringLiteral("all") << QList<int>{1, 2, 3} << false;
        QTest::newRow("filtered") << QStringLiteral("2,1") << QList<int>{1, 2} << true;
    }

    void filelistEqualsWindow()
    {
        QFETCH(QString, spec);
        QFETCH(QList<int>, areas);
        QFETCH(bool, filter);
        const QString fms = filter ? zipFilter() : QString();
        const QString windowList = m_out.filePath(QStringLiteral("window.txt"));
        const QString cliList = m_out.filePath(QStringLiteral("cli.txt"));
        {
            TFileListMgrForm form;
            form.show();
            form.AreaListBox->clearSelection();
            for (int area : areas) {
                QListWidgetItem* item = LineOfArea(form.AreaListBox, area);
                QVERIFY(item);
                item->setSelected(true);
            }
            form.cb_ApplyFilter->setChecked(filter);
            form.e_OutputFile->setText(windowList);
            DialogScript dialogs;
            form.b_MakeFileList->click();
            QVERIFY(dialogs.shown.isEmpty());
            form.close();
        }
        // An older list at the path is replaced, not added to.
        QFile old(cliList);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("an older list\r\n");
        old.close();
        QStringList args = home() << QStringLiteral("filelist") << QStringLiteral("--areas") << spec
                                  << QStringLiteral("--out") << cliList;
        if (filter)
            args << QStringLiteral("--filter") << fms;
        const CliRun run = RunCli(args);
        QCOMPARE(run.code, 0);
        const QByteArray expected = ReadAll(windowList);
        QVERIFY(expected.contains("ALPHA.ZIP"));
        QCOMPARE(expected.contains("BETA.TXT"), !filter);
        QCOMPARE(ReadAll(cliList), expected);
    }

    void deleteDryRunThenYes()
    {
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 3);
        const QStringList args = home() << QStringLiteral("delete") << QStringLiteral("--areas")
                                        << QStringLiteral("1") << QStringLiteral("--files");
        const CliRun dry = RunCli(QStringList(args) << QStringLiteral("--dry-run"));
        QCOMPARE(dry.code, 0);
        QCOMPARE(dry.out.count(QStringLiteral("would delete with its file")), 4);
        QVERIFY(dry.out.contains(QStringLiteral("1\tGAMMA.ZIP\twould delete")));
        QCOMPARE(BbsState(*m_bbs, 3), before);

        const CliRun yes = RunCli(QStringList(args) << QStringLiteral("--yes"));
        QCOMPARE(yes.code, 0);
        QCOMPARE(yes.out.count(QStringLiteral("\tdeleted with its file")), 4);
        QVERIFY(RecordNamesOf(1).isEmpty());
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("ALPHA.ZIP")));
        QCOMPARE(RecordNamesOf(2).size(), 3);
    }

    void moveFiles()
    {
        // One record's file is gone: that record stays where it is.
        QVERIFY(QFile::remove(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("TWO.TXT"))));
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 3);
        const CliRun run =
            RunCli(home() << QStringLiteral("move") << QStringLiteral("--from")
                          << QStringLiteral("2") << QStringLiteral("--to") << QStringLiteral("3")
                          << QStringLiteral("--files") << QStringLiteral("--yes"));
        QCOMPARE(run.code, 1);
        QVERIFY(run.out.contains(QStringLiteral("2\tTWO.TXT\trefused file missing")));
        QCOMPARE(RecordNamesOf(2), QStringList{QStringLiteral("TWO.TXT")});
        QCOMPARE(RecordNamesOf(3),
                 (QStringList{QStringLiteral("ONE.ZIP"), QStringLiteral("THREE.ZIP")}));
        const QMap<QString, QByteArray> after = BbsState(*m_bbs, 3);
        QCOMPARE(after.value(QStringLiteral("rec 2 TWO.TXT")),
                 before.value(QStringLiteral("rec 2 TWO.TXT")));
        QCOMPARE(after.value(QStringLiteral("file 3 ONE.ZIP")), QByteArray("ONE.ZIP content"));
        QCOMPARE(after.value(QStringLiteral("file 3 THREE.ZIP")), QByteArray("THREE.ZIP content"));
    }

    void exitCodes_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        const QString bbs = QStringLiteral("<bbs>");
        QTest::newRow("unknown area")
            << QStringList{QStringLiteral("delete"), QStringLiteral("--areas"),
                           QStringLiteral("1,9"), QStringLiteral("--yes")}
            << 2 << QStringLiteral("no file area 9");
        QTest::newRow("unreadable filter") << QStringList{QStringLiteral("filelist"),
                                                          QStringLiteral("--areas"),
                                                          QStringLiteral("all"),
                                                          QStringLiteral("--filter"),
                                                          QStringLiteral("<out>/NONE.FMS"),
                                                          QStringLiteral("--out"),
                                                          QStringLiteral("<out>/list.txt")}
                                           << 2 << QStringLiteral("cannot read the filter file");
        QTest::newRow("no bbs")
            << QStringList{QStringLiteral("--home"), QStringLiteral("<out>/none"),
                           QStringLiteral("move"),   QStringLiteral("--from"),
                           QStringLiteral("1"),      QStringLiteral("--to"),
                           QStringLiteral("3"),      QStringLiteral("--yes")}
            << 2 << QString();
        QTest::newRow("unknown option")
            << QStringList{QStringLiteral("delete"), QStringLiteral("--areas"), QStringLiteral("1"),
                           QStringLiteral("--force")}
            << 2 << QStringLiteral("force");
        QTest::newRow("neither dry run nor yes")
            << QStringList{QStringLiteral("move"), QStringLiteral("--from"), QStringLiteral("1"),
                           QStringLiteral("--to"), QStringLiteral("3")}
            << 2 << QStringLiteral("--dry-run");
        QTest::newRow("move dry run")
            << QStringList{QStringLiteral("move"), QStringLiteral("--from"),
                           QStringLiteral("1"),    QStringLiteral("--to"),
                           QStringLiteral("3"),    QStringLiteral("--dry-run")}
            << 0 << QString();
        QTest::newRow("help") << QStringList{QStringLiteral("move"), QStringLiteral("--help")} << 0
                              << QString();
    }

    void exitCodes()
    {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 3);
        for (QString& arg : args)
            arg.replace(QStringLiteral("<out>"), m_out.path());
        if (!args.contains(QStringLiteral("--home")))
            args = home() + args;
        const CliRun run = RunCli(args);
        QCOMPARE(run.code, code);
        if (code == 2) {
            QCOMPARE(run.err.trimmed().count(QLatin1Char('\n')), 0); // one line
            QVERIFY2(run.err.contains(message), qPrintable(run.err));
        }
        QCOMPARE(BbsState(*m_bbs, 3), before);
    }

    void deleteWhileAnotherProcessWrites()
    {
        // A bigger area, so the deletion takes a while.
        for (int i = 0; i < 60; ++i)
            m_bbs->addFile(1, QStringLiteral("BULK%1.ZIP").arg(i, 3, 10, QLatin1Char('0')));
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 3);
        QProcess writer;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VT_CLI_WRITER"), QStringLiteral("4000"));
        env.insert(QStringLiteral("WCSRV_HOME"), m_bbs->home());
        writer.setProcessEnvironment(env);
        writer.start(QCoreApplication::applicationFilePath(), QStringList{});
        QVERIFY(writer.waitForReadyRead(60000));
        QVERIFY(writer.readLine().startsWith("WRITING"));

        const CliRun run = RunCli(home() << QStringLiteral("delete") << QStringLiteral("--areas")
                                         << QStringLiteral("1") << QStringLiteral("--yes"));
        // The two processes overlapped: the writer is still at work.
        const bool overlapped = writer.state() == QProcess::Running;
        QVERIFY(writer.waitForFinished(60000));
        QCOMPARE(writer.exitCode(), 0);
        QVERIFY(overlapped);
        QCOMPARE(run.code, 0);
        QCOMPARE(run.out.count(QStringLiteral("\tdeleted\n")), 64);

        const QString report = QString::fromLatin1(writer.readAll()).trimmed();
        const QStringList parts = report.split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 4);
        const int ops = parts.at(1).toInt();
        QCOMPARE(parts.at(3), QStringLiteral("0"));
        QVERIFY(ops > 0);
        // Area 1 is empty, area 2 holds its own records unchanged and every
        // record the writer added, and the files of area 1 stayed on disk.
        QVERIFY(RecordNamesOf(1).isEmpty());
        QCOMPARE(RecordNamesOf(2).size(), 3 + ops);
        const QMap<QString, QByteArray> after = BbsState(*m_bbs, 3);
        for (const char* name : {"ONE.ZIP", "THREE.ZIP", "TWO.TXT"}) {
            const QString key = QStringLiteral("rec 2 ") + QLatin1String(name);
            QCOMPARE(after.value(key), before.value(key));
        }
        QCOMPARE(after.value(QStringLiteral("file 1 ALPHA.ZIP")), QByteArray("ALPHA.ZIP content"));
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("VT_CLI_WRITER")) {
        QCoreApplication app(argc, argv);
        return WriterMain(qEnvironmentVariableIntValue("VT_CLI_WRITER"));
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VtApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    TestCliManagers tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "test_cli_managers.moc"
