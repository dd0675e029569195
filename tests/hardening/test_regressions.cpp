// Faults the hardening runs found, each pinned by a test of its own.
#include "HardeningSupport.h"

#include "app/TFileMgr.h"
#include "managers/TDelMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcFault.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QShowEvent>
#include <QTimer>
#include <QtTest>

#include <memory>

using namespace hard;

namespace
{

// A batch window minimised and brought back while its run goes on: the
// window system's restore arrives as a show event.
void MinimiseAndRestoreSoon(QWidget* w)
{
    QTimer::singleShot(0, w, [w]() {
        w->showMinimized();
        w->showNormal();
        QShowEvent restore;
        QApplication::sendEvent(w, &restore);
    });
}

} // namespace

class TestRegressions : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_template;
    Layout m_layout;
    std::unique_ptr<Sandbox> m_box;

private slots:
    void initTestCase()
    {
        m_template = std::make_unique<Sandbox>();
        QVERIFY(m_template->ok());
        m_layout = BuildStandardBbs(m_template->home());
        QCOMPARE(m_layout.contents.size(), 50);
    }

    void init()
    {
        WcFaultReset();
        m_box = std::make_unique<Sandbox>(m_template->root());
        QVERIFY(m_box->ok());
        m_box->enter();
    }

    void cleanup()
    {
        WcFaultReset();
        m_box.reset();
    }

    // Move button: a copy that fails after the target file was created
    // (a read or write error, a full disk) leaves a partial file in the
    // target area. Answering Yes or All to the record-only question must not
    // move the record onto it; the record stays with its intact file.
    void moveButtonNeverMovesARecordOntoAPartialCopy_data()
    {
        QTest::addColumn<QString>("failing");
        QTest::addColumn<int>("answer");
        QTest::newRow("write fails, Yes")
            << QStringLiteral("WcWriteFile") << int(DialogAnswer::Yes);
        QTest::newRow("write fails, All")
            << QStringLiteral("WcWriteFile") << int(DialogAnswer::All);
        QTest::newRow("read fails, All") << QStringLiteral("WcReadFile") << int(DialogAnswer::All);
    }

    void moveButtonNeverMovesARecordOntoAPartialCopy()
    {
        QFETCH(QString, failing);
        QFETCH(int, answer);
        // Only a copy reads and writes (on one file system a move renames).
        SplitDevices acrossFileSystems;
        AnswerHook hook{DialogAnswer(answer)};
        auto w = std::make_unique<TFileMgr>();
        w->show();
        w->ChooseArea(1);
        for (int row : {0, 1})
            w->FileListBox->SetSelected(row, true);
        w->FileListBox->SetItemIndex(1);
        const QByteArray kind = failing.toLatin1();
        WcFaultFailKind(kind.constData(), WC_NO_ACTION_TAKEN);
        ChooseTarget(3);
        w->b_MoveClick();
        WcFaultReset();
        w->close();
        w.reset();
        // The fault fired: the copy's own warning was shown.
        const QString warning = failing == QLatin1String("WcWriteFile")
                                    ? QStringLiteral("Error Writing new file")
                                    : QStringLiteral("Error Reading from file");
        QVERIFY2(hook.texts.contains(warning), qPrintable(hook.texts.join(u'\n')));
        QCOMPARE(RecordNamesIn(*m_box, 2).size(), 18);
        QCOMPARE(RecordNamesIn(*m_box, 3).size(), 20);
        Expect expect;
        expect.allowMove(m_layout.namesIn(2).mid(0, 2), 3);
        const QStringList p = CheckBbs(*m_box, m_layout, expect);
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // Move button: where the target can't be written at all (no file is
    // left there, the CD-ROM case), the record may still move alone.
    void moveButtonMovesTheRecordAloneWhenNothingWasCopied()
    {
        // Only a copy creates the target (on one file system a move renames).
        SplitDevices acrossFileSystems;
        AnswerHook hook(DialogAnswer::Yes);
        auto w = std::make_unique<TFileMgr>();
        w->show();
        w->ChooseArea(1);
        w->FileListBox->SetSelected(0, true);
        w->FileListBox->SetItemIndex(0);
        WcFaultFailKind("WcCreateFile", WC_ACCESS_DENIED);
        ChooseTarget(3);
        w->b_MoveClick();
        WcFaultReset();
        w->close();
        w.reset();
        QVERIFY(hook.texts.contains(QStringLiteral(
            "Are you moving this file to a CD-Rom FileArea?  If so, the file can not be moved to "
            "the CD-Rom.  Would you still like to move the file record info to file area #3?")));
        QCOMPARE(RecordNamesIn(*m_box, 3).size(), 21);
        // Its file stays in the source folder: still intact, no damaged copy.
        Expect expect;
        expect.allowMove(m_layout.namesIn(2).mid(0, 1), 3);
        expect.recordMayMoveAlone = true;
        expect.copiesMayStay = false;
        QStringList notes;
        const QStringList p = CheckBbs(*m_box, m_layout, expect, &notes);
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
        QVERIFY2(notes.join(u'\n').contains(QStringLiteral("records moved alone")),
                 qPrintable(notes.join(u'\n')));
    }

    // Dropped files: a dropped file named like a record of the area must not
    // replace that record's file (the new record is refused as a duplicate
    // anyway, so the old record would be left naming someone else's file).
    void dropNeverReplacesTheFileOfAnotherRecord()
    {
        const QString existing = m_layout.namesIn(1).at(1);
        const QString dropped = m_box->drop() + u'/' + existing.toLower();
        QFile f(dropped);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("an unrelated file with the same name");
        f.close();
        const QString other = m_box->drop() + QStringLiteral("/FRESH.TXT");
        QFile g(other);
        QVERIFY(g.open(QIODevice::WriteOnly));
        g.write(FileContent(QStringLiteral("FRESH.TXT"), 321));
        g.close();
        AnswerHook hook;
        auto w = std::make_unique<TFileMgr>();
        w->show();
        w->ChooseArea(0);
        w->AddDroppedFiles({dropped, other});
        w->close();
        w.reset();
        Expect expect;
        expect.mayAppear.insert(QStringLiteral("FRESH.TXT"),
                                FileContent(QStringLiteral("FRESH.TXT"), 321));
        expect.appearIn.insert(QStringLiteral("FRESH.TXT"), 1);
        expect.copiesMayStay = false;
        const QStringList p = CheckBbs(*m_box, m_layout, expect);
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
        // The other dropped file is still added.
        QCOMPARE(RecordNamesIn(*m_box, 1).size(), 13);
        QVERIFY2(hook.texts.contains(QStringLiteral("File: ") + existing +
                                     QStringLiteral(" already exists in file area #1.")),
                 qPrintable(hook.texts.join(u'\n')));
    }
    // A file that lies in the current area's folder already (an upload
    // without a record), dropped to give it a record, keeps its bytes and
    // gets a record of its size. A dropped folder creates nothing.
    void dropOfAFileInItsOwnAreaFolder_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("a file in the area's folder") << false;
        QTest::newRow("a folder") << true;
    }

    void dropOfAFileInItsOwnAreaFolder()
    {
        QFETCH(bool, folder);
        const QString name = QStringLiteral("UPLOAD.BIN");
        const QByteArray bytes = FileContent(name, 5000);
        QString path;
        Expect expect;
        if (folder) {
            path = m_box->drop() + QStringLiteral("/SUBDIR");
            QVERIFY(QDir().mkpath(path));
        } else {
            path = m_box->home() + QStringLiteral("/areas/1/") + name;
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), qint64(bytes.size()));
            f.close();
            expect.mayAppear.insert(name, bytes);
            expect.appearIn.insert(name, 1);
        }
        AnswerHook hook;
        auto w = std::make_unique<TFileMgr>();
        w->show();
        w->ChooseArea(0);
        w->AddDroppedFiles({path});
        w->close();
        w.reset();
        expect.copiesMayStay = false;
        const QStringList p = CheckBbs(*m_box, m_layout, expect);
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
        if (folder) {
            QVERIFY2(hook.texts.contains(QStringLiteral("Error Opening: ") + path),
                     qPrintable(hook.texts.join(u'\n')));
        } else {
            QVERIFY(RecordNamesIn(*m_box, 1).contains(name));
        }
    }

    // Moving a record between two areas that share one folder: the copy
    // would be onto the file it reads. The file keeps its bytes.
    void moveBetweenAreasSharingAFolder_data()
    {
        QTest::addColumn<bool>("manager");
        QTest::newRow("move button, one record") << false;
        QTest::newRow("move manager, whole area") << true;
    }

    void moveBetweenAreasSharingAFolder()
    {
        QFETCH(bool, manager);
        const std::string h = QFile::encodeName(m_box->home()).toStdString();
        QVERIFY(wcadmin::AddArea(h, 4, "Shared", wcadmin::AreaFolder(h, 2)).empty());
        QStringList moved = m_layout.namesIn(2);
        AnswerHook hook; // Yes: files too
        if (manager) {
            ServerLogin login;
            TMoveMgr form;
            form.show();
            LineOfArea(form.AreaList1, 2)->setSelected(true);
            LineOfArea(form.AreaList2, 4)->setSelected(true);
            form.b_MoveToList2Click();
            form.close();
        } else {
            moved = moved.mid(0, 1);
            auto w = std::make_unique<TFileMgr>();
            w->show();
            w->ChooseArea(1);
            w->FileListBox->SetSelected(0, true);
            w->FileListBox->SetItemIndex(0);
            ChooseTarget(4);
            w->b_MoveClick();
            w->close();
        }
        Expect expect;
        expect.allowMove(moved, 4);
        expect.copiesMayStay = false;
        const QStringList p = CheckBbs(*m_box, m_layout, expect);
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }

    // A batch run minimised and brought back part-way still works through
    // every chosen area: the deletion empties both, the file list lists
    // all three (or the run says why not).
    void batchRunMinimisedAndRestored_data()
    {
        QTest::addColumn<bool>("deletion");
        QTest::newRow("deletion manager, areas 1 and 3") << true;
        QTest::newRow("file list manager, 3 areas") << false;
    }

    void batchRunMinimisedAndRestored()
    {
        QFETCH(bool, deletion);
        AnswerHook hook;
        ServerLogin login;
        QVERIFY(login.ok());
        Expect expect;
        if (deletion) {
            for (int area : {1, 3})
                for (const QString& n : m_layout.namesIn(area))
                    expect.mayVanish << n;
            TDelMgr form;
            form.show();
            LineOfArea(form.AreaList, 1)->setSelected(true);
            LineOfArea(form.AreaList, 3)->setSelected(true);
            MinimiseAndRestoreSoon(&form);
            form.b_DeleteClick();
            form.close();
            QVERIFY2(RecordNamesIn(*m_box, 1).isEmpty() && RecordNamesIn(*m_box, 3).isEmpty(),
                     qPrintable(QStringLiteral("left in area 1: %1, in area 3: %2; shown: %3")
                                    .arg(RecordNamesIn(*m_box, 1).size())
                                    .arg(RecordNamesIn(*m_box, 3).size())
                                    .arg(hook.texts.join(QStringLiteral(" / ")))));
        } else {
            TFileListMgrForm form;
            form.show();
            form.b_SelectAllClick();
            const QString out = m_box->out() + QStringLiteral("/list.txt");
            form.e_OutputFile->setText(out);
            MinimiseAndRestoreSoon(&form);
            form.b_MakeFileListClick();
            form.close();
            QFile f(out);
            const int lines = f.open(QIODevice::ReadOnly) ? int(f.readAll().count("\r\n")) : 0;
            QVERIFY2(lines == 50 + 3 * 5 || !hook.texts.isEmpty(),
                     qPrintable(QStringLiteral("file list of %1 lines, no message").arg(lines)));
        }
        const QStringList p = CheckBbs(*m_box, m_layout, expect);
        QVERIFY2(p.isEmpty(), qPrintable(p.join(u'\n')));
    }
};

VT_TEST_MAIN(TestRegressions)
#include "test_regressions.moc"
