// The file list manager: the exact bytes it writes, and its run control.
#include "ManagerTestSupport.h"

#include "filter/SearchRecord.h"
#include "managers/ManagerSupport.h"
#include "managers/TFileListMgrForm.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>
#include <memory>

namespace
{

// The example block of the file list's layout, line by line as written.
const QList<QByteArray> kExampleBlock{
    "       ",
    "===[   3: Utilities ]===========================================================",
    "README.TXT            512 03/15/97 14:05 Read this first                        ",
    "TOOLS.ZIP             640 11/02/96 09:30 Assorted small tools for the sysop     ",
    "--------------------------------------------------------------------------------",
    "    Total Files: 2                                                              ",
    "================================================================================",
};

QByteArray Joined(const QList<QByteArray>& lines)
{
    QByteArray out;
    for (const QByteArray& line : lines)
        out += line + "\r\n";
    return out;
}

// The test's own padding, independent of the program's.
QByteArray Left(QByteArray text, int width)
{
    text = text.left(width);
    return text + QByteArray(width - text.size(), ' ');
}

QByteArray Right(QByteArray text, int width)
{
    text = text.left(width);
    return QByteArray(width - text.size(), ' ') + text;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void SetRecord(FullFileRec& full, int32_t size, FILETIME time, const QByteArray& description)
{
    full.Rec.Size = size;
    full.Rec.FileTime = time;
    std::memset(full.Rec.Description, 0, sizeof full.Rec.Description);
    std::memcpy(full.Rec.Description, description.constData(),
                std::min<size_t>(description.size(), sizeof full.Rec.Description - 1));
}

} // namespace

class TestFileListMgr : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    QTemporaryDir m_out;
    QString m_longAreaName;

    QString outputPath() const { return QDir(m_out.path()).filePath(QStringLiteral("files.txt")); }

    void addFile(int area, const char* name, int32_t size, FILETIME time, const QByteArray& desc)
    {
        m_bbs->addFile(area, QString::fromLatin1(name), nullptr,
                       [&](FullFileRec& full) { SetRecord(full, size, time, desc); });
    }

    // Area 1 "General": two files; area 3 "Utilities": the example's files;
    // area 5: an over-long name, a long description and a 9-digit size;
    // area 7: only text files; area 9: no files.
    void fillBbs()
    {
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(3, QStringLiteral("Utilities"));
        m_longAreaName =
            QStringLiteral("A very long area name that goes on and on past the heading width");
        m_bbs->addArea(5, m_longAreaName);
        m_bbs->addArea(7, QStringLiteral("Texts"));
        m_bbs->addArea(9, QStringLiteral("Nothing"));
        addFile(1, "FIRST.ZIP", 1, TestTime(2001, 1, 2, 3, 4), "First file");
        addFile(1, "SECOND.ZIP", 22, TestTime(1999, 12, 31, 23, 59), "");
        addFile(3, "README.TXT", 512, TestTime(1997, 3, 15, 14, 5), "Read this first");
        addFile(3, "TOOLS.ZIP", 640, TestTime(1996, 11, 2, 9, 30),
                "Assorted small tools for the sysop");
        addFile(5, "BIG.ZIP", 123456789, TestTime(2010, 6, 7, 8, 9),
                "A description of more than thirty-nine characters, cut");
        addFile(5, "LATIN.ZIP", 7, TestTime(1998, 5, 1, 0, 0), "Caf\xe9 cr\xe8me");
        addFile(7, "NOTES.TXT", 300, TestTime(1998, 5, 1, 17, 45), "Notes");
    }

    // Counts the areas a run begins: each shows its number in the area box.
    void countAreasBegun(TFileListMgrForm& form, int& count)
    {
        connect(form.e_FileArea, &QLineEdit::textChanged, this, [&count](const QString& t) {
            if (!t.isEmpty())
                ++count;
        });
    }

    static void setNameFilter(const char* text)
    {
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        std::strncpy(CurrentSearchRecord.Template.Rec.Name, text,
                     sizeof CurrentSearchRecord.Template.Rec.Name - 1);
    }

    static QByteArray heading(const QByteArray& areaLine)
    {
        QByteArray h = "===[" + areaLine + " ]=";
        h = h.left(80);
        return h + QByteArray(80 - h.size(), '=');
    }

    static void run(TFileListMgrForm& form, const QList<int>& areas, const QString& path)
    {
        SelectAreas(form.AreaListBox, areas);
        form.e_OutputFile->setText(path);
        form.b_MakeFileList->click();
    }

private slots:
    void initTestCase()
    {
        EventPump::SetInterval(0);
        QVERIFY(m_out.isValid());
    }

