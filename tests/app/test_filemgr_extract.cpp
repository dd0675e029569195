// The main window's extract step without the window: which entries the
// archive commands take, the whole step (read, copy, pull, update, the copy
// removed) through a scripted delegate, and the description pull that it
// shares with the adding of the files in an area's folder.
#include "app/ExtractDescription.h"
#include "archive/DescriptionPull.h"
#include "archive/TUnzipFile.h"
#include "common/StatusPanel.h"
#include "common/Text.h"
#include "config/Settings.h"
#include "platform/wcsrv/WcFault.h"
#include "server/ServerPath.h"
#include "tests/archive/ArchiveFixtures.h"
#include "tests/archive/ZipFixtures.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QtTest>

Q_DECLARE_METATYPE(ArchiveEntryCheck)
Q_DECLARE_METATYPE(DescriptionFailure)

namespace
{

// The window's status panel as the pull sees it.
class StatusRecorder : public StatusPanel
{
public:
    QStringList texts;
    int clears = 0;
    QString StatusText() const override { return texts.isEmpty() ? QString() : texts.last(); }
    void SetStatusText(const QString& text) override { texts << text; }
    void StartClearStatus() override { ++clears; }
};

QByteArray ZipBytes(const QList<ZipMember>& members)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("a.zip"));
    if (!MakeZip(path, members))
        return {};
    return ReadBytes(path);
}

} // namespace

class TestExtract : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void checkArchiveEntry_data();
    void checkArchiveEntry();
    void extractUpdatesRecord();
    void extractWithoutDescription();
    void failedReadStopsBeforeTheCopy();
    void failedCopyWritesNothing();
    void pullArchiveDescription_data();
    void pullArchiveDescription();

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    std::unique_ptr<TUnzipFile> m_unzip;
    std::unique_ptr<QTemporaryDir> m_program;
    QString m_oldProgramFolder;
};

void TestExtract::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    const QByteArray diz = ZipBytes({{"FILE_ID.DIZ", "Zip words\r\nline two\r\n"}});
    const QByteArray noDiz = ZipBytes({{"readme.txt", "nothing to say"}});
    const QByteArray lha = MakeLha({{"DESC.SDI", "Lha words\r\n"}});
    QVERIFY(!diz.isEmpty() && !noDiz.isEmpty() && !lha.isEmpty());
    const QByteArray text("plain text");
    auto old = [](FullFileRec& f) { SetRecText(f.Rec.Description, QStringLiteral("old")); };
    m_bbs->addFile(1, QStringLiteral("DIZ.ZIP"), &diz, old);
    m_bbs->addFile(1, QStringLiteral("NODIZ.ZIP"), &noDiz, old);
    m_bbs->addFile(1, QStringLiteral("PACK.LZH"), &lha, old);
    m_bbs->addFile(1, QStringLiteral("ZIPBYTES.DAT"), &diz, old);
    m_bbs->addFile(1, QStringLiteral("NOTES.TXT"), &text, old);
    m_bbs->addFile(1, QStringLiteral("GONE.ZIP"), nullptr, old);
    m_bbs->addFile(1, QStringLiteral("GONE.LZH"), nullptr, old);
    m_program = std::make_unique<QTemporaryDir>();
    m_oldProgramFolder = ProgramFolder;
    ProgramFolder = m_program->path() + u'/';
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
    m_unzip = std::make_unique<TUnzipFile>();
    QVERIFY(m_unzip->IsLoaded());
}

void TestExtract::cleanup()
{
    WcFaultReset();
    m_unzip.reset();
    m_login.reset();
    ProgramFolder = m_oldProgramFolder;
    m_program.reset();
    m_bbs.reset();
}

void TestExtract::checkArchiveEntry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<ArchiveEntryCheck>("expected");
    QTest::newRow("zip by name") << "DIZ.ZIP" << ArchiveEntryCheck::Ready;
    QTest::newRow("other kind by bytes") << "PACK.LZH" << ArchiveEntryCheck::Ready;
    // A zip is known by its name only; text is no archive at all.
    QTest::newRow("zip bytes, other name") << "ZIPBYTES.DAT" << ArchiveEntryCheck::NotArchive;
    QTest::newRow("text") << "NOTES.TXT" << ArchiveEntryCheck::NotArchive;
    QTest::newRow("zip name, no file") << "GONE.ZIP" << ArchiveEntryCheck::Missing;
    // Without a file there are no bytes to tell a kind by.
    QTest::newRow("other name, no file") << "GONE.LZH" << ArchiveEntryCheck::NotArchive;
}

void TestExtract::checkArchiveEntry()
{
    QFETCH(QString, name);
    QFETCH(ArchiveEntryCheck, expected);
    QCOMPARE(CheckArchiveEntry(ServerFilePath(1, name), IsZipName(name)), expected);
}

