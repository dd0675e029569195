// The disk-file helpers: padding, deleting, trailing separators, existence
// tests and folder creation, against real folders in a temporary directory.
#include "common/AppError.h"
#include "common/FileUtils.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

class TestFileUtils : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    QString root() const { return m_dir->path() + u'/'; }
    void touch(const QString& path)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
    }

private slots:
    void init() { m_dir = new QTemporaryDir; }
    void cleanup()
    {
        // A test may have made a folder unwritable; make it removable again.
        ::chmod(QFile::encodeName(root() + QStringLiteral("ro")).constData(), 0755);
        delete m_dir;
        m_dir = nullptr;
    }

    void padToWidth_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QChar>("fill");
        QTest::addColumn<int>("width");
        QTest::addColumn<QChar>("side");
        QTest::addColumn<QString>("expected");
        QTest::newRow("cut, side L") << "abc" << QChar(u' ') << 2 << QChar(u'L') << "ab";
        QTest::newRow("cut, side R") << "abc" << QChar(u' ') << 2 << QChar(u'R') << "ab";
        QTest::newRow("cut, other side") << "abc" << QChar(u' ') << 2 << QChar(u'x') << "ab";
        QTest::newRow("right-aligned") << "abc" << QChar(u'.') << 5 << QChar(u'L') << "..abc";
        QTest::newRow("right-aligned, small l")
            << "abc" << QChar(u'.') << 5 << QChar(u'l') << "..abc";
        QTest::newRow("left-aligned") << "abc" << QChar(u'.') << 5 << QChar(u'R') << "abc..";
        QTest::newRow("any other side pads behind")
            << "abc" << QChar(u'-') << 4 << QChar(u'?') << "abc-";
        QTest::newRow("empty text") << "" << QChar(u'=') << 3 << QChar(u'R') << "===";
        QTest::newRow("exact width") << "abc" << QChar(u'.') << 3 << QChar(u'L') << "abc";
        QTest::newRow("width 0") << "abc" << QChar(u'.') << 0 << QChar(u'L') << "";
        QTest::newRow("negative width") << "abc" << QChar(u'.') << -4 << QChar(u'L') << "";
    }
    void padToWidth()
    {
        QFETCH(QString, text);
        QFETCH(QChar, fill);
        QFETCH(int, width);
        QFETCH(QChar, side);
        QFETCH(QString, expected);
        QCOMPARE(PadToWidth(text, fill, width, side), expected);
    }

    void withTrailingBackslash_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("expected");
        QTest::newRow("adds") << "/A"
                              << "/A/";
        QTest::newRow("keeps") << "/A/"
                               << "/A/";
        QTest::newRow("empty stays empty") << ""
                                           << "";
        QTest::newRow("root") << "/"
                              << "/";
        QTest::newRow("backslash is a name character here") << "/A\\"
                                                            << "/A\\/";
    }
    void withTrailingBackslash()
    {
        QFETCH(QString, path);
        QFETCH(QString, expected);
        QCOMPARE(WithTrailingBackslash(path), expected);
    }

    void deleteDiskFile()
    {
        const QString file = root() + QStringLiteral("gone.txt");
        touch(file);
        QVERIFY(DeleteDiskFile(file));
        QVERIFY(!QFileInfo::exists(file));
        QVERIFY(!DeleteDiskFile(file)); // already gone
        QVERIFY(!DeleteDiskFile(QString()));
        // A folder is not a file.
        QVERIFY(QDir().mkpath(root() + QStringLiteral("sub")));
        QVERIFY(!DeleteDiskFile(root() + QStringLiteral("sub")));
        QVERIFY(QFileInfo(root() + QStringLiteral("sub")).isDir());
    }

    void deleteDiskFileLongPath()
    {
        // A path above 260 characters is refused even when the file exists.
        QString folder = root();
        while (folder.size() < 250)
            folder += QStringLiteral("level/");
        QVERIFY(QDir().mkpath(folder));
        const QString file = folder + QString(300 - folder.size(), u'f');
        QCOMPARE(file.size(), 300);
        touch(file);
        QVERIFY(!DeleteDiskFile(file));
        QVERIFY(QFileInfo::exists(file));
    }

    void folderExists()
    {
        QVERIFY(FolderExists(root()));
        QVERIFY(FolderExists(m_dir->path()));
        QVERIFY(!FolderExists(root() + QStringLiteral("none/")));
        // An ordinary file counts too.
        touch(root() + QStringLiteral("A"));
        QVERIFY(FolderExists(root() + QStringLiteral("A/")));
        QVERIFY(FolderExists(root() + QStringLiteral("A")));
        // Wildcards count when something matches.
        QVERIFY(FolderExists(root() + QStringLiteral("?")));
        QVERIFY(FolderExists(root() + QStringLiteral("*")));
        QVERIFY(!FolderExists(root() + QStringLiteral("B*")));
        QVERIFY(!FolderExists(QString()));
        // Hidden and dotted names are found.
        QVERIFY(QDir().mkpath(root() + QStringLiteral(".hidden.d")));
        QVERIFY(FolderExists(root() + QStringLiteral(".hidden.d/")));
    }

    // Only '*' and '?' are wildcards: brackets (and a backslash) are
    // ordinary characters of a name, never a set.
    void folderExistsBrackets_data()
    {
        QTest::addColumn<QStringList>("onDisk"); // folders made, "/" for a level
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("exists");
        QTest::newRow("A[1] is not A1") << QStringList{"A1"} << "A[1]" << false;
        QTest::newRow("A[1] itself") << QStringList{"A[1]"} << "A[1]" << true;
        QTest::newRow("A[1] with trailing separator") << QStringList{"A[1]"} << "A[1]/" << true;
        QTest::newRow("A[1] beside A1") << QStringList{"A1", "A[1]"} << "A[1]" << true;
        QTest::newRow("[x] itself") << QStringList{"[x]"} << "[x]" << true;
        QTest::newRow("[x] is not x") << QStringList{"x"} << "[x]" << false;
        QTest::newRow("a lone ]") << QStringList{"b]"} << "b]" << true;
        QTest::newRow("a lone [") << QStringList{"b["} << "b[" << true;
        QTest::newRow("negated set is plain") << QStringList{"A1"} << "A[!2]" << false;
        QTest::newRow("range is plain") << QStringList{"A5"} << "A[0-9]" << false;
        QTest::newRow("star after bracket") << QStringList{"A[1]"} << "A[*" << true;
        QTest::newRow("question mark for bracket") << QStringList{"A[1]"} << "A?1?" << true;
        QTest::newRow("star does not make brackets a set")
            << QStringList{"A1x"} << "A[1]*" << false;
        QTest::newRow("bracketed level") << QStringList{"D[1]/X"} << "D[1]/X" << true;
        QTest::newRow("bracketed level is not D1") << QStringList{"D1/X"} << "D[1]/X" << false;
        QTest::newRow("backslash in a name") << QStringList{"a\\b"} << "a\\b" << true;
        QTest::newRow("backslash is not an escape") << QStringList{"ab"} << "a\\b" << false;
    }

    void folderExistsBrackets()
    {
        QFETCH(QStringList, onDisk);
        QFETCH(QString, asked);
        QFETCH(bool, exists);
        for (const QString& folder : onDisk)
            QVERIFY(QDir().mkpath(root() + folder));
        QCOMPARE(FolderExists(root() + asked), exists);
    }

    void bracketsInFolderSearchAndCreation()
    {
        QVERIFY(QDir().mkpath(root() + QStringLiteral("[T]emp")));
        QVERIFY(QDir().mkpath(root() + QStringLiteral("Temp")));
        QVERIFY(FolderEntryExists(root() + QStringLiteral("[T]*"), QStringLiteral("[t]EMP")));
        QVERIFY(!FolderEntryExists(root() + QStringLiteral("[T]*"), QStringLiteral("Temp")));
        QVERIFY(!FolderEntryExists(root() + QStringLiteral("[T]emp"), QStringLiteral("Temp")));
        // Levels with brackets are created and then found by their names.
        const QString path = root() + QStringLiteral("[A]/b[2]/");
        QVERIFY(MakeFolderPath(path));
        QVERIFY(QFileInfo(root() + QStringLiteral("[A]/b[2]")).isDir());
        QVERIFY(!QFileInfo::exists(root() + QStringLiteral("A")));
    }

    void folderEntryExists()
    {
        QVERIFY(QDir().mkpath(root() + QStringLiteral("Temp")));
        QVERIFY(QDir().mkpath(root() + QStringLiteral("a.b")));
        touch(root() + QStringLiteral(".dot"));
        const QString all = root() + QStringLiteral("*");
        QVERIFY(FolderEntryExists(all, QStringLiteral("Temp")));
        QVERIFY(FolderEntryExists(all, QStringLiteral("tEMP")));
        QVERIFY(FolderEntryExists(all, QStringLiteral("A.B")));
        QVERIFY(FolderEntryExists(all, QStringLiteral(".DOT")));
        QVERIFY(!FolderEntryExists(all, QStringLiteral("Tem")));
        QVERIFY(!FolderEntryExists(root() + QStringLiteral("x*"), QStringLiteral("Temp")));
        // Only ASCII letters are folded.
        QVERIFY(QDir().mkpath(root() + QString::fromUtf8("\xc3\xa9t\xc3\xa9")));
        QVERIFY(!FolderEntryExists(all, QString::fromUtf8("\xc3\x89T\xc3\x89")));
        QVERIFY(FolderEntryExists(all, QString::fromUtf8("\xc3\xa9T\xc3\xa9")));
    }

    void makeFolderPathTwoLevels()
    {
        const QString path = root() + QStringLiteral("A/B/");
        QVERIFY(MakeFolderPath(path));
        QVERIFY(QFileInfo(root() + QStringLiteral("A")).isDir());
        QVERIFY(QFileInfo(root() + QStringLiteral("A/B")).isDir());
        // Again: everything exists, nothing fails.
        QVERIFY(MakeFolderPath(path));
    }

    void makeFolderPathWithoutTrailingSeparator()
    {
        // Only the levels followed by '/' are made; the result tells whether
        // the whole path exists.
        QVERIFY(!MakeFolderPath(root() + QStringLiteral("A/B")));
        QVERIFY(QFileInfo(root() + QStringLiteral("A")).isDir());
        QVERIFY(!QFileInfo::exists(root() + QStringLiteral("A/B")));
        // With B there as a file, the path exists.
        touch(root() + QStringLiteral("A/B"));
        QVERIFY(MakeFolderPath(root() + QStringLiteral("A/B")));
    }

    void makeFolderPathDottedLevel()
    {
        // An existing level whose name holds a dot counts as existing; it
        // is not made again (which would fail).
        QVERIFY(QDir().mkpath(root() + QStringLiteral("a.b")));
        QVERIFY(MakeFolderPath(root() + QStringLiteral("a.b/Temp/")));
        QVERIFY(QFileInfo(root() + QStringLiteral("a.b/Temp")).isDir());
        // And a dotted level that doesn't exist yet is made.
        QVERIFY(MakeFolderPath(root() + QStringLiteral("c.d/.e/")));
        QVERIFY(QFileInfo(root() + QStringLiteral("c.d/.e")).isDir());
    }

    void makeFolderPathCaseMatters()
    {
        // On this file system temp and Temp are two folders.
        QVERIFY(QDir().mkpath(root() + QStringLiteral("temp")));
        QVERIFY(MakeFolderPath(root() + QStringLiteral("Temp/")));
        QVERIFY(QFileInfo(root() + QStringLiteral("Temp")).isDir());
    }

    void makeFolderPathFailureThrows()
    {
        // A level under an ordinary file can't be made: WriteError with the
        // platform's text.
        touch(root() + QStringLiteral("file"));
        bool thrown = false;
        try {
            MakeFolderPath(root() + QStringLiteral("file/sub/"));
        } catch (const WriteError& e) {
            thrown = true;
            QVERIFY(!e.message().isEmpty());
        }
        QVERIFY(thrown);

        if (::geteuid() != 0) {
            QVERIFY(QDir().mkpath(root() + QStringLiteral("ro")));
            QVERIFY(::chmod(QFile::encodeName(root() + QStringLiteral("ro")).constData(), 0555) ==
                    0);
            QVERIFY_THROWS_EXCEPTION(WriteError, MakeFolderPath(root() + QStringLiteral("ro/x/")));
        }
    }
};

VT_TEST_MAIN(TestFileUtils)
#include "test_fileutils.moc"
