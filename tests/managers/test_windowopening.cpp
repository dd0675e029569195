// A window fills itself once per opening. Minimised and brought back, or
// sent another show event, during a run or between runs, it keeps its lists
// and selections, and a run goes on over every area that was chosen.
#include "ManagerTestSupport.h"

#include "managers/ManagerSupport.h"
#include "managers/TChooseFileAreaForm.h"
#include "managers/TDelMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TProgressForm.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace
{

// Counts the show events a window gets.
class ShowCounter : public QObject
{
public:
    explicit ShowCounter(QWidget* window) { window->installEventFilter(this); }
    int shows = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show)
            ++shows;
        return false;
    }
};

// What the sysop (or the window system) does to a shown window. Returns
// whether the window really was minimised on the way.
bool Disturb(QWidget* window, const QString& how)
{
    if (how == QLatin1String("minimise and restore")) {
        window->showMinimized();
        QCoreApplication::processEvents();
        const bool minimised = window->isMinimized();
        window->showNormal();
        QCoreApplication::processEvents();
        return minimised;
    }
    QShowEvent show;
    QCoreApplication::sendEvent(window, &show);
    return false;
}

QStringList SelectedLines(QListWidget* list)
{
    QStringList lines;
    for (int i = 0; i < list->count(); ++i)
        if (list->item(i)->isSelected())
            lines << list->item(i)->text();
    return lines;
}

} // namespace

class TestWindowOpening : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    const QByteArray m_content = QByteArrayLiteral("file content");

    static void disturbances()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("minimised and restored") << "minimise and restore";
        QTest::newRow("show event sent again") << "send show event";
    }

