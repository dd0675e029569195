// The walk's read-ahead: records delivered across the batches read ahead,
// whole records read ahead from the first GetFullFileRec of a walk on, a
// record changed by another connection between the walk and
// GetFullFileRec, texts copied whatever their first byte beyond ASCII, and
// the record a buffer was read as remembered for the newest buffers only.
#include "WcTestUtil.h"

#include "platform/wcsrv/WcRecordCopy.h"
#include "platform/wcsrv/WcStore.h"
#include "tests/support/TestSupport.h"

#include <QRandomGenerator>
#include <QtTest>

#include <sqlite3.h>

#include <memory>
#include <vector>

namespace
{

void FillRandom(void* p, size_t n, QRandomGenerator& random)
{
    auto* b = static_cast<uchar*>(p);
    for (size_t i = 0; i < n; ++i)
        b[i] = uchar(random.bounded(256));
}

// A record with something in every part: reserved bytes, long description
// lines, texts beyond ASCII.
void FillRecord(FullFileRec& f, int i, QRandomGenerator& random)
{
    FillRandom(f.Rec.Reserved0, sizeof f.Rec.Reserved0, random);
    FillRandom(f.Rec.Reserved4, sizeof f.Rec.Reserved4, random);
    FillRandom(f.Reserved5, sizeof f.Reserved5, random);
    std::snprintf(f.Rec.Description, sizeof f.Rec.Description, "Record %d \xE9t\xE9", i);
    std::snprintf(f.LongDescription[i % LongDescLines], LongDescLineSize, "line %d", i);
    std::snprintf(f.LongDescription[(i + 3) % LongDescLines], LongDescLineSize, "K\xF6ln %d", i);
    f.Rec.HasLongDescription = 1;
    f.Rec.Size = i * 7;
    f.Rec.Downloads = i;
    f.Rec.FileTime = MakeFileTime(0x01D0000000000000ULL + uint64_t(i) * 600000000ULL);
}

QByteArray FullBytesByKey(int area, const char* name)
{
    FileRec key = MakeKey(area, name);
    FullFileRec full;
    std::memset(&full, 0xEE, sizeof full);
    if (!GetFullFileRec(&key, &full))
        return QByteArray("not found");
    return Bytes(&full, sizeof full);
}

QByteArray RecBytesByKey(int area, const char* name)
{
    FileRec rec;
    std::memset(&rec, 0xEE, sizeof rec);
    uint32_t pos = 0;
    if (!GetFileRecByAreaName(area, name, &rec, &pos))
        return QByteArray("not found");
    return Bytes(&rec, sizeof rec);
}

// Runs one statement on the BBS's database through a connection of its own.
bool ExecOther(const QString& home, const char* sql)
{
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(home + QStringLiteral("/wcsrv.db"));
    bool ok = sqlite3_open(path.constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK &&
              sqlite3_changes(db) == 1;
    sqlite3_close(db);
    return ok;
}

} // namespace

class TestWcsrvWalk : public QObject
{
    Q_OBJECT

private slots:
    void walkAcrossReadAhead_data();
    void walkAcrossReadAhead();
    void fullRecordAfterOtherWrite_data();
    void fullRecordAfterOtherWrite();
    void textsBeyondAsciiAnywhere_data();
    void textsBeyondAsciiAnywhere();
    void bufferRememberedForNewestReads_data();
    void bufferRememberedForNewestReads();
    void partsReadAsWholeRecordsAre_data();
    void partsReadAsWholeRecordsAre();
    void recordCopiesEveryByte();
};

void TestWcsrvWalk::walkAcrossReadAhead_data()
{
    QTest::addColumn<int>("records");
    QTest::addColumn<bool>("full");
    // Around the rows read when a walk begins, per read ahead of FileRec
    // parts, and per read ahead of whole records.
    for (int n : {1, 31, 32, 33, 127, 128, 129, 511, 512, 513, 1300}) {
        QTest::addRow("%d records", n) << n << false;
        QTest::addRow("%d records, whole", n) << n << true;
    }
}

// Every record delivered is the stored record, byte for byte, in order, and
// the walk ends on the next area's first record.
void TestWcsrvWalk::walkAcrossReadAhead()
{
    QFETCH(int, records);
    QFETCH(bool, full);
    TestBbs bbs;
    QVERIFY(bbs.ok());
    for (int a : {1, 2, 3})
        bbs.addArea(a, QStringLiteral("Area %1").arg(a));
    QRandomGenerator random{quint32(records)};
    {
        ServerLogin adder;
        QVERIFY(adder.ok());
        for (int a : {1, 3}) {
            FullFileRec f{};
            f.Rec.Area = a;
            std::snprintf(f.Rec.Name, sizeof f.Rec.Name, "EDGE%d.ZIP", a);
            QVERIFY(AddFileRec(&f));
        }
        for (int i = 0; i < records; ++i) {
            FullFileRec f{};
            f.Rec.Area = 2;
            std::snprintf(f.Rec.Name, sizeof f.Rec.Name, "W%05d.ZIP", i);
            FillRecord(f, i, random);
            QVERIFY(AddFileRec(&f));
        }
    }
    ServerLogin login;
    QVERIFY(login.ok());
    std::vector<QByteArray> walked, walkedFull;
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    while (r.Area == 2) {
        walked.push_back(Bytes(&r, sizeof r));
        if (full) {
            FullFileRec f;
            std::memset(&f, 0xEE, sizeof f);
            QVERIFY(GetFullFileRec(&r, &f));
            walkedFull.push_back(Bytes(&f, sizeof f));
        }
        if (!GetNextFileRec(1, &r, &pos))
            break;
    }
    QCOMPARE(r.Area, 3);
    QCOMPARE(QByteArray(r.Name), QByteArray("EDGE3.ZIP"));
    QCOMPARE(int(walked.size()), records);
    // Each compared with a read by its key, after the walk.
    for (int i = 0; i < records; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "W%05d.ZIP", i);
        QCOMPARE(walked[size_t(i)], RecBytesByKey(2, name));
        if (full)
            QCOMPARE(walkedFull[size_t(i)], FullBytesByKey(2, name));
    }
}

