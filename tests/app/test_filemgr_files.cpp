// The main window's file commands: deleting records (with and without their
// files), the BBS file tool, dropped files, the zip viewer and the
// description import of the "extract" button.
#include "AppTestSupport.h"
#include "tests/archive/ArchiveFixtures.h"
#include "tests/archive/ZipFixtures.h"

#include "archive/DescriptionImport.h"
#include "common/AreaLines.h"
#include "platform/wcsrv/WcFault.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopeGuard>
#include <QUrl>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace
{

const QString kDeleteQuestion =
    QStringLiteral("Are you sure you want to DELETE the selected files from your File Database?");
const QString kDiskQuestion = QStringLiteral("Delete Files from Disk also?");
const QString kNotFound =
    QStringLiteral("Error: File not found.  Selected File does not exists on disk.");

bool HasRecord(int area, const QString& name)
{
    bool found = false;
    ReadRecord(area, name, &found);
    return found;
}

void SelectRows(TFileMgr& w, const QList<int>& rows)
{
    w.FileListBox->clearSelection();
    for (int row : rows)
        w.FileListBox->SetSelected(row, true);
    w.FileListBox->SetItemIndex(rows.last());
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Bytes that differ from chunk to chunk, over several copy chunks.
QByteArray Pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return bytes;
}

// The record name a dropped path gets: its last part, in upper case.
QString DroppedNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(u'/') + 1).toUpper();
}

int AreaIndex(const TFileMgr& w, int area)
{
    return w.AreaListBox->findText(AreaLinePrefix(area), Qt::MatchStartsWith);
}

} // namespace

class TestFileMgrFiles : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void deleteSelected_data();
    void deleteSelected();
    void deleteAnsweredNoKeepsAll();
    void deleteFromFilteredListTwoAreas();

    void addLaunchesTool_data();
    void addLaunchesTool();

    void dropReadmeIntoArea7();
    void dropThroughWindowEvent();
    void dropNameNotUtf8();
    void dropNameLength_data();
    void dropNameLength();
    void dropWithoutArea_data();
    void dropWithoutArea();
    void dropSecondOfThreeFails();
    void dropZipTakesDescription();
    void dropErrorEndsDropOnly();
    void dropFromAreaFolder_data();
    void dropFromAreaFolder();
    void dropNotRegularFile_data();
    void dropNotRegularFile();

    void viewZipResults_data();
    void viewZipResults();
    void viewZipNotZipOrMissing();
    void viewZipFromFilteredLine();
    void extractMendsLongDescription();
    void extractWithoutDizLeavesRecord();
    void extractSevenZip();
    void extractUnreadableKindNamesIt();
    void tempCopiesGoneAfterClose();

private:
    std::unique_ptr<ProgramFolderScope> m_folder;
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<DialogScript> m_dialogs;
    std::unique_ptr<QTemporaryDir> m_drops;

    QString dropFile(const QString& name, const QByteArray& content)
    {
        const QString path = m_drops->path() + u'/' + name;
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            qFatal("cannot write %s", qPrintable(path));
        return path;
    }
};

void TestFileMgrFiles::init()
{
    m_folder = std::make_unique<ProgramFolderScope>();
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_dialogs = std::make_unique<DialogScript>();
    m_drops = std::make_unique<QTemporaryDir>();
    m_bbs->addArea(1, QStringLiteral("Uploads"));
    m_bbs->addArea(2, QStringLiteral("Games"));
    m_bbs->addArea(7, QStringLiteral("Seven"));
}

void TestFileMgrFiles::cleanup()
{
    m_dialogs.reset();
    m_bbs.reset();
    m_drops.reset();
    m_folder.reset();
}

// ------------------------------------------------------------------ delete

void TestFileMgrFiles::deleteSelected_data()
{
    QTest::addColumn<bool>("fromDisk");
    QTest::newRow("records and files") << true;
    QTest::newRow("records only") << false;
}

