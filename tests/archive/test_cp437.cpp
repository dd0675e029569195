// Code page 437: every byte survives the way to text and back, and the
// table agrees with the C library's own code page 437 converter.
#include "common/Cp437.h"

#include <QtTest>

#include <iconv.h>

class TestCp437 : public QObject
{
    Q_OBJECT

private slots:
    void allBytesRoundTrip()
    {
        QByteArray all(256, '\0');
        for (int b = 0; b < 256; ++b)
            all[b] = char(b);
        const QString text = Cp437ToString(all);
        QCOMPARE(text.size(), 256);
        // One character per byte, no two bytes alike.
        QSet<char16_t> seen;
        for (QChar c : text)
            seen.insert(c.unicode());
        QCOMPARE(seen.size(), 256);
        int unmapped = -1;
        QCOMPARE(Cp437FromString(text, &unmapped), all);
        QCOMPARE(unmapped, 0);
        for (int b = 0; b < 256; ++b) {
            QCOMPARE(Cp437Char(uchar(b)), text.at(b));
            QCOMPARE(Cp437Byte(text.at(b)), b);
        }
    }

    void matchesTheCLibrary()
    {
        iconv_t cd = iconv_open("UTF-16LE", "CP437");
        if (cd == iconv_t(-1))
            QSKIP("the C library has no CP437 converter");
        int compared = 0;
        for (int b = 0x20; b < 0x100; ++b) {
            if (b == 0x7F)
                continue; // the C library keeps it a control character
            char in = char(b);
            char out[4] = {};
            char* ip = &in;
            char* op = out;
            size_t il = 1, ol = sizeof out;
            QVERIFY(iconv(cd, &ip, &il, &op, &ol) != size_t(-1));
            QCOMPARE(ol, size_t(2));
            const char16_t expected = char16_t(uchar(out[0]) | (uchar(out[1]) << 8));
            QVERIFY2(Cp437Char(uchar(b)).unicode() == expected,
                     qPrintable(QStringLiteral("byte %1").arg(b, 2, 16)));
            ++compared;
        }
        iconv_close(cd);
        QCOMPARE(compared, 223);
    }

    void screenCharacters_data()
    {
        QTest::addColumn<int>("byte");
        QTest::addColumn<int>("unicode");
        QTest::newRow("NUL stays NUL") << 0x00 << 0x0000;
        QTest::newRow("smiley") << 0x01 << 0x263A;
        QTest::newRow("ring for the tab byte") << 0x09 << 0x25CB;
        QTest::newRow("arrow") << 0x1A << 0x2192;
        QTest::newRow("triangle down") << 0x1F << 0x25BC;
        QTest::newRow("house") << 0x7F << 0x2302;
        QTest::newRow("C cedilla") << 0x80 << 0x00C7;
        QTest::newRow("double corner") << 0xC9 << 0x2554;
        QTest::newRow("full block") << 0xDB << 0x2588;
        QTest::newRow("no-break space") << 0xFF << 0x00A0;
    }
    void screenCharacters()
    {
        QFETCH(int, byte);
        QFETCH(int, unicode);
        QCOMPARE(int(Cp437Char(uchar(byte)).unicode()), unicode);
    }

    void controlCharactersKeepTheirByte()
    {
        // Text made elsewhere (a tab typed, a line break read) stores as the byte.
        for (char16_t c = 1; c < 0x20; ++c)
            QCOMPARE(Cp437Byte(QChar(c)), int(c));
        QCOMPARE(Cp437Byte(QChar(char16_t(0x7F))), 0x7F);
        QCOMPARE(Cp437FromString(QStringLiteral("a\tb\r\n")), QByteArray("a\tb\r\n"));
    }

    void charactersWithoutByte()
    {
        int unmapped = 0;
        const QByteArray out = Cp437FromString(
            QString::fromUtf8("caf\xC3\xA9 \xE2\x82\xAC \xC3\xA0 \xE2\x95\x94"), &unmapped);
        // é à ╔ have bytes; € has none.
        QCOMPARE(out, QByteArray("caf\x82 ? \x85 \xC9"));
        QCOMPARE(unmapped, 1);
        QCOMPARE(Cp437Byte(QChar(char16_t(0x20AC))), -1);
    }
};

QTEST_GUILESS_MAIN(TestCp437)
#include "test_cp437.moc"
