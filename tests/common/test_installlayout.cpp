// Where the program finds its own files: beside it in the build tree, or in
// an installed tree's lib/vtfile/ and share/vtfile/; and where an installed
// copy keeps vuru.cfg and Temp/. Each row lays out a real tree in a
// temporary folder.
#include "common/BuildInfo.h"
#include "common/InstallLayout.h"
#include "config/Settings.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestInstallLayout : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* m_dir = nullptr;
    QByteArray m_configHome;
    QString bin() const { return m_dir->path() + QStringLiteral("/usr/bin/"); }
    QString installedLib() const
    {
        return QDir::cleanPath(bin() + QStringLiteral(VT_LIBDIR_FROM_BIN)) + u'/';
    }
    QString installedData() const
    {
        return QDir::cleanPath(bin() + QStringLiteral(VT_DATADIR_FROM_BIN)) + u'/';
    }
    QString userFolder() const { return m_dir->path() + QStringLiteral("/config/vtfile/"); }
    // "bin", "lib", "data" or "user" as the folder this test made for it.
    QString folderOf(const QString& role) const
    {
        if (role == QLatin1String("lib"))
            return installedLib();
        if (role == QLatin1String("data"))
            return installedData();
        if (role == QLatin1String("user"))
            return userFolder();
        return bin();
    }
    static void touch(const QString& path)
    {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("x");
    }

private slots:
    void init()
    {
        m_dir = new QTemporaryDir;
        QVERIFY(QDir().mkpath(bin()));
        m_configHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir->path() + QStringLiteral("/config")));
    }
    void cleanup()
    {
        qputenv("XDG_CONFIG_HOME", m_configHome);
        delete m_dir;
        m_dir = nullptr;
    }

    void lookups_data()
    {
        // The files that lie in the tree (role/name), then where the library,
        // the help file and the settings are taken from.
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<bool>("installed");
        QTest::addColumn<QString>("libraryIn");
        QTest::addColumn<QString>("helpIn");
        QTest::addColumn<QString>("settingsIn");
        QTest::newRow("build tree")
            << QStringList{"bin/libdunzip.so", "bin/VURU.HLP"} << false << "bin"
            << "bin"
            << "bin";
        // Writable, as for root or an unpacked package: still the user's folder.
        QTest::newRow("installed tree")
            << QStringList{"lib/libdunzip.so", "lib/libwcsrv.so", "data/VURU.HLP"} << true << "lib"
            << "data"
            << "user";
        QTest::newRow("installed tree, copies beside the program")
            << QStringList{"bin/libdunzip.so", "bin/VURU.HLP", "lib/libdunzip.so", "data/VURU.HLP"}
            << true << "bin"
            << "bin"
            << "user";
        QTest::newRow("installed tree without the files")
            << QStringList{"data/README"} << true << "bin"
            << "bin"
            << "user";
        QTest::newRow("no files at all") << QStringList{} << false << "bin"
                                         << "bin"
                                         << "bin";
    }
    void lookups()
    {
        QFETCH(QStringList, files);
        QFETCH(bool, installed);
        QFETCH(QString, libraryIn);
        QFETCH(QString, helpIn);
        QFETCH(QString, settingsIn);
        for (const QString& file : files)
            touch(folderOf(file.section(u'/', 0, 0)) + file.section(u'/', 1));

        const InstallLayout layout(m_dir->path() + QStringLiteral("/usr/bin"));
        QCOMPARE(layout.BinFolder(), bin());
        QCOMPARE(layout.IsInstalled(), installed);
        QCOMPARE(layout.LibraryFolder(QStringLiteral("libdunzip.so")), folderOf(libraryIn));
        QCOMPARE(layout.DataFile(QStringLiteral("VURU.HLP")),
                 folderOf(helpIn) + QStringLiteral("VURU.HLP"));
        QCOMPARE(ProgramFolderOf(layout), folderOf(settingsIn));
        if (settingsIn == QLatin1String("user"))
            QVERIFY(QFileInfo(userFolder()).isDir());
    }
};

VT_TEST_MAIN(TestInstallLayout)
#include "test_installlayout.moc"