void TestFileMgrFiles::deleteSelected()
{
    QFETCH(bool, fromDisk);
    const QByteArray content("data");
    for (const char* n : {"A.ZIP", "B.ZIP", "C.ZIP"})
        m_bbs->addFile(1, QString::fromLatin1(n), &content);
    auto w = OpenMainWindow();
    SelectRows(*w, {0, 2});
    m_dialogs->answer(DialogAnswer::Yes).answer(fromDisk ? DialogAnswer::Yes : DialogAnswer::No);
    w->b_DeleteClick();

    QCOMPARE(m_dialogs->texts(), (QStringList{kDeleteQuestion, kDiskQuestion}));
    QVERIFY(!HasRecord(1, QStringLiteral("A.ZIP")));
    QVERIFY(HasRecord(1, QStringLiteral("B.ZIP")));
    QVERIFY(!HasRecord(1, QStringLiteral("C.ZIP")));
    QCOMPARE(m_bbs->fileOnDisk(1, QStringLiteral("A.ZIP")), !fromDisk);
    QCOMPARE(m_bbs->fileOnDisk(1, QStringLiteral("C.ZIP")), !fromDisk);
    QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("B.ZIP")));
    QCOMPARE(w->FileListBox->Lines()->lines(), QStringList{QStringLiteral("B.ZIP")});
    QCOMPARE(w->StatusText(), QStringLiteral("File [C.ZIP] Deleted"));
    QTRY_VERIFY_WITH_TIMEOUT(w->StatusText().isEmpty(), 3000);
}

void TestFileMgrFiles::deleteAnsweredNoKeepsAll()
{
    m_bbs->addFile(1, QStringLiteral("A.ZIP"));
    auto w = OpenMainWindow();
    SelectRows(*w, {0});
    m_dialogs->answer(DialogAnswer::No);
    w->b_DeleteClick();
    QCOMPARE(m_dialogs->texts(), QStringList{kDeleteQuestion});
    QVERIFY(HasRecord(1, QStringLiteral("A.ZIP")));
    // A refused deletion reports the name and goes on.
    SelectRows(*w, {0});
    m_dialogs->answer(DialogAnswer::Yes).answer(DialogAnswer::No);
    WcFaultFailKind("DeleteFileRec", WC_NO_ACTION_TAKEN);
    QStringList statuses;
    connect(w.get(), &TFileMgr::StatusTextChanged, this,
            [&statuses](const QString& t) { statuses << t; });
    w->b_DeleteClick();
    WcFaultReset();
    QVERIFY(statuses.contains(QStringLiteral("Error: Could not delete file A.ZIP")));
    QVERIFY(HasRecord(1, QStringLiteral("A.ZIP")));
}

void TestFileMgrFiles::deleteFromFilteredListTwoAreas()
{
    const QByteArray content("x");
    m_bbs->addFile(1, QStringLiteral("SAME.ZIP"), &content);
    m_bbs->addFile(2, QStringLiteral("SAME.ZIP"), &content);
    m_bbs->addFile(2, QStringLiteral("OTHER.ZIP"), &content);
    auto w = OpenMainWindow();
    w->FileListBox->Lines()->SetLines(
        {QStringLiteral("   1: SAME.ZIP"), QStringLiteral("   2: OTHER.ZIP")});
    SelectRows(*w, {0, 1});
    m_dialogs->answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
    w->b_DeleteClick();
    QVERIFY(!HasRecord(1, QStringLiteral("SAME.ZIP")));
    QVERIFY(!HasRecord(2, QStringLiteral("OTHER.ZIP")));
    QVERIFY(HasRecord(2, QStringLiteral("SAME.ZIP")));
    QVERIFY(m_bbs->fileOnDisk(2, QStringLiteral("SAME.ZIP")));
    QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("SAME.ZIP")));
    // The plain list of the chosen area again.
    QVERIFY(w->FileListBox->Lines()->lines().isEmpty());
}

// --------------------------------------------------------------------- add

void TestFileMgrFiles::addLaunchesTool_data()
{
    QTest::addColumn<QString>("home");
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("warned");
    QTest::newRow("trailing separator") << "/wc5/" << 42 << "/wc5/wcFile.exe" << false;
    QTest::newRow("no separator, not found") << "/wc5" << 2 << "/wc5wcFile.exe" << true;
    QTest::newRow("31") << "/wc5/" << 31 << "/wc5/wcFile.exe" << true;
    QTest::newRow("32 is not below 32") << "/wc5/" << 32 << "/wc5/wcFile.exe" << false;
}

void TestFileMgrFiles::addLaunchesTool()
{
    QFETCH(QString, home);
    QFETCH(int, result);
    QFETCH(QString, program);
    QFETCH(bool, warned);
    auto w = OpenMainWindow();
    HomeDirSetting = home;
    LaunchScript launches(result);
    w->b_AddClick();
    QCOMPARE(launches.calls.size(), 1);
    QCOMPARE(launches.calls[0].program, program);
    QVERIFY(launches.calls[0].parameters.isEmpty());
    QCOMPARE(m_dialogs->texts(),
             warned ? QStringList{QStringLiteral("Could Not Find wcFile.exe!")} : QStringList{});
}

