// Process death during the file echo intake: `vtfilemgr-cli tic --yes` on
// 300 TICs (a third of them replacing an older record) is killed (SIGKILL)
// at random moments, several times over the same inbound, then run to its
// end. After each kill every file is in the inbound with its TIC, or in
// its area with its record (or, between the move and the record, in its
// area with its TIC still in the inbound); no record is without its file,
// no file is lost or changed, and an old record goes only once its
// replacement is stored. The last run finishes every intake: all records,
// no TIC left, nothing in bad. Once more with the copy between file
// systems instead of the rename. After each kill the killed run's journal
// holds exactly the changes made, and undoing it puts every record and
// every file of the areas back byte for byte; the next run starts over.
#include "HardeningSupport.h"

#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

#include <memory>

namespace
{

constexpr int kTics = 300;

QByteArray Content(int k)
{
    return QByteArray("file %1 of the echo ").replace("%1", QByteArray::number(k)).repeated(200);
}

QString FileName(int k)
{
    return QStringLiteral("F%1.ZIP").arg(k, 4, 10, QLatin1Char('0'));
}
QString OldName(int k)
{
    return QStringLiteral("OLD%1.ZIP").arg(k, 4, 10, QLatin1Char('0'));
}
QString TicName(int k)
{
    return QStringLiteral("T%1.TIC").arg(k, 4, 10, QLatin1Char('0'));
}
int AreaOf(int k)
{
    return 1 + k % 2;
}
bool Replaces(int k)
{
    return k % 3 == 0;
}

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

int TicsLeft(const QString& folder)
{
    return int(QDir(folder).entryList({QStringLiteral("*.TIC")}, QDir::Files).size());
}

} // namespace

