// What the server library must never do to data: empty a file another
// handle or process is reading, open a FIFO or device (or wait on one),
// report a copy complete whose last blocks were not stored, write after
// its descriptors are closed, list a user twice, move the wrong record, or
// hold a read snapshot after a walk stopped.
#include "WcTestUtil.h"

#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcBlockWriter.h"
#include "platform/wcsrv/WcFault.h"
#include "platform/wcsrv/WcStore.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QtTest>

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

namespace
{

QByteArray Pattern(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 13 + i / 4096) & 0xff);
    return data;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QCOMPARE(f.write(bytes), bytes.size());
}

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd"))
                   .entryList(QDir::NoDotAndDotDot | QDir::System | QDir::AllEntries)
                   .size());
}

// Writes `data` through the library in 4096-byte chunks; false when a write
// failed (then `done` tells how far it came).
bool WriteChunks(WcHandle h, const QByteArray& data, qsizetype* done = nullptr)
{
    for (qsizetype off = 0; off < data.size(); off += 4096) {
        const uint32_t n = uint32_t(std::min<qsizetype>(4096, data.size() - off));
        uint32_t written = 0;
        if (!WcWriteFile(h, data.constData() + off, n, &written) || written != n) {
            if (done)
                *done = off;
            return false;
        }
    }
    if (done)
        *done = data.size();
    return true;
}

// A second process that opens a server file and holds it until its input
// ends: this test program itself, started with VT_HOLD_PATH set.
class Holder
{
public:
    Holder(const QByteArray& path, uint32_t access, uint32_t share)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VT_HOLD_PATH"), QString::fromLatin1(path));
        env.insert(QStringLiteral("VT_HOLD_ACCESS"), QString::number(access));
        env.insert(QStringLiteral("VT_HOLD_SHARE"), QString::number(share));
        m_process.setProcessEnvironment(env);
        m_process.start(QCoreApplication::applicationFilePath(), {});
        m_ok = m_process.waitForReadyRead(20000) && m_process.readLine().trimmed() == "open";
    }
    ~Holder() { release(); }
    bool ok() const { return m_ok; }
    void release()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.closeWriteChannel();
        m_process.waitForFinished(20000);
    }

private:
    QProcess m_process;
    bool m_ok = false;
};

int HoldMain()
{
    const QByteArray path = qgetenv("VT_HOLD_PATH");
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem())
        return 3;
    const WcHandle h = WcCreateFile(path.constData(), uint32_t(qgetenv("VT_HOLD_ACCESS").toULong()),
                                    uint32_t(qgetenv("VT_HOLD_SHARE").toULong()), WC_OPEN_EXISTING);
    std::printf("%s\n", h > 0 ? "open" : "refused");
    std::fflush(stdout);
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
    WcCloseHandle(h);
    LogoutUser();
    WildcatServerDeleteContext();
    return 0;
}

// A FIFO would block an open for reading until a writer comes: the process
// is killed after this long, so a hang fails the test instead of stalling it.
struct HangGuard {
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
};

struct Rig {
    Rig()
    {
        bbs.addArea(7, QStringLiteral("Seven"));
        bbs.addArea(8, QStringLiteral("Eight"));
        // Area 9 keeps its files in area 7's folder.
        const std::string e =
            wcadmin::AddArea(bbs.homeStd(), 9, "Nine", bbs.areaFolder(7).toStdString());
        if (!e.empty())
            qFatal("AddArea: %s", e.c_str());
    }
    QString file(int area, const QString& name) const
    {
        return QDir(bbs.areaFolder(area)).filePath(name);
    }
    TestBbs bbs;
    std::unique_ptr<ServerLogin> login = std::make_unique<ServerLogin>();
};

} // namespace

class TestWcsrvReliability : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { WcFaultReset(); }

    void shareModesBetweenHandles_data();
    void shareModesBetweenHandles();
    void shareModesAcrossProcesses();
    void nonRegularFilesRefused_data();
    void nonRegularFilesRefused();
    void writesNeverFollowLinks_data();
    void writesNeverFollowLinks();
    void writeBehindFailureShowsAtClose_data();
    void writeBehindFailureShowsAtClose();
    void reservedSpaceGivenBack_data();
    void reservedSpaceGivenBack();
    void deleteContextStoresOpenWrites();
    void userWalkFollowsPosition();
    void updateActsOnRecordReadAs_data();
    void updateActsOnRecordReadAs();
    void abandonedWalkHoldsNoSnapshot();
    void namesWithDotsInside_data();
    void namesWithDotsInside();
    void deleteWithFileKeepsBothOrNeither();
};

