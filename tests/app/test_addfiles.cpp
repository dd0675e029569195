// Records for the files already in an area's folder, through a scripted
// delegate: the preview, a cancelled preview that writes nothing, and a
// confirmed one with every description source.
#include "app/AddFilesRun.h"
#include "app/TAddFilesForm.h"
#include "archive/TUnzipFile.h"
#include "common/Text.h"
#include "server/ServerFileCopy.h"
#include "tests/archive/ArchiveFixtures.h"
#include "tests/archive/ZipFixtures.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

#include <sys/stat.h>

namespace
{

// Inode of every file in the folder, by name.
QMap<QString, quint64> Inodes(const QString& folder)
{
    QMap<QString, quint64> inodes;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden)) {
        struct stat st {
        };
        if (::stat(QFile::encodeName(QDir(folder).filePath(name)).constData(), &st) == 0)
            inodes.insert(name, quint64(st.st_ino));
    }
    return inodes;
}

} // namespace

class TestAddFiles : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void previewListsAndRefuses();
    void cancelledPreviewWritesNothing();
    void confirmedAddsWithDescriptions();
    void spellingsOfOneNameGiveOneRecord();
    void stopWhilePlanning_data();
    void stopWhilePlanning();
    void windowPreviewsAndCancels();

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    std::unique_ptr<TUnzipFile> m_unzip;
};

void TestAddFiles::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Two"));
    const QByteArray taken("taken by its record");
    m_bbs->addFile(1, QStringLiteral("TAKEN.TXT"), &taken,
                   [](FullFileRec& f) { SetRecText(f.Rec.Description, QStringLiteral("old")); });
    const QString folder = m_bbs->areaFolder(1);
    QTemporaryDir work;
    QVERIFY(MakeZip(folder + QStringLiteral("/pack.zip"),
                    {{"FILE_ID.DIZ", "Zip description\r\nsecond zip line\r\n"},
                     {"prog.exe", QByteArray(300, 'p')}}));
    QVERIFY(WriteTree(work.path() + QStringLiteral("/s"),
                      {{"file_id.diz", "Seven description\n"}, {"tool.bin", "tool"}}));
    QVERIFY(RunTool(QStringLiteral("7z"),
                    {QStringLiteral("a"), QStringLiteral("-bd"), folder + QStringLiteral("/SEV.7Z"),
                     QStringLiteral(".")},
                    work.path() + QStringLiteral("/s")));
    QVERIFY(WriteTree(work.path() + QStringLiteral("/t"),
                      {{"DESC.SDI", "Tar description\n"}, {"data.txt", "data"}}));
    QVERIFY(RunTool(QStringLiteral("tar"),
                    {QStringLiteral("czf"), folder + QStringLiteral("/docs.tgz"),
                     QStringLiteral("DESC.SDI"), QStringLiteral("data.txt")},
                    work.path() + QStringLiteral("/t")));
    QVERIFY(WriteBytes(folder + QStringLiteral("/notes.txt"), "plain notes"));
    QVERIFY(WriteBytes(folder + QStringLiteral("/plain.dat"), "no description anywhere"));
    QVERIFY(WriteBytes(folder + QStringLiteral("/sixteen-char.txt"), "too long a name"));
    QVERIFY(WriteBytes(folder + QStringLiteral("/Taken.txt"), "another spelling"));
    QVERIFY(QDir(folder).mkdir(QStringLiteral("SUBDIR")));
    // The list names the zip as well: the archive's own description wins.
    QVERIFY(WriteBytes(folder + QStringLiteral("/FILES.BBS"), "; the folder's list\r\n"
                                                              "PACK.ZIP     the list's words\r\n"
                                                              "NOTES.TXT    Notes from the list\r\n"
                                                              "             | a long line\r\n"));
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
    m_unzip = std::make_unique<TUnzipFile>();
    QVERIFY(m_unzip->IsLoaded());
}

void TestAddFiles::cleanup()
{
    m_unzip.reset();
    m_login.reset();
    m_bbs.reset();
}

void TestAddFiles::previewListsAndRefuses()
{
    AddFilesOptions options;
    options.areas = {1, 2};
    options.dryRun = true;
    options.unzip = m_unzip.get();
    ScriptedRun delegate;
    const AddFilesResult result = RunAddFiles(options, delegate);
    QCOMPARE(
        delegate.lines(RunOutcome::Planned),
        (QStringList{"DOCS.TGZ add, description from DESC.SDI",
                     "NOTES.TXT add, description from the folder's list",
                     "PACK.ZIP add, description from FILE_ID.DIZ", "PLAIN.DAT add, no description",
                     "SEV.7Z add, description from FILE_ID.DIZ"}));
    QCOMPARE(delegate.lines(RunOutcome::Refused),
             (QStringList{"sixteen-char.txt name too long for the file database",
                          "SUBDIR not a regular file",
                          "Taken.txt name taken by TAKEN.TXT in another letter case"}));
    QCOMPARE(result.planned, 5);
    QCOMPARE(result.refused, 3);
    QVERIFY(delegate.asked.isEmpty());
    QVERIFY2(delegate.said().isEmpty(), qPrintable(delegate.said().join(u'\n')));
}