    void init()
    {
        std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        fillBbs();
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
        QFile::remove(outputPath());
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void layoutAndCaptions()
    {
        TFileListMgrForm form;
        form.show();
        QCOMPARE(form.windowTitle(), QStringLiteral("File List Manager"));
        QCOMPARE(form.AreaListBox->count(), 5);
        QCOMPARE(form.AreaListBox->width(), 234);
        QCOMPARE(form.b_Close->text(), QStringLiteral("C&lose"));
        QCOMPARE(form.b_MakeFileList->text(), QStringLiteral("&Make File List"));
        QCOMPARE(form.b_MakeFileList->width(), 100);
        QCOMPARE(form.b_BrowseZipFile->text(), QStringLiteral("&Browse..."));
        QCOMPARE(form.b_SetFilter->text(), QStringLiteral("Choose/Set &Filter"));
        QCOMPARE(form.cb_ApplyFilter->text(), QStringLiteral("Apply File Filter"));
        QCOMPARE(form.gb_FilterOptions->title(), QStringLiteral("File Filter Options"));
        QCOMPARE(form.gb_Progress->title(), QStringLiteral("Progress"));
        QVERIFY(!form.gb_Progress->isVisible());
        QVERIFY(form.e_OutputFile->text().isEmpty());
        form.close();
    }

    void exampleBlock()
    {
        TFileListMgrForm form;
        form.show();
        DialogScript dialogs;
        run(form, {3}, outputPath());
        QVERIFY(dialogs.shown.isEmpty());
        for (const QByteArray& line : kExampleBlock.mid(1))
            QCOMPARE(line.size(), 80);
        QCOMPARE(ReadAll(outputPath()), Joined(kExampleBlock));
        form.close();
    }

    void layout()
    {
        TFileListMgrForm form;
        form.show();
        DialogScript dialogs;
        run(form, {1, 3, 5, 9}, outputPath());
        QVERIFY(dialogs.shown.isEmpty());
        const QByteArray longLine = "   5: " + m_longAreaName.toLatin1();
        QByteArray expected = Joined(
            {"       ", heading("   1: General"),
             Left("FIRST.ZIP", 17) + Right("1", 8) + " 01/02/01 03:04 " + Left("First file", 39),
             Left("SECOND.ZIP", 17) + Right("22", 8) + " 12/31/99 23:59 " + Left("", 39),
             QByteArray(80, '-'), Left("    Total Files: 2", 80), QByteArray(80, '=')});
        expected += Joined(kExampleBlock);
        expected +=
            Joined({"       ", heading(longLine),
                    Left("BIG.ZIP", 17) + "12345678" + " 06/07/10 08:09 " +
                        "A description of more than thirty-nine ", // 39 of 54
                    Left("LATIN.ZIP", 17) + Right("7", 8) + " 05/01/98 00:00 " +
                        Left("Caf\xe9 cr\xe8me", 39),
                    QByteArray(80, '-'), Left("    Total Files: 2", 80), QByteArray(80, '=')});
        // The over-long heading is cut to 80 and loses its closing " ]=".
        QVERIFY(heading(longLine).size() == 80 && !heading(longLine).endsWith("]="));
        const QByteArray written = ReadAll(outputPath());
        QCOMPARE(written, expected);
        // Area 9 has no files: no block at all.
        QVERIFY(!written.contains("Nothing"));
        QVERIFY(!form.IsRunning());
        QVERIFY(!form.gb_Progress->isVisible());
        QCOMPARE(form.e_FilesIncluded->text(), QStringLiteral("0"));
        QCOMPARE(form.e_TotalFilesIncluded->text(), QStringLiteral("0"));
        QCOMPARE(form.e_FileArea->text(), QString());
        QCOMPARE(form.ProgressBar1->value(), 0);
        form.close();
    }

    void filterLeavesOutAreasWithoutMatches()
    {
        setNameFilter("ZIP");
        TFileListMgrForm form;
        form.show();
        bool opened = false;
        OnNextModal([&](QWidget* w) {
            opened = true;
            w->close();
        });
        form.b_SetFilter->click();
        QVERIFY(opened);
        QVERIFY(form.cb_ApplyFilter->isChecked());
        QCOMPARE(form.e_FilterFile->text(), QString());
        DialogScript dialogs;
        run(form, {3, 7}, outputPath());
        // Area 7 holds only NOTES.TXT: not even its heading is written.
        QCOMPARE(
            ReadAll(outputPath()),
            Joined(
                {"       ", heading("   3: Utilities"),
                 "TOOLS.ZIP             640 11/02/96 09:30 Assorted small tools for the sysop     ",
                 QByteArray(80, '-'), Left("    Total Files: 1", 80), QByteArray(80, '=')}));
        // Unchecking lists every file again.
        form.cb_ApplyFilter->setChecked(false);
        run(form, {3}, outputPath());
        QCOMPARE(ReadAll(outputPath()), Joined(kExampleBlock));
        form.close();
    }

    void emptyOutputPath()
    {
        TFileListMgrForm form;
        form.show();
        DialogScript dialogs;
        run(form, {3}, QStringLiteral("   "));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Choose a file to save file list.")});
        QCOMPARE(dialogs.shown.first().kind, MessageKind::Information);
        QVERIFY(!form.gb_Progress->isVisible());
        form.close();
    }

    void oldListIsReplaced()
    {
        {
            QFile old(outputPath());
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("OLD LIST LINE\r\n");
        }
        TFileListMgrForm form;
        form.show();
        DialogScript dialogs;
        // Blanks around a typed path are dropped.
        run(form, {3}, QStringLiteral("  ") + outputPath() + QStringLiteral(" "));
        QCOMPARE(ReadAll(outputPath()), Joined(kExampleBlock));
        // No area selected: the old file is deleted and nothing is written.
        run(form, {}, outputPath());
        QVERIFY(!QFile::exists(outputPath()));
        QVERIFY(dialogs.shown.isEmpty());
        form.close();
    }

    void oldListThatCannotBeDeleted()
    {
        // A folder stands where the list should go: it cannot be deleted
        // like a file, and nothing may be appended to it.
        const QString path = QDir(m_out.path()).filePath(QStringLiteral("folder.txt"));
        QVERIFY(QDir().mkpath(path));
        TFileListMgrForm form;
        form.show();
        DialogScript dialogs;
        run(form, {3}, path);
        QCOMPARE(dialogs.texts(),
                 QStringList{QStringLiteral("Could not delete the old file list %1. "
                                            "No file list was made.")
                                 .arg(path)});
        QCOMPARE(dialogs.shown.first().kind, MessageKind::Warning);
        QVERIFY(!form.IsRunning());
        QVERIFY(!form.gb_Progress->isVisible());
        QCOMPARE(form.b_Close->text(), QStringLiteral("C&lose"));
        QVERIFY(QFileInfo(path).isDir());
        form.close();
    }

    void writeFailureEndsRun()
    {
        const QString path =
            QDir(m_out.path()).filePath(QStringLiteral("no-such-folder/files.txt"));
        TFileListMgrForm form;
        form.show();
        DialogScript dialogs;
        int areasBegun = 0;
        countAreasBegun(form, areasBegun);
        run(form, {1, 3, 5}, path);
        // One warning; the run ends at the first record of the next area.
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("File Write Error!")});
        QCOMPARE(areasBegun, 2);
        QVERIFY(!form.IsRunning());
        QCOMPARE(form.b_Close->text(), QStringLiteral("C&lose"));
        QVERIFY(!QFile::exists(path));
        form.close();
    }

    // The blocks are appended while the next area is listed. An append
    // that fails part way, at any block, is told once; the file keeps what
    // was written before, and the run ends in the area after it, as if
    // each block were written before the next area began.
    void writeFailureAtEachBlock_data()
    {
        QTest::addColumn<int>("failing");
        for (int k = 1; k <= 4; ++k)
            QTest::addRow("block %d of 4", k) << k;
    }
    void writeFailureAtEachBlock()
    {
        QFETCH(int, failing);
        const QList<int> areas{1, 3, 5, 7};
        QByteArray full;
        {
            TFileListMgrForm form;
            form.show();
            DialogScript dialogs;
            run(form, areas, outputPath());
            QVERIFY(dialogs.shown.isEmpty());
            full = ReadAll(outputPath());
            form.close();
        }
        // Where each block starts: its blank line and heading.
        QList<qsizetype> starts;
        for (qsizetype at = full.indexOf("       \r\n===["); at >= 0;
             at = full.indexOf("       \r\n===[", at + 1))
            starts << at;
        QCOMPARE(starts.size(), 4);
        starts << full.size();
        const qsizetype limit = starts[failing - 1] + (starts[failing] - starts[failing - 1]) / 2;
        QFile::remove(outputPath());

        TFileListMgrForm form;
        form.show();
        DialogScript dialogs;
        int areasBegun = 0;
        countAreasBegun(form, areasBegun);
        {
            FileSizeLimit cap{rlim_t(limit)};
            QVERIFY(cap.ok());
            run(form, areas, outputPath());
        }
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("File Write Error!")});
        QCOMPARE(ReadAll(outputPath()), full.left(limit));
        QCOMPARE(areasBegun, std::min(failing + 1, 4));
        QVERIFY(!form.IsRunning());
        QCOMPARE(form.b_Close->text(), QStringLiteral("C&lose"));
        form.close();
    }

    void cancelKeepsEarlierBlocks()
    {
        TFileListMgrForm form;
        form.show();
        bool makeDisabled = false, selectDisabled = false, closeEnabled = false;
        QString closeCaption;
        // "Cancel" while area 3 is being listed.
        WhenDuringRun(
            [&] { return form.IsRunning() && form.e_FileArea->text() == QLatin1String("3"); },
            [&] {
                makeDisabled = !form.b_MakeFileList->isEnabled();
                selectDisabled = !form.b_SelectAll->isEnabled() && !form.b_DeselectAll->isEnabled();
                closeEnabled = form.b_Close->isEnabled();
                closeCaption = form.b_Close->text();
                form.b_Close->click();
            });
        DialogScript dialogs;
        run(form, {1, 3, 5}, outputPath());
        QVERIFY(makeDisabled && selectDisabled && closeEnabled);
        QCOMPARE(closeCaption, QStringLiteral("Cancel"));
        const QByteArray written = ReadAll(outputPath());
        QVERIFY(written.startsWith(Joined({"       ", heading("   1: General")})));
        QVERIFY(written.endsWith(
            Joined({QByteArray(80, '-'), Left("    Total Files: 2", 80), QByteArray(80, '=')})));
        QVERIFY(!written.contains("Utilities"));
        QVERIFY(!written.contains("BIG.ZIP"));
        QVERIFY(!form.IsRunning());
        QVERIFY(form.isVisible()); // Cancel stops the run; the window stays
        QCOMPARE(form.b_Close->text(), QStringLiteral("C&lose"));
        QVERIFY(!form.gb_Progress->isVisible());
        QVERIFY(form.b_MakeFileList->isEnabled());
        form.close();
        QVERIFY(!form.isVisible());
    }

    void closeBoxDuringRunStopsIt()
    {
        TFileListMgrForm form;
        form.show();
        WhenDuringRun([&] { return form.IsRunning(); }, [&] { form.close(); });
        DialogScript dialogs;
        run(form, {1, 3}, outputPath());
        QVERIFY(form.isVisible());
        QVERIFY(!form.IsRunning());
        QVERIFY(!QFile::exists(outputPath())); // stopped in the first area
        form.close();
        QVERIFY(!form.isVisible());
    }

    void browse_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("expected");
        QTest::newRow("no extension") << "/tmp/list"
                                      << "/tmp/list.txt";
        QTest::newRow(".txt kept") << "/tmp/list.txt"
                                   << "/tmp/list.txt";
        QTest::newRow(".TXT kept") << "/tmp/LIST.TXT"
                                   << "/tmp/LIST.TXT";
        QTest::newRow(".doc gets .txt") << "/tmp/list.doc"
                                        << "/tmp/list.doc.txt";
        QTest::newRow("five characters") << "a.txt"
                                         << "a.txt.txt";
        QTest::newRow("cancel keeps the old path") << ""
                                                   << "kept";
    }

    void browse()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, expected);
        TFileListMgrForm form;
        form.show();
        form.e_OutputFile->setText(QStringLiteral("kept"));
        FileDialogScript files;
        files.paths << chosen;
        form.b_BrowseZipFile->click();
        QCOMPARE(form.e_OutputFile->text(), expected);
        QCOMPARE(files.requests.size(), 1);
        QCOMPARE(files.requests.first().kind, FileDialogKind::Save);
        QCOMPARE(files.requests.first().filter,
                 QStringLiteral("TXT Files|*.txt;*.doc|All Files|*.*"));
        QVERIFY(files.requests.first().confirmOverwrite);
        QVERIFY(files.requests.first().mustExist);
        form.close();
    }

    void selectAll()
    {
        TFileListMgrForm form;
        form.show();
        form.b_SelectAll->click();
        QCOMPARE(form.AreaListBox->selectedItems().size(), 5);
        form.b_DeselectAll->click();
        QCOMPARE(form.AreaListBox->selectedItems().size(), 0);
        form.close();
    }

    void lineHelpers()
    {
        FileRec rec{};
        std::strcpy(rec.Name, "README.TXT");
        rec.Size = 512;
        rec.FileTime = TestTime(1997, 3, 15, 14, 5);
        std::strcpy(rec.Description, "Read this first");
        QCOMPARE(FileListLine(rec), kExampleBlock.at(2));
        rec.Size = -5;
        QCOMPARE(FileListLine(rec).mid(17, 8), QByteArray("      -5"));
        QCOMPARE(FileListHeading(QStringLiteral("   3: Utilities")), kExampleBlock.at(1));
        QCOMPARE(FileListTotalLine(2), kExampleBlock.at(5));
    }
};

VT_TEST_MAIN(TestFileListMgr)
#include "test_filelistmgr.moc"