// ---- share modes -------------------------------------------------------------

void TestWcsrvReliability::shareModesBetweenHandles_data()
{
    QTest::addColumn<uint>("firstAccess");
    QTest::addColumn<uint>("firstShare");
    QTest::addColumn<QByteArray>("secondPath");
    QTest::addColumn<uint>("secondAccess");
    QTest::addColumn<uint>("secondShare");
    QTest::addColumn<uint>("secondDisposition");
    QTest::addColumn<bool>("admitted");
    const uint r = WC_GENERIC_READ, w = WC_GENERIC_WRITE;
    const QByteArray same("wc:\\file\\area(7)\\HELD.BIN"), lower("wc:\\file\\area(7)\\held.bin"),
        shared("WC:\\FILE\\AREA(9)\\Held.Bin");
    const uint create = WC_CREATE_ALWAYS, open = WC_OPEN_EXISTING;
    QTest::newRow("reading shared, create anew") << r << 1u << same << w << 0u << create << false;
    QTest::newRow("reading shared, create by other case")
        << r << 1u << lower << w << 0u << create << false;
    QTest::newRow("reading shared, create through an area sharing the folder")
        << r << 1u << shared << w << 0u << create << false;
    QTest::newRow("reading shared, create sharing reading")
        << r << 1u << same << w << 1u << create << false;
    QTest::newRow("reading shared, read sharing reading")
        << r << 1u << same << r << 1u << open << true;
    QTest::newRow("reading shared, read sharing nothing")
        << r << 1u << same << r << 0u << open << false;
    QTest::newRow("reading unshared, read") << r << 0u << lower << r << 1u << open << false;
    QTest::newRow("writing unshared, read") << w << 0u << shared << r << 1u << open << false;
    QTest::newRow("writing sharing writing, write sharing writing")
        << w << 2u << same << w << 2u << open << true;
}

void TestWcsrvReliability::shareModesBetweenHandles()
{
    QFETCH(uint, firstAccess);
    QFETCH(uint, firstShare);
    QFETCH(QByteArray, secondPath);
    QFETCH(uint, secondAccess);
    QFETCH(uint, secondShare);
    QFETCH(uint, secondDisposition);
    QFETCH(bool, admitted);
    Rig rig;
    QVERIFY(rig.login->ok());
    const QByteArray content = Pattern(10000);
    WriteFile(rig.file(7, QStringLiteral("HELD.BIN")), content);
    const int descriptors = OpenDescriptors();
    const WcHandle first =
        WcCreateFile("wc:\\file\\area(7)\\HELD.BIN", firstAccess, firstShare, WC_OPEN_EXISTING);
    QVERIFY(first > 0);
    const WcHandle second =
        WcCreateFile(secondPath.constData(), secondAccess, secondShare, secondDisposition);
    QCOMPARE(second > 0, admitted);
    if (!admitted) {
        QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
        // The refused create emptied nothing.
        QCOMPARE(ReadAll(rig.file(7, QStringLiteral("HELD.BIN"))), content);
    }
    if (second > 0)
        QVERIFY(WcCloseHandle(second));
    QVERIFY(WcCloseHandle(first));
    QCOMPARE(OpenDescriptors(), descriptors);
    // Once the first handle is closed the second is admitted.
    const WcHandle later =
        WcCreateFile(secondPath.constData(), secondAccess, secondShare, secondDisposition);
    QVERIFY(later > 0);
    QVERIFY(WcCloseHandle(later));
    QCOMPARE(QFileInfo(rig.file(7, QStringLiteral("HELD.BIN"))).size(),
             secondDisposition == WC_CREATE_ALWAYS ? 0 : content.size());
}

