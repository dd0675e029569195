// Record text conversion, integer conversion, area and file lines, server paths.
#include "common/AppError.h"
#include "common/AreaLines.h"
#include "common/Text.h"
#include "server/ServerPath.h"

#include <QtTest>

#include <cstring>

class TestText : public QObject
{
    Q_OBJECT
private slots:
    void recTextStopsAtNulOrFieldEnd()
    {
        char field[8];
        std::memcpy(field, "ABCDEFGH", 8); // no NUL: read to the field's end
        QCOMPARE(RecText(field), QStringLiteral("ABCDEFGH"));
        field[3] = '\0';
        QCOMPARE(RecText(field), QStringLiteral("ABC"));
    }

    void setRecTextIsBoundedAndKeepsTrailingBytes()
    {
        char field[6];
        std::memset(field, 'x', sizeof field);
        SetRecText(field, QStringLiteral("ABCDEFGHIJ"));
        QCOMPARE(QByteArray(field, 6), QByteArray("ABCDE\0", 6));
        std::memset(field, 'x', sizeof field);
        SetRecText(field, QStringLiteral("AB"));
        // A plain NUL-terminated copy: what follows the NUL is left alone.
        QCOMPARE(QByteArray(field, 6), QByteArray("AB\0xxx", 6));
    }

    void eightBitBytesRoundTrip()
    {
        char field[257];
        for (int i = 1; i < 256; ++i)
            field[i - 1] = char(i);
        field[255] = '\0';
        const QString text = RecText(field);
        QCOMPARE(text.size(), 255);
        char back[257] = {};
        SetRecText(back, text);
        QCOMPARE(std::memcmp(field, back, 256), 0);
    }

    void trimControls()
    {
        QCOMPARE(TrimControls(QStringLiteral("\t A B \r\n\x01")), QStringLiteral("A B"));
        QCOMPARE(TrimControls(QStringLiteral(" \x1f ")), QString());
    }

    void strToInt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");
        QTest::newRow("plain") << "123" << true << 123;
        QTest::newRow("blanks") << "   7" << true << 7;
        QTest::newRow("negative") << "-12" << true << -12;
        QTest::newRow("max") << "2147483647" << true << 2147483647;
        QTest::newRow("min") << "-2147483648" << true << int(-2147483648LL);
        QTest::newRow("overflow") << "2147483648" << false << 0;
        QTest::newRow("huge") << "99999999999999999999" << false << 0;
        QTest::newRow("letters") << "12a" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
    }

    void strToInt()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        int got = 0;
        QCOMPARE(TryStrToInt(text, got), ok);
        if (ok) {
            QCOMPARE(got, value);
            QCOMPARE(StrToInt(text), value);
        } else {
            try {
                StrToInt(text);
                QFAIL("no ConversionError");
            } catch (const ConversionError& e) {
                QCOMPARE(e.message(),
                         QStringLiteral("'%1' is not a valid integer value").arg(text));
            }
        }
    }

    // The prefix made on the stack has the characters of AreaLinePrefix.
    void areaLinePrefixChars_data()
    {
        QTest::addColumn<int>("area");
        for (int area : {0, 1, 7, 12, 999, 1000, 9999, 10000, 12345, 2147483647, -1, -5, -123,
                         -1000, int(0x80000000)})
            QTest::addRow("%d", area) << area;
    }
    void areaLinePrefixChars()
    {
        QFETCH(int, area);
        char out[kAreaLinePrefixMax];
        std::memset(out, 'x', sizeof out);
        const int length = AreaLinePrefixChars(area, out);
        QVERIFY(length <= kAreaLinePrefixMax);
        QCOMPARE(QString::fromLatin1(out, length), AreaLinePrefix(area));
    }

    void areaLines()
    {
        QCOMPARE(AreaLinePrefix(7) + QStringLiteral("Uploads"), QStringLiteral("   7: Uploads"));
        QCOMPARE(AreaLinePrefix(12), QStringLiteral("  12: "));
        QCOMPARE(AreaLinePrefix(12345), QStringLiteral("12345: "));
        QCOMPARE(AreaNumberOfLine(QStringLiteral("   7: Uploads")), 7);
        QCOMPARE(AreaNumberOfLine(QStringLiteral("no colon")), 0);
        QVERIFY_THROWS_EXCEPTION(ConversionError,
                                 AreaNumberOfLine(QStringLiteral("File Filter ON: x")));

        const EntryRef filtered = EntryOfLine(QStringLiteral("  12: FOO.ZIP"), 3);
        QCOMPARE(filtered.area, 12);
        QCOMPARE(filtered.name, QStringLiteral("FOO.ZIP"));
        const EntryRef plain = EntryOfLine(QStringLiteral("FOO.ZIP"), 3);
        QCOMPARE(plain.area, 3);
        QCOMPARE(plain.name, QStringLiteral("FOO.ZIP"));
    }

    void serverPaths()
    {
        QCOMPARE(ServerFilePath(7, QStringLiteral("A.TXT")),
                 QStringLiteral("wc:\\file\\area(7)\\A.TXT"));
        QCOMPARE(ServerFilePathBytes(12, "FOO.ZIP"), QByteArray("wc:\\file\\area(12)\\FOO.ZIP"));
        // The 100-byte buffer: at most 99 characters.
        QCOMPARE(ServerFilePath(1, QString(200, u'X')).size(), 99);
        QCOMPARE(ServerFilePathBytes(1, QByteArray(200, 'X').constData()).size(), 99);
        QVERIFY(IsServerPath(QStringLiteral("WC:\\file\\area(1)\\A")));
        QVERIFY(IsServerPath(QStringLiteral("wc:\\x")));
        QVERIFY(!IsServerPath(QStringLiteral("wc:/x")));
        QVERIFY(!IsServerPath(QStringLiteral("/tmp/wc:\\x")));
    }
};

QTEST_GUILESS_MAIN(TestText)
#include "test_text.moc"
