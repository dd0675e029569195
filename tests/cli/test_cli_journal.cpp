// The run journal through the built vtfilemgr-cli: every changing command is
// one run that undo takes back to the very bytes of every record and file;
// history in text and json; bad input; the trash and its setting.
#include "common/Text.h"
#include "server/wcsrv.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

namespace
{

// The areas the tests fill; BbsState reads all of them.
constexpr int kAreas = 3;

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// The keys whose bytes differ between two states, for a failure message.
QString Differences(const QMap<QString, QByteArray>& a, const QMap<QString, QByteArray>& b)
{
    QStringList keys;
    for (auto it = a.begin(); it != a.end(); ++it)
        if (!b.contains(it.key()) || b.value(it.key()) != it.value())
            keys << it.key();
    for (auto it = b.begin(); it != b.end(); ++it)
        if (!a.contains(it.key()))
            keys << it.key() + QStringLiteral(" (new)");
    return keys.join(QStringLiteral(", "));
}

// One changing command and what it must have changed before its undo.
struct UndoCase {
    const char* name;
    QStringList args; // "@LIST@" stands for the description list file
    // Keys of BbsState that the command must remove, add or change.
    QStringList gone, added, changed;
};

const QList<UndoCase>& UndoCases()
{
    static const QList<UndoCase> cases = {
        {"deletion with files of two areas",
         {"delete", "--areas", "1,2", "--files", "--yes"},
         {"rec 1 ALPHA.ZIP", "file 1 ALPHA.ZIP", "rec 1 BETA.TXT", "file 1 BETA.TXT",
          "rec 2 ONE.ZIP", "file 2 ONE.ZIP"},
         {},
         {}},
        {"move manager run with files",
         {"move", "--from", "1", "--to", "3", "--files", "--yes"},
         // The files are copied (or renamed) into area 3's folder.
         {"rec 1 ALPHA.ZIP", "rec 1 BETA.TXT"},
         {"rec 3 ALPHA.ZIP", "file 3 ALPHA.ZIP", "rec 3 BETA.TXT", "file 3 BETA.TXT"},
         {}},
        {"import of descriptions over existing ones",
         {"import-desc", "--area", "1", "@LIST@", "--yes"},
         {},
         {},
         {"rec 1 ALPHA.ZIP", "rec 1 BETA.TXT"}},
        {"duplicate clean-up",
         {"dupes", "--areas", "1,3", "--by", "content", "--keep", "oldest", "--delete", "--files",
          "--yes"},
         {"rec 3 SAME.ZIP", "file 3 SAME.ZIP"},
         {},
         {}},
        {"add of a folder's files",
         {"addfiles", "--areas", "2", "--yes"},
         {},
         {"rec 2 NEW1.TXT", "rec 2 NEW2.TXT"},
         {}},
    };
    return cases;
}

} // namespace

