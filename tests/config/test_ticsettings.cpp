// The file echo intake's settings in vuru.cfg: written and read back,
// defaults, hand-written sections, and what the lookups compare.
#include "config/IniFile.h"
#include "config/Settings.h"

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

QString Describe(const TicSettings& s)
{
    QStringList out{s.inbound, s.badFolder, s.uploader,
                    s.replaceSameName ? QStringLiteral("replace") : QStringLiteral("keep")};
    for (const TicAreaLink& a : s.areas)
        out << a.tag + u'=' + QString::number(a.area);
    for (const TicPassword& p : s.passwords)
        out << p.address + u'=' + p.password;
    return out.join(u'|');
}

} // namespace

class TestTicSettings : public QObject
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

    // Every setting written, saved and read back is the same; the other
    // sections stay byte for byte.
    void roundTrip()
    {
        const QByteArray before = "[General]\r\nCodePage=437\r\n";
        WriteAll(m_path, before);
        TicSettings s;
        s.inbound = QStringLiteral("/var/spool/ftn/inbound");
        s.badFolder = QStringLiteral("/var/spool/ftn/bad");
        s.uploader = QStringLiteral("File Echo Robot");
        s.replaceSameName = false;
        s.areas = {{QStringLiteral("UTILS"), 3}, {QStringLiteral("nodediff"), 12}};
        s.passwords = {{QStringLiteral("21:1/100"), QStringLiteral("Secret")},
                       {QStringLiteral("1:2/3.4"), QStringLiteral("pw with blanks")}};
        {
            IniFile ini(m_path);
            SetTicSettings(ini, s);
            ini.Save();
        }
        const QByteArray written = ReadAll(m_path);
        QVERIFY(written.startsWith(before));
        QVERIFY(written.contains("[TicAreas]\r\nUTILS=3\r\nnodediff=12\r\n"));
        QStringList problems;
        const TicSettings read = ReadTicSettings(IniFile(m_path), &problems);
        QCOMPARE(Describe(read), Describe(s));
        QVERIFY(read == s);
        QVERIFY(problems.isEmpty());

        // Written again with fewer lines: the sections hold exactly the new ones.
        s.areas = {{QStringLiteral("GAMES"), 5}};
        s.passwords.clear();
        s.replaceSameName = true;
        {
            IniFile ini(m_path);
            SetTicSettings(ini, s);
            ini.Save();
        }
        QCOMPARE(Describe(ReadTicSettings(IniFile(m_path))), Describe(s));
        QVERIFY(!ReadAll(m_path).contains("UTILS"));
        QVERIFY(!ReadAll(m_path).contains("Secret"));
    }

    void defaults()
    {
        const TicSettings s = ReadTicSettings(IniFile(m_path));
        QVERIFY(s.inbound.isEmpty());
        QVERIFY(s.badFolder.isEmpty());
        QVERIFY(s.uploader.isEmpty());
        QVERIFY(s.replaceSameName);
        QVERIFY(s.areas.isEmpty());
        QVERIFY(s.passwords.isEmpty());
    }

    // Sections as a sysop types them: any letter case, blanks, comments, a
    // section given twice, area values that are no area number.
    void handWritten()
    {
        WriteAll(m_path, "[tic]\n"
                         "inbound = /in\n"
                         "ReplaceSameName=0\n"
                         "[TICAREAS]\n"
                         "; the uplink's echoes\n"
                         "Utils = 3\n"
                         "GAMES=x\n"
                         "NEWS=0\n"
                         "[TicPasswords]\n"
                         "21:1/100 = \"Secret\"\n"
                         "[TicAreas]\n"
                         "Nodediff=12\n");
        QStringList problems;
        const TicSettings s = ReadTicSettings(IniFile(m_path), &problems);
        QCOMPARE(s.inbound, QStringLiteral("/in"));
        QVERIFY(!s.replaceSameName);
        QCOMPARE(Describe(s), QStringLiteral("/in|||keep|Utils=3|Nodediff=12|21:1/100=Secret"));
        QCOMPARE(problems, (QStringList{QStringLiteral("TicAreas: GAMES=x is not an area number"),
                                        QStringLiteral("TicAreas: NEWS=0 is not an area number")}));

        // Rewriting keeps the comment and the other sections.
        IniFile ini(m_path);
        SetTicSettings(ini, s);
        ini.Save();
        const QByteArray after = ReadAll(m_path);
        QVERIFY(after.contains("[TICAREAS]\n; the uplink's echoes\nUtils=3\nNodediff=12\n"));
        QVERIFY(after.contains("[TicPasswords]\n21:1/100=Secret\n[TicAreas]\n"));
        QCOMPARE(Describe(ReadTicSettings(IniFile(m_path))), Describe(s));
    }

    // Keys that could not be read back as themselves are not written.
    void unwritableKeys()
    {
        IniFile ini(m_path);
        ini.SetSection(QStringLiteral("TicAreas"),
                       {{QStringLiteral("[EVIL]"), QStringLiteral("1")},
                        {QStringLiteral(";C"), QStringLiteral("1")},
                        {QStringLiteral("A=B"), QStringLiteral("1")},
                        {QStringLiteral(" "), QStringLiteral("1")},
                        {QStringLiteral("OK"), QStringLiteral("2\r\n[X]")}});
        ini.Save();
        QCOMPARE(ReadAll(m_path), QByteArray("[TicAreas]\r\nOK=2 [X]\r\n"));
    }

    void lookups()
    {
        TicSettings s;
        s.inbound = QStringLiteral("/in");
        s.areas = {{QStringLiteral("Utils"), 3}, {QStringLiteral("UTILS"), 4}};
        s.passwords = {{QStringLiteral("21:1/100@fsxnet"), QStringLiteral("pw")}};
        QCOMPARE(s.AreaOfTag(QStringLiteral("utils")), 3);
        QCOMPARE(s.AreaOfTag(QStringLiteral(" UTILS ")), 3);
        QCOMPARE(s.AreaOfTag(QStringLiteral("GAMES")), 0);
        QString pw;
        QVERIFY(s.PasswordOf(QStringLiteral("21:1/100.0"), pw));
        QCOMPARE(pw, QStringLiteral("pw"));
        QVERIFY(!s.PasswordOf(QStringLiteral("21:1/1000"), pw));
        QVERIFY(!s.PasswordOf(QString(), pw));

        QCOMPARE(s.BadFolderPath(), QStringLiteral("/in/bad"));
        s.badFolder = QStringLiteral("refused");
        QCOMPARE(s.BadFolderPath(), QStringLiteral("/in/refused"));
        s.badFolder = QStringLiteral("/var/bad");
        QCOMPARE(s.BadFolderPath(), QStringLiteral("/var/bad"));
    }
};

QTEST_GUILESS_MAIN(TestTicSettings)
#include "test_ticsettings.moc"