void TestWcsrvReliability::shareModesAcrossProcesses()
{
    Rig rig;
    QVERIFY(rig.login->ok());
    const QByteArray content = Pattern(20000);
    const QString disk = rig.file(7, QStringLiteral("HELD.BIN"));
    WriteFile(disk, content);
    {
        // Another process reads the file and lets others only read.
        Holder reader("wc:\\file\\area(7)\\HELD.BIN", WC_GENERIC_READ, WC_SHARE_READ);
        QVERIFY(reader.ok());
        QCOMPARE(WcCreateFile("wc:\\file\\area(9)\\held.bin", WC_GENERIC_WRITE, WC_SHARE_NONE,
                              WC_CREATE_ALWAYS),
                 WcHandle(0));
        QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
        QCOMPARE(ReadAll(disk), content);
        const WcHandle alsoReading =
            WcCreateFile("wc:\\file\\area(7)\\HELD.BIN", WC_GENERIC_READ, WC_SHARE_READ, 3);
        QVERIFY(alsoReading > 0);
        QVERIFY(WcCloseHandle(alsoReading));
        reader.release();
        const WcHandle h = WcCreateFile("wc:\\file\\area(9)\\held.bin", WC_GENERIC_WRITE,
                                        WC_SHARE_NONE, WC_CREATE_ALWAYS);
        QVERIFY(h > 0);
        QVERIFY(WcCloseHandle(h));
        QCOMPARE(QFileInfo(disk).size(), 0);
    }
    {
        // And the other way round: this process holds it, the other is refused.
        const WcHandle mine =
            WcCreateFile("wc:\\file\\area(7)\\HELD.BIN", WC_GENERIC_WRITE, WC_SHARE_NONE, 3);
        QVERIFY(mine > 0);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VT_HOLD_PATH"), QStringLiteral("wc:\\file\\area(7)\\HELD.BIN"));
        env.insert(QStringLiteral("VT_HOLD_ACCESS"), QString::number(WC_GENERIC_READ));
        env.insert(QStringLiteral("VT_HOLD_SHARE"), QString::number(WC_SHARE_READ));
        QProcess other;
        other.setProcessEnvironment(env);
        other.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(other.waitForReadyRead(20000));
        QCOMPARE(other.readLine().trimmed(), QByteArray("refused"));
        other.closeWriteChannel();
        QVERIFY(other.waitForFinished(20000));
        QVERIFY(WcCloseHandle(mine));
    }
}

// ---- files that are not regular files ------------------------------------------

void TestWcsrvReliability::nonRegularFilesRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("folder") << "folder";
    QTest::newRow("FIFO") << "fifo";
    QTest::newRow("device (a link to /dev/null)") << "device";
}

void TestWcsrvReliability::nonRegularFilesRefused()
{
    QFETCH(QString, kind);
    Rig rig;
    QVERIFY(rig.login->ok());
    const QString disk = rig.file(7, QStringLiteral("ODD.BIN"));
    const QByteArray d = QFile::encodeName(disk);
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(disk));
    else if (kind == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(d.constData(), 0644), 0);
    else
        QCOMPARE(::symlink("/dev/null", d.constData()), 0);
    const int descriptors = OpenDescriptors();
    HangGuard guard(20);
    QVERIFY(!WcExistFile("wc:\\file\\area(7)\\ODD.BIN"));
    QCOMPARE(WcCreateFile("wc:\\file\\area(7)\\ODD.BIN", WC_GENERIC_READ, WC_SHARE_READ, 3),
             WcHandle(0));
    QCOMPARE(WcCreateFile("wc:\\file\\area(7)\\ODD.BIN", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS),
             WcHandle(0));
    QCOMPARE(OpenDescriptors(), descriptors);
    struct stat sb {
    };
    QCOMPARE(::lstat(d.constData(), &sb), 0);
    QVERIFY(!S_ISREG(sb.st_mode)); // still what it was
}

void TestWcsrvReliability::writesNeverFollowLinks_data()
{
    QTest::addColumn<uint32_t>("access");
    QTest::addColumn<uint32_t>("disposition");
    QTest::newRow("create always") << uint32_t(WC_GENERIC_WRITE) << uint32_t(WC_CREATE_ALWAYS);
    QTest::newRow("open existing, write")
        << uint32_t(WC_GENERIC_WRITE) << uint32_t(WC_OPEN_EXISTING);
    QTest::newRow("open existing, read and write")
        << uint32_t(WC_GENERIC_READ | WC_GENERIC_WRITE) << uint32_t(WC_OPEN_EXISTING);
    QTest::newRow("open always") << uint32_t(WC_GENERIC_WRITE) << uint32_t(4);
    QTest::newRow("truncate existing") << uint32_t(WC_GENERIC_WRITE) << uint32_t(5);
}

