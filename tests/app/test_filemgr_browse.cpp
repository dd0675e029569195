// The main window on a real BBS: start-up, area listing, the record panel.
#include "AppTestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBrowser>

class TestFileMgrBrowse : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void startupFillsSelectorAndListsFirstArea();
    void areaListingStopsAtAreaBoundary_data();
    void areaListingStopsAtAreaBoundary();
    void emptyAreaShowsZero();
    void typedSelectorTextEmptiesListKeepsArea();
    void clickShowsRecordPanel();
    void diskStateFollowsFile();
    void longDescriptionDisplay_data();
    void longDescriptionDisplay();
    void twoSelectedLinesClearPanel();
    void filteredLineResolvesOwnArea();
    void editCommandsActOnFocusedField();
    void helpOpensAtContext100();
    void aboutShowsVersionAndBuild();
    void menuOpensWindowModally_data();
    void menuOpensWindowModally();

private:
    std::unique_ptr<ProgramFolderScope> m_folder;
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<DialogScript> m_dialogs;
};

void TestFileMgrBrowse::init()
{
    m_folder = std::make_unique<ProgramFolderScope>();
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_dialogs = std::make_unique<DialogScript>();
    m_bbs->addArea(1, QStringLiteral("Uploads"));
    m_bbs->addArea(2, QStringLiteral("Games"));
    m_bbs->addArea(3, QStringLiteral("Empty"));
    m_bbs->addArea(12, QStringLiteral("Utilities"));
    const QByteArray content("hello world");
    m_bbs->addFile(1, QStringLiteral("ALPHA.ZIP"), &content, [](FullFileRec& f) {
        SetRecText(f.Rec.Description, QStringLiteral("The first file"));
        SetRecText(f.Rec.Password, QStringLiteral("SECRET"));
        SetRecText(f.Rec.Uploader.UserName, QStringLiteral("Jane Upload"));
        f.Rec.Size = 1234;
        f.Rec.FileTime = TestTime(2003, 3, 15, 13, 5);
        f.Rec.LastAccessed = TestTime(1998, 7, 4, 0, 30);
        f.Rec.Downloads = 42;
        f.Rec.Cost = 7;
        f.Rec.NeverDelete = 1;
        f.Rec.FreeTime = 1;
    });
    m_bbs->addFile(1, QStringLiteral("BETA.ZIP"));
    m_bbs->addFile(1, QStringLiteral("GAMMA.TXT"));
    m_bbs->addFile(2, QStringLiteral("AAA.ZIP"));
    m_bbs->addFile(2, QStringLiteral("DOOM.ZIP"));
    m_bbs->addFile(12, QStringLiteral("FOO.ZIP"));
}

void TestFileMgrBrowse::cleanup()
{
    m_dialogs.reset();
    m_bbs.reset();
    m_folder.reset();
}

