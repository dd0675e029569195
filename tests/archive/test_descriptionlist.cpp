// FILES.BBS and DESCRIPT.ION: the dialects read, the cuts to the record
// limits, and writing a list that reads back into the same record bytes,
// through a real BBS.
#include "archive/DescriptionList.h"
#include "server/wcsrv.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

Q_DECLARE_METATYPE(DescriptionListLayout)

namespace
{

// One line per entry: name|description|long lines joined by '/'|line
// numbers|size|date|downloads|cuts; then one "?N:text" per unread line.
QByteArray Dump(const DescriptionList& list)
{
    QByteArray out;
    for (const DescriptionEntry& e : list.entries) {
        QByteArray numbers = QByteArray::number(e.line);
        for (int n : e.longLineNumbers)
            numbers += ',' + QByteArray::number(n);
        out += e.name + '|' + e.description + '|' + e.longLines.join('/') + '|' + numbers + '|' +
               QByteArray::number(e.size) + '|' + e.date + '|' + QByteArray::number(e.downloads) +
               '|' + QByteArray::number(e.cuts) + '\n';
    }
    for (const UnreadLine& u : list.unread)
        out += '?' + QByteArray::number(u.line) + ':' + u.text + '\n';
    return out;
}

// The bytes of a literal, NULs included.
template <std::size_t N> QByteArray Raw(const char (&text)[N])
{
    return QByteArray(text, qsizetype(N - 1));
}

QByteArray Field(const char* field, std::size_t size)
{
    return QByteArray(field, qsizetype(size));
}

} // namespace