class TestTicKill : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<QTemporaryDir> m_dir;
    int m_between = 0; // files found in their area with their TIC still waiting
    int m_undone = 0;  // journal entries undone after the kills

    // The inbound's files by name with their bytes.
    QMap<QString, QByteArray> inboundFiles() const
    {
        QMap<QString, QByteArray> out;
        const QDir in(inbound());
        for (const QString& name : in.entryList(QDir::Files))
            out.insert(name, ReadAll(in.filePath(name)));
        return out;
    }

    // After the checks of a kill: the killed run's journal holds exactly
    // what it changed, and undoing it puts back every record and every
    // file of the areas as they were before the run, and every file it
    // renamed out of the inbound. The TICs the intake removed and, when
    // it copied, the originals it removed lie outside the BBS and are no
    // part of the journal: they are put back from `inbound` so that the
    // next run starts where this one did.
    QStringList undoKill(const hard::BbsBytes& state, const QMap<QString, QByteArray>& inboundWas)
    {
        const hard::UndoResult undone = hard::UndoRestores(m_bbs->home(), state, true);
        QStringList problems = undone.problems;
        if (undone.runs != 1 || undone.entries == 0)
            problems << QStringLiteral("%1 runs with %2 entries to undo")
                            .arg(undone.runs)
                            .arg(undone.entries);
        m_undone += undone.entries;
        const QDir in(inbound());
        const QMap<QString, QByteArray> now = inboundFiles();
        for (auto it = inboundWas.cbegin(); it != inboundWas.cend(); ++it) {
            if (!now.contains(it.key()))
                Write(in.filePath(it.key()), it.value());
            else if (now.value(it.key()) != it.value())
                problems << it.key() + QStringLiteral(" changed in the inbound after undo");
        }
        for (auto it = now.cbegin(); it != now.cend(); ++it)
            if (!inboundWas.contains(it.key()))
                problems << it.key() + QStringLiteral(" left in the inbound after undo");
        return problems;
    }

    QString inbound() const { return m_dir->filePath(QStringLiteral("inbound")); }
    QString config() const { return m_dir->filePath(QStringLiteral("vuru.cfg")); }

    void prepare()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("One"));
        m_bbs->addArea(2, QStringLiteral("Two"));
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir().mkpath(inbound()));
        QVERIFY(Write(config(), "[TIC]\nInbound=" + QFile::encodeName(inbound()) +
                                    "\n[TicAreas]\nONE=1\nTWO=2\n"));
        for (int k = 0; k < kTics; ++k) {
            const QByteArray content = Content(k);
            const uLong crc =
                ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.constData()),
                        uInt(content.size()));
            QByteArray tic = "Area " + QByteArray(AreaOf(k) == 1 ? "ONE" : "TWO") + "\r\nFile " +
                             FileName(k).toLatin1() + "\r\nSize " +
                             QByteArray::number(content.size()) + "\r\nCrc " +
                             QByteArray::number(qulonglong(crc), 16) + "\r\nDesc File " +
                             QByteArray::number(k) + "\r\n";
            if (Replaces(k)) {
                tic += "Replaces " + OldName(k).toLatin1() + "\r\n";
                const QByteArray old = "old " + content.left(100);
                m_bbs->addFile(AreaOf(k), OldName(k), &old);
            }
            QVERIFY(Write(QDir(inbound()).filePath(FileName(k)), content));
            QVERIFY(Write(QDir(inbound()).filePath(TicName(k)), tic));
        }
    }

    QProcess* start()
    {
        auto* p = new QProcess(this);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->setStandardOutputFile(QProcess::nullDevice());
        p->start(qEnvironmentVariable("VT_BIN_DIR") + QStringLiteral("/vtfilemgr-cli"),
                 {"--home", m_bbs->home(), "--config", config(), "tic", "--yes"});
        return p;
    }

    // Every file in a place of its own; the problems found.
    QStringList check(bool finished)
    {
        ServerLogin login;
        QStringList problems;
        if (!login.ok())
            return {QStringLiteral("no login")};
        const QDir in(inbound());
        for (int k = 0; k < kTics; ++k) {
            const int area = AreaOf(k);
            const QDir folder(m_bbs->areaFolder(area));
            const bool tic = in.exists(TicName(k));
            const bool inInbound = in.exists(FileName(k));
            const bool inArea = folder.exists(FileName(k));
            const FullFileRec rec = ReadFullRecord(area, FileName(k));
            const bool record = rec.Rec.Name[0] != 0;
            const QString what = FileName(k) + u' ';
            if (inInbound && ReadAll(in.filePath(FileName(k))) != Content(k))
                problems << what + QStringLiteral("changed in the inbound");
            if (inArea && ReadAll(folder.filePath(FileName(k))) != Content(k))
                problems << what + QStringLiteral("changed in its area");
            if (record && !inArea)
                problems << what + QStringLiteral("has a record without its file");
            if (record && rec.Rec.Size != Content(k).size())
                problems << what + QStringLiteral("has a record of the wrong size");
            if (!tic && !record)
                problems << what + QStringLiteral("has neither its TIC nor its record");
            if (tic && !inInbound && !inArea)
                problems << what + QStringLiteral("is gone while its TIC waits");
            if (!tic && inInbound)
                problems << what + QStringLiteral("stayed in the inbound without its TIC");
            if (Replaces(k)) {
                const FullFileRec old = ReadFullRecord(area, OldName(k));
                const bool oldRecord = old.Rec.Name[0] != 0;
                // DeleteFileRec commits the deletion before it renames the
                // file into the trash: a kill never leaves the record
                // without its file.
                if (oldRecord && !folder.exists(OldName(k)))
                    problems << OldName(k) + QStringLiteral(" has a record without its file");
                if (finished && oldRecord)
                    problems << OldName(k) + QStringLiteral(" was not replaced");
            }
            if (tic && inArea && !record)
                ++m_between; // killed between the move (or copy) and the record
            if (finished && (tic || !record))
                problems << what + QStringLiteral("was not placed by the last run");
        }
        if (QDir(inbound() + QStringLiteral("/bad")).exists() &&
            !QDir(inbound() + QStringLiteral("/bad")).isEmpty(QDir::Files))
            problems << QStringLiteral("files went to bad");
        return problems;
    }

    void killAndFinish()
    {
        m_between = 0;
        m_undone = 0;
        prepare();
        if (QTest::currentTestFailed())
            return;
        const quint32 seed = qEnvironmentVariableIsSet("VT_HARD_SEED")
                                 ? quint32(qEnvironmentVariableIntValue("VT_HARD_SEED"))
                                 : 20250301u;
        QRandomGenerator rng(seed);
        int kills = 0;
        for (int round = 0; round < 6 && TicsLeft(inbound()) > 20; ++round) {
            const int left = TicsLeft(inbound());
            // Kill once this many more TICs are done, up to 40 ms later: TICs
            // go in bursts once the files placed together have their records,
            // so a later kill lands anywhere in the next batch.
            const int target = left - 1 - int(rng.bounded(quint32(qMin(left - 2, 40))));
            const int extraMs = int(rng.bounded(40u));
            const hard::BbsBytes state = hard::TakeBbsBytes(m_bbs->home());
            const QMap<QString, QByteArray> inboundWas = inboundFiles();
            QVERIFY2(state.error.isEmpty(), qPrintable(state.error));
            QProcess* p = start();
            QVERIFY(p->waitForStarted(10000));
            QElapsedTimer wait;
            wait.start();
            while (p->state() == QProcess::Running && TicsLeft(inbound()) > target &&
                   wait.elapsed() < 120000)
                QThread::usleep(300);
            if (extraMs > 0)
                QThread::msleep(extraMs);
            const bool running = p->state() == QProcess::Running;
            p->kill();
            p->waitForFinished();
            delete p;
            QVERIFY2(running, "the intake ended before the kill");
            ++kills;
            const int after = TicsLeft(inbound());
            QVERIFY2(after < left && after > 0,
                     qPrintable(QStringLiteral("kill did not land mid-run: %1 of %2 TICs left")
                                    .arg(after)
                                    .arg(left)));
            QStringList problems = check(false);
            problems << undoKill(state, inboundWas);
            QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(u'\n')));
        }
        QVERIFY(kills >= 3);
        // The run after the kills finishes every intake.
        QProcess* p = start();
        QVERIFY(p->waitForFinished(300000));
        QCOMPARE(p->exitCode(), 0);
        delete p;
        const QStringList problems = check(true);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(u'\n')));
        QVERIFY(QDir(inbound()).entryList(QDir::Files).isEmpty());
        qInfo("%d kills, seed %u; %d files found between their move and their record; %d journal "
              "entries undone after the kills",
              kills, seed, m_between, m_undone);
    }

private slots:
    void cleanup()
    {
        m_bbs.reset();
        m_dir.reset();
    }
    void killedRename() { killAndFinish(); }
    void killedCopy()
    {
        // Every move becomes a copy checked by its CRC, as between two disks.
        SplitDevices split;
        killAndFinish();
    }
};

VT_TEST_MAIN(TestTicKill)
#include "test_tic_kill.moc"
