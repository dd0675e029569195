// The zip component (TLPStr, the parameter block, RunUnzip, callbacks,
// loading) and the extraction library behind it, on real archives made here,
// hostile ones included.
#include "ZipFixtures.h"
#include "archive/DescriptionImport.h"
#include "archive/TUnzipFile.h"
#include "tests/support/TestSupport.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLibrary>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace
{

// A stand-in entry that records the block it gets and answers as told.
struct FakeLibrary {
    int calls = 0;
    int32_t result = 0;
    int32_t count = 0;
    QByteArray block;
    std::function<void(UnzipCommandBlock*)> during;
};
FakeLibrary fake;

int32_t FakeEntry(UnzipCommandBlock* b)
{
    ++fake.calls;
    fake.block = QByteArray(reinterpret_cast<const char*>(b), sizeof *b);
    if (fake.during)
        fake.during(b);
    b->Count = fake.count;
    return fake.result;
}

uint32_t Get32(const QByteArray& b, std::size_t at)
{
    uint32_t v = 0;
    std::memcpy(&v, b.constData() + at, 4);
    return v;
}

uint64_t GetAddress(const QByteArray& b, std::size_t at)
{
    uint64_t v = 0;
    std::memcpy(&v, b.constData() + at, sizeof(void*));
    return v;
}

uint64_t Addr(const void* p)
{
    return uint64_t(reinterpret_cast<uintptr_t>(p));
}

TUnzipFlags MainWindowOptions()
{
    return {OverWriteFlag, QuietFlag, NoDirectoryNamesFlag};
}

QStringList FilesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                  QDir::NoDotAndDotDot);
}

} // namespace

class TestUnzipFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    QString path(const QString& name) const { return m_dir->path() + u'/' + name; }

    // A loaded component set up like the main window's.
    std::unique_ptr<TUnzipFile> realUnzip()
    {
        auto u = std::make_unique<TUnzipFile>();
        u->SetOptions(MainWindowOptions());
        return u;
    }

    // Runs the calls of the description import on an archive: 1, 3, 8.
    // Returns the result of 8, or -1 when 3 counted nothing.
    int extractAll(TUnzipFile& u, const QString& zip, const QString& spec, const QString& dest)
    {
        u.lpszZipFile()->SetText(zip);
        u.lpszFileSpec()->SetText(spec);
        u.lpszDestination()->SetText(dest);
        u.SetItemCount(0);
        u.RunUnzip(1);
        u.RunUnzip(3);
        if (u.ItemCount() == 0)
            return -1;
        return u.RunUnzip(8) ? 0 : u.LastResult();
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        fake = FakeLibrary();
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    // ---------------------------------------------------------- TLPStr

    void lpstrFixedCapacityCuts()
    {
        TLPStr s(5);
        QVERIFY(s.FixedCapacity());
        QCOMPARE(s.Capacity(), uint16_t(5));
        s.SetText("abcdefgh");
        QCOMPARE(QByteArray(s.Text()), QByteArray("abcd"));
        const char* buffer = s.Text();
        s.SetText("xy");
        QCOMPARE(s.Text(), buffer); // the buffer stays
        QCOMPARE(QByteArray(s.Text()), QByteArray("xy"));
        s.ClearText();
        QCOMPARE(s.Text(), buffer);
        QCOMPARE(s.Text()[0], '\0');
    }

    void lpstrUnfixed()
    {
        TLPStr s;
        QCOMPARE(s.Text(), nullptr);
        QCOMPARE(s.Capacity(), uint16_t(0));
        s.SetText("hello");
        QCOMPARE(QByteArray(s.Text()), QByteArray("hello"));
        QCOMPARE(s.Capacity(), uint16_t(6));
        QVERIFY(!s.FixedCapacity());
        s.SetText("");
        QVERIFY(s.Text());
        QCOMPARE(s.Capacity(), uint16_t(1));
        s.SetText(static_cast<const char*>(nullptr));
        QCOMPARE(s.Text(), nullptr);
        s.SetText("again");
        s.ClearText();
        QCOMPARE(s.Text(), nullptr);
        // Its own text given back.
        s.SetText("self");
        s.SetText(s.Text());
        QCOMPARE(QByteArray(s.Text()), QByteArray("self"));
        // Latin-1 both ways.
        s.SetText(QString::fromLatin1("caf\xe9"));
        QCOMPARE(QByteArray(s.Text()), QByteArray("caf\xe9"));
        QCOMPARE(s.TextString(), QString::fromLatin1("caf\xe9"));
    }

    void lpstrSetCapacity()
    {
        TLPStr s;
        s.SetText("abcdef");
        s.SetCapacity(7); // equal to the current capacity: just fixed
        QVERIFY(s.FixedCapacity());
        QCOMPARE(QByteArray(s.Text()), QByteArray("abcdef"));
        s.SetCapacity(4); // other size: new buffer, text cut
        QCOMPARE(s.Capacity(), uint16_t(4));
        QCOMPARE(QByteArray(s.Text()), QByteArray("abc"));
        s.SetCapacity(0); // fixed mark cleared, text kept
        QVERIFY(!s.FixedCapacity());
        QCOMPARE(QByteArray(s.Text()), QByteArray("abc"));
        s.SetText("longer text");
        QCOMPARE(s.Capacity(), uint16_t(12));
    }

    void lpstrCopyTextTo()
    {
        TLPStr s;
        char* buffer = nullptr;
        s.CopyTextTo(buffer);
        QVERIFY(buffer);
        QCOMPARE(buffer[0], '\0');
        QCOMPARE(buffer[1], '\0');
        delete[] buffer;
        buffer = nullptr;

        s.SetText("copy me");
        s.CopyTextTo(buffer);
        QCOMPARE(QByteArray(buffer), QByteArray("copy me"));
        delete[] buffer;

        char small[5] = {'x', 'x', 'x', 'x', 'x'};
        char* p = small;
        s.CopyTextTo(p, sizeof small);
        QCOMPARE(QByteArray(small), QByteArray("copy"));
    }

    void lpstrStreams()
    {
        TLPStr s(10);
        QBuffer in;
        in.setData("hello");
        QVERIFY(in.open(QIODevice::ReadOnly));
        s.ReadFromStream(in);
        QCOMPARE(QByteArray(s.Text()), QByteArray("hello"));

        QBuffer out;
        QVERIFY(out.open(QIODevice::WriteOnly));
        s.WriteToStream(out);
        QCOMPARE(out.data(), QByteArray("hello"));

        // A stream that fills the whole buffer is too long.
        TLPStr five(5);
        QBuffer full;
        full.setData("12345");
        QVERIFY(full.open(QIODevice::ReadOnly));
        try {
            five.ReadFromStream(full);
            QFAIL("no stream error");
        } catch (const StreamError& e) {
            QCOMPARE(e.message(), QStringLiteral("Line too long"));
        }

        TLPStr unfixed;
        QBuffer big;
        big.setData(QByteArray(32767, 'a'));
        QVERIFY(big.open(QIODevice::ReadOnly));
        unfixed.ReadFromStream(big);
        QCOMPARE(std::strlen(unfixed.Text()), std::size_t(32767));
        QBuffer bigger;
        bigger.setData(QByteArray(32768, 'a'));
        QVERIFY(bigger.open(QIODevice::ReadOnly));
        QVERIFY_THROWS_EXCEPTION(StreamError, unfixed.ReadFromStream(bigger));

        TLPStr empty;
        QBuffer none;
        QVERIFY(none.open(QIODevice::WriteOnly));
        empty.WriteToStream(none);
        QCOMPARE(none.data(), QByteArray());
    }

    // ---------------------------------------------------------- the block

    void fill32BitLayout()
    {
        TUnzipFile u(nullptr, &FakeEntry);
        u.SetOptions(MainWindowOptions());
        u.SetwUnzipSubOptions({USO_MINORCANCEL, USO_MANGLELONGNAMES});
        u.SetIndexofItem(7);
        u.SetItemCount(3);
        QByteArray b(142, char(0x55));
        QVERIFY(u.FillCommandBlock(reinterpret_cast<uint8_t*>(b.data()), 142, 4, 8));
        QCOMPARE(Get32(b, 0), 142u);
        QCOMPARE(Get32(b, 4), 8u);
        QCOMPARE(Get32(b, 20), 7u);
        QCOMPARE(Get32(b, 76), 3u);
        QCOMPARE(Get32(b, 36), 1u);
        QCOMPARE(Get32(b, 40), 1u);
        QCOMPARE(Get32(b, 48), 1u);
        for (int off : {28, 32, 44, 52, 56, 84, 88, 92})
            QCOMPARE(Get32(b, std::size_t(off)), 0u);
        QCOMPARE(uint8_t(b[108]), uint8_t(0x22));
        QCOMPARE(uint8_t(b[109]), uint8_t(0));
        for (int off = 110; off < 118; ++off)
            QCOMPARE(b[off], '\0');
        // Texts never set are 0; the info buffer and callbacks are not.
        QCOMPARE(Get32(b, 8), 0u);
        QCOMPARE(Get32(b, 16), 0u);
        QCOMPARE(Get32(b, 24), 0u);
        QCOMPARE(Get32(b, 80), 0u);
        QCOMPARE(Get32(b, 96), 0u);
        QCOMPARE(Get32(b, 126), 0u);
        QVERIFY(Get32(b, 12) != 0u);
        for (int off : {60, 68, 100, 118})
            QVERIFY(Get32(b, std::size_t(off)) != 0u);
        const uint32_t self = uint32_t(Addr(&u));
        for (int off : {64, 72, 104, 122})
            QCOMPARE(Get32(b, std::size_t(off)), self);
        for (int off : {130, 134, 138})
            QCOMPARE(Get32(b, std::size_t(off)), 0u);

        // Too small a buffer is refused.
        QVERIFY(!u.FillCommandBlock(reinterpret_cast<uint8_t*>(b.data()), 141, 4, 8));
    }

    void fill64BitLayout()
    {
        TUnzipFile u(nullptr, &FakeEntry);
        u.SetOptions(MainWindowOptions());
        QByteArray b(202, char(0x55));
        QVERIFY(u.FillCommandBlock(reinterpret_cast<uint8_t*>(b.data()), 202, 8, 3));
        QCOMPARE(Get32(b, 0), 202u);
        QCOMPARE(Get32(b, 4), 3u);
        QCOMPARE(Get32(b, 52), 1u);
        QCOMPARE(Get32(b, 56), 1u);
        QCOMPARE(Get32(b, 64), 1u);
        for (int off : {44, 48, 60, 68, 72, 120, 124, 128})
            QCOMPARE(Get32(b, std::size_t(off)), 0u);
    }

    void blockAsPassed()
    {
        TUnzipFile u(nullptr, &FakeEntry);
        u.SetOptions(MainWindowOptions());
        u.SetIndexofItem(2);
        u.SetItemCount(11);
        u.lpszZipFile()->SetText("/x/a.zip");
        u.lpszDestination()->SetText("/x/Temp/");
        fake.count = 4;
        QVERIFY(u.RunUnzip(1));
        QCOMPARE(fake.calls, 1);
        const QByteArray& b = fake.block;
        QCOMPARE(std::size_t(b.size()), sizeof(UnzipCommandBlock));
        QCOMPARE(Get32(b, 0), uint32_t(sizeof(UnzipCommandBlock)));
        QCOMPARE(Get32(b, offsetof(UnzipCommandBlock, Function)), 1u);
        QCOMPARE(Get32(b, offsetof(UnzipCommandBlock, Index)), 2u);
        QCOMPARE(Get32(b, offsetof(UnzipCommandBlock, Count)), 11u);
        QCOMPARE(GetAddress(b, offsetof(UnzipCommandBlock, lpszZipFile)),
                 Addr(u.lpszZipFile()->Text()));
        QCOMPARE(GetAddress(b, offsetof(UnzipCommandBlock, lpszDestination)),
                 Addr(u.lpszDestination()->Text()));
        QCOMPARE(GetAddress(b, offsetof(UnzipCommandBlock, lpszFileSpec)), uint64_t(0));
        QCOMPARE(GetAddress(b, offsetof(UnzipCommandBlock, lpMajorUserData)), Addr(&u));
        QCOMPARE(Get32(b, offsetof(UnzipCommandBlock, OverWriteFlag)), 1u);
        QCOMPARE(Get32(b, offsetof(UnzipCommandBlock, FreshenFlag)), 0u);
        QCOMPARE(u.ItemCount(), 4);
        QCOMPARE(u.LastResult(), 0);
    }

    void refusedCodes_data()
    {
        QTest::addColumn<int>("code");
        QTest::newRow("0") << 0;
        QTest::newRow("10") << 10;
        QTest::newRow("-1") << -1;
        QTest::newRow("1000") << 1000;
    }
    void refusedCodes()
    {
        QFETCH(int, code);
        TUnzipFile u(nullptr, &FakeEntry);
        fake.result = 5;
        QVERIFY(!u.RunUnzip(2));
        QCOMPARE(u.LastResult(), 5);
        QCOMPARE(fake.calls, 1);
        fake.result = 0;
        QVERIFY(!u.RunUnzip(code));
        QCOMPARE(fake.calls, 1);
        QCOMPARE(u.LastResult(), 5);
    }

    void itemCountKeptAfterFailure()
    {
        TUnzipFile u(nullptr, &FakeEntry);
        fake.count = 5;
        QVERIFY(u.RunUnzip(3));
        QCOMPARE(u.ItemCount(), 5);
        fake.result = 4;
        fake.count = 9;
        QVERIFY(!u.RunUnzip(3));
        QCOMPARE(u.LastResult(), 4);
        QCOMPARE(u.ItemCount(), 5);
    }

    void code6Capacity()
    {
        TUnzipFile u(nullptr, &FakeEntry);
        u.SetItemCount(10);
        fake.count = 10;
        QVERIFY(u.RunUnzip(6));
        QVERIFY(u.lpszReturnString()->FixedCapacity());
        QCOMPARE(u.lpszReturnString()->Capacity(), uint16_t(11));
        QCOMPARE(GetAddress(fake.block, offsetof(UnzipCommandBlock, lpszReturnString)),
                 Addr(u.lpszReturnString()->Text()));
        // A count whose buffer wouldn't fit 16 bits is refused without a call.
        u.SetItemCount(0xFFFF);
        QVERIFY(!u.RunUnzip(6));
        u.SetItemCount(-1);
        QVERIFY(!u.RunUnzip(6));
        QCOMPARE(fake.calls, 1);
    }

    void callbacks()
    {
        TUnzipFile u(nullptr, &FakeEntry);
        int32_t major = -1, minor = -1, message = -1, rename = -1;
        int dummy = 0;
        fake.during = [&](UnzipCommandBlock* b) {
            major = b->lpMajorStatus("item", 50, b->lpMajorUserData);
            minor = b->lpMinorStatus("item", 60, b->lpMinorUserData);
            message = b->lpMessageDisplay(3, 4, 5, 6, "one", "two", b->lpMessageDisplayData);
            rename = b->lpRenameProc(&dummy, b->lpRenameUserData);
        };
        // No events: continue, 0, 0.
        QVERIFY(u.RunUnzip(1));
        QCOMPARE(major, 0);
        QCOMPARE(minor, 0);
        QCOMPARE(message, 0);
        QCOMPARE(rename, 0);

        QString seenItem;
        int seenPercent = 0;
        u.OnMajorCallback = [&](const char* item, int32_t percent, bool& cancel) {
            seenItem = QString::fromLatin1(item);
            seenPercent = percent;
            cancel = true;
        };
        u.OnMinorCallback = [&](const char*, int32_t, bool&) {};
        u.OnMessageCallback = [&](uint16_t id, uint16_t type, int32_t p1, int32_t p2, const char* a,
                                  const char* b, int32_t& result) {
            QCOMPARE(id, uint16_t(3));
            QCOMPARE(type, uint16_t(4));
            QCOMPARE(p1 + p2, 11);
            QCOMPARE(QByteArray(a) + QByteArray(b), QByteArray("onetwo"));
            result = 42;
        };
        void* renamed = nullptr;
        u.OnRenameCallback = [&](PDZRename dzr) { renamed = dzr; };
        QVERIFY(u.RunUnzip(1));
        QCOMPARE(major, 1);
        QCOMPARE(seenItem, QStringLiteral("item"));
        QCOMPARE(seenPercent, 50);
        QCOMPARE(minor, 0);
        QCOMPARE(message, 42);
        QCOMPARE(rename, 0);
        QCOMPARE(renamed, static_cast<void*>(&dummy));
    }

    void lpszAssignRefused()
    {
        DialogScript dialogs;
        InstallUnzipMessageHook();
        TUnzipFile u(nullptr, &FakeEntry);
        TLPStr* own = u.lpszFileSpec();
        TLPStr other;
        u.SetlpszFileSpec(&other);
        u.SetlpszReturnString(&other);
        QCOMPARE(u.lpszFileSpec(), own);
        QCOMPARE(dialogs.shown.size(), 2);
        QCOMPARE(dialogs.shown.at(0).kind, MessageKind::Information);
        QCOMPARE(dialogs.shown.at(0).text,
                 QStringLiteral("Cannot Directly assign a value to type LPSTR.  Use SetText"));
        TUnzipFile::SetInformationHook({});
    }

    // ---------------------------------------------------------- loading

    void loadFailures()
    {
        DialogScript dialogs;
        TUnzipFile missing(nullptr, path(QStringLiteral("nowhere")));
        QCOMPARE(missing.LoadState(), UnzipLoadState::LibraryMissing);
        QVERIFY(!missing.RunUnzip(1));
        QVERIFY(ReportUnzipLoadFailure(missing));

        TUnzipFile noEntry(nullptr,
                           QCoreApplication::applicationDirPath() + QStringLiteral("/nodunzip"));
        QCOMPARE(noEntry.LoadState(), UnzipLoadState::EntryMissing);
        QVERIFY(ReportUnzipLoadFailure(noEntry));

        TUnzipFile loaded;
        QVERIFY(loaded.IsLoaded());
        QVERIFY(loaded.LoadFailureText().isEmpty());
        QVERIFY(!ReportUnzipLoadFailure(loaded));

        QCOMPARE(dialogs.texts(), (QStringList{QStringLiteral("Could not load DUNZIP32.DLL!"),
                                               QStringLiteral("Could not load dunzip function!")}));
        QCOMPARE(dialogs.shown.at(0).kind, MessageKind::Warning);
    }

    // ---------------------------------------------------------- the library

    void countsAndExtraction()
    {
        const QString zip = path(QStringLiteral("a.zip"));
        QVERIFY(MakeZip(zip, {{"readme.txt", "read me"},
                              {"docs/File_Id.Diz", "desc\r\n", true},
                              {"sub/", ""},
                              {"notes.TXT", "n"}}));
        auto u = realUnzip();
        u->lpszZipFile()->SetText(zip);
        QVERIFY(u->RunUnzip(1));
        QCOMPARE(u->ItemCount(), 4);
        u->lpszFileSpec()->SetText("FILE_ID.DIZ");
        QVERIFY(u->RunUnzip(3));
        QCOMPARE(u->ItemCount(), 1);
        u->lpszFileSpec()->SetText("*.txt");
        QVERIFY(u->RunUnzip(3));
        QCOMPARE(u->ItemCount(), 2);
        u->lpszFileSpec()->SetText("missing.diz");
        QVERIFY(u->RunUnzip(3));
        QCOMPARE(u->ItemCount(), 0);

        // Extracted flat under the member's last name, replacing a file.
        const QString dest = path(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(dest));
        QVERIFY(WriteBytes(dest + QStringLiteral("File_Id.Diz"), "old"));
        QCOMPARE(extractAll(*u, zip, QStringLiteral("file_id.diz"), dest), 0);
        QCOMPARE(FilesIn(dest), QStringList{QStringLiteral("File_Id.Diz")});
        QCOMPARE(ReadBytes(dest + QStringLiteral("File_Id.Diz")), QByteArray("desc\r\n"));

        // The name of member 0 through codes 5 and 6.
        u->SetIndexofItem(1);
        QVERIFY(u->RunUnzip(5));
        QCOMPARE(u->ItemCount(), 16);
        QVERIFY(u->RunUnzip(6));
        QCOMPARE(QByteArray(u->lpszReturnString()->Text()), QByteArray("docs/File_Id.Diz"));
        u->SetIndexofItem(99);
        QVERIFY(!u->RunUnzip(5));
        QCOMPARE(u->LastResult(), int(DZ_ERR_INDEX));

        // A code the library doesn't carry out.
        QVERIFY(!u->RunUnzip(9));
        QCOMPARE(u->LastResult(), int(DZ_ERR_FUNCTION));
    }

    void backslashAndDotDotNames()
    {
        const QString zip = path(QStringLiteral("b.zip"));
        QVERIFY(MakeZip(zip, {{"DOCS\\FILE_ID.DIZ", "one"}}));
        const QString dest = path(QStringLiteral("deep/er/out/"));
        QVERIFY(QDir().mkpath(dest));
        auto u = realUnzip();
        QCOMPARE(extractAll(*u, zip, QStringLiteral("file_id.diz"), dest), 0);
        QCOMPARE(FilesIn(dest), QStringList{QStringLiteral("FILE_ID.DIZ")});

        QVERIFY(MakeZip(zip, {{"../../evil/FILE_ID.DIZ", "two"}}));
        QCOMPARE(extractAll(*u, zip, QStringLiteral("file_id.diz"), dest), 0);
        QCOMPARE(ReadBytes(dest + QStringLiteral("FILE_ID.DIZ")), QByteArray("two"));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("deep/evil"))));
        QVERIFY(!QFileInfo::exists(path(QStringLiteral("evil"))));

        // A last part that is "." or ".." is never written.
        QVERIFY(MakeZip(zip, {{"x/..", "three"}, {"y/.", "four"}}));
        QCOMPARE(extractAll(*u, zip, QStringLiteral("*"), dest), int(DZ_ERR_NAME));
        QCOMPARE(FilesIn(dest), QStringList{QStringLiteral("FILE_ID.DIZ")});
    }

    void existingLinkInDestinationNotFollowed()
    {
        const QString outside = path(QStringLiteral("outside.txt"));
        QVERIFY(WriteBytes(outside, "keep"));
        const QString dest = path(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(dest));
        QVERIFY(QFile::link(outside, dest + QStringLiteral("FILE_ID.DIZ")));
        const QString zip = path(QStringLiteral("c.zip"));
        QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", "new"}}));
        auto u = realUnzip();
        QCOMPARE(extractAll(*u, zip, QStringLiteral("file_id.diz"), dest), 0);
        QCOMPARE(ReadBytes(outside), QByteArray("keep"));
        const QFileInfo written(dest + QStringLiteral("FILE_ID.DIZ"));
        QVERIFY(!written.isSymLink());
        QCOMPARE(ReadBytes(written.filePath()), QByteArray("new"));
    }

    void hostileArchives_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("expected"); // -1: nothing counted; else code 8's result
        QTest::newRow("truncated") << "truncated" << -1;
        QTest::newRow("garbage") << "garbage" << -1;
        QTest::newRow("empty file") << "empty" << -1;
        QTest::newRow("no file") << "nofile" << -1;
        QTest::newRow("encrypted member") << "encrypted" << int(DZ_ERR_UNSUPPORTED);
        QTest::newRow("implode") << "method6" << int(DZ_ERR_UNSUPPORTED);
        QTest::newRow("shrink") << "method1" << int(DZ_ERR_UNSUPPORTED);
        QTest::newRow("deflate64") << "method9" << int(DZ_ERR_UNSUPPORTED);
        QTest::newRow("claims 4 GB") << "huge" << int(DZ_ERR_TOO_LARGE);
        QTest::newRow("real 65 KiB") << "big" << int(DZ_ERR_TOO_LARGE);
        QTest::newRow("exactly 64 KiB") << "limit" << 0;
        QTest::newRow("size header lies") << "lying" << -2;
        QTest::newRow("symlink member") << "symlink" << int(DZ_ERR_LINK);
        QTest::newRow("directory named like it") << "directory" << -1;
        QTest::newRow("damaged deflate data") << "damaged" << -2;
    }
    void hostileArchives()
    {
        QFETCH(QString, kind);
        QFETCH(int, expected);
        const QString zip = path(QStringLiteral("h.zip"));
        const QByteArray text = "FILE_ID text\r\n";
        QByteArray big;
        for (int i = 0; big.size() < 100 * 1024; ++i)
            big += QByteArray::number(i) + ' ';

        if (kind == QLatin1String("truncated")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", big}}));
            const QByteArray all = ReadBytes(zip);
            QVERIFY(WriteBytes(zip, all.left(all.size() / 2)));
        } else if (kind == QLatin1String("garbage")) {
            QByteArray junk;
            for (int i = 0; i < 5000; ++i)
                junk += char((i * 7919) & 0xff);
            QVERIFY(WriteBytes(zip, junk));
        } else if (kind == QLatin1String("empty")) {
            QVERIFY(WriteBytes(zip, QByteArray()));
        } else if (kind == QLatin1String("nofile")) {
            // nothing written
        } else if (kind == QLatin1String("encrypted")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", text, true}}));
            QByteArray b = ReadBytes(zip);
            QVERIFY(PatchMember(b, 0, ZipHeaderField::Flags, 1));
            QVERIFY(WriteBytes(zip, b));
        } else if (kind.startsWith(QLatin1String("method"))) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", text, true}}));
            QByteArray b = ReadBytes(zip);
            QVERIFY(PatchMember(b, 0, ZipHeaderField::Method, kind.mid(6).toUInt()));
            QVERIFY(WriteBytes(zip, b));
        } else if (kind == QLatin1String("huge")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", text, true}}));
            QByteArray b = ReadBytes(zip);
            QVERIFY(PatchMember(b, 0, ZipHeaderField::UncompressedSize, 0xFFFFFFF0u));
            QVERIFY(WriteBytes(zip, b));
        } else if (kind == QLatin1String("big")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", QByteArray(65 * 1024, 'a')}}));
        } else if (kind == QLatin1String("limit")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", QByteArray(64 * 1024, 'a')}}));
        } else if (kind == QLatin1String("lying")) {
            // A deflated 100 KiB member whose headers claim 100 bytes.
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", big}}));
            QByteArray b = ReadBytes(zip);
            QVERIFY(PatchMember(b, 0, ZipHeaderField::UncompressedSize, 100));
            QVERIFY(WriteBytes(zip, b));
        } else if (kind == QLatin1String("symlink")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", "/etc/passwd", true, 0120777u}}));
        } else if (kind == QLatin1String("directory")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ/", ""}}));
        } else if (kind == QLatin1String("damaged")) {
            QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", big}}));
            QByteArray b = ReadBytes(zip);
            const ZipHeaders h = FindHeaders(b, 0);
            QVERIFY(h.local >= 0);
            for (qsizetype i = h.local + 60; i < h.local + 400; ++i)
                b[i] = char(b[i] ^ 0x5a);
            QVERIFY(WriteBytes(zip, b));
        }

        const QString dest = path(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(dest));
        auto u = realUnzip();
        const int result = extractAll(*u, zip, QStringLiteral("FILE_ID.DIZ"), dest);
        if (expected == -2)
            QVERIFY(result > 0); // a data error or the size limit, either way a failure
        else
            QCOMPARE(result, expected);
        if (result == 0) {
            QCOMPARE(FilesIn(dest), QStringList{QStringLiteral("FILE_ID.DIZ")});
            QCOMPARE(QFileInfo(dest + QStringLiteral("FILE_ID.DIZ")).size(), 64 * 1024);
        } else {
            // Nothing left behind: no file, no link, no temporary.
            QCOMPARE(FilesIn(dest), QStringList());
        }
        QCOMPARE(FilesIn(m_dir->path()).size(), kind == QLatin1String("nofile") ? 1 : 2);
    }

    void badBlocks()
    {
        QLibrary lib(QCoreApplication::applicationDirPath() + QStringLiteral("/libdunzip.so"));
        auto entry = reinterpret_cast<DunzipEntry>(lib.resolve("dunzip"));
        QVERIFY(entry);
        QCOMPARE(entry(nullptr), int(DZ_ERR_BLOCK));
        UnzipCommandBlock block;
        std::memset(&block, 0, sizeof block);
        block.StructSize = 142; // the other layout
        block.Function = 1;
        QCOMPARE(entry(&block), int(DZ_ERR_BLOCK));
        block.StructSize = int32_t(sizeof block);
        QCOMPARE(entry(&block), int(DZ_ERR_ARGUMENT)); // no zip file
        block.Function = 8;
        const QByteArray zip = QFile::encodeName(path(QStringLiteral("d.zip")));
        QVERIFY(MakeZip(path(QStringLiteral("d.zip")), {{"FILE_ID.DIZ", "x"}}));
        block.lpszZipFile = zip.constData();
        QCOMPARE(entry(&block), int(DZ_ERR_ARGUMENT)); // no destination
        const QByteArray missing = QFile::encodeName(path(QStringLiteral("none/")));
        block.lpszDestination = missing.constData();
        QCOMPARE(entry(&block), int(DZ_ERR_WRITE));
    }

    void cancelFromStatusCallback()
    {
        const QString zip = path(QStringLiteral("e.zip"));
        QVERIFY(MakeZip(zip, {{"FILE_ID.DIZ", "text"}}));
        const QString dest = path(QStringLiteral("out/"));
        QVERIFY(QDir().mkpath(dest));
        auto u = realUnzip();
        QStringList items;
        u->OnMajorCallback = [&](const char* item, int32_t, bool& cancel) {
            items << QString::fromLatin1(item);
            cancel = true;
        };
        const int r = extractAll(*u, zip, QStringLiteral("file_id.diz"), dest);
        QCOMPARE(r, int(DZ_ERR_CANCELLED));
        QCOMPARE(items, QStringList{QStringLiteral("FILE_ID.DIZ")});
        QCOMPARE(FilesIn(dest), QStringList());
    }
};

VT_TEST_MAIN(TestUnzipFile)
#include "test_unzipfile.moc"
