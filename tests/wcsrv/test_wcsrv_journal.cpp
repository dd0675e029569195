// The run journal of the server library, through the contract: the entry of
// each kind of write byte for byte, undo of each of them (records and files
// back byte for byte), the conflicts undo leaves alone, undo of an undo, a
// dry run, faults that leave neither change nor entry, a store without the
// journal, a trash that cannot be written, the trash emptied by age, a
// renamed file put back and (on PostgreSQL) copy-store taking the journal
// along.
#include "WcTestUtil.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcFault.h"
#include "server/wcsrv.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QtTest>

#include <sys/stat.h>

#include <csignal>
#include <cstdio>

#include <cstring>
#include <memory>
#include <vector>

namespace
{

enum class Write { Add, Update, UpdateFull, Move, Delete, DeleteWithFile };

const QByteArray kAbcBytes = QByteArrayLiteral("the bytes of ABC.ZIP\x00\x01\x02 end");
const QByteArray kTwoBytes = QByteArrayLiteral("TWO.ZIP holds these bytes");

QByteArray RecBytes(const FullFileRec& r)
{
    return QByteArray(reinterpret_cast<const char*>(&r), sizeof r);
}

FullFileRec NewRecord()
{
    FullFileRec full{};
    full.Rec.Area = 1;
    std::strcpy(full.Rec.Name, "NEW.ZIP");
    std::strcpy(full.Rec.Description, "a record added in a run");
    full.Rec.Size = 1234;
    full.Rec.Downloads = 3;
    std::strcpy(full.LongDescription[0], "first line");
    std::strcpy(full.LongDescription[14], "last line");
    full.Reserved5[7] = 0x5A; // bytes no field names are kept too
    return full;
}

// Performs one write of the kind; false when the library refused it.
bool DoWrite(Write w)
{
    FileRec r{};
    uint32_t position = 0;
    if (w != Write::Add && !GetFileRecByAreaName(1, "ABC.ZIP", &r, &position))
        return false;
    switch (w) {
    case Write::Add: {
        const FullFileRec full = NewRecord();
        return AddFileRec(&full);
    }
    case Write::Update:
        r.Downloads = 77;
        std::strcpy(r.Description, "changed by UpdateFileRec");
        return UpdateFileRec(&r);
    case Write::UpdateFull: {
        FullFileRec full{};
        if (!GetFullFileRec(&r, &full))
            return false;
        std::strcpy(full.LongDescription[3], "a new fourth line");
        full.Rec.Cost = 5;
        return UpdateFullFileRec(&full);
    }
    case Write::Move:
        r.Area = 2;
        return UpdateFileRec(&r);
    case Write::Delete:
        return DeleteFileRec(&r, 0);
    case Write::DeleteWithFile:
        return DeleteFileRec(&r, 1);
    }
    return false;
}

std::vector<WcRunEntry> EntriesOf(uint32_t run)
{
    std::vector<WcRunEntry> out;
    WcListRunEntries(
        run,
        [](void* c, const WcRunEntry* e) {
            static_cast<std::vector<WcRunEntry>*>(c)->push_back(*e);
            return true;
        },
        &out);
    return out;
}

WcRunInfo RunInfo(uint32_t run)
{
    WcRunInfo info{};
    if (!WcGetRun(run, &info))
        qWarning("WcGetRun(%u) failed: %x", run, WcGetLastError());
    return info;
}

QList<uint32_t> RunIds()
{
    QList<uint32_t> ids;
    WcListRuns(
        0,
        [](void* c, const WcRunInfo* r) {
            static_cast<QList<uint32_t>*>(c)->append(r->Id);
            return true;
        },
        &ids);
    return ids;
}

struct Undone {
    int32_t kind = 0;
    int32_t outcome = 0;
    QString why;
};

// Undoes `run`; `log` gets each entry's outcome, last change first.
bool Undo(uint32_t run, uint32_t flags, QList<Undone>* log, WcUndoSummary* summary)
{
    QList<Undone> own;
    QList<Undone>* out = log ? log : &own;
    WcUndoSummary s{};
    const bool ok = WcUndoRun(
        run, flags,
        [](void* c, const WcRunEntry* e, int32_t outcome, const char* why) {
            static_cast<QList<Undone>*>(c)->append({e->Kind, outcome, QString::fromUtf8(why)});
            return true;
        },
        out, &s);
    if (summary)
        *summary = s;
    return ok;
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool JournalTablesThere(const TestBbs& bbs)
{
    if (TestsOnPostgres()) {
        const auto rows =
            PgQuery(bbs.database(), "SELECT (to_regclass('runs') IS NOT NULL)::int "
                                    "+ (to_regclass('run_entries') IS NOT NULL)::int");
        return !rows.isEmpty() && rows.front().value(0) == "2";
    }
    QString error;
    // Selecting from a missing table fails.
    return RunStoreSql(bbs, "SELECT count(*) FROM runs; SELECT count(*) FROM run_entries;", &error);
}

} // namespace

// The second process of killedRunUndone (this test program, started with
// VT_JOURNAL_KILL set): begins a run, deletes ABC.ZIP with its file,
// changes TWO.ZIP, prints the run's id and kills itself, so the run is never
// ended. With VT_JOURNAL_KILL=trash the deletion comes last and its file
// is put back where it was, as a kill after the deletion's commit and
// before the file's rename leaves it; with =move, last a rename of
// TWO.ZIP's file is noted and never made; with =overwrite, TWO.ZIP's file
// is being written over.
int KillMain()
{
    const QByteArray mode = qgetenv("VT_JOURNAL_KILL");
    if (mode == "overwrite") {
        // Killed while the new bytes of a file written over are half out.
        if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem())
            return 3;
        const uint32_t run = WcBeginRun("killed", 7);
        const WcHandle h = run ? WcCreateFile("wc:\\file\\area(1)\\TWO.ZIP", WC_GENERIC_WRITE,
                                              WC_SHARE_NONE, WC_CREATE_ALWAYS)
                               : 0;
        uint32_t done = 0;
        if (!h || !WcWriteFile(h, "half", 4, &done))
            return 4;
        std::printf("%u\n", run);
        std::fflush(stdout);
        ::raise(SIGKILL);
        return 9;
    }
    if (mode == "trash" || mode == "move") {
        if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem())
            return 3;
        const uint32_t run = WcBeginRun("killed", 7);
        FileRec r{};
        uint32_t position = 0;
        if (!run || !GetFileRecByAreaName(1, "TWO.ZIP", &r, &position))
            return 4;
        r.Downloads = 42;
        if (!UpdateFileRec(&r))
            return 5;
        const QByteArray home = qgetenv("WCSRV_HOME");
        if (mode == "move") {
            if (!WcTestNoteFileMoved(QByteArray(home + "/areas/1/TWO.ZIP").constData(),
                                     QByteArray(home + "/areas/2/TWO.ZIP").constData()))
                return 6;
        } else {
            if (!GetFileRecByAreaName(1, "ABC.ZIP", &r, &position) || !DeleteFileRec(&r, 1))
                return 7;
            const QByteArray trash = home + "/trash/run-" + QByteArray::number(run) + "/area-1/";
            if (::rename(QByteArray(trash + "ABC.ZIP").constData(),
                         QByteArray(home + "/areas/1/ABC.ZIP").constData()) != 0)
                return 8;
        }
        std::printf("%u\n", run);
        std::fflush(stdout);
        ::raise(SIGKILL);
        return 9;
    }
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem())
        return 3;
    const uint32_t run = WcBeginRun("killed", 7);
    FileRec r{};
    uint32_t position = 0;
    if (!run || !GetFileRecByAreaName(1, "ABC.ZIP", &r, &position) || !DeleteFileRec(&r, 1) ||
        !GetFileRecByAreaName(1, "TWO.ZIP", &r, &position))
        return 4;
    r.Downloads = 42;
    if (!UpdateFileRec(&r))
        return 5;
    std::printf("%u\n", run);
    std::fflush(stdout);
    ::raise(SIGKILL);
    return 6;
}

