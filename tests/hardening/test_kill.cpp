// Process death: the move manager moving 2,000 records with their files is
// killed (SIGKILL) once a random number of records has moved, a few random
// milliseconds later. Each kill must land mid-run (some but not all records
// moved). Afterwards the database is sound, every record exists exactly
// once with all its bytes as before except its area, its file is intact in
// its own area's folder, and every file without a record is an original
// the move copied or a (partial) copy the kill interrupted. Those runs copy
// (as between two file systems); the same kills while the move renames may
// also find the one file in flight renamed ahead of its record. After
// every kill the run's journal holds exactly the changes made, and undoing
// the killed run puts every record and file back byte for byte.
#include "HardeningSupport.h"

#include "platform/wcsrv/WcAdmin.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QThread>
#include <QtTest>

#include <sqlite3.h>

#include <memory>

using namespace hard;

class TestKill : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_template;
    Layout m_layout;
    QString m_child;
    qint64 m_fullMs = 0;
    QList<Figure> m_figures;
    Expect m_expect;

    long m_undoRuns = 0, m_undoEntries = 0, m_unfinished = 0;

    // After the checks of a killed run: its journal holds exactly what it
    // changed, and undoing it puts everything back. Leaves the sandbox.
    QStringList undoChecked(Sandbox& box, const BbsBytes& state)
    {
        const UndoResult undone = UndoRestores(box.home(), state, true);
        box.leave();
        m_undoRuns += undone.runs;
        m_undoEntries += undone.entries;
        m_unfinished += undone.unfinished;
        QStringList problems = undone.problems;
        if (undone.runs != 1 || undone.entries == 0)
            problems << QStringLiteral("%1 runs with %2 entries to undo")
                            .arg(undone.runs)
                            .arg(undone.entries);
        return problems;
    }

    static constexpr int kRecords = 2000;
    static constexpr int kKillRuns = 20;
    static constexpr int kRenameKillRuns = 8;

    // Records in the target area, read beside the moving process.
    static int MovedSoFar(sqlite3* db)
    {
        sqlite3_stmt* st = nullptr;
        int n = -1;
        if (sqlite3_prepare_v2(db, "SELECT count(*) FROM files WHERE area = 2", -1, &st, nullptr) ==
                SQLITE_OK &&
            sqlite3_step(st) == SQLITE_ROW)
            n = sqlite3_column_int(st, 0);
        sqlite3_finalize(st);
        return n;
    }

    // Runs the helper on the sandbox; kills it `extraMs` after `killAtMoved`
    // records have moved (never when negative). Returns the milliseconds the
    // move ran; `finished` tells whether it ended by itself with "DONE".
    qint64 runChild(Sandbox& box, int killAtMoved, int extraMs, bool& finished, QString& error)
    {
        finished = false;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WCSRV_HOME"), box.home());
        env.insert(QStringLiteral("VT_PROGRAM_FOLDER"), box.prog());
        env.insert(QStringLiteral("TMPDIR"), box.root() + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), box.root() + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(m_child, {});
        if (!p.waitForStarted(10000)) {
            error = QStringLiteral("helper did not start");
            return 0;
        }
        QByteArray out;
        QElapsedTimer wait;
        wait.start();
        while (!out.contains("MOVING\n") && wait.elapsed() < 60000 &&
               p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            out += p.readAllStandardOutput();
        }
        if (!out.contains("MOVING\n")) {
            error = QStringLiteral("helper never began the move");
            p.kill();
            p.waitForFinished();
            return 0;
        }
        QElapsedTimer running;
        running.start();
        bool ended = false;
        if (killAtMoved < 0) {
            ended = p.waitForFinished(HangSeconds() * 1000);
            if (!ended)
                error = QStringLiteral("the move hung");
        } else {
            sqlite3* db = nullptr;
            const QByteArray path = QFile::encodeName(box.home() + QStringLiteral("/wcsrv.db"));
            sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READONLY, nullptr);
            sqlite3_busy_timeout(db, 1000);
            while (!(ended = p.waitForFinished(1)) && running.elapsed() < HangSeconds() * 1000 &&
                   MovedSoFar(db) < killAtMoved) {
            }
            sqlite3_close(db);
            if (!ended && extraMs > 0)
                ended = p.waitForFinished(extraMs);
        }
        if (!ended) {
            p.kill(); // SIGKILL
            p.waitForFinished();
        } else {
            out += p.readAllStandardOutput();
            finished = out.contains("DONE\n") && p.exitStatus() == QProcess::NormalExit &&
                       p.exitCode() == 0;
            if (!finished)
                error = QStringLiteral("helper ended badly (%1)").arg(p.exitCode());
        }
        return running.elapsed();
    }