// A link at a file's name in an area's folder (an upload account may plant
// one) points at a file outside the BBS: no handle that writes is given on
// it, so the file it points at keeps its bytes. Reading through it stays
// possible (a sysop may allow links).
void TestWcsrvReliability::writesNeverFollowLinks()
{
    QFETCH(uint32_t, access);
    QFETCH(uint32_t, disposition);
    Rig rig;
    QVERIFY(rig.login->ok());
    QTemporaryDir outside;
    const QString victim = outside.filePath(QStringLiteral("victim.txt"));
    {
        QFile f(victim);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("the sysop's own file");
    }
    QCOMPARE(::symlink(QFile::encodeName(victim).constData(),
                       QFile::encodeName(rig.file(7, QStringLiteral("LINK.TXT"))).constData()),
             0);
    QCOMPARE(WcCreateFile("wc:\\file\\area(7)\\LINK.TXT", access, 0, disposition), WcHandle(0));
    QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
    QFile f(victim);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("the sysop's own file"));
    const WcHandle read = WcCreateFile("wc:\\file\\area(7)\\LINK.TXT", WC_GENERIC_READ,
                                       WC_SHARE_READ, WC_OPEN_EXISTING);
    QVERIFY(read > 0);
    QVERIFY(WcCloseHandle(read));
}

// ---- write-behind failures -------------------------------------------------------

// The write-behind stores blocks of BlockWriter::kBlockBytes; the fault
// switch makes one of them fail. The last block is stored only at the close, after every write
// reported success: the close must say so, and the file must hold only the
// blocks before the failed one, never its full length.
void TestWcsrvReliability::writeBehindFailureShowsAtClose_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("failBlock");
    QTest::addColumn<bool>("writesSucceed");
    const int block = int(wcsrv::BlockWriter::kBlockBytes);
    QTest::newRow("last of four blocks") << 3 * block + 100 << 4 << true;
    QTest::newRow("the only block of a small file") << block / 2 << 1 << true;
    QTest::newRow("second of four blocks") << 3 * block + 100 << 2 << false;
}

void TestWcsrvReliability::writeBehindFailureShowsAtClose()
{
    QFETCH(int, size);
    QFETCH(int, failBlock);
    QFETCH(bool, writesSucceed);
    Rig rig;
    QVERIFY(rig.login->ok());
    const QByteArray data = Pattern(size);
    WcFaultFailBlock(failBlock);
    const WcHandle h =
        WcCreateFile("wc:\\file\\area(8)\\LOST.BIN", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    qsizetype written = 0;
    const bool wrote = WriteChunks(h, data, &written);
    if (writesSucceed)
        QVERIFY(wrote);
    const bool closed = WcCloseHandle(h);
    // The failure was reported, by a write or else by the close.
    QVERIFY(!(wrote && closed));
    if (wrote)
        QCOMPARE(WcGetLastError(), uint32_t(WC_ACCESS_DENIED));
    const QByteArray onDisk = ReadAll(rig.file(8, QStringLiteral("LOST.BIN")));
    const qsizetype stored = qsizetype(failBlock - 1) * qsizetype(wcsrv::BlockWriter::kBlockBytes);
    QCOMPARE(onDisk.size(), stored);
    QVERIFY(onDisk == data.left(stored));
}

// Disk space is reserved ahead of the write-behind in steps that grow with
// the file. While the file is written its length never runs ahead of the
// bytes written, and at the close every reserved byte beyond the end is
// given back, also when a block failed and the file was cut back.
void TestWcsrvReliability::reservedSpaceGivenBack_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<int>("failBlock");
    const int block = int(wcsrv::BlockWriter::kBlockBytes);
    QTest::newRow("small file") << block / 2 << 0;
    QTest::newRow("twenty blocks") << 20 * block + 77 << 0;
    QTest::newRow("third of twenty blocks fails") << 20 * block + 77 << 3;
}

