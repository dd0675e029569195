// Record texts as the windows show them: code page 437 or Latin-1, each
// byte one character both ways, and the file list output (bytes on disk)
// the same whichever code page the windows use.
#include "common/Text.h"
#include "managers/FileListRun.h"
#include "server/wcsrv.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

QByteArray AllBytes(int first)
{
    QByteArray all;
    for (int b = first; b <= 255; ++b)
        all.append(char(b));
    return all;
}
} // namespace

class TestRecordText : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { SetRecordCodePage(RecordCodePage::Latin1); }
    void everyByteBothWays_data();
    void everyByteBothWays();
    void fileListOutputUnchanged();
};

void TestRecordText::everyByteBothWays_data()
{
    QTest::addColumn<bool>("cp437");
    QTest::addColumn<int>("byte");
    QTest::addColumn<QChar>("shown");
    QTest::newRow("437 double line") << true << 0xCD << QChar(0x2550);
    QTest::newRow("437 corner") << true << 0xC9 << QChar(0x2554);
    QTest::newRow("437 smiley") << true << 0x01 << QChar(0x263A);
    QTest::newRow("437 C cedilla") << true << 0x80 << QChar(0x00C7);
    QTest::newRow("437 no-break space") << true << 0xFF << QChar(0x00A0);
    QTest::newRow("Latin-1 e acute") << false << 0xE9 << QChar(0x00E9);
    QTest::newRow("Latin-1 0xCD") << false << 0xCD << QChar(0x00CD);
    QTest::newRow("Latin-1 tab") << false << 0x09 << QChar(0x0009);
}

void TestRecordText::everyByteBothWays()
{
    QFETCH(bool, cp437);
    QFETCH(int, byte);
    QFETCH(QChar, shown);
    SetRecordCodePage(cp437 ? RecordCodePage::Cp437 : RecordCodePage::Latin1);
    const QByteArray all = AllBytes(0);
    const QString text = ShownText(all);
    QCOMPARE(text.size(), 256);
    QCOMPARE(text.at(byte), shown);
    QCOMPARE(StoredBytes(text), all);
    // Through a fixed field: 1-255 (a NUL ends the text), cut to the field.
    char field[300];
    std::memset(field, 'x', sizeof field);
    SetShownRecText(field, ShownText(AllBytes(1)));
    QCOMPARE(QByteArray(field), AllBytes(1));
    QCOMPARE(ShownRecText(field), ShownText(AllBytes(1)));
    char small[10];
    SetShownRecText(small, ShownText(AllBytes(1)));
    QCOMPARE(QByteArray(small), AllBytes(1).left(9));
    // Names and paths stay Latin-1 whatever the windows show.
    QCOMPARE(RecText(field), QString::fromLatin1(AllBytes(1)));
    QCOMPARE(ToBytes(FromBytes(all)), all);
}

void TestRecordText::fileListOutputUnchanged()
{
    TestBbs bbs;
    QVERIFY(bbs.ok());
    const QByteArray high = AllBytes(0xB0).left(30); // box drawing in code page 437
    bbs.addArea(1, QString::fromLatin1("Box " + high));
    bbs.addFile(1, QStringLiteral("BOX.ZIP"), nullptr, [&](FullFileRec& f) {
        std::memcpy(f.Rec.Description, high.constData(), size_t(high.size()));
        f.Rec.Description[high.size()] = '\0';
    });
    ServerLogin login;
    QVERIFY(login.ok());
    QTemporaryDir dir;
    const auto listWith = [&](RecordCodePage page) {
        SetRecordCodePage(page);
        FileListOptions options;
        options.areas = AllFileListAreas();
        options.path = dir.filePath(page == RecordCodePage::Cp437 ? "437.txt" : "latin1.txt");
        ScriptedRun run;
        RunFileList(options, run);
        QFile f(options.path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("unreadable");
    };
    const QByteArray latin1 = listWith(RecordCodePage::Latin1);
    const QByteArray cp437 = listWith(RecordCodePage::Cp437);
    QVERIFY(latin1.contains("BOX.ZIP"));
    // The area name and the description reach the file as their bytes.
    QVERIFY(latin1.contains("Box " + high));
    QVERIFY(latin1.contains(high.left(30)));
    QCOMPARE(cp437, latin1);
}

VT_TEST_MAIN(TestRecordText)
#include "test_recordtext.moc"
