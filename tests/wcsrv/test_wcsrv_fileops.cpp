// WcMoveFile (a rename between area folders, its error codes, the test
// switch that splits the devices), WcCopyFileData (the kernel copy between
// two handles, where it leaves the handles, how it is refused) and its
// variants between a handle and a disk file's descriptor; the index of
// folder names the moves look for taken names in (built into this program
// on its own, and through the library).
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcFault.h"
#include "platform/wcsrv/WcFolderIndex.h"
#include "server/DiskNames.h"
#include "server/wcsrv.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <string>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace
{

QByteArray Pattern(qsizetype size, int seed = 0)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 13 + seed + i / 4096) & 0xff);
    return bytes;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

ino_t InodeOf(const QString& path)
{
    struct stat st {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}

WcHandle Open(const char* path, uint32_t access, uint32_t disposition)
{
    return WcCreateFile(path, access, WC_SHARE_READ, disposition);
}

int OpenDisk(const QString& path, int flags)
{
    return ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC, 0644);
}

off_t PositionOf(int fd)
{
    return ::lseek(fd, 0, SEEK_CUR);
}

// A descriptor closed at the end of the scope.
struct Fd {
    int fd;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
};

// The kernel copy between a handle and a descriptor, in the direction the
// test asks for.
bool CopyDisk(bool fromDisk, int fd, WcHandle handle, uint64_t count, uint64_t* done)
{
    return fromDisk ? WcCopyFromDiskFile(fd, handle, count, done)
                    : WcCopyToDiskFile(handle, fd, count, done);
}

namespace folderindex = wcstore::folderindex;

// What a search for `name` in another letter case must find in `dir`: the
// first entry in byte order that differs from it only in ASCII letter case.
std::string FirstOtherCase(const std::string& dir, const std::string& name)
{
    std::string found;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string entry = e->d_name;
            if (entry != name && disknames::SameNameAnyCase(entry, name) &&
                disknames::TakenBefore(entry, found))
                found = entry;
        }
        ::closedir(d);
    }
    return found;
}

void Touch(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

// Whether an inotify instance of this process watches the folder `dir`.
bool ProcessWatches(const QString& dir)
{
    struct stat st {
    };
    if (::stat(QFile::encodeName(dir).constData(), &st) != 0)
        return false;
    const QByteArray inode = "ino:" + QByteArray::number(qulonglong(st.st_ino), 16) + ' ';
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::System | QDir::Files)) {
        char target[64] = {};
        const QByteArray link = QFile::encodeName(fds.filePath(fd));
        if (::readlink(link.constData(), target, sizeof target - 1) <= 0 ||
            std::string(target) != "anon_inode:inotify")
            continue;
        QFile info(QStringLiteral("/proc/self/fdinfo/") + fd);
        if (info.open(QIODevice::ReadOnly) && info.readAll().contains(inode))
            return true;
    }
    return false;
}

// Runs a shell command as another process.
bool Shell(const QString& command)
{
    return QProcess::execute(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command}) == 0;
}

} // namespace