void TestWcsrvReliability::reservedSpaceGivenBack()
{
    QFETCH(int, size);
    QFETCH(int, failBlock);
    Rig rig;
    QVERIFY(rig.login->ok());
    {
        // Without reservations on this file system there is nothing to give back.
        const QString probe = rig.file(8, QStringLiteral("PROBE.BIN"));
        const int fd = ::open(QFile::encodeName(probe).constData(), O_CREAT | O_WRONLY, 0644);
        QVERIFY(fd >= 0);
        const bool reserves = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, 1 << 20) == 0;
        ::close(fd);
        QFile::remove(probe);
        if (!reserves)
            QSKIP("the file system reserves no space");
    }
    const QByteArray data = Pattern(size);
    WcFaultFailBlock(failBlock);
    const WcHandle h =
        WcCreateFile("wc:\\file\\area(8)\\RESERVE.BIN", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    const QByteArray path = QFile::encodeName(rig.file(8, QStringLiteral("RESERVE.BIN")));
    off_t mostAhead = 0; // reserved bytes beyond the length, at most
    bool wrote = true;
    for (qsizetype off = 0; off < data.size() && wrote; off += 4096) {
        const uint32_t n = uint32_t(std::min<qsizetype>(4096, data.size() - off));
        uint32_t done = 0;
        wrote = WcWriteFile(h, data.constData() + off, n, &done) && done == n;
        struct stat sb {
        };
        QCOMPARE(::stat(path.constData(), &sb), 0);
        QVERIFY(sb.st_size <= off + n); // never longer than what was written
        mostAhead = std::max<off_t>(mostAhead, off_t(sb.st_blocks) * 512 - sb.st_size);
    }
    // The reservation really ran ahead of the file.
    QVERIFY2(mostAhead >= off_t(wcsrv::BlockWriter::kBlockBytes) / 2,
             qPrintable(QString::number(mostAhead)));
    const bool closed = WcCloseHandle(h);
    QCOMPARE(wrote && closed, failBlock == 0);
    const qsizetype expected =
        failBlock == 0 ? size
                       : qsizetype(failBlock - 1) * qsizetype(wcsrv::BlockWriter::kBlockBytes);
    QCOMPARE(ReadAll(rig.file(8, QStringLiteral("RESERVE.BIN"))), data.left(expected));
    struct stat sb {
    };
    QCOMPARE(::stat(path.constData(), &sb), 0);
    // Allocated space: the bytes rounded up to whole blocks, and a little
    // for the file system's own bookkeeping.
    QVERIFY2(off_t(sb.st_blocks) * 512 <= ((expected + 4095) & ~qsizetype(4095)) + 64 * 1024,
             qPrintable(QString::number(off_t(sb.st_blocks) * 512)));
}

