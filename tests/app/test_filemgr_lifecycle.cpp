// Start and end of the main window: failed login, first start without
// vuru.cfg, the close path.
#include "AppTestSupport.h"

#include "config/TSetupDlg.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

class TestFileMgrLifecycle : public QObject
{
    Q_OBJECT
private slots:
    void noServerClosesAfterTimer();
    void firstStartOpensSetup_data();
    void firstStartOpensSetup();
    void existingConfigIsRead();
    void closeLogsOutAndDeletesTempFiles();
    void splashReleasedOnShow();
};

void TestFileMgrLifecycle::noServerClosesAfterTimer()
{
    ProgramFolderScope folder(false);
    QTemporaryDir empty; // no database here: no server
    const QByteArray old = qgetenv("WCSRV_HOME");
    qputenv("WCSRV_HOME", QFile::encodeName(empty.path()));
    DialogScript dialogs;
    QElapsedTimer clock;
    clock.start();
    auto w = OpenMainWindow();
    QVERIFY(w->isVisible());
    QVERIFY(!w->LoggedIn());
    QVERIFY(!w->ContextCreated());
    QVERIFY(w->FailedToLogin->isActive());
    QCOMPARE(w->AreaListBox->count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(!w->isVisible(), 5000);
    const qint64 shown = clock.elapsed();
    QVERIFY2(shown >= 1400 && shown < 4000, qPrintable(QString::number(shown)));
    // Connecting failed: no message, and no configuration was written.
    QVERIFY(dialogs.shown.isEmpty());
    QVERIFY(!QFile::exists(folder.configPath()));
    qputenv("WCSRV_HOME", old);
}

void TestFileMgrLifecycle::firstStartOpensSetup_data()
{
    QTest::addColumn<bool>("ok");
    QTest::newRow("OK writes the file") << true;
    QTest::newRow("Cancel leaves it absent") << false;
}

void TestFileMgrLifecycle::firstStartOpensSetup()
{
    QFETCH(bool, ok);
    ProgramFolderScope folder(false);
    TestBbs bbs(QStringLiteral("Sam Sysop"));
    QVERIFY(bbs.ok());
    bbs.addArea(1, QStringLiteral("Uploads"));
    DialogScript dialogs;
    QString caption, sysop, home, zip;
    int listedWhileOpen = -1;
    TFileMgr* mainWindow = nullptr;
    OnNextModal([&](QWidget* modal) {
        auto* setup = qobject_cast<TSetupDlg*>(modal);
        QVERIFY(setup);
        caption = setup->windowTitle();
        sysop = setup->e_SysopName->text();
        home = setup->e_wcHomeDir->text();
        zip = setup->e_Tools_Prg1->text();
        QCOMPARE(setup->PageControl1->currentWidget(), setup->General);
        // The window is not usable yet: the dialog is modal over it.
        listedWhileOpen = mainWindow ? mainWindow->FileListBox->Count() : -1;
        if (ok) {
            setup->e_wcHomeDir->setText(QStringLiteral("  /bbs/home/  "));
            setup->e_Tools_Prg1->setText(QStringLiteral("/usr/bin/unzip-viewer"));
            QTest::mouseClick(setup->BitBtn1, Qt::LeftButton);
        } else {
            QTest::mouseClick(setup->BitBtn2, Qt::LeftButton);
        }
    });
    auto w = std::make_unique<TFileMgr>();
    mainWindow = w.get();
    w->show();
    QCOMPARE(caption, QStringLiteral("Setup"));
    QCOMPARE(sysop, QStringLiteral("Sam Sysop"));
    // The home of the BBS the program runs on is proposed.
    QCOMPARE(home, bbs.home() + u'/');
    QCOMPARE(zip, QStringLiteral("xdg-open"));
    QVERIFY(listedWhileOpen >= 0);
    QVERIFY(dialogs.shown.isEmpty());
    QCOMPARE(QFile::exists(folder.configPath()), ok);
    if (ok) {
        QCOMPARE(HomeDirSetting, QStringLiteral("/bbs/home/"));
        QCOMPARE(ZipViewerSetting, QStringLiteral("/usr/bin/unzip-viewer"));
    } else {
        QCOMPARE(HomeDirSetting, bbs.home() + u'/');
        QCOMPARE(ZipViewerSetting, QStringLiteral("xdg-open"));
    }
}

void TestFileMgrLifecycle::existingConfigIsRead()
{
    ProgramFolderScope folder(false);
    {
        QFile cfg(folder.configPath());
        QVERIFY(cfg.open(QIODevice::WriteOnly));
        cfg.write("[general]\nwchomedir = \"/srv/bbs/\"\n[TOOLS]\nZipViewer_Prg1=/opt/zv\n");
    }
    TestBbs bbs;
    QVERIFY(bbs.ok());
    DialogScript dialogs;
    auto w = OpenMainWindow();
    QVERIFY(w->LoggedIn());
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(HomeDirSetting, QStringLiteral("/srv/bbs/"));
    QCOMPARE(ZipViewerSetting, QStringLiteral("/opt/zv"));
    QCOMPARE(ProgramFolder, folder.folder());
}

void TestFileMgrLifecycle::closeLogsOutAndDeletesTempFiles()
{
    ProgramFolderScope folder;
    TestBbs bbs;
    QVERIFY(bbs.ok());
    DialogScript dialogs;
    auto w = OpenMainWindow();
    QVERIFY(w->LoggedIn());
    const QString t1 = folder.folder() + QStringLiteral("one.tmp");
    const QString t2 = folder.folder() + QStringLiteral("two.tmp");
    for (const QString& p : {t1, t2}) {
        QFile f(p);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    w->TempFileList << t1 << folder.folder() + QStringLiteral("gone.tmp") << t2;
    w->Exit1->trigger();
    QVERIFY(!w->isVisible());
    QVERIFY(!w->LoggedIn());
    QVERIFY(!QFile::exists(t1));
    QVERIFY(!QFile::exists(t2));
    QVERIFY(dialogs.shown.isEmpty());
    // Logged out: a new login succeeds.
    ServerLogin again;
    QVERIFY(again.ok());
}

void TestFileMgrLifecycle::splashReleasedOnShow()
{
    ProgramFolderScope folder;
    TestBbs bbs;
    QVERIFY(bbs.ok());
    DialogScript dialogs;
    auto* splash = new QWidget;
    splash->show();
    QPointer<QWidget> watch(splash);
    TFileMgr w;
    w.SetSplash(splash);
    w.show();
    QVERIFY(!splash->isVisible());
    QTRY_VERIFY(watch.isNull());
}

VT_TEST_MAIN(TestFileMgrLifecycle)
#include "test_filemgr_lifecycle.moc"
