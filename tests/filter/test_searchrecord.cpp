// ".FMS" files: the naming rule, byte-for-byte round trips, short, long and
// broken files, and a file system that refuses writes.
#include "filter/SearchRecord.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cstring>

namespace
{

SearchRecord Patterned(uint32_t seed)
{
    SearchRecord r;
    QRandomGenerator gen(seed);
    gen.fillRange(reinterpret_cast<uint32_t*>(&r), sizeof r / 4);
    return r;
}

QByteArray Bytes(const SearchRecord& r)
{
    return QByteArray(reinterpret_cast<const char*>(&r), qsizetype(sizeof r));
}

void WriteAll(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
}

} // namespace

class TestSearchRecord : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;

private slots:
    void globalsStartZero()
    {
        const SearchRecord zero{};
        QCOMPARE(std::memcmp(&CurrentSearchRecord, &zero, sizeof zero), 0);
        QVERIFY(!FilterDefined);
        QVERIFY(SearchRecordFileName.isEmpty());
    }

    void naming_data()
    {
        QTest::addColumn<QString>("chosen");
        QTest::addColumn<QString>("saved");
        QTest::newRow("no extension") << "/x/crit"
                                      << "/x/crit.FMS";
        QTest::newRow("lower") << "/x/crit.fms"
                               << "/x/crit.fms";
        QTest::newRow("upper") << "/x/crit.FMS"
                               << "/x/crit.FMS";
        QTest::newRow("mixed case") << "/x/crit.Fms"
                                    << "/x/crit.Fms.FMS";
        QTest::newRow("inside the name") << "/x/a.fmsb"
                                         << "/x/a.fmsb";
        QTest::newRow("in a folder name") << "/x.FMS/crit"
                                          << "/x.FMS/crit";
        QTest::newRow("other extension") << "/x/crit.txt"
                                         << "/x/crit.txt.FMS";
    }
    void naming()
    {
        QFETCH(QString, chosen);
        QFETCH(QString, saved);
        QCOMPARE(WithFmsExtension(chosen), saved);
    }

    void fileNamePart_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("name");
        QTest::newRow("unix") << "/home/sysop/crit.FMS"
                              << "crit.FMS";
        QTest::newRow("windows") << "C:\\filters\\new.FMS"
                                 << "new.FMS";
        QTest::newRow("drive only") << "C:crit.FMS"
                                    << "crit.FMS";
        QTest::newRow("bare") << "crit.FMS"
                              << "crit.FMS";
        QTest::newRow("empty") << ""
                               << "";
    }
    void fileNamePart()
    {
        QFETCH(QString, path);
        QFETCH(QString, name);
        QCOMPARE(FileNamePart(path), name);
    }

    void roundTripByteForByte()
    {
        const QString path = m_dir.filePath(QStringLiteral("round.FMS"));
        const SearchRecord written = Patterned(7);
        QCOMPARE(WriteSearchRecordFile(path, written), FmsResult::Ok);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), Bytes(written));
        f.close();
        SearchRecord read{};
        QCOMPARE(ReadSearchRecordFile(path, read), FmsResult::Ok);
        QCOMPARE(Bytes(read), Bytes(written));
    }

    void writeReplacesLongerFile()
    {
        const QString path = m_dir.filePath(QStringLiteral("replace.FMS"));
        WriteAll(path, QByteArray(5000, 'x'));
        const SearchRecord written = Patterned(8);
        QCOMPARE(WriteSearchRecordFile(path, written), FmsResult::Ok);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), Bytes(written));
    }

    void reading_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("result");
        QTest::newRow("empty") << 0 << int(FmsResult::ReadError);
        QTest::newRow("one short") << 1923 << int(FmsResult::ReadError);
        QTest::newRow("exact") << 1924 << int(FmsResult::Ok);
        QTest::newRow("one long") << 1925 << int(FmsResult::Ok);
        QTest::newRow("twice") << 3848 << int(FmsResult::Ok);
    }
    void reading()
    {
        QFETCH(int, size);
        QFETCH(int, result);
        const QString path = m_dir.filePath(QStringLiteral("sized.FMS"));
        QByteArray bytes(size, '\0');
        for (int i = 0; i < size; ++i)
            bytes[i] = char(i * 7 + 3);
        WriteAll(path, bytes);
        const SearchRecord before = Patterned(9);
        SearchRecord out = before;
        QCOMPARE(int(ReadSearchRecordFile(path, out)), result);
        if (result == int(FmsResult::Ok))
            QCOMPARE(Bytes(out), bytes.left(1924));
        else // the previous criteria stay intact
            QCOMPARE(Bytes(out), Bytes(before));
    }

    void notFoundAndOpenErrors()
    {
        const SearchRecord before = Patterned(10);
        SearchRecord out = before;
        QCOMPARE(ReadSearchRecordFile(m_dir.filePath(QStringLiteral("absent.FMS")), out),
                 FmsResult::NotFound);
        // A folder exists but cannot be read as a file.
        const FmsResult r = ReadSearchRecordFile(m_dir.path(), out);
        QVERIFY(r == FmsResult::OpenError || r == FmsResult::ReadError);
        QCOMPARE(Bytes(out), Bytes(before));
        QCOMPARE(WriteSearchRecordFile(m_dir.filePath(QStringLiteral("none/x.FMS")), before),
                 FmsResult::OpenError);
    }

    // A file system that refuses to grow the file: the write is reported.
    void writeFailure()
    {
        const QString path = m_dir.filePath(QStringLiteral("full.FMS"));
        FmsResult r;
        {
            FileSizeLimit limit(1000);
            QVERIFY(limit.ok());
            r = WriteSearchRecordFile(path, Patterned(11));
        }
        QCOMPARE(r, FmsResult::WriteError);
    }

    void effectiveOperators()
    {
        QCOMPARE(EffectiveNumberOp(-1), 0);
        QCOMPARE(EffectiveNumberOp(4), 4);
        QCOMPARE(EffectiveNumberOp(5), 0);
        QCOMPARE(EffectiveNumberOp(INT32_MIN), 0);
        QCOMPARE(EffectiveFlagChoice(2), 2);
        QCOMPARE(EffectiveFlagChoice(3), 0);
        QCOMPARE(EffectiveFlagChoice(-7), 0);
    }
};

VT_TEST_MAIN(TestSearchRecord)
#include "test_searchrecord.moc"