// -------------------------------------------------------------------- drop

void TestFileMgrFiles::dropReadmeIntoArea7()
{
    const QByteArray content("Read me first.\n");
    const QString path = dropFile(QStringLiteral("readme.txt"), content);
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 7));
    QCOMPARE(w->AreaListBox->currentText(), QStringLiteral("   7: Seven"));
    w->AddDroppedFiles({path});

    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));
    QVERIFY(m_bbs->fileOnDisk(7, QStringLiteral("README.TXT")));
    bool found = false;
    const FullFileRec rec = ReadRecord(7, QStringLiteral("README.TXT"), &found);
    QVERIFY(found);
    QCOMPARE(rec.Rec.Area, 7);
    QVERIFY(RecText(rec.Rec.Description).isEmpty());
    QCOMPARE(rec.Rec.HasLongDescription, 0);
    // Freshened: size and date of the copied file.
    QCOMPARE(rec.Rec.Size, int32_t(content.size()));
    QVERIFY(rec.Rec.FileTime.dwHighDateTime != 0 || rec.Rec.FileTime.dwLowDateTime != 0);
    QCOMPARE(w->FileListBox->Lines()->lines(), QStringList{QStringLiteral("README.TXT")});
}

void TestFileMgrFiles::dropThroughWindowEvent()
{
    const QString a = dropFile(QStringLiteral("one.txt"), "1");
    const QString b = dropFile(QStringLiteral("two.txt"), "22");
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 2));
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(a), QUrl::fromLocalFile(b)});
    // A drag that enters the window and is dropped there.
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &drop);
    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));
    QCOMPARE(w->FileListBox->Lines()->lines(),
             (QStringList{QStringLiteral("ONE.TXT"), QStringLiteral("TWO.TXT")}));
    QCOMPARE(ReadRecord(2, QStringLiteral("TWO.TXT")).Rec.Size, 2);
}

// A dropped name that is not UTF-8 has no exact text path: the text made of
// it ("CAF\uFFFD.ZIP") would name another file, which lies beside it here.
// The file is named and left out; nothing is copied for it, and the other
// dropped file is added.
void TestFileMgrFiles::dropNameNotUtf8()
{
    const QByteArray folder = QFile::encodeName(m_drops->path());
    const std::pair<QByteArray, QByteArray> files[] = {
        {"CAF\xc9.ZIP", "one byte"}, {"CAF\xef\xbf\xbd.ZIP", "the replacement character's file"}};
    // QTemporaryDir removes files by their text paths: these go by bytes.
    const auto removeFiles = qScopeGuard([&] {
        for (const auto& file : files)
            ::unlink((folder + '/' + file.first).constData());
    });
    for (const auto& [name, bytes] : files) {
        const int fd = ::open((folder + '/' + name).constData(), O_WRONLY | O_CREAT, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, bytes.constData(), std::size_t(bytes.size())), bytes.size());
        ::close(fd);
    }
    const QString ok = dropFile(QStringLiteral("ok.txt"), "fine");
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 2));
    QMimeData mime;
    const QByteArray notUtf8 = folder + "/CAF\xc9.ZIP";
    mime.setUrls(
        {QUrl::fromEncoded("file://" + notUtf8.toPercentEncoding("/")), QUrl::fromLocalFile(ok)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w.get(), &drop);
    QCOMPARE(m_dialogs->texts(),
             QStringList{QStringLiteral("File: CAF\u00c9.ZIP can't be added: its name is not "
                                        "UTF-8.")});
    QCOMPARE(w->FileListBox->Lines()->lines(), QStringList{QStringLiteral("OK.TXT")});
    QCOMPARE(QDir(m_bbs->areaFolder(2)).entryList(QDir::Files), QStringList{"OK.TXT"});
}

void TestFileMgrFiles::dropNameLength_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("14") << "abcdefghij.txt" << true;
    QTest::newRow("15") << "abcdefghijk.txt" << false;
}

