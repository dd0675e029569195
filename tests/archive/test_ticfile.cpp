// The TIC reader on the dialects mailers and file processors write, the
// check of a TIC and its file (one row per rule), the record texts an
// accepted TIC gives, and the CRC-32 of a file.
#include "archive/TicCheck.h"
#include "archive/TicFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

#include <cstring>

namespace
{

// A parsed TIC as one text, so that a table row states every field and a
// failure shows which one differs.
QString Describe(const TicFile& t)
{
    QStringList out;
    const auto one = [&](const char* name, const QByteArray& value) {
        if (!value.isEmpty())
            out << QStringLiteral("%1=[%2]").arg(QLatin1String(name), QString::fromLatin1(value));
    };
    const auto many = [&](const char* name, const QList<QByteArray>& values) {
        for (const QByteArray& v : values)
            out << QStringLiteral("%1=[%2]").arg(QLatin1String(name), QString::fromLatin1(v));
    };
    one("area", t.area);
    one("areadesc", t.areaDescription);
    one("file", t.file);
    one("long", t.longName);
    many("desc", t.desc);
    many("ldesc", t.ldesc);
    many("replaces", t.replaces);
    if (!t.sizeText.isEmpty())
        out << QStringLiteral("size=[%1]%2")
                   .arg(QString::fromLatin1(t.sizeText),
                        t.size ? QString::number(*t.size) : QStringLiteral("?"));
    if (!t.crcText.isEmpty())
        out << QStringLiteral("crc=[%1]%2")
                   .arg(QString::fromLatin1(t.crcText),
                        t.crc ? QString::fromLatin1(CrcText(*t.crc)) : QStringLiteral("?"));
    one("pw", t.pw);
    one("origin", t.origin);
    one("from", t.from);
    one("to", t.to);
    one("date", t.date);
    many("path", t.path);
    many("seenby", t.seenby);
    for (const TicLine& l : t.others)
        out << QStringLiteral("other:%1=[%2]")
                   .arg(QString::fromLatin1(l.keyword), QString::fromLatin1(l.value));
    if (t.cut)
        out << QStringLiteral("cut");
    return out.join(u'\n');
}

// Lines joined with CR LF (the common form).
QByteArray Crlf(const QList<QByteArray>& lines)
{
    QByteArray out;
    for (const QByteArray& l : lines)
        out += l + "\r\n";
    return out;
}

const QByteArray kStandard = Crlf({
    "Area MYFILES",
    "Areadesc My own file echo",
    "Origin 2:2/29",
    "From 2:2/29",
    "To Sysop, 2:2/30",
    "File MYFILE.ZIP",
    "Lfile MyLongFileName.zip",
    "Size 1234",
    "Date 1447000000",
    "Desc The description of my file",
    "Ldesc The long description, line one",
    "Ldesc and line two",
    "Magic MYFILE",
    "Replaces MYFILE*.ZIP",
    "Crc 1A2B3C4D",
    "Path 2:2/29 1447000000 Sun Nov 08 16:26:40 2015 UTC",
    "Seenby 2:2/29",
    "Seenby 2:2/30",
    "Pw SECRET",
});

const QString kStandardParsed = QStringLiteral(
    "area=[MYFILES]\nareadesc=[My own file echo]\nfile=[MYFILE.ZIP]\nlong=[MyLongFileName.zip]\n"
    "desc=[The description of my file]\nldesc=[The long description, line one]\n"
    "ldesc=[and line two]\nreplaces=[MYFILE*.ZIP]\nsize=[1234]1234\ncrc=[1A2B3C4D]1A2B3C4D\n"
    "pw=[SECRET]\norigin=[2:2/29]\nfrom=[2:2/29]\nto=[Sysop, 2:2/30]\ndate=[1447000000]\n"
    "path=[2:2/29 1447000000 Sun Nov 08 16:26:40 2015 UTC]\nseenby=[2:2/29]\nseenby=[2:2/30]\n"
    "other:Magic=[MYFILE]");

TicSettings Settings()
{
    TicSettings s;
    s.inbound = QStringLiteral("/in");
    s.areas = {{QStringLiteral("UTILS"), 3}, {QStringLiteral("Games"), 5}};
    s.passwords = {{QStringLiteral("21:1/100"), QStringLiteral("Secret")}};
    return s;
}

TicFileState Complete(qint64 size, quint32 crc)
{
    TicFileState s;
    s.exists = true;
    s.path = "/in/FILE.ZIP";
    s.size = size;
    s.crc = crc;
    s.ticAgeSeconds = 10;
    return s;
}

void WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

Q_DECLARE_METATYPE(TicFileState)
Q_DECLARE_METATYPE(TicVerdict)

class TestTicFile : public QObject
{
    Q_OBJECT
private slots:
    void parse_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("expected");

