// The setup window against a real BBS and a real vuru.cfg.
#include "config/IniFile.h"
#include "config/Settings.h"
#include "config/TSetupDlg.h"
#include "server/AreaFiles.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

Q_DECLARE_METATYPE(CodePage)

class TestSetupDlg : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void layoutAndCaptions();
    void freshFileExactContent();
    void showReadsStoredValues();
    void writeKeepsOtherLines();
    void cancelWritesNothing();
    void browseReplacesProgram_data();
    void browseReplacesProgram();
    void writeFailureShowsErrorAndCloses();
    void noBbsConfigLeavesEditsEmpty();
    void failedWriteKeepsOldFile_data();
    void failedWriteKeepsOldFile();
    void lineBreaksStayInValue_data();
    void lineBreaksStayInValue();
    void lineBreaksInIniFile_data();
    void lineBreaksInIniFile();
    void codePageOfSetting_data();
    void codePageOfSetting();
    void codePageWritten_data();
    void codePageWritten();
    void allowLinksShownAndWritten_data();
    void allowLinksShownAndWritten();
    void fileEchoesShownAndWritten();
    void fileEchoesBadLineKeepsWindow_data();
    void fileEchoesBadLineKeepsWindow();
    void fileEchoesUntouchedNotWritten();

private:
    QString cfg() const { return ProgramFolder + QStringLiteral("vuru.cfg"); }
    QByteArray readCfg() const
    {
        QFile f(cfg());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    // Shows the window, lets `drive` act on it, and returns the result.
    int run(const std::function<void(TSetupDlg&)>& drive)
    {
        TSetupDlg dlg;
        int result = -1;
        OnNextModal([&](QWidget*) { drive(dlg); });
        result = dlg.exec();
        return result;
    }
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    std::unique_ptr<DialogScript> m_dialogs;
};

void TestSetupDlg::init()
{
    m_folder = std::make_unique<QTemporaryDir>();
    ProgramFolderOverride = m_folder->path() + u'/';
    ProgramFolder = DetermineProgramFolder();
    ZipViewerSetting.clear();
    m_bbs = std::make_unique<TestBbs>(QStringLiteral("Pat Sysop"));
    QVERIFY(m_bbs->ok());
    // As the program does once it runs on the BBS.
    HomeDirSetting = DefaultHomeDir();
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
    m_dialogs = std::make_unique<DialogScript>();
}

void TestSetupDlg::cleanup()
{
    m_dialogs.reset();
    m_login.reset();
    m_bbs.reset();
    ProgramFolderOverride.clear();
    m_folder.reset();
    SetRecordCodePage(RecordCodePage::Latin1);
    SetAreaLinksAllowed(false);
}

void TestSetupDlg::layoutAndCaptions()
{
    TSetupDlg dlg;
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Setup"));
    QCOMPARE(dlg.size(), QSize(411, 310));
    QCOMPARE(dlg.PageControl1->count(), 3);
    QCOMPARE(dlg.PageControl1->tabText(0), QStringLiteral("General"));
    QCOMPARE(dlg.PageControl1->tabText(1), QStringLiteral("Tools Menu"));
    QCOMPARE(dlg.PageControl1->tabText(2), QStringLiteral("File Echoes"));
    QCOMPARE(dlg.b_Tools_Browse1->text(), QStringLiteral("..."));
    QVERIFY(dlg.b_Tools_Browse1->font().bold());
    QVERIFY(dlg.findChild<QLineEdit*>(QStringLiteral("e_SysopName")));
    QCOMPARE(dlg.e_SysopName->maxLength(), 32767); // no limit of our own
}