void TestWcsrvWalk::fullRecordAfterOtherWrite_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("description");
    QTest::newRow("deleted") << QByteArray("DELETE FROM files WHERE area = 2 AND name = 'W010.ZIP'")
                             << false << QByteArray() << QByteArray();
    QTest::newRow("name in other letter case")
        << QByteArray("UPDATE files SET name = 'w010.zip' WHERE area = 2 AND name = 'W010.ZIP'")
        << true << QByteArray("w010.zip") << QByteArray("Record 10");
    QTest::newRow("description changed")
        << QByteArray("UPDATE files SET description = 'changed' WHERE area = 2 AND "
                      "name = 'W010.ZIP'")
        << true << QByteArray("W010.ZIP") << QByteArray("changed");
}

// Another connection changes the record the walk has just delivered before
// its whole record is asked for: the answer is the record as it is now (or
// none), and the walk goes on with the record after it.
void TestWcsrvWalk::fullRecordAfterOtherWrite()
{
    QFETCH(QByteArray, sql);
    QFETCH(bool, found);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, description);
    if (TestsOnPostgres())
        QSKIP("the other connection writes the SQLite database");
    TestBbs bbs;
    QVERIFY(bbs.ok());
    bbs.addArea(2, QStringLiteral("Two"));
    bbs.addArea(3, QStringLiteral("Three"));
    for (int i = 0; i < 40; ++i)
        bbs.addFile(2, QStringLiteral("W%1.ZIP").arg(i, 3, 10, QLatin1Char('0')), nullptr,
                    [i](FullFileRec& f) {
                        std::snprintf(f.Rec.Description, sizeof f.Rec.Description, "Record %d", i);
                        std::strcpy(f.LongDescription[1], "kept");
                    });
    bbs.addFile(3, QStringLiteral("NEXT.ZIP"));
    ServerLogin login;
    QVERIFY(login.ok());
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    while (QByteArray(r.Name) != "W010.ZIP")
        QVERIFY(GetNextFileRec(1, &r, &pos));
    QVERIFY(ExecOther(bbs.home(), sql.constData()));

    FullFileRec f;
    std::memset(&f, 0xEE, sizeof f);
    QCOMPARE(GetFullFileRec(&r, &f), found);
    if (found) {
        QCOMPARE(QByteArray(f.Rec.Name), name);
        QCOMPARE(QByteArray(f.Rec.Description), description);
        QCOMPARE(QByteArray(f.LongDescription[1]), QByteArray("kept"));
        QCOMPARE(Bytes(&f, sizeof f), FullBytesByKey(2, "W010.ZIP"));
    } else {
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
    }
    // The walk goes on after the record, with whole records as before.
    QStringList rest;
    while (GetNextFileRec(1, &r, &pos) && r.Area == 2) {
        FullFileRec g{};
        QVERIFY(GetFullFileRec(&r, &g));
        QCOMPARE(Bytes(&g, sizeof g), FullBytesByKey(2, r.Name));
        rest << QString::fromLatin1(r.Name);
    }
    QCOMPARE(rest.size(), 29);
    QCOMPARE(rest.first(), QStringLiteral("W011.ZIP"));
    QCOMPARE(r.Area, 3);
}