class TestCliJournal : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    QTemporaryDir m_out;

    QStringList home() const { return {QStringLiteral("--home"), m_bbs->home()}; }
    CliRun cli(const QStringList& args) const { return RunCli(home() + args); }

    // Area 1: two files with texts; area 2: one file with a record and two
    // without; area 3: a younger copy of ALPHA.ZIP under another name.
    void fillBbs()
    {
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(2, QStringLiteral("Uploads"));
        m_bbs->addArea(3, QStringLiteral("Archive"));
        const QByteArray alpha("alpha bytes\x01\x02\xff", 14);
        const QByteArray beta("beta bytes");
        const QByteArray one("one bytes");
        m_bbs->addFile(1, QStringLiteral("ALPHA.ZIP"), &alpha, [](FullFileRec& full) {
            full.Rec.FileTime = TestTime(1997, 3, 15, 14, 1);
            SetRecText(full.Rec.Description, QStringLiteral("The alpha archive"));
            SetRecText(full.LongDescription[0], QStringLiteral("its long text"));
            full.Rec.HasLongDescription = 1;
            full.Rec.Downloads = 7;
        });
        m_bbs->addFile(1, QStringLiteral("BETA.TXT"), &beta, [](FullFileRec& full) {
            full.Rec.FileTime = TestTime(1998, 1, 2, 3, 4);
            SetRecText(full.Rec.Description, QStringLiteral("Beta notes"));
        });
        m_bbs->addFile(2, QStringLiteral("ONE.ZIP"), &one);
        m_bbs->addFile(3, QStringLiteral("SAME.ZIP"), &alpha, [](FullFileRec& full) {
            full.Rec.FileTime = TestTime(1999, 5, 6, 7, 8);
            SetRecText(full.Rec.Description, QStringLiteral("A copy"));
        });
        QVERIFY(WriteFile(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("NEW1.TXT")),
                          "first new file"));
        QVERIFY(WriteFile(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("NEW2.TXT")),
                          "second new file"));
    }

    QString descriptionList() const
    {
        const QString path = m_out.filePath(QStringLiteral("FILES.BBS"));
        if (!WriteFile(path, "ALPHA.ZIP  Imported text for alpha\r\n"
                             "BETA.TXT   Imported text for beta\r\n"))
            qFatal("cannot write the list");
        return path;
    }

    // The runs as `history --format json` gives them.
    QJsonArray historyJson(const QStringList& more = {}) const
    {
        const CliRun run = cli(QStringList{QStringLiteral("history"), QStringLiteral("--format"),
                                           QStringLiteral("json")} +
                               more);
        if (run.code != 0)
            qWarning("history: %d %s", run.code, qPrintable(run.err));
        return QJsonDocument::fromJson(run.out.toUtf8()).array();
    }
    // The newest run's id; 0 when there is none.
    int lastRun() const
    {
        const QJsonArray runs = historyJson();
        return runs.isEmpty() ? 0 : runs.first().toObject().value(QStringLiteral("id")).toInt();
    }