void TestWcsrvReliability::deleteContextStoresOpenWrites()
{
    TestBbs bbs;
    bbs.addArea(7, QStringLiteral("Seven"));
    const int descriptors = OpenDescriptors();
    QVERIFY(WildcatServerConnect(nullptr));
    QVERIFY(WildcatServerCreateContext());
    QVERIFY(LoginSystem());
    // Several blocks queued for the writer thread and one still collecting.
    const QByteArray data = Pattern((5 << 20) + 777);
    const WcHandle h =
        WcCreateFile("wc:\\file\\area(7)\\OPEN.BIN", WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QVERIFY(h > 0);
    QVERIFY(WriteChunks(h, data));
    // A descriptor opened now would take the number of a closed one.
    QVERIFY(WildcatServerDeleteContext());
    QCOMPARE(OpenDescriptors(), descriptors);
    const QByteArray onDisk = ReadAll(QDir(bbs.areaFolder(7)).filePath(QStringLiteral("OPEN.BIN")));
    QCOMPARE(onDisk.size(), data.size());
    QVERIFY(onDisk == data);
}

// ---- users ----------------------------------------------------------------------

void TestWcsrvReliability::userWalkFollowsPosition()
{
    TestBbs bbs;
    bbs.addUser(QStringLiteral("Anna Apple"));
    bbs.addUser(QStringLiteral("Zed Zulu"));
    // Names another tool stored as UTF-8, two of them beyond Latin-1: they
    // come back with '?' in them.
    {
        QString error;
        const auto store = OpenTestStore(bbs.home(), &error);
        QVERIFY2(store, qPrintable(error));
        for (const char* name : {"J\xc3\xb6rg M\xc3\xbcller",
                                 "\xd0\x96\xd0\xb0\xd0\xbd\xd0\xbd\xd0\xb0", "Eve \xe2\x82\xac"})
            QVERIFY(store->AddUser(name) == wcstore::Rc::Ok);
    }
    ServerLogin login;
    QVERIFY(login.ok());
    QStringList users;
    UserRecord u;
    uint32_t pos = 0;
    QVERIFY(GetFirstUser(2, &u, &pos));
    do
        users << QString::fromLatin1(u.Name);
    while (users.size() < 50 && GetNextUser(2, &u, &pos));
    QCOMPARE(users, QStringList({QStringLiteral("Anna Apple"), QStringLiteral("Eve ?"),
                                 QString::fromUtf8("J\xc3\xb6rg M\xc3\xbcller"),
                                 QStringLiteral("Zed Zulu"), QStringLiteral("?????")}));
}

// ---- moves ------------------------------------------------------------------------

void TestWcsrvReliability::updateActsOnRecordReadAs_data()
{
    QTest::addColumn<bool>("sameBytes"); // the two records differ only in Area
    QTest::addColumn<bool>("fromCopy");  // the update is given a copy of the buffer
    QTest::newRow("different records") << false << false;
    QTest::newRow("records alike but for the area") << true << false;
    QTest::newRow("a copy of the first buffer") << false << true;
}

// FOO is read from area 5, then from area 6; the first buffer's Area is set
// to 6 and updated: that is a move of area 5's record onto a name area 6
// already has, refused, and neither record changes in any byte.
void TestWcsrvReliability::updateActsOnRecordReadAs()
{
    QFETCH(bool, sameBytes);
    QFETCH(bool, fromCopy);
    TestBbs bbs;
    for (int a : {5, 6, 7})
        bbs.addArea(a, QStringLiteral("Area %1").arg(a));
    auto fill = [sameBytes](const char* text) {
        return [sameBytes, text](FullFileRec& f) {
            std::strcpy(f.Rec.Description, sameBytes ? "alike" : text);
            std::strcpy(f.LongDescription[2], sameBytes ? "alike" : text);
            f.Rec.Downloads = sameBytes ? 3 : int(std::strlen(text));
            f.Reserved5[7] = 0x5a;
        };
    };
    bbs.addFile(5, QStringLiteral("FOO.ZIP"), nullptr, fill("from five"));
    bbs.addFile(6, QStringLiteral("FOO.ZIP"), nullptr, fill("from six, longer"));
    ServerLogin login;
    QVERIFY(login.ok());
    auto full = [](int area) {
        FullFileRec f{};
        FileRec key = MakeKey(area, "FOO.ZIP");
        if (!GetFullFileRec(&key, &f))
            std::memset(&f, 0xee, sizeof f);
        return Bytes(&f, sizeof f);
    };
    const QByteArray five = full(5), six = full(6);
    FileRec first{}, second{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(5, "FOO.ZIP", &first, &pos));
    QVERIFY(GetFileRecByAreaName(6, "FOO.ZIP", &second, &pos));
    FileRec copy = first;
    FileRec& moved = fromCopy ? copy : first;
    moved.Area = 6;
    QVERIFY(!UpdateFileRec(&moved));
    QCOMPARE(WcGetLastError(), uint32_t(WC_DUPLICATE_RECORD));
    QCOMPARE(full(5), five);
    QCOMPARE(full(6), six);
    // The same buffer moved to a free area moves area 5's record, even
    // after another read in between.
    QVERIFY(GetFileRecByAreaName(6, "FOO.ZIP", &second, &pos));
    moved.Area = 7;
    QVERIFY(UpdateFileRec(&moved));
    QCOMPARE(full(6), six);
    QByteArray expected = five;
    const int32_t seven = 7;
    expected.replace(offsetof(FileRec, Area), 4, reinterpret_cast<const char*>(&seven), 4);
    QCOMPARE(full(7), expected);
    QCOMPARE(GetTotalFilesInArea(5), 0);
}

// ---- walks --------------------------------------------------------------------------

// A walk that stops early must not keep the database's read snapshot: the
// log can be checkpointed at once (on PostgreSQL: the connection is idle,
// outside any transaction), and a record another process adds is found by
// the next read of any kind. The area is longer than what either store
// reads ahead, so rows read ahead for the walk hold nothing either.
void TestWcsrvReliability::abandonedWalkHoldsNoSnapshot()
{
    const QString admin = QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"));
    if (!QFileInfo::exists(admin))
        QSKIP("wcsrv-admin is not built: no second process to write");
    TestBbs bbs;
    bbs.addArea(1, QStringLiteral("One"));
    bbs.addArea(3, QStringLiteral("Three"));
    {
        ServerLogin adder;
        QVERIFY(adder.ok());
        for (int i = 0; i < 1200; ++i) {
            FullFileRec f{};
            f.Rec.Area = 1;
            std::snprintf(f.Rec.Name, sizeof f.Rec.Name, "W%04d.ZIP", i);
            QVERIFY(AddFileRec(&f));
        }
    }
    ServerLogin login;
    QVERIFY(login.ok());
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(1, "", &r, &pos));
    QVERIFY(GetNextFileRec(1, &r, &pos));
    QVERIFY(GetNextFileRec(1, &r, &pos));
    QCOMPARE(QByteArray(r.Name), QByteArray("W0002.ZIP"));
    // The walk is abandoned here. Another process adds a record.
    QTemporaryDir src;
    WriteFile(src.filePath(QStringLiteral("new.txt")), "new file");
    QProcess p;
    p.start(admin, {QStringLiteral("--home"), bbs.home(), QStringLiteral("import"),
                    QStringLiteral("3"), src.filePath(QStringLiteral("new.txt"))});
    QVERIFY(p.waitForFinished(20000));
    QCOMPARE(p.exitCode(), 0);
    if (TestsOnPostgres()) {
        // The library's connection (with the admin tool's, maybe not yet
        // gone, the only others on the database) sits idle, outside any
        // transaction, and holds no snapshot that would keep old row
        // versions from being cleaned up.
        QString error;
        const QList<QByteArrayList> others =
            PgQuery(bbs.database(),
                    "SELECT state, backend_xmin IS NULL, xact_start IS NULL FROM pg_stat_activity "
                    "WHERE datname = current_database() AND pid <> pg_backend_pid() AND "
                    "backend_type = 'client backend'",
                    &error);
        QCOMPARE(error, QString());
        QVERIFY(!others.isEmpty());
        for (const QByteArrayList& other : others)
            QCOMPARE(other, QByteArrayList({"idle", "t", "t"}));
    } else {
        // No reader blocks a full checkpoint of the log.
        sqlite3* db = nullptr;
        QCOMPARE(sqlite3_open(
                     QFile::encodeName(bbs.home() + QStringLiteral("/wcsrv.db")).constData(), &db),
                 SQLITE_OK);
        // (A first read makes this connection see the log.)
        QCOMPARE(sqlite3_exec(db, "SELECT count(*) FROM files", nullptr, nullptr, nullptr),
                 SQLITE_OK);
        int logFrames = -1, checkpointed = -1;
        const int rc = sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_TRUNCATE,
                                                 &logFrames, &checkpointed);
        sqlite3_close(db);
        QCOMPARE(rc, SQLITE_OK);
        QCOMPARE(logFrames, 0);
    }
    // A read that is not a walk sees the new record.
    FileRec key = MakeKey(3, "NEW.TXT");
    FullFileRec added{};
    QVERIFY(GetFullFileRec(&key, &added));
    QCOMPARE(added.Rec.Size, 8);
    // And the walk, taken up again, goes on where it stopped.
    QStringList rest;
    while (GetNextFileRec(1, &r, &pos) && r.Area == 1)
        rest << QString::fromLatin1(r.Name);
    QCOMPARE(rest.size(), 1197);
    QCOMPARE(rest.first(), QStringLiteral("W0003.ZIP"));
    QCOMPARE(r.Area, 3);
}

