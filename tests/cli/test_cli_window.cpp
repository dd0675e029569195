// vtfilemgr-cli's list and freshen on a temporary BBS: the built program
// run as cron would run it, its lines checked against the main window's
// filtered list and its changes against the records.
#include "common/Text.h"
#include "config/Settings.h"
#include "filter/SearchRecord.h"
#include "server/ServerPath.h"
#include "tests/app/AppTestSupport.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <map>

namespace
{

struct CliResult {
    int exitCode = -1;
    QStringList out;
    QString err;
};

} // namespace

class TestCliWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void listMatchesWindow_data();
    void listMatchesWindow();
    void listFormats_data();
    void listFormats();
    void freshenDryRunThenYes();
    void freshenMissingFileFails();
    void logLinesHaveTimeStamps();
    void badInput_data();
    void badInput();

private:
    CliResult run(const QStringList& args);
    std::unique_ptr<TestBbs> m_bbs;
    QTemporaryDir m_dir;
    QString m_filter; // free files, all areas
};

CliResult TestCliWindow::run(const QStringList& args)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
    process.setProcessEnvironment(env);
    process.start(qEnvironmentVariable("VT_BIN_DIR") + QStringLiteral("/vtfilemgr-cli"),
                  QStringList{QStringLiteral("--home"), m_bbs->home()} + args);
    CliResult result;
    if (!process.waitForFinished(120000))
        return result;
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput())
                     .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

void TestCliWindow::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(3, QStringLiteral("Three"));
    m_bbs->addArea(5, QStringLiteral("Five"));
    const QByteArray a("alpha contents"), c("c"), d("delta delta delta");
    auto stale = [](FullFileRec& f) {
        f.Rec.FreeFile = 1;
        f.Rec.Size = 1;
        SetRecText(f.Rec.Description, QStringLiteral("Alpha, \"quoted\""));
    };
    auto free = [](FullFileRec& f) { f.Rec.FreeFile = 1; };
    m_bbs->addFile(1, QStringLiteral("A.ZIP"), &a, stale);
    m_bbs->addFile(1, QStringLiteral("B.ZIP"));
    m_bbs->addFile(3, QStringLiteral("C.ZIP"), &c, free);
    m_bbs->addFile(5, QStringLiteral("D.ZIP"), &d, free);
    m_bbs->addFile(5, QStringLiteral("E.ZIP"), nullptr, free);
    SearchRecord filter{};
    filter.FreeFileOp = FlagYes;
    m_filter = m_dir.filePath(QStringLiteral("FREE.FMS"));
    QCOMPARE(WriteSearchRecordFile(m_filter, filter), FmsResult::Ok);
}

void TestCliWindow::cleanup()
{
    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
    FilterDefined = false;
    m_bbs.reset();
}

void TestCliWindow::listMatchesWindow_data()
{
    QTest::addColumn<int>("areaCriterion");
    QTest::newRow("all areas") << 0;
    QTest::newRow("area 5") << 5;
}

void TestCliWindow::listMatchesWindow()
{
    QFETCH(int, areaCriterion);
    SearchRecord filter{};
    filter.FreeFileOp = FlagYes;
    filter.AreaCriterion = areaCriterion;
    filter.Template.Rec.Area = areaCriterion;
    const QString path = m_dir.filePath(QStringLiteral("AREA.FMS"));
    QCOMPARE(WriteSearchRecordFile(path, filter), FmsResult::Ok);

    QStringList shown;
    {
        ProgramFolderScope folder;
        DialogScript dialogs;
        TFileMgr w;
        w.show();
        CurrentSearchRecord = filter;
        FilterDefined = true;
        QTest::mouseClick(w.cb_FileFilter, Qt::LeftButton);
        shown = w.FileListBox->Lines()->lines();
    }
    QVERIFY(!shown.isEmpty());

    const CliResult listed = run({"list", "--areas", "all", "--filter", path});
    QCOMPARE(listed.exitCode, 0);
    QCOMPARE(listed.out, shown);
}

void TestCliWindow::listFormats_data()
{
    QTest::addColumn<QString>("format");
    QTest::addColumn<bool>("filtered");
    QTest::addColumn<QStringList>("names");
    const QStringList all{"A.ZIP", "B.ZIP", "C.ZIP", "D.ZIP", "E.ZIP"};
    const QStringList free{"A.ZIP", "C.ZIP", "D.ZIP", "E.ZIP"};
    for (const char* format : {"text", "csv", "json"}) {
        QTest::addRow("%s", format) << QString::fromLatin1(format) << false << all;
        QTest::addRow("%s filtered", format) << QString::fromLatin1(format) << true << free;
    }
}