class TestDescriptionList : public QObject
{
    Q_OBJECT

private slots:
    void dialects_data()
    {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("dump");
        auto row = [](const char* tag, const QByteArray& in, const QByteArray& dump) {
            QTest::newRow(tag) << in << dump;
        };
        row("name then description, CR LF", "FOO.ZIP This is foo\r\nBAR.ARJ Bar archive\r\n",
            "FOO.ZIP|This is foo||1|-1||-1|0\nBAR.ARJ|Bar archive||2|-1||-1|0\n");
        row("LF only, last line without break", "FOO.ZIP One\nBAR.ZIP Two",
            "FOO.ZIP|One||1|-1||-1|0\nBAR.ZIP|Two||2|-1||-1|0\n");
        row("padded name, trailing blanks kept", "FOO.ZIP        Desc here  \r\n",
            "FOO.ZIP|Desc here  ||1|-1||-1|0\n");
        row("name only", "FOO.ZIP\r\nBAR.ZIP   \r\n",
            "FOO.ZIP|||1|-1||-1|0\nBAR.ZIP|||2|-1||-1|0\n");
        row("continuation by blanks", "FOO.ZIP Desc\n        second\n\tthird\n",
            "FOO.ZIP|Desc|second/third|1,2,3|-1||-1|0\n");
        row("continuation marks", "FOO.ZIP Desc\n   | one\n   +two\n  >  three\n|four\n |\n",
            "FOO.ZIP|Desc|one/two/ three/four/|1,2,3,4,5,6|-1||-1|0\n");
        row("size and date columns", "FOO.ZIP     12345  01-02-95  Desc\n",
            "FOO.ZIP|Desc||1|12345|01-02-95|-1|0\n");
        row("date first, grouped size", "FOO.ZIP 1995-01-02 1,234,567 Desc\n",
            "FOO.ZIP|Desc||1|1234567|1995-01-02|-1|0\n");
        row("size in K, slashed date", "FOO.ZIP 120K 01/02/1995 Desc\n",
            "FOO.ZIP|Desc||1|122880|01/02/1995|-1|0\n");
        row("download count", "FOO.ZIP [ 3] Desc\nBAR.ZIP 12345 31.12.95 [03] Bar\n",
            "FOO.ZIP|Desc||1|-1||3|0\nBAR.ZIP|Bar||2|12345|31.12.95|3|0\n");
        row("each column once", "FOO.ZIP 12345 01-02-95 678 Desc\n",
            "FOO.ZIP|678 Desc||1|12345|01-02-95|-1|0\n");
        row("not a date", "FOO.ZIP 13-13-95 Desc\n", "FOO.ZIP|13-13-95 Desc||1|-1||-1|0\n");
        row("not a size", "FOO.ZIP 3D Game\n", "FOO.ZIP|3D Game||1|-1||-1|0\n");
        row("comments, header and empty lines",
            "; comment\r\n---------\r\n=========\r\n\r\nFOO.ZIP Desc\r\n   \r\n",
            "FOO.ZIP|Desc||5|-1||-1|0\n");
        row("continuation with no file", "   Area header\nFOO.ZIP Desc\n",
            "FOO.ZIP|Desc||2|-1||-1|0\n?1:   Area header\n");
        row("a comment ends the file's lines", "FOO.ZIP Desc\n; c\n   | lost\n",
            "FOO.ZIP|Desc||1|-1||-1|0\n?3:   | lost\n");
        row("tab separator", "FOO.ZIP\tDesc\n\t| more\n", "FOO.ZIP|Desc|more|1,2|-1||-1|0\n");
        row("blanks after the last tab are the text", "FOO.ZIP \t\t  Centered\n",
            "FOO.ZIP|  Centered||1|-1||-1|0\n");
        row("long name in quotes", "\"My Long File.txt\" A text\n\"x\"\n",
            "My Long File.txt|A text||1|-1||-1|0\nx|||2|-1||-1|0\n");
        row("quote not closed", "\"Bad name A text\n", "?1:\"Bad name A text\n");
        row("quote glued to text", "\"a b\"c text\n", "?1:\"a b\"c text\n");
        row("empty quoted name", "\"\" text\n", "?1:\"\" text\n");
        row("4DOS mark and what follows ignored",
            QByteArray("foo.txt Desc\x04\xC2\x01\x02 extended\r\nbar.txt B\x04\xC2\n"),
            "foo.txt|Desc||1|-1||-1|0\nbar.txt|B||2|-1||-1|0\n");
        row("8-bit bytes kept", "FOO.ZIP \xC9\xCD\xBB caf\x82 \xFF\n   | \xB0\xB1\n",
            "FOO.ZIP|\xC9\xCD\xBB caf\x82 \xFF|\xB0\xB1|1,2|-1||-1|0\n");
        row("DOS end-of-file mark", "FOO.ZIP Desc\r\n\x1A", "FOO.ZIP|Desc||1|-1||-1|0\n");
        row("CR alone ends a line", "FOO.ZIP a\rb\r\n", "FOO.ZIP|a||1|-1||-1|0\nb|||2|-1||-1|0\n");
        row("CR line ends throughout", "FOO.ZIP One\r   | more\rBAR.ZIP Two\r",
            "FOO.ZIP|One|more|1,2|-1||-1|0\nBAR.ZIP|Two||3|-1||-1|0\n");
        row("CR LF, LF and CR mixed", "A.ZIP a\r\nB.ZIP b\nC.ZIP c\rD.ZIP d",
            "A.ZIP|a||1|-1||-1|0\nB.ZIP|b||2|-1||-1|0\nC.ZIP|c||3|-1||-1|0\nD.ZIP|d||4|-1||-1|0\n");
        row("CR CR LF is an empty line", "A.ZIP a\r\r\nB.ZIP b\r\n",
            "A.ZIP|a||1|-1||-1|0\nB.ZIP|b||3|-1||-1|0\n");
        row("NUL in a description", Raw("A.ZIP Des\0cription\r\nB.ZIP fine\r\n"),
            Raw("B.ZIP|fine||2|-1||-1|0\n?1:A.ZIP Des\0cription\n"));
        row("NUL in a name", Raw("A.ZIP\0X desc\r\n   | more\r\n"),
            Raw("?1:A.ZIP\0X desc\n?2:   | more\n"));
        row("NUL in a continuation", Raw("A.ZIP a\n   | x\0y\n   | z\n"),
            Raw("A.ZIP|a|z|1,3|-1||-1|0\n?2:   | x\0y\n"));
        row("empty input", "", "");
        // The DOS directory layout: the name padded to eight columns, the
        // extension apart, the long description indented below it.
        row("DOS layout",
            "RG0930F .ZIP  -=-=-=-=-=-=-\r\n"
            "              Rogue's Gallery\r\n"
            "              \r\n"
            "\r\n"
            "              Second part\r\n"
            "\r\n"
            "ACTIONS .ASC  1 Action list\r\n"
            "A       .TXT  Short name\r\n",
            "RG0930F.ZIP|-=-=-=-=-=-=-|Rogue's Gallery///Second part|1,2,3,4,5|-1||-1|0\n"
            "ACTIONS.ASC|1 Action list||7|-1||-1|0\n"
            "A.TXT|Short name||8|-1||-1|0\n");
        row("DOS layout with columns", "FOO     .ZIP     12345  01-02-95  Foo\n",
            "FOO.ZIP|Foo||1|12345|01-02-95|-1|0\n");
        row("not the DOS layout",
            "FOO    .ZIP x\nFOO\t    .ZIP y\nFOO     .ZIPX z\n"
            "ABCDEFGH.ZIP w\nFOO     . v\n",
            "FOO|.ZIP x||1|-1||-1|0\nFOO|    .ZIP y||2|-1||-1|0\nFOO|.ZIPX z||3|-1||-1|0\n"
            "ABCDEFGH.ZIP|w||4|-1||-1|0\nFOO|. v||5|-1||-1|0\n");
        row("blank lines end a plain entry", "FOO.ZIP Desc\n\n   more\n",
            "FOO.ZIP|Desc||1|-1||-1|0\n?3:   more\n");
        // A number is a size only where the list has the column.
        row("number begins the description",
            "386.doc      80386 processor manual (Russian)\r\nREADME.TXT   Read me\r\n",
            "386.doc|80386 processor manual (Russian)||1|-1||-1|0\nREADME.TXT|Read "
            "me||2|-1||-1|0\n");
        row("a list of one entry", "FOO.ZIP 12345 Desc\n", "FOO.ZIP|12345 Desc||1|-1||-1|0\n");
        row("a date after the number", "FOO.ZIP 12345 01-02-95 Desc\n",
            "FOO.ZIP|Desc||1|12345|01-02-95|-1|0\n");
        row("a date before the number", "FOO.ZIP 01-02-95 12345 Desc\n",
            "FOO.ZIP|Desc||1|12345|01-02-95|-1|0\n");
        row("a count beside the number", "FOO.ZIP 12345 [3] Desc\n",
            "FOO.ZIP|Desc||1|12345||3|0\n");
        row("the other entries carry the column",
            "A.ZIP  1234  Alpha\nB.ZIP  2345  Beta\n386.DOC 80386 manual\n",
            "A.ZIP|Alpha||1|1234||-1|0\nB.ZIP|Beta||2|2345||-1|0\n386.DOC|manual||3|80386||-1|0\n");
        row("half the others is not most", "A.ZIP 1 x\nB.ZIP 2 y\nC.ZIP z\nD.ZIP w\n",
            "A.ZIP|1 x||1|-1||-1|0\nB.ZIP|2 "
            "y||2|-1||-1|0\nC.ZIP|z||3|-1||-1|0\nD.ZIP|w||4|-1||-1|0\n");
    }
    void dialects()
    {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, dump);
        QCOMPARE(Dump(ParseDescriptionList(input)), dump);
    }

    void cutsToRecordLimits()
    {
        QByteArray in = "FOO.ZIP " + QByteArray(100, 'd') + "\r\n";
        in += "   | " + QByteArray(90, 'l') + "\r\n";
        for (int i = 1; i < 17; ++i)
            in += "   | line " + QByteArray::number(i) + "\r\n";
        in += "BAR.ZIP " + QByteArray(75, 'e') + "\r\n" + "   | " + QByteArray(79, 'm') + "\r\n";
        const DescriptionList list = ParseDescriptionList(in);
        QCOMPARE(list.entries.size(), 2);
        const DescriptionEntry& foo = list.entries.at(0);
        QCOMPARE(foo.description, QByteArray(75, 'd'));
        QCOMPARE(foo.longLines.size(), 15);
        QCOMPARE(foo.longLines.first(), QByteArray(79, 'l'));
        QCOMPARE(foo.longLines.last(), QByteArray("line 14"));
        QCOMPARE(foo.longLineNumbers.last(), 16);
        // The description, the long line, and the 16th and 17th lines dropped.
        QCOMPARE(foo.cuts, 4);
        // Exactly at the limits: nothing cut.
        QCOMPARE(list.entries.at(1).description, QByteArray(75, 'e'));
        QCOMPARE(list.entries.at(1).longLines, QList<QByteArray>{QByteArray(79, 'm')});
        QCOMPARE(list.entries.at(1).cuts, 0);
        QCOMPARE(list.cuts, 4);
    }

    void layouts()
    {
        DescriptionEntry e;
        e.name = "FOO.ZIP";
        e.description = "Foo tool";
        e.longLines = {"line one", "", " indented"};
        e.size = 12345;
        e.date = "01-02-95";
        e.downloads = 7;
        QCOMPARE(ExportDescriptionList({e}, DescriptionListLayout::FilesBbs).bytes,
                 QByteArray("FOO.ZIP          12345  01-02-95  [7]  Foo tool\r\n"
                            "                                       | line one\r\n"
                            "                                       |\r\n"
                            "                                       |  indented\r\n"));
        e.longLines.clear();
        e.name = "My File.txt";
        QCOMPARE(ExportDescriptionList({e}, DescriptionListLayout::DescriptIon).bytes,
                 QByteArray("\"My File.txt\" Foo tool\r\n"));
    }

    // The largest columns an entry can carry are written so that they read
    // back as columns, not as the start of the description.
    void largestColumnsReadBack()
    {
        const DescriptionList read = ParseDescriptionList("BIG.ZIP 12312345M [2147483647] Big\n");
        QCOMPARE(read.entries.size(), 1);
        const DescriptionEntry& e = read.entries.first();
        QCOMPARE(e.size, qint64(12312345) * 1024 * 1024);
        QCOMPARE(e.downloads, 2147483647);
        for (DescriptionListLayout layout :
             {DescriptionListLayout::FilesBbs, DescriptionListLayout::DescriptIon}) {
            const DescriptionListExport ex = ExportDescriptionList({e}, layout);
            QCOMPARE(ex.inexact, QList<int>());
            const DescriptionList back = ParseDescriptionList(ex.bytes);
            QCOMPARE(back.cuts, 0);
            QCOMPARE(back.entries.size(), 1);
            QCOMPARE(back.entries.first().description, QByteArray("Big"));
        }
        // A count beyond what a record holds is not a column.
        QCOMPARE(ParseDescriptionList("BIG.ZIP [2147483648] Big\n").entries.first().description,
                 QByteArray("[2147483648] Big"));
    }

    void inexactReported()
    {
        DescriptionEntry ok, tab, mark;
        ok.name = "A.ZIP";
        ok.description = "fine";
        tab.name = "B.ZIP";
        tab.description = "\tstarts with a tab";
        mark.name = "C.ZIP";
        mark.description = QByteArray("holds \x04\xC2 the mark");
        const DescriptionListExport ex =
            ExportDescriptionList({ok, tab, mark}, DescriptionListLayout::FilesBbs);
        QCOMPARE(ex.inexact, (QList<int>{1, 2}));
        // The first reads back; the list still holds all three files.
        const DescriptionList back = ParseDescriptionList(ex.bytes);
        QCOMPARE(back.entries.size(), 3);
        QCOMPARE(back.entries.at(0).description, QByteArray("fine"));
    }

    // A number that is the file's size is the size column, in a list of one
    // entry too; another number begins the description.
    void numberThatIsTheFileSize_data()
    {
        QTest::addColumn<qint64>("fileSize");
        QTest::addColumn<QByteArray>("description");
        QTest::addColumn<qint64>("size");
        QTest::newRow("the file's size")
            << qint64(80386) << QByteArray("processor manual") << qint64(80386);
        QTest::newRow("another size")
            << qint64(1000) << QByteArray("80386 processor manual") << qint64(-1);
        QTest::newRow("size not known")
            << qint64(-1) << QByteArray("80386 processor manual") << qint64(-1);
    }
    void numberThatIsTheFileSize()
    {
        QFETCH(qint64, fileSize);
        QFETCH(QByteArray, description);
        QFETCH(qint64, size);
        QByteArray asked;
        const DescriptionList list = ParseDescriptionList("386.DOC  80386 processor manual\r\n",
                                                          [&](const QByteArray& name) {
                                                              asked = name;
                                                              return fileSize;
                                                          });
        QCOMPARE(asked, QByteArray("386.DOC"));
        QCOMPARE(list.entries.size(), 1);
        QCOMPARE(list.entries.first().description, description);
        QCOMPARE(list.entries.first().size, size);
    }

    // A size is written only beside a date or a count, which make it a
    // column the reader takes back; alone it is left out.
    void sizeWrittenOnlyAsAColumn()
    {
        DescriptionEntry e;
        e.name = "FOO.ZIP";
        e.description = "Foo";
        e.size = 12345;
        const DescriptionListExport alone =
            ExportDescriptionList({e}, DescriptionListLayout::FilesBbs);
        QCOMPARE(alone.bytes, QByteArray("FOO.ZIP      Foo\r\n"));
        QCOMPARE(alone.inexact, QList<int>());
        e.downloads = 0;
        const DescriptionListExport counted =
            ExportDescriptionList({e}, DescriptionListLayout::FilesBbs);
        QCOMPARE(counted.bytes, QByteArray("FOO.ZIP          12345  [0]  Foo\r\n"));
        QCOMPARE(ParseDescriptionList(counted.bytes).entries.first().size, qint64(12345));
    }

    // Read back alone an entry may be exact and yet not in the whole list: a
    // description that begins with a number reads as a size where the other
    // entries carry one. Such an entry is reported.
    void wholeListReadBack()
    {
        QList<DescriptionEntry> entries;
        for (const char* name : {"A.ZIP", "B.ZIP", "C.ZIP"}) {
            DescriptionEntry e;
            e.name = name;
            e.description = "text";
            e.size = 100;
            e.date = "01-02-95";
            entries << e;
        }
        entries[1].size = -1;
        entries[1].date.clear();
        entries[1].description = "123 starts with a number";
        const DescriptionListExport ex =
            ExportDescriptionList(entries, DescriptionListLayout::FilesBbs);
        QCOMPARE(ex.inexact, QList<int>{1});
        const DescriptionList back = ParseDescriptionList(ex.bytes);
        QCOMPARE(back.entries.size(), 3);
        QCOMPARE(back.entries.at(0).description, QByteArray("text"));
        QCOMPARE(back.entries.at(2).description, QByteArray("text"));
    }

    // Every reader of a list reads it through one function: a regular file
    // only, never one that would block, and never more than the limit.
    void readListFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<QString>("failure"); // empty: read
        const qint64 whole = DescriptionListMaxBytes;
        QTest::newRow("regular file") << QStringLiteral("file") << whole << QString();
        QTest::newRow("at the limit") << QStringLiteral("file") << qint64(26) << QString();
        QTest::newRow("one byte beyond the limit")
            << QStringLiteral("file") << qint64(25) << QStringLiteral("larger than 25 bytes");
        QTest::newRow("sparse file beyond 64 MiB")
            << QStringLiteral("sparse") << whole << QStringLiteral("larger than 64 MiB");
        QTest::newRow("FIFO") << QStringLiteral("fifo") << whole
                              << QStringLiteral("not a regular file");
        QTest::newRow("endless device")
            << QStringLiteral("/dev/zero") << whole << QStringLiteral("not a regular file");
        QTest::newRow("folder") << QStringLiteral("folder") << whole
                                << QStringLiteral("not a regular file");
        QTest::newRow("missing") << QStringLiteral("missing") << whole
                                 << QString::fromLocal8Bit(strerror(ENOENT));
    }
    void readListFile()
    {
        QFETCH(QString, kind);
        QFETCH(qint64, limit);
        QFETCH(QString, failure);
        QTemporaryDir dir;
        QString path = dir.filePath(QStringLiteral("FILES.BBS"));
        const QByteArray content("FOO.ZIP Foo\r\nBAR.ZIP Bar\r\n"); // 26 bytes
        if (kind == QLatin1String("file") || kind == QLatin1String("sparse")) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
            if (kind == QLatin1String("sparse"))
                QVERIFY(f.resize(DescriptionListMaxBytes + 1));
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("FILES.BBS")));
        } else if (kind.startsWith(u'/')) {
            path = kind;
        }
        const DescriptionListFile read = ReadDescriptionListFile(path, limit);
        QCOMPARE(read.failure, failure);
        QCOMPARE(read.ok(), failure.isEmpty());
        QCOMPARE(read.bytes, failure.isEmpty() ? content : QByteArray());
    }

    // The texts that a plain layout would lose, through a real BBS: stored,
    // written to a list, wiped, read back from the list and stored again.
    void roundTripThroughRecords_data()
    {
        QTest::addColumn<DescriptionListLayout>("layout");
        QTest::newRow("FILES.BBS") << DescriptionListLayout::FilesBbs;
        QTest::newRow("DESCRIPT.ION") << DescriptionListLayout::DescriptIon;
    }
    void roundTripThroughRecords()
    {
        QFETCH(DescriptionListLayout, layout);
        TestBbs bbs;
        QVERIFY(bbs.ok());
        bbs.addArea(1, QStringLiteral("Files"));
        struct Texts {
            const char* name;
            QByteArray description;
            QList<QByteArray> lines;
        };
        const QList<Texts> texts = {
            {"PLAIN.ZIP", "A plain description", {"A plain description", "second"}},
            {"CENTER.ZIP", "     Centered title     ", {"   art \xDB\xDB", "", "  x"}},
            {"YEAR.ZIP", "1995 edition 01-02-95 [3]", {"| starts with a mark", "+ and >"}},
            {"EMPTY.ZIP", "", {"", "only the second line"}},
            {"BLANKS.ZIP", "   ", {}},
            {"FULL.ZIP", QByteArray(75, '\xCD'), {QByteArray(79, '\xB1')}},
            {"-DASH.ZIP", "name starts like a comment", {}},
            {"8BIT.ZIP", "\x80\x81\x82\xFE\xFF \x01\x1F\x7F", {"\x1A in the middle"}},
        };
        QList<FullFileRec> stored;
        for (const Texts& t : texts) {
            stored << bbs.addFile(1, QString::fromLatin1(t.name), nullptr, [&](FullFileRec& r) {
                std::memcpy(r.Rec.Description, t.description.constData(),
                            std::size_t(t.description.size()));
                for (int i = 0; i < t.lines.size(); ++i)
                    std::memcpy(r.LongDescription[i], t.lines.at(i).constData(),
                                std::size_t(t.lines.at(i).size()));
                r.Rec.HasLongDescription = t.lines.isEmpty() ? 0 : 1;
                r.Rec.Size = 1000 + int(t.description.size());
                r.Rec.Downloads = 3;
                r.Rec.FileTime = TestTime(1995, 1, 2);
            });
        }
        ServerLogin login;
        QVERIFY(login.ok());
        auto read = [](const char* name, FullFileRec& full) {
            FileRec rec{};
            uint32_t pos = 0;
            return GetFileRecByAreaName(1, name, &rec, &pos) && GetFullFileRec(&rec, &full);
        };

        QList<DescriptionEntry> entries;
        QList<FullFileRec> before;
        for (const Texts& t : texts) {
            FullFileRec full{};
            QVERIFY(read(t.name, full));
            before << full;
            entries << DescriptionEntryOfRecord(full);
        }
        const DescriptionListExport ex = ExportDescriptionList(entries, layout);
        QCOMPARE(ex.inexact, QList<int>());

        // Wipe the texts on the server, so that only the list can bring them back.
        for (const Texts& t : texts) {
            FullFileRec full{};
            QVERIFY(read(t.name, full));
            std::memset(full.Rec.Description, 'w', sizeof full.Rec.Description - 1);
            std::memset(full.LongDescription, 'w', sizeof full.LongDescription);
            for (auto& line : full.LongDescription)
                line[LongDescLineSize - 1] = '\0';
            QVERIFY(UpdateFullFileRec(&full));
            QVERIFY(read(t.name, full));
            QVERIFY(std::memcmp(full.Rec.Description, "www", 3) == 0);
        }

        const DescriptionList list = ParseDescriptionList(ex.bytes);
        QCOMPARE(list.unread.size(), 0);
        QCOMPARE(list.cuts, 0);
        QCOMPARE(list.entries.size(), texts.size());
        for (int i = 0; i < texts.size(); ++i) {
            QCOMPARE(list.entries.at(i).name, QByteArray(texts.at(i).name));
            FullFileRec full{};
            QVERIFY(read(texts.at(i).name, full));
            ApplyDescriptionEntry(list.entries.at(i), full);
            QVERIFY(UpdateFullFileRec(&full));
        }
        for (int i = 0; i < texts.size(); ++i) {
            FullFileRec after{};
            QVERIFY(read(texts.at(i).name, after));
            const FullFileRec& b = before.at(i);
            QCOMPARE(Field(after.Rec.Description, sizeof after.Rec.Description),
                     Field(b.Rec.Description, sizeof b.Rec.Description));
            QCOMPARE(Field(after.LongDescription[0], sizeof after.LongDescription),
                     Field(b.LongDescription[0], sizeof b.LongDescription));
            QCOMPARE(after.Rec.HasLongDescription, b.Rec.HasLongDescription);
            // Every other byte of the record is as it was.
            FullFileRec masked = after;
            std::memcpy(masked.Rec.Description, b.Rec.Description, sizeof b.Rec.Description);
            std::memcpy(masked.LongDescription, b.LongDescription, sizeof b.LongDescription);
            QVERIFY(std::memcmp(&masked, &b, sizeof b) == 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestDescriptionList)
#include "test_descriptionlist.moc"
