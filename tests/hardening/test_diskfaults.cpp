// Disk faults under the program: a full disk during a copy and during the
// file list write, an area folder and the program's folder that can't be
// written. Each runs on a small tmpfs mounted over the folder (needs root;
// skipped otherwise) and ends with the same checks as the fault runs.
#include "HardeningSupport.h"

#include "app/TFileMgr.h"
#include "config/Settings.h"
#include "config/TSetupDlg.h"
#include "managers/ManagerSupport.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"
#include "platform/wcsrv/WcAdmin.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>

#include <memory>

using namespace hard;

namespace
{

bool Run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

// A tmpfs of `size` over `dir`, keeping the files that were there.
class SmallDisk
{
public:
    SmallDisk(const QString& dir, const QString& size) : m_dir(dir)
    {
        if (::geteuid() != 0)
            return;
        const QString keep = dir + QStringLiteral(".keep");
        QDir().rename(dir, keep);
        QDir().mkpath(dir);
        if (!Run(QStringLiteral("mount"),
                 {QStringLiteral("-t"), QStringLiteral("tmpfs"), QStringLiteral("-o"),
                  QStringLiteral("size=") + size, QStringLiteral("tmpfs"), dir})) {
            QDir(dir).removeRecursively();
            QDir().rename(keep, dir);
            return;
        }
        m_mounted = true;
        CopyTree(keep, dir);
        QDir(keep).removeRecursively();
    }
    ~SmallDisk()
    {
        if (m_mounted)
            Run(QStringLiteral("umount"), {QStringLiteral("-l"), m_dir});
    }
    bool mounted() const { return m_mounted; }
    // Fills the disk, then frees `freeBytes` again.
    void fill(qint64 freeBytes)
    {
        QFile filler(m_dir + QStringLiteral("/FILLER.DAT"));
        if (!filler.open(QIODevice::WriteOnly))
            return;
        const QByteArray block(4096, 'f');
        while (filler.write(block) == block.size() && filler.flush()) {
        }
        filler.close();
        filler.resize(qMax<qint64>(0, filler.size() - freeBytes));
    }
    bool readOnly()
    {
        return Run(QStringLiteral("mount"),
                   {QStringLiteral("-o"), QStringLiteral("remount,ro"), m_dir});
    }

private:
    QString m_dir;
    bool m_mounted = false;
};

#define NEED_MOUNT(disk)                                                                           \
    if (!(disk).mounted())                                                                         \
        QSKIP("mounting a tmpfs is not permitted here (needs root)");

} // namespace

class TestDiskFaults : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_template;
    Layout m_layout;
    std::unique_ptr<Sandbox> m_box;
    QList<Figure> m_figures;

    // The filler that makes a disk full is the test's own file.
    QStringList finalChecks(Expect expect = Expect{})
    {
        expect.ignoreFiles << QStringLiteral("FILLER.DAT");
        QStringList notes;
        const QStringList p = CheckBbs(*m_box, m_layout, expect, &notes);
        for (const QString& n : notes)
            qInfo("left as the design allows: %s", qPrintable(n));
        return p;
    }