private slots:
    void init()
    {
        QVERIFY(m_out.isValid());
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        fillBbs();
    }

    void cleanup() { m_bbs.reset(); }

    void undoGivesBackEveryByte_data()
    {
        QTest::addColumn<int>("index");
        for (int i = 0; i < UndoCases().size(); ++i)
            QTest::newRow(UndoCases()[i].name) << i;
    }

    void undoGivesBackEveryByte()
    {
        QFETCH(int, index);
        const UndoCase& c = UndoCases()[index];
        QStringList args;
        for (const QString& arg : c.args)
            args << (arg == QLatin1String("@LIST@") ? descriptionList() : arg);
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, kAreas);

        const CliRun run = cli(args);
        QVERIFY2(run.code == 0, qPrintable(run.out + run.err));
        // The command did what the case says, so the undo has work to do.
        const QMap<QString, QByteArray> after = BbsState(*m_bbs, kAreas);
        for (const QString& key : c.gone)
            QVERIFY2(before.contains(key) && !after.contains(key), qPrintable(key));
        for (const QString& key : c.added)
            QVERIFY2(!before.contains(key) && after.contains(key), qPrintable(key));
        for (const QString& key : c.changed)
            QVERIFY2(after.contains(key) && after.value(key) != before.value(key), qPrintable(key));

        // One run, kept with the command as typed.
        const QJsonArray runs = historyJson();
        QCOMPARE(runs.size(), 1);
        const QJsonObject kept = runs.first().toObject();
        QCOMPARE(kept.value(QStringLiteral("command")).toString(), args.join(QLatin1Char(' ')));
        QCOMPARE(kept.value(QStringLiteral("undone")).toBool(), false);
        const int id = kept.value(QStringLiteral("id")).toInt();

        const CliRun dry =
            cli({QStringLiteral("undo"), QString::number(id), QStringLiteral("--dry-run")});
        QCOMPARE(dry.code, 0);
        QVERIFY(dry.out.contains(QStringLiteral("would put back")));
        QCOMPARE(BbsState(*m_bbs, kAreas), after);

        const CliRun undo =
            cli({QStringLiteral("undo"), QString::number(id), QStringLiteral("--yes")});
        QVERIFY2(undo.code == 0, qPrintable(undo.out + undo.err));
        const QMap<QString, QByteArray> undone = BbsState(*m_bbs, kAreas);
        QVERIFY2(undone == before, qPrintable(Differences(before, undone)));

        // The undo is a run of its own, and the run is marked undone by it.
        const QJsonArray now = historyJson();
        QCOMPARE(now.size(), 2);
        QCOMPARE(now[0].toObject().value(QStringLiteral("undoes")).toInt(), id);
        QCOMPARE(now[1].toObject().value(QStringLiteral("undone")).toBool(), true);
    }

    void badInput_data()
    {
        QTest::addColumn<bool>("undoFirst"); // a deletion, undone, before the command
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown run")
            << false << QStringList{"undo", "99", "--yes"} << 2 << "no run 99";
        QTest::newRow("unknown run, dry")
            << false << QStringList{"undo", "99", "--dry-run"} << 2 << "no run 99";
        QTest::newRow("history of an unknown run")
            << false << QStringList{"history", "42"} << 2 << "no run 42";
        QTest::newRow("undone already")
            << true << QStringList{"undo", "1", "--yes"} << 1 << "undone already by run 2";
        QTest::newRow("run that is no number")
            << false << QStringList{"undo", "first", "--yes"} << 2 << "not \"first\"";
        QTest::newRow("undo without --yes")
            << true << QStringList{"undo", "1"} << 2 << "one of --dry-run and --yes";
        QTest::newRow("undo of two runs")
            << true << QStringList{"undo", "1", "2", "--yes"} << 2 << "one RUN";
        QTest::newRow("bad limit")
            << false << QStringList{"history", "--limit", "0"} << 2 << "--limit";
        QTest::newRow("bad format")
            << false << QStringList{"history", "--format", "csv"} << 2 << "unknown --format";
        QTest::newRow("trash without a choice")
            << false << QStringList{"trash"} << 2 << "one of --list and --empty";
        QTest::newRow("trash, bad days")
            << false << QStringList{"trash", "--empty", "--older-than", "soon"} << 2
            << "number of days";
    }

    void badInput()
    {
        QFETCH(bool, undoFirst);
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QString, message);
        if (undoFirst) {
            QCOMPARE(cli({"delete", "--areas", "1", "--files", "--yes"}).code, 0);
            QCOMPARE(cli({"undo", "1", "--yes"}).code, 0);
        }
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, kAreas);
        const QJsonArray runsBefore = historyJson();

        const CliRun run = cli(args);
        QCOMPARE(run.code, code);
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
        QCOMPARE(BbsState(*m_bbs, kAreas), before);
        QCOMPARE(historyJson(), runsBefore);
    }

    void storeWithoutJournal()
    {
        // Records the library wrote outside any run, and commands that
        // change nothing: no journal, and history says so without failing.
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, "DROP TABLE IF EXISTS run_entries; DROP TABLE IF EXISTS runs",
                             &error),
                 qPrintable(error));
        QCOMPARE(cli({"delete", "--areas", "1,2", "--files", "--dry-run"}).code, 0);
        QCOMPARE(cli({"freshen", "--areas", "all", "--dry-run"}).code, 0);
        QCOMPARE(cli({"list", "--areas", "all"}).code, 0);

        const CliRun text = cli({QStringLiteral("history")});
        QCOMPARE(text.code, 0);
        QCOMPARE(text.out, QString());
        QCOMPARE(text.err, QString());
        const CliRun json = cli({"history", "--format", "json"});
        QCOMPARE(json.code, 0);
        QCOMPARE(json.out.trimmed(), QStringLiteral("[]"));
        const CliRun trash = cli({"trash", "--list"});
        QCOMPARE(trash.code, 0);
        QCOMPARE(trash.out, QStringLiteral("0 files, 0 bytes in the trash\n"));
        QCOMPARE(cli({"undo", "1", "--dry-run"}).code, 2);
        // Reading the journal made no table either.
        QVERIFY(!RunStoreSql(*m_bbs, "SELECT count(*) FROM runs", &error));
    }

    void historyTextAndJson()
    {
        QCOMPARE(cli({"delete", "--areas", "2", "--files", "--yes"}).code, 0);
        QCOMPARE(cli({"import-desc", "--area", "1", descriptionList(), "--yes"}).code, 0);

        const CliRun text = cli({QStringLiteral("history")});
        QCOMPARE(text.code, 0);
        const QStringList lines = text.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        // Newest first: id, time, machine, command, counts, state.
        const QStringList newest = lines[0].split(QLatin1Char('\t'));
        QCOMPARE(newest.size(), 6);
        QCOMPARE(newest[0], QStringLiteral("2"));
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d$"))
                     .match(newest[1])
                     .hasMatch(),
                 qPrintable(newest[1]));
        QVERIFY(!newest[2].isEmpty());
        QCOMPARE(newest[3], QStringLiteral("import-desc --area 1 %1 --yes").arg(descriptionList()));
        QCOMPARE(newest[4],
                 QStringLiteral("added 0, changed 2, deleted 0, moved 0, files trashed 0"));
        QCOMPARE(newest[5], QStringLiteral("-"));
        const QStringList oldest = lines[1].split(QLatin1Char('\t'));
        QCOMPARE(oldest[0], QStringLiteral("1"));
        QCOMPARE(oldest[3], QStringLiteral("delete --areas 2 --files --yes"));
        QCOMPARE(oldest[4],
                 QStringLiteral("added 0, changed 0, deleted 1, moved 0, files trashed 1"));

        const QJsonArray runs = historyJson();
        QCOMPARE(runs.size(), 2);
        const QJsonObject first = runs[0].toObject();
        for (const char* key : {"id", "time", "machine", "command", "added", "changed", "deleted",
                                "moved", "filesTrashed", "undone"})
            QVERIFY2(first.contains(QLatin1String(key)), key);
        QCOMPARE(first.value(QStringLiteral("id")).toInt(), 2);
        QCOMPARE(first.value(QStringLiteral("changed")).toInt(), 2);
        QCOMPARE(first.value(QStringLiteral("machine")).toString(), newest[2]);
        QVERIFY(first.value(QStringLiteral("time")).toString().endsWith(QLatin1Char('Z')));
        QCOMPARE(runs[1].toObject().value(QStringLiteral("filesTrashed")).toInt(), 1);
        QCOMPARE(historyJson({QStringLiteral("--limit"), QStringLiteral("1")}).size(), 1);

        // One run's entries: the record, then its file into the trash.
        const CliRun entries = cli({"history", "1"});
        QCOMPARE(entries.code, 0);
        const QStringList entryLines = entries.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(entryLines.size(), 3);
        QVERIFY(entryLines[0].startsWith(QStringLiteral("1\t")));
        QVERIFY2(entryLines[1].startsWith(QStringLiteral("1\trecord deleted\t2\tONE.ZIP")),
                 qPrintable(entryLines[1]));
        QVERIFY2(entryLines[2].startsWith(QStringLiteral("2\tfile trashed\t2\tONE.ZIP\t")),
                 qPrintable(entryLines[2]));
        const CliRun changed = cli({"history", "2", "--format", "json"});
        const QJsonObject run2 = QJsonDocument::fromJson(changed.out.toUtf8()).object();
        const QJsonArray run2Entries = run2.value(QStringLiteral("entries")).toArray();
        QCOMPARE(run2Entries.size(), 2);
        QCOMPARE(run2Entries[0].toObject().value(QStringLiteral("kind")).toString(),
                 QStringLiteral("record changed"));
        QCOMPARE(run2Entries[0].toObject().value(QStringLiteral("fields")).toArray(),
                 (QJsonArray{QStringLiteral("description"), QStringLiteral("long description flag"),
                             QStringLiteral("long description")}));
    }

    void conflictIsLeftAndReported()
    {
        QCOMPARE(cli({"delete", "--areas", "1", "--files", "--yes"}).code, 0);
        // The name is taken again since the run: that record stays as it is
        // now, the other comes back.
        const QByteArray other("another beta");
        m_bbs->addFile(1, QStringLiteral("BETA.TXT"), &other);
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, kAreas);

        const CliRun dry = cli({"undo", "1", "--dry-run"});
        QCOMPARE(dry.code, 1);
        QVERIFY2(dry.err.contains(QStringLiteral("BETA.TXT\trecord deleted\tconflict")),
                 qPrintable(dry.err));
        QCOMPARE(BbsState(*m_bbs, kAreas), before);

        const CliRun undo = cli({"undo", "1", "--yes"});
        QCOMPARE(undo.code, 1);
        QVERIFY(undo.out.contains(QStringLiteral("1\tALPHA.ZIP\trecord deleted\tput back")));
        const QMap<QString, QByteArray> after = BbsState(*m_bbs, kAreas);
        QCOMPARE(after.value(QStringLiteral("file 1 BETA.TXT")), other);
        QCOMPARE(after.value(QStringLiteral("file 1 ALPHA.ZIP")),
                 QByteArray("alpha bytes\x01\x02\xff", 14));
        QVERIFY(after.contains(QStringLiteral("rec 1 ALPHA.ZIP")));
    }

    void trashListEmptyAndSetting()
    {
        QCOMPARE(cli({"delete", "--areas", "1", "--files", "--yes"}).code, 0);
        const CliRun list = cli({"trash", "--list"});
        QCOMPARE(list.code, 0);
        QVERIFY2(list.out.startsWith(QStringLiteral("1\t1\t")), qPrintable(list.out));
        QVERIFY(list.out.endsWith(QStringLiteral("2 files, 24 bytes in the trash\n")));

        // Emptied, the files are gone for good: undo brings the records back
        // and names the files as conflicts.
        const CliRun empty = cli({"trash", "--empty"});
        QCOMPARE(empty.code, 0);
        QCOMPARE(empty.out, QStringLiteral("2 files deleted from the trash\n"));
        QCOMPARE(cli({"trash", "--list"}).out, QStringLiteral("0 files, 0 bytes in the trash\n"));
        const CliRun undo = cli({"undo", "1", "--yes"});
        QCOMPARE(undo.code, 1);
        QCOMPARE(undo.err.count(QStringLiteral("file trashed\tconflict")), 2);
        QCOMPARE(RecordNamesOf(1), (QStringList{"ALPHA.ZIP", "BETA.TXT"}));

        // TrashDays=0 in the settings file: a run keeps nothing.
        const QString config = m_out.filePath(QStringLiteral("vuru.cfg"));
        QVERIFY(WriteFile(config, "[General]\r\nTrashDays=0\r\n"));
        const CliRun none = RunCli(QStringList{"--config", config} + home() +
                                   QStringList{"delete", "--areas", "2", "--files", "--yes"});
        QCOMPARE(none.code, 0);
        QVERIFY(!m_bbs->fileOnDisk(2, QStringLiteral("ONE.ZIP")));
        QCOMPARE(cli({"trash", "--list"}).out, QStringLiteral("0 files, 0 bytes in the trash\n"));
    }

    void unwritableTrashRefusesTheRun()
    {
        // A file where the trash folder must go: no run may begin.
        const QString trash = QDir(m_bbs->home()).filePath(QStringLiteral("trash"));
        QDir(trash).removeRecursively();
        QVERIFY(WriteFile(trash, "in the way"));
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, kAreas);

        const CliRun run = cli({"delete", "--areas", "1,2", "--files", "--yes"});
        QCOMPARE(run.code, 2);
        QVERIFY2(run.err.contains(trash), qPrintable(run.err));
        QVERIFY(run.err.contains(QStringLiteral("nothing was changed")));
        QCOMPARE(run.out, QString());
        QCOMPARE(BbsState(*m_bbs, kAreas), before);
        QCOMPARE(historyJson().size(), 0);
        // A dry run needs no trash.
        QCOMPARE(cli({"delete", "--areas", "1,2", "--files", "--dry-run"}).code, 0);
    }

    void completionAndManualName()
    {
        const CliRun completion = RunCli({QStringLiteral("--completion")});
        QCOMPARE(completion.code, 0);
        // RUN completes from the latest runs; the new commands are listed.
        QVERIFY(completion.out.contains(QStringLiteral("_vtfilemgr_cli_runs()")));
        QVERIFY(completion.out.contains(
            QStringLiteral("if [[ $cur == -* ]]; then _vtfilemgr_cli_words '--dry-run --yes -h "
                           "--help'; else _vtfilemgr_cli_runs; fi")));
        QVERIFY(completion.out.contains(QStringLiteral("        trash)\n")));
        const CliRun man = RunCli({QStringLiteral("--man")});
        QCOMPARE(man.code, 0);
        QVERIFY(man.out.contains(QStringLiteral(".SS history")));
        QVERIFY(man.out.contains(QStringLiteral(".SS undo")));
        QVERIFY(man.out.contains(QStringLiteral("TrashDays")));
    }
};

VT_TEST_MAIN(TestCliJournal)
#include "test_cli_journal.moc"