void TestFileMgrFiles::dropNameLength()
{
    QFETCH(QString, name);
    QFETCH(bool, accepted);
    const QString path = dropFile(name, "x");
    const QString upper = name.toUpper();
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 1));
    w->AddDroppedFiles({path});
    QCOMPARE(HasRecord(1, upper), accepted);
    QCOMPARE(m_bbs->fileOnDisk(1, upper), accepted);
    QCOMPARE(m_dialogs->texts(),
             accepted ? QStringList{}
                      : QStringList{QStringLiteral("File: ") + upper +
                                    QStringLiteral(" is too long for the file database.")});
}

void TestFileMgrFiles::dropWithoutArea_data()
{
    QTest::addColumn<QString>("selector");
    QTest::newRow("no colon") << "Uploads";
    QTest::newRow("not a number") << "x7: Seven";
    QTest::newRow("area 0") << "   0: Nothing";
    QTest::newRow("filter on") << "File Filter ON";
}

void TestFileMgrFiles::dropWithoutArea()
{
    QFETCH(QString, selector);
    const QString path = dropFile(QStringLiteral("a.txt"), "x");
    auto w = OpenMainWindow();
    w->AreaListBox->setEditText(selector);
    w->AddDroppedFiles({path});
    QCOMPARE(m_dialogs->texts(),
             QStringList{QStringLiteral("You must select a file area before adding files.")});
    for (int area : {1, 2, 7})
        QVERIFY(!m_bbs->fileOnDisk(area, QStringLiteral("A.TXT")));
}

void TestFileMgrFiles::dropSecondOfThreeFails()
{
    const QString a = dropFile(QStringLiteral("first.txt"), "1");
    const QString missing = m_drops->path() + QStringLiteral("/second.txt");
    const QString c = dropFile(QStringLiteral("third.txt"), "3");
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 2));
    w->AddDroppedFiles({a, missing, c});
    const QStringList expected{QStringLiteral("Error Opening: ") + missing,
                               QStringLiteral("Error copying file to filearea path")};
    QCOMPARE(m_dialogs->texts(), expected);
    QVERIFY(HasRecord(2, QStringLiteral("FIRST.TXT")));
    QVERIFY(!HasRecord(2, QStringLiteral("SECOND.TXT")));
    QVERIFY(!HasRecord(2, QStringLiteral("THIRD.TXT")));
    QVERIFY(!m_bbs->fileOnDisk(2, QStringLiteral("THIRD.TXT")));
    QCOMPARE(w->FileListBox->Lines()->lines(), QStringList{QStringLiteral("FIRST.TXT")});
}

void TestFileMgrFiles::dropZipTakesDescription()
{
    const QString zip = m_drops->path() + QStringLiteral("/cool.zip");
    QVERIFY(MakeZip(zip, {ZipMember("COOL.EXE", "MZ"),
                          ZipMember("FILE_ID.DIZ", "Cool tool v1\r\nDoes things\r\n")}));
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 1));
    w->AddDroppedFiles({zip});
    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));
    bool found = false;
    const FullFileRec rec = ReadRecord(1, QStringLiteral("COOL.ZIP"), &found);
    QVERIFY(found);
    QCOMPARE(RecText(rec.Rec.Description), QStringLiteral("Cool tool v1"));
    QCOMPARE(rec.Rec.HasLongDescription, 1);
    QCOMPARE(RecText(rec.LongDescription[0]), QStringLiteral("Cool tool v1"));
    QCOMPARE(RecText(rec.LongDescription[1]), QStringLiteral("Does things"));
    QCOMPARE(rec.Rec.Size, int32_t(QFileInfo(zip).size()));
    // The extracted description is not left behind.
    QVERIFY(!QFile::exists(DescriptionFilePath()));
}

void TestFileMgrFiles::dropErrorEndsDropOnly()
{
    const QString zip = m_drops->path() + QStringLiteral("/err.zip");
    QVERIFY(MakeZip(zip, {ZipMember("FILE_ID.DIZ", "text")}));
    const QString later = dropFile(QStringLiteral("later.txt"), "l");
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 1));
    // A program folder below an ordinary file: the temporary folder can't
    // be made during the description import.
    const QString blocker = m_drops->path() + QStringLiteral("/blocker");
    QVERIFY(WriteBytes(blocker, "not a folder"));
    ProgramFolder = blocker + QStringLiteral("/prog/");
    w->AddDroppedFiles({zip, later});
    QCOMPARE(m_dialogs->shown.size(), 1);
    QCOMPARE(m_dialogs->shown[0].kind, MessageKind::Error);
    // The drop stopped where the error came; the window goes on.
    QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("ERR.ZIP")));
    QVERIFY(!HasRecord(1, QStringLiteral("ERR.ZIP")));
    QVERIFY(!m_bbs->fileOnDisk(1, QStringLiteral("LATER.TXT")));
    QVERIFY(w->isVisible());
    ProgramFolder = m_folder->folder();
    w->AddDroppedFiles({later});
    QVERIFY(HasRecord(1, QStringLiteral("LATER.TXT")));
}

