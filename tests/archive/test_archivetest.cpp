// The archive test of one file: real archives of every kind read through
// clean, and a table of damaged, encrypted and unreadable ones with the
// finding each must give, nested archives one level deep included.
#include "ArchiveFixtures.h"
#include "ZipFixtures.h"
#include "archive/ArchiveTest.h"
#include "archive/TUnzipFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(ArchiveTestOutcome)
Q_DECLARE_METATYPE(ArchiveTestCause)

namespace
{

// Bytes that deflate poorly, so a stored or packed member is mostly data.
QByteArray Noise(int size, int seed)
{
    QByteArray out(size, '\0');
    quint32 x = quint32(seed) * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = char(x >> 24);
    }
    return out;
}

// BIG.BIN is above the 64 KiB the zip component extracts: a test reads
// members of any size.
const QMap<QString, QByteArray> Members{{"README.TXT", "Read me first.\r\n"},
                                        {"DATA.BIN", Noise(40000, 1)},
                                        {"BIG.BIN", Noise(300000, 7)},
                                        {"SUB/MORE.TXT", QByteArray(5000, 'm')}};

} // namespace

class TestArchiveTest : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<TUnzipFile> m_unzip;

    QString out(const QString& name) const { return m_dir->filePath(name); }
    QString work() const { return m_dir->filePath(QStringLiteral("work")); }
    QString nestedTemp() const { return m_dir->filePath(QStringLiteral("nested")); }

    bool make(const QString& kind, const QString& name, const QMap<QString, QByteArray>& members,
              const QString& password = QString())
    {
        return MakeArchive(kind, out(name), work(), members, password);
    }

    ArchiveTestResult test(const QString& name, ArchiveTestOptions options = {})
    {
        options.tempFolder = nestedTemp();
        return TestArchive(out(name), m_unzip.get(), options);
    }

    // The archive `name` cut to `keep` bytes (negative: that many fewer).
    bool truncate(const QString& name, qsizetype keep)
    {
        const QByteArray all = ReadBytes(out(name));
        return WriteBytes(out(name), all.left(keep >= 0 ? keep : all.size() + keep));
    }

    // Flips one byte inside the data `inside` (which must occur once).
    bool flipInside(const QString& name, const QByteArray& inside, qsizetype at)
    {
        QByteArray all = ReadBytes(out(name));
        const qsizetype where = all.indexOf(inside);
        if (where < 0 || all.indexOf(inside, where + 1) >= 0)
            return false;
        all[where + at] = char(all[where + at] ^ 0x55);
        return WriteBytes(out(name), all);
    }

    bool noTemporaryFilesLeft() const
    {
        return QDir(nestedTemp())
            .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
            .isEmpty();
    }