private slots:
    void initTestCase()
    {
        m_child = QCoreApplication::applicationDirPath() + QStringLiteral("/hard_movemgr_child");
        QVERIFY(QFile::exists(m_child));
        m_template = std::make_unique<Sandbox>();
        QVERIFY(m_template->ok());
        m_layout = BuildBulkBbs(m_template->home(), 1, kRecords);
        QCOMPARE(m_layout.contents.size(), kRecords);
        QVERIFY(wcadmin::AddArea(QFile::encodeName(m_template->home()).toStdString(), 2, "Target")
                    .empty());
        m_expect.allowMove(m_layout.namesIn(1), 2);
    }

    void cleanupTestCase()
    {
        PrintFigures(QStringLiteral("Process death"), m_figures);
        qInfo("undone after the kills: %ld runs with %ld entries; %ld renames noted but not made",
              m_undoRuns, m_undoEntries, m_unfinished);
    }

    // An uninterrupted move moves all records and measures the time a kill
    // may land in.
    void fullRunMovesEverything()
    {
        // The move's copies, as between two file systems; on one it renames
        // (killedWhileRenaming).
        SplitDevices acrossFileSystems;
        Sandbox box(m_template->root());
        QVERIFY(box.ok());
        bool finished = false;
        QString error;
        m_fullMs = runChild(box, -1, 0, finished, error);
        QVERIFY2(finished, qPrintable(error));
        Expect expect = m_expect;
        expect.copiesMayStay = false;
        QStringList notes;
        const QStringList problems = CheckBbs(box, m_layout, expect, &notes);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(u'\n')));
        // Only the originals stay behind (a move copies).
        QCOMPARE(notes.size(), 1);
        QVERIFY2(notes.first().startsWith(
                     QStringLiteral("source files that stay after a move: %1").arg(kRecords)),
                 qPrintable(notes.first()));
        int inTarget = 0;
        for (const RecordRow& r : AllRecords(box.home()))
            inTarget += r.area == 2;
        QCOMPARE(inTarget, kRecords);
        qInfo("a full move of %d records took %lld ms", kRecords, m_fullMs);
    }

    void killedAtRandom()
    {
        QVERIFY(m_fullMs > 0);
        SplitDevices acrossFileSystems;
        const quint32 seed = qEnvironmentVariableIsSet("VT_HARD_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("VT_HARD_SEED"))
                                 : 20240611u;
        QRandomGenerator rng(seed);
        int killed = 0, completed = 0, partial = 0, whole = 0;
        QStringList failures;
        for (int run = 0; run < kKillRuns; ++run) {
            Sandbox box(m_template->root());
            QVERIFY(box.ok());
            const int at = 1 + int(rng.bounded(quint32(kRecords - 100)));
            const int extra = int(rng.bounded(30u));
            bool finished = false;
            QString error;
            box.enter();
            const BbsBytes state = TakeBbsBytes(box.home());
            runChild(box, at, extra, finished, error);
            if (finished)
                ++completed;
            else if (error.isEmpty())
                ++killed;
            QStringList notes;
            QStringList problems = CheckBbs(box, m_layout, m_expect, &notes);
            if (!error.isEmpty())
                problems.prepend(error);
            int moved = 0;
            for (const RecordRow& r : AllRecords(box.home()))
                moved += r.area == 2;
            if (finished || moved == 0 || moved == kRecords)
                problems.prepend(
                    QStringLiteral("the kill did not land mid-run (%1 of %2 moved%3)")
                        .arg(moved)
                        .arg(kRecords)
                        .arg(finished ? QStringLiteral(", the move had ended") : QString()));
            for (const QString& n : notes) {
                partial += n.startsWith(QLatin1String("partial copies"));
                whole += n.startsWith(QLatin1String("whole copies"));
            }
            problems << undoChecked(box, state);
            if (!problems.isEmpty())
                failures << QStringLiteral("run %1 killed %2 ms after %3 moved (%4 moved): %5")
                                .arg(run)
                                .arg(extra)
                                .arg(at)
                                .arg(moved)
                                .arg(problems.mid(0, 5).join(QStringLiteral("; ")));
            else
                qInfo("run %d: killed %d ms after %d had moved, %d records moved; %s", run, extra,
                      at, moved, qPrintable(notes.join(QStringLiteral("; "))));
        }
        m_figures << Figure{
            QStringLiteral("move manager killed (SIGKILL), %1 records").arg(kRecords), kKillRuns,
            long(failures.size()),
            QStringLiteral("seed %1: %2 killed mid-run, %3 ended first; left a partial copy "
                           "(allowed) in %4 runs, a whole copy without its record in %5")
                .arg(seed)
                .arg(killed)
                .arg(completed)
                .arg(partial)
                .arg(whole)};
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }

    // The same kills while the move renames (both folders on one file
    // system): every record exists once with its bytes, and its file lies
    // whole in its own folder, or, for the one record in flight when the
    // kill came, in the target folder it was renamed to.
    void killedWhileRenaming()
    {
        QRandomGenerator rng(20261209u);
        QStringList failures;
        int midRun = 0, ahead = 0;
        for (int run = 0; run < kRenameKillRuns; ++run) {
            Sandbox box(m_template->root());
            QVERIFY(box.ok());
            const int at = 1 + int(rng.bounded(quint32(kRecords - 100)));
            bool finished = false;
            QString error;
            box.enter();
            const BbsBytes state = TakeBbsBytes(box.home());
            runChild(box, at, 0, finished, error);
            Expect expect = m_expect;
            expect.renamedMayLeadRecord = true;
            QStringList notes;
            QStringList problems = CheckBbs(box, m_layout, expect, &notes);
            if (!error.isEmpty())
                problems.prepend(error);
            int moved = 0;
            for (const RecordRow& r : AllRecords(box.home()))
                moved += r.area == 2;
            midRun += !finished && moved > 0 && moved < kRecords;
            for (const QString& n : notes) {
                ahead += n.startsWith(QLatin1String("files renamed ahead"));
                if (n.startsWith(QLatin1String("source files that stay")))
                    problems << QStringLiteral("a rename left its source: ") + n;
            }
            problems << undoChecked(box, state);
            if (!problems.isEmpty())
                failures << QStringLiteral("run %1 killed after %2 moved: %3")
                                .arg(run)
                                .arg(at)
                                .arg(problems.mid(0, 5).join(QStringLiteral("; ")));
        }
        m_figures << Figure{
            QStringLiteral("move manager renaming, killed (SIGKILL), %1 records").arg(kRecords),
            kRenameKillRuns, long(failures.size()),
            QStringLiteral("%1 killed mid-run; a file renamed ahead of its record in %2 runs")
                .arg(midRun)
                .arg(ahead)};
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
        QVERIFY(midRun > 0);
    }
};

VT_TEST_MAIN(TestKill)
#include "test_kill.moc"