private slots:
    void initTestCase() { EventPump::SetInterval(0); }

    // Areas 1 to 3 with three records each, area 4 with two.
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        const char* const names[] = {"General", "Uploads", "Utilities", "Kept"};
        for (int area = 1; area <= 4; ++area) {
            m_bbs->addArea(area, QString::fromLatin1(names[area - 1]));
            for (int i = 1; i <= (area == 4 ? 2 : 3); ++i)
                m_bbs->addFile(area, QStringLiteral("F%1_%2.ZIP").arg(area).arg(i), &m_content);
        }
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void deletionRunCoversEveryArea_data() { disturbances(); }

    void deletionRunCoversEveryArea()
    {
        QFETCH(QString, how);
        TDelMgr form;
        form.show();
        SelectAreas(form.AreaList, {1, 2, 3});
        QCOMPARE(form.L_numFiles->text(), QStringLiteral("9"));
        ShowCounter counter(&form);
        bool disturbed = false, minimised = false;
        int showsDuringRun = -1;
        // While the first area's second record is being deleted.
        WhenDuringRun([&] { return form.IsRunning() && form.ProgressBar->value() == 2; },
                      [&] {
                          const int before = counter.shows;
                          minimised = Disturb(&form, how);
                          showsDuringRun = counter.shows - before;
                          disturbed = form.IsRunning();
                      });
        DialogScript dialogs;
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_DeleteClick();
        QVERIFY(!dialogs.unexpected);
        // The window did get its show event in the middle of the run.
        QVERIFY(disturbed);
        QCOMPARE(showsDuringRun, 1);
        if (how == QLatin1String("minimise and restore"))
            QVERIFY(minimised);
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 9"));
        for (int area : {1, 2, 3})
            QVERIFY2(NamesInArea(area).isEmpty(), qPrintable(QString::number(area)));
        QCOMPARE(NamesInArea(4).size(), 2);
        for (int area = 1; area <= 3; ++area)
            QVERIFY(!m_bbs->fileOnDisk(area, QStringLiteral("F%1_3.ZIP").arg(area)));
        // The list and its selection are as the sysop left them.
        QCOMPARE(form.AreaList->count(), 4);
        QCOMPARE(SelectedLines(form.AreaList),
                 (QStringList{QStringLiteral("   1: General"), QStringLiteral("   2: Uploads"),
                              QStringLiteral("   3: Utilities")}));
        form.close();
    }

    void fileListRunCoversEveryArea_data() { disturbances(); }

    void fileListRunCoversEveryArea()
    {
        QFETCH(QString, how);
        QTemporaryDir out;
        QVERIFY(out.isValid());
        const QString path = out.filePath(QStringLiteral("LIST.TXT"));
        TFileListMgrForm form;
        form.show();
        SelectAreas(form.AreaListBox, {1, 2, 4});
        form.e_OutputFile->setText(path);
        ShowCounter counter(&form);
        bool disturbed = false;
        int showsDuringRun = -1;
        // While the first area is being listed.
        WhenDuringRun([&] { return form.IsRunning() && form.ProgressBar1->value() == 0; },
                      [&] {
                          const int before = counter.shows;
                          Disturb(&form, how);
                          showsDuringRun = counter.shows - before;
                          disturbed = form.IsRunning();
                      });
        DialogScript dialogs;
        form.b_MakeFileList->click();
        QVERIFY(dialogs.shown.isEmpty());
        QVERIFY(disturbed);
        QCOMPARE(showsDuringRun, 1);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray list = file.readAll();
        for (const char* line : {"   1: General", "   2: Uploads", "   4: Kept"})
            QVERIFY2(list.contains(line), line);
        QVERIFY(!list.contains("   3: Utilities"));
        for (int area : {1, 2, 4})
            for (int i = 1; i <= (area == 4 ? 2 : 3); ++i)
                QVERIFY(list.contains(QStringLiteral("F%1_%2.ZIP").arg(area).arg(i).toLatin1()));
        QCOMPARE(list.count("Total Files:"), 3);
        QCOMPARE(form.e_OutputFile->text(), path);
        QCOMPARE(SelectedLines(form.AreaListBox).size(), 3);
        form.close();
    }

    void idleWindowKeepsChoices_data() { disturbances(); }

    void idleWindowKeepsChoices()
    {
        QFETCH(QString, how);
        TDelMgr form;
        form.show();
        SelectAreas(form.AreaList, {2, 4});
        form.cb_PromptFirst->setChecked(true);
        Disturb(&form, how);
        QCOMPARE(SelectedLines(form.AreaList),
                 (QStringList{QStringLiteral("   2: Uploads"), QStringLiteral("   4: Kept")}));
        QCOMPARE(form.L_numFiles->text(), QStringLiteral("5"));
        QVERIFY(form.cb_PromptFirst->isChecked());
        form.close();
        // Opened again, the window is filled anew.
        form.show();
        QVERIFY(SelectedLines(form.AreaList).isEmpty());
        QCOMPARE(form.L_numFiles->text(), QStringLiteral("0"));
        form.close();
    }

    void chooserKeepsChosenLine_data() { disturbances(); }

    void chooserKeepsChosenLine()
    {
        QFETCH(QString, how);
        TChooseFileAreaForm form;
        OnNextModal([&](QWidget* w) {
            auto* f = qobject_cast<TChooseFileAreaForm*>(w);
            QVERIFY(f);
            LineOfArea(f->AreaListBox, 3)->setSelected(true);
            Disturb(f, how);
            f->b_OK->click();
            QTimer::singleShot(2000, f, [f] { f->done(-99); });
        });
        QCOMPARE(form.exec(), 3);
        // A second opening starts with no line chosen.
        OnNextModal([&](QWidget* w) {
            auto* f = qobject_cast<TChooseFileAreaForm*>(w);
            QVERIFY(f);
            QVERIFY(f->AreaListBox->selectedItems().isEmpty());
            QCOMPARE(f->Result(), -1);
            f->b_Cancel->click();
        });
        QCOMPARE(form.exec(), -1);
    }

    void progressWindowKeepsCancel_data() { disturbances(); }

    void progressWindowKeepsCancel()
    {
        QFETCH(QString, how);
        TProgressForm form;
        form.show();
        form.b_Cancel->click();
        QVERIFY(form.CancelRequested());
        Disturb(&form, how);
        QVERIFY(form.CancelRequested());
        form.close();
        form.show();
        QVERIFY(!form.CancelRequested());
        form.close();
    }
};

VT_TEST_MAIN(TestWindowOpening)
#include "test_windowopening.moc"
