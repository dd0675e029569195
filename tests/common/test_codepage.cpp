// The code pages of record texts: each maps all 256 bytes to 256 different
// characters and back, agrees with the C library's converter of the same
// name, and is found by the name the setting and --codepage use.
#include "common/CodePage.h"

#include <QSet>
#include <QtTest>

#include <iconv.h>

Q_DECLARE_METATYPE(CodePage)

class TestCodePage : public QObject
{
    Q_OBJECT

private slots:
    void pages_data()
    {
        QTest::addColumn<CodePage>("page");
        QTest::addColumn<QByteArray>("iconvName");
        QTest::newRow("Latin-1") << CodePage::Latin1 << QByteArray("ISO-8859-1");
        QTest::newRow("437") << CodePage::Cp437 << QByteArray("CP437");
        QTest::newRow("850") << CodePage::Cp850 << QByteArray("CP850");
        QTest::newRow("852") << CodePage::Cp852 << QByteArray("CP852");
        QTest::newRow("866") << CodePage::Cp866 << QByteArray("CP866");
    }

    void allBytesRoundTrip_data() { pages_data(); }
    void allBytesRoundTrip()
    {
        QFETCH(CodePage, page);
        QByteArray all(256, '\0');
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const QString text = CodePageToString(page, all);
        QCOMPARE(text.size(), 256);
        // One character per byte, no two bytes alike.
        QSet<char16_t> seen;
        for (QChar c : text)
            seen.insert(c.unicode());
        QCOMPARE(seen.size(), 256);
        int unmapped = -1;
        QCOMPARE(CodePageFromString(page, text, &unmapped), all);
        QCOMPARE(unmapped, 0);
        for (int b = 0; b < 256; ++b) {
            QCOMPARE(CodePageChar(page, uchar(b)), text.at(b));
            QCOMPARE(CodePageByte(page, text.at(b)), b);
        }
        // Control characters made elsewhere keep their byte.
        for (char16_t c = 1; c < 0x20; ++c)
            QCOMPARE(CodePageByte(page, QChar(c)), int(c));
        QCOMPARE(CodePageByte(page, QChar(char16_t(0x7F))), 0x7F);
        // A character no page holds.
        QCOMPARE(CodePageByte(page, QChar(char16_t(0x4E00))), -1);
        QCOMPARE(CodePageFromString(page, QStringLiteral("a\u4E00b"), &unmapped),
                 QByteArray("a?b"));
        QCOMPARE(unmapped, 1);
    }

    // The printable bytes as the C library's converter reads them (it keeps
    // 0x00-0x1F and 0x7F control characters, where the DOS pages show the
    // screen font's graphics).
    void matchesTheCLibrary_data() { pages_data(); }
    void matchesTheCLibrary()
    {
        QFETCH(CodePage, page);
        QFETCH(QByteArray, iconvName);
        iconv_t cd = iconv_open("UTF-16LE", iconvName.constData());
        if (cd == iconv_t(-1))
            QSKIP(qPrintable(QStringLiteral("the C library has no %1 converter")
                                 .arg(QString::fromLatin1(iconvName))));
        int compared = 0;
        const int first = page == CodePage::Latin1 ? 0 : 0x20;
        for (int b = first; b < 0x100; ++b) {
            if (b == 0x7F && page != CodePage::Latin1)
                continue;
            char in = char(b);
            char out[4] = {};
            char* ip = &in;
            char* op = out;
            size_t il = 1, ol = sizeof out;
            QVERIFY(iconv(cd, &ip, &il, &op, &ol) != size_t(-1));
            QCOMPARE(ol, size_t(2));
            const char16_t expected = char16_t(uchar(out[0]) | (uchar(out[1]) << 8));
            QVERIFY2(CodePageChar(page, uchar(b)).unicode() == expected,
                     qPrintable(QStringLiteral("byte %1").arg(b, 2, 16)));
            ++compared;
        }
        iconv_close(cd);
        QCOMPARE(compared, page == CodePage::Latin1 ? 256 : 223);
    }