void TestExtract::extractUpdatesRecord()
{
    for (const char* name : {"DIZ.ZIP", "PACK.LZH"}) {
        const QString file = QString::fromLatin1(name);
        ScriptedRun delegate;
        StatusRecorder status;
        const ExtractDescriptionResult result =
            RunExtractDescription({1, file}, ServerFilePath(1, file), *m_unzip, &status, delegate);
        QVERIFY2(delegate.said().isEmpty(), qPrintable(delegate.said().join(u'|')));
        QVERIFY(result.attempted);
        QVERIFY(result.error.isEmpty());
        QCOMPARE(result.tempPath, ZipTempFolder() + file);
        QVERIFY(!QFile::exists(result.tempPath));
        QCOMPARE(delegate.copied, QStringList{ServerFilePath(1, file)});
        QVERIFY(status.texts.contains(QStringLiteral("Adding Description...")));
        const FullFileRec rec = ReadFullRecord(1, file);
        QCOMPARE(RecText(rec.Rec.Description),
                 file == u"DIZ.ZIP" ? QStringLiteral("Zip words") : QStringLiteral("Lha words"));
        QCOMPARE(rec.Rec.HasLongDescription, uint8_t(1));
    }
    // Nothing is left in the temporary folder: neither copies nor descriptions.
    QCOMPARE(QDir(ZipTempFolder()).entryList(QDir::Files), QStringList());
}

void TestExtract::extractWithoutDescription()
{
    ScriptedRun delegate;
    StatusRecorder status;
    const auto before = RecordSnapshot();
    const ExtractDescriptionResult result = RunExtractDescription(
        {1, QStringLiteral("NODIZ.ZIP")}, ServerFilePath(1, QStringLiteral("NODIZ.ZIP")), *m_unzip,
        &status, delegate);
    QVERIFY(result.attempted);
    QVERIFY(status.texts.contains(QStringLiteral("FILE_ID.DIZ not found in file: NODIZ.ZIP")));
    QVERIFY(delegate.said().isEmpty());
    QVERIFY(RecordSnapshot() == before);
    QVERIFY(!QFile::exists(result.tempPath));
}

void TestExtract::failedReadStopsBeforeTheCopy()
{
    WcFaultFailKind("GetFileRecByAreaName", WC_NO_ACTION_TAKEN);
    ScriptedRun delegate;
    const ExtractDescriptionResult result = RunExtractDescription(
        {1, QStringLiteral("DIZ.ZIP")}, ServerFilePath(1, QStringLiteral("DIZ.ZIP")), *m_unzip,
        nullptr, delegate);
    WcFaultReset();
    QVERIFY(!result.attempted);
    QCOMPARE(delegate.warnings, QStringList{QString::number(WC_NO_ACTION_TAKEN, 16)});
    QCOMPARE(delegate.copies, 0);
    // The temporary folder is not even made.
    QVERIFY(!QDir(ZipTempFolder()).exists());
    QCOMPARE(RecText(ReadFullRecord(1, QStringLiteral("DIZ.ZIP")).Rec.Description),
             QStringLiteral("old"));
}

void TestExtract::failedCopyWritesNothing()
{
    ScriptedRun delegate;
    delegate.copyFailsAt = 1;
    const auto before = RecordSnapshot();
    const ExtractDescriptionResult result = RunExtractDescription(
        {1, QStringLiteral("DIZ.ZIP")}, ServerFilePath(1, QStringLiteral("DIZ.ZIP")), *m_unzip,
        nullptr, delegate);
    QVERIFY(result.attempted);
    QVERIFY(result.tempPath.isEmpty());
    QCOMPARE(delegate.copies, 1);
    QVERIFY(RecordSnapshot() == before);
    QVERIFY(!QFile::exists(ZipTempFolder() + QStringLiteral("DIZ.ZIP")));
}

void TestExtract::pullArchiveDescription_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<DescriptionFailure>("failure");
    QTest::addColumn<QString>("member");
    QTest::addColumn<QString>("description");
    QTest::newRow("zip") << "DIZ.ZIP" << DescriptionFailure::None << "file_id.diz"
                         << "Zip words";
    QTest::newRow("lha") << "PACK.LZH" << DescriptionFailure::None << "desc.sdi"
                         << "Lha words";
    QTest::newRow("none inside") << "NODIZ.ZIP" << DescriptionFailure::NotFound << ""
                                 << "old";
    QTest::newRow("no archive") << "NOTES.TXT" << DescriptionFailure::NotAnArchive << ""
                                << "old";
}

void TestExtract::pullArchiveDescription()
{
    QFETCH(QString, name);
    QFETCH(DescriptionFailure, failure);
    QFETCH(QString, member);
    QFETCH(QString, description);
    QTemporaryDir folder;
    FullFileRec rec{};
    SetRecText(rec.Rec.Description, QStringLiteral("old"));
    const QByteArray path = QFile::encodeName(m_bbs->areaFolder(1) + u'/' + name);
    const DescriptionPull pull =
        PullArchiveDescription(path, folder.path() + u'/', m_unzip.get(), rec);
    QCOMPARE(pull.extraction.failure, failure);
    QCOMPARE(pull.applied, failure == DescriptionFailure::None);
    if (!member.isEmpty())
        QVERIFY(pull.extraction.path.endsWith(member));
    QCOMPARE(RecText(rec.Rec.Description), description);
    // The extracted member never stays behind.
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList());
}

VT_TEST_MAIN(TestExtract)
#include "test_filemgr_extract.moc"
