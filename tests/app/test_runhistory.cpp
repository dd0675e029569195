// The run journal in the program: "Run History..." lists a run started on
// the command line and undoes it after its preview; a run of a window
// command shows in `vtfilemgr-cli history`, and "Undo Last Run..." takes it
// back; a trash that cannot be written stops a window command.
#include "AppTestSupport.h"
#include "managers/TRunHistoryForm.h"
#include "tests/cli/CliRun.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTreeWidget>

namespace
{

constexpr int kAreas = 2;

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

void SelectRows(TFileMgr& w, const QList<int>& rows)
{
    w.FileListBox->clearSelection();
    for (int row : rows)
        w.FileListBox->SetSelected(row, true);
    w.FileListBox->SetItemIndex(rows.last());
}

QAction* MenuAction(TFileMgr& w, const char* menu, const char* action)
{
    auto* m = w.menuBar()->findChild<QMenu*>(QLatin1String(menu));
    return m ? m->findChild<QAction*>(QLatin1String(action)) : nullptr;
}

} // namespace

class TestRunHistory : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<ProgramFolderScope> m_folder;
    std::unique_ptr<TestBbs> m_bbs;

    CliRun cli(const QStringList& args) const
    {
        return RunCli(QStringList{QStringLiteral("--home"), m_bbs->home()} + args);
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<ProgramFolderScope>();
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Games"));
        const QByteArray a("first file"), b("second\x00file", 11), c("third");
        m_bbs->addFile(1, QStringLiteral("A.ZIP"), &a, [](FullFileRec& full) {
            SetRecText(full.Rec.Description, QStringLiteral("The A archive"));
        });
        m_bbs->addFile(1, QStringLiteral("B.ZIP"), &b);
        m_bbs->addFile(2, QStringLiteral("C.TXT"), &c);
    }

    void cleanup()
    {
        m_bbs.reset();
        m_folder.reset();
    }

    void menusOfferTheJournal()
    {
        auto w = OpenMainWindow();
        QAction* undo = MenuAction(*w, "Edit1", "UndoLastRun1");
        QAction* history = MenuAction(*w, "Managers1", "RunHistory1");
        QVERIFY(undo);
        QVERIFY(history);
        QCOMPARE(undo->text(), QStringLiteral("Undo Last Run..."));
        QCOMPARE(history->text(), QStringLiteral("Run History..."));
        // Nothing to undo yet: said, and nothing asked.
        DialogScript dialogs;
        undo->trigger();
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("There is no run to undo.")});
    }

    void commandLineRunUndoneFromTheWindow()
    {
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, kAreas);
        QCOMPARE(cli({"delete", "--areas", "1", "--files", "--yes"}).code, 0);
        const QMap<QString, QByteArray> deleted = BbsState(*m_bbs, kAreas);
        QVERIFY(!deleted.contains(QStringLiteral("rec 1 A.ZIP")));
        QVERIFY(!deleted.contains(QStringLiteral("file 1 B.ZIP")));

        ServerLogin login;
        QVERIFY(login.ok());
        TRunHistoryForm form;
        auto* runs = form.findChild<QTreeWidget*>(QStringLiteral("RunTree"));
        auto* entries = form.findChild<QTreeWidget*>(QStringLiteral("EntryTree"));
        auto* undo = form.findChild<QPushButton*>(QStringLiteral("b_Undo"));
        QVERIFY(runs && entries && undo);
        QCOMPARE(runs->topLevelItemCount(), 1);
        QCOMPARE(runs->topLevelItem(0)->text(3), QStringLiteral("delete --areas 1 --files --yes"));
        QCOMPARE(runs->topLevelItem(0)->text(6), QStringLiteral("2"));
        QVERIFY(!undo->isEnabled());
        runs->setCurrentItem(runs->topLevelItem(0));
        QCOMPARE(form.ChosenRun(), 1u);
        QCOMPARE(entries->topLevelItemCount(), 4); // two records, two files
        QCOMPARE(entries->topLevelItem(0)->text(1), QStringLiteral("record deleted"));
        QCOMPARE(entries->topLevelItem(0)->text(3), QStringLiteral("A.ZIP"));
        QCOMPARE(entries->topLevelItem(1)->text(1), QStringLiteral("file trashed"));
        QVERIFY(undo->isEnabled());

        // The preview answered No changes nothing.
        {
            DialogScript dialogs;
            dialogs.answer(DialogAnswer::No);
            undo->click();
            QCOMPARE(dialogs.shown.size(), 1);
            QCOMPARE(dialogs.shown[0].kind, MessageKind::Confirmation);
            QVERIFY2(dialogs.shown[0].text.startsWith(
                         QStringLiteral("Undo run 1 (delete --areas 1 --files --yes)?")),
                     qPrintable(dialogs.shown[0].text));
            QVERIFY(dialogs.shown[0].text.contains(QStringLiteral("puts back 4 changes")));
        }
        QCOMPARE(BbsState(*m_bbs, kAreas), deleted);

        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes);
        undo->click();
        QCOMPARE(dialogs.shown.size(), 2);
        QCOMPARE(dialogs.shown[1].kind, MessageKind::Information);
        QCOMPARE(dialogs.shown[1].text, QStringLiteral("Run 1 undone: 4 changes put back."));
        QCOMPARE(BbsState(*m_bbs, kAreas), before);

        // The list shows the undo; the run undone can't be undone again.
        QCOMPARE(runs->topLevelItemCount(), 2);
        QCOMPARE(runs->topLevelItem(0)->text(3), QStringLiteral("undo 1"));
        QCOMPARE(runs->topLevelItem(1)->text(9), QStringLiteral("undone by 2"));
        runs->setCurrentItem(runs->topLevelItem(1));
        QCOMPARE(form.ChosenRun(), 1u);
        QVERIFY(!undo->isEnabled());
    }

    void windowRunInHistoryAndUndoLastRun()
    {
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, kAreas);
        auto w = OpenMainWindow();
        QCOMPARE(w->FileListBox->Lines()->lines(), (QStringList{"A.ZIP", "B.ZIP"}));
        SelectRows(*w, {0});
        {
            DialogScript dialogs;
            dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
            w->b_DeleteClick();
        }
        QCOMPARE(w->FileListBox->Lines()->lines(), QStringList{"B.ZIP"});
        QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("A.ZIP")));

        // The window's run, seen from the command line.
        const CliRun history = cli({QStringLiteral("history")});
        QCOMPARE(history.code, 0);
        QVERIFY2(history.out.startsWith(QStringLiteral("1\t")), qPrintable(history.out));
        QVERIFY2(history.out.contains(QStringLiteral("\twindow delete: 1 records, files from disk\t"
                                                     "added 0, changed 0, deleted 1, moved 0, "
                                                     "files trashed 1\t-")),
                 qPrintable(history.out));

        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes);
        MenuAction(*w, "Edit1", "UndoLastRun1")->trigger();
        QVERIFY2(dialogs.texts().value(0).startsWith(QStringLiteral("Undo run 1 (window delete")),
                 qPrintable(dialogs.texts().join(QLatin1Char('|'))));
        QCOMPARE(dialogs.texts().value(1), QStringLiteral("Run 1 undone: 2 changes put back."));
        QCOMPARE(BbsState(*m_bbs, kAreas), before);
        // The list shows the record again.
        QCOMPARE(w->FileListBox->Lines()->lines(), (QStringList{"A.ZIP", "B.ZIP"}));
        // An undo is not undone by "Undo Last Run": nothing is left to undo.
        MenuAction(*w, "Edit1", "UndoLastRun1")->trigger();
        QCOMPARE(dialogs.texts().value(2), QStringLiteral("There is no run to undo."));
    }

    void runHistoryFromTheMenuWithAConflict()
    {
        QCOMPARE(cli({"delete", "--areas", "1", "--files", "--yes"}).code, 0);
        // B.ZIP's name is taken again since the run.
        const QByteArray other("a new B");
        m_bbs->addFile(1, QStringLiteral("B.ZIP"), &other);
        auto w = OpenMainWindow();

        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes);
        bool driven = false;
        OnNextModal([&driven](QWidget* modal) {
            auto* form = qobject_cast<TRunHistoryForm*>(modal);
            if (!form)
                return;
            auto* runs = form->findChild<QTreeWidget*>(QStringLiteral("RunTree"));
            runs->setCurrentItem(runs->topLevelItem(0));
            form->findChild<QPushButton*>(QStringLiteral("b_Undo"))->click();
            driven = true;
            form->findChild<QPushButton*>(QStringLiteral("b_Close"))->click();
        });
        MenuAction(*w, "Managers1", "RunHistory1")->trigger();
        QVERIFY(driven);
        QCOMPARE(dialogs.shown.size(), 2);
        // The preview names the conflict; so does the outcome, a warning.
        QVERIFY2(dialogs.shown[0].text.contains(QStringLiteral("area 1 B.ZIP: record deleted")),
                 qPrintable(dialogs.shown[0].text));
        QCOMPARE(dialogs.shown[1].kind, MessageKind::Warning);
        QVERIFY2(dialogs.shown[1].text.contains(QStringLiteral("were left as they are")),
                 qPrintable(dialogs.shown[1].text));
        QVERIFY(dialogs.shown[1].text.contains(QStringLiteral("area 1 B.ZIP")));
        const QMap<QString, QByteArray> after = BbsState(*m_bbs, kAreas);
        QCOMPARE(after.value(QStringLiteral("file 1 A.ZIP")), QByteArray("first file"));
        QCOMPARE(after.value(QStringLiteral("file 1 B.ZIP")), other);
        QCOMPARE(w->FileListBox->Lines()->lines(), (QStringList{"A.ZIP", "B.ZIP"}));
    }

    void unwritableTrashStopsAWindowCommand()
    {
        const QString trash = QDir(m_bbs->home()).filePath(QStringLiteral("trash"));
        QDir(trash).removeRecursively();
        QVERIFY(WriteFile(trash, "in the way"));
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, kAreas);
        auto w = OpenMainWindow();
        SelectRows(*w, {0, 1});
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        w->b_DeleteClick();
        QCOMPARE(dialogs.shown.size(), 3);
        QCOMPARE(dialogs.shown[2].kind, MessageKind::Warning);
        QVERIFY2(dialogs.shown[2].text.contains(trash), qPrintable(dialogs.shown[2].text));
        QCOMPARE(BbsState(*m_bbs, kAreas), before);
        QCOMPARE(cli({QStringLiteral("history")}).out, QString());
    }
};

VT_TEST_MAIN(TestRunHistory)
#include "test_runhistory.moc"