void TestAddFiles::cancelledPreviewWritesNothing()
{
    const auto before = BbsState(*m_bbs, 2);
    const auto inodes = Inodes(m_bbs->areaFolder(1));
    AddFilesOptions options;
    options.areas = {1};
    options.unzip = m_unzip.get();
    ScriptedRun delegate;
    delegate.answers = {RunAnswer::No};
    const AddFilesResult result = RunAddFiles(options, delegate);
    // The preview was shown and asked about: five files would have gone in.
    QCOMPARE(delegate.asked, QStringList{"Add 5 file(s) to the file database?"});
    QCOMPARE(delegate.lines(RunOutcome::Planned).size(), 5);
    QVERIFY(result.cancelled);
    QCOMPARE(result.added, 0);
    QCOMPARE(delegate.lines(RunOutcome::Done), QStringList{});
    QVERIFY(BbsState(*m_bbs, 2) == before);
    QCOMPARE(Inodes(m_bbs->areaFolder(1)), inodes);
}

void TestAddFiles::confirmedAddsWithDescriptions()
{
    auto before = BbsState(*m_bbs, 2);
    const auto inodes = Inodes(m_bbs->areaFolder(1));
    AddFilesOptions options;
    options.areas = {1};
    options.unzip = m_unzip.get();
    ScriptedRun delegate;
    delegate.answers = {RunAnswer::Yes};
    const AddFilesResult result = RunAddFiles(options, delegate);
    QCOMPARE(result.added, 5);
    QCOMPARE(delegate.lines(RunOutcome::Done).size(), 5);
    QCOMPARE(RecordNamesOf(1), (QStringList{"DOCS.TGZ", "NOTES.TXT", "PACK.ZIP", "PLAIN.DAT",
                                            "SEV.7Z", "TAKEN.TXT"}));
    const FullFileRec zip = ReadFullRecord(1, QStringLiteral("PACK.ZIP"));
    QCOMPARE(RecText(zip.Rec.Description), QStringLiteral("Zip description"));
    QCOMPARE(RecText(zip.LongDescription[1]), QStringLiteral("second zip line"));
    QCOMPARE(zip.Rec.Size, int32_t(QFileInfo(m_bbs->areaFolder(1) + "/pack.zip").size()));
    QCOMPARE(RecText(ReadFullRecord(1, QStringLiteral("SEV.7Z")).Rec.Description),
             QStringLiteral("Seven description"));
    QCOMPARE(RecText(ReadFullRecord(1, QStringLiteral("DOCS.TGZ")).Rec.Description),
             QStringLiteral("Tar description"));
    const FullFileRec notes = ReadFullRecord(1, QStringLiteral("NOTES.TXT"));
    QCOMPARE(RecText(notes.Rec.Description), QStringLiteral("Notes from the list"));
    QCOMPARE(RecText(notes.LongDescription[0]), QStringLiteral("a long line"));
    QCOMPARE(notes.Rec.Size, 11);
    QCOMPARE(RecText(ReadFullRecord(1, QStringLiteral("PLAIN.DAT")).Rec.Description), QString());
    QCOMPARE(RecText(ReadFullRecord(1, QStringLiteral("TAKEN.TXT")).Rec.Description),
             QStringLiteral("old"));
    // Every file is where it was with its bytes and inode; the only
    // records that are new are the five added.
    auto after = BbsState(*m_bbs, 2);
    for (const char* name : {"DOCS.TGZ", "NOTES.TXT", "PACK.ZIP", "PLAIN.DAT", "SEV.7Z"})
        QCOMPARE(int(after.remove(QStringLiteral("rec 1 ") + QLatin1String(name))), 1);
    QVERIFY(after == before);
    QCOMPARE(Inodes(m_bbs->areaFolder(1)), inodes);
    // A second run finds nothing more to add.
    ScriptedRun again;
    QCOMPARE(RunAddFiles(options, again).planned, 0);
}