class TestWcsrvJournal : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

    QString Folder(int area) const { return m_bbs->areaFolder(area); }
    QMap<QString, QByteArray> State() const { return BbsState(*m_bbs, 2); }
    // Runs this program again with VT_JOURNAL_KILL=`mode` (KillMain), alone
    // on the BBS: the run it left open, 0 when it was not killed as planned.
    uint32_t KilledRun(const QString& mode)
    {
        m_login.reset();
        QProcess other;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VT_JOURNAL_KILL"), mode);
        other.setProcessEnvironment(env);
        other.start(QCoreApplication::applicationFilePath(), {});
        const bool killed =
            other.waitForFinished(60000) && other.exitStatus() == QProcess::CrashExit;
        m_login = std::make_unique<ServerLogin>();
        return killed ? other.readAllStandardOutput().trimmed().toUInt() : 0;
    }
    QString TrashOf(uint32_t run, int area) const
    {
        return m_bbs->home() + QStringLiteral("/trash/run-%1/area-%2").arg(run).arg(area);
    }
    void SetRunAge(uint32_t run, int days)
    {
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs,
                             QStringLiteral("UPDATE runs SET started = started - %1, ended = "
                                            "ended - %1 WHERE id = %2")
                                 .arg(qint64(days) * 86400)
                                 .arg(run)
                                 .toUtf8(),
                             &error),
                 qPrintable(error));
    }