class TestWcFileOps : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

    QString diskFile(int area, const QString& name) const
    {
        return QDir(m_bbs->areaFolder(area)).filePath(name);
    }
    void put(int area, const QString& name, const QByteArray& bytes)
    {
        QFile f(diskFile(area, name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
    }

private slots:
    void init()
    {
        WcFaultReset();
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("One"));
        m_bbs->addArea(2, QStringLiteral("Two"));
        // Area 3 keeps its files in area 1's folder.
        const std::string shared =
            wcadmin::AddArea(m_bbs->homeStd(), 3, "Shared", m_bbs->areaFolder(1).toStdString());
        QVERIFY2(shared.empty(), shared.c_str());
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        WcFaultReset();
        qunsetenv("WCSRV_TEST_SPLIT_DEVICES");
        m_login.reset();
        m_bbs.reset();
    }

    void moveRenames()
    {
        const QByteArray bytes = Pattern(10000);
        put(1, QStringLiteral("A.ZIP"), bytes);
        const ino_t inode = InodeOf(diskFile(1, QStringLiteral("A.ZIP")));
        QVERIFY(WcMoveFile("wc:\\file\\area(1)\\a.zip", "wc:\\file\\area(2)\\A.ZIP"));
        QVERIFY(!QFile::exists(diskFile(1, QStringLiteral("A.ZIP"))));
        QCOMPARE(InodeOf(diskFile(2, QStringLiteral("A.ZIP"))), inode);
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("A.ZIP"))), bytes);
        // And back, by the name on disk in any letter case.
        QVERIFY(WcMoveFile("WC:\\FILE\\AREA(2)\\a.Zip", "wc:\\file\\area(1)\\A.ZIP"));
        QCOMPARE(InodeOf(diskFile(1, QStringLiteral("A.ZIP"))), inode);
    }

    // Each refusal leaves both folders as they were.
    void moveRefusals_data()
    {
        QTest::addColumn<QString>("from");
        QTest::addColumn<QString>("to");
        QTest::addColumn<bool>("split");
        QTest::addColumn<uint>("code");
        const uint notFound = WC_ITEM_NOT_FOUND, exists = WC_ITEM_ALREADY_EXISTS,
                   otherDisk = WC_NO_ACTION_TAKEN, denied = WC_ACCESS_DENIED;
        QTest::newRow("source gone") << "wc:\\file\\area(1)\\GONE.ZIP"
                                     << "wc:\\file\\area(2)\\GONE.ZIP" << false << notFound;
        QTest::newRow("source a folder") << "wc:\\file\\area(1)\\SUB"
                                         << "wc:\\file\\area(2)\\SUB" << false << notFound;
        QTest::newRow("target exists") << "wc:\\file\\area(1)\\A.ZIP"
                                       << "wc:\\file\\area(2)\\B.ZIP" << false << exists;
        QTest::newRow("target exists in other letter case")
            << "wc:\\file\\area(1)\\A.ZIP"
            << "wc:\\file\\area(2)\\b.zip" << false << exists;
        QTest::newRow("areas sharing a folder: the file itself")
            << "wc:\\file\\area(1)\\A.ZIP"
            << "wc:\\file\\area(3)\\A.ZIP" << false << exists;
        QTest::newRow("another file system") << "wc:\\file\\area(1)\\A.ZIP"
                                             << "wc:\\file\\area(2)\\A.ZIP" << true << otherDisk;
        QTest::newRow("a link is copied, not renamed")
            << "wc:\\file\\area(1)\\LINK.ZIP"
            << "wc:\\file\\area(2)\\LINK.ZIP" << false << otherDisk;
        // A taken name is told before the caller is sent to copy, which
        // would replace the file that holds it.
        QTest::newRow("target exists on another file system")
            << "wc:\\file\\area(1)\\A.ZIP"
            << "wc:\\file\\area(2)\\b.zip" << true << exists;
        QTest::newRow("a link onto a taken name") << "wc:\\file\\area(1)\\LINK.ZIP"
                                                  << "wc:\\file\\area(2)\\B.ZIP" << false << exists;
        QTest::newRow("unknown target area") << "wc:\\file\\area(1)\\A.ZIP"
                                             << "wc:\\file\\area(9)\\A.ZIP" << false << denied;
        QTest::newRow("target not a server path") << "wc:\\file\\area(1)\\A.ZIP"
                                                  << "/tmp/A.ZIP" << false << denied;
        QTest::newRow("target name leaves the folder")
            << "wc:\\file\\area(1)\\A.ZIP"
            << "wc:\\file\\area(2)\\.." << false << denied;
    }

    void moveRefusals()
    {
        QFETCH(QString, from);
        QFETCH(QString, to);
        QFETCH(bool, split);
        QFETCH(uint, code);
        put(1, QStringLiteral("A.ZIP"), Pattern(100));
        put(2, QStringLiteral("B.ZIP"), Pattern(200));
        QVERIFY(QDir(m_bbs->areaFolder(1)).mkdir(QStringLiteral("SUB")));
        QCOMPARE(::symlink(QFile::encodeName(diskFile(1, QStringLiteral("A.ZIP"))).constData(),
                           QFile::encodeName(diskFile(1, QStringLiteral("LINK.ZIP"))).constData()),
                 0);
        if (split)
            qputenv("WCSRV_TEST_SPLIT_DEVICES", "1");
        const QStringList one = QDir(m_bbs->areaFolder(1)).entryList(QDir::AllEntries);
        const QStringList two = QDir(m_bbs->areaFolder(2)).entryList(QDir::AllEntries);
        QVERIFY(!WcMoveFile(from.toLatin1().constData(), to.toLatin1().constData()));
        QCOMPARE(WcGetLastError(), code);
        // The same move in a batch (whose target look-up reads the folder
        // once) reports the same code.
        const QByteArray f = from.toLatin1(), t = to.toLatin1();
        const char* froms[] = {f.constData()};
        const char* tos[] = {t.constData()};
        uint32_t result = 0;
        QVERIFY(WcMoveFiles(1, froms, tos, &result));
        QCOMPARE(result, code);
        QCOMPARE(QDir(m_bbs->areaFolder(1)).entryList(QDir::AllEntries), one);
        QCOMPARE(QDir(m_bbs->areaFolder(2)).entryList(QDir::AllEntries), two);
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("B.ZIP"))), Pattern(200));
    }

    void moveCountsForTheFaultSwitch()
    {
        put(1, QStringLiteral("A.ZIP"), Pattern(100));
        WcFaultFailKind("WcMoveFile", WC_NO_ACTION_TAKEN);
        QVERIFY(!WcMoveFile("wc:\\file\\area(1)\\A.ZIP", "wc:\\file\\area(2)\\A.ZIP"));
        QCOMPARE(WcGetLastError(), uint(WC_NO_ACTION_TAKEN));
        QVERIFY(QFile::exists(diskFile(1, QStringLiteral("A.ZIP"))));
        WcFaultReset();
        QVERIFY(LogoutUser());
        QVERIFY(!WcMoveFile("wc:\\file\\area(1)\\A.ZIP", "wc:\\file\\area(2)\\A.ZIP"));
        QCOMPARE(WcGetLastError(), uint(WC_USER_NOT_LOGGED_IN));
        QVERIFY(LoginSystem());
    }

    // The index is made when it pays, and answers as a search of the
    // folder would, through every kind of change, made here or by another
    // process, without reading the folder again: a series of random
    // changes, each followed by a search for every name.
    void folderIndexFollowsEveryChange()
    {
        QTemporaryDir tmp;
        const std::string dir = QFile::encodeName(tmp.path()).toStdString() + "/names/";
        const std::string outside = QFile::encodeName(tmp.path()).toStdString() + "/outside/";
        QCOMPARE(::mkdir(dir.c_str(), 0755), 0);
        QCOMPARE(::mkdir(outside.c_str(), 0755), 0);
        if (!folderindex::Indexable(dir))
            QSKIP("the temporary folder's file system is never indexed (or no inotify here)");
        folderindex::DropAll();
        // Names that are no UTF-8 are removed by bytes.
        const auto reset = qScopeGuard([&] {
            folderindex::SetSearchesBeforeIndex(0);
            folderindex::DropAll();
            Shell(QStringLiteral("rm -rf '%1'/*").arg(tmp.path()));
        });
        const std::vector<std::string> spellings = {
            "a.zip", "A.ZIP", "A.zip",        "a.ZIP",        "b.zip",   "B.ZIP",
            "x",     "X",     "\xc3\xa9.zip", "\xc3\xa9.ZIP", "\xc9.zip"};
        const std::vector<std::string> names = {"A.ZIP", "B.ZIP", "X", "\xc3\xa9.ZIP", "\xc9.ZIP"};
        // Never indexed where it is switched off; else once it has been
        // searched about as often as reading it costs, at least eight times.
        std::string found;
        Touch(dir + "a.zip");
        folderindex::SetSearchesBeforeIndex(-1);
        for (int i = 0; i < 50; ++i)
            QVERIFY(!folderindex::FindVariant(dir, "A.ZIP", found));
        folderindex::SetSearchesBeforeIndex(0);
        for (int i = 1; i < 8; ++i)
            QVERIFY(!folderindex::FindVariant(dir, "A.ZIP", found));
        QCOMPARE(folderindex::IndexedFolders(), 0);
        QVERIFY(folderindex::FindVariant(dir, "A.ZIP", found));
        QCOMPARE(found, std::string("a.zip"));
        QCOMPARE(folderindex::IndexedFolders(), 1);
        // From here on a folder is indexed at its first search.
        folderindex::SetSearchesBeforeIndex(1);
        QRandomGenerator rng(20261210u);
        for (int step = 0; step < 300; ++step) {
            const std::string one = spellings[rng.bounded(quint32(spellings.size()))];
            const std::string two = spellings[rng.bounded(quint32(spellings.size()))];
            switch (rng.bounded(8u)) {
            case 0:
            case 1:
                Touch(dir + one);
                break;
            case 2:
                ::mkdir((dir + one).c_str(), 0755); // a folder is an entry too
                break;
            case 3:
                ::unlink((dir + one).c_str());
                ::rmdir((dir + one).c_str());
                break;
            case 4: // renamed inside the folder, over what has the name
                ::rename((dir + one).c_str(), (dir + two).c_str());
                break;
            case 5: // moved in from another folder
                Touch(outside + one);
                ::rename((outside + one).c_str(), (dir + two).c_str());
                break;
            case 6: // moved out
                ::rename((dir + one).c_str(), (outside + two).c_str());
                break;
            case 7: // another process
                QVERIFY(Shell(QStringLiteral("touch '%1'; rm -rf '%2'")
                                  .arg(QString::fromStdString(dir + one),
                                       QString::fromStdString(dir + two))));
                break;
            }
            for (const std::string& name : names) {
                QVERIFY(folderindex::FindVariant(dir, name, found));
                const std::string expected = FirstOtherCase(dir, name);
                QVERIFY2(
                    found == expected,
                    qPrintable(QStringLiteral("step %1, %2: index %3, folder %4")
                                   .arg(step)
                                   .arg(QString::fromStdString(name), QString::fromStdString(found),
                                        QString::fromStdString(expected))));
            }
        }
        // Another folder at the same path: the index of the old one goes.
        QCOMPARE(::rename(dir.substr(0, dir.size() - 1).c_str(), (outside + "names.old").c_str()),
                 0);
        QCOMPARE(::mkdir(dir.c_str(), 0755), 0);
        Touch(dir + "b.Zip");
        QVERIFY(folderindex::FindVariant(dir, "B.ZIP", found));
        QCOMPARE(found, std::string("b.Zip"));
        QVERIFY(folderindex::FindVariant(dir, "A.ZIP", found));
        QCOMPARE(found, std::string());
        QCOMPARE(folderindex::IndexedFolders(), 1);
    }

    // A child forked from a process with an index reads the kernel's
    // changes on an instance of its own: neither takes the other's.
    void folderIndexAfterFork()
    {
        QTemporaryDir tmp;
        const std::string dir = QFile::encodeName(tmp.path()).toStdString() + "/";
        if (!folderindex::Indexable(dir))
            QSKIP("the temporary folder's file system is never indexed (or no inotify here)");
        folderindex::DropAll();
        folderindex::SetSearchesBeforeIndex(1);
        const auto reset = qScopeGuard([] {
            folderindex::SetSearchesBeforeIndex(0);
            folderindex::DropAll();
        });
        std::string found;
        QVERIFY(folderindex::FindVariant(dir, "C.ZIP", found));
        QCOMPARE(found, std::string());
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            Touch(dir + "c.zip");
            std::string seen;
            const bool ok = folderindex::FindVariant(dir, "C.ZIP", seen) && seen == "c.zip";
            ::_exit(ok ? 0 : 1);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY(WIFEXITED(status));
        QCOMPARE(WEXITSTATUS(status), 0);
        QVERIFY(folderindex::FindVariant(dir, "C.ZIP", found));
        QCOMPARE(found, std::string("c.zip"));
    }

    // Through the library: once the target folder is indexed, a name that
    // another process takes in another letter case is still refused, and
    // free again once it is gone.
    void moveSeesNamesTakenInAnIndexedFolder()
    {
        if (!folderindex::Indexable(QFile::encodeName(m_bbs->areaFolder(2)).toStdString()))
            QSKIP("the area folder's file system is never indexed (or no inotify here)");
        qputenv("WCSRV_FOLDER_INDEX_AFTER", "1");
        const auto reset = qScopeGuard([] { qunsetenv("WCSRV_FOLDER_INDEX_AFTER"); });
        put(1, QStringLiteral("A.ZIP"), Pattern(100));
        put(1, QStringLiteral("C.ZIP"), Pattern(300));
        QVERIFY(WcMoveFile("wc:\\file\\area(1)\\A.ZIP", "wc:\\file\\area(2)\\A.ZIP"));
        QVERIFY(ProcessWatches(m_bbs->areaFolder(2)));
        const QString taken = diskFile(2, QStringLiteral("c.zip"));
        QVERIFY(Shell(QStringLiteral("printf taken > '%1'").arg(taken)));
        QVERIFY(!WcMoveFile("wc:\\file\\area(1)\\C.ZIP", "wc:\\file\\area(2)\\C.ZIP"));
        QCOMPARE(WcGetLastError(), uint(WC_ITEM_ALREADY_EXISTS));
        QCOMPARE(ReadAll(taken), QByteArray("taken"));
        QCOMPARE(ReadAll(diskFile(1, QStringLiteral("C.ZIP"))), Pattern(300));
        QVERIFY(
            Shell(QStringLiteral("mv '%1' '%2'").arg(taken, diskFile(1, QStringLiteral("c.old")))));
        QVERIFY(WcMoveFile("wc:\\file\\area(1)\\C.ZIP", "wc:\\file\\area(2)\\C.ZIP"));
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("C.ZIP"))), Pattern(300));
        QVERIFY(ProcessWatches(m_bbs->areaFolder(2)));
    }

    // The kernel copy goes on from where the handles stand and leaves them
    // after what it copied: writes before and after it land in order, on a
    // new file (write-behind) as on an existing one.
    void copyDataContinuesTheHandles_data()
    {
        QTest::addColumn<uint>("disposition");
        QTest::addColumn<int>("before");
        QTest::newRow("new file, nothing written before") << uint(WC_CREATE_ALWAYS) << 0;
        QTest::newRow("new file, bytes collected before") << uint(WC_CREATE_ALWAYS) << 5000;
        QTest::newRow("existing file opened to write") << uint(WC_OPEN_EXISTING) << 3000;
    }

    void copyDataContinuesTheHandles()
    {
        QFETCH(uint, disposition);
        QFETCH(int, before);
        const QByteArray source = Pattern(3 * 1024 * 1024 + 77, 1);
        put(1, QStringLiteral("SRC.BIN"), source);
        if (disposition == WC_OPEN_EXISTING)
            put(2, QStringLiteral("DST.BIN"), QByteArray());
        const WcHandle from =
            Open("wc:\\file\\area(1)\\SRC.BIN", WC_GENERIC_READ, WC_OPEN_EXISTING);
        const WcHandle to = Open("wc:\\file\\area(2)\\DST.BIN", WC_GENERIC_WRITE, disposition);
        QVERIFY(from > 0 && to > 0);
        // The first bytes through the ordinary calls.
        QByteArray head(before, Qt::Uninitialized);
        uint32_t n = 0;
        QVERIFY(WcReadFile(from, head.data(), uint32_t(before), &n));
        QCOMPARE(int(n), before);
        QVERIFY(WcWriteFile(to, head.constData(), uint32_t(before), &n));
        // A middle part inside the kernel, in two calls.
        uint64_t done = 7; // added to, not set
        QVERIFY(WcCopyFileData(from, to, 1 << 20, &done));
        QCOMPARE(done, uint64_t(7 + (1 << 20)));
        QVERIFY(WcCopyFileData(from, to, 1 << 20, &done));
        QCOMPARE(done, uint64_t(7 + (2 << 20)));
        // The rest through the ordinary calls again.
        QByteArray tail(source.size(), Qt::Uninitialized);
        QVERIFY(WcReadFile(from, tail.data(), uint32_t(tail.size()), &n));
        QCOMPARE(qsizetype(n), source.size() - before - (2 << 20));
        uint32_t written = 0;
        QVERIFY(WcWriteFile(to, tail.constData(), n, &written));
        QVERIFY(WcCloseHandle(to));
        QVERIFY(WcCloseHandle(from));
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("DST.BIN"))), source);
    }

    void copyDataToTheEnd()
    {
        const QByteArray source = Pattern(100000, 2);
        put(1, QStringLiteral("SRC.BIN"), source);
        const WcHandle from =
            Open("wc:\\file\\area(1)\\SRC.BIN", WC_GENERIC_READ, WC_OPEN_EXISTING);
        const WcHandle to = Open("wc:\\file\\area(2)\\DST.BIN", WC_GENERIC_WRITE, WC_CREATE_ALWAYS);
        uint64_t done = 0;
        QVERIFY(WcCopyFileData(from, to, uint64_t(1) << 40, &done));
        QCOMPARE(done, uint64_t(source.size()));
        // At the end it copies nothing and says so.
        QVERIFY(WcCopyFileData(from, to, 4096, &done));
        QCOMPARE(done, uint64_t(source.size()));
        QVERIFY(WcCloseHandle(to));
        QVERIFY(WcCloseHandle(from));
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("DST.BIN"))), source);
    }

    // Refusals change neither file nor handle: the ordinary calls then copy
    // the whole file from where it stood.
    void copyDataRefusals_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<uint>("code");
        QTest::newRow("unknown handle") << "unknown" << uint(WC_INVALID_INDEX);
        QTest::newRow("source opened to write only") << "wrong access" << uint(WC_ACCESS_DENIED);
        QTest::newRow("no count") << "null done" << uint(WC_INVALID_OBJECT_ID);
        QTest::newRow("the kernel refuses (fault switch)") << "kernel" << uint(WC_NO_ACTION_TAKEN);
        QTest::newRow("a faulted read fails it too") << "read" << uint(WC_ACCESS_DENIED);
        QTest::newRow("a faulted write fails it too") << "write" << uint(WC_ACCESS_DENIED);
    }

    void copyDataRefusals()
    {
        QFETCH(QString, how);
        QFETCH(uint, code);
        const QByteArray source = Pattern(50000, 3);
        put(1, QStringLiteral("SRC.BIN"), source);
        const WcHandle from =
            Open("wc:\\file\\area(1)\\SRC.BIN", WC_GENERIC_READ, WC_OPEN_EXISTING);
        const WcHandle to = Open("wc:\\file\\area(2)\\DST.BIN", WC_GENERIC_WRITE, WC_CREATE_ALWAYS);
        QVERIFY(from > 0 && to > 0);
        uint64_t done = 0;
        bool ok = true;
        if (how == u"unknown") {
            ok = WcCopyFileData(from, to + 100, 4096, &done);
        } else if (how == u"wrong access") {
            ok = WcCopyFileData(to, to, 4096, &done);
        } else if (how == u"null done") {
            ok = WcCopyFileData(from, to, 4096, nullptr);
        } else {
            if (how == u"kernel")
                WcFaultFailKind("WcCopyFileData", WC_NO_ACTION_TAKEN);
            else
                WcFaultFailKind(how == u"read" ? "WcReadFile" : "WcWriteFile", WC_ACCESS_DENIED);
            ok = WcCopyFileData(from, to, 4096, &done);
            WcFaultReset();
        }
        QVERIFY(!ok);
        QCOMPARE(WcGetLastError(), code);
        QCOMPARE(done, uint64_t(0));
        QByteArray all(source.size() + 10, Qt::Uninitialized);
        uint32_t n = 0, written = 0;
        QVERIFY(WcReadFile(from, all.data(), uint32_t(all.size()), &n));
        QCOMPARE(qsizetype(n), source.size());
        QVERIFY(WcWriteFile(to, all.constData(), n, &written));
        QVERIFY(WcCloseHandle(to));
        QVERIFY(WcCloseHandle(from));
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("DST.BIN"))), source);
    }

    // Between a handle and a disk file's descriptor the kernel copy goes on
    // from where both stand and leaves both after what it copied, as
    // between two handles; the descriptor stays open and the caller's.
    void copyDiskFileContinues_data()
    {
        QTest::addColumn<bool>("fromDisk");
        QTest::addColumn<int>("before");
        for (const bool fromDisk : {true, false})
            for (const int before : {0, 5000})
                QTest::addRow("%s, %d bytes before", fromDisk ? "disk to server" : "server to disk",
                              before)
                    << fromDisk << before;
    }

    void copyDiskFileContinues()
    {
        QFETCH(bool, fromDisk);
        QFETCH(int, before);
        QTemporaryDir disk;
        QVERIFY(disk.isValid());
        const QByteArray source = Pattern(3 * 1024 * 1024 + 77, 4);
        const QString diskName = disk.filePath(QStringLiteral("file.bin"));
        if (fromDisk) {
            QFile f(diskName);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(source), source.size());
        } else {
            put(1, QStringLiteral("SRC.BIN"), source);
        }
        const Fd fd(OpenDisk(diskName, fromDisk ? O_RDONLY : O_WRONLY | O_CREAT | O_TRUNC));
        const WcHandle handle =
            fromDisk ? Open("wc:\\file\\area(2)\\DST.BIN", WC_GENERIC_WRITE, WC_CREATE_ALWAYS)
                     : Open("wc:\\file\\area(1)\\SRC.BIN", WC_GENERIC_READ, WC_OPEN_EXISTING);
        QVERIFY(fd.fd >= 0 && handle > 0);
        // The first bytes through the ordinary calls.
        uint32_t n = 0;
        if (fromDisk) {
            QByteArray head(before, Qt::Uninitialized);
            QCOMPARE(::read(fd.fd, head.data(), size_t(before)), ssize_t(before));
            QVERIFY(WcWriteFile(handle, head.constData(), uint32_t(before), &n));
        } else {
            QByteArray head(before, Qt::Uninitialized);
            QVERIFY(WcReadFile(handle, head.data(), uint32_t(before), &n));
            QCOMPARE(::write(fd.fd, head.constData(), size_t(before)), ssize_t(before));
        }
        // A middle part inside the kernel, in two calls.
        uint64_t done = 7; // added to, not set
        QVERIFY(CopyDisk(fromDisk, fd.fd, handle, 1 << 20, &done));
        QCOMPARE(done, uint64_t(7 + (1 << 20)));
        QVERIFY(CopyDisk(fromDisk, fd.fd, handle, 1 << 20, &done));
        QCOMPARE(done, uint64_t(7 + (2 << 20)));
        QCOMPARE(PositionOf(fd.fd), off_t(before + (2 << 20)));
        // The rest through the ordinary calls again.
        QByteArray tail(source.size(), Qt::Uninitialized);
        const qsizetype rest = source.size() - before - (2 << 20);
        if (fromDisk) {
            QCOMPARE(::read(fd.fd, tail.data(), size_t(tail.size())), ssize_t(rest));
            QVERIFY(WcWriteFile(handle, tail.constData(), uint32_t(rest), &n));
        } else {
            QVERIFY(WcReadFile(handle, tail.data(), uint32_t(tail.size()), &n));
            QCOMPARE(qsizetype(n), rest);
            QCOMPARE(::write(fd.fd, tail.constData(), size_t(rest)), ssize_t(rest));
        }
        QVERIFY(WcCloseHandle(handle));
        // Still the caller's to close.
        QCOMPARE(::fcntl(fd.fd, F_GETFD) >= 0, true);
        QCOMPARE(ReadAll(fromDisk ? diskFile(2, QStringLiteral("DST.BIN")) : diskName), source);
    }

    // Refusals copy nothing and move neither end: the ordinary calls then
    // copy the whole file from where it stood.
    void copyDiskFileRefusals_data()
    {
        QTest::addColumn<bool>("fromDisk");
        QTest::addColumn<QString>("how");
        QTest::addColumn<uint>("code");
        const uint unknown = WC_INVALID_INDEX, denied = WC_ACCESS_DENIED,
                   refused = WC_NO_ACTION_TAKEN, bad = WC_INVALID_OBJECT_ID,
                   loggedOut = WC_USER_NOT_LOGGED_IN;
        for (const bool fromDisk : {true, false}) {
            const char* way = fromDisk ? "disk to server" : "server to disk";
            QTest::addRow("%s: unknown handle", way) << fromDisk << "unknown handle" << unknown;
            QTest::addRow("%s: closed descriptor", way) << fromDisk << "closed fd" << unknown;
            QTest::addRow("%s: handle opened the other way", way)
                << fromDisk << "handle access" << denied;
            QTest::addRow("%s: descriptor opened the other way", way)
                << fromDisk << "fd access" << denied;
            QTest::addRow("%s: a device", way) << fromDisk << "device" << refused;
            QTest::addRow("%s: a pipe", way) << fromDisk << "pipe" << refused;
            QTest::addRow("%s: the kernel refuses (fault switch)", way)
                << fromDisk << "kernel" << refused;
            QTest::addRow("%s: a faulted server side fails it too", way)
                << fromDisk << "server side" << denied;
            QTest::addRow("%s: no count", way) << fromDisk << "null done" << bad;
            QTest::addRow("%s: logged out", way) << fromDisk << "logged out" << loggedOut;
        }
        QTest::newRow("server to disk: descriptor appends") << false << "append" << refused;
    }

    void copyDiskFileRefusals()
    {
        QFETCH(bool, fromDisk);
        QFETCH(QString, how);
        QFETCH(uint, code);
        QTemporaryDir disk;
        QVERIFY(disk.isValid());
        const QByteArray source = Pattern(50000, 5);
        const QString diskName = disk.filePath(QStringLiteral("file.bin"));
        {
            QFile f(diskName);
            QVERIFY(f.open(QIODevice::WriteOnly));
            if (fromDisk)
                QCOMPARE(f.write(source), source.size());
        }
        put(1, QStringLiteral("SRC.BIN"), source);
        int flags = fromDisk ? O_RDONLY : O_WRONLY;
        if (how == u"fd access")
            flags = fromDisk ? O_WRONLY : O_RDONLY;
        if (how == u"append")
            flags |= O_APPEND;
        Fd fd(OpenDisk(diskName, flags));
        QVERIFY(fd.fd >= 0);
        const uint32_t access = fromDisk ? WC_GENERIC_WRITE : WC_GENERIC_READ;
        const WcHandle handle =
            fromDisk ? Open("wc:\\file\\area(2)\\DST.BIN", WC_GENERIC_WRITE, WC_CREATE_ALWAYS)
                     : Open("wc:\\file\\area(1)\\SRC.BIN", WC_GENERIC_READ, WC_OPEN_EXISTING);
        QVERIFY(handle > 0);
        int otherFd = fd.fd;
        WcHandle otherHandle = handle;
        int pipeFds[2] = {-1, -1};
        uint64_t done = 0;
        uint64_t* count = &done;
        if (how == u"unknown handle") {
            otherHandle = handle + 100;
        } else if (how == u"closed fd") {
            otherFd = OpenDisk(diskName, O_RDONLY);
            ::close(otherFd);
        } else if (how == u"handle access") {
            // A handle of another file, opened the wrong way round.
            put(2, QStringLiteral("OTHER.BIN"), source);
            otherHandle = Open("wc:\\file\\area(2)\\OTHER.BIN",
                               access == WC_GENERIC_READ ? WC_GENERIC_WRITE : WC_GENERIC_READ,
                               WC_OPEN_EXISTING);
            QVERIFY(otherHandle > 0);
        } else if (how == u"device") {
            otherFd = OpenDisk(fromDisk ? QStringLiteral("/dev/zero") : QStringLiteral("/dev/null"),
                               fromDisk ? O_RDONLY : O_WRONLY);
            QVERIFY(otherFd >= 0);
        } else if (how == u"pipe") {
            QCOMPARE(::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK), 0);
            otherFd = fromDisk ? pipeFds[0] : pipeFds[1];
        } else if (how == u"kernel") {
            WcFaultFailKind(fromDisk ? "WcCopyFromDiskFile" : "WcCopyToDiskFile",
                            WC_NO_ACTION_TAKEN);
        } else if (how == u"server side") {
            WcFaultFailKind(fromDisk ? "WcWriteFile" : "WcReadFile", WC_ACCESS_DENIED);
        } else if (how == u"null done") {
            count = nullptr;
        } else if (how == u"logged out") {
            m_login.reset();
        }
        const bool ok = CopyDisk(fromDisk, otherFd, otherHandle, 4096, count);
        const uint32_t error = WcGetLastError();
        WcFaultReset();
        if (how == u"device")
            ::close(otherFd);
        for (const int p : pipeFds)
            if (p >= 0)
                ::close(p);
        if (otherHandle != handle && otherHandle > 0 && how != u"unknown handle")
            QVERIFY(WcCloseHandle(otherHandle));
        QVERIFY(!ok);
        QCOMPARE(error, code);
        QCOMPARE(done, uint64_t(0));
        if (how == u"logged out") {
            // Logging out closed the handle: nothing was written.
            QCOMPARE(ReadAll(fromDisk ? diskFile(2, QStringLiteral("DST.BIN")) : diskName),
                     QByteArray());
            return;
        }
        // Neither end moved: the ordinary calls copy everything.
        if (how == u"fd access" || how == u"append") {
            ::close(fd.fd);
            fd.fd = OpenDisk(diskName, fromDisk ? O_RDONLY : O_WRONLY);
        }
        QCOMPARE(PositionOf(fd.fd), off_t(0));
        QByteArray all(source.size() + 10, Qt::Uninitialized);
        uint32_t n = 0;
        if (fromDisk) {
            QCOMPARE(::read(fd.fd, all.data(), size_t(all.size())), ssize_t(source.size()));
            QVERIFY(WcWriteFile(handle, all.constData(), uint32_t(source.size()), &n));
        } else {
            QVERIFY(WcReadFile(handle, all.data(), uint32_t(all.size()), &n));
            QCOMPARE(qsizetype(n), source.size());
            QCOMPARE(::write(fd.fd, all.constData(), n), ssize_t(n));
        }
        QVERIFY(WcCloseHandle(handle));
        QCOMPARE(ReadAll(fromDisk ? diskFile(2, QStringLiteral("DST.BIN")) : diskName), source);
    }

    // A read of the disk end is no server call: a fault set on the
    // server's reads leaves a copy from disk alone.
    void copyFromDiskIgnoresReadFaults()
    {
        QTemporaryDir disk;
        QVERIFY(disk.isValid());
        const QByteArray source = Pattern(70000, 6);
        const QString diskName = disk.filePath(QStringLiteral("file.bin"));
        {
            QFile f(diskName);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(source), source.size());
        }
        const Fd fd(OpenDisk(diskName, O_RDONLY));
        const WcHandle to = Open("wc:\\file\\area(2)\\DST.BIN", WC_GENERIC_WRITE, WC_CREATE_ALWAYS);
        QVERIFY(fd.fd >= 0 && to > 0);
        WcFaultFailKind("WcReadFile", WC_ACCESS_DENIED);
        uint64_t done = 0;
        QVERIFY(WcCopyFromDiskFile(fd.fd, to, 1 << 20, &done));
        WcFaultReset();
        QCOMPARE(done, uint64_t(source.size()));
        QVERIFY(WcCloseHandle(to));
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("DST.BIN"))), source);
    }

    // A write that fails partway (a file larger than the process may
    // write, as a full disk) fails the copy with what it copied counted,
    // and leaves both ends after those bytes; the file holds exactly them.
    void copyFromDiskFailsPartway()
    {
        QTemporaryDir disk;
        QVERIFY(disk.isValid());
        const QByteArray source = Pattern(2 * 1024 * 1024, 7);
        const QString diskName = disk.filePath(QStringLiteral("file.bin"));
        {
            QFile f(diskName);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(source), source.size());
        }
        const Fd fd(OpenDisk(diskName, O_RDONLY));
        const WcHandle to = Open("wc:\\file\\area(2)\\DST.BIN", WC_GENERIC_WRITE, WC_CREATE_ALWAYS);
        QVERIFY(fd.fd >= 0 && to > 0);
        constexpr off_t kLimit = 1000 * 1000;
        uint64_t done = 0;
        bool ok = true;
        uint32_t error = 0;
        {
            FileSizeLimit limit(kLimit);
            QVERIFY(limit.ok());
            ok = WcCopyFromDiskFile(fd.fd, to, uint64_t(source.size()), &done);
            error = WcGetLastError();
        }
        QVERIFY(!ok);
        QCOMPARE(error, uint32_t(WC_ACCESS_DENIED));
        QCOMPARE(done, uint64_t(kLimit));
        QCOMPARE(PositionOf(fd.fd), kLimit);
        QVERIFY(WcCloseHandle(to));
        QCOMPARE(ReadAll(diskFile(2, QStringLiteral("DST.BIN"))), source.left(kLimit));
    }

    // A create that replaces leaves nothing of what was there: bytes, or
    // blocks reserved beyond the end of an empty file. (An empty file
    // without blocks, such as one it just made, is left as it is.)
    void createAlwaysEmptiesWhatWasThere_data()
    {
        QTest::addColumn<QString>("before");
        QTest::newRow("no file") << "none";
        QTest::newRow("a file with bytes") << "bytes";
        QTest::newRow("an empty file with blocks reserved") << "reserved";
        QTest::newRow("an empty file") << "empty";
    }

    void createAlwaysEmptiesWhatWasThere()
    {
        QFETCH(QString, before);
        const QString path = diskFile(2, QStringLiteral("NEW.BIN"));
        if (before == u"bytes")
            put(2, QStringLiteral("NEW.BIN"), Pattern(70000, 8));
        if (before == u"empty" || before == u"reserved")
            put(2, QStringLiteral("NEW.BIN"), QByteArray());
        if (before == u"reserved") {
            const Fd fd(OpenDisk(path, O_WRONLY));
            if (::fallocate(fd.fd, FALLOC_FL_KEEP_SIZE, 0, 1 << 20) != 0)
                QSKIP("the file system cannot reserve blocks");
        }
        struct stat st {
        };
        if (before != u"none") {
            QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
            QVERIFY(before == u"empty" ? st.st_blocks == 0 : st.st_blocks > 0);
        }
        const WcHandle h = Open("wc:\\file\\area(2)\\NEW.BIN", WC_GENERIC_WRITE, WC_CREATE_ALWAYS);
        QVERIFY(h > 0);
        QCOMPARE(::stat(QFile::encodeName(path).constData(), &st), 0);
        QCOMPARE(st.st_size, off_t(0));
        QCOMPARE(st.st_blocks, blkcnt_t(0));
        const QByteArray bytes = Pattern(5000, 9);
        uint32_t n = 0;
        QVERIFY(WcWriteFile(h, bytes.constData(), uint32_t(bytes.size()), &n));
        QVERIFY(WcCloseHandle(h));
        QCOMPARE(ReadAll(path), bytes);
    }
};

VT_TEST_MAIN(TestWcFileOps)
#include "test_wcsrv_fileops.moc"
