// The description file from archives of every kind, and the rules for
// hostile archives: real archives made by the archivers in a temporary
// folder, the description extracted into a temporary folder beside a
// neighbour folder that must stay as it was.
#include "ArchiveFixtures.h"
#include "ZipFixtures.h"
#include "archive/ArchiveReader.h"
#include "archive/TUnzipFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

Q_DECLARE_METATYPE(ArchiveKind)
Q_DECLARE_METATYPE(DescriptionFailure)
Q_DECLARE_METATYPE(ExtractProblem)

namespace
{

// A description with CR LF, CP437 box drawing and a NUL-free 8-bit range.
const QByteArray Diz("\xC9\xCD\xCD\xBB Cool Tool v1.0 \xC9\xCD\xCD\xBB\r\n"
                     "  second line\r\n"
                     "\xB0\xB1\xB2\xDB last\r\n");
const QByteArray Sdi("DESC.SDI text\r\n");

const char* const KindColumns = "kind";

} // namespace

class TestArchiveReader : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    std::unique_ptr<TUnzipFile> m_unzip;

    QString root() const { return m_dir->path(); }
    QString src() const { return root() + QStringLiteral("/src"); }
    QString temp() const { return root() + QStringLiteral("/prog/Temp"); }
    QString out(const QString& name) const { return root() + u'/' + name; }

    // Makes the archive `name` of `kind` in the root from the members
    // (written under src/ first). Kinds without an archiver here are written
    // byte by byte.
    bool make(const QString& kind, const QString& name, const QMap<QString, QByteArray>& members)
    {
        return MakeArchive(kind, out(name), src(), members);
    }

    DescriptionExtraction extract(const QString& name)
    {
        return ExtractArchiveDescription(out(name), temp(), m_unzip.get());
    }

    // Everything under the root except the temporary folder and the
    // archivers' source folder.
    QMap<QString, QByteArray> outside() const
    {
        QMap<QString, QByteArray> all = Snapshot(root());
        for (auto it = all.begin(); it != all.end();)
            if (it.key().startsWith(u"prog/Temp") || it.key().startsWith(u"src"))
                it = all.erase(it);
            else
                ++it;
        return all;
    }
    QStringList tempEntries() const
    {
        return QDir(temp()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                      QDir::NoDotAndDotDot);
    }