private slots:
    void initTestCase()
    {
        m_unzip = std::make_unique<TUnzipFile>();
        QVERIFY(m_unzip->IsLoaded());
    }
    void cleanupTestCase() { m_unzip.reset(); }
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        QVERIFY(QDir().mkpath(nestedTemp()));
    }
    void cleanup() { m_dir.reset(); }

    void cleanArchives_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* k : {"zip", "7z", "tar", "tar.gz", "tar.bz2", "tar.xz", "cab", "cab-mszip",
                              "lha", "rar", "iso"})
            QTest::newRow(k) << QString::fromLatin1(k);
    }
    void cleanArchives()
    {
        QFETCH(QString, kind);
        QVERIFY(make(kind, QStringLiteral("a.arc"), Members));
        const ArchiveTestResult r = test(QStringLiteral("a.arc"));
        QCOMPARE(r.outcome, ArchiveTestOutcome::Clean);
        QCOMPARE(r.cause, ArchiveTestCause::None);
        QVERIFY(r.tested);
        QCOMPARE(r.membersRead, 4);
        QCOMPARE(ArchiveTestText(r), QStringLiteral("clean"));
    }

    void nothingToTest_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<ArchiveTestCause>("cause");
        QTest::newRow("plain file") << "plain" << ArchiveTestCause::NotAnArchive;
        QTest::newRow("empty file") << "empty" << ArchiveTestCause::NotAnArchive;
        QTest::newRow("ARJ") << "arj" << ArchiveTestCause::KindNotRead;
    }
    void nothingToTest()
    {
        QFETCH(QString, kind);
        QFETCH(ArchiveTestCause, cause);
        if (kind == u"plain")
            QVERIFY(WriteBytes(out("a.arc"), "just text\r\n"));
        else if (kind == u"empty")
            QVERIFY(WriteBytes(out("a.arc"), QByteArray()));
        else
            QVERIFY(make(kind, QStringLiteral("a.arc"), Members));
        const ArchiveTestResult r = test(QStringLiteral("a.arc"));
        QCOMPARE(r.outcome, ArchiveTestOutcome::Clean);
        QCOMPARE(r.cause, cause);
        QVERIFY(!r.tested);
        QCOMPARE(r.membersRead, 0);
    }

    // Each fault class once: the finding, its cause and the member named.
    void faults_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<ArchiveTestOutcome>("outcome");
        QTest::addColumn<ArchiveTestCause>("cause");
        QTest::addColumn<QByteArrayList>("member");
        const auto D = ArchiveTestOutcome::Damaged;
        const auto N = ArchiveTestOutcome::NotScanned;
        QTest::newRow("truncated zip")
            << "zip-truncated" << D << ArchiveTestCause::Unopenable << QByteArrayList{};
        QTest::newRow("zip member with a bad CRC")
            << "zip-crc" << D << ArchiveTestCause::ChecksumFailed << QByteArrayList{"DATA.BIN"};
        QTest::newRow("zip member above 64 KiB with a bad CRC")
            << "zip-crc-big" << D << ArchiveTestCause::ChecksumFailed << QByteArrayList{"BIG.BIN"};
        QTest::newRow("zip member whose packed data is damaged")
            << "zip-deflate" << D << ArchiveTestCause::DataDamaged << QByteArrayList{"DATA.BIN"};
        QTest::newRow("encrypted zip member")
            << "zip-encrypted" << N << ArchiveTestCause::Encrypted << QByteArrayList{"DATA.BIN"};
        QTest::newRow("zip member of an unknown method")
            << "zip-method" << N << ArchiveTestCause::Unsupported << QByteArrayList{"DATA.BIN"};
        QTest::newRow("truncated 7z")
            << "7z-truncated" << D << ArchiveTestCause::Unopenable << QByteArrayList{};
        QTest::newRow("7z member with a bad CRC")
            << "7z-crc" << D << ArchiveTestCause::ChecksumFailed << QByteArrayList{"DATA.BIN"};
        QTest::newRow("encrypted 7z")
            << "7z-encrypted" << N << ArchiveTestCause::Encrypted << QByteArrayList{"DATA.BIN"};
        QTest::newRow("truncated tar.gz")
            << "tgz-truncated" << D << ArchiveTestCause::DataDamaged << QByteArrayList{"DATA.BIN"};
        QTest::newRow("truncated tar")
            << "tar-truncated" << D << ArchiveTestCause::DataDamaged << QByteArrayList{"DATA.BIN"};
        QTest::newRow("tar.gz with a bad CRC at its end")
            << "tgz-crc" << D << ArchiveTestCause::ChecksumFailed << QByteArrayList{};
        QTest::newRow("missing file")
            << "missing" << N << ArchiveTestCause::ReadError << QByteArrayList{};
    }
    void faults()
    {
        QFETCH(QString, fault);
        QFETCH(ArchiveTestOutcome, outcome);
        QFETCH(ArchiveTestCause, cause);
        QFETCH(QByteArrayList, member);
        const QString name = QStringLiteral("a.arc");
        const QByteArray data = Members.value(QStringLiteral("DATA.BIN"));
        const QList<ZipMember> zipMembers{{"README.TXT", "Read me first.\r\n"},
                                          {"DATA.BIN", data, true}};
        if (fault == u"zip-truncated") {
            QVERIFY(make(QStringLiteral("zip"), name, Members));
            QVERIFY(truncate(name, -200));
        } else if (fault == u"zip-crc") {
            QVERIFY(MakeZip(out(name), zipMembers));
            QVERIFY(flipInside(name, data.mid(1000, 16), 5));
        } else if (fault == u"zip-crc-big") {
            const QByteArray big = Members.value(QStringLiteral("BIG.BIN"));
            QVERIFY(
                MakeZip(out(name), {{"README.TXT", "Read me first.\r\n"}, {"BIG.BIN", big, true}}));
            QVERIFY(flipInside(name, big.mid(250000, 16), 5));
        } else if (fault == u"zip-deflate") {
            QVERIFY(MakeZip(out(name), {{"README.TXT", "Read me first.\r\n"},
                                        {"DATA.BIN", QByteArray(40000, 'z')}}));
            QByteArray all = ReadBytes(out(name));
            const ZipHeaders h = FindHeaders(all, 1);
            QVERIFY(h.local >= 0);
            // Past the local header (30 bytes and the name): the deflate
            // stream's first bytes, which name its block kind.
            for (int i = 0; i < 4; ++i)
                all[h.local + 30 + 8 + i] = char(0xFF);
            QVERIFY(WriteBytes(out(name), all));
        } else if (fault == u"zip-encrypted") {
            QVERIFY(MakeZip(out(name), zipMembers));
            QByteArray all = ReadBytes(out(name));
            QVERIFY(PatchMember(all, 1, ZipHeaderField::Flags, 1));
            QVERIFY(WriteBytes(out(name), all));
        } else if (fault == u"zip-method") {
            QVERIFY(MakeZip(out(name), zipMembers));
            QByteArray all = ReadBytes(out(name));
            QVERIFY(PatchMember(all, 1, ZipHeaderField::Method, 6)); // imploded
            QVERIFY(WriteBytes(out(name), all));
        } else if (fault == u"7z-truncated") {
            QVERIFY(make(QStringLiteral("7z"), name, Members));
            QVERIFY(truncate(name, -100));
        } else if (fault == u"7z-crc") {
            // Copy method: the member's bytes stand in the archive as they are.
            QVERIFY(QDir().mkpath(work()));
            QVERIFY(WriteTree(work(), {{"DATA.BIN", data}}));
            QVERIFY(RunTool(QStringLiteral("7z"),
                            {"a", "-bso0", "-bsp0", "-t7z", "-m0=Copy", out(name), "DATA.BIN"},
                            work()));
            QVERIFY(flipInside(name, data.mid(1000, 16), 5));
        } else if (fault == u"7z-encrypted") {
            QVERIFY(make(QStringLiteral("7z"), name, {{"DATA.BIN", data}}, QStringLiteral("pw")));
        } else if (fault == u"tgz-truncated") {
            // Large enough that the cut falls well after the first header.
            QVERIFY(make(QStringLiteral("tar.gz"), name, {{"DATA.BIN", Noise(400000, 2)}}));
            QVERIFY(truncate(name, ReadBytes(out(name)).size() / 2));
        } else if (fault == u"tar-truncated") {
            QVERIFY(make(QStringLiteral("tar"), name, {{"DATA.BIN", data}}));
            QVERIFY(truncate(name, 512 + 10000));
        } else if (fault == u"tgz-crc") {
            QVERIFY(make(QStringLiteral("tar.gz"), name, {{"DATA.BIN", data}}));
            QByteArray all = ReadBytes(out(name));
            // The gzip trailer: CRC-32, then the length, 4 bytes each.
            all[all.size() - 8] = char(all[all.size() - 8] ^ 0x55);
            QVERIFY(WriteBytes(out(name), all));
        } else if (fault == u"missing") {
            // nothing written
        }
        const ArchiveTestResult r = test(name);
        QCOMPARE(r.outcome, outcome);
        QCOMPARE(r.cause, cause);
        QCOMPARE(r.memberPath, member);
        QVERIFY(!ArchiveTestText(r).isEmpty());
        QVERIFY(noTemporaryFilesLeft());
    }

    // An archive inside the archive is tested too, one level deep; its
    // finding names the member holding it first.
    void nested_data()
    {
        QTest::addColumn<QString>("outer");
        QTest::addColumn<QString>("inner");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<ArchiveTestOutcome>("outcome");
        QTest::addColumn<ArchiveTestCause>("cause");
        QTest::addColumn<QByteArrayList>("member");
        QTest::addColumn<int>("nestedTested");
        const auto C = ArchiveTestOutcome::Clean;
        const auto D = ArchiveTestOutcome::Damaged;
        const auto N = ArchiveTestOutcome::NotScanned;
        const auto None = ArchiveTestCause::None;
        QTest::newRow("clean 7z in a zip") << "zip"
                                           << "7z"
                                           << "" << C << None << QByteArrayList{} << 1;
        QTest::newRow("clean zip in a tar.gz") << "tar.gz"
                                               << "zip"
                                               << "" << C << None << QByteArrayList{} << 1;
        QTest::newRow("truncated 7z in a zip")
            << "zip"
            << "7z"
            << "truncated" << D << ArchiveTestCause::Unopenable << QByteArrayList{"INNER.ARC"} << 1;
        QTest::newRow("zip with a bad CRC in a 7z")
            << "7z"
            << "zip"
            << "crc" << D << ArchiveTestCause::ChecksumFailed
            << QByteArrayList{"INNER.ARC", "DATA.BIN"} << 1;
        QTest::newRow("truncated zip in a tar.gz")
            << "tar.gz"
            << "zip"
            << "truncated" << D << ArchiveTestCause::Unopenable << QByteArrayList{"INNER.ARC"} << 1;
        QTest::newRow("encrypted 7z in a tar.gz") << "tar.gz"
                                                  << "7z"
                                                  << "encrypted" << N << ArchiveTestCause::Encrypted
                                                  << QByteArrayList{"INNER.ARC", "DATA.BIN"} << 1;
        // Two levels down is clamd's business: the damage is not seen.
        QTest::newRow("truncated 7z two levels deep")
            << "zip"
            << "zip-7z"
            << "truncated" << C << None << QByteArrayList{} << 1;
    }
    void nested()
    {
        QFETCH(QString, outer);
        QFETCH(QString, inner);
        QFETCH(QString, fault);
        QFETCH(ArchiveTestOutcome, outcome);
        QFETCH(ArchiveTestCause, cause);
        QFETCH(QByteArrayList, member);
        QFETCH(int, nestedTested);
        const QByteArray data = Members.value(QStringLiteral("DATA.BIN"));
        // The zip component hands out members named like archives only.
        const QString innerName =
            outer == u"zip" ? QStringLiteral("inner.zip") : QStringLiteral("inner.bin");
        const QString innerKind = inner == u"zip-7z" ? QStringLiteral("7z") : inner;
        if (innerKind == u"zip") {
            QVERIFY(MakeZip(out(innerName), {{"DATA.BIN", data, true}}));
        } else {
            QVERIFY(make(innerKind, innerName, {{"DATA.BIN", data}},
                         fault == u"encrypted" ? QStringLiteral("pw") : QString()));
        }
        if (fault == u"truncated")
            QVERIFY(truncate(innerName, -100));
        else if (fault == u"crc")
            QVERIFY(flipInside(innerName, data.mid(1000, 16), 5));
        QByteArray innerBytes = ReadBytes(out(innerName));
        if (inner == u"zip-7z") {
            QVERIFY(MakeZip(out(QStringLiteral("middle.zip")), {{"DEEP.7Z", innerBytes}}));
            innerBytes = ReadBytes(out(QStringLiteral("middle.zip")));
        }
        // Stored under a name of its own; its kind is told by its bytes
        // (in a zip, its name must also end like an archive's).
        const QString stored =
            outer == u"zip" ? QStringLiteral("INNER.ARC.zip") : QStringLiteral("INNER.ARC");
        QVERIFY(make(outer, QStringLiteral("outer.arc"),
                     {{"README.TXT", "hello\r\n"}, {stored, innerBytes}}));
        const ArchiveTestResult r = test(QStringLiteral("outer.arc"));
        QCOMPARE(r.outcome, outcome);
        QCOMPARE(r.cause, cause);
        QByteArrayList expected = member;
        if (!expected.isEmpty())
            expected[0] = stored.toLatin1();
        QCOMPARE(r.memberPath, expected);
        QCOMPARE(r.nestedTested, nestedTested);
        QVERIFY(noTemporaryFilesLeft());
    }

    // A nested archive above the size limit is read through, not tested
    // inside: its damage is not found, and it is counted.
    void nestedAboveLimitOnlyReadThrough()
    {
        const QByteArray data = Members.value(QStringLiteral("DATA.BIN"));
        QVERIFY(make(QStringLiteral("7z"), QStringLiteral("inner.7z"), {{"DATA.BIN", data}}));
        QVERIFY(truncate(QStringLiteral("inner.7z"), -100));
        QVERIFY(make(QStringLiteral("tar"), QStringLiteral("outer.tar"),
                     {{"INNER.7Z", ReadBytes(out(QStringLiteral("inner.7z")))}}));
        ArchiveTestOptions options;
        options.maxNestedBytes = 1000;
        ArchiveTestResult r = test(QStringLiteral("outer.tar"), options);
        QCOMPARE(r.outcome, ArchiveTestOutcome::Clean);
        QCOMPARE(r.nestedTested, 0);
        QCOMPARE(r.nestedNotTested, 1);
        // The same archive with the default limit: the damage is found.
        r = test(QStringLiteral("outer.tar"));
        QCOMPARE(r.outcome, ArchiveTestOutcome::Damaged);
        QCOMPARE(r.nestedTested, 1);
    }

    void zipWithoutComponentIsNotScanned()
    {
        QVERIFY(make(QStringLiteral("zip"), QStringLiteral("a.zip"), Members));
        const ArchiveTestResult r = TestArchive(out(QStringLiteral("a.zip")), nullptr);
        QCOMPARE(r.outcome, ArchiveTestOutcome::NotScanned);
        QCOMPARE(r.cause, ArchiveTestCause::NoComponent);
    }

    void boundsEndTheTest_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("bound");
        QTest::addColumn<ArchiveTestCause>("cause");
        QTest::newRow("stop, 7z") << "7z"
                                  << "stop" << ArchiveTestCause::Stopped;
        QTest::newRow("stop, zip") << "zip"
                                   << "stop" << ArchiveTestCause::Stopped;
        QTest::newRow("unpacked bytes") << "tar.gz"
                                        << "bytes" << ArchiveTestCause::TooLarge;
    }
    void boundsEndTheTest()
    {
        QFETCH(QString, kind);
        QFETCH(QString, bound);
        QFETCH(ArchiveTestCause, cause);
        QVERIFY(make(kind, QStringLiteral("a.arc"), Members));
        ArchiveTestOptions options;
        int asked = 0;
        if (bound == u"stop")
            options.stop = [&] { return ++asked > 1; };
        else
            options.maxUnpackedBytes = 20000;
        const ArchiveTestResult r = test(QStringLiteral("a.arc"), options);
        QCOMPARE(r.outcome, ArchiveTestOutcome::NotScanned);
        QCOMPARE(r.cause, cause);
        if (bound == u"stop")
            QVERIFY(asked > 1);
    }

    // The component belongs to its caller: what the test set is put back.
    void componentStateRestored()
    {
        QVERIFY(make(QStringLiteral("zip"), QStringLiteral("outer.zip"),
                     {{"A.TXT", "a"}, {"IN.ZIP", "not an archive"}}));
        m_unzip->SetOptions({OverWriteFlag, NoDirectoryNamesFlag});
        m_unzip->lpszZipFile()->SetText("caller.zip");
        m_unzip->lpszFileSpec()->SetText("file_id.diz");
        m_unzip->lpszDestination()->SetText("/caller/");
        int calls = 0;
        m_unzip->OnMessageCallback = [&](uint16_t, uint16_t, int32_t, int32_t, const char*,
                                         const char*, int32_t&) { ++calls; };
        const ArchiveTestResult r = test(QStringLiteral("outer.zip"));
        QCOMPARE(r.outcome, ArchiveTestOutcome::Clean);
        QCOMPARE(m_unzip->Options(), (TUnzipFlags{OverWriteFlag, NoDirectoryNamesFlag}));
        QCOMPARE(QByteArray(m_unzip->lpszZipFile()->Text()), QByteArray("caller.zip"));
        QCOMPARE(QByteArray(m_unzip->lpszFileSpec()->Text()), QByteArray("file_id.diz"));
        QCOMPARE(QByteArray(m_unzip->lpszDestination()->Text()), QByteArray("/caller/"));
        QVERIFY(m_unzip->OnMessageCallback);
        int32_t answer = 0;
        m_unzip->OnMessageCallback(1, 0, 0, 0, "", "", answer);
        QCOMPARE(calls, 1);
        m_unzip->OnMessageCallback = nullptr;
        m_unzip->SetOptions({});
    }

    void texts()
    {
        ArchiveTestResult r;
        r.outcome = ArchiveTestOutcome::Damaged;
        r.cause = ArchiveTestCause::ChecksumFailed;
        r.memberPath = {"INNER.ZIP", "GAME.EXE"};
        r.detail = QStringLiteral("CRC error");
        QCOMPARE(ArchiveTestText(r),
                 QStringLiteral("damaged: a member fails its checksum: INNER.ZIP > GAME.EXE (CRC "
                                "error)"));
        r = ArchiveTestResult{};
        r.outcome = ArchiveTestOutcome::NotScanned;
        r.cause = ArchiveTestCause::Encrypted;
        r.memberPath = {"SECRET.TXT"};
        QCOMPARE(ArchiveTestText(r),
                 QStringLiteral("not scanned: an encrypted member: SECRET.TXT"));
        r = ArchiveTestResult{};
        r.cause = ArchiveTestCause::KindNotRead;
        r.kind = ArchiveKind::Arj;
        QCOMPARE(ArchiveTestText(r), QStringLiteral("clean (ARJ archives are not tested)"));
    }
};

QTEST_GUILESS_MAIN(TestArchiveTest)
#include "test_archivetest.moc"