// A file that already lies in the area's folder (an upload) gets its record
// and is freshened in place: it keeps every byte. A file of that name in the
// folder that is not the dropped file is replaced by the copy as before.
void TestFileMgrFiles::dropFromAreaFolder_data()
{
    QTest::addColumn<QString>("onDisk");
    QTest::addColumn<bool>("fromAreaFolder");
    QTest::newRow("upper case name") << "UPLOAD.ZIP" << true;
    QTest::newRow("lower case name") << "upload.zip" << true;
    QTest::newRow("mixed case name") << "UpLoad.Zip" << true;
    QTest::newRow("other file of the name") << "UPLOAD.ZIP" << false;
}

void TestFileMgrFiles::dropFromAreaFolder()
{
    QFETCH(QString, onDisk);
    QFETCH(bool, fromAreaFolder);
    const QDir folder(m_bbs->areaFolder(1));
    const QString inArea = folder.filePath(onDisk);
    const QByteArray upload = Pattern(3 * 4096 + 123);
    QVERIFY(WriteBytes(inArea, upload));
    // Another file, elsewhere, with other bytes of the same length.
    const QByteArray other = Pattern(3 * 4096 + 123 + 7).mid(7);
    const QString dropped = fromAreaFolder ? inArea : dropFile(QStringLiteral("upload.zip"), other);
    const QByteArray expected = fromAreaFolder ? upload : other;

    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 1));
    w->AddDroppedFiles({dropped});

    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));
    // The one file of the folder holds the bytes it should, every one.
    QCOMPARE(folder.entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{onDisk});
    const QByteArray now = ReadAll(inArea);
    QCOMPARE(now.size(), expected.size());
    QVERIFY(now == expected);
    bool found = false;
    const FullFileRec rec = ReadRecord(1, QStringLiteral("UPLOAD.ZIP"), &found);
    QVERIFY(found);
    QCOMPARE(RecText(rec.Rec.Name), QStringLiteral("UPLOAD.ZIP"));
    QCOMPARE(rec.Rec.Size, int32_t(expected.size()));
    // Freshened: the file's own date, in local time.
    QCOMPARE(FileTimeToDateText(rec.Rec.FileTime) + u' ' + FileTimeToTimeText(rec.Rec.FileTime),
             QFileInfo(inArea).lastModified().toString(QStringLiteral("MM/dd/yy hh:mm")));
    QCOMPARE(w->FileListBox->Lines()->lines(), QStringList{QStringLiteral("UPLOAD.ZIP")});
}

// A folder, a FIFO or a device dropped on the window is a source that can't
// be opened: the copy's message, the drop's message, and nothing made, the
// files after it not tried. A FIFO is never opened (opening it would wait
// for a writer): a watchdog thread would open its writing end after five
// seconds and record that it had to.
void TestFileMgrFiles::dropNotRegularFile_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "folder";
    QTest::newRow("fifo") << "fifo";
    QTest::newRow("device") << "device";
}

