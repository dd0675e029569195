// FILE_ID.DIZ reading and the description import from real archives, with
// the program's folder in a temporary directory.
#include "ZipFixtures.h"
#include "archive/DescriptionImport.h"
#include "archive/DizReader.h"
#include "archive/TUnzipFile.h"
#include "common/StatusPanel.h"
#include "common/Text.h"
#include "config/Settings.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace
{

class FakeStatus : public StatusPanel
{
public:
    QString StatusText() const override { return texts.isEmpty() ? QString() : texts.last(); }
    void SetStatusText(const QString& text) override { texts << text; }
    void StartClearStatus() override { ++clearStarts; }
    QStringList texts;
    int clearStarts = 0;
};

// A record whose description fields hold recognisable old text.
FullFileRec OldRecord(int oldLines)
{
    FullFileRec rec;
    std::memset(&rec, 0, sizeof rec);
    SetRecText(rec.Rec.Name, QStringLiteral("FOO.ZIP"));
    SetRecText(rec.Rec.Description, QStringLiteral("old description"));
    for (int i = 0; i < oldLines; ++i)
        SetRecText(rec.LongDescription[i], QStringLiteral("old line %1").arg(i));
    rec.Rec.HasLongDescription = oldLines > 0 ? 1 : 0;
    return rec;
}

QString Line(const FullFileRec& rec, int i)
{
    return RecText(rec.LongDescription[i]);
}

QByteArray NumberedLines(int count, const char* end = "\r\n")
{
    QByteArray out;
    for (int i = 0; i < count; ++i)
        out += "line " + QByteArray::number(i) + end;
    return out;
}

} // namespace

class TestDescriptionImport : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    QString m_oldProgramFolder;
    std::unique_ptr<TUnzipFile> m_unzip;

    QString zipPath(const QString& name = QStringLiteral("foo.zip")) const
    {
        return m_dir->path() + QStringLiteral("/") + name;
    }
    QString tempFolder() const { return ProgramFolder + QStringLiteral("Temp/"); }

