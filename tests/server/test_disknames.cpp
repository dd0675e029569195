// Finding a record name's file in a folder in any letter case: by a look-up
// of each letter-case variant where the name has few of them for the
// folder's size, else by reading the folder. Both find the same entry as a
// plain reading of the folder does (the first match in byte order).
#include "server/DiskNames.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace
{

// The entry a plain reading of the folder finds, or "".
std::string ReadingFinds(const std::string& dir, std::string_view name)
{
    std::string found;
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* e = ::readdir(d)) {
            const std::string_view entry(e->d_name);
            if (entry != name && disknames::SameNameAnyCase(entry, name) &&
                disknames::TakenBefore(entry, found))
                found = entry;
        }
        ::closedir(d);
    }
    return found;
}

} // namespace

class TestDiskNames : public QObject
{
    Q_OBJECT

private slots:
    void findsTheFirstVariant_data()
    {
        QTest::addColumn<QByteArrayList>("entries");
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QByteArray>("expected"); // the entry found, "" for none
        QTest::addColumn<bool>("large");          // the folder holds 600 more entries
        QTest::addColumn<bool>("byName");         // the variants are looked up by name
        for (const bool large : {false, true}) {
            const char* size = large ? "large folder" : "small folder";
            QTest::addRow("%s: exact name", size)
                << QByteArrayList{"A.ZIP", "a.zip"} << QByteArray("A.ZIP") << QByteArray("A.ZIP")
                << large << large;
            QTest::addRow("%s: lower case", size) << QByteArrayList{"a.zip"} << QByteArray("A.ZIP")
                                                  << QByteArray("a.zip") << large << large;
            QTest::addRow("%s: first of three in byte order", size)
                << QByteArrayList{"a.zip", "a.Zip", "A.zip"} << QByteArray("A.ZIP")
                << QByteArray("A.zip") << large << large;
            QTest::addRow("%s: other bytes stay as they are", size)
                << QByteArrayList{"caf\xe9.txt", "caf\xc9.txt"} << QByteArray("CAF\xc9.TXT")
                << QByteArray("caf\xc9.txt") << large << large;
            QTest::addRow("%s: a folder entry counts too", size)
                << QByteArrayList{"/sub.dir"} << QByteArray("SUB.DIR") << QByteArray("sub.dir")
                << large << large;
            QTest::addRow("%s: none", size)
                << QByteArrayList{"B.ZIP", "a.zipx"} << QByteArray("A.ZIP") << QByteArray() << large
                << large;
            // 2,048 variants: the folder is read.
            QTest::addRow("%s: many letters", size)
                << QByteArrayList{"pkzipfiles.x"} << QByteArray("PKZIPFILES.X")
                << QByteArray("pkzipfiles.x") << large << false;
        }
    }

    void findsTheFirstVariant()
    {
        QFETCH(QByteArrayList, entries);
        QFETCH(QByteArray, name);
        QFETCH(QByteArray, expected);
        QFETCH(bool, large);
        QFETCH(bool, byName);
        QTemporaryDir tmp;
        QVERIFY(tmp.isValid());
        const std::string dir = QFile::encodeName(tmp.path()).toStdString() + '/';
        // Names are bytes: made by the system calls, not through QString.
        auto make = [&](const QByteArray& entry) {
            if (entry.startsWith('/')) {
                QCOMPARE(::mkdir((dir + entry.mid(1).toStdString()).c_str(), 0755), 0);
                return;
            }
            const int fd = ::open((dir + entry.toStdString()).c_str(), O_CREAT | O_WRONLY, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        };
        for (const QByteArray& entry : entries)
            make(entry);
        // Names without letters never match a name with letters.
        if (large)
            for (int i = 0; i < 600; ++i)
                make(QByteArray::number(100000 + i) + ".0");
        const std::string want = expected.toStdString();
        const std::string asked = name.toStdString();

        bool exists = false;
        const std::string path = disknames::FindInFolder(dir, asked, &exists);
        QCOMPARE(exists, !want.empty());
        QCOMPARE(path, dir + (want.empty() ? asked : want));
        if (want != asked)
            QCOMPARE(ReadingFinds(dir, asked), want);

        // Which way it went: by name only where that is cheaper.
        struct stat folder {
        };
        QCOMPARE(::stat(dir.c_str(), &folder), 0);
        std::string found;
        const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(dirFd >= 0);
        const bool wentByName = disknames::FindVariantByName(dirFd, asked, folder.st_size, found);
        ::close(dirFd);
        QCOMPARE(wentByName, byName);
        if (wentByName && want != asked)
            QCOMPARE(found, want);
    }
};

VT_TEST_MAIN(TestDiskNames)
#include "test_disknames.moc"