// ---- names ----------------------------------------------------------------------------

void TestWcsrvReliability::namesWithDotsInside_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("legal");
    QTest::newRow("FILE..ZIP") << QByteArray("FILE..ZIP") << true;
    QTest::newRow("A...B") << QByteArray("A...B") << true;
    QTest::newRow("..ZIP") << QByteArray("..ZIP") << true;
    QTest::newRow("ZIP..") << QByteArray("ZIP..") << true;
    QTest::newRow("...") << QByteArray("...") << true;
    QTest::newRow("..") << QByteArray("..") << false;
    QTest::newRow(".") << QByteArray(".") << false;
    QTest::newRow("..\\X") << QByteArray("..\\X") << false;
    QTest::newRow("A/..") << QByteArray("A/..") << false;
}

void TestWcsrvReliability::namesWithDotsInside()
{
    QFETCH(QByteArray, name);
    QFETCH(bool, legal);
    Rig rig;
    QVERIFY(rig.login->ok());
    const QByteArray path = "wc:\\file\\area(8)\\" + name;
    int32_t area = 0;
    char parsed[16] = {};
    QCOMPARE(WcTestParseServerPath(path.constData(), &area, parsed), legal);
    const QStringList before = FilesBelow(rig.bbs.home());
    const WcHandle h = WcCreateFile(path.constData(), WC_GENERIC_WRITE, 0, WC_CREATE_ALWAYS);
    QCOMPARE(h > 0, legal);
    FullFileRec f{};
    f.Rec.Area = 8;
    std::memcpy(f.Rec.Name, name.constData(), size_t(name.size()));
    QCOMPARE(AddFileRec(&f), legal);
    if (!legal) {
        QCOMPARE(FilesBelow(rig.bbs.home()), before);
        return;
    }
    QCOMPARE(QByteArray(parsed), name);
    uint32_t done = 0;
    QVERIFY(WcWriteFile(h, "dots", 4, &done));
    QVERIFY(WcCloseHandle(h));
    QCOMPARE(ReadAll(rig.file(8, QString::fromLatin1(name))), QByteArray("dots"));
    QVERIFY(WcExistFile(path.constData()));
    FileRec back{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(8, name.constData(), &back, &pos));
    QVERIFY(DeleteFileRec(&back, 1));
    QVERIFY(!QFile::exists(rig.file(8, QString::fromLatin1(name))));
}

