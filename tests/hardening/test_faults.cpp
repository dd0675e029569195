// Every command that touches several records or files, run once for every
// server call it makes with that one call failing: no crash, no hang, the
// failing call really reached, a sound database, every record kept exactly
// once and byte for byte except the fields the command changes, its file
// intact in its own area's folder, no file without a record unless the
// command may leave one, a read-only command's result complete or a message
// shown, and nothing written outside the BBS, the program's folder and the
// chosen output file. Then the run's journal holds exactly the changes
// made, and undoing it (as `vtfilemgr-cli undo RUN --yes` does) puts every
// record and file back byte for byte.
#include "HardeningSupport.h"

#include "app/TFileMgr.h"
#include "common/AreaLines.h"
#include "common/Text.h"
#include "filter/SearchRecord.h"
#include "managers/DeletionRun.h"
#include "managers/ManagerSupport.h"
#include "managers/TDelMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"
#include "platform/wcsrv/WcFault.h"
#include "server/RunJournal.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QtTest>

#include <cstring>
#include <memory>

using namespace hard;

namespace
{

// One run: its sandbox, answers and windows.
struct Run {
    Sandbox* box = nullptr;
    AnswerHook* hook = nullptr;
    std::unique_ptr<ServerLogin> login;
    std::unique_ptr<TFileMgr> main;
    QPointer<QDialog> manager;
};

struct Command {
    QString name;
    std::function<void(Run&)> prepare; // opens the windows and selects
    std::function<void(Run&)> act;     // the command itself
    Expect expect;
    // Extra checks of a run without faults (the command did its work).
    std::function<QStringList(Run&)> cleanCheck;
    // Checks of every run of a read-only command: its result is complete,
    // or the run showed a message.
    std::function<QStringList(Run&)> readCheck;
    // With a fault, a record may move without its file (the move button's
    // question about a target that can't be written, answered All).
    bool movesAloneOnFault = false;
    // The command changes records or files: its run without faults leaves
    // journal entries to undo.
    bool writes = true;
};

const QStringList kDropNames = {QStringLiteral("NEW1.TXT"), QStringLiteral("NEW2.BIN"),
                                QStringLiteral("NEW3.TXT"), QStringLiteral("new4.bin")};

QByteArray DropContent(const QString& name)
{
    return FileContent(name.toUpper(), name.contains(u'2') ? 9500 : 300 + 11 * int(name.size()));
}

void OpenMain(Run& r, int areaIndex)
{
    r.main = std::make_unique<TFileMgr>();
    r.main->show();
    r.main->ChooseArea(areaIndex);
}

void SelectMainRows(Run& r, const QList<int>& rows)
{
    r.main->FileListBox->clearSelection();
    for (int row : rows)
        r.main->FileListBox->SetSelected(row, true);
    r.main->FileListBox->SetItemIndex(rows.last());
}

// Every record of the filter used below: files that exist on disk.
void SetExistingFilesFilter()
{
    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
    CurrentSearchRecord.ExistOnDiskOp = FlagYes;
    FilterDefined = true;
}

// What a read-only command left out of `names`, unless a message was shown.
QStringList Silent(Run& r, const QString& what, const QStringList& missing, int extra)
{
    if (missing.isEmpty() && extra == 0)
        return {};
    if (!r.hook->texts.isEmpty())
        return {}; // short, but the sysop was told
    return {QStringLiteral("%1 silently short: %2 names missing (%3), %4 lines too many")
                .arg(what)
                .arg(missing.size())
                .arg(missing.mid(0, 3).join(QStringLiteral(", ")))
                .arg(extra)};
}

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_template;
    Layout m_layout;
    QList<Figure> m_figures;
    qint64 m_phase[7] = {};
    long m_undoRuns = 0, m_undoEntries = 0;