void TestFileMgrFiles::dropNotRegularFile()
{
    QFETCH(QString, kind);
    QString source;
    if (kind == QLatin1String("folder")) {
        source = m_drops->path() + QStringLiteral("/somedir");
        QVERIFY(QDir().mkpath(source + QStringLiteral("/inner")));
        QVERIFY(WriteBytes(source + QStringLiteral("/inner/x.txt"), "inside"));
    } else if (kind == QLatin1String("fifo")) {
        source = m_drops->path() + QStringLiteral("/pipe.fifo");
        QCOMPARE(::mkfifo(QFile::encodeName(source).constData(), 0600), 0);
    } else {
        source = QStringLiteral("/dev/null");
        struct stat st {
        };
        QVERIFY(::stat("/dev/null", &st) == 0 && S_ISCHR(st.st_mode));
    }
    const QString name = DroppedNameOf(source);
    const QString later = dropFile(QStringLiteral("later.txt"), "later");

    std::atomic<bool> done{false};
    std::atomic<bool> hadToUnblock{false};
    std::thread watchdog;
    if (kind == QLatin1String("fifo")) {
        const QByteArray fifo = QFile::encodeName(source);
        watchdog = std::thread([fifo, &done, &hadToUnblock]() {
            for (int i = 0; i < 500 && !done; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (done)
                return;
            hadToUnblock = true;
            // Succeeds only while a reader waits in open(): that frees it.
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        });
    }
    auto w = OpenMainWindow();
    w->ChooseArea(AreaIndex(*w, 1));
    w->AddDroppedFiles({source, later});
    done = true;
    if (watchdog.joinable())
        watchdog.join();

    QVERIFY2(!hadToUnblock, "the drop waited on the FIFO");
    QCOMPARE(m_dialogs->texts(),
             (QStringList{QStringLiteral("Error Opening: ") + source,
                          QStringLiteral("Error copying file to filearea path")}));
    QVERIFY(!HasRecord(1, name));
    QVERIFY(!HasRecord(1, QStringLiteral("LATER.TXT")));
    QCOMPARE(QDir(m_bbs->areaFolder(1))
                 .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             QStringList{});
    QVERIFY(w->FileListBox->Lines()->lines().isEmpty());
}

// ---------------------------------------------------------------- zip view

void TestFileMgrFiles::viewZipResults_data()
{
    QTest::addColumn<int>("result");
    QTest::addColumn<QString>("message");
    QTest::newRow("started") << 42 << QString();
    QTest::newRow("33") << 33 << QString();
    QTest::newRow("2") << 2 << "Zip Viewing Utilty File Not Found.  Check vuRU setup.";
    QTest::newRow("3") << 3 << "Zip Viewing Utility Path Not Found.  Check vuRU setup.";
    QTest::newRow("11") << 11
                        << "Bad File Format or Not a Win32 EXE.  Make sure you have a valid 32bit "
                           "Zip Viewing Utility porgram. See vuRU setup.";
    QTest::newRow("31") << 31 << "Error occured loading: /opt/zv/viewer Check vuRU setup.";
    QTest::newRow("32") << 32 << "Error occured loading: /opt/zv/viewer Check vuRU setup.";
    QTest::newRow("0") << 0 << "Error occured loading: /opt/zv/viewer Check vuRU setup.";
}

void TestFileMgrFiles::viewZipResults()
{
    QFETCH(int, result);
    QFETCH(QString, message);
    const QByteArray content("PK fake archive");
    m_bbs->addFile(1, QStringLiteral("VIEW.ZIP"), &content);
    auto w = OpenMainWindow();
    ZipViewerSetting = QStringLiteral("/opt/zv/viewer");
    ClickLine(*w, 0);
    LaunchScript launches(result);
    w->ViewZipFile1->trigger();
    const QString temp = m_folder->folder() + QStringLiteral("Temp/VIEW.ZIP");
    QCOMPARE(launches.calls.size(), 1);
    QCOMPARE(launches.calls[0].program, QStringLiteral("/opt/zv/viewer"));
    QCOMPARE(launches.calls[0].parameters, temp);
    QCOMPARE(m_dialogs->texts(), message.isEmpty() ? QStringList{} : QStringList{message});
    // The copy stays until the window closes.
    QCOMPARE(ReadBytes(temp), content);
    QCOMPARE(w->TempFileList, QStringList{temp});
}

void TestFileMgrFiles::viewZipNotZipOrMissing()
{
    const QByteArray content("x");
    m_bbs->addFile(1, QStringLiteral("A.TXT"), &content);
    m_bbs->addFile(1, QStringLiteral("B.zIp"), &content);
    m_bbs->addFile(1, QStringLiteral("GONE.ZIP"));
    auto w = OpenMainWindow();
    LaunchScript launches;
    for (const QString& name : {QStringLiteral("A.TXT"), QStringLiteral("B.zIp")}) {
        w->FileListBox->SetItemIndex(RowOf(*w, name));
        w->ViewZipFile1Click();
        w->b_ExtracFile_ISClick();
    }
    QVERIFY(m_dialogs->shown.isEmpty());
    w->FileListBox->SetItemIndex(RowOf(*w, QStringLiteral("GONE.ZIP")));
    w->ViewZipFile1Click();
    w->b_ExtracFile_ISClick();
    QCOMPARE(m_dialogs->texts(), (QStringList{kNotFound, kNotFound}));
    QVERIFY(launches.calls.isEmpty());
    QVERIFY(w->TempFileList.isEmpty());
    // No current entry: nothing at all.
    w->FileListBox->Lines()->Clear();
    w->ViewZipFile1Click();
    QCOMPARE(m_dialogs->shown.size(), 2);
}

void TestFileMgrFiles::viewZipFromFilteredLine()
{
    const QByteArray content("in area two");
    m_bbs->addFile(2, QStringLiteral("TWO.ZIP"), &content);
    auto w = OpenMainWindow();
    w->FileListBox->Lines()->SetLines({QStringLiteral("   2: TWO.ZIP")});
    w->FileListBox->SetItemIndex(0);
    LaunchScript launches;
    w->ViewZipFile1Click();
    w->ViewZipFile1Click();
    const QString temp = m_folder->folder() + QStringLiteral("Temp/TWO.ZIP");
    QCOMPARE(launches.calls.size(), 2);
    QCOMPARE(ReadBytes(temp), content);
    QCOMPARE(w->TempFileList, (QStringList{temp, temp}));
    QVERIFY(m_dialogs->shown.isEmpty());
}

void TestFileMgrFiles::extractMendsLongDescription()
{
    const QString zip = m_drops->path() + QStringLiteral("/x.zip");
    const QByteArray first(90, 'F');
    QVERIFY(MakeZip(zip, {ZipMember("FILE_ID.DIZ", first + "\r\nsecond\r\nthird\r\n")}));
    const QByteArray bytes = ReadBytes(zip);
    m_bbs->addFile(1, QStringLiteral("DESC.ZIP"), &bytes, [](FullFileRec& f) {
        SetRecText(f.Rec.Description, QStringLiteral("old"));
        f.Rec.HasLongDescription = 1;
        for (int i = 0; i < 10; ++i)
            SetRecText(f.LongDescription[i], QStringLiteral("old line %1").arg(i));
        f.Rec.Downloads = 17;
    });
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    QTest::mouseClick(w->b_ExtracFile_IS, Qt::LeftButton);
    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));

    const FullFileRec rec = ReadRecord(1, QStringLiteral("DESC.ZIP"));
    QCOMPARE(RecText(rec.Rec.Description), QString::fromLatin1(first.left(75)));
    QCOMPARE(RecText(rec.LongDescription[0]), QString::fromLatin1(first.left(79)));
    QCOMPARE(RecText(rec.LongDescription[1]), QStringLiteral("second"));
    QCOMPARE(RecText(rec.LongDescription[2]), QStringLiteral("third"));
    // Lines beyond the archive's three are emptied, not left from the old
    // description.
    for (int i = 3; i < LongDescLines; ++i)
        QVERIFY2(RecText(rec.LongDescription[i]).isEmpty(), qPrintable(QString::number(i)));
    QCOMPARE(rec.Rec.Downloads, 17);
    // The panel shows the new description; the temporary copy is gone.
    QCOMPARE(w->f_desc->text(), QString::fromLatin1(first.left(75)));
    QCOMPARE(w->Long_Desc->toPlainText(),
             QString::fromLatin1(first.left(79)) + QStringLiteral("\nsecond\nthird"));
    const QString temp = m_folder->folder() + QStringLiteral("Temp/DESC.ZIP");
    QVERIFY(!QFile::exists(temp));
    QCOMPARE(w->TempFileList, QStringList{temp});
}