private slots:
    void initTestCase()
    {
        m_oldProgramFolder = ProgramFolder;
        m_unzip = std::make_unique<TUnzipFile>();
        QVERIFY(m_unzip->IsLoaded());
        // As the main window sets it up.
        m_unzip->SetOptions({OverWriteFlag, QuietFlag, NoDirectoryNamesFlag});
    }
    void cleanupTestCase()
    {
        m_unzip.reset();
        ProgramFolder = m_oldProgramFolder;
    }
    void init()
    {
        m_dir = new QTemporaryDir;
        ProgramFolder = m_dir->path() + QStringLiteral("/prog/");
        QVERIFY(QDir().mkpath(ProgramFolder));
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    // ---------------------------------------------------------- lines

    void splitLines_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("CRLF") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("CR") << QByteArray("a\rb\r") << QStringList{"a", "b"};
        QTest::newRow("LF") << QByteArray("a\nb\n") << QStringList{"a", "b"};
        QTest::newRow("mixed") << QByteArray("a\r\nb\rc\nd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("last line without break") << QByteArray("a\nb") << QStringList{"a", "b"};
        QTest::newRow("empty lines count")
            << QByteArray("a\n\n\nb") << QStringList{"a", "", "", "b"};
        QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("only a break") << QByteArray("\r\n") << QStringList{""};
        QTest::newRow("no trimming") << QByteArray("  a \t\n") << QStringList{"  a \t"};
        QTest::newRow("NUL ends the text") << QByteArray("a\nb\0c\nd", 7) << QStringList{"a", "b"};
        QTest::newRow("NUL first") << QByteArray("\0abc", 4) << QStringList();
        QTest::newRow("control characters kept")
            << QByteArray("a\x01\x1a\x7f") << QStringList{QString::fromLatin1("a\x01\x1a\x7f")};
        QTest::newRow("Latin-1") << QByteArray("\xb0\xe9\xff")
                                 << QStringList{QString::fromLatin1("\xb0\xe9\xff")};
        QTest::newRow("no line ends at all")
            << QByteArray(5000, 'x') << QStringList{QString(5000, u'x')};
    }
    void splitLines()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QCOMPARE(SplitDizLines(bytes), lines);
    }

    void applyThreeLines()
    {
        FullFileRec rec = OldRecord(0);
        const QString first = QString(90, u'A').replace(75, 1, u'B').replace(79, 1, u'C');
        QVERIFY(ApplyDizLines({first, QStringLiteral("second"), QStringLiteral("third")}, rec));
        QCOMPARE(RecText(rec.Rec.Description), first.left(75));
        QCOMPARE(Line(rec, 0), first.left(79));
        QCOMPARE(Line(rec, 1), QStringLiteral("second"));
        QCOMPARE(Line(rec, 2), QStringLiteral("third"));
        QCOMPARE(rec.Rec.HasLongDescription, 1);
        QCOMPARE(RecText(rec.Rec.Name), QStringLiteral("FOO.ZIP"));
    }

    void applyTwentyLines()
    {
        FullFileRec rec = OldRecord(0);
        QVERIFY(ApplyDizLines(SplitDizLines(NumberedLines(20)), rec));
        for (int i = 0; i < LongDescLines; ++i)
            QCOMPARE(Line(rec, i), QStringLiteral("line %1").arg(i));
        QCOMPARE(RecText(rec.Rec.Description), QStringLiteral("line 0"));
    }

    void applyFirstLineOf75()
    {
        FullFileRec rec = OldRecord(0);
        const QString first = QString(75, u'd');
        QVERIFY(ApplyDizLines({first}, rec));
        QCOMPARE(RecText(rec.Rec.Description), first);
        QCOMPARE(rec.Rec.Description[75], '\0');
    }

    void applyEmptiesOldLines()
    {
        // Ten old lines, three new ones: no old line may stay behind.
        FullFileRec rec = OldRecord(10);
        QVERIFY(
            ApplyDizLines({QStringLiteral("n0"), QStringLiteral("n1"), QStringLiteral("n2")}, rec));
        QCOMPARE(Line(rec, 2), QStringLiteral("n2"));
        for (int i = 3; i < LongDescLines; ++i) {
            QCOMPARE(Line(rec, i), QString());
            for (int b = 0; b < LongDescLineSize; ++b)
                QCOMPARE(rec.LongDescription[i][b], '\0');
        }
    }

    void applyNoLines()
    {
        FullFileRec rec = OldRecord(4);
        const FullFileRec before = rec;
        QVERIFY(!ApplyDizLines({}, rec));
        QCOMPARE(std::memcmp(&rec, &before, sizeof rec), 0);
    }

    // ---------------------------------------------------------- zip test

    void isZipName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("zip");
        QTest::newRow("lower") << "foo.zip" << true;
        QTest::newRow("upper") << "FOO.ZIP" << true;
        QTest::newRow("capital") << "Foo.Zip" << true;
        QTest::newRow("inside") << "FOO.ZIP.BAK" << true;
        QTest::newRow("mixed case") << "foo.zIp" << false;
        QTest::newRow("other mix") << "foo.ZIp" << false;
        QTest::newRow("no dot") << "foozip" << false;
        QTest::newRow("arj") << "foo.arj" << false;
        QTest::newRow("empty") << "" << false;
    }
    void isZipName()
    {
        QFETCH(QString, name);
        QFETCH(bool, zip);
        QCOMPARE(IsZipName(name), zip);
    }

    // ---------------------------------------------------------- import

    void importCases_data()
    {
        QTest::addColumn<QByteArray>("member");
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("three lines, first 90 long")
            << QByteArray("FILE_ID.DIZ") << QByteArray(90, 'x') + "\r\nsecond\r\nthird\r\n"
            << QStringList{QString(79, u'x'), "second", "third"};
        QTest::newRow("twenty lines") << QByteArray("FILE_ID.DIZ") << NumberedLines(20, "\n")
                                      << SplitDizLines(NumberedLines(15, "\n"));
        QTest::newRow("CR only") << QByteArray("file_id.diz") << QByteArray("a\rb\rc")
                                 << QStringList{"a", "b", "c"};
        QTest::newRow("NUL inside")
            << QByteArray("File_Id.Diz") << QByteArray("a\nb\0c\nd", 7) << QStringList{"a", "b"};
        QTest::newRow("backslash folder")
            << QByteArray("DOCS\\FILE_ID.DIZ") << QByteArray("docs") << QStringList{"docs"};
        QTest::newRow("slash folder, lower case")
            << QByteArray("docs/file_id.diz") << QByteArray("lower") << QStringList{"lower"};
        QTest::newRow("dot-dot path")
            << QByteArray("../../evil/FILE_ID.DIZ") << QByteArray("flat") << QStringList{"flat"};
    }
    void importCases()
    {
        QFETCH(QByteArray, member);
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        QVERIFY(MakeZip(zipPath(), {{member.constData(), content}, {"prog.exe", "MZ"}}));
        FullFileRec rec = OldRecord(15);
        FakeStatus status;
        DialogScript dialogs;
        QVERIFY(ImportDescription(*m_unzip, zipPath(), rec, &status));
        QCOMPARE(RecText(rec.Rec.Description), expected.first().left(75));
        for (int i = 0; i < LongDescLines; ++i)
            QCOMPARE(Line(rec, i), i < expected.size() ? expected.at(i) : QString());
        QCOMPARE(rec.Rec.HasLongDescription, 1);
        QVERIFY(status.texts.contains(QStringLiteral("Adding Description...")));
        QVERIFY(status.clearStarts >= 1);
        QVERIFY(dialogs.shown.isEmpty());
        // The description file is gone; nothing landed outside the folder.
        QCOMPARE(QDir(tempFolder()).entryList(QDir::Files | QDir::Hidden), QStringList());
        QVERIFY(!QFileInfo::exists(m_dir->path() + QStringLiteral("/evil")));
        QVERIFY(!QFileInfo::exists(ProgramFolder + QStringLiteral("evil")));
    }

    void importMakesDottedTempFolder()
    {
        ProgramFolder = m_dir->path() + QStringLiteral("/a.b/");
        QVERIFY(QDir().mkpath(ProgramFolder));
        QVERIFY(MakeZip(zipPath(), {{"FILE_ID.DIZ", "dotted"}}));
        FullFileRec rec = OldRecord(0);
        QVERIFY(ImportDescription(*m_unzip, zipPath(), rec, nullptr));
        QCOMPARE(RecText(rec.Rec.Description), QStringLiteral("dotted"));
        QVERIFY(QFileInfo(m_dir->path() + QStringLiteral("/a.b/Temp")).isDir());
        // And once more, with the folder there.
        QVERIFY(ImportDescription(*m_unzip, zipPath(), rec, nullptr));
    }

    void importWithoutDiz()
    {
        QVERIFY(MakeZip(zipPath(QStringLiteral("NODIZ.ZIP")), {{"readme.txt", "x"}}));
        FullFileRec rec = OldRecord(5);
        const FullFileRec before = rec;
        FakeStatus status;
        DialogScript dialogs;
        QVERIFY(!ImportDescription(*m_unzip, zipPath(QStringLiteral("NODIZ.ZIP")), rec, &status));
        QCOMPARE(status.texts,
                 QStringList{QStringLiteral("FILE_ID.DIZ not found in file: NODIZ.ZIP")});
        QCOMPARE(status.clearStarts, 1);
        QVERIFY(dialogs.shown.isEmpty());
        QCOMPARE(std::memcmp(&rec, &before, sizeof rec), 0);
    }

    void importNotZipByName()
    {
        // A real archive, but its name fails the zip test: nothing happens.
        const QString path = zipPath(QStringLiteral("foo.zIp"));
        QVERIFY(MakeZip(path, {{"FILE_ID.DIZ", "never"}}));
        FullFileRec rec = OldRecord(1);
        FakeStatus status;
        QString desc;
        QVERIFY(!ExtractFileIdDiz(*m_unzip, path, desc, &status));
        QVERIFY(!ImportDescription(*m_unzip, path, rec, &status));
        QVERIFY(status.texts.isEmpty());
        QCOMPARE(RecText(rec.Rec.Description), QStringLiteral("old description"));
        QVERIFY(!QFileInfo::exists(tempFolder()));
    }

    void importEmptyDiz()
    {
        QVERIFY(MakeZip(zipPath(), {{"FILE_ID.DIZ", ""}}));
        FullFileRec rec = OldRecord(3);
        const FullFileRec before = rec;
        QVERIFY(!ImportDescription(*m_unzip, zipPath(), rec, nullptr));
        QCOMPARE(std::memcmp(&rec, &before, sizeof rec), 0);
        QVERIFY(!QFileInfo::exists(DescriptionFilePath()));
    }

    void importFailures_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("larger than 64 KiB") << "big";
        QTest::newRow("symlink member") << "symlink";
        QTest::newRow("encrypted") << "encrypted";
        QTest::newRow("implode") << "implode";
        QTest::newRow("claims 4 GB") << "huge";
    }
    void importFailures()
    {
        QFETCH(QString, kind);
        const QString zip = zipPath();
        if (kind == QLatin1String("big")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", QByteArray(70000, 'b')}}));
        } else if (kind == QLatin1String("symlink")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", "/etc/passwd", true, 0120777u}}));
        } else {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", "text", true}}));
            QByteArray b = ReadBytes(zip);
            if (kind == QLatin1String("encrypted"))
                QVERIFY(PatchMember(b, 0, ZipHeaderField::Flags, 1));
            else if (kind == QLatin1String("implode"))
                QVERIFY(PatchMember(b, 0, ZipHeaderField::Method, 6));
            else
                QVERIFY(PatchMember(b, 0, ZipHeaderField::UncompressedSize, 0xFFFFFFFFu));
            QVERIFY(WriteBytes(zip, b));
        }
        // A description left from an earlier run must not be taken instead.
        QVERIFY(QDir().mkpath(tempFolder()));
        QVERIFY(WriteBytes(tempFolder() + QStringLiteral("FILE_ID.DIZ"), "stale"));

        FullFileRec rec = OldRecord(2);
        const FullFileRec before = rec;
        FakeStatus status;
        DialogScript dialogs;
        QVERIFY(!ImportDescription(*m_unzip, zip, rec, &status));
        QCOMPARE(std::memcmp(&rec, &before, sizeof rec), 0);
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("UnZip Failed. ZipFile: ") + zip +
                                              QStringLiteral("  fileDesc: ") + ProgramFolder +
                                              QStringLiteral("Temp/file_id.diz")});
        QCOMPARE(dialogs.shown.first().kind, MessageKind::Information);
        QCOMPARE(
            QDir(tempFolder())
                .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
            QStringList());
    }

    void importDamagedArchive()
    {
        // Not a zip at all: counting fails, so nothing is counted and the
        // status says so.
        QVERIFY(WriteBytes(zipPath(), QByteArray(3000, 'Z')));
        TUnzipFile fresh;
        fresh.SetOptions({OverWriteFlag, QuietFlag, NoDirectoryNamesFlag});
        FullFileRec rec = OldRecord(2);
        FakeStatus status;
        QVERIFY(!ImportDescription(fresh, zipPath(), rec, &status));
        QCOMPARE(status.texts,
                 QStringList{QStringLiteral("FILE_ID.DIZ not found in file: foo.zip")});
    }

    void extractReportsPath()
    {
        QVERIFY(MakeZip(zipPath(), {{"FILE_ID.DIZ", "x"}}));
        QString desc;
        QVERIFY(ExtractFileIdDiz(*m_unzip, zipPath(), desc, nullptr));
        QCOMPARE(desc, ProgramFolder + QStringLiteral("Temp/file_id.diz"));
        QCOMPARE(ReadBytes(desc), QByteArray("x"));
        QCOMPARE(QDir(tempFolder()).entryList(QDir::Files), QStringList{"file_id.diz"});
    }

    void temporaryFolderCantBeMade()
    {
        // The program's folder is an ordinary file: making Temp/ fails with
        // the platform's error, which ends the command.
        QVERIFY(WriteBytes(m_dir->path() + QStringLiteral("/plain"), "x"));
        ProgramFolder = m_dir->path() + QStringLiteral("/plain/");
        QVERIFY(MakeZip(zipPath(), {{"FILE_ID.DIZ", "x"}}));
        QString desc;
        QVERIFY_THROWS_EXCEPTION(WriteError, ExtractFileIdDiz(*m_unzip, zipPath(), desc, nullptr));
    }
};

VT_TEST_MAIN(TestDescriptionImport)
#include "test_descriptionimport.moc"