    QStringList runOnce(const Command& c, long k, long* calls, QStringList* notes = nullptr)
    {
        QElapsedTimer phase;
        phase.start();
        Sandbox box(m_template->root());
        if (!box.ok())
            return {QStringLiteral("sandbox")};
        m_phase[0] += phase.restart();
        box.enter();
        for (const QString& name : kDropNames) {
            QFile f(box.drop() + u'/' + name);
            if (!f.open(QIODevice::WriteOnly) || f.write(DropContent(name)) < 0)
                return {QStringLiteral("drop file")};
        }
        const QStringList allowed = {QStringLiteral("bbs"), QStringLiteral("prog"),
                                     QStringLiteral("out/list.txt")};
        const auto before = Snapshot(box.root(), allowed);
        // On the database server each undo check costs several connections
        // and a walk of the whole base, so there every third fault is
        // checked (the same commands on SQLite check every one).
        const bool checkUndo = !TestsOnPostgres() || k % 3 == 0;
        const BbsBytes state = checkUndo ? TakeBbsBytes(box.home()) : BbsBytes{};
        AnswerHook hook;
        Run r;
        r.box = &box;
        r.hook = &hook;
        QStringList problems;
        {
            Watchdog dog(QStringLiteral("%1 with call %2 failing").arg(c.name).arg(k),
                         HangSeconds());
            WcFaultReset();
            m_phase[1] += phase.restart();
            c.prepare(r);
            m_phase[2] += phase.restart();
            if (k > 0)
                WcFaultFailNth(k, WC_NO_ACTION_TAKEN);
            else
                WcFaultReset();
            c.act(r);
            m_phase[3] += phase.restart();
            const long made = WcFaultCallCount();
            if (calls)
                *calls = made;
            WcFaultReset();
            // The k-th call fails only when the run makes k calls.
            if (k > 0 && made < k)
                problems << QStringLiteral("the fault never fired (%1 calls)").arg(made);
            if (k == 0 && c.cleanCheck)
                problems << c.cleanCheck(r);
            if (c.readCheck)
                problems << c.readCheck(r);
            if (r.manager) {
                r.manager->close();
                delete r.manager.data();
            }
            r.login.reset();
            if (r.main) {
                r.main->close();
                r.main.reset();
            }
            QApplication::processEvents();
        }
        m_phase[4] += phase.restart();
        Expect expect = c.expect;
        // A run without faults moves every file it moves and copies nothing
        // it does not record.
        expect.recordMayMoveAlone |= k > 0 && c.movesAloneOnFault;
        expect.copiesMayStay = k > 0;
        expect.addedMayStayUnfreshened = k > 0;
        problems << CheckBbs(box, m_layout, expect, notes);
        problems << SnapshotDiff(before, Snapshot(box.root(), allowed));
        m_phase[5] += phase.restart();
        // Then the run's journal: its entries are exactly the changes
        // made, and undoing it puts every record and file back.
        if (checkUndo) {
            const UndoResult undone = UndoRestores(box.home(), state, false);
            problems << undone.problems;
            if (k == 0 && c.writes && undone.entries == 0)
                problems << QStringLiteral("the run left no journal entry to undo");
            m_undoRuns += undone.runs;
            m_undoEntries += undone.entries;
        }
        m_phase[6] += phase.restart();
        box.leave();
        return problems;
    }