private slots:
    void init()
    {
        WcFaultReset();
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Archive"));
        m_bbs->addFile(1, QStringLiteral("ABC.ZIP"), &kAbcBytes, [](FullFileRec& r) {
            std::strcpy(r.Rec.Description, "the first record");
            std::strcpy(r.LongDescription[1], "second line of ABC");
            r.Rec.HasLongDescription = 1;
        });
        m_bbs->addFile(1, QStringLiteral("TWO.ZIP"), &kTwoBytes);
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        WcFaultReset();
        m_login.reset();
        m_bbs.reset();
    }

    void entryOfEachWrite_data()
    {
        QTest::addColumn<int>("write");
        QTest::addColumn<QList<int>>("kinds");
        QTest::addColumn<QList<int>>("counts"); // added, changed, deleted, moved, trashed
        QTest::addColumn<int>("afterArea");     // 0: no record after
        QTest::newRow("add") << int(Write::Add) << QList<int>{WC_ENTRY_RECORD_ADDED}
                             << QList<int>{1, 0, 0, 0, 0} << 1;
        QTest::newRow("UpdateFileRec") << int(Write::Update) << QList<int>{WC_ENTRY_RECORD_CHANGED}
                                       << QList<int>{0, 1, 0, 0, 0} << 1;
        QTest::newRow("UpdateFullFileRec")
            << int(Write::UpdateFull) << QList<int>{WC_ENTRY_RECORD_CHANGED}
            << QList<int>{0, 1, 0, 0, 0} << 1;
        QTest::newRow("move") << int(Write::Move) << QList<int>{WC_ENTRY_RECORD_CHANGED}
                              << QList<int>{0, 0, 0, 1, 0} << 2;
        QTest::newRow("delete") << int(Write::Delete) << QList<int>{WC_ENTRY_RECORD_DELETED}
                                << QList<int>{0, 0, 1, 0, 0} << 0;
        QTest::newRow("delete with file")
            << int(Write::DeleteWithFile)
            << QList<int>{WC_ENTRY_RECORD_DELETED, WC_ENTRY_FILE_TRASHED}
            << QList<int>{0, 0, 1, 0, 1} << 0;
    }

    void entryOfEachWrite()
    {
        QFETCH(int, write);
        QFETCH(QList<int>, kinds);
        QFETCH(QList<int>, counts);
        QFETCH(int, afterArea);
        const Write w = Write(write);
        const FullFileRec before = ReadFullRecord(1, QStringLiteral("ABC.ZIP"));
        const QString name =
            w == Write::Add ? QStringLiteral("NEW.ZIP") : QStringLiteral("ABC.ZIP");

        const uint32_t run = WcBeginRun("test --write", 7);
        QVERIFY(run > 0);
        QCOMPARE(WcCurrentRun(), run);
        QVERIFY(DoWrite(w));
        // While the run is open its counts come from its entries.
        const WcRunInfo open = RunInfo(run);
        QCOMPARE(open.Open, 1u);
        QCOMPARE(open.Ended, int64_t(0));
        QCOMPARE(QList<int>({int(open.Added), int(open.Changed), int(open.Deleted), int(open.Moved),
                             int(open.FilesTrashed)}),
                 counts);
        QVERIFY(WcEndRun(run));
        QCOMPARE(WcCurrentRun(), 0u);

        const std::vector<WcRunEntry> entries = EntriesOf(run);
        QList<int> got;
        for (const WcRunEntry& e : entries)
            got << e.Kind;
        QCOMPARE(got, kinds);
        const WcRunEntry& e = entries.front();
        QCOMPARE(e.Run, run);
        QCOMPARE(e.Seq, 1u);
        QCOMPARE(QByteArray(e.Name), name.toLatin1());
        // Before: the record as it was, all 1,792 bytes; After: as the store
        // holds it now, all of them.
        QCOMPARE(e.HasBefore, w == Write::Add ? 0u : 1u);
        if (e.HasBefore)
            QCOMPARE(RecBytes(e.Before), RecBytes(before));
        QCOMPARE(e.HasAfter, afterArea ? 1u : 0u);
        if (afterArea) {
            const FullFileRec now = ReadFullRecord(afterArea, name);
            QCOMPARE(now.Rec.Area, afterArea);
            QCOMPARE(RecBytes(e.After), RecBytes(now));
            QCOMPARE(e.Area, afterArea);
        }
        if (w == Write::Add)
            QCOMPARE(RecBytes(e.After), RecBytes(NewRecord()));
        if (w == Write::DeleteWithFile) {
            const WcRunEntry& file = entries.back();
            QCOMPARE(file.Seq, 2u);
            QCOMPARE(QString::fromUtf8(file.Path), QDir(Folder(1)).filePath(name));
            const QString trash = TrashOf(run, 1) + QStringLiteral("/ABC.ZIP");
            QCOMPARE(QString::fromUtf8(file.Trash), trash);
            QVERIFY(!m_bbs->fileOnDisk(1, name));
            QCOMPARE(ReadFile(trash), kAbcBytes);
        }

        const WcRunInfo info = RunInfo(run);
        QCOMPARE(QList<int>({int(info.Added), int(info.Changed), int(info.Deleted), int(info.Moved),
                             int(info.FilesTrashed)}),
                 counts);
        QCOMPARE(info.FilesCreated, 0u);
        QCOMPARE(QByteArray(info.Command), QByteArray("test --write"));
        QCOMPARE(info.Open, 0u);
        QVERIFY(info.Started > 0 && info.Ended >= info.Started);
        QVERIFY(std::strlen(info.Machine) > 0);
        QCOMPARE(info.UndoneBy, 0u);
    }

    void undoPutsBackEveryByte_data() { entryOfEachWrite_data(); }

    void undoPutsBackEveryByte()
    {
        QFETCH(int, write);
        QFETCH(QList<int>, kinds);
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = WcBeginRun("test", 7);
        QVERIFY(run > 0);
        QVERIFY(DoWrite(Write(write)));
        QVERIFY(WcEndRun(run));
        const QMap<QString, QByteArray> after = State();
        QVERIFY(after != before);

        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, &log, &s));
        QCOMPARE(s.Done, uint32_t(kinds.size()));
        QCOMPARE(s.Conflicts + s.Failed, 0u);
        QVERIFY(s.Run > run);
        QCOMPARE(State(), before);
        // The last change first.
        QCOMPARE(log.size(), kinds.size());
        QCOMPARE(log.front().kind, kinds.back());

        // The undo is a run of its own, newest of all; the run notes it.
        QCOMPARE(RunIds().front(), s.Run);
        const WcRunInfo undo = RunInfo(s.Run);
        QCOMPARE(QByteArray(undo.Command), "undo " + QByteArray::number(run));
        QCOMPARE(undo.Undoes, run);
        QCOMPARE(undo.Open, 0u);
        QCOMPARE(RunInfo(run).UndoneBy, s.Run);
        QCOMPARE(EntriesOf(s.Run).size(), size_t(kinds.size()));

        // Once only.
        QVERIFY(!Undo(run, 0, nullptr, nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_NO_ACTION_TAKEN));
        QCOMPARE(State(), before);

        // And the undo undone gives the run's result back.
        QVERIFY(Undo(s.Run, 0, nullptr, nullptr));
        QCOMPARE(State(), after);
        QCOMPARE(RunInfo(run).UndoneBy, 0u); // its changes are back: undoable again
        QVERIFY(Undo(run, 0, nullptr, nullptr));
        QCOMPARE(State(), before);
    }

    void recordBytesOfAnyPattern_data()
    {
        // Records whose bytes the entries keep in short form: long runs of
        // zeros, none at all, single zeros between bytes, bytes at random.
        QTest::addColumn<int>("pattern");
        QTest::newRow("zeros") << 0;
        QTest::newRow("no zero") << 1;
        QTest::newRow("single zeros") << 2;
        QTest::newRow("random") << 3;
    }

    void recordBytesOfAnyPattern()
    {
        QFETCH(int, pattern);
        auto make = [pattern](unsigned seed) {
            FullFileRec rec;
            auto* p = reinterpret_cast<unsigned char*>(&rec);
            for (size_t i = 0; i < sizeof rec; ++i) {
                seed = seed * 1103515245u + 12345u;
                p[i] = pattern == 0   ? (i % 300 == 7 ? 0x41 : 0)
                       : pattern == 1 ? static_cast<unsigned char>(1 + (seed >> 16) % 255)
                       : pattern == 2 ? (i % 2 ? 0 : 0x42)
                                      : static_cast<unsigned char>(seed >> 16);
            }
            rec.Rec.Area = 1;
            std::memset(rec.Rec.Name, 0, sizeof rec.Rec.Name);
            std::strcpy(rec.Rec.Name, "PAT.ZIP");
            return rec;
        };
        const FullFileRec first = make(1), second = make(2);
        const uint32_t run = WcBeginRun("patterns", 7);
        QVERIFY(run > 0);
        QVERIFY(AddFileRec(&first));
        const FullFileRec stored = ReadFullRecord(1, QStringLiteral("PAT.ZIP"));
        QVERIFY(UpdateFullFileRec(&second));
        const FullFileRec changed = ReadFullRecord(1, QStringLiteral("PAT.ZIP"));
        QVERIFY(WcEndRun(run));
        const std::vector<WcRunEntry> entries = EntriesOf(run);
        QCOMPARE(entries.size(), size_t(2));
        QCOMPARE(RecBytes(entries[0].After), RecBytes(stored));
        QCOMPARE(RecBytes(entries[1].Before), RecBytes(stored));
        QCOMPARE(RecBytes(entries[1].After), RecBytes(changed));
        QCOMPARE(RecBytes(changed), RecBytes(second));
        QVERIFY(Undo(run, 0, nullptr, nullptr));
        QCOMPARE(ReadFullRecord(1, QStringLiteral("PAT.ZIP")).Rec.Area, 0); // none
    }

    void createdFileNotedAndTakenOut()
    {
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = WcBeginRun("add NEW.ZIP", 7);
        QVERIFY(run > 0);
        const WcHandle h = WcCreateFile("wc:\\file\\area(1)\\NEW.ZIP", WC_GENERIC_WRITE,
                                        WC_SHARE_NONE, WC_CREATE_ALWAYS);
        QVERIFY(h > 0);
        uint32_t done = 0;
        QVERIFY(WcWriteFile(h, "new bytes", 9, &done));
        QVERIFY(WcCloseHandle(h));
        // Written over where a file was: the old file goes into the trash
        // first and the new one is created in its place.
        const QByteArray oldTwo = ReadFile(QDir(Folder(1)).filePath(QStringLiteral("TWO.ZIP")));
        QVERIFY(!oldTwo.isEmpty());
        const WcHandle over = WcCreateFile("wc:\\file\\area(1)\\TWO.ZIP", WC_GENERIC_WRITE,
                                           WC_SHARE_NONE, WC_CREATE_ALWAYS);
        QVERIFY(over > 0);
        QVERIFY(WcWriteFile(over, "over", 4, &done));
        QVERIFY(WcCloseHandle(over));
        const FullFileRec rec = NewRecord();
        QVERIFY(AddFileRec(&rec));
        QVERIFY(WcEndRun(run));

        const std::vector<WcRunEntry> entries = EntriesOf(run);
        QCOMPARE(entries.size(), size_t(4));
        QCOMPARE(entries[0].Kind, int32_t(WC_ENTRY_FILE_CREATED));
        QCOMPARE(entries[0].Area, 1);
        QCOMPARE(QByteArray(entries[0].Name), QByteArray("NEW.ZIP"));
        QCOMPARE(QString::fromUtf8(entries[0].Path), QDir(Folder(1)).filePath("NEW.ZIP"));
        QCOMPARE(entries[1].Kind, int32_t(WC_ENTRY_FILE_TRASHED));
        QCOMPARE(ReadFile(QString::fromUtf8(entries[1].Trash)), oldTwo);
        QCOMPARE(entries[2].Kind, int32_t(WC_ENTRY_FILE_CREATED));
        QCOMPARE(QByteArray(entries[2].Name), QByteArray("TWO.ZIP"));
        QCOMPARE(entries[3].Kind, int32_t(WC_ENTRY_RECORD_ADDED));
        QCOMPARE(RunInfo(run).FilesCreated, 2u);
        QCOMPARE(RunInfo(run).FilesTrashed, 1u);
        QCOMPARE(RunInfo(run).Added, 1u);
        const QMap<QString, QByteArray> after = State();
        QCOMPARE(after.value(QStringLiteral("file 1 TWO.ZIP")), QByteArray("over"));

        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, nullptr, &s));
        QCOMPARE(s.Done, 4u);
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("NEW.ZIP")));
        QCOMPARE(State(), before);
        // The copied-in files went to the undo's trash, so the undo undone
        // brings them back.
        QCOMPARE(ReadFile(TrashOf(s.Run, 1) + QStringLiteral("/NEW.ZIP")), QByteArray("new bytes"));
        QVERIFY(Undo(s.Run, 0, nullptr, nullptr));
        QCOMPARE(State(), after);
    }

    // The move into the trash refused (its entry not stored, or the rename
    // refused after the entry was committed): the deletion or the
    // overwrite is taken back with its entry.
    void trashMoveRefused_data()
    {
        QTest::addColumn<bool>("overwrite");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<uint>("code");
        QTest::newRow("deletion, rename refused")
            << false << QStringLiteral("TrashRename") << uint(WC_ACCESS_DENIED);
        QTest::newRow("overwrite, rename refused")
            << true << QStringLiteral("TrashRename") << uint(WC_ACCESS_DENIED);
        QTest::newRow("overwrite, entry not stored")
            << true << QStringLiteral("JournalEntry") << uint(WC_NO_ACTION_TAKEN);
    }

    void trashMoveRefused()
    {
        QFETCH(bool, overwrite);
        QFETCH(QString, fault);
        QFETCH(uint, code);
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = WcBeginRun("refused", 7);
        QVERIFY(run > 0);
        WcFaultFailKind(fault.toLatin1().constData(), WC_NO_ACTION_TAKEN);
        if (overwrite) {
            QCOMPARE(WcCreateFile("wc:\\file\\area(1)\\TWO.ZIP", WC_GENERIC_WRITE, WC_SHARE_NONE,
                                  WC_CREATE_ALWAYS),
                     WcHandle(0));
        } else {
            FileRec r{};
            uint32_t position = 0;
            QVERIFY(GetFileRecByAreaName(1, "TWO.ZIP", &r, &position));
            QVERIFY(!DeleteFileRec(&r, 1));
        }
        QCOMPARE(WcGetLastError(), uint32_t(code)); // the fault happened
        WcFaultReset();
        QCOMPARE(State(), before);
        QVERIFY(EntriesOf(run).empty());
        QVERIFY(FilesBelow(m_bbs->home() + QStringLiteral("/trash")).isEmpty());
        QVERIFY(WcEndRun(run));
    }

    // An overwrite killed halfway through its new bytes is undone to the
    // old file.
    void overwriteKilled()
    {
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = KilledRun(QStringLiteral("overwrite"));
        QVERIFY(run > 0);
        // The new file stands where the old one was, which lies in the trash.
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("TWO.ZIP")));
        QVERIFY(State() != before);
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, nullptr, &s));
        QCOMPARE(s.Conflicts + s.Failed, 0u);
        QCOMPARE(State(), before);
    }

    void conflictsLeftAlone_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("conflictKind");
        QTest::addColumn<QString>("why");
        QTest::newRow("record changed since")
            << "change" << int(WC_ENTRY_RECORD_CHANGED) << "the record has changed since the run";
        QTest::newRow("record deleted since")
            << "delete" << int(WC_ENTRY_RECORD_CHANGED) << "the record is gone since the run";
        QTest::newRow("name taken since")
            << "readd" << int(WC_ENTRY_RECORD_DELETED) << "the name is taken since the run";
        QTest::newRow("trashed file gone")
            << "trash gone" << int(WC_ENTRY_FILE_TRASHED) << "the trashed file is gone";
        QTest::newRow("file name taken since")
            << "file back" << int(WC_ENTRY_FILE_TRASHED) << "the name is taken since the run";
    }

    void conflictsLeftAlone()
    {
        QFETCH(QString, change);
        QFETCH(int, conflictKind);
        QFETCH(QString, why);
        const QMap<QString, QByteArray> before = State();
        // The run changes ABC.ZIP or deletes TWO.ZIP with its file, and
        // adds NEW.ZIP: the record the conflict is not about.
        const bool deleting = conflictKind != WC_ENTRY_RECORD_CHANGED;
        const uint32_t run = WcBeginRun("test", 7);
        QVERIFY(run > 0);
        FileRec r{};
        uint32_t position = 0;
        QVERIFY(GetFileRecByAreaName(1, deleting ? "TWO.ZIP" : "ABC.ZIP", &r, &position));
        if (deleting) {
            QVERIFY(DeleteFileRec(&r, 1));
        } else {
            r.Downloads = 9;
            QVERIFY(UpdateFileRec(&r));
        }
        const FullFileRec added = NewRecord();
        QVERIFY(AddFileRec(&added));
        QVERIFY(WcEndRun(run));

        // What happens after the run, outside any run.
        const QString two = QDir(Folder(1)).filePath(QStringLiteral("TWO.ZIP"));
        if (change == "change") {
            r.Downloads = 10;
            QVERIFY(UpdateFileRec(&r));
        } else if (change == "delete") {
            QVERIFY(DeleteFileRec(&r, 0));
        } else if (change == "readd") {
            FullFileRec again{};
            again.Rec.Area = 1;
            std::strcpy(again.Rec.Name, "two.zip");
            QVERIFY(AddFileRec(&again));
        } else if (change == "trash gone") {
            QVERIFY(QFile::remove(TrashOf(run, 1) + QStringLiteral("/TWO.ZIP")));
        } else if (change == "file back") {
            QFile f(QDir(Folder(1)).filePath(QStringLiteral("two.zip")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write("another file");
        }
        const QMap<QString, QByteArray> changed = State();

        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, &log, &s));
        QCOMPARE(s.Conflicts, 1u);
        QCOMPARE(s.Failed, 0u);
        QCOMPARE(s.Done, uint32_t(log.size() - 1));
        bool seen = false;
        for (const Undone& u : log) {
            if (u.outcome == WC_UNDO_CONFLICT) {
                QCOMPARE(u.kind, conflictKind);
                QCOMPARE(u.why, why);
                seen = true;
            } else {
                QCOMPARE(u.outcome, int32_t(WC_UNDO_DONE));
                QVERIFY(u.why.isEmpty());
            }
        }
        QVERIFY(seen);
        // The rest was undone: NEW.ZIP is gone in every case.
        const QMap<QString, QByteArray> now = State();
        QVERIFY(!now.contains(QStringLiteral("rec 1 NEW.ZIP")));
        if (change == "change" || change == "delete") {
            QCOMPARE(now.value(QStringLiteral("rec 1 ABC.ZIP")),
                     changed.value(QStringLiteral("rec 1 ABC.ZIP")));
        } else if (change == "readd") {
            // The record of the same name stays; the trashed file came back.
            QCOMPARE(now.value(QStringLiteral("rec 1 two.zip")),
                     changed.value(QStringLiteral("rec 1 two.zip")));
            QCOMPARE(ReadFile(two), kTwoBytes);
        } else if (change == "trash gone") {
            QCOMPARE(now.value(QStringLiteral("rec 1 TWO.ZIP")),
                     before.value(QStringLiteral("rec 1 TWO.ZIP")));
            QVERIFY(!QFile::exists(two));
        } else {
            // The record is back; the file of that name stays as it is, and
            // the trashed one stays in the trash.
            QCOMPARE(now.value(QStringLiteral("rec 1 TWO.ZIP")),
                     before.value(QStringLiteral("rec 1 TWO.ZIP")));
            QCOMPARE(now.value(QStringLiteral("file 1 two.zip")), QByteArray("another file"));
            QCOMPARE(ReadFile(TrashOf(run, 1) + QStringLiteral("/TWO.ZIP")), kTwoBytes);
        }
        QCOMPARE(RunInfo(run).UndoneBy, s.Run);
    }

    // Moves and records made several at a time: every move made has its
    // entry and no other has one (a rename that fails mid-batch takes its
    // entry back and the later ones are still made), records go in all or
    // none, and undo puts all of it back.
    void batchOfMovesAndRecords()
    {
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = WcBeginRun("tic --yes", 7);
        QVERIFY(run > 0);
        const char* from[] = {"wc:\\file\\area(1)\\ABC.ZIP", "wc:\\file\\area(1)\\ABC.ZIP",
                              "wc:\\file\\area(1)\\TWO.ZIP", "wc:\\file\\area(1)\\TWO.ZIP"};
        const char* to[] = {"wc:\\file\\area(2)\\ABC.ZIP", "wc:\\file\\area(2)\\OTHER.ZIP",
                            "wc:\\file\\area(2)\\abc.zip", "wc:\\file\\area(2)\\TWO.ZIP"};
        uint32_t results[4] = {9, 9, 9, 9};
        QVERIFY(WcMoveFiles(4, from, to, results));
        // The second finds its file gone by the first; the third's target
        // is the first's in another letter case.
        QCOMPARE(QList<uint32_t>(results, results + 4),
                 (QList<uint32_t>{0, WC_ITEM_NOT_FOUND, WC_ITEM_ALREADY_EXISTS, 0}));
        QCOMPARE(ReadFile(m_bbs->areaFolder(2) + QStringLiteral("/ABC.ZIP")), kAbcBytes);
        QCOMPARE(ReadFile(m_bbs->areaFolder(2) + QStringLiteral("/TWO.ZIP")), kTwoBytes);
        QStringList moved;
        for (const WcRunEntry& e : EntriesOf(run))
            moved << QString::number(e.Kind) + u' ' + QString::fromLatin1(e.Name);
        const QString kind = QString::number(WC_ENTRY_FILE_MOVED) + u' ';
        QCOMPARE(moved, (QStringList{kind + "ABC.ZIP", kind + "TWO.ZIP"}));

        FullFileRec recs[2] = {NewRecord(), NewRecord()};
        const QMap<QString, QByteArray> movedState = State();
        QVERIFY(!AddFileRecs(2, recs)); // the same name twice: neither
        QCOMPARE(State(), movedState);
        QCOMPARE(EntriesOf(run).size(), size_t(2));
        std::strcpy(recs[1].Rec.Name, "NEW2.ZIP");
        QVERIFY(AddFileRecs(2, recs));
        FileRec r{};
        uint32_t at = 0;
        QVERIFY(GetFileRecByAreaName(1, "NEW.ZIP", &r, &at));
        QVERIFY(GetFileRecByAreaName(1, "NEW2.ZIP", &r, &at));
        QCOMPARE(EntriesOf(run).size(), size_t(4));
        QVERIFY(WcEndRun(run));

        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, nullptr, &s));
        QCOMPARE(s.Done, 4u);
        QCOMPARE(s.Failed + s.Conflicts, 0u);
        QCOMPARE(State(), before);
    }

    // A moved record changed since the run stays where it is, and so does
    // its file: undo never parts a record from its file.
    void movedRecordKeepsItsFile()
    {
        const uint32_t run = WcBeginRun("move TWO.ZIP", 7);
        QVERIFY(run > 0);
        QVERIFY(WcMoveFile("wc:\\file\\area(1)\\TWO.ZIP", "wc:\\file\\area(2)\\TWO.ZIP"));
        FileRec r{};
        uint32_t position = 0;
        QVERIFY(GetFileRecByAreaName(1, "TWO.ZIP", &r, &position));
        r.Area = 2;
        QVERIFY(UpdateFileRec(&r));
        const FullFileRec added = NewRecord();
        QVERIFY(AddFileRec(&added));
        QVERIFY(WcEndRun(run));
        QCOMPARE(EntriesOf(run).front().Kind, int32_t(WC_ENTRY_FILE_MOVED));
        r.Downloads = 77;
        QVERIFY(UpdateFileRec(&r)); // outside the run
        const QMap<QString, QByteArray> changed = State();

        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, &log, &s));
        QCOMPARE(s.Conflicts, 2u);
        QCOMPARE(s.Done, 1u);
        QCOMPARE(log.size(), 3);
        QCOMPARE(log[1].why, QStringLiteral("the record has changed since the run"));
        QCOMPARE(log[2].kind, int32_t(WC_ENTRY_FILE_MOVED));
        QCOMPARE(log[2].why, QStringLiteral("its record is left as it is"));
        QMap<QString, QByteArray> expected = changed;
        expected.remove(QStringLiteral("rec 1 NEW.ZIP"));
        QCOMPARE(State(), expected);
    }

    // Records of an area removed since the run stay deleted, each a
    // conflict of its own; the rest of the run is undone.
    void areaGoneSinceTheRun()
    {
        const uint32_t run = WcBeginRun("delete area 1", 7);
        QVERIFY(run > 0);
        for (const char* name : {"ABC.ZIP", "TWO.ZIP"}) {
            FileRec r{};
            uint32_t position = 0;
            QVERIFY(GetFileRecByAreaName(1, name, &r, &position));
            QVERIFY(DeleteFileRec(&r, 0));
        }
        FullFileRec added = NewRecord();
        added.Rec.Area = 2;
        QVERIFY(AddFileRec(&added));
        QVERIFY(WcEndRun(run));
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, "DELETE FROM areas WHERE number = 1", &error),
                 qPrintable(error));

        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, &log, &s));
        QCOMPARE(s.Done, 1u);
        QCOMPARE(s.Conflicts, 2u);
        for (const Undone& u : std::as_const(log))
            if (u.outcome == WC_UNDO_CONFLICT)
                QCOMPARE(u.why, QStringLiteral("the area is gone since the run"));
        QVERIFY(!State().contains(QStringLiteral("rec 2 NEW.ZIP")));
    }

    void dryRunChangesNothing()
    {
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = WcBeginRun("test", 7);
        QVERIFY(run > 0);
        // One record changed twice: the second undo step must see the
        // first one's result, not the store.
        FileRec r{};
        uint32_t position = 0;
        QVERIFY(GetFileRecByAreaName(1, "ABC.ZIP", &r, &position));
        r.Downloads = 1;
        QVERIFY(UpdateFileRec(&r));
        r.Downloads = 2;
        QVERIFY(UpdateFileRec(&r));
        QVERIFY(GetFileRecByAreaName(1, "TWO.ZIP", &r, &position));
        QVERIFY(DeleteFileRec(&r, 1));
        QVERIFY(WcEndRun(run));
        const QMap<QString, QByteArray> after = State();
        const QList<uint32_t> runs = RunIds();

        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(run, WC_UNDO_DRY_RUN, &log, &s));
        QCOMPARE(s.Run, 0u);
        QCOMPARE(s.Done, 4u);
        QCOMPARE(s.Conflicts, 0u);
        QCOMPARE(log.size(), 4);
        QCOMPARE(State(), after);
        QCOMPARE(RunIds(), runs);
        QCOMPARE(RunInfo(run).UndoneBy, 0u);

        // A conflict shows in the preview as in the undo: the record
        // changed since is left as it is, so its earlier change cannot be
        // undone either.
        QVERIFY(GetFileRecByAreaName(1, "ABC.ZIP", &r, &position));
        r.Downloads = 3;
        QVERIFY(UpdateFileRec(&r));
        log.clear();
        QVERIFY(Undo(run, WC_UNDO_DRY_RUN, &log, &s));
        QCOMPARE(s.Conflicts, 2u);
        QCOMPARE(s.Done, 2u);
        QCOMPARE(log.at(2).outcome, int32_t(WC_UNDO_CONFLICT));
        QCOMPARE(log.at(3).outcome, int32_t(WC_UNDO_CONFLICT));
        r.Downloads = 2;
        QVERIFY(UpdateFileRec(&r));

        QVERIFY(Undo(run, 0, nullptr, &s));
        QCOMPARE(s.Done, 4u);
        QCOMPARE(State(), before);
    }

    void refusedCalls()
    {
        // No journal yet: no run is known.
        WcRunInfo info{};
        QVERIFY(!WcGetRun(1, &info));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
        QVERIFY(!Undo(1, 0, nullptr, nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
        QVERIFY(!WcEndRun(1));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));

        const uint32_t run = WcBeginRun("first", 7);
        QVERIFY(run > 0);
        QCOMPARE(WcBeginRun("second", 7), 0u);
        QCOMPARE(WcGetLastError(), uint32_t(WC_ALREADY_LOGGED_IN));
        QVERIFY(!WcEndRun(run + 1));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
        QVERIFY(DoWrite(Write::Update));
        // Nothing is undone while a run is open.
        QVERIFY(!Undo(run, 0, nullptr, nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_ALREADY_LOGGED_IN));
        QVERIFY(WcEndRun(run));
        QVERIFY(!WcEndRun(run));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
        QVERIFY(!Undo(run + 5, 0, nullptr, nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
        QVERIFY(!WcListRunEntries(run + 5, nullptr, nullptr));
        QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));

        // A run left open by a process that ended (logged out here) is ended.
        const uint32_t left = WcBeginRun("left open", 7);
        QVERIFY(left > 0);
        m_login.reset();
        m_login = std::make_unique<ServerLogin>();
        QCOMPARE(WcCurrentRun(), 0u);
        QCOMPARE(RunInfo(left).Open, 0u);

        // Newest first, as many as asked.
        QList<uint32_t> two;
        QVERIFY(WcListRuns(
            1,
            [](void* c, const WcRunInfo* r) {
                static_cast<QList<uint32_t>*>(c)->append(r->Id);
                return true;
            },
            &two));
        QCOMPARE(two, QList<uint32_t>{left});
        QCOMPARE(RunIds(), (QList<uint32_t>{left, run}));
    }

    void faultLeavesNeitherChangeNorEntry_data()
    {
        QTest::addColumn<int>("write");
        QTest::addColumn<QString>("fault");
        const QList<std::pair<const char*, Write>> writes = {
            {"add", Write::Add},
            {"update", Write::Update},
            {"update full", Write::UpdateFull},
            {"move", Write::Move},
            {"delete", Write::Delete},
            {"delete with file", Write::DeleteWithFile}};
        for (const auto& [name, w] : writes)
            for (const char* fault : {"Commit", "JournalEntry"})
                QTest::addRow("%s, %s fails", name, fault) << int(w) << QString::fromLatin1(fault);
    }

    void faultLeavesNeitherChangeNorEntry()
    {
        QFETCH(int, write);
        QFETCH(QString, fault);
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = WcBeginRun("test", 7);
        QVERIFY(run > 0);
        WcFaultFailKind(fault.toLatin1().constData(), WC_NO_ACTION_TAKEN);
        QVERIFY(!DoWrite(Write(write))); // the fault happened
        QCOMPARE(WcGetLastError(), uint32_t(WC_NO_ACTION_TAKEN));
        WcFaultReset();
        QCOMPARE(State(), before);
        QVERIFY(EntriesOf(run).empty());
        const WcRunInfo info = RunInfo(run);
        QCOMPARE(info.Added + info.Changed + info.Deleted + info.Moved + info.FilesTrashed, 0u);
        QVERIFY(FilesBelow(m_bbs->home() + QStringLiteral("/trash")).isEmpty());

        // The write done again is the run's first entry.
        QVERIFY(DoWrite(Write(write)));
        QVERIFY(WcEndRun(run));
        const std::vector<WcRunEntry> entries = EntriesOf(run);
        QVERIFY(!entries.empty());
        QCOMPARE(entries.front().Seq, 1u);
        QVERIFY(Undo(run, 0, nullptr, nullptr));
        QCOMPARE(State(), before);
    }

    void createdFileWithoutEntryIsRemoved()
    {
        const uint32_t run = WcBeginRun("test", 7);
        QVERIFY(run > 0);
        WcFaultFailKind("JournalEntry", WC_NO_ACTION_TAKEN);
        QCOMPARE(WcCreateFile("wc:\\file\\area(1)\\NEW.ZIP", WC_GENERIC_WRITE, WC_SHARE_NONE,
                              WC_CREATE_ALWAYS),
                 WcHandle(0));
        QCOMPARE(WcGetLastError(), uint32_t(WC_NO_ACTION_TAKEN));
        WcFaultReset();
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("NEW.ZIP")));
        QVERIFY(EntriesOf(run).empty());
        QVERIFY(WcEndRun(run));
    }

    void storeWithoutJournal()
    {
        QVERIFY(!JournalTablesThere(*m_bbs));
        QVERIFY(RunIds().isEmpty());
        QVERIFY(WcListRuns(0, nullptr, nullptr));
        QVERIFY(WcListTrash(nullptr, nullptr));
        // Writes without a run leave the store as it was made.
        QVERIFY(DoWrite(Write::Update));
        QVERIFY(DoWrite(Write::DeleteWithFile));
        QVERIFY(!JournalTablesThere(*m_bbs));
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("ABC.ZIP")));
        QVERIFY(!QFile::exists(m_bbs->home() + QStringLiteral("/trash")));
        // The first run makes the journal.
        const uint32_t run = WcBeginRun("first", 7);
        QCOMPARE(run, 1u);
        QVERIFY(JournalTablesThere(*m_bbs));
        QVERIFY(WcEndRun(run));
        QCOMPARE(RunIds(), QList<uint32_t>{1});
    }

    void trashNotWritableRefused()
    {
        // A file where the trash folder would be: it cannot be made.
        const QString trash = m_bbs->home() + QStringLiteral("/trash");
        {
            QFile blocker(trash);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
        }
        const QMap<QString, QByteArray> before = State();
        QCOMPARE(WcBeginRun("delete", 7), 0u);
        QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
        QCOMPARE(WcCurrentRun(), 0u);
        char folder[1024] = {};
        QVERIFY(WcGetRefusedTrash(folder, sizeof folder));
        QCOMPARE(QString::fromUtf8(folder), trash);
        // Refused before anything changed: not even the journal was made.
        QVERIFY(!JournalTablesThere(*m_bbs));
        QCOMPARE(State(), before);
        QVERIFY(DoWrite(Write::Update)); // no run: written as always

        // A run that keeps no trash needs none.
        const uint32_t run = WcBeginRun("delete", 0);
        QVERIFY(run > 0);
        QVERIFY(!WcGetRefusedTrash(folder, sizeof folder));
        QCOMPARE(WcGetLastError(), uint32_t(WC_ITEM_NOT_FOUND));
        QVERIFY(DoWrite(Write::DeleteWithFile));
        QVERIFY(WcEndRun(run));
        // Unlinked at once: no entry of a trashed file.
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("ABC.ZIP")));
        QCOMPARE(EntriesOf(run).size(), size_t(1));
        QCOMPARE(RunInfo(run).FilesTrashed, 0u);
    }

    void trashBesideAnAreaOnAnotherFileSystem()
    {
        // An area folder on another file system than the BBS home keeps its
        // trash inside itself, so a file goes there by a rename.
        struct stat home {
        }, shm{};
        if (::stat(QFile::encodeName(m_bbs->home()).constData(), &home) != 0 ||
            ::stat("/dev/shm", &shm) != 0 || home.st_dev == shm.st_dev)
            QSKIP("no second file system at /dev/shm");
        QTemporaryDir other(QStringLiteral("/dev/shm/vt-journal-XXXXXX"));
        QVERIFY(other.isValid());
        m_login.reset();
        QCOMPARE(QString::fromStdString(wcadmin::AddArea(m_bbs->homeStd(), 3, "Elsewhere",
                                                         other.path().toStdString())),
                 QString());
        m_bbs->addFile(3, QStringLiteral("FAR.ZIP"), &kTwoBytes);
        m_login = std::make_unique<ServerLogin>();
        const uint32_t run = WcBeginRun("delete", 7);
        QVERIFY(run > 0);
        FileRec r{};
        uint32_t position = 0;
        QVERIFY(GetFileRecByAreaName(3, "FAR.ZIP", &r, &position));
        QVERIFY(DeleteFileRec(&r, 1));
        QVERIFY(WcEndRun(run));
        const QString trashed = other.path() + QStringLiteral("/.trash/run-%1/FAR.ZIP").arg(run);
        QCOMPARE(ReadFile(trashed), kTwoBytes);
        QCOMPARE(QString::fromUtf8(EntriesOf(run).back().Trash), trashed);
        QVERIFY(Undo(run, 0, nullptr, nullptr));
        QCOMPARE(ReadFile(other.path() + QStringLiteral("/FAR.ZIP")), kTwoBytes);
    }

    void trashEmptiedByAge()
    {
        auto deleteWithFile = [](const char* name) {
            FileRec r{};
            uint32_t position = 0;
            return GetFileRecByAreaName(1, name, &r, &position) && DeleteFileRec(&r, 1);
        };
        const uint32_t old = WcBeginRun("old", 7);
        QVERIFY(deleteWithFile("ABC.ZIP"));
        QVERIFY(WcEndRun(old));
        const uint32_t recent = WcBeginRun("recent", 7);
        QVERIFY(deleteWithFile("TWO.ZIP"));
        QVERIFY(WcEndRun(recent));

        QList<WcTrashItem> items;
        QVERIFY(WcListTrash(
            [](void* c, const WcTrashItem* item) {
                static_cast<QList<WcTrashItem>*>(c)->append(*item);
                return true;
            },
            &items));
        QCOMPARE(items.size(), 2);
        QCOMPARE(items[0].Run, old);
        QCOMPARE(items[0].Area, 1);
        QCOMPARE(items[0].Files, 1u);
        QCOMPARE(items[0].Bytes, uint64_t(kAbcBytes.size()));
        QCOMPARE(QString::fromUtf8(items[0].Folder), TrashOf(old, 1));
        QCOMPARE(items[1].Run, recent);
        QCOMPARE(items[1].Bytes, uint64_t(kTwoBytes.size()));

        // Eight days old: the next run that keeps a week empties it.
        SetRunAge(old, 8);
        const uint32_t next = WcBeginRun("next", 7);
        QVERIFY(next > 0);
        QVERIFY(WcEndRun(next));
        QVERIFY(!QFile::exists(TrashOf(old, 1)));
        QVERIFY(!QFile::exists(m_bbs->home() + QStringLiteral("/trash/run-%1").arg(old)));
        QCOMPARE(ReadFile(TrashOf(recent, 1) + QStringLiteral("/TWO.ZIP")), kTwoBytes);

        // Its entries stay; the file counts as gone.
        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(old, 0, &log, &s));
        QCOMPARE(s.Conflicts, 1u);
        QCOMPARE(log.front().why, QStringLiteral("the trashed file is gone"));
        QCOMPARE(s.Done, 1u);
        QVERIFY(RecordNamesOf(1).contains(QStringLiteral("ABC.ZIP")));

        // Emptying by hand: younger than a day stays, all of it goes.
        uint32_t removed = 99;
        QVERIFY(WcEmptyTrash(1, &removed));
        QCOMPARE(removed, 0u);
        QVERIFY(WcEmptyTrash(0, &removed));
        QCOMPARE(removed, 1u);
        items.clear();
        QVERIFY(WcListTrash(
            [](void* c, const WcTrashItem* item) {
                static_cast<QList<WcTrashItem>*>(c)->append(*item);
                return true;
            },
            &items));
        QVERIFY(items.isEmpty());
    }

    void renamedFileGoesBack()
    {
        const QString from = QDir(Folder(1)).filePath(QStringLiteral("ABC.ZIP"));
        const QString to = QDir(Folder(2)).filePath(QStringLiteral("ABC.ZIP"));
        auto move = [](const QString& a, const QString& b) {
            return ::rename(QFile::encodeName(a).constData(), QFile::encodeName(b).constData()) ==
                       0 &&
                   WcTestNoteFileMoved(QFile::encodeName(a).constData(),
                                       QFile::encodeName(b).constData());
        };
        // Without a run nothing is noted.
        QVERIFY(move(from, to));
        QVERIFY(move(to, from));

        const uint32_t run = WcBeginRun("move", 7);
        QVERIFY(run > 0);
        QVERIFY(move(from, to));
        QVERIFY(WcEndRun(run));
        const std::vector<WcRunEntry> entries = EntriesOf(run);
        QCOMPARE(entries.size(), size_t(1));
        QCOMPARE(entries[0].Kind, int32_t(WC_ENTRY_FILE_MOVED));
        QCOMPARE(entries[0].Area, 1);
        QCOMPARE(QString::fromUtf8(entries[0].Path), from);
        QCOMPARE(QString::fromUtf8(entries[0].Trash), to);
        const QMap<QString, QByteArray> moved = State();

        // A file of that name there since: left alone.
        {
            QFile f(from);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(run, WC_UNDO_DRY_RUN, &log, &s));
        QCOMPARE(s.Conflicts, 1u);
        QCOMPARE(log.front().why, QStringLiteral("the name is taken since the run"));
        QVERIFY(QFile::remove(from));

        QVERIFY(Undo(run, 0, nullptr, &s));
        QCOMPARE(s.Done, 1u);
        QCOMPARE(ReadFile(from), kAbcBytes);
        QVERIFY(!QFile::exists(to));
        // The undo's own entry moves it again when the undo is undone.
        QVERIFY(Undo(s.Run, 0, nullptr, nullptr));
        QCOMPARE(State(), moved);

        // An entry that cannot be stored: the caller renames back.
        const uint32_t failing = WcBeginRun("move", 7);
        WcFaultFailKind("JournalEntry", WC_NO_ACTION_TAKEN);
        QVERIFY(!WcTestNoteFileMoved("/a", "/b"));
        WcFaultReset();
        QVERIFY(EntriesOf(failing).empty());
        QVERIFY(WcEndRun(failing));
    }

    void killedRunUndone()
    {
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = KilledRun(QStringLiteral("1"));
        QVERIFY(run > 0);

        // Never ended: open, its counts taken from its entries.
        const WcRunInfo info = RunInfo(run);
        QCOMPARE(info.Open, 1u);
        QCOMPARE(info.Deleted, 1u);
        QCOMPARE(info.Changed, 1u);
        QCOMPARE(info.FilesTrashed, 1u);
        QVERIFY(State() != before);
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, nullptr, &s));
        QCOMPARE(s.Done, 3u);
        QCOMPARE(State(), before);
    }

    // A deletion's trash move and a rename are committed with their entry
    // before the file moves: a run killed in between ends on an entry
    // whose file never left. Undo passes over it and puts back the rest.
    void killedBeforeTheFileMoved_data()
    {
        QTest::addColumn<QString>("mode");
        QTest::newRow("deletion into the trash") << QStringLiteral("trash");
        QTest::newRow("rename") << QStringLiteral("move");
    }

    void killedBeforeTheFileMoved()
    {
        QFETCH(QString, mode);
        QVERIFY2(m_bbs->areaFolder(1) == m_bbs->home() + QStringLiteral("/areas/1"),
                 qPrintable(m_bbs->areaFolder(1)));
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = KilledRun(mode);
        QVERIFY(run > 0);
        const std::vector<WcRunEntry> entries = EntriesOf(run);
        QVERIFY(!entries.empty());
        const WcRunEntry& last = entries.back();
        QCOMPARE(last.Kind, int32_t(mode == QLatin1String("trash") ? WC_ENTRY_FILE_TRASHED
                                                                   : WC_ENTRY_FILE_MOVED));
        // The file is still where it was; the entry names where it was going.
        QVERIFY(QFile::exists(QFile::decodeName(last.Path)));
        QVERIFY(!QFile::exists(QFile::decodeName(last.Trash)));
        QList<Undone> log;
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, &log, &s));
        QCOMPARE(s.Conflicts + s.Failed, 0u);
        QCOMPARE(s.Done, uint32_t(entries.size()));
        QCOMPARE(State(), before);
    }

    void largeRunUndoneInBatches()
    {
        // More entries than one transaction of the undo takes, with a
        // conflict in the middle: the rest around it is undone.
        const QMap<QString, QByteArray> before = State();
        const uint32_t run = WcBeginRun("many", 7);
        QVERIFY(run > 0);
        for (int i = 0; i < 600; ++i) {
            FullFileRec rec = NewRecord();
            std::snprintf(rec.Rec.Name, sizeof rec.Rec.Name, "F%04d.ZIP", i);
            QVERIFY(AddFileRec(&rec));
        }
        QVERIFY(WcEndRun(run));
        QCOMPARE(RunInfo(run).Added, 600u);
        FileRec r{};
        uint32_t position = 0;
        QVERIFY(GetFileRecByAreaName(1, "F0300.ZIP", &r, &position));
        r.Downloads = 1000;
        QVERIFY(UpdateFileRec(&r));
        WcUndoSummary s{};
        QVERIFY(Undo(run, 0, nullptr, &s));
        QCOMPARE(s.Done, 599u);
        QCOMPARE(s.Conflicts, 1u);
        QCOMPARE(RecordNamesOf(1),
                 (QStringList{QStringLiteral("ABC.ZIP"), QStringLiteral("F0300.ZIP"),
                              QStringLiteral("TWO.ZIP")}));
        QCOMPARE(RunInfo(s.Run).Deleted, 599u);
        Q_UNUSED(before);
    }
};