    void characters_data()
    {
        QTest::addColumn<CodePage>("page");
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("unicode");
        QTest::newRow("437 smiley") << CodePage::Cp437 << 0x01 << 0x263A;
        QTest::newRow("437 pilcrow") << CodePage::Cp437 << 0x14 << 0x00B6;
        QTest::newRow("437 house") << CodePage::Cp437 << 0x7F << 0x2302;
        QTest::newRow("437 e acute") << CodePage::Cp437 << 0x82 << 0x00E9;
        // 850 holds the pilcrow and the section sign in its upper half: the
        // low bytes keep their control characters.
        QTest::newRow("850 0x14") << CodePage::Cp850 << 0x14 << 0x0014;
        QTest::newRow("850 0x15") << CodePage::Cp850 << 0x15 << 0x0015;
        QTest::newRow("850 pilcrow") << CodePage::Cp850 << 0xF4 << 0x00B6;
        QTest::newRow("850 smiley") << CodePage::Cp850 << 0x01 << 0x263A;
        QTest::newRow("850 O slash") << CodePage::Cp850 << 0x9D << 0x00D8;
        QTest::newRow("852 0x14 pilcrow") << CodePage::Cp852 << 0x14 << 0x00B6;
        QTest::newRow("852 0x15") << CodePage::Cp852 << 0x15 << 0x0015;
        QTest::newRow("852 section") << CodePage::Cp852 << 0xF5 << 0x00A7;
        QTest::newRow("852 l stroke") << CodePage::Cp852 << 0x88 << 0x0142;
        QTest::newRow("866 A") << CodePage::Cp866 << 0x80 << 0x0410;
        QTest::newRow("866 ya") << CodePage::Cp866 << 0xEF << 0x044F;
        QTest::newRow("866 numero") << CodePage::Cp866 << 0xFC << 0x2116;
        QTest::newRow("866 house") << CodePage::Cp866 << 0x7F << 0x2302;
        QTest::newRow("Latin-1 tab") << CodePage::Latin1 << 0x09 << 0x0009;
        QTest::newRow("Latin-1 0x82") << CodePage::Latin1 << 0x82 << 0x0082;
        QTest::newRow("NUL in every page") << CodePage::Cp866 << 0x00 << 0x0000;
    }
    void characters()
    {
        QFETCH(CodePage, page);
        QFETCH(int, byte);
        QFETCH(int, unicode);
        QCOMPARE(int(CodePageChar(page, uchar(byte)).unicode()), unicode);
        QCOMPARE(CodePageByte(page, QChar(char16_t(unicode))), byte);
    }

    void names_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("known");
        QTest::addColumn<CodePage>("page");
        QTest::newRow("437") << QStringLiteral("437") << true << CodePage::Cp437;
        QTest::newRow("850") << QStringLiteral("850") << true << CodePage::Cp850;
        QTest::newRow("852 with blanks") << QStringLiteral(" 852 ") << true << CodePage::Cp852;
        QTest::newRow("866") << QStringLiteral("866") << true << CodePage::Cp866;
        QTest::newRow("Latin1") << QStringLiteral("Latin1") << true << CodePage::Latin1;
        QTest::newRow("latin1") << QStringLiteral("LATIN1") << true << CodePage::Latin1;
        QTest::newRow("1252") << QStringLiteral("1252") << false << CodePage::Latin1;
        QTest::newRow("cp437") << QStringLiteral("cp437") << false << CodePage::Latin1;
        QTest::newRow("empty") << QString() << false << CodePage::Latin1;
    }
    void names()
    {
        QFETCH(QString, name);
        QFETCH(bool, known);
        QFETCH(CodePage, page);
        CodePage found = CodePage::Cp866;
        QCOMPARE(CodePageOfName(name, found), known);
        if (known) {
            QCOMPARE(found, page);
            QCOMPARE(CodePageName(found).compare(name.trimmed(), Qt::CaseInsensitive), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TestCodePage)
#include "test_codepage.moc"