void TestWcsrvWalk::textsBeyondAsciiAnywhere_data()
{
    QTest::addColumn<int>("at");
    // Eight bytes are tested at a time: positions around those steps, and
    // the field's last byte.
    for (int at : {0, 1, 7, 8, 9, 15, 16, 17, 24, 40, 74})
        QTest::addRow("first byte beyond ASCII at %d", at) << at;
}

// A text whose first byte beyond ASCII lies anywhere comes back in every
// byte, through the walk and by key.
void TestWcsrvWalk::textsBeyondAsciiAnywhere()
{
    QFETCH(int, at);
    TestBbs bbs;
    QVERIFY(bbs.ok());
    bbs.addArea(1, QStringLiteral("One"));
    FullFileRec f{};
    f.Rec.Area = 1;
    std::memset(f.Rec.Name, 'N', 14);
    f.Rec.Name[std::min(at, 13)] = char(0xC4);
    std::memset(f.Rec.Description, 'd', 75);
    f.Rec.Description[at] = char(0xE9);
    f.Rec.Description[std::min(at + 3, 74)] = char(0xFF);
    std::memset(f.Rec.Uploader.UserName, 'u', 71);
    f.Rec.Uploader.UserName[std::min(at, 70)] = char(0xFC);
    std::memset(f.LongDescription[0], 'l', 79);
    f.LongDescription[0][std::min(at, 78)] = char(0xA9);
    std::memset(f.LongDescription[1], 'm', std::min(at, 79));
    f.LongDescription[1][std::min(at, 78)] = char(0xB5);
    {
        ServerLogin login;
        QVERIFY(login.ok());
        QVERIFY(AddFileRec(&f));
    }
    ServerLogin login;
    QVERIFY(login.ok());
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(1, "", &r, &pos));
    QCOMPARE(Bytes(&r, sizeof r), Bytes(&f.Rec, sizeof f.Rec));
    FullFileRec walked{};
    QVERIFY(GetFullFileRec(&r, &walked));
    QCOMPARE(Bytes(&walked, sizeof walked), Bytes(&f, sizeof f));
    QCOMPARE(FullBytesByKey(1, f.Rec.Name), Bytes(&f, sizeof f));
}

void TestWcsrvWalk::bufferRememberedForNewestReads_data()
{
    QTest::addColumn<int>("others");
    QTest::addColumn<bool>("byWalk");
    QTest::addColumn<bool>("remembered");
    QTest::newRow("15 other buffers read since") << 15 << false << true;
    QTest::newRow("16 other buffers read since") << 16 << false << false;
    QTest::newRow("the buffer read again among 30") << 30 << false << true;
    // Walks read their rows ahead, and each search reads them over.
    QTest::newRow("walks: 15 other buffers read since") << 15 << true << true;
    QTest::newRow("walks: 16 other buffers read since") << 16 << true << false;
    QTest::newRow("walks: the buffer read again among 30") << 30 << true << true;
}