// A record deleted with its file: when the deletion cannot be committed, the
// record stays with every byte and so does its file (nothing left beside
// it); when it is committed, both are gone.
void TestWcsrvReliability::deleteWithFileKeepsBothOrNeither()
{
    Rig rig;
    QVERIFY(rig.login->ok());
    const QByteArray bytes = Pattern(10000);
    WriteFile(rig.file(8, QStringLiteral("KEEP.ZIP")), bytes);
    FullFileRec f{};
    f.Rec.Area = 8;
    std::memcpy(f.Rec.Name, "KEEP.ZIP", 8);
    std::memcpy(f.Rec.Description, "kept whole", 10);
    QVERIFY(AddFileRec(&f));
    FileRec rec{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(8, "KEEP.ZIP", &rec, &pos));
    FullFileRec before{};
    QVERIFY(GetFullFileRec(&rec, &before));
    const QStringList files = QDir(rig.bbs.areaFolder(8)).entryList(QDir::Files | QDir::Hidden);

    WcFaultFailKind("Commit", WC_NO_ACTION_TAKEN);
    QVERIFY(!DeleteFileRec(&rec, 1));
    WcFaultReset();
    FullFileRec after{};
    QVERIFY(GetFileRecByAreaName(8, "KEEP.ZIP", &rec, &pos));
    QVERIFY(GetFullFileRec(&rec, &after));
    QVERIFY(std::memcmp(&before, &after, sizeof before) == 0);
    QCOMPARE(ReadAll(rig.file(8, QStringLiteral("KEEP.ZIP"))), bytes);
    QCOMPARE(QDir(rig.bbs.areaFolder(8)).entryList(QDir::Files | QDir::Hidden), files);

    QVERIFY(DeleteFileRec(&rec, 1));
    QVERIFY(!GetFileRecByAreaName(8, "KEEP.ZIP", &rec, &pos));
    QCOMPARE(QDir(rig.bbs.areaFolder(8)).entryList(QDir::Files | QDir::Hidden), QStringList());
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("VT_HOLD_PATH"))
        return HoldMain();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VtApplication app(argc, argv);
    TestWcsrvReliability tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "test_wcsrv_reliability.moc"