private slots:
    void initTestCase()
    {
        m_unzip = std::make_unique<TUnzipFile>();
        QVERIFY(m_unzip->IsLoaded());
        m_unzip->SetOptions({OverWriteFlag, QuietFlag, NoDirectoryNamesFlag});
    }
    void cleanupTestCase() { m_unzip.reset(); }
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(m_dir->isValid());
        // The neighbour a "../" member would reach from the temporary folder.
        QVERIFY(WriteTree(root(), {{"prog/evil/keep.txt", "keep"}, {"prog/FILE_ID.DIZ", "mine"}}));
    }
    void cleanup()
    {
        delete m_dir;
        m_dir = nullptr;
    }

    // ------------------------------------------------------ kind by bytes

    void detect_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<ArchiveKind>("kind");
        QTest::addColumn<QString>("name");
        auto row = [](const char* tag, const QByteArray& head, ArchiveKind kind, const char* name) {
            QTest::newRow(tag) << head << kind << QString::fromLatin1(name);
        };
        row("zip", QByteArray("PK\x03\x04\x14\0", 6), ArchiveKind::Zip, "ZIP");
        row("empty zip", QByteArray("PK\x05\x06\0\0", 6), ArchiveKind::Zip, "ZIP");
        row("7z", QByteArray("7z\xBC\xAF\x27\x1C\0\x04", 8), ArchiveKind::SevenZip, "7z");
        row("rar", QByteArray("Rar!\x1A\x07\x00\xCF", 8), ArchiveKind::Rar, "RAR");
        row("rar5", QByteArray("Rar!\x1A\x07\x01\x00", 8), ArchiveKind::Rar5, "RAR5");
        row("cab", QByteArray("MSCF\0\0\0\0\x60\0", 10), ArchiveKind::Cab, "CAB");
        row("cab reserved not zero", QByteArray("MSCF\1\0\0\0\x60\0", 10), ArchiveKind::Unknown,
            "");
        row("gzip", QByteArray("\x1F\x8B\x08\0", 4), ArchiveKind::Gzip, "gzip");
        row("bzip2", QByteArray("BZh91AY&SY"), ArchiveKind::Bzip2, "bzip2");
        row("bzip2 bad level", QByteArray("BZh01AY&SY"), ArchiveKind::Unknown, "");
        row("xz",
            QByteArray("\xFD"
                       "7zXZ\0\0\x04",
                       8),
            ArchiveKind::Xz, "xz");
        QByteArray lha(22, '\0');
        lha.replace(2, 5, "-lh5-");
        row("lha", lha, ArchiveKind::Lha, "LHA");
        QByteArray lz(22, '\0');
        lz.replace(2, 5, "-lzs-");
        row("lha lzs", lz, ArchiveKind::Lha, "LHA");
        QByteArray lhaLevel(lha);
        lhaLevel[20] = 9;
        row("lha bad level", lhaLevel, ArchiveKind::Unknown, "");
        QByteArray ustar(512, '\0');
        ustar.replace(0, 5, "a.txt");
        ustar.replace(257, 5, "ustar");
        row("tar ustar", ustar, ArchiveKind::Tar, "tar");
        // An old tar header: no mark, only its checksum.
        QByteArray v7(512, '\0');
        v7.replace(0, 5, "a.txt");
        v7.replace(100, 7, "0000644");
        v7.replace(124, 11, "00000000004");
        unsigned sum = 0;
        for (int i = 0; i < 512; ++i)
            sum += (i >= 148 && i < 156) ? ' ' : uint8_t(v7[i]);
        v7.replace(148, 7, QByteArray::number(sum, 8).rightJustified(6, '0') + '\0');
        row("tar old format", v7, ArchiveKind::Tar, "tar");
        QByteArray v7bad(v7);
        v7bad[0] = 'b';
        row("tar old format, wrong checksum", v7bad, ArchiveKind::Unknown, "");
        QByteArray iso(32769 + 5, '\0');
        iso.replace(32769, 5, "CD001");
        row("iso 9660", iso, ArchiveKind::Iso9660, "ISO 9660");
        row("iso cut short", iso.left(32772), ArchiveKind::Unknown, "");
        row("arj", QByteArray("\x60\xEA\x29\x00\x22\x0B", 6), ArchiveKind::Arj, "ARJ");
        row("arj header too big", QByteArray("\x60\xEA\xFF\xFF\x22\x0B", 6), ArchiveKind::Unknown,
            "");
        row("ace", QByteArray("\x00\x00\x00\x00\x00\x00\x00**ACE**\x14", 15), ArchiveKind::Ace,
            "ACE");
        QByteArray zoo("ZOO 2.10 Archive.\x1A\0\0\xDC\xA7\xC4\xFD", 24);
        row("zoo", zoo, ArchiveKind::Zoo, "ZOO");
        row("arc", QByteArray("\x1A\x08README.TXT\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0\0", 30),
            ArchiveKind::Arc, "ARC");
        row("arc end mark only", QByteArray("\x1A\x00", 2), ArchiveKind::Unknown, "");
        row("sqz", QByteArray("HLSQZ1"), ArchiveKind::Sqz, "SQZ");
        row("stuffit", QByteArray("SIT!\0\x01"), ArchiveKind::StuffIt, "StuffIt");
        row("text", QByteArray("Just some text\r\n"), ArchiveKind::Unknown, "");
        row("empty", QByteArray(), ArchiveKind::Unknown, "");
        row("one byte", QByteArray("P"), ArchiveKind::Unknown, "");
    }
    void detect()
    {
        QFETCH(QByteArray, head);
        QFETCH(ArchiveKind, kind);
        QFETCH(QString, name);
        QCOMPARE(DetectArchiveKind(head), kind);
        QCOMPARE(ArchiveKindName(kind), name);
    }

    // ---------------------------------------------- one archive per kind

    void eachKind_data()
    {
        QTest::addColumn<QString>(KindColumns);
        QTest::addColumn<ArchiveKind>("detected");
        QTest::addColumn<QString>("member");
        for (const char* k : {"tar", "tar.gz", "tar.bz2", "tar.xz", "7z", "cab", "cab-mszip", "lha",
                              "rar", "zip"}) {
            const QString kind = QString::fromLatin1(k);
            const ArchiveKind detected = kind == u"tar"            ? ArchiveKind::Tar
                                         : kind == u"tar.gz"       ? ArchiveKind::Gzip
                                         : kind == u"tar.bz2"      ? ArchiveKind::Bzip2
                                         : kind == u"tar.xz"       ? ArchiveKind::Xz
                                         : kind == u"7z"           ? ArchiveKind::SevenZip
                                         : kind.startsWith(u"cab") ? ArchiveKind::Cab
                                         : kind == u"lha"          ? ArchiveKind::Lha
                                         : kind == u"rar"          ? ArchiveKind::Rar
                                                                   : ArchiveKind::Zip;
            // In a folder (the name is flattened), and with a Windows separator
            // where the kind keeps names as written.
            QTest::newRow(qPrintable(kind + QStringLiteral(" folder")))
                << kind << detected << "docs/FILE_ID.DIZ";
            if (kind == u"lha" || kind == u"rar")
                QTest::newRow(qPrintable(kind + QStringLiteral(" backslash")))
                    << kind << detected << "docs\\File_Id.Diz";
        }
        QTest::newRow("iso") << "iso" << ArchiveKind::Iso9660 << "DOCS/FILE_ID.DIZ";
        QTest::newRow("iso rock ridge") << "iso-rr" << ArchiveKind::Iso9660 << "docs/file_id.diz";
    }
    void eachKind()
    {
        QFETCH(QString, kind);
        QFETCH(ArchiveKind, detected);
        QFETCH(QString, member);
        QVERIFY(make(kind, QStringLiteral("a.bin"),
                     {{member, Diz}, {"readme.txt", "not this"}, {"other/x.dat", "xx"}}));
        // The hand-written LHA archive is one an LHA tool of its own accepts.
        if (kind == u"lha")
            QVERIFY(RunTool(QStringLiteral("lha"), {"t", out("a.bin")}, root()));
        const QMap<QString, QByteArray> before = outside();
        // The name says nothing: the first bytes decide.
        const DescriptionExtraction r = extract(QStringLiteral("a.bin"));
        QCOMPARE(r.kind, detected);
        QCOMPARE(r.failure, DescriptionFailure::None);
        QCOMPARE(r.path, temp() + QStringLiteral("/file_id.diz"));
        QCOMPARE(ReadBytes(r.path), Diz);
        QCOMPARE(tempEntries(), QStringList{"file_id.diz"});
        QCOMPARE(outside(), before);
    }

    void descSdi_data()
    {
        QTest::addColumn<QString>(KindColumns);
        for (const char* k : {"tar", "7z", "zip", "lha"})
            QTest::newRow(k) << QString::fromLatin1(k);
    }
    void descSdi()
    {
        QFETCH(QString, kind);
        // Only DESC.SDI: it is taken.
        QVERIFY(make(kind, QStringLiteral("s.arc"), {{"DESC.SDI", Sdi}, {"a.txt", "a"}}));
        DescriptionExtraction r = extract(QStringLiteral("s.arc"));
        QCOMPARE(r.failure, DescriptionFailure::None);
        QCOMPARE(r.path, temp() + QStringLiteral("/desc.sdi"));
        QCOMPARE(ReadBytes(r.path), Sdi);
        // Both: FILE_ID.DIZ wins, wherever it stands ("a/" sorts DESC.SDI first).
        QVERIFY(make(kind, QStringLiteral("b.arc"), {{"a/DESC.SDI", Sdi}, {"b/FILE_ID.DIZ", Diz}}));
        r = extract(QStringLiteral("b.arc"));
        QCOMPARE(r.failure, DescriptionFailure::None);
        QCOMPARE(r.path, temp() + QStringLiteral("/file_id.diz"));
        QCOMPARE(ReadBytes(r.path), Diz);
        // The earlier run's desc.sdi is gone: only this archive's file is there.
        QCOMPARE(tempEntries(), QStringList{"file_id.diz"});
    }

    void notFound_data() { descSdi_data(); }
    void notFound()
    {
        QFETCH(QString, kind);
        QVERIFY(make(kind, QStringLiteral("n.arc"), {{"FILE_ID.TXT", "x"}, {"a.txt", "a"}}));
        // A description left from an earlier run must not pass for this one's.
        QVERIFY(WriteTree(temp(), {{"FILE_ID.DIZ", "stale"}, {"desc.sdi", "stale"}}));
        const DescriptionExtraction r = extract(QStringLiteral("n.arc"));
        QCOMPARE(r.failure, DescriptionFailure::NotFound);
        QVERIFY(r.path.isEmpty());
        QCOMPARE(tempEntries(), QStringList());
    }

    void kindByBytesNotName()
    {
        // A 7z archive named .zip is read as 7z; a zip named .7z as zip.
        QVERIFY(make(QStringLiteral("7z"), QStringLiteral("really7z.zip"), {{"FILE_ID.DIZ", Diz}}));
        QVERIFY(
            make(QStringLiteral("zip"), QStringLiteral("reallyzip.7z"), {{"FILE_ID.DIZ", Sdi}}));
        DescriptionExtraction r = extract(QStringLiteral("really7z.zip"));
        QCOMPARE(r.kind, ArchiveKind::SevenZip);
        QVERIFY(r.ok());
        QCOMPARE(ReadBytes(r.path), Diz);
        r = extract(QStringLiteral("reallyzip.7z"));
        QCOMPARE(r.kind, ArchiveKind::Zip);
        QVERIFY(r.ok());
        QCOMPARE(ReadBytes(r.path), Sdi);
        // Bytes of no kind: not an archive, whatever the name.
        QVERIFY(WriteBytes(out(QStringLiteral("text.7z")), "just text\r\n"));
        r = extract(QStringLiteral("text.7z"));
        QCOMPARE(r.failure, DescriptionFailure::NotAnArchive);
        QCOMPARE(r.kind, ArchiveKind::Unknown);
        // A zip that starts with a program (self-extracting) is found by its name.
        QVERIFY(make(QStringLiteral("zip"), QStringLiteral("plain.zip"), {{"FILE_ID.DIZ", Diz}}));
        QVERIFY(
            WriteBytes(out(QStringLiteral("sfx.zip")),
                       "MZ" + QByteArray(510, '\0') + ReadBytes(out(QStringLiteral("plain.zip")))));
        // As a self-extracting zip is made: the offsets moved past the program.
        QVERIFY(RunTool(QStringLiteral("zip"), {"-q", "-A", out("sfx.zip")}, root()));
        r = extract(QStringLiteral("sfx.zip"));
        QCOMPARE(r.kind, ArchiveKind::Zip);
        QCOMPARE(r.failure, DescriptionFailure::None);
        QCOMPARE(ReadBytes(r.path), Diz);
    }

    // --------------------------------------------------- hostile archives

    void traversalNames_data()
    {
        QTest::addColumn<QString>(KindColumns);
        QTest::addColumn<QByteArray>("member");
        QTest::newRow("tar ../") << "tar" << QByteArray("../../evil/FILE_ID.DIZ");
        QTest::newRow("tar absolute") << "tar" << QByteArray("/prog/evil/FILE_ID.DIZ");
        QTest::newRow("tar backslashes") << "tar" << QByteArray("..\\..\\evil\\FILE_ID.DIZ");
        QTest::newRow("rar ..\\") << "rar" << QByteArray("..\\evil\\FILE_ID.DIZ");
        QTest::newRow("lha ../") << "lha" << QByteArray("../evil/FILE_ID.DIZ");
        QTest::newRow("7z ../") << "7z" << QByteArray("../evil/FILE_ID.DIZ");
    }
    void traversalNames()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, member);
        const QString name = QStringLiteral("t.arc");
        if (kind == u"tar" || kind == u"7z") {
            // The archivers drop "../" and "/" from names they are given:
            // write a plain name and rename the member afterwards.
            QVERIFY(make(kind, name, {{"FILE_ID.DIZ", Diz}}));
            if (kind == u"tar") {
                // -s renames while keeping the name as written (-P).
                QVERIFY(
                    RunTool(QStringLiteral("bsdtar"),
                            {"-cPf", out(name), "-s",
                             QStringLiteral(",^FILE_ID.DIZ$,%1,").arg(QString::fromLatin1(member)),
                             "FILE_ID.DIZ"},
                            src()));
            } else {
                QVERIFY(RunTool(
                    QStringLiteral("7z"),
                    {"rn", "-bso0", out(name), "FILE_ID.DIZ", QString::fromLatin1(member)}, src()));
            }
        } else {
            const QByteArray bytes =
                kind == u"rar" ? MakeRar({{member, Diz}}) : MakeLha({{member, Diz}});
            QVERIFY(WriteBytes(out(name), bytes));
        }
        const QMap<QString, QByteArray> before = outside();
        const DescriptionExtraction r = extract(name);
        // The hostile name really reached the reader, and only its last part counted.
        QVERIFY2(r.member == member || r.member == QByteArray(member).replace('\\', '/'),
                 r.member.constData());
        QCOMPARE(r.failure, DescriptionFailure::None);
        QCOMPARE(r.path, temp() + QStringLiteral("/file_id.diz"));
        QCOMPARE(ReadBytes(r.path), Diz);
        QCOMPARE(tempEntries(), QStringList{"file_id.diz"});
        QCOMPARE(outside(), before);
    }

    void linkMembers_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("symbolic link") << "symlink";
        QTest::newRow("hard link") << "hardlink";
    }
    void linkMembers()
    {
        QFETCH(QString, how);
        QVERIFY(QDir().mkpath(src()));
        QDir(src()).removeRecursively();
        QVERIFY(WriteTree(src(), {{"target.txt", "secret"}}));
        const QByteArray s = QFile::encodeName(src());
        if (how == u"symlink")
            QCOMPARE(::symlink("../prog/evil/keep.txt", (s + "/FILE_ID.DIZ").constData()), 0);
        else
            QCOMPARE(::link((s + "/target.txt").constData(), (s + "/FILE_ID.DIZ").constData()), 0);
        QVERIFY(RunTool(QStringLiteral("bsdtar"),
                        {"-cf", out("l.tar"), "target.txt", "FILE_ID.DIZ"}, src()));
        const QMap<QString, QByteArray> before = outside();
        const DescriptionExtraction r = extract(QStringLiteral("l.tar"));
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QCOMPARE(r.problem, ExtractProblem::NotAFile);
        QCOMPARE(tempEntries(), QStringList());
        QCOMPARE(outside(), before);
    }

    void linkInTempFolder()
    {
        // A link left in the temporary folder under the description's name
        // is replaced, never written through.
        QVERIFY(QDir().mkpath(temp()));
        const QByteArray victim = QFile::encodeName(root() + "/prog/evil/keep.txt");
        QCOMPARE(
            ::symlink(victim.constData(), QFile::encodeName(temp() + "/file_id.diz").constData()),
            0);
        QVERIFY(make(QStringLiteral("tar"), QStringLiteral("a.tar"), {{"FILE_ID.DIZ", Diz}}));
        const QMap<QString, QByteArray> before = outside();
        const DescriptionExtraction r = extract(QStringLiteral("a.tar"));
        QCOMPARE(r.failure, DescriptionFailure::None);
        QVERIFY(!QFileInfo(r.path).isSymLink());
        QCOMPARE(ReadBytes(r.path), Diz);
        QCOMPARE(outside(), before);
        QCOMPARE(ReadBytes(root() + "/prog/evil/keep.txt"), QByteArray("keep"));
    }

    void memberSize_data()
    {
        QTest::addColumn<QString>(KindColumns);
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("fits");
        for (const char* k : {"tar", "7z", "lha", "rar", "cab-mszip"}) {
            const QString kind = QString::fromLatin1(k);
            QTest::newRow(qPrintable(kind + QStringLiteral(" at the limit")))
                << kind << ArchiveMemberMaxBytes << true;
            QTest::newRow(qPrintable(kind + QStringLiteral(" one above")))
                << kind << ArchiveMemberMaxBytes + 1 << false;
        }
        // Packs to a few kilobytes: the header's size refuses it before reading.
        QTest::newRow("7z 20 MB of zeros") << "7z" << qint64(20 * 1024 * 1024) << false;
    }
    void memberSize()
    {
        QFETCH(QString, kind);
        QFETCH(qint64, size);
        QFETCH(bool, fits);
        QByteArray big(size, 'x');
        if (size > ArchiveMemberMaxBytes + 1)
            big.fill('\0');
        QVERIFY(make(kind, QStringLiteral("big.arc"), {{"FILE_ID.DIZ", big}}));
        const QMap<QString, QByteArray> before = outside();
        const DescriptionExtraction r = extract(QStringLiteral("big.arc"));
        if (fits) {
            QCOMPARE(r.failure, DescriptionFailure::None);
            QCOMPARE(QFileInfo(r.path).size(), size);
        } else {
            QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
            QCOMPARE(r.problem, ExtractProblem::TooLarge);
            QCOMPARE(tempEntries(), QStringList());
        }
        QCOMPARE(outside(), before);
    }

    void sizeHeaderLies()
    {
        // An LHA member whose header says 10 bytes but whose stored data is
        // larger than the limit: what is read counts, not the header.
        QByteArray big(ArchiveMemberMaxBytes + 100, 'y');
        QByteArray lha = MakeLha({{"FILE_ID.DIZ", big}});
        // The original size field (offset 11) claims 10 bytes; the packed
        // size stays, so the reader has the whole member to read.
        lha[11] = 10;
        lha[12] = lha[13] = lha[14] = 0;
        uint8_t sum = 0;
        for (int i = 2; i < 2 + uint8_t(lha[0]); ++i)
            sum = uint8_t(sum + uint8_t(lha[i]));
        lha[1] = char(sum);
        QVERIFY(WriteBytes(out("lie.lzh"), lha));
        const DescriptionExtraction r = extract(QStringLiteral("lie.lzh"));
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QVERIFY2(r.problem == ExtractProblem::TooLarge || r.problem == ExtractProblem::Damaged,
                 qPrintable(QString::number(int(r.problem))));
        QCOMPARE(tempEntries(), QStringList());
    }

    void encrypted_data()
    {
        QTest::addColumn<QString>(KindColumns);
        QTest::newRow("7z with a password") << "7z";
        QTest::newRow("rar encrypted flag") << "rar";
    }
    void encrypted()
    {
        QFETCH(QString, kind);
        if (kind == u"7z") {
            QVERIFY(make(kind, QStringLiteral("plain.7z"), {{"FILE_ID.DIZ", Diz}}));
            QVERIFY(RunTool(QStringLiteral("7z"),
                            {"a", "-bso0", "-bsp0", "-psecret", out("e.arc"), "FILE_ID.DIZ"},
                            src()));
        } else {
            RawMember m{"FILE_ID.DIZ", Diz, true};
            QVERIFY(WriteBytes(out("e.arc"), MakeRar({m})));
        }
        const QMap<QString, QByteArray> before = outside();
        const DescriptionExtraction r = extract(QStringLiteral("e.arc"));
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QCOMPARE(r.problem, ExtractProblem::Encrypted);
        QCOMPARE(r.member, QByteArray("FILE_ID.DIZ"));
        QCOMPARE(tempEntries(), QStringList());
        QCOMPARE(outside(), before);
    }

    void damaged_data()
    {
        QTest::addColumn<QString>(KindColumns);
        QTest::addColumn<QString>("damage");
        QTest::addColumn<ExtractProblem>("problem");
        QTest::newRow("lha data check") << "lha"
                                        << "flip data" << ExtractProblem::Damaged;
        // libarchive reads stored RAR data without its check: the damage
        // that shows is in a header (the file header's CRC).
        QTest::newRow("rar header check") << "rar"
                                          << "rar header" << ExtractProblem::Unopenable;
        QTest::newRow("7z packed data") << "7z"
                                        << "flip data" << ExtractProblem::Damaged;
        QTest::newRow("cab packed data") << "cab-mszip"
                                         << "flip data" << ExtractProblem::Damaged;
        // The decompressor reads ahead when the archive is opened and meets
        // the cut there.
        QTest::newRow("tar.gz cut short") << "tar.gz"
                                          << "cut" << ExtractProblem::Unopenable;
        QTest::newRow("tar.xz cut short") << "tar.xz"
                                          << "cut" << ExtractProblem::Unopenable;
        QTest::newRow("tar cut in the member") << "tar"
                                               << "cut" << ExtractProblem::Damaged;
        QTest::newRow("7z header") << "7z"
                                   << "header" << ExtractProblem::Unopenable;
    }
    void damaged()
    {
        QFETCH(QString, kind);
        QFETCH(QString, damage);
        QFETCH(ExtractProblem, problem);
        // A member big enough to span the damage, with text that doesn't
        // compress away.
        QByteArray text;
        for (int i = 0; text.size() < 20000; ++i)
            text += "line " + QByteArray::number(i * 7919 % 10007) + "\r\n";
        QVERIFY(make(kind, QStringLiteral("d.arc"), {{"FILE_ID.DIZ", text}}));
        QByteArray bytes = ReadBytes(out("d.arc"));
        const QByteArray good = bytes;
        if (damage == u"flip data") {
            // In the middle of the member's data (after every header).
            const qsizetype at = kind == u"7z" ? 32 + 200 : bytes.size() / 2;
            for (int i = 0; i < 16; ++i)
                bytes[at + i] = char(bytes[at + i] ^ 0x5A);
        } else if (damage == u"cut") {
            bytes.truncate(kind == u"tar" ? 512 + 8000 : bytes.size() / 2);
        } else if (damage == u"rar header") {
            // A letter of the member name, inside the file header (marker 7,
            // main header 13, then 32 bytes before the name).
            bytes[7 + 13 + 32 + 2] = char(bytes[7 + 13 + 32 + 2] ^ 0x20);
        } else {
            // The 7z end header: its CRC no longer matches.
            bytes[bytes.size() - 5] = char(bytes[bytes.size() - 5] ^ 0xFF);
        }
        QVERIFY(bytes != good);
        QVERIFY(WriteBytes(out("d.arc"), bytes));
        const QMap<QString, QByteArray> before = outside();
        const DescriptionExtraction r = extract(QStringLiteral("d.arc"));
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QCOMPARE(r.problem, problem);
        QCOMPARE(tempEntries(), QStringList());
        QCOMPARE(outside(), before);
    }

    void unreadableKindNamed()
    {
        // A real ARJ archive: known by its bytes, named for the message.
        QVERIFY(make(QStringLiteral("arj"), QStringLiteral("tool.arj"), {{"FILE_ID.DIZ", Diz}}));
        QCOMPARE(uint8_t(ReadBytes(out("tool.arj")).at(0)), uint8_t(0x60));
        const QMap<QString, QByteArray> before = outside();
        const DescriptionExtraction r = extract(QStringLiteral("tool.arj"));
        QCOMPARE(r.failure, DescriptionFailure::UnreadableKind);
        QCOMPARE(r.kind, ArchiveKind::Arj);
        QCOMPARE(r.kindName, QStringLiteral("ARJ"));
        QVERIFY(!QFileInfo::exists(temp()));
        QCOMPARE(outside(), before);
    }

    void notARegularFile()
    {
        QVERIFY(QDir().mkpath(out("folder.7z")));
        DescriptionExtraction r = extract(QStringLiteral("folder.7z"));
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QCOMPARE(r.problem, ExtractProblem::Unopenable);
        // A FIFO would block a plain open: it is refused at once.
        QCOMPARE(::mkfifo(QFile::encodeName(out("pipe.zip")).constData(), 0644), 0);
        r = extract(QStringLiteral("pipe.zip"));
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QCOMPARE(r.problem, ExtractProblem::Unopenable);
        r = extract(QStringLiteral("missing.zip"));
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QCOMPARE(r.problem, ExtractProblem::Unopenable);
    }

    void zipWithoutComponent()
    {
        QVERIFY(make(QStringLiteral("zip"), QStringLiteral("a.zip"), {{"FILE_ID.DIZ", Diz}}));
        const DescriptionExtraction r = ExtractArchiveDescription(out("a.zip"), temp(), nullptr);
        QCOMPARE(r.failure, DescriptionFailure::ExtractFailed);
        QCOMPARE(r.problem, ExtractProblem::NoComponent);
    }

    void folderCantBeMade()
    {
        QVERIFY(make(QStringLiteral("tar"), QStringLiteral("a.tar"), {{"FILE_ID.DIZ", Diz}}));
        // A file where the folder should be.
        QVERIFY(WriteBytes(root() + "/prog/blocked", "x"));
        const DescriptionExtraction r =
            ExtractArchiveDescription(out("a.tar"), root() + "/prog/blocked/Temp", nullptr);
        QCOMPARE(r.failure, DescriptionFailure::FolderFailed);
    }
};

QTEST_GUILESS_MAIN(TestArchiveReader)
#include "test_archivereader.moc"
