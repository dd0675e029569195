// The INI file class: reading rules and exact bytes after each write.
#include "config/IniFile.h"

#include "common/AppError.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

const QByteArray kSample = "; vtFile settings\r\n"
                           "[General]\r\n"
                           "SysopName=  \"Jane Doe\"  \r\n"
                           "wcHomeDir=c:\\wc5\\\r\n"
                           "\r\n"
                           "; tools follow\r\n"
                           "[Tools]\r\n"
                           "ZipViewer_Prg1 = /usr/bin/xdg-open\r\n";

} // namespace

class TestIniFile : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString m_path;

private slots:
    void init()
    {
        m_path = m_dir.filePath(QStringLiteral("vuru.cfg"));
        QFile::remove(m_path);
    }

    void reading_data()
    {
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("quotes and blanks stripped") << "General"
                                                    << "SysopName"
                                                    << "Jane Doe";
        QTest::newRow("backslash raw") << "General"
                                       << "wcHomeDir"
                                       << "c:\\wc5\\";
        QTest::newRow("section case") << "GENERAL"
                                      << "wchomedir"
                                      << "c:\\wc5\\";
        QTest::newRow("blanks around key") << "tools"
                                           << "ZIPVIEWER_PRG1"
                                           << "/usr/bin/xdg-open";
        QTest::newRow("key in other section") << "Tools"
                                              << "SysopName"
                                              << "<def>";
        QTest::newRow("missing section") << "Nope"
                                         << "SysopName"
                                         << "<def>";
        QTest::newRow("comment is no key") << "General"
                                           << "; vtFile settings"
                                           << "<def>";
    }
    void reading()
    {
        QFETCH(QString, section);
        QFETCH(QString, key);
        QFETCH(QString, expected);
        WriteAll(m_path, kSample);
        IniFile ini(m_path);
        QCOMPARE(ini.ReadString(section, key, QStringLiteral("<def>")), expected);
    }

    void missingFile()
    {
        IniFile ini(m_dir.filePath(QStringLiteral("absent.cfg")));
        QCOMPARE(ini.ReadString(QStringLiteral("General"), QStringLiteral("SysopName"),
                                QStringLiteral("x")),
                 QStringLiteral("x"));
    }

    void valueLimitAndLatin1()
    {
        const QByteArray longValue(1500, 'v');
        WriteAll(m_path, "[A]\nk=" + longValue + "\nl=caf\xe9 \"x\"\nq=\"\n");
        IniFile ini(m_path);
        QCOMPARE(ini.ReadString(QStringLiteral("a"), QStringLiteral("k"), QString()).size(), 1023);
        QCOMPARE(ini.ReadString(QStringLiteral("a"), QStringLiteral("l"), QString()),
                 QStringLiteral(u"caf\u00e9 \"x\""));
        // A lone quote is no pair.
        QCOMPARE(ini.ReadString(QStringLiteral("a"), QStringLiteral("q"), QString()),
                 QStringLiteral("\""));
    }

    void replaceKeepsEveryOtherByte()
    {
        WriteAll(m_path, kSample);
        IniFile ini(m_path);
        ini.WriteString(QStringLiteral("general"), QStringLiteral("WCHOMEDIR"),
                        QStringLiteral("/srv/bbs\\"));
        QByteArray expected = kSample;
        expected.replace("wcHomeDir=c:\\wc5\\\r\n", "wcHomeDir=/srv/bbs\\\r\n");
        QCOMPARE(ReadAll(m_path), expected);
        QCOMPARE(IniFile(m_path).ReadString(QStringLiteral("General"), QStringLiteral("wcHomeDir"),
                                            QString()),
                 QStringLiteral("/srv/bbs\\"));
    }

    void newKeyAppendedToSection()
    {
        WriteAll(m_path, kSample);
        IniFile ini(m_path);
        ini.WriteString(QStringLiteral("General"), QStringLiteral("Extra"), QStringLiteral("1"));
        QByteArray expected = kSample;
        expected.replace("wcHomeDir=c:\\wc5\\\r\n", "wcHomeDir=c:\\wc5\\\r\nExtra=1\r\n");
        QCOMPARE(ReadAll(m_path), expected);
    }

    void newSectionAppended()
    {
        WriteAll(m_path, kSample);
        IniFile ini(m_path);
        ini.WriteString(QStringLiteral("Colors"), QStringLiteral("Back"), QStringLiteral("blue"));
        QCOMPARE(ReadAll(m_path), kSample + "[Colors]\r\nBack=blue\r\n");
    }

    void lastLineWithoutEnd()
    {
        WriteAll(m_path, "[Tools]\nA=1");
        IniFile ini(m_path);
        ini.WriteString(QStringLiteral("Tools"), QStringLiteral("B"), QStringLiteral("2"));
        QCOMPARE(ReadAll(m_path), QByteArray("[Tools]\nA=1\nB=2\n"));
        ini.WriteString(QStringLiteral("Other"), QStringLiteral("C"), QStringLiteral("3"));
        QCOMPARE(ReadAll(m_path), QByteArray("[Tools]\nA=1\nB=2\n[Other]\nC=3\n"));
    }

    void freshFileInSetupOrder()
    {
        IniFile ini(m_path);
        ini.WriteString(QStringLiteral("General"), QStringLiteral("SysopName"),
                        QStringLiteral("Test Sysop"));
        ini.WriteString(QStringLiteral("General"), QStringLiteral("wcHomeDir"),
                        QStringLiteral("c:\\wc5\\"));
        ini.WriteString(QStringLiteral("Tools"), QStringLiteral("ZipViewer_Prg1"),
                        QStringLiteral("xdg-open"));
        QCOMPARE(ReadAll(m_path), QByteArray("[General]\r\nSysopName=Test Sysop\r\n"
                                             "wcHomeDir=c:\\wc5\\\r\n"
                                             "[Tools]\r\nZipViewer_Prg1=xdg-open\r\n"));
        // Written again with the same values: no byte changes.
        IniFile again(m_path);
        again.WriteString(QStringLiteral("general"), QStringLiteral("sysopname"),
                          QStringLiteral("Test Sysop"));
        QCOMPARE(ReadAll(m_path), QByteArray("[General]\r\nSysopName=Test Sysop\r\n"
                                             "wcHomeDir=c:\\wc5\\\r\n"
                                             "[Tools]\r\nZipViewer_Prg1=xdg-open\r\n"));
    }

    void keyOnlyInLaterSectionOfSameName()
    {
        WriteAll(m_path, "[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
        IniFile ini(m_path);
        ini.WriteString(QStringLiteral("B"), QStringLiteral("x"), QStringLiteral("9"));
        QCOMPARE(ReadAll(m_path), QByteArray("[A]\r\nx=1\r\n[B]\r\ny=2\r\nx=9\r\n"));
    }

    void unwritable()
    {
        const QString folder = m_dir.filePath(QStringLiteral("no-such-folder"));
        const QString path = folder + QStringLiteral("/vuru.cfg");
        IniFile ini(path);
        try {
            ini.WriteString(QStringLiteral("General"), QStringLiteral("A"), QStringLiteral("1"));
            QFAIL("no error");
        } catch (const WriteError& e) {
            QCOMPARE(e.message(), QStringLiteral("Unable to write to ") + path);
        }
        // The failed write left the kept lines as they were.
        QCOMPARE(
            ini.ReadString(QStringLiteral("General"), QStringLiteral("A"), QStringLiteral("d")),
            QStringLiteral("d"));
    }
};

VT_TEST_MAIN(TestIniFile)
#include "test_inifile.moc"