    void series(const Command& c)
    {
        long n = 0;
        const QStringList clean = runOnce(c, 0, &n);
        QVERIFY2(clean.isEmpty(), qPrintable(c.name + QStringLiteral(" without faults: ") +
                                             clean.join(QStringLiteral("; "))));
        QVERIFY2(n > 0, "the command made no server call");
        QStringList failures;
        QMap<QString, int> left; // allowed leftovers: kind -> runs
        for (long k = 1; k <= n; ++k) {
            QStringList notes;
            const QStringList p = runOnce(c, k, nullptr, &notes);
            if (!p.isEmpty())
                failures << QStringLiteral("call %1 failing: %2")
                                .arg(k)
                                .arg(p.join(QStringLiteral("; ")));
            for (const QString& note : notes)
                ++left[note.section(u':', 0, 0)];
        }
        QStringList kept;
        for (auto it = left.cbegin(); it != left.cend(); ++it)
            kept << QStringLiteral("%1 in %2 runs").arg(it.key()).arg(it.value());
        if (!kept.isEmpty())
            qInfo("%s: left as the design allows: %s", qPrintable(c.name),
                  qPrintable(kept.join(QStringLiteral("; "))));
        m_figures << Figure{c.name, n + 1, long(failures.size()),
                            QStringLiteral("%1 server calls without faults%2")
                                .arg(n)
                                .arg(kept.isEmpty() ? QString()
                                                    : QStringLiteral("; left: ") +
                                                          kept.join(QStringLiteral("; ")))};
        QVERIFY2(failures.isEmpty(), qPrintable(failures.mid(0, 8).join(u'\n')));
    }

    QStringList namesOfRows(int area, const QList<int>& rows) const
    {
        const QStringList names = m_layout.namesIn(area);
        QStringList out;
        for (int row : rows)
            out << names.at(row);
        return out;
    }

    // Layout names the filtered list of all areas or a file list must hold.
    QStringList missingFrom(const QStringList& listed) const
    {
        QStringList out;
        for (auto it = m_layout.contents.cbegin(); it != m_layout.contents.cend(); ++it)
            if (!listed.contains(it.key()))
                out << it.key();
        return out;
    }

private slots:
    void initTestCase()
    {
        EventPump::SetInterval(0);
        m_template = std::make_unique<Sandbox>();
        QVERIFY(m_template->ok());
        m_layout = BuildStandardBbs(m_template->home());
        QCOMPARE(m_layout.contents.size(), 50);
    }

    void cleanup()
    {
        WcFaultReset();
        FilterDefined = false;
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
    }

    void cleanupTestCase()
    {
        PrintFigures(QStringLiteral("Fault runs per command"), m_figures);
        qInfo("ms in sandbox %lld, snapshot %lld, prepare %lld, command %lld, close %lld, checks "
              "%lld, undo %lld; %ld runs undone with %ld entries",
              m_phase[0], m_phase[1], m_phase[2], m_phase[3], m_phase[4], m_phase[5], m_phase[6],
              m_undoRuns, m_undoEntries);
    }

    // The template itself passes every check.
    void templateIsSound() { QVERIFY(CheckBbs(*m_template, m_layout, Expect{}).isEmpty()); }

    // The checks catch what they are for.
    void checksCatchDamage()
    {
        Sandbox box(m_template->root());
        QVERIFY(box.ok());
        const QString victim = m_layout.namesIn(2).first();
        QVERIFY(QFile::remove(box.home() + QStringLiteral("/areas/2/") + victim));
        QFile partial(box.home() + QStringLiteral("/areas/3/") + m_layout.namesIn(3).first());
        QVERIFY(partial.open(QIODevice::WriteOnly | QIODevice::Truncate));
        partial.write("x");
        partial.close();
        const QStringList p = CheckBbs(box, m_layout, Expect{});
        QVERIFY2(p.join(u'\n').contains(QStringLiteral("the file of record ") + victim),
                 qPrintable(p.join(u'\n')));
        QVERIFY2(p.join(u'\n').contains(QStringLiteral("names a damaged file")),
                 qPrintable(p.join(u'\n')));
        const auto before = Snapshot(box.root(), {QStringLiteral("bbs")});
        QFile stray(box.root() + QStringLiteral("/tmp/stray"));
        QVERIFY(stray.open(QIODevice::WriteOnly));
        stray.close();
        QCOMPARE(SnapshotDiff(before, Snapshot(box.root(), {QStringLiteral("bbs")})),
                 QStringList{QStringLiteral("written: tmp/stray")});
    }