void TestFileMgrBrowse::startupFillsSelectorAndListsFirstArea()
{
    auto w = OpenMainWindow();
    QVERIFY(w->LoggedIn());
    QCOMPARE(w->windowTitle(), QStringLiteral("Vantrel File Manager"));
    QCOMPARE(w->AreaListBox->count(), 4);
    QCOMPARE(w->AreaListBox->itemText(0), QStringLiteral("   1: Uploads"));
    QCOMPARE(w->AreaListBox->itemText(3), QStringLiteral("  12: Utilities"));
    QCOMPARE(w->FileListBox->Lines()->lines(),
             QStringList({QStringLiteral("ALPHA.ZIP"), QStringLiteral("BETA.ZIP"),
                          QStringLiteral("GAMMA.TXT")}));
    QCOMPARE(w->f_Area->text(), QStringLiteral("1"));
    QCOMPARE(w->FilesInArea->text(), QStringLiteral("3"));
    QCOMPARE(w->L_FileInArea->text(), QStringLiteral("Total Files in Area:"));
    // The first line is current, nothing is selected, the panel is empty.
    QCOMPARE(w->FileListBox->ItemIndex(), 0);
    QCOMPARE(w->FileListBox->SelCount(), 0);
    QVERIFY(w->f_FileName->text().isEmpty());
    QCOMPARE(w->b_freshen->text(), QStringLiteral("F&reshen"));
    QVERIFY(w->L_FileFound->text().isEmpty());
    QCOMPARE(DatePicture, QStringLiteral("MM/dd/yy"));
    QCOMPARE(TimePicture, QStringLiteral("hh:mm"));
    QCOMPARE(HomeDirSetting, QStringLiteral("/wc5/"));
    QCOMPARE(ZipViewerSetting, QStringLiteral("xdg-open"));
    QVERIFY(m_dialogs->shown.isEmpty());
    // Menus and shortcuts.
    QCOMPARE(w->DeletionMgr1->shortcut(), QKeySequence(Qt::Key_F5));
    QCOMPARE(w->FileFilterMgr1->shortcut(), QKeySequence(Qt::Key_F7));
    QCOMPARE(w->Help2->shortcut(), QKeySequence(Qt::Key_F1));
    QCOMPARE(w->SelectAll1->text(), QStringLiteral("Select &All"));
    QVERIFY(w->findChild<QAction*>(QStringLiteral("AboutVTFileMgr1")));
}

void TestFileMgrBrowse::areaListingStopsAtAreaBoundary_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("area");
    QTest::newRow("area 2 between 1 and 3")
        << 1 << QStringList{QStringLiteral("AAA.ZIP"), QStringLiteral("DOOM.ZIP")} << "2";
    QTest::newRow("area 12, the last") << 3 << QStringList{QStringLiteral("FOO.ZIP")} << "12";
    QTest::newRow("area 1, before area 2")
        << 0
        << QStringList{QStringLiteral("ALPHA.ZIP"), QStringLiteral("BETA.ZIP"),
                       QStringLiteral("GAMMA.TXT")}
        << "1";
}

void TestFileMgrBrowse::areaListingStopsAtAreaBoundary()
{
    QFETCH(int, index);
    QFETCH(QStringList, lines);
    QFETCH(QString, area);
    auto w = OpenMainWindow();
    w->ChooseArea(index);
    QCOMPARE(w->FileListBox->Lines()->lines(), lines);
    QCOMPARE(w->f_Area->text(), area);
    QCOMPARE(w->FilesInArea->text(), QString::number(lines.size()));
}

void TestFileMgrBrowse::emptyAreaShowsZero()
{
    auto w = OpenMainWindow();
    w->ChooseArea(2);
    QCOMPARE(w->FileListBox->Count(), 0);
    QCOMPARE(w->FilesInArea->text(), QStringLiteral("0"));
    QCOMPARE(w->f_Area->text(), QStringLiteral("3"));
}

void TestFileMgrBrowse::typedSelectorTextEmptiesListKeepsArea()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    QCOMPARE(w->f_FileName->text(), QStringLiteral("ALPHA.ZIP"));
    w->AreaListBox->lineEdit()->selectAll();
    QTest::keyClicks(w->AreaListBox->lineEdit(), QStringLiteral("zz"));
    QCOMPARE(w->AreaListBoxItemIndex(), -1);
    QCOMPARE(w->FileListBox->Count(), 0);
    QVERIFY(w->f_FileName->text().isEmpty());
    QCOMPARE(w->f_Area->text(), QStringLiteral("1"));
    QCOMPARE(w->FilesInArea->text(), QStringLiteral("3"));
}

