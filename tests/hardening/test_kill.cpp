// Process death: the move manager moving 2,000 records with their files is
// killed (SIGKILL) at random moments. Afterwards the database is sound,
// every record exists exactly once and names a file that exists intact.
#include "HardeningSupport.h"

#include "platform/wcsrv/WcAdmin.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

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

    static constexpr int kRecords = 2000;
    static constexpr int kKillRuns = 20;

    // Runs the helper on the sandbox; kills it `killAfterMs` after the move
    // began (never when negative). Returns the milliseconds the move ran;
    // `finished` tells whether it ended by itself with "DONE".
    qint64 runChild(Sandbox& box, int killAfterMs, bool& finished, QString& error)
    {
        finished = false;
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WCSRV_HOME"), box.home());
        env.insert(QStringLiteral("VT_PROGRAM_FOLDER"), box.prog());
        env.insert(QStringLiteral("TMPDIR"), box.root() + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), box.root() + QStringLiteral("/tmp"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
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
        const int limit = killAfterMs < 0 ? HangSeconds() * 1000 : killAfterMs;
        if (!p.waitForFinished(limit)) {
            if (killAfterMs < 0)
                error = QStringLiteral("the move hung");
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
    }

    void cleanupTestCase() { PrintFigures(QStringLiteral("Process death"), m_figures); }

    // An uninterrupted move moves all records and measures the time a kill
    // may land in.
    void fullRunMovesEverything()
    {
        Sandbox box(m_template->root());
        QVERIFY(box.ok());
        bool finished = false;
        QString error;
        m_fullMs = runChild(box, -1, finished, error);
        QVERIFY2(finished, qPrintable(error));
        const QStringList problems = CheckBbs(box, m_layout, Expect{});
        QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(u'\n')));
        int inTarget = 0;
        for (const RecordRow& r : AllRecords(box.home()))
            inTarget += r.area == 2;
        QCOMPARE(inTarget, kRecords);
        qInfo("a full move of %d records took %lld ms", kRecords, m_fullMs);
    }

    void killedAtRandom()
    {
        QVERIFY(m_fullMs > 0);
        const quint32 seed = qEnvironmentVariableIsSet("VT_HARD_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("VT_HARD_SEED"))
                                 : 20240611u;
        QRandomGenerator rng(seed);
        int killed = 0, completed = 0;
        QStringList failures;
        for (int run = 0; run < kKillRuns; ++run) {
            Sandbox box(m_template->root());
            QVERIFY(box.ok());
            const int delay = int(rng.bounded(quint32(m_fullMs)));
            bool finished = false;
            QString error;
            runChild(box, delay, finished, error);
            if (finished)
                ++completed;
            else if (error.isEmpty())
                ++killed;
            QStringList problems = CheckBbs(box, m_layout, Expect{});
            if (!error.isEmpty())
                problems.prepend(error);
            int moved = 0;
            for (const RecordRow& r : AllRecords(box.home()))
                moved += r.area == 2;
            if (!problems.isEmpty())
                failures << QStringLiteral("run %1 killed after %2 ms (%3 moved): %4")
                                .arg(run)
                                .arg(delay)
                                .arg(moved)
                                .arg(problems.mid(0, 5).join(QStringLiteral("; ")));
            else
                qInfo("run %d: killed after %d ms, %d records moved", run, delay, moved);
        }
        m_figures << Figure{
            QStringLiteral("move manager killed (SIGKILL), %1 records").arg(kRecords), kKillRuns,
            long(failures.size()),
            QStringLiteral("seed %1: %2 killed during the move, %3 ended first")
                .arg(seed)
                .arg(killed)
                .arg(completed)};
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }
};

VT_TEST_MAIN(TestKill)
#include "test_kill.moc"