        QTest::newRow("standard example") << kStandard << kStandardParsed;
        QTest::newRow("lower-case keywords")
            << Crlf({"area utils", "file foo.zip", "desc A tool", "crc 0badcafe", "size 10",
                     "from 21:1/100", "pw secret"})
            << QStringLiteral("area=[utils]\nfile=[foo.zip]\ndesc=[A tool]\nsize=[10]10\n"
                              "crc=[0badcafe]0BADCAFE\npw=[secret]\nfrom=[21:1/100]");
        QTest::newRow("LF only") << QByteArray("AREA UTILS\nFILE FOO.ZIP\nDESC A tool\nSIZE 10\n")
                                 << QStringLiteral(
                                        "area=[UTILS]\nfile=[FOO.ZIP]\ndesc=[A tool]\nsize=[10]10");
        QTest::newRow("CR only") << QByteArray("Area UTILS\rFile FOO.ZIP\r")
                                 << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]");
        QTest::newRow("several Desc")
            << Crlf({"Area UTILS", "File FOO.ZIP", "Desc First part,", "Desc", "Desc second part"})
            << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]\ndesc=[First part,]\n"
                              "desc=[second part]");
        {
            QList<QByteArray> lines{"Area UTILS", "File FOO.ZIP"};
            QStringList expected{QStringLiteral("area=[UTILS]"), QStringLiteral("file=[FOO.ZIP]")};
            for (int i = 1; i <= 20; ++i) {
                lines << "LDesc line " + QByteArray::number(i);
                expected << QStringLiteral("ldesc=[line %1]").arg(i);
            }
            lines << "LDesc"
                  << "LDesc    indented";
            expected << QStringLiteral("ldesc=[]") << QStringLiteral("ldesc=[   indented]");
            QTest::newRow("many LDesc") << Crlf(lines) << expected.join(u'\n');
        }
        QTest::newRow("Lfile") << Crlf({"Area UTILS", "File LONGNA~1.ZIP",
                                        "Lfile Long name of the archive.zip"})
                               << QStringLiteral("area=[UTILS]\nfile=[LONGNA~1.ZIP]\n"
                                                 "long=[Long name of the archive.zip]");
        QTest::newRow("Fullname") << Crlf({"Area UTILS", "File LONGNA~1.ZIP",
                                           "Fullname Long name.zip", "Lfile Other.zip"})
                                  << QStringLiteral(
                                         "area=[UTILS]\nfile=[LONGNA~1.ZIP]\nlong=[Long name.zip]\n"
                                         "other:Lfile=[Other.zip]");
        QTest::newRow("extra keywords")
            << Crlf({"Area UTILS", "Magic FOO", "Created by Tick 2.0", "App FTN Tick extra",
                     "File FOO.ZIP", "X-Whatever"})
            << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]\nother:Magic=[FOO]\n"
                              "other:Created=[by Tick 2.0]\nother:App=[FTN Tick extra]\n"
                              "other:X-Whatever=[]");
        QTest::newRow("tabs and blanks")
            << QByteArray("  Area\t\tUTILS  \r\n\tFile  FOO.ZIP\t\r\n\r\n   \r\n")
            << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]");
        QTest::newRow("no line break at the end") << QByteArray("Area UTILS\r\nFile FOO.ZIP")
                                                  << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]");
        QTest::newRow("Ctrl-Z ends the text") << QByteArray("Area UTILS\r\nFile FOO.ZIP\r\n\x1a"
                                                            "Desc after the end\r\n")
                                              << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]");
        QTest::newRow("NUL ends the text")
            << QByteArray("Area UTILS\r\nFile FOO.ZIP\r\nDesc ab") + QByteArray(1, '\0') +
                   "cd\r\nPw X\r\n"
            << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]\ndesc=[ab]");
        QTest::newRow("second Area kept aside")
            << Crlf({"Area UTILS", "Area GAMES", "File FOO.ZIP"})
            << QStringLiteral("area=[UTILS]\nfile=[FOO.ZIP]\nother:Area=[GAMES]");
        QTest::newRow("malformed Size and Crc")
            << Crlf({"Size 12k", "Crc XYZ"}) << QStringLiteral("size=[12k]?\ncrc=[XYZ]?");
        QTest::newRow("Crc with 0x and Size beyond 18 digits")
            << Crlf({"Crc 0xcbf43926", "Size 1234567890123456789"})
            << QStringLiteral("size=[1234567890123456789]?\ncrc=[0xcbf43926]CBF43926");
        QTest::newRow("CP437 bytes kept") << Crlf({"Desc Caf\x82 \xc9\xcd\xbb"})
                                          << QStringLiteral("desc=[Caf\u0082 \u00c9\u00cd\u00bb]");
        QTest::newRow("empty") << QByteArray() << QString();
    }

    void parse()
    {
        QFETCH(QByteArray, input);
        QFETCH(QString, expected);
        QCOMPARE(Describe(ParseTic(input)), expected);
    }

    // A line of any length keeps kTicMaxValueBytes of its value and a keyword
    // of any length is cut; the next line is still read.
    void hugeLines()
    {
        const QByteArray input = "Desc " + QByteArray(100 * 1024, 'x') + "\r\n" +
                                 QByteArray(5000, 'K') + " v\r\nFile FOO.ZIP\r\n";
        const TicFile tic = ParseTic(input);
        QCOMPARE(tic.desc.size(), 1);
        QCOMPARE(tic.desc.first(), QByteArray(kTicMaxValueBytes, 'x'));
        QCOMPARE(tic.others.size(), 1);
        QCOMPARE(tic.others.first().keyword, QByteArray(kTicMaxKeywordBytes, 'K'));
        QCOMPARE(tic.file, QByteArray("FOO.ZIP"));
        QVERIFY(!tic.cut);
    }

    // Only the first kTicMaxBytes are read; a line beyond them is not seen.
    void boundedInput()
    {
        QByteArray input = "Area UTILS\r\n";
        while (input.size() < kTicMaxBytes)
            input += "Seenby 2:2/29\r\n";
        input += "File LATE.ZIP\r\n";
        TicFile tic = ParseTic(input);
        QVERIFY(tic.cut);
        QVERIFY(tic.file.isEmpty());
        QCOMPARE(tic.area, QByteArray("UTILS"));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("big.tic"));
        WriteFile(path, input);
        TicFile read;
        QVERIFY(ReadTicFile(path, read));
        QVERIFY(read == tic);
        QVERIFY(!ReadTicFile(dir.filePath(QStringLiteral("none.tic")), read));
    }

    void check_data()
    {
        QTest::addColumn<QByteArray>("tic");
        QTest::addColumn<TicFileState>("state");
        QTest::addColumn<TicVerdict>("verdict");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("ticOnly");

        const QByteArray good = Crlf({"Area utils", "File file.zip", "Size 100", "Crc 0000ABCD",
                                      "From 21:1/100", "Pw SECRET"});
        const TicFileState ok = Complete(100, 0xABCD);
        TicFileState missing;
        missing.ticAgeSeconds = 10;
        TicFileState missingOld = missing;
        missingOld.ticAgeSeconds = kTicWaitSeconds;
        TicFileState shortFile = Complete(40, 0);
        shortFile.crc.reset();
        TicFileState shortOld = shortFile;
        shortOld.ticAgeSeconds = 2 * kTicWaitSeconds;
        TicFileState longFile = Complete(101, 0);
        longFile.crc.reset();
        TicFileState folder;
        folder.notPlain = true;
        TicFileState unread = Complete(100, 0);
        unread.crc.reset();
        unread.readFailed = true;
        TicFileState huge = Complete(qint64(3) << 30, 0);
        huge.crc.reset();

        const auto row = [](const char* name, const QByteArray& tic, const TicFileState& state,
                            TicVerdict verdict, const char* reason, bool ticOnly = false) {
            QTest::newRow(name) << tic << state << verdict << QString::fromUtf8(reason) << ticOnly;
        };
        row("accepted", good, ok, TicVerdict::Accept, "");
        row("no Area", Crlf({"File file.zip", "Size 100"}), ok, TicVerdict::Refuse, "no Area line");
        row("no File", Crlf({"Area utils"}), ok, TicVerdict::Refuse, "no File line", true);
        row("unknown echo", Crlf({"Area NOPE", "File file.zip"}), ok, TicVerdict::Refuse,
            "echo 'NOPE' is not in TicAreas");
        row("slash in File", Crlf({"Area UTILS", "File ../etc/passwd"}), ok, TicVerdict::Refuse,
            "file name '../etc/passwd' holds a path separator", true);
        row("backslash in File", Crlf({"Area UTILS", "File ..\\x.zip"}), ok, TicVerdict::Refuse,
            "file name '..\\x.zip' holds a path separator", true);
        row("File ..", Crlf({"Area UTILS", "File .."}), ok, TicVerdict::Refuse,
            "file name '..' names a folder", true);
        row("File .", Crlf({"Area UTILS", "File ."}), ok, TicVerdict::Refuse,
            "file name '.' names a folder", true);
        row("unsafe File with unknown echo moves only the TIC", Crlf({"Area NOPE", "File a/b.zip"}),
            ok, TicVerdict::Refuse, "file name 'a/b.zip' holds a path separator", true);
        row("File too long", Crlf({"Area UTILS", "File ABCDEFGHIJKLMNOP.ZIP"}), ok,
            TicVerdict::Refuse, "file name 'ABCDEFGHIJKLMNOP.ZIP' is longer than 15 characters");
        row("long Lfile with a fitting File",
            Crlf({"Area UTILS", "File file.zip", "Size 100",
                  "Lfile A much longer name than fits.zip"}),
            ok, TicVerdict::Accept, "");
        row("wrong password", Crlf({"Area UTILS", "File file.zip", "From 21:1/100", "Pw nope"}), ok,
            TicVerdict::Refuse, "password from 21:1/100 does not match");
        row("no password at all", Crlf({"Area UTILS", "File file.zip", "From 21:1/100.0@fido"}), ok,
            TicVerdict::Refuse, "password from 21:1/100.0@fido does not match");
        row("password of another uplink not checked",
            Crlf({"Area UTILS", "File file.zip", "From 21:1/200", "Pw whatever"}), ok,
            TicVerdict::Accept, "");
        row("malformed Size", Crlf({"Area UTILS", "File file.zip", "Size 1e3"}), ok,
            TicVerdict::Refuse, "Size '1e3' is not a number of bytes");
        row("malformed Crc", Crlf({"Area UTILS", "File file.zip", "Crc 12345678Z"}), ok,
            TicVerdict::Refuse, "Crc '12345678Z' is not a hex CRC-32");
        row("Size too large for a record", Crlf({"Area UTILS", "File file.zip", "Size 3221225472"}),
            missing, TicVerdict::Refuse,
            "file.zip: 3,221,225,472 bytes is too large for a file record (at most "
            "2,147,483,647)");
        row("file too large for a record", Crlf({"Area UTILS", "File file.zip"}), huge,
            TicVerdict::Refuse,
            "file.zip: 3,221,225,472 bytes is too large for a file record (at most "
            "2,147,483,647)");
        row("missing, young TIC", good, missing, TicVerdict::Wait,
            "file 'file.zip' has not arrived yet");
        row("missing, TIC an hour old", good, missingOld, TicVerdict::Refuse,
            "file 'file.zip' is missing");
        row("shorter than Size, young TIC", good, shortFile, TicVerdict::Wait,
            "file 'file.zip' has 40 of 100 bytes so far");
        row("shorter than Size, old TIC", good, shortOld, TicVerdict::Refuse,
            "file 'file.zip' is 40 bytes, Size says 100");
        row("longer than Size", good, longFile, TicVerdict::Refuse,
            "file 'file.zip' is 101 bytes, Size says 100");
        row("Crc mismatch", good, Complete(100, 0xABCE), TicVerdict::Refuse,
            "file 'file.zip' has CRC 0000ABCE, Crc says 0000ABCD");
        row("not a plain file", good, folder, TicVerdict::Refuse,
            "'file.zip' in the inbound is not a plain file");
        row("unreadable file", good, unread, TicVerdict::Refuse,
            "file 'file.zip' could not be read");
        row("no Size and no Crc", Crlf({"Area games", "File file.zip"}), Complete(5, 1),
            TicVerdict::Accept, "");
    }

    void check()
    {
        QFETCH(QByteArray, tic);
        QFETCH(TicFileState, state);
        QFETCH(TicVerdict, verdict);
        QFETCH(QString, reason);
        QFETCH(bool, ticOnly);
        const TicDecision d = CheckTic(ParseTic(tic), Settings(), state, CodePage::Cp437);
        QCOMPARE(d.reason, reason);
        QCOMPARE(d.verdict, verdict);
        QCOMPARE(d.ticOnly, ticOnly);
        if (verdict == TicVerdict::Accept) {
            QVERIFY(d.area == 3 || d.area == 5);
            QCOMPARE(d.recordName, QByteArray("FILE.ZIP"));
        }
    }

    void texts()
    {
        // Several Desc lines joined with one blank, cut at the field.
        TicFile tic = ParseTic(
            Crlf({"Area UTILS", "File file.zip", "Desc  First  ", "Desc " + QByteArray(80, 'd')}));
        TicDecision d = CheckTic(tic, Settings(), Complete(1, 0), CodePage::Cp437);
        QCOMPARE(d.description, ("First " + QByteArray(80, 'd')).left(75));
        QVERIFY(d.descriptionCut);
        QVERIFY(d.hasTexts);
        QVERIFY(d.longDescription.isEmpty());

        // LDesc: 15 lines of 79 bytes at most; trailing empty lines left off;
        // no Desc: the first LDesc line with text is the description.
        QList<QByteArray> lines{"Area UTILS", "File file.zip", "LDesc", "LDesc   Title"};
        for (int i = 0; i < 18; ++i)
            lines << "LDesc " + QByteArray(i == 3 ? 90 : 10, char('a' + i));
        lines << "LDesc"
              << "LDesc  ";
        d = CheckTic(ParseTic(Crlf(lines)), Settings(), Complete(1, 0), CodePage::Cp437);
        QCOMPARE(d.description, QByteArray("Title"));
        QVERIFY(!d.descriptionCut);
        QCOMPARE(d.longDescription.size(), 15);
        QCOMPARE(d.longDescription.at(0), QByteArray());
        QCOMPARE(d.longDescription.at(1), QByteArray("  Title"));
        QCOMPARE(d.longDescription.at(5), QByteArray(79, 'd'));
        QCOMPARE(d.longDescription.at(14), QByteArray(10, 'm'));
        QCOMPARE(d.longLinesDropped, 5);
        QCOMPARE(d.longLinesCut, 1);

        // A long Lfile is the first long-description line; with no LDesc the
        // Desc lines follow it.
        d = CheckTic(ParseTic(Crlf({"Area UTILS", "File LONGNA~1.ZIP",
                                    "Lfile Long name of the archive.zip", "Desc One", "Desc Two"})),
                     Settings(), Complete(1, 0), CodePage::Cp437);
        QCOMPARE(d.recordName, QByteArray("LONGNA~1.ZIP"));
        QCOMPARE(d.longDescription,
                 (QList<QByteArray>{"Long name of the archive.zip", "One", "Two"}));
        QCOMPARE(d.longNameLine, QByteArray("Long name of the archive.zip"));
        QCOMPARE(d.description, QByteArray("One Two"));

        // No texts at all: the archive gives them; the long name waits for them.
        d = CheckTic(ParseTic(Crlf({"Area UTILS", "File LONGNA~1.ZIP",
                                    "Lfile Long name of the archive.zip"})),
                     Settings(), Complete(1, 0), CodePage::Cp437);
        QVERIFY(!d.hasTexts);
        QCOMPARE(d.longNameLine, QByteArray("Long name of the archive.zip"));
        // A long name that fits a record name is no extra line.
        d = CheckTic(
            ParseTic(Crlf({"Area UTILS", "File LONGNA~1.ZIP", "Lfile Short.zip", "Desc x"})),
            Settings(), Complete(1, 0), CodePage::Cp437);
        QVERIFY(d.longDescription.isEmpty());
        QVERIFY(d.longNameLine.isEmpty());
    }

    // TIC texts are code page 437; a Latin-1 BBS stores their letters in
    // its own bytes ('?' for box drawing that Latin-1 lacks).
    void textsInRecordPage()
    {
        const TicFile tic = ParseTic(Crlf({"Area UTILS", "File f.zip", "Desc Caf\x82 \xcd",
                                           "LDesc \x81"
                                           "ber"}));
        TicDecision d = CheckTic(tic, Settings(), Complete(1, 0), CodePage::Latin1);
        QCOMPARE(d.description, QByteArray("Caf\xe9 ?"));
        QCOMPARE(d.longDescription, QList<QByteArray>{QByteArray("\xfc"
                                                                 "ber")});
        d = CheckTic(tic, Settings(), Complete(1, 0), CodePage::Cp437);
        QCOMPARE(d.description, QByteArray("Caf\x82 \xcd"));
    }

    // The texts go into a dirty record bounded by their fields; lines after
    // them are emptied, nothing else changes.
    void applyTexts()
    {
        FullFileRec rec;
        std::memset(&rec, 0x5A, sizeof rec);
        FullFileRec before = rec;
        TicDecision d;
        d.description = QByteArray(200, 'D'); // beyond its field: cut, never overrun
        d.longDescription = {QByteArray(200, 'L'), "two"};
        ApplyTicTexts(d, rec);
        QCOMPARE(QByteArray(rec.Rec.Description), QByteArray(75, 'D'));
        QCOMPARE(QByteArray(rec.LongDescription[0]), QByteArray(79, 'L'));
        QCOMPARE(QByteArray(rec.LongDescription[1]), QByteArray("two"));
        for (int i = 2; i < LongDescLines; ++i)
            QCOMPARE(QByteArray(rec.LongDescription[i], LongDescLineSize),
                     QByteArray(LongDescLineSize, '\0'));
        QCOMPARE(rec.Rec.HasLongDescription, 1);
        QCOMPARE(std::memcmp(rec.Rec.Password, before.Rec.Password, sizeof rec.Rec.Password), 0);
        QCOMPARE(rec.Rec.Size, before.Rec.Size);
        QCOMPARE(std::memcmp(rec.Rec.Name, before.Rec.Name, sizeof rec.Rec.Name), 0);

        d.longDescription.clear();
        ApplyTicTexts(d, rec);
        QCOMPARE(rec.Rec.HasLongDescription, 0);
        QCOMPARE(QByteArray(rec.LongDescription[0]), QByteArray());
    }

    // The state on disk: the file found in any letter case (else by its long
    // name), its CRC read, links and folders not followed, names that lead
    // elsewhere never looked up, the TIC's age from its time.
    void stateOnDisk()
    {
        QTemporaryDir dir;
        const QString inbound = dir.filePath(QStringLiteral("in"));
        QVERIFY(QDir().mkpath(inbound));
        const QByteArray data = "123456789";
        WriteFile(inbound + QStringLiteral("/file.zip"), data);
        WriteFile(dir.filePath(QStringLiteral("outside.zip")), data);
        const QString ticPath = inbound + QStringLiteral("/a.tic");
        WriteFile(ticPath, "x");
        const QDateTime written = QDateTime::currentDateTimeUtc().addSecs(-100);
        {
            QFile f(ticPath);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.setFileTime(written, QFileDevice::FileModificationTime));
        }
        const QDateTime now = written.addSecs(600);

        TicFileState s =
            ReadTicFileState(inbound, ParseTic(Crlf({"File FILE.ZIP", "Size 9"})), ticPath, now);
        QVERIFY(s.exists);
        QCOMPARE(s.path, QFile::encodeName(inbound + QStringLiteral("/file.zip")));
        QCOMPARE(s.size, 9);
        QVERIFY(s.crc.has_value());
        QCOMPARE(*s.crc, 0xCBF43926u);
        QCOMPARE(s.ticAgeSeconds, 600);

        // Shorter than Size: no CRC read (it will wait).
        s = ReadTicFileState(inbound, ParseTic(Crlf({"File file.zip", "Size 90"})), ticPath, now);
        QVERIFY(s.exists);
        QVERIFY(!s.crc.has_value());

        // Found by the long name when File is not there.
        s = ReadTicFileState(inbound, ParseTic(Crlf({"File FILE~1.ZIP", "Lfile File.Zip"})),
                             ticPath, now);
        QVERIFY(s.exists);
        QCOMPARE(s.size, 9);

        // A File leading out of the inbound is not looked up, though it is there.
        s = ReadTicFileState(inbound, ParseTic(Crlf({"File ../outside.zip"})), ticPath, now);
        QVERIFY(!s.exists);
        QVERIFY(s.path.isEmpty());
        s = ReadTicFileState(inbound, ParseTic(Crlf({"File x.zip", "Lfile ../outside.zip"})),
                             ticPath, now);
        QVERIFY(!s.exists);
        QVERIFY(s.path.isEmpty());

        // A link to a file outside is no plain file.
        QVERIFY(QFile::link(dir.filePath(QStringLiteral("outside.zip")),
                            inbound + QStringLiteral("/link.zip")));
        s = ReadTicFileState(inbound, ParseTic(Crlf({"File link.zip"})), ticPath, now);
        QVERIFY(!s.exists);
        QVERIFY(s.notPlain);
        QVERIFY(!s.crc.has_value());

        s = ReadTicFileState(inbound, ParseTic(Crlf({"File none.zip"})), ticPath, now);
        QVERIFY(!s.exists);
        QVERIFY(!s.notPlain);
    }

    void crc32OfFile()
    {
        QTemporaryDir dir;
        const QByteArray small = QFile::encodeName(dir.filePath(QStringLiteral("small")));
        WriteFile(QFile::decodeName(small), "123456789");
        quint32 crc = 0;
        QVERIFY(FileCrc32(small, crc));
        QCOMPARE(crc, 0xCBF43926u);

        const QByteArray empty = QFile::encodeName(dir.filePath(QStringLiteral("empty")));
        WriteFile(QFile::decodeName(empty), QByteArray());
        QVERIFY(FileCrc32(empty, crc));
        QCOMPARE(crc, 0u);

        // Larger than one block: the streamed CRC equals the CRC of the whole.
        QByteArray big(700 * 1024 + 17, '\0');
        for (qsizetype i = 0; i < big.size(); ++i)
            big[i] = char((i * 131) ^ (i >> 9));
        const QByteArray bigPath = QFile::encodeName(dir.filePath(QStringLiteral("big")));
        WriteFile(QFile::decodeName(bigPath), big);
        QVERIFY(FileCrc32(bigPath, crc));
        QCOMPARE(crc, quint32(::crc32(0, reinterpret_cast<const Bytef*>(big.constData()),
                                      uInt(big.size()))));

        crc = 7;
        QVERIFY(!FileCrc32(QFile::encodeName(dir.filePath(QStringLiteral("none"))), crc));
        QCOMPARE(crc, 7u);
        QVERIFY(!FileCrc32(QFile::encodeName(dir.path()), crc)); // a folder can't be read
        QCOMPARE(CrcText(0xABCD), QByteArray("0000ABCD"));
    }
};

QTEST_GUILESS_MAIN(TestTicFile)
#include "test_ticfile.moc"