void TestFileMgrBrowse::clickShowsRecordPanel()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    QCOMPARE(w->ShownItemIndex, 0);
    QCOMPARE(w->f_FileName->text(), QStringLiteral("ALPHA.ZIP"));
    QCOMPARE(w->f_size->text(), QStringLiteral("1234"));
    QCOMPARE(w->f_FileDate->text(), QStringLiteral("03/15/03"));
    QCOMPARE(w->f_FileTime->text(), QStringLiteral("13:05"));
    QCOMPARE(w->f_accessDate->text(), QStringLiteral("07/04/98"));
    QCOMPARE(w->f_accessTime->text(), QStringLiteral("00:30"));
    QCOMPARE(w->f_downloads->text(), QStringLiteral("42"));
    QCOMPARE(w->f_cost->text(), QStringLiteral("7"));
    QVERIFY(w->cbf_NeverDelete->isChecked());
    QVERIFY(w->cbf_FreeTime->isChecked());
    QVERIFY(!w->cbf_NeverOverWrite->isChecked());
    QVERIFY(!w->cbf_FreeFile->isChecked());
    QVERIFY(!w->cbf_FailedScan->isChecked());
    QVERIFY(!w->cbf_CopyBeforeDL->isChecked());
    QCOMPARE(w->f_uploader->text(), QStringLiteral("Jane Upload"));
    QCOMPARE(w->f_Password->text(), QStringLiteral("SECRET"));
    QCOMPARE(w->f_desc->text(), QStringLiteral("The first file"));
    // Filling the panel is no edit.
    QCOMPARE(w->b_freshen->text(), QStringLiteral("F&reshen"));
    QVERIFY(!w->RecordChanged);
}

void TestFileMgrBrowse::diskStateFollowsFile()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    QCOMPARE(w->L_FileFound->text(), QStringLiteral("File exists on disk"));
    ClickLine(*w, 1);
    QCOMPARE(w->L_FileFound->text(), QStringLiteral("File not found on disk"));
    QVERIFY(w->L_FileFound->styleSheet().contains(QStringLiteral("red")));
}

void TestFileMgrBrowse::longDescriptionDisplay_data()
{
    QTest::addColumn<int>("has");
    QTest::addColumn<QStringList>("stored");
    QTest::addColumn<QString>("shown");
    QTest::newRow("trimmed, empty lines dropped")
        << 1 << QStringList{QStringLiteral("  first \t"), QString(), QStringLiteral("third")}
        << QStringLiteral("first\nthird");
    QTest::newRow("flag off hides stored lines")
        << 0 << QStringList{QStringLiteral("hidden")} << QString();
    QStringList fifteen;
    for (int i = 0; i < 15; ++i)
        fifteen << QStringLiteral("line %1").arg(i);
    QTest::newRow("all fifteen") << 1 << fifteen << fifteen.join(u'\n');
}

void TestFileMgrBrowse::longDescriptionDisplay()
{
    QFETCH(int, has);
    QFETCH(QStringList, stored);
    QFETCH(QString, shown);
    m_bbs->addFile(2, QStringLiteral("LONG.ZIP"), nullptr, [&](FullFileRec& f) {
        f.Rec.HasLongDescription = has;
        for (int i = 0; i < stored.size(); ++i)
            SetRecText(f.LongDescription[i], stored.at(i));
    });
    auto w = OpenMainWindow();
    w->ChooseArea(1);
    ClickLine(*w, RowOf(*w, QStringLiteral("LONG.ZIP")));
    QCOMPARE(w->Long_Desc->toPlainText(), shown);
}

void TestFileMgrBrowse::twoSelectedLinesClearPanel()
{
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    ClickLine(*w, 2, Qt::ControlModifier);
    QCOMPARE(w->FileListBox->SelCount(), 2);
    QVERIFY(w->f_FileName->text().isEmpty());
    QCOMPARE(w->ShownItemIndex, -1);
    ClickLine(*w, 2);
    QCOMPARE(w->FileListBox->SelCount(), 1);
    QCOMPARE(w->f_FileName->text(), QStringLiteral("GAMMA.TXT"));
}