// New files whose names differ only in letter case: the record is made for
// the file the server finds under the record's name (the exact upper-case
// spelling), whichever spelling the folder lists first, and the other is
// refused. The folder's order of equal names is the file system's, so
// several pairs make both orders all but certain.
void TestAddFiles::spellingsOfOneNameGiveOneRecord()
{
    m_bbs->addArea(3, QStringLiteral("Three"));
    const QString folder = m_bbs->areaFolder(3);
    QStringList refused, names;
    for (int i = 0; i < 8; ++i) {
        const QString upper = QStringLiteral("CLASH%1.TXT").arg(i);
        const QString lower = upper.toLower();
        // Odd pairs are made lower case first.
        const QStringList order = i % 2 ? QStringList{lower, upper} : QStringList{upper, lower};
        for (const QString& name : order)
            QVERIFY(WriteBytes(folder + u'/' + name, name == upper ? "upper" : "lower case file"));
        refused << lower + QStringLiteral(" name taken by ") + upper +
                       QStringLiteral(" in another letter case");
        names << upper;
    }
    QVERIFY(WriteBytes(folder + QStringLiteral("/Mixed.txt"), "mixed, the only spelling"));
    names << QStringLiteral("MIXED.TXT");
    const auto inodes = Inodes(folder);
    AddFilesOptions options;
    options.areas = {3};
    ScriptedRun delegate;
    delegate.answers = {RunAnswer::Yes};
    const AddFilesResult result = RunAddFiles(options, delegate);
    QCOMPARE(delegate.lines(RunOutcome::Refused), refused);
    QCOMPARE(result.added, 9);
    QCOMPARE(RecordNamesOf(3), names);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(ReadFullRecord(3, names[i]).Rec.Size, 5);
    QCOMPARE(ReadFullRecord(3, QStringLiteral("MIXED.TXT")).Rec.Size, 24);
    QCOMPARE(Inodes(folder), inodes);
    // A second run adds nothing and refuses the other spellings again.
    ScriptedRun again;
    options.dryRun = true;
    QCOMPARE(RunAddFiles(options, again).planned, 0);
    QCOMPARE(again.lines(RunOutcome::Refused), refused);
}

void TestAddFiles::stopWhilePlanning_data()
{
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QList<RunAnswer>>("answers");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<int>("added");
    QTest::newRow("preview ends") << true << QList<RunAnswer>{} << true << 0;
    QTest::newRow("add, stop confirmed") << false << QList<RunAnswer>{RunAnswer::Yes} << true << 0;
    QTest::newRow("add, stop declined") << false << QList<RunAnswer>{RunAnswer::No} << false << 5;
}

// A stop asked for while the folders are read (before anything is written):
// a preview ends at once, an add asks and then writes nothing or goes on.
void TestAddFiles::stopWhilePlanning()
{
    QFETCH(bool, dryRun);
    QFETCH(QList<RunAnswer>, answers);
    QFETCH(bool, stopped);
    QFETCH(int, added);
    const auto before = BbsState(*m_bbs, 2);
    AddFilesOptions options;
    options.areas = {1};
    options.dryRun = dryRun;
    options.preview = false;
    options.unzip = m_unzip.get();
    ScriptedRun run;
    run.answers = answers;
    run.stopAtCall = 3;
    const AddFilesResult result = RunAddFiles(options, run);
    QCOMPARE(run.stopCalls >= 3, true);
    QCOMPARE(result.stopped, stopped);
    QCOMPARE(result.added, added);
    QCOMPARE(run.asked, dryRun ? QStringList{} : QStringList{"Stop adding files?"});
    QVERIFY(!run.unexpected);
    if (stopped) {
        QVERIFY(run.names(RunOutcome::Planned).isEmpty());
        QVERIFY(BbsState(*m_bbs, 2) == before);
    } else {
        QCOMPARE(RecordNamesOf(1).size(), 6);
    }
}

void TestAddFiles::windowPreviewsAndCancels()
{
    const auto before = BbsState(*m_bbs, 2);
    TAddFilesForm form(nullptr, 1, m_unzip.get());
    form.show();
    QCOMPARE(form.CheckedAreas(), QList<int>{1});
    QStringList lines;
    for (int i = 0; i < form.PreviewList->count(); ++i)
        lines << form.PreviewList->item(i)->text();
    QCOMPARE(lines.size(), 8);
    QVERIFY2(lines.contains(QStringLiteral("   1: PACK.ZIP  add, description from FILE_ID.DIZ")),
             qPrintable(lines.join(u'\n')));
    QVERIFY(lines.contains(QStringLiteral("   1: SUBDIR  refused: not a regular file")));
    QVERIFY(form.b_Add->isEnabled());
    // Only area 2 (an empty folder): nothing to add.
    form.AreaList->item(0)->setCheckState(Qt::Unchecked);
    form.AreaList->item(1)->setCheckState(Qt::Checked);
    QCOMPARE(form.PreviewList->count(), 0);
    QVERIFY(!form.b_Add->isEnabled());
    QTest::mouseClick(form.b_Cancel, Qt::LeftButton);
    QCOMPARE(form.result(), int(QDialog::Rejected));
    QVERIFY(BbsState(*m_bbs, 2) == before);
}

VT_TEST_MAIN(TestAddFiles)
#include "test_addfiles.moc"