void TestFileMgrFiles::extractWithoutDizLeavesRecord()
{
    const QString zip = m_drops->path() + QStringLiteral("/nodiz.zip");
    QVERIFY(MakeZip(zip, {ZipMember("README.TXT", "hello")}));
    const QByteArray bytes = ReadBytes(zip);
    m_bbs->addFile(1, QStringLiteral("NODIZ.ZIP"), &bytes, [](FullFileRec& f) {
        SetRecText(f.Rec.Description, QStringLiteral("keep me"));
    });
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    QStringList statuses;
    connect(w.get(), &TFileMgr::StatusTextChanged, this,
            [&statuses](const QString& t) { statuses << t; });
    w->b_ExtracFile_ISClick();
    QVERIFY(m_dialogs->shown.isEmpty());
    QVERIFY(statuses.contains(QStringLiteral("FILE_ID.DIZ not found in file: NODIZ.ZIP")));
    QCOMPARE(RecText(ReadRecord(1, QStringLiteral("NODIZ.ZIP")).Rec.Description),
             QStringLiteral("keep me"));
    QVERIFY(!QFile::exists(m_folder->folder() + QStringLiteral("Temp/NODIZ.ZIP")));
    // A failed look-up shows the server's error name and changes nothing.
    WcFaultFailKind("GetFileRecByAreaName", WC_NO_ACTION_TAKEN);
    w->b_ExtracFile_ISClick();
    WcFaultReset();
    QCOMPARE(m_dialogs->texts(), QStringList{ServerErrorName(WC_NO_ACTION_TAKEN)});
}