void TestSetupDlg::freshFileExactContent()
{
    QString sysop, home, zip;
    const int result = run([&](TSetupDlg& dlg) {
        sysop = dlg.e_SysopName->text();
        home = dlg.e_wcHomeDir->text();
        zip = dlg.e_Tools_Prg1->text();
        dlg.e_SysopName->setText(QStringLiteral("  Pat Sysop "));
        dlg.e_wcHomeDir->setText(QStringLiteral(" /srv/wc5 "));
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(sysop, QStringLiteral("Pat Sysop"));
    // The home the program runs on is proposed.
    QCOMPARE(home, m_bbs->home() + u'/');
    QCOMPARE(zip, QStringLiteral("xdg-open"));
    // Written in order, each value trimmed; a missing backslash stays missing.
    const QByteArray expected = "[General]\nSysopName=Pat Sysop\nwcHomeDir=/srv/wc5\n"
                                "[Tools]\nZipViewer_Prg1=xdg-open\n";
    QByteArray content = readCfg();
    content.replace("\r\n", "\n");
    QCOMPARE(content, expected);
    QCOMPARE(ZipViewerSetting, QStringLiteral("xdg-open"));
    // The home folder takes effect the next time the file is read.
    QCOMPARE(HomeDirSetting, m_bbs->home() + u'/');
    QVERIFY(m_dialogs->shown.isEmpty());
}

void TestSetupDlg::showReadsStoredValues()
{
    {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[General]\nSysopName=Stored Name\nwcHomeDir=/stored/\n[Tools]\n"
                "ZipViewer_Prg1=/stored/viewer\n");
    }
    QString sysop, home, zip;
    run([&](TSetupDlg& dlg) {
        sysop = dlg.e_SysopName->text();
        home = dlg.e_wcHomeDir->text();
        zip = dlg.e_Tools_Prg1->text();
        dlg.reject();
    });
    QCOMPARE(sysop, QStringLiteral("Stored Name"));
    QCOMPARE(home, QStringLiteral("/stored/"));
    QCOMPARE(zip, QStringLiteral("/stored/viewer"));
    // Showing the window takes the home folder as it stands in the edit.
    QCOMPARE(HomeDirSetting, QStringLiteral("/stored/"));
}

void TestSetupDlg::writeKeepsOtherLines()
{
    const QByteArray original = "; my settings\r\n[Tools]\r\nOther=1\r\nZipViewer_Prg1=old\r\n"
                                "[General]\r\nSysopName=Old\r\n";
    {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(original);
    }
    run([&](TSetupDlg& dlg) {
        dlg.e_Tools_Prg1->setText(QStringLiteral("new\\viewer"));
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    const QByteArray content = readCfg();
    QVERIFY(
        content.startsWith("; my settings\r\n[Tools]\r\nOther=1\r\nZipViewer_Prg1=new\\viewer"));
    QVERIFY(content.contains("SysopName=Old"));
    QVERIFY(content.contains("wcHomeDir=" + QFile::encodeName(m_bbs->home()) + "/"));
    QCOMPARE(ZipViewerSetting, QStringLiteral("new\\viewer"));
}

void TestSetupDlg::cancelWritesNothing()
{
    const int result = run([&](TSetupDlg& dlg) {
        dlg.e_Tools_Prg1->setText(QStringLiteral("/changed"));
        QTest::mouseClick(dlg.BitBtn2, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QVERIFY(!QFile::exists(cfg()));
    QVERIFY(ZipViewerSetting.isEmpty());
}

void TestSetupDlg::browseReplacesProgram_data()
{
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("shown");
    QTest::newRow("a file chosen") << "/usr/bin/viewer"
                                   << "/usr/bin/viewer";
    QTest::newRow("chooser cancelled") << ""
                                       << "xdg-open";
}

void TestSetupDlg::browseReplacesProgram()
{
    QFETCH(QString, chosen);
    QFETCH(QString, shown);
    FileDialogScript files;
    files.paths << chosen;
    QString text;
    run([&](TSetupDlg& dlg) {
        QTest::mouseClick(dlg.b_Tools_Browse1, Qt::LeftButton);
        text = dlg.e_Tools_Prg1->text();
        QTest::mouseClick(dlg.BitBtn2, Qt::LeftButton);
    });
    QCOMPARE(text, shown);
    QCOMPARE(files.requests.size(), 1);
    QCOMPARE(files.requests.first().title, QStringLiteral("Locate Zip File Viewer Program..."));
    QCOMPARE(files.requests.first().filter,
             QStringLiteral("EXEs, COMs|*.exe; *.com|Short Cuts|*.lnk|All Files|*.*"));
    QVERIFY(files.requests.first().mustExist);
    QVERIFY(!QFile::exists(cfg())); // Cancel after browsing writes nothing
}

void TestSetupDlg::writeFailureShowsErrorAndCloses()
{
    // The configuration path is a folder: the write cannot succeed.
    QVERIFY(QDir().mkdir(cfg()));
    ZipViewerSetting = QStringLiteral("before");
    const int result = run([&](TSetupDlg& dlg) {
        dlg.e_Tools_Prg1->setText(QStringLiteral("/after"));
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_dialogs->shown.first().kind, MessageKind::Error);
    QCOMPARE(m_dialogs->shown.first().text, QStringLiteral("Unable to write to ") + cfg());
    QCOMPARE(ZipViewerSetting, QStringLiteral("before"));
}

void TestSetupDlg::noBbsConfigLeavesEditsEmpty()
{
    // Without a login the BBS configuration is not available.
    m_login.reset();
    HomeDirSetting = QStringLiteral("/kept/");
    QString sysop, home;
    run([&](TSetupDlg& dlg) {
        sysop = dlg.e_SysopName->text();
        home = dlg.e_wcHomeDir->text();
        dlg.reject();
    });
    QVERIFY(sysop.isEmpty());
    QVERIFY(home.isEmpty());
    QVERIFY(HomeDirSetting.isEmpty());
}

namespace
{

} // namespace

void TestSetupDlg::failedWriteKeepsOldFile_data()
{
    QTest::addColumn<int>("limit");
    QTest::newRow("nothing can be written") << 0;
    // The first changed key would fit; the whole new content does not.
    QTest::newRow("cut part-way") << 30;
}

void TestSetupDlg::failedWriteKeepsOldFile()
{
    QFETCH(int, limit);
    const QByteArray original = "[General]\r\nSysopName=Old\r\n"; // 26 bytes
    {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(original), original.size());
    }
    ZipViewerSetting = QStringLiteral("before");
    bool limited = false;
    const int result = run([&](TSetupDlg& dlg) {
        dlg.e_SysopName->setText(QStringLiteral("New"));
        dlg.e_wcHomeDir->setText(QStringLiteral("/srv/wc5/"));
        dlg.e_Tools_Prg1->setText(QStringLiteral("/usr/bin/viewer"));
        FileSizeLimit sizeLimit{rlim_t(limit)};
        limited = sizeLimit.ok();
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    QVERIFY(limited);
    QCOMPARE(result, int(QDialog::Accepted));
    // The write did fail: the error box, and the setting left alone.
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_dialogs->shown.first().kind, MessageKind::Error);
    QCOMPARE(m_dialogs->shown.first().text, QStringLiteral("Unable to write to ") + cfg());
    QCOMPARE(ZipViewerSetting, QStringLiteral("before"));
    // The old file byte for byte, and no part-written file left beside it.
    QCOMPARE(readCfg(), original);
    QCOMPARE(QDir(ProgramFolder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("vuru.cfg")});

    // What the same limit does to a file written in place: it is cut, which
    // is what a failure part-way would have left of vuru.cfg.
    const QString inPlace = ProgramFolder + QStringLiteral("inplace.cfg");
    const QByteArray whole = "[General]\r\nSysopName=New\r\nwcHomeDir=/srv/wc5/\r\n"
                             "[Tools]\r\nZipViewer_Prg1=/usr/bin/viewer\r\n";
    {
        QFile f(inPlace);
        QVERIFY(f.open(QIODevice::WriteOnly));
        FileSizeLimit sizeLimit{rlim_t(limit)};
        QVERIFY(sizeLimit.ok());
        f.write(whole);
        f.close();
    }
    QCOMPARE(QFileInfo(inPlace).size(), qint64(limit));

    // Without the limit the same OK writes the whole content.
    m_dialogs->shown.clear();
    QVERIFY(QFile::remove(inPlace));
    run([&](TSetupDlg& dlg) {
        dlg.e_SysopName->setText(QStringLiteral("New"));
        dlg.e_wcHomeDir->setText(QStringLiteral("/srv/wc5/"));
        dlg.e_Tools_Prg1->setText(QStringLiteral("/usr/bin/viewer"));
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    QVERIFY(m_dialogs->shown.isEmpty());
    QCOMPARE(readCfg(), whole);
    QCOMPARE(ZipViewerSetting, QStringLiteral("/usr/bin/viewer"));
}

void TestSetupDlg::lineBreaksStayInValue_data()
{
    QTest::addColumn<QString>("sysop");
    QTest::addColumn<QString>("zip");
    QTest::addColumn<QByteArray>("sysopLine");
    QTest::addColumn<QByteArray>("zipLine");
    QTest::newRow("LF") << "Pat\nSysop"
                        << "/bin/z" << QByteArray("SysopName=Pat Sysop")
                        << QByteArray("ZipViewer_Prg1=/bin/z");
    QTest::newRow("CR LF") << "Pat\r\nSysop"
                           << "/bin/z" << QByteArray("SysopName=Pat Sysop")
                           << QByteArray("ZipViewer_Prg1=/bin/z");
    QTest::newRow("lone CR") << "Pat\rSysop"
                             << "/bin/z" << QByteArray("SysopName=Pat Sysop")
                             << QByteArray("ZipViewer_Prg1=/bin/z");
    QTest::newRow("several breaks in a row")
        << "Pat\r\n\r\n\nSysop"
        << "/bin/z" << QByteArray("SysopName=Pat Sysop") << QByteArray("ZipViewer_Prg1=/bin/z");
    QTest::newRow("break at the end")
        << "Pat\r\n"
        << "/bin/z\n"
        << QByteArray("SysopName=Pat") << QByteArray("ZipViewer_Prg1=/bin/z");
    QTest::newRow("a section and key in a value")
        << "Pat"
        << "/bin/z\r\n[General]\r\nwcHomeDir=/evil/" << QByteArray("SysopName=Pat")
        << QByteArray("ZipViewer_Prg1=/bin/z [General] wcHomeDir=/evil/");
}

void TestSetupDlg::lineBreaksStayInValue()
{
    QFETCH(QString, sysop);
    QFETCH(QString, zip);
    QFETCH(QByteArray, sysopLine);
    QFETCH(QByteArray, zipLine);
    QString shownSysop;
    run([&](TSetupDlg& dlg) {
        dlg.e_SysopName->setText(sysop);
        dlg.e_wcHomeDir->setText(QStringLiteral("/srv/wc5/"));
        dlg.e_Tools_Prg1->setText(zip);
        shownSysop = dlg.e_SysopName->text();
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    // The edit does hold the line break: it reaches the write.
    QCOMPARE(shownSysop, sysop);
    QVERIFY(m_dialogs->shown.isEmpty());
    // Five lines exactly, each value on its key's line.
    QCOMPARE(readCfg(), "[General]\r\n" + sysopLine + "\r\nwcHomeDir=/srv/wc5/\r\n[Tools]\r\n" +
                            zipLine + "\r\n");
    // Read back, the key under [General] is the one written there.
    const IniFile ini(cfg());
    QCOMPARE(ini.ReadString(QStringLiteral("General"), QStringLiteral("wcHomeDir"), QString()),
             QStringLiteral("/srv/wc5/"));
}

void TestSetupDlg::lineBreaksInIniFile_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("expected");
    const QByteArray head = "; kept\n[General]\nSysopName=Old\n";
    const QByteArray tail = "\n[Tools]\nZipViewer_Prg1=/bin/z\n";
    QTest::newRow("existing key, CR LF in value")
        << "General"
        << "SysopName"
        << "a\r\nb" << QByteArray("; kept\n[General]\nSysopName=a b\n" + tail.mid(1));
    QTest::newRow("new key, LF in value") << "General"
                                          << "Extra"
                                          << "x\ny" << QByteArray(head + "Extra=x y" + tail);
    QTest::newRow("line break in key") << "General"
                                       << "Ex\ntra"
                                       << "1" << QByteArray(head + "Ex tra=1" + tail);
    QTest::newRow("line break in section")
        << "New\r\nSection"
        << "K"
        << "v" << QByteArray(head + tail.mid(1) + "[New Section]\nK=v\n");
}

void TestSetupDlg::lineBreaksInIniFile()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(QByteArray, expected);
    {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("; kept\n[General]\nSysopName=Old\n[Tools]\nZipViewer_Prg1=/bin/z\n");
    }
    IniFile ini(cfg());
    ini.WriteString(section, key, value);
    QCOMPARE(readCfg(), expected);
}

void TestSetupDlg::codePageOfSetting_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<CodePage>("page");
    QTest::newRow("no file") << QByteArray() << CodePage::Latin1;
    QTest::newRow("no key") << QByteArray("[General]\nSysopName=A\n") << CodePage::Latin1;
    QTest::newRow("437") << QByteArray("[General]\nCodePage=437\n") << CodePage::Cp437;
    QTest::newRow("437 blanks, any case")
        << QByteArray("[general]\r\ncodepage = 437 \r\n") << CodePage::Cp437;
    QTest::newRow("850") << QByteArray("[General]\nCodePage=850\n") << CodePage::Cp850;
    QTest::newRow("852") << QByteArray("[General]\nCodePage=852\n") << CodePage::Cp852;
    QTest::newRow("866") << QByteArray("[General]\nCodePage=866\n") << CodePage::Cp866;
    QTest::newRow("Latin1") << QByteArray("[General]\nCodePage=Latin1\n") << CodePage::Latin1;
    QTest::newRow("latin1, any case")
        << QByteArray("[General]\nCodePage=latin1\n") << CodePage::Latin1;
    QTest::newRow("unknown value") << QByteArray("[General]\nCodePage=1252\n") << CodePage::Latin1;
    QTest::newRow("other section") << QByteArray("[Tools]\nCodePage=437\n") << CodePage::Latin1;
}

void TestSetupDlg::codePageOfSetting()
{
    QFETCH(QByteArray, file);
    QFETCH(CodePage, page);
    if (!file.isNull()) {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(file);
    }
    QCOMPARE(ReadCodePageSetting(IniFile(cfg())), page);
    int shown = -1;
    QStringList items;
    run([&](TSetupDlg& dlg) {
        shown = dlg.cb_CodePage->currentIndex();
        for (int i = 0; i < dlg.cb_CodePage->count(); ++i)
            items << dlg.cb_CodePage->itemText(i);
        dlg.reject();
    });
    QCOMPARE(shown, int(page));
    QCOMPARE(items, (QStringList{QStringLiteral("Latin-1 (Windows)"),
                                 QStringLiteral("437 (DOS, United States)"),
                                 QStringLiteral("850 (DOS, Western Europe)"),
                                 QStringLiteral("852 (DOS, Central Europe)"),
                                 QStringLiteral("866 (DOS, Cyrillic)")}));
}

void TestSetupDlg::codePageWritten_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<CodePage>("chosen");
    QTest::addColumn<QByteArray>("after");
    // @HOME@: the home of the test's BBS, proposed by the window.
    const QByteArray keys = "[General]\nSysopName=Pat Sysop\nwcHomeDir=@HOME@\n";
    const QByteArray tools = "[Tools]\nZipViewer_Prg1=xdg-open\n";
    // Unset and absent, the file holds only the three keys, as always.
    QTest::newRow("fresh, off") << QByteArray() << CodePage::Latin1 << keys + tools;
    QTest::newRow("fresh, on") << QByteArray() << CodePage::Cp437
                               << keys + "CodePage=437\n" + tools;
    QTest::newRow("on, then off") << keys + "CodePage=437\n" + tools << CodePage::Latin1
                                  << keys + "CodePage=Latin1\n" + tools;
    QTest::newRow("Latin1, then on")
        << keys + "CodePage=Latin1\n" + tools << CodePage::Cp437 << keys + "CodePage=437\n" + tools;
    QTest::newRow("fresh, 866") << QByteArray() << CodePage::Cp866
                                << keys + "CodePage=866\n" + tools;
    QTest::newRow("437, then 852")
        << keys + "CodePage=437\n" + tools << CodePage::Cp852 << keys + "CodePage=852\n" + tools;
    QTest::newRow("fresh, 850") << QByteArray() << CodePage::Cp850
                                << keys + "CodePage=850\n" + tools;
}

void TestSetupDlg::codePageWritten()
{
    QFETCH(QByteArray, before);
    QFETCH(CodePage, chosen);
    QFETCH(QByteArray, after);
    const QByteArray home = QFile::encodeName(m_bbs->home()) + '/';
    before.replace("@HOME@", home);
    after.replace("@HOME@", home);
    if (!before.isNull()) {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    SetRecordCodePage(chosen == RecordCodePage::Latin1 ? RecordCodePage::Cp437
                                                       : RecordCodePage::Latin1);
    const int result = run([&](TSetupDlg& dlg) {
        dlg.cb_CodePage->setCurrentIndex(int(chosen));
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QByteArray content = readCfg();
    content.replace("\r\n", "\n");
    QCOMPARE(content, after);
    // OK takes the new code page at once.
    QCOMPARE(CurrentRecordCodePage(), chosen);
}

void TestSetupDlg::allowLinksShownAndWritten_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<bool>("check");
    QTest::addColumn<QByteArray>("after");
    // A fresh file gets the home the program runs on as its proposal; the
    // test puts it in for HOME once that home is set.
    const QByteArray keys = "[General]\nSysopName=Pat Sysop\nwcHomeDir=HOME\n";
    const QByteArray tools = "[Tools]\nZipViewer_Prg1=xdg-open\n";
    // Off and absent, the file holds only the three keys, as always.
    QTest::newRow("fresh, left off") << QByteArray() << false << false << keys + tools;
    QTest::newRow("fresh, on") << QByteArray() << false << true << keys + "AllowLinks=1\n" + tools;
    QTest::newRow("on, then off") << keys + "AllowLinks=1\n" + tools << true << false
                                  << keys + "AllowLinks=0\n" + tools;
    QTest::newRow("off, then on") << keys + "AllowLinks=0\n" + tools << false << true
                                  << keys + "AllowLinks=1\n" + tools;
    QTest::newRow("another value is off")
        << keys + "AllowLinks=yes\n" + tools << false << false << keys + "AllowLinks=0\n" + tools;
}

// "Allow links in file area folders": the check box shows "General",
// "AllowLinks" of vuru.cfg, OK writes it (only when on or already there)
// and the adding of files follows it at once.
void TestSetupDlg::allowLinksShownAndWritten()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, shown);
    QFETCH(bool, check);
    QFETCH(QByteArray, after);
    const QByteArray home = QFile::encodeName(DefaultHomeDir());
    before.replace("wcHomeDir=HOME", "wcHomeDir=" + home);
    after.replace("wcHomeDir=HOME", "wcHomeDir=" + home);
    if (!before.isNull()) {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(before);
    }
    QCOMPARE(ReadAllowLinksSetting(IniFile(cfg())), shown);
    SetAreaLinksAllowed(!check);
    bool wasShown = !shown;
    const int result = run([&](TSetupDlg& dlg) {
        QCOMPARE(dlg.cb_AllowLinks->parentWidget(), dlg.General);
        QCOMPARE(dlg.cb_AllowLinks->text(), QStringLiteral("Allow links in file area folders"));
        wasShown = dlg.cb_AllowLinks->isChecked();
        dlg.cb_AllowLinks->setChecked(check);
        QTest::mouseClick(dlg.BitBtn1, Qt::LeftButton);
    });
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(wasShown, shown);
    QByteArray content = readCfg();
    content.replace("\r\n", "\n");
    QCOMPARE(content, after);
    QCOMPARE(AreaLinksAllowed(), check);
}

void TestSetupDlg::fileEchoesShownAndWritten()
{
    {
        QFile f(cfg());
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("[TIC]\r\nInbound=/in\r\nUploader=Tic Robot\r\nReplaceSameName=0\r\n"
                "; the echoes\r\n[TicAreas]\r\nGAMES=2\r\nnodelist=1\r\n"
                "[TicPasswords]\r\n21:1/100=SECRET\r\n[Other]\r\nKey=kept\r\n");
    }
    const int result = run([&](TSetupDlg& dlg) {
        QCOMPARE(dlg.e_TicInbound->text(), QStringLiteral("/in"));
        QCOMPARE(dlg.e_TicBadFolder->text(), QString());
        QCOMPARE(dlg.e_TicUploader->text(), QStringLiteral("Tic Robot"));
        QVERIFY(!dlg.cb_TicReplaceSameName->isChecked());
        QCOMPARE(dlg.m_TicAreas->toPlainText(), QStringLiteral("GAMES=2\nnodelist=1"));
        QCOMPARE(dlg.m_TicPasswords->toPlainText(), QStringLiteral("21:1/100=SECRET"));
        dlg.e_TicInbound->setText(QStringLiteral(" /var/spool/inbound "));
        dlg.e_TicBadFolder->setText(QStringLiteral("/var/spool/bad"));
        dlg.cb_TicReplaceSameName->setChecked(true);
        dlg.m_TicAreas->setPlainText(QStringLiteral("GAMES = 2\n\n  UTILS=7  \nnodelist=1\n"));
        dlg.m_TicPasswords->setPlainText(QString());
        dlg.BitBtn1->click();
    });
    QCOMPARE(result, int(QDialog::Accepted));
    const IniFile ini(cfg());
    TicSettings expected;
    expected.inbound = QStringLiteral("/var/spool/inbound");
    expected.badFolder = QStringLiteral("/var/spool/bad");
    expected.uploader = QStringLiteral("Tic Robot");
    expected.replaceSameName = true;
    expected.areas = {{QStringLiteral("GAMES"), 2},
                      {QStringLiteral("UTILS"), 7},
                      {QStringLiteral("nodelist"), 1}};
    QStringList problems;
    QCOMPARE(ReadTicSettings(ini, &problems), expected);
    QVERIFY(problems.isEmpty());
    QCOMPARE(ini.ReadString(QStringLiteral("Other"), QStringLiteral("Key"), QString()),
             QStringLiteral("kept"));
    QVERIFY(readCfg().contains("; the echoes"));
}

void TestSetupDlg::fileEchoesBadLineKeepsWindow_data()
{
    QTest::addColumn<QString>("areas");
    QTest::addColumn<QString>("passwords");
    QTest::addColumn<QString>("message");
    QTest::newRow("no equals") << "GAMES"
                               << ""
                               << "Echoes: \"GAMES\" is not a line of the form TAG=AREA.";
    QTest::newRow("no tag") << "=2"
                            << ""
                            << "Echoes: \"=2\" is not a line of the form TAG=AREA.";
    QTest::newRow("area not a number") << "GAMES=two"
                                       << ""
                                       << "Echoes: GAMES=two is not an area number.";
    QTest::newRow("area zero") << "GAMES=0"
                               << ""
                               << "Echoes: GAMES=0 is not an area number.";
    QTest::newRow("password line")
        << "GAMES=2"
        << "21:1/100"
        << "Passwords: \"21:1/100\" is not a line of the form ADDRESS=PASSWORD.";
}

void TestSetupDlg::fileEchoesBadLineKeepsWindow()
{
    QFETCH(QString, areas);
    QFETCH(QString, passwords);
    QFETCH(QString, message);
    const int result = run([&](TSetupDlg& dlg) {
        dlg.m_TicAreas->setPlainText(areas);
        dlg.m_TicPasswords->setPlainText(passwords);
        dlg.BitBtn1->click();
        // Still open, on the tab with the line, and nothing written.
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.PageControl1->currentWidget(), dlg.FileEchoes);
        QVERIFY(!QFile::exists(cfg()));
        dlg.BitBtn2->click();
    });
    QCOMPARE(result, int(QDialog::Rejected));
    QCOMPARE(m_dialogs->texts(), QStringList{message});
    QVERIFY(!QFile::exists(cfg()));
}

void TestSetupDlg::fileEchoesUntouchedNotWritten()
{
    // OK without a change to the tab: the file gets no TIC sections.
    const int result = run([&](TSetupDlg& dlg) { dlg.BitBtn1->click(); });
    QCOMPARE(result, int(QDialog::Accepted));
    const QByteArray text = readCfg();
    QVERIFY(!text.isEmpty());
    QVERIFY2(!text.contains("TIC") && !text.contains("Tic"), text.constData());
}

VT_TEST_MAIN(TestSetupDlg)
#include "test_setupdlg.moc"