private slots:
    void initTestCase()
    {
        EventPump::SetInterval(0);
        m_template = std::make_unique<Sandbox>();
        QVERIFY(m_template->ok());
        m_layout = BuildStandardBbs(m_template->home());
        QCOMPARE(m_layout.contents.size(), 50);
        // A zip archive's record for the zip commands.
        const QString zip = m_template->root() + QStringLiteral("/PACK.ZIP");
        QFile f(zip);
        QVERIFY(f.open(QIODevice::WriteOnly));
        const QByteArray bytes = FileContent(QStringLiteral("PACK.ZIP"), 500);
        f.write(bytes);
        f.close();
        QVERIFY(wcadmin::ImportFile(QFile::encodeName(m_template->home()).toStdString(), 1,
                                    QFile::encodeName(zip).toStdString())
                    .empty());
        QFile::remove(zip);
        m_layout.contents.insert(QStringLiteral("PACK.ZIP"), bytes);
        m_layout.area.insert(QStringLiteral("PACK.ZIP"), 1);
        QVERIFY(TakeImages(m_template->home(), m_layout));
    }

    void init()
    {
        m_box = std::make_unique<Sandbox>(m_template->root());
        QVERIFY(m_box->ok());
        m_box->enter();
        ProgramFolder = m_box->prog();
    }

    void cleanup() { m_box.reset(); }

    void cleanupTestCase() { PrintFigures(QStringLiteral("Disk faults"), m_figures); }

    // The move manager copies into an area whose disk is full: the records
    // whose files could not be copied stay where they are.
    void fullDiskDuringMoveManagerCopy()
    {
        SmallDisk disk(m_box->home() + QStringLiteral("/areas/2"), QStringLiteral("256k"));
        NEED_MOUNT(disk);
        disk.fill(12 * 1024);
        AnswerHook hook;
        {
            ServerLogin login;
            TMoveMgr form;
            form.show();
            LineOfArea(form.AreaList1, 1)->setSelected(true);
            LineOfArea(form.AreaList2, 2)->setSelected(true);
            Watchdog dog(QStringLiteral("move manager on a full disk"), HangSeconds());
            form.b_MoveToList2Click();
            form.close();
        }
        QVERIFY2(hook.texts.contains(QStringLiteral(
                     "Some files and their associated records were not moved because the files "
                     "could not be found on disk.")),
                 qPrintable(hook.texts.join(u'\n')));
        QVERIFY(hook.texts.contains(QStringLiteral("Error Writing new file")));
        QVERIFY(RecordNamesIn(*m_box, 1).size() > 0);
        Expect expect;
        expect.allowMove(m_layout.namesIn(1), 2);
        const QStringList p = finalChecks(expect);
        m_figures << Figure{
            QStringLiteral("full disk during the move manager's copies"), 1, long(!p.isEmpty()),
            QStringLiteral("%1 of 13 records moved").arg(13 - RecordNamesIn(*m_box, 1).size())};
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // Dropped files onto a full area: the copy fails, the drop stops, no
    // record names a partial file.
    void fullDiskDuringDrop()
    {
        SmallDisk disk(m_box->home() + QStringLiteral("/areas/1"), QStringLiteral("256k"));
        NEED_MOUNT(disk);
        Expect expect;
        QStringList paths;
        for (const QString& name : {QStringLiteral("BIG1.BIN"), QStringLiteral("BIG2.BIN")}) {
            const QByteArray bytes = FileContent(name, 40000);
            QFile f(m_box->drop() + u'/' + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(bytes);
            paths << f.fileName();
            expect.mayAppear.insert(name, bytes);
            expect.appearIn.insert(name, 1);
        }
        disk.fill(48 * 1024);
        AnswerHook hook;
        {
            auto w = std::make_unique<TFileMgr>();
            w->show();
            w->ChooseArea(0);
            Watchdog dog(QStringLiteral("drop on a full disk"), HangSeconds());
            w->AddDroppedFiles(paths);
            w->close();
        }
        QVERIFY2(hook.texts.contains(QStringLiteral("Error copying file to filearea path")),
                 qPrintable(hook.texts.join(u'\n')));
        const QStringList p = finalChecks(expect);
        m_figures << Figure{
            QStringLiteral("full disk during dropped-file copies"), 1, long(!p.isEmpty()),
            QStringLiteral("%1 of 2 added").arg(RecordNamesIn(*m_box, 1).size() - 13)};
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // The move button copying into a full area: a copy that fails part-way
    // leaves a partial file there. Even with the record-only move agreed to
    // for every file (All), no record may be moved onto such a file: it
    // would name a damaged file while its own stays behind without a record.
    void fullDiskDuringMoveButtonCopy()
    {
        SmallDisk disk(m_box->home() + QStringLiteral("/areas/3"), QStringLiteral("256k"));
        NEED_MOUNT(disk);
        disk.fill(8 * 1024);
        AnswerHook hook; // Yes, and All to the record-only question
        {
            auto w = std::make_unique<TFileMgr>();
            w->show();
            w->ChooseArea(1);
            // Rows of files of one chunk and of several chunks.
            for (int row : {0, 1, 2, 3, 4, 5, 6, 7})
                w->FileListBox->SetSelected(row, true);
            w->FileListBox->SetItemIndex(7);
            ChooseTarget(3);
            Watchdog dog(QStringLiteral("move button on a full disk"), HangSeconds());
            w->b_MoveClick();
            w->close();
        }
        QVERIFY2(hook.texts.contains(QStringLiteral("Error Writing new file")),
                 qPrintable(hook.texts.join(u'\n')));
        Expect expect;
        expect.allowMove(m_layout.namesIn(2).mid(0, 8), 3);
        expect.recordMayMoveAlone = true; // All to the question about the target
        const QStringList p = finalChecks(expect);
        m_figures << Figure{
            QStringLiteral("full disk during the move button's copies"), 1, long(!p.isEmpty()),
            QStringLiteral("%1 of 8 records moved").arg(RecordNamesIn(*m_box, 3).size() - 20)};
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // The file list on a full disk: "File Write Error!", the run ends.
    void fullDiskDuringFileList()
    {
        SmallDisk disk(m_box->out(), QStringLiteral("64k"));
        NEED_MOUNT(disk);
        disk.fill(1024);
        AnswerHook hook;
        {
            ServerLogin login;
            TFileListMgrForm form;
            form.show();
            form.b_SelectAllClick();
            form.e_OutputFile->setText(m_box->out() + QStringLiteral("/list.txt"));
            Watchdog dog(QStringLiteral("file list on a full disk"), HangSeconds());
            form.b_MakeFileListClick();
            QVERIFY(!form.IsRunning());
            form.close();
        }
        QVERIFY2(hook.texts.contains(QStringLiteral("File Write Error!")),
                 qPrintable(hook.texts.join(u'\n')));
        const QStringList p = finalChecks();
        m_figures << Figure{QStringLiteral("full disk during the file list write"), 1,
                            long(!p.isEmpty()), QStringLiteral("\"File Write Error!\" shown")};
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // A read-only area: deleting with the files keeps the records whose
    // files can't be removed; moving into it copies nothing and moves no record.
    void readOnlyAreaFolder()
    {
        SmallDisk disk(m_box->home() + QStringLiteral("/areas/3"), QStringLiteral("1m"));
        NEED_MOUNT(disk);
        if (!disk.readOnly())
            QSKIP("remounting read-only is not permitted here");
        // The fault is there: nothing can be written into the folder.
        QVERIFY(!QFile(m_box->home() + QStringLiteral("/areas/3/PROBE.TXT"))
                     .open(QIODevice::WriteOnly));
        AnswerHook hook;
        {
            auto w = std::make_unique<TFileMgr>();
            w->show();
            w->ChooseArea(2);
            for (int row : {0, 1, 2})
                w->FileListBox->SetSelected(row, true);
            w->FileListBox->SetItemIndex(2);
            Watchdog dog(QStringLiteral("delete on a read-only area"), HangSeconds());
            w->b_DeleteClick();
            w->close();
        }
        QCOMPARE(RecordNamesIn(*m_box, 3).size(), 20);
        {
            ServerLogin login;
            TMoveMgr form;
            form.show();
            LineOfArea(form.AreaList1, 1)->setSelected(true);
            LineOfArea(form.AreaList2, 3)->setSelected(true);
            Watchdog dog(QStringLiteral("move into a read-only area"), HangSeconds());
            form.b_MoveToList2Click();
            form.close();
        }
        QCOMPARE(RecordNamesIn(*m_box, 3).size(), 20);
        QVERIFY(hook.texts.contains(QStringLiteral(
            "Some files and their associated records were not moved because the files could "
            "not be found on disk.")));
        const QStringList p = finalChecks();
        m_figures << Figure{QStringLiteral("read-only area folder (delete button, move manager)"),
                            2, long(!p.isEmpty()), QStringLiteral("records kept, nothing copied")};
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // A read-only program folder: the setup window's write error box and
    // the zip command's temporary folder warning; the program goes on.
    void readOnlyProgramFolder()
    {
        SmallDisk disk(m_box->root() + QStringLiteral("/prog"), QStringLiteral("1m"));
        NEED_MOUNT(disk);
        if (!disk.readOnly())
            QSKIP("remounting read-only is not permitted here");
        QVERIFY(!QFile(m_box->prog() + QStringLiteral("PROBE.TXT")).open(QIODevice::WriteOnly));
        AnswerHook hook;
        LaunchScript launches;
        auto w = std::make_unique<TFileMgr>();
        w->show();
        {
            TSetupDlg setup(w.get());
            setup.show();
            auto* ok = setup.findChild<QPushButton*>(QStringLiteral("BitBtn1"));
            QVERIFY(ok);
            QTest::mouseClick(ok, Qt::LeftButton);
        }
        QVERIFY2(hook.texts.contains(QStringLiteral("Unable to write to ") + m_box->prog() +
                                     QStringLiteral("vuru.cfg")),
                 qPrintable(hook.texts.join(u'\n')));
        w->ChooseArea(0);
        const int row = w->FileListBox->Lines()->lines().indexOf(QStringLiteral("PACK.ZIP"));
        QVERIFY(row >= 0);
        w->FileListBox->SetSelected(row, true);
        w->FileListBox->SetItemIndex(row);
        w->ViewZipFile1Click();
        QVERIFY2(hook.texts.contains(QStringLiteral("Error creating directory: ") + m_box->prog() +
                                     QStringLiteral("Temp/")),
                 qPrintable(hook.texts.join(u'\n')));
        QVERIFY(launches.calls.isEmpty());
        w->close();
        w.reset();
        const QStringList p = finalChecks();
        m_figures << Figure{QStringLiteral("read-only program folder (setup, zip viewer)"), 2,
                            long(!p.isEmpty()), QStringLiteral("error box and warning shown")};
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }
};

VT_TEST_MAIN(TestDiskFaults)
#include "test_diskfaults.moc"
