// Every command that touches several records or files, run once for every
// server call it makes with that one call failing: no crash, no hang, a
// sound database, every record kept exactly once with its file, and nothing
// written outside the BBS, the program's folder and the chosen output file.
#include "HardeningSupport.h"

#include "app/TFileMgr.h"
#include "common/Text.h"
#include "filter/SearchRecord.h"
#include "managers/ManagerSupport.h"
#include "managers/TDelMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"
#include "platform/wcsrv/WcFault.h"
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

} // namespace

class TestFaults : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_template;
    Layout m_layout;
    QList<Figure> m_figures;
    qint64 m_phase[6] = {};

    QStringList runOnce(const Command& c, long k, long* calls)
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
            if (calls)
                *calls = WcFaultCallCount();
            WcFaultReset();
            if (k == 0 && c.cleanCheck)
                problems << c.cleanCheck(r);
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
        problems << CheckBbs(box, m_layout, c.expect);
        problems << SnapshotDiff(before, Snapshot(box.root(), allowed));
        m_phase[5] += phase.restart();
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
        for (long k = 1; k <= n; ++k) {
            const QStringList p = runOnce(c, k, nullptr);
            if (!p.isEmpty())
                failures << QStringLiteral("call %1 failing: %2")
                                .arg(k)
                                .arg(p.join(QStringLiteral("; ")));
        }
        m_figures << Figure{c.name, n + 1, long(failures.size()),
                            QStringLiteral("%1 server calls without faults").arg(n)};
        QVERIFY2(failures.isEmpty(), qPrintable(failures.mid(0, 8).join(u'\n')));
    }

    QSet<QString> namesOfRows(int area, const QList<int>& rows) const
    {
        const QStringList names = m_layout.namesIn(area);
        QSet<QString> out;
        for (int row : rows)
            out << names.at(row);
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
              "%lld",
              m_phase[0], m_phase[1], m_phase[2], m_phase[3], m_phase[4], m_phase[5]);
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

    void freshenSeveral()
    {
        const QList<int> rows = {1, 2, 3, 5, 8, 13};
        Command c;
        c.name = QStringLiteral("freshen, 6 selected records");
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
                const TFileMgr::Entry e = r.main->EntryOfListLine(row);
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
        series(c);
    }

    void deleteButton()
    {
        const QList<int> rows = {0, 3, 4, 9, 10, 16};
        Command c;
        c.name = QStringLiteral("delete button, 6 selected, files too");
        c.expect.mayVanish = namesOfRows(2, rows);
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
        for (const QString& n : kDropNames)
            c.expect.mayAppear.insert(n.toUpper(), DropContent(n));
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