// FOO.ZIP is in areas 5 and 6. A buffer read from area 5 and moved to area
// 7 moves area 5's record while the library remembers what the buffer was
// read as: for the newest 16 buffers. Forgotten, the name is in two other
// areas and the move is refused, changing nothing. Read by walks, a walk of
// area 6 comes last, so the rows read ahead hold area 6's FOO.ZIP when the
// buffer is moved.
void TestWcsrvWalk::bufferRememberedForNewestReads()
{
    QFETCH(int, others);
    QFETCH(bool, byWalk);
    QFETCH(bool, remembered);
    const auto read = byWalk ? SearchFileRecByAreaName : GetFileRecByAreaName;
    TestBbs bbs;
    QVERIFY(bbs.ok());
    for (int a : {5, 6, 7, 8})
        bbs.addArea(a, QStringLiteral("Area %1").arg(a));
    bbs.addFile(5, QStringLiteral("FOO.ZIP"), nullptr,
                [](FullFileRec& f) { std::strcpy(f.Rec.Description, "from five"); });
    bbs.addFile(6, QStringLiteral("FOO.ZIP"), nullptr,
                [](FullFileRec& f) { std::strcpy(f.Rec.Description, "from six"); });
    for (int i = 0; i < others; ++i)
        bbs.addFile(8, QStringLiteral("BAR%1.ZIP").arg(i, 2, 10, QLatin1Char('0')));
    ServerLogin login;
    QVERIFY(login.ok());
    const QByteArray five = FullBytesByKey(5, "FOO.ZIP");
    const QByteArray six = FullBytesByKey(6, "FOO.ZIP");

    FileRec foo{};
    uint32_t pos = 0;
    QVERIFY(read(5, "FOO.ZIP", &foo, &pos));
    std::vector<FileRec> buffers(static_cast<size_t>(others));
    const bool readAgain = others > 16;
    for (int i = 0; i < others; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "BAR%02d.ZIP", i % 100);
        QVERIFY(read(8, name, &buffers[size_t(i)], &pos));
        if (readAgain && i == others - 10) // the buffer takes the newest place
            QVERIFY(read(5, "FOO.ZIP", &foo, &pos));
    }
    if (byWalk && others > 0) // into the newest of the other buffers
        QVERIFY(read(6, "FOO.ZIP", &buffers.back(), &pos));
    foo.Area = 7;
    QCOMPARE(UpdateFileRec(&foo), remembered);
    QCOMPARE(FullBytesByKey(6, "FOO.ZIP"), six);
    if (remembered) {
        QByteArray expected = five;
        const int32_t seven = 7;
        expected.replace(offsetof(FileRec, Area), 4, reinterpret_cast<const char*>(&seven), 4);
        QCOMPARE(FullBytesByKey(7, "FOO.ZIP"), expected);
        QCOMPARE(GetTotalFilesInArea(5), 0);
    } else {
        QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
        QCOMPARE(FullBytesByKey(5, "FOO.ZIP"), five);
        QCOMPARE(GetTotalFilesInArea(7), 0);
    }
}

void TestWcsrvWalk::partsReadAsWholeRecordsAre_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("after");
    QTest::addColumn<int>("stopArea");
    QTest::addColumn<int>("max");
    QTest::newRow("an area from its start") << 1 << QByteArray() << false << 1 << 100;
    QTest::newRow("an area in batches") << 1 << QByteArray("F0010.ZIP") << true << 1 << 7;
    QTest::newRow("an area ending in the batch")
        << 1 << QByteArray("F0030.ZIP") << false << 1 << 50;
    QTest::newRow("an empty area") << 2 << QByteArray() << false << 2 << 10;
    QTest::newRow("past the last record") << 3 << QByteArray("F0010.ZIP") << true << 3 << 10;
    QTest::newRow("everything, no stop") << 0 << QByteArray() << false << -1 << 1000;
    QTest::newRow("across areas, stopping") << 1 << QByteArray("F0038.ZIP") << true << 2 << 10;
}