// copy-store needs a PostgreSQL store on one side: run only there.
class TestWcsrvJournalCopy : public QObject
{
    Q_OBJECT

private slots:
    void copyStoreTakesTheJournalAlong()
    {
        TestBbs bbs;
        QVERIFY(bbs.ok());
        bbs.addArea(1, QStringLiteral("Uploads"));
        bbs.addFile(1, QStringLiteral("ABC.ZIP"));
        uint32_t run = 0;
        std::vector<WcRunEntry> entries;
        {
            ServerLogin login;
            QVERIFY(login.ok());
            run = WcBeginRun("before the copy", 7);
            QVERIFY(run > 0);
            QVERIFY(DoWrite(Write::Update));
            QVERIFY(DoWrite(Write::Add));
            QVERIFY(WcEndRun(run));
            entries = EntriesOf(run);
        }
        auto same = [&]() {
            ServerLogin login;
            QVERIFY(login.ok());
            QCOMPARE(RunIds(), QList<uint32_t>{run});
            const WcRunInfo info = RunInfo(run);
            QCOMPARE(QByteArray(info.Command), QByteArray("before the copy"));
            QCOMPARE(info.Changed, 1u);
            QCOMPARE(info.Added, 1u);
            const std::vector<WcRunEntry> copied = EntriesOf(run);
            QCOMPARE(copied.size(), entries.size());
            for (size_t i = 0; i < copied.size(); ++i)
                QVERIFY(std::memcmp(&copied[i], &entries[i], sizeof copied[i]) == 0);
        };
        const QByteArray pg = qgetenv("WCSRV_DATABASE");
        QTemporaryDir sqliteHome;
        QVERIFY(sqliteHome.isValid());
        const std::string home = sqliteHome.path().toStdString();
        QCOMPARE(QString::fromStdString(wcadmin::CopyStore(home, pg.toStdString(), "")), QString());
        const QByteArray oldHome = qgetenv("WCSRV_HOME");
        qputenv("WCSRV_HOME", QFile::encodeName(sqliteHome.path()));
        qunsetenv("WCSRV_DATABASE");
        same();
        const QByteArray again = NewTestDatabase();
        QCOMPARE(QString::fromStdString(wcadmin::CopyStore(home, "", again.toStdString())),
                 QString());
        qputenv("WCSRV_DATABASE", again);
        same();
        qputenv("WCSRV_DATABASE", pg);
        qputenv("WCSRV_HOME", oldHome);
        DropTestDatabase(again);
    }
};

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("VT_JOURNAL_KILL"))
        return KillMain();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VtApplication app(argc, argv);
    TestWcsrvJournal tc;
    int failed = QTest::qExec(&tc, argc, argv);
    if (TestsOnPostgres()) {
        TestWcsrvJournalCopy copy;
        failed += QTest::qExec(&copy, argc, argv);
    }
    return failed;
}

#include "test_wcsrv_journal.moc"