void TestFileMgrFiles::extractSevenZip()
{
    // A 7z under a name that says nothing of zip: its bytes tell the kind.
    const QString tree = m_drops->path() + QStringLiteral("/tree");
    QVERIFY(WriteTree(tree, {{"sub/FILE_ID.DIZ", "Seven zip words\r\nline two\r\n"}}));
    const QString archive = m_drops->path() + QStringLiteral("/s.7z");
    QVERIFY(RunTool(QStringLiteral("7z"),
                    {QStringLiteral("a"), QStringLiteral("-bd"), archive, "."}, tree));
    const QByteArray bytes = ReadBytes(archive);
    m_bbs->addFile(1, QStringLiteral("SEVEN.7Z"), &bytes,
                   [](FullFileRec& f) { SetRecText(f.Rec.Description, QStringLiteral("old")); });
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    w->b_ExtracFile_ISClick();
    QVERIFY2(m_dialogs->shown.isEmpty(), qPrintable(m_dialogs->texts().join(u'|')));
    const FullFileRec rec = ReadRecord(1, QStringLiteral("SEVEN.7Z"));
    QCOMPARE(RecText(rec.Rec.Description), QStringLiteral("Seven zip words"));
    QCOMPARE(RecText(rec.LongDescription[1]), QStringLiteral("line two"));
    QVERIFY(!QFile::exists(m_folder->folder() + QStringLiteral("Temp/SEVEN.7Z")));
    QVERIFY(!QFile::exists(m_folder->folder() + QStringLiteral("Temp/file_id.diz")));
}

void TestFileMgrFiles::extractUnreadableKindNamesIt()
{
    const QByteArray bytes = QByteArray("\x60\xEA\x29\x00\x22\x0B", 6) + QByteArray(60, 'a');
    m_bbs->addFile(1, QStringLiteral("OLD.ARJ"), &bytes, [](FullFileRec& f) {
        SetRecText(f.Rec.Description, QStringLiteral("keep me"));
    });
    const auto before = RecordSnapshot();
    auto w = OpenMainWindow();
    ClickLine(*w, 0);
    w->b_ExtracFile_ISClick();
    const QString temp = m_folder->folder() + QStringLiteral("Temp/");
    QCOMPARE(m_dialogs->texts(),
             QStringList{QStringLiteral("UnZip Failed. ZipFile: ") + temp +
                         QStringLiteral("OLD.ARJ  fileDesc: ") + temp +
                         QStringLiteral("file_id.diz (ARJ archives cannot be read)")});
    QVERIFY(RecordSnapshot() == before);
    QVERIFY(!QFile::exists(temp + QStringLiteral("OLD.ARJ")));
}

void TestFileMgrFiles::tempCopiesGoneAfterClose()
{
    const QByteArray content("archive");
    m_bbs->addFile(1, QStringLiteral("T1.ZIP"), &content);
    m_bbs->addFile(1, QStringLiteral("T2.ZIP"), &content);
    auto w = OpenMainWindow();
    LaunchScript launches;
    for (int row : {0, 1, 0}) {
        w->FileListBox->SetItemIndex(row);
        w->ViewZipFile1Click();
    }
    const QString folder = m_folder->folder() + QStringLiteral("Temp/");
    QVERIFY(QFile::exists(folder + QStringLiteral("T1.ZIP")));
    QVERIFY(QFile::exists(folder + QStringLiteral("T2.ZIP")));
    QCOMPARE(w->TempFileList.size(), 3);
    w->close();
    QVERIFY(!QFile::exists(folder + QStringLiteral("T1.ZIP")));
    QVERIFY(!QFile::exists(folder + QStringLiteral("T2.ZIP")));
    QVERIFY(w->TempFileList.isEmpty());
}

VT_TEST_MAIN(TestFileMgrFiles)
#include "test_filemgr_files.moc"