    // Each kind of damage the checks look for, made by hand on a copy of
    // the template, is reported; the leftovers the design allows are noted
    // and are not problems.
    void oracleCatches_data()
    {
        QTest::addColumn<int>("damage");
        QTest::addColumn<QString>("reported");
        QTest::newRow("one opaque byte of a record") << 0 << QStringLiteral("): Reserved5 changed");
        QTest::newRow("a field the command may not change")
            << 1 << QStringLiteral("): Downloads changed");
        QTest::newRow("an allowed field in another record")
            << 2 << QStringLiteral("): Description changed");
        QTest::newRow("a record in an area it may not move to")
            << 3 << QStringLiteral("may be in 2 only");
        QTest::newRow("a file in another area's folder")
            << 4 << QStringLiteral("is not in area 2's folder");
        QTest::newRow("a file without a record") << 5 << QStringLiteral("has no record");
        QTest::newRow("a zero-padded copy in a move's target")
            << 6 << QStringLiteral("without a record is damaged");
        QTest::newRow("a partial copy in a move's target (allowed)") << 7 << QString();
        QTest::newRow("a source file kept after a move (allowed)") << 8 << QString();
    }

    void oracleCatches()
    {
        QFETCH(int, damage);
        QFETCH(QString, reported);
        Sandbox box(m_template->root());
        QVERIFY(box.ok());
        box.enter();
        const QStringList two = m_layout.namesIn(2);
        const QString victim = two.first();
        const QString area2 = box.home() + QStringLiteral("/areas/2/");
        const QString area3 = box.home() + QStringLiteral("/areas/3/");
        Expect expect;
        auto edit = [&](const QString& name, const std::function<void(FullFileRec&)>& change,
                        bool whole) {
            ServerLogin login;
            FileRec rec{};
            uint32_t pos = 0;
            FullFileRec full{};
            QVERIFY(login.ok());
            QVERIFY(GetFileRecByAreaName(2, ToBytes(name).constData(), &rec, &pos));
            QVERIFY(GetFullFileRec(&rec, &full));
            change(full);
            if (whole)
                QVERIFY(UpdateFullFileRec(&full));
            else
                QVERIFY(UpdateFileRec(&full.Rec));
        };
        auto write = [](const QString& path, const QByteArray& bytes) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
            QCOMPARE(f.write(bytes), qint64(bytes.size()));
        };
        const QByteArray bytes = m_layout.contents.value(victim);
        switch (damage) {
        case 0:
            edit(
                victim, [](FullFileRec& f) { f.Reserved5[100] ^= 1; }, true);
            break;
        case 1:
            expect.allow(QStringList{victim}, FDescription);
            edit(
                victim, [](FullFileRec& f) { ++f.Rec.Downloads; }, true);
            break;
        case 2:
            expect.allow(QStringList{two.at(1)}, FDescription);
            edit(
                victim, [](FullFileRec& f) { f.Rec.Description[0] = 'Z'; }, true);
            break;
        case 3:
            expect.allowMove({victim}, 1);
            edit(
                victim, [](FullFileRec& f) { f.Rec.Area = 3; }, false);
            QVERIFY(QFile::copy(area2 + victim, area3 + victim));
            break;
        case 4:
            QVERIFY(QFile::rename(area2 + victim, area3 + victim));
            break;
        case 5:
            write(area3 + QStringLiteral("STRAY.BIN"), "left behind");
            break;
        case 6:
            expect.allowMove({victim}, 3);
            write(area3 + victim,
                  bytes.left(bytes.size() / 2) + QByteArray(bytes.size() - bytes.size() / 2, '\0'));
            break;
        case 7:
            expect.allowMove({victim}, 3);
            write(area3 + victim, bytes.left(bytes.size() / 2));
            break;
        case 8:
            expect.allowMove({victim}, 3);
            edit(
                victim, [](FullFileRec& f) { f.Rec.Area = 3; }, false);
            QVERIFY(QFile::copy(area2 + victim, area3 + victim));
            break;
        }
        if (QTest::currentTestFailed())
            return;
        QStringList notes;
        const QStringList p = CheckBbs(box, m_layout, expect, &notes);
        box.leave();
        if (reported.isEmpty()) {
            QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
            QCOMPARE(notes.size(), 1);
            QVERIFY2(notes.first().contains(victim), qPrintable(notes.first()));
        } else {
            QVERIFY2(p.join(u'\n').contains(reported), qPrintable(p.join(u'\n')));
        }
    }

    void freshenSeveral()
    {
        const QList<int> rows = {1, 2, 3, 5, 8, 13};
        Command c;
        c.name = QStringLiteral("freshen, 6 selected records");
        c.expect.allow(namesOfRows(2, rows), FSize | FFileTime);
        c.prepare = [rows](Run& r) {
            OpenMain(r, 1);
            SelectMainRows(r, rows);
        };
        c.act = [](Run& r) { r.main->b_freshenClick(); };
        c.cleanCheck = [](Run& r) { return r.hook->texts; }; // no warning at all
        series(c);
    }

    void updateSeveral()
    {
        const QList<int> rows = {0, 4, 6, 7, 11, 17};
        Command c;
        c.name = QStringLiteral("update, 6 selected records");
        c.expect.allow(namesOfRows(2, rows), FFreeFile | FDescription | FUploader);
        c.prepare = [rows](Run& r) {
            OpenMain(r, 1);
            SelectMainRows(r, rows);
            r.main->cbf_FreeFile->setChecked(true);
            r.main->f_desc->setText(QStringLiteral("Set on many at once"));
            r.main->f_uploader->setText(QStringLiteral("Test Sysop"));
            QVERIFY(r.main->RecordChanged);
        };
        c.act = [](Run& r) { r.main->b_freshenClick(); };
        c.cleanCheck = [rows](Run& r) {
            QStringList p = r.hook->texts;
            ServerLogin login;
            for (int row : rows) {
                const EntryRef e = r.main->EntryOfLine(row);
                FileRec rec{};
                uint32_t pos = 0;
                if (!GetFileRecByAreaName(e.area, ToBytes(e.name).constData(), &rec, &pos) ||
                    rec.FreeFile != 1 ||
                    RecText(rec.Description) != QLatin1String("Set on many at once"))
                    p << QStringLiteral("not updated: ") + e.name;
            }
            return p;
        };
        series(c);
    }

    void filteredListing()
    {
        Command c;
        c.name = QStringLiteral("filtered listing, 3 areas");
        c.writes = false;
        c.prepare = [](Run& r) {
            OpenMain(r, 0);
            SetExistingFilesFilter();
        };
        c.act = [](Run& r) {
            r.main->cb_FileFilter->setChecked(true);
            r.main->cb_FileFilterClick();
        };
        c.cleanCheck = [](Run& r) {
            QStringList p = r.hook->texts;
            if (r.main->FileListBox->Count() != 50)
                p << QStringLiteral("listed %1 lines").arg(r.main->FileListBox->Count());
            return p;
        };
        c.readCheck = [this](Run& r) {
            QStringList listed;
            for (int row = 0; row < r.main->FileListBox->Count(); ++row)
                listed << FileNameOfLine(r.main->FileListBox->Line(row)).trimmed().toUpper();
            return Silent(r, QStringLiteral("filtered list"), missingFrom(listed),
                          qMax(0, int(listed.size()) - 50));
        };
        series(c);
    }

    void deletionManager()
    {
        Command c;
        c.name = QStringLiteral("deletion manager, areas 1 and 3, files too");
        for (int area : {1, 3})
            for (const QString& n : m_layout.namesIn(area))
                c.expect.mayVanish << n;
        c.prepare = [](Run& r) {
            r.login = std::make_unique<ServerLogin>();
            auto* form = new TDelMgr;
            r.manager = form;
            form->show();
            LineOfArea(form->AreaList, 1)->setSelected(true);
            LineOfArea(form->AreaList, 3)->setSelected(true);
        };
        c.act = [](Run& r) { static_cast<TDelMgr*>(r.manager.data())->b_DeleteClick(); };
        c.cleanCheck = [](Run& r) {
            QStringList p;
            if (!RecordNamesIn(*r.box, 1).isEmpty() || !RecordNamesIn(*r.box, 3).isEmpty() ||
                RecordNamesIn(*r.box, 2).size() != 18)
                p << QStringLiteral("the areas were not emptied");
            if (QFile::exists(r.box->home() + QStringLiteral("/areas/1/AF00.BIN")))
                p << QStringLiteral("a file stayed on disk");
            return p;
        };
        series(c);
    }

    void moveManager_data()
    {
        QTest::addColumn<bool>("disk");
        QTest::newRow("files too") << true;
        QTest::newRow("records only") << false;
    }

    void moveManager()
    {
        QFETCH(bool, disk);
        Command c;
        c.name = QStringLiteral("move manager, area 1 to 2, ") +
                 (disk ? QStringLiteral("files too") : QStringLiteral("records only"));
        c.expect.allowMove(m_layout.namesIn(1), 2);
        c.expect.recordMayMoveAlone = !disk;
        c.prepare = [disk](Run& r) {
            r.hook->decide = [disk](const QString& text) {
                if (text.startsWith(QLatin1String("Would you also like to move the actual file")))
                    return disk ? DialogAnswer::Yes : DialogAnswer::No;
                return DialogAnswer::Closed;
            };
            r.login = std::make_unique<ServerLogin>();
            auto* form = new TMoveMgr;
            r.manager = form;
            form->show();
            LineOfArea(form->AreaList1, 1)->setSelected(true);
            LineOfArea(form->AreaList2, 2)->setSelected(true);
        };
        c.act = [](Run& r) { static_cast<TMoveMgr*>(r.manager.data())->b_MoveToList2Click(); };
        c.cleanCheck = [](Run& r) {
            QStringList p;
            if (!RecordNamesIn(*r.box, 1).isEmpty() || RecordNamesIn(*r.box, 2).size() != 30)
                p << QStringLiteral("the records were not moved");
            return p;
        };
        series(c);
    }

    void fileListManager()
    {
        Command c;
        c.name = QStringLiteral("file list manager, 3 areas, filter on");
        c.writes = false;
        c.prepare = [](Run& r) {
            r.login = std::make_unique<ServerLogin>();
            SetExistingFilesFilter();
            auto* form = new TFileListMgrForm;
            r.manager = form;
            form->show();
            form->b_SelectAllClick();
            form->e_OutputFile->setText(r.box->out() + QStringLiteral("/list.txt"));
            form->cb_ApplyFilter->setChecked(true);
        };
        c.act = [](Run& r) {
            static_cast<TFileListMgrForm*>(r.manager.data())->b_MakeFileListClick();
        };
        c.cleanCheck = [](Run& r) {
            QStringList p = r.hook->texts;
            QFile f(r.box->out() + QStringLiteral("/list.txt"));
            if (!f.open(QIODevice::ReadOnly))
                return p << QStringLiteral("no file list");
            const int lines = int(f.readAll().count("\r\n"));
            if (lines != 50 + 3 * 5)
                p << QStringLiteral("file list of %1 lines").arg(lines);
            return p;
        };
        c.readCheck = [this](Run& r) {
            QFile f(r.box->out() + QStringLiteral("/list.txt"));
            QStringList listed;
            int lines = 0;
            if (f.open(QIODevice::ReadOnly)) {
                const QList<QByteArray> all = f.readAll().split('\n');
                for (const QByteArray& line : all) {
                    if (line.isEmpty())
                        continue;
                    ++lines;
                    // File lines start with the name; the block's own lines
                    // with a blank, '=' or '-'.
                    if (line.at(0) != ' ' && line.at(0) != '=' && line.at(0) != '-')
                        listed << QString::fromLatin1(line.left(line.indexOf(' '))).toUpper();
                }
            }
            return Silent(r, QStringLiteral("file list"), missingFrom(listed),
                          qMax(0, lines - (50 + 3 * 5)));
        };
        series(c);
    }

    // The duplicate manager's deletion: chosen records of two areas, through
    // the deletion run's list of records.
    void deletionOfListedRecords()
    {
        QList<EntryRef> records;
        for (const QString& n : namesOfRows(1, {0, 2, 4}))
            records << EntryRef{1, n};
        for (const QString& n : namesOfRows(3, {1, 3, 5}))
            records << EntryRef{3, n};
        Command c;
        c.name = QStringLiteral("deletion of 6 listed records, files too");
        for (const EntryRef& e : records)
            c.expect.mayVanish << e.name;
        c.prepare = [](Run& r) { r.login = std::make_unique<ServerLogin>(); };
        c.act = [records](Run&) {
            // In a run of its own, as the duplicate manager deletes.
            JournaledRun journal(QStringLiteral("delete listed records"));
            if (!journal.Begun())
                return; // nothing may change without its run
            DeletionOptions options;
            options.records = records;
            options.deleteFromDisk = true;
            ScriptedRun run;
            RunDeletion(options, run);
        };
        c.cleanCheck = [records](Run& r) {
            QStringList p;
            for (const EntryRef& e : records)
                if (RecordNamesIn(*r.box, e.area).contains(e.name))
                    p << QStringLiteral("%1 was not deleted").arg(e.name);
            return p;
        };
        series(c);
    }

    void deleteButton()
    {
        const QList<int> rows = {0, 3, 4, 9, 10, 16};
        Command c;
        c.name = QStringLiteral("delete button, 6 selected, files too");
        for (const QString& n : namesOfRows(2, rows))
            c.expect.mayVanish << n;
        c.prepare = [rows](Run& r) {
            OpenMain(r, 1);
            SelectMainRows(r, rows);
        };
        c.act = [](Run& r) { r.main->b_DeleteClick(); };
        c.cleanCheck = [](Run& r) {
            QStringList p;
            if (RecordNamesIn(*r.box, 2).size() != 12)
                p << QStringLiteral("the records were not deleted");
            return p;
        };
        series(c);
    }

    void droppedFiles()
    {
        Command c;
        c.name = QStringLiteral("dropped files, 4 files");
        for (const QString& n : kDropNames) {
            c.expect.mayAppear.insert(n.toUpper(), DropContent(n));
            c.expect.appearIn.insert(n.toUpper(), 1);
        }
        c.prepare = [](Run& r) { OpenMain(r, 0); };
        c.act = [](Run& r) {
            QStringList paths;
            for (const QString& n : kDropNames)
                paths << r.box->drop() + u'/' + n;
            r.main->AddDroppedFiles(paths);
        };
        c.cleanCheck = [](Run& r) {
            QStringList p = r.hook->texts;
            if (RecordNamesIn(*r.box, 1).size() != 12 + 4)
                p << QStringLiteral("the files were not added");
            return p;
        };
        series(c);
    }

    void moveButton()
    {
        const QList<int> rows = {2, 5, 6, 12, 15, 17};
        Command c;
        c.name = QStringLiteral("move button, 6 selected, area 2 to 3");
        c.expect.allowMove(namesOfRows(2, rows), 3);
        c.movesAloneOnFault = true;
        c.prepare = [rows](Run& r) {
            OpenMain(r, 1);
            SelectMainRows(r, rows);
        };
        c.act = [](Run& r) {
            ChooseTarget(3);
            r.main->b_MoveClick();
        };
        c.cleanCheck = [](Run& r) {
            QStringList p = r.hook->texts;
            if (RecordNamesIn(*r.box, 3).size() != 26)
                p << QStringLiteral("the records were not moved");
            return p;
        };
        series(c);
    }
};

VT_TEST_MAIN(TestFaults)
#include "test_faults.moc"