void TestCliWindow::listFormats()
{
    QFETCH(QString, format);
    QFETCH(bool, filtered);
    QFETCH(QStringList, names);
    QStringList args{"list", "--areas", "all", "--format", format};
    if (filtered)
        args << "--filter" << m_filter;
    const CliResult listed = run(args);
    QCOMPARE(listed.exitCode, 0);
    QStringList got;
    if (format == QLatin1String("text")) {
        for (const QString& line : listed.out)
            got << line.section(QStringLiteral(": "), 1);
        QCOMPARE(listed.out.first(), QStringLiteral("   1: A.ZIP"));
    } else if (format == QLatin1String("csv")) {
        QCOMPARE(listed.out.first(), QStringLiteral("area,name,size,date,description"));
        for (const QString& line : listed.out.mid(1))
            got << line.section(QLatin1Char(','), 1, 1);
        QVERIFY(listed.out.at(1).startsWith(QStringLiteral("1,A.ZIP,1,")));
        QVERIFY(listed.out.at(1).endsWith(QStringLiteral(",\"Alpha, \"\"quoted\"\"\"")));
    } else {
        QCOMPARE(listed.out.size(), names.size() + 2); // one record a line, in brackets
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(listed.out.join(u'\n').toUtf8(), &error);
        QCOMPARE(error.error, QJsonParseError::NoError);
        QVERIFY(doc.isArray());
        for (const QJsonValue& value : doc.array())
            got << value.toObject().value(QStringLiteral("name")).toString();
        const QJsonObject first = doc.array().first().toObject();
        QCOMPARE(first.value(QStringLiteral("area")).toInt(), 1);
        QCOMPARE(first.value(QStringLiteral("size")).toInt(), 1);
        QCOMPARE(first.value(QStringLiteral("description")).toString(),
                 QStringLiteral("Alpha, \"quoted\""));
        QVERIFY(first.contains(QStringLiteral("date")));
    }
    QCOMPARE(got, names);
}

void TestCliWindow::freshenDryRunThenYes()
{
    const auto before = RecordSnapshot();
    const CliResult dry = run({"freshen", "--areas", "1,3", "--filter", m_filter, "--dry-run"});
    QCOMPARE(dry.exitCode, 0);
    QVERIFY(RecordSnapshot() == before);
    QVERIFY(dry.out.filter(QStringLiteral("A.ZIP\twould freshen: size 1 -> 14")).size() == 1);
    QCOMPARE(dry.out.last(), QStringLiteral("2 planned"));

    // Neither --dry-run nor --yes: refused, nothing written.
    QCOMPARE(run({"freshen", "--areas", "1,3"}).exitCode, 2);
    QVERIFY(RecordSnapshot() == before);

    const CliResult real = run({"freshen", "--areas", "1,3", "--filter", m_filter, "--yes"});
    QCOMPARE(real.exitCode, 0);
    QCOMPARE(ReadFullRecord(1, "A.ZIP").Rec.Size, 14);
    QVERIFY(RecordSnapshot() != before);
    QCOMPARE(real.out.last(), QStringLiteral("2 done"));
}

void TestCliWindow::freshenMissingFileFails()
{
    const CliResult result = run({"freshen", "--areas", "1", "--yes"});
    QCOMPARE(result.exitCode, 1);
    QVERIFY(result.err.contains(QStringLiteral("File Not Found! Can not Freshen.")));
    QVERIFY(result.out.contains(QStringLiteral("1\tB.ZIP\tfailed file missing")));
    QCOMPARE(ReadFullRecord(1, "A.ZIP").Rec.Size, 14);
}

void TestCliWindow::logLinesHaveTimeStamps()
{
    const QString log = m_dir.filePath(QStringLiteral("cli.log"));
    QCOMPARE(run({"--log", log, "list", "--areas", "3"}).out, QStringList{"   3: C.ZIP"});
    QCOMPARE(run({"--log", log, "freshen", "--areas", "3", "--dry-run"}).exitCode, 0);
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList lines =
        QString::fromLocal8Bit(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    QCOMPARE(lines.size(), 3);
    const QRegularExpression stamp(QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d "));
    for (const QString& line : lines)
        QVERIFY2(stamp.match(line).hasMatch(), qPrintable(line));
    QVERIFY(lines.first().endsWith(QStringLiteral("   3: C.ZIP")));
    QVERIFY(lines.last().endsWith(QStringLiteral("1 planned")));
}

void TestCliWindow::badInput_data()
{
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QString>("message");
    QTest::newRow("unknown area") << QStringList{"list", "--areas", "9"} << "no file area 9";
    QTest::newRow("bad spec") << QStringList{"list", "--areas", "x"} << "area list";
    QTest::newRow("no areas") << QStringList{"freshen", "--yes"} << "--areas";
    QTest::newRow("unreadable filter")
        << QStringList{"list", "--areas", "all", "--filter", "/nonexistent.FMS"}
        << "cannot read the filter file";
    QTest::newRow("unknown option") << QStringList{"list", "--areas", "all", "--bogus"} << "bogus";
    QTest::newRow("bad format") << QStringList{"list", "--areas", "all", "--format", "xml"}
                                << "--format";
    QTest::newRow("both dry run and yes")
        << QStringList{"freshen", "--areas", "all", "--dry-run", "--yes"} << "either";
    QTest::newRow("no BBS") << QStringList{"--home", "/nonexistent/bbs", "list", "--areas", "all"}
                            << "no BBS in /nonexistent/bbs";
}

void TestCliWindow::badInput()
{
    QFETCH(QStringList, args);
    QFETCH(QString, message);
    const auto before = RecordSnapshot();
    const CliResult result = run(args);
    QCOMPARE(result.exitCode, 2);
    QVERIFY2(result.err.contains(message), qPrintable(result.err));
    QVERIFY(result.out.isEmpty());
    QVERIFY(RecordSnapshot() == before);
}

VT_TEST_MAIN(TestCliWindow)
#include "test_cli_window.moc"