void TestFileMgrBrowse::filteredLineResolvesOwnArea()
{
    auto w = OpenMainWindow();
    w->FileListBox->Lines()->SetLines({QStringLiteral("  12: FOO.ZIP")});
    const EntryRef e = w->EntryOfLine(0);
    QCOMPARE(e.area, 12);
    QCOMPARE(e.name, QStringLiteral("FOO.ZIP"));
    ClickLine(*w, 0);
    QCOMPARE(w->f_Area->text(), QStringLiteral("12"));
    QCOMPARE(w->f_FileName->text(), QStringLiteral("FOO.ZIP"));
}

void TestFileMgrBrowse::editCommandsActOnFocusedField()
{
    auto w = OpenMainWindow();
    w->activateWindow();
    ClickLine(*w, 0);
    w->f_desc->setFocus();
    QTRY_VERIFY(w->f_desc->hasFocus());
    w->SelectAll1->trigger();
    QCOMPARE(w->f_desc->selectedText(), QStringLiteral("The first file"));
    w->Cut1->trigger();
    QVERIFY(w->f_desc->text().isEmpty());
    w->Paste1->trigger();
    QCOMPARE(w->f_desc->text(), QStringLiteral("The first file"));
    // With the list focused the commands do nothing.
    w->FileListBox->setFocus();
    QTRY_VERIFY(w->FileListBox->hasFocus());
    w->Cut1->trigger();
    QCOMPARE(w->f_desc->text(), QStringLiteral("The first file"));
}

void TestFileMgrBrowse::helpOpensAtContext100()
{
    auto w = OpenMainWindow();
    QVERIFY(QFile::exists(QCoreApplication::applicationDirPath() + QStringLiteral("/VURU.HLP")));
    w->Help2->trigger();
    auto* browser = w->findChild<QTextBrowser*>(QStringLiteral("HelpText"));
    QVERIFY(browser);
    QVERIFY(browser->isVisible());
    QVERIFY(browser->toPlainText().contains(QStringLiteral("Vantrel File Manager")));
    QVERIFY(m_dialogs->shown.isEmpty());
}

void TestFileMgrBrowse::aboutShowsVersionAndBuild()
{
    auto w = OpenMainWindow();
    QStringList texts;
    QString caption;
    OnNextModal([&](QWidget* modal) {
        caption = modal->windowTitle();
        for (QLabel* l : modal->findChildren<QLabel*>())
            texts << l->text();
        modal->close();
    });
    w->AboutVTFileMgr1->trigger();
    QCOMPARE(caption, QStringLiteral("About"));
    QVERIFY(texts.contains(QStringLiteral("Version: 1.1")));
    QVERIFY(texts.contains(QStringLiteral("Build #16")));
}

void TestFileMgrBrowse::menuOpensWindowModally_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("windowClass");
    QTest::newRow("F5") << "DeletionMgr1"
                        << "TDelMgr";
    QTest::newRow("F6") << "MoveMgr1"
                        << "TMoveMgr";
    QTest::newRow("F7") << "FileFilterMgr1"
                        << "TMatchForm";
    QTest::newRow("F8") << "FileListMgr1"
                        << "TFileListMgrForm";
    QTest::newRow("setup") << "SetupFileMgr1"
                           << "TSetupDlg";
}

void TestFileMgrBrowse::menuOpensWindowModally()
{
    QFETCH(QString, action);
    QFETCH(QString, windowClass);
    auto w = OpenMainWindow();
    const QStringList before = w->FileListBox->Lines()->lines();
    QString opened;
    OnNextModal([&](QWidget* modal) {
        opened = QString::fromLatin1(modal->metaObject()->className());
        if (auto* dialog = qobject_cast<QDialog*>(modal))
            dialog->reject();
        else
            modal->close();
    });
    w->findChild<QAction*>(action)->trigger();
    QCOMPARE(opened, windowClass);
    // Nothing in the main window is refreshed afterwards.
    QCOMPARE(w->FileListBox->Lines()->lines(), before);
}

VT_TEST_MAIN(TestFileMgrBrowse)
#include "test_filemgr_browse.moc"