// The store's walk of FileRec parts packed together reads exactly the
// FileRec parts its walk of whole records reads: the same rows, the same
// bytes, the same stop at the first record past the area.
void TestWcsrvWalk::partsReadAsWholeRecordsAre()
{
    QFETCH(int, area);
    QFETCH(QByteArray, name);
    QFETCH(bool, after);
    QFETCH(int, stopArea);
    QFETCH(int, max);
    TestBbs bbs;
    QVERIFY(bbs.ok());
    for (int a : {1, 2, 3})
        bbs.addArea(a, QStringLiteral("Area %1").arg(a));
    QRandomGenerator random(7);
    for (int a : {1, 3})
        for (int i = 0; i < (a == 1 ? 40 : 5); ++i)
            bbs.addFile(a, QStringLiteral("F%1.ZIP").arg(i, 4, 10, QLatin1Char('0')), nullptr,
                        [&](FullFileRec& f) { FillRecord(f, i, random); });
    QString error;
    const auto store = OpenTestStore(bbs.home(), &error);
    QVERIFY2(store, qPrintable(error));
    std::vector<FullFileRec> whole(size_t(max) + 1);
    std::vector<FileRec> parts(size_t(max) + 1);
    std::memset(parts.data(), 0xEE, parts.size() * sizeof(FileRec));
    size_t wholeCount = 0, partCount = 0;
    QVERIFY(store->Seek(area, name.constData(), size_t(name.size()), after, false, stopArea,
                        whole.data(), size_t(max), wholeCount) == wcstore::Rc::Ok);
    QVERIFY(store->SeekParts(area, name.constData(), size_t(name.size()), after, stopArea,
                             parts.data(), size_t(max), partCount) == wcstore::Rc::Ok);
    QCOMPARE(partCount, wholeCount);
    for (size_t i = 0; i < wholeCount; ++i)
        QCOMPARE(Bytes(&parts[i], sizeof parts[i]), Bytes(&whole[i].Rec, sizeof whole[i].Rec));
    // Nothing is written past the rows read.
    QCOMPARE(Bytes(&parts[wholeCount], sizeof(FileRec)), QByteArray(sizeof(FileRec), '\xEE'));
}

namespace
{
template <size_t N> struct Blob {
    unsigned char b[N];
};

template <size_t N> QString CopyFault(QRandomGenerator& random)
{
    Blob<N + 2> from, to;
    FillRandom(&from, sizeof from, random);
    FillRandom(&to, sizeof to, random);
    const Blob<N + 2> before = to;
    // Copy into and clear the middle N bytes: the bytes on either side stay.
    auto* into = reinterpret_cast<Blob<N>*>(to.b + 1);
    wcstore::CopyRecord(into, reinterpret_cast<const Blob<N>*>(from.b + 1));
    if (std::memcmp(to.b + 1, from.b + 1, N) != 0 || to.b[0] != before.b[0] ||
        to.b[N + 1] != before.b[N + 1])
        return QStringLiteral("copy of %1 bytes").arg(N);
    wcstore::ClearRecord(into);
    for (size_t i = 1; i <= N; ++i)
        if (to.b[i] != 0)
            return QStringLiteral("clear of %1 bytes: byte %2").arg(N).arg(i - 1);
    if (to.b[0] != before.b[0] || to.b[N + 1] != before.b[N + 1])
        return QStringLiteral("clear of %1 bytes reached past them").arg(N);
    return {};
}
} // namespace

// The piecewise copy and clear of records, at sizes around and between
// their 16-byte pieces and at the records' own, unaligned.
void TestWcsrvWalk::recordCopiesEveryByte()
{
    QRandomGenerator random(11);
    const QStringList faults = {CopyFault<1>(random),
                                CopyFault<15>(random),
                                CopyFault<16>(random),
                                CopyFault<17>(random),
                                CopyFault<33>(random),
                                CopyFault<sizeof(FileRec)>(random),
                                CopyFault<sizeof(FullFileRec)>(random)};
    QCOMPARE(faults.join(QString()), QString());
}

QTEST_GUILESS_MAIN(TestWcsrvWalk)
#include "test_wcsrv_walk.moc"
