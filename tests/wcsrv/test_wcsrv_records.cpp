// File records through the server contract: order, walks, updates, moves,
// deletes and the byte-for-byte round trip of every record.
#include "WcTestUtil.h"

#include "platform/wcsrv/WcStore.h"
#include "tests/support/TestSupport.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include <memory>

class TestWcsrvRecords : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void walkOrderIgnoresCase();
    void walkStopsAtAreaBoundary();
    void searchStartsAtOrAfter_data();
    void searchStartsAtOrAfter();
    void walkEndsAtLastRecord();
    void nextAfterDeletedRecord();
    void nextAfterMovedRecord();
    void deletionLoopWalksWholeArea();
    void interleavedWalksKeepTheirPlace();
    void longWalkSeesItsOwnWrites();
    void opaqueBytesRoundTrip();
    void textTailsRoundTrip();
    void latin1TextRoundTrip();
    void updateFileRecKeepsLongDescription();
    void fullRecordOfWalkedRecord();
    void duplicateAddRefused_data();
    void duplicateAddRefused();
    void moveIntoTakenNameRefused();
    void moveToUnknownAreaRefused();
    void updateOfMissingRecordFails();
    void deleteWithAndWithoutFile();
    void totalsAreasUsersAndMakewild();
    void secondProcessWritesDuringWalk();

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    void addNames(int area, const QStringList& names);
};

void TestWcsrvRecords::init()
{
    m_bbs = std::make_unique<TestBbs>(QStringLiteral("Ada Sysop"));
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Two"));
    m_bbs->addArea(3, QStringLiteral("Three"));
    m_bbs->addArea(5, QStringLiteral("Five"));
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
}

void TestWcsrvRecords::cleanup()
{
    m_login.reset();
    m_bbs.reset();
}

void TestWcsrvRecords::addNames(int area, const QStringList& names)
{
    for (const QString& n : names)
        m_bbs->addFile(area, n);
}

void TestWcsrvRecords::walkOrderIgnoresCase()
{
    addNames(2, {"zeta.zip", "Alpha.TXT", "BETA.ZIP", "alpha2.txt", "_under.zip", "b.zip"});
    // NOCASE order: letters compare as lower case, so '_' sorts before them.
    QCOMPARE(WalkNames(2), QStringList({"_under.zip", "Alpha.TXT", "alpha2.txt", "b.zip",
                                        "BETA.ZIP", "zeta.zip"}));
}

void TestWcsrvRecords::walkStopsAtAreaBoundary()
{
    addNames(1, {"A1.ZIP", "A2.ZIP"});
    addNames(2, {"B1.ZIP", "B2.ZIP", "B3.ZIP"});
    addNames(3, {"C1.ZIP"});
    int boundary = 0;
    QCOMPARE(WalkNames(2, &boundary), QStringList({"B1.ZIP", "B2.ZIP", "B3.ZIP"}));
    QCOMPARE(boundary, 3);
    QCOMPARE(WalkNames(1, &boundary), QStringList({"A1.ZIP", "A2.ZIP"}));
    QCOMPARE(boundary, 2);
    // An empty area's search lands on the next area's first record.
    FileRec r{};
    uint32_t pos = 0;
    m_bbs->addArea(4, QStringLiteral("Four"));
    addNames(5, {"E1.ZIP"});
    QVERIFY(SearchFileRecByAreaName(4, "", &r, &pos));
    QCOMPARE(r.Area, 5);
    QCOMPARE(QString::fromLatin1(r.Name), QStringLiteral("E1.ZIP"));
}

void TestWcsrvRecords::searchStartsAtOrAfter_data()
{
    QTest::addColumn<int>("area");
    QTest::addColumn<QString>("from");
    QTest::addColumn<int>("wantArea");
    QTest::addColumn<QString>("wantName");
    QTest::newRow("empty name") << 2 << "" << 2 << "B1.ZIP";
    QTest::newRow("exact") << 2 << "B2.ZIP" << 2 << "B2.ZIP";
    QTest::newRow("exact other case") << 2 << "b2.zip" << 2 << "B2.ZIP";
    QTest::newRow("between") << 2 << "B15" << 2 << "B2.ZIP";
    QTest::newRow("past the area") << 2 << "ZZZ" << 3 << "C1.ZIP";
    QTest::newRow("area 0") << 0 << "" << 1 << "A1.ZIP";
}

void TestWcsrvRecords::searchStartsAtOrAfter()
{
    QFETCH(int, area);
    QFETCH(QString, from);
    QFETCH(int, wantArea);
    QFETCH(QString, wantName);
    addNames(1, {"A1.ZIP"});
    addNames(2, {"B1.ZIP", "B2.ZIP", "B3.ZIP"});
    addNames(3, {"C1.ZIP"});
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(area, from.toLatin1().constData(), &r, &pos));
    QCOMPARE(r.Area, wantArea);
    QCOMPARE(QString::fromLatin1(r.Name), wantName);
}

void TestWcsrvRecords::walkEndsAtLastRecord()
{
    addNames(5, {"LAST1.ZIP", "LAST2.ZIP"});
    QCOMPARE(WalkNames(5), QStringList({"LAST1.ZIP", "LAST2.ZIP"}));
    FileRec r = MakeKey(5, "LAST2.ZIP");
    uint32_t pos = 0;
    QVERIFY(!GetNextFileRec(1, &r, &pos));
    QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
    // Searching beyond every record fails too.
    QVERIFY(!SearchFileRecByAreaName(6, "", &r, &pos));
    QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
}

void TestWcsrvRecords::nextAfterDeletedRecord()
{
    addNames(2, {"B1.ZIP", "B2.ZIP", "B3.ZIP"});
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    QVERIFY(GetNextFileRec(1, &r, &pos));
    QCOMPARE(QString::fromLatin1(r.Name), QStringLiteral("B2.ZIP"));
    QVERIFY(DeleteFileRec(&r, 0));
    // The buffer still names the deleted record: the next one follows it.
    QVERIFY(GetNextFileRec(1, &r, &pos));
    QCOMPARE(QString::fromLatin1(r.Name), QStringLiteral("B3.ZIP"));
    QCOMPARE(WalkNames(2), QStringList({"B1.ZIP", "B3.ZIP"}));
}

void TestWcsrvRecords::nextAfterMovedRecord()
{
    addNames(2, {"B1.ZIP", "B2.ZIP", "B3.ZIP"});
    addNames(3, {"A0.ZIP"});
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    QVERIFY(GetNextFileRec(1, &r, &pos));
    FileRec moved = r;
    moved.Area = 3;
    QVERIFY(UpdateFileRec(&moved));
    // The walk goes on in area 2 from the record as it was read.
    QVERIFY(GetNextFileRec(1, &r, &pos));
    QCOMPARE(r.Area, 2);
    QCOMPARE(QString::fromLatin1(r.Name), QStringLiteral("B3.ZIP"));
    QCOMPARE(WalkNames(2), QStringList({"B1.ZIP", "B3.ZIP"}));
    QCOMPARE(WalkNames(3), QStringList({"A0.ZIP", "B2.ZIP"}));
}

void TestWcsrvRecords::deletionLoopWalksWholeArea()
{
    QStringList names;
    for (int i = 0; i < 40; ++i)
        names << QStringLiteral("F%1.ZIP").arg(i, 3, 10, QLatin1Char('0'));
    addNames(2, names);
    addNames(3, {"KEEP.ZIP"});
    // Delete every other record while walking, as the deletion manager does.
    FileRec r{};
    uint32_t pos = 0;
    QStringList seen;
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    int i = 0;
    while (r.Area == 2) {
        seen << QString::fromLatin1(r.Name);
        if (i++ % 2 == 0)
            QVERIFY(DeleteFileRec(&r, 0));
        if (!GetNextFileRec(1, &r, &pos))
            break;
    }
    QCOMPARE(seen, names);
    QCOMPARE(GetTotalFilesInArea(2), 20);
    QCOMPARE(WalkNames(3), QStringList({"KEEP.ZIP"}));
}

void TestWcsrvRecords::interleavedWalksKeepTheirPlace()
{
    addNames(1, {"A1.ZIP", "A2.ZIP", "A3.ZIP"});
    addNames(2, {"B1.ZIP", "B2.ZIP", "B3.ZIP"});
    FileRec a{}, b{};
    uint32_t pa = 0, pb = 0;
    QVERIFY(SearchFileRecByAreaName(1, "", &a, &pa));
    QVERIFY(SearchFileRecByAreaName(2, "", &b, &pb));
    QVERIFY(GetNextFileRec(1, &a, &pa));
    QCOMPARE(QString::fromLatin1(a.Name), QStringLiteral("A2.ZIP"));
    QVERIFY(GetNextFileRec(1, &b, &pb));
    QCOMPARE(QString::fromLatin1(b.Name), QStringLiteral("B2.ZIP"));
    // A stale position word with a matching buffer still gives the right record.
    uint32_t stale = pb;
    QVERIFY(GetNextFileRec(1, &a, &stale));
    QCOMPARE(QString::fromLatin1(a.Name), QStringLiteral("A3.ZIP"));
    // An edited buffer (not the record delivered) seeks from its own key.
    FileRec edited = b;
    std::strcpy(edited.Name, "B0.ZIP");
    QVERIFY(GetNextFileRec(1, &edited, &pb));
    QCOMPARE(QString::fromLatin1(edited.Name), QStringLiteral("B1.ZIP"));
}

// A walk longer than the rows either store reads ahead: records ahead of
// the walk that this process updates, deletes or adds while it walks are
// delivered as they are now, not as they were read ahead.
void TestWcsrvRecords::longWalkSeesItsOwnWrites()
{
    const int count = 1500;
    auto name = [](int n) {
        return QByteArray("W") + QByteArray::number(n).rightJustified(4, '0');
    };
    {
        QString error;
        const auto store = OpenTestStore(m_bbs->home(), &error);
        QVERIFY2(store, qPrintable(error));
        std::vector<FullFileRec> recs(count);
        for (int n = 0; n < count; ++n) {
            recs[size_t(n)] = FullFileRec{};
            recs[size_t(n)].Rec.Area = 2;
            std::strcpy(recs[size_t(n)].Rec.Name, name(n).constData());
            recs[size_t(n)].Rec.Size = n;
        }
        QVERIFY(store->Begin());
        QVERIFY(store->InsertMany(recs.data(), recs.size()) == wcstore::Rc::Ok);
        QVERIFY(store->Commit());
    }
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    QMap<int, int> sizes;        // number -> size delivered
    QMap<QByteArray, int> added; // records added during the walk -> size delivered
    // Writes to records well ahead of the walk: update the record
    // `target`, delete the one after it, add one between. They come where a
    // batch the walk read ends (the PostgreSQL store reads 500 at a time,
    // and the next 500 already while these are handed out; SQLite reads 128,
    // so 512 and 1024 end its batches), where rows read ahead are the
    // walk's next ones.
    const QMap<int, int> writeAt = {{500, 800}, {1000, 1300}};
    int delivered = 0;
    while (r.Area == 2) {
        ++delivered;
        const QByteArray n(r.Name);
        if (n.endsWith('A')) {
            QVERIFY(!added.contains(n));
            added.insert(n, r.Size);
        } else {
            QVERIFY(!sizes.contains(n.mid(1).toInt()));
            sizes.insert(n.mid(1).toInt(), r.Size);
        }
        if (writeAt.contains(delivered)) {
            const int target = writeAt.value(delivered);
            FileRec key = MakeKey(2, name(target).constData());
            FullFileRec f{};
            QVERIFY(GetFullFileRec(&key, &f));
            f.Rec.Size = -target;
            QVERIFY(UpdateFullFileRec(&f));
            key = MakeKey(2, name(target + 1).constData());
            QVERIFY(DeleteFileRec(&key, 0));
            FullFileRec fresh{};
            fresh.Rec.Area = 2;
            std::strcpy(fresh.Rec.Name, (name(target) + "A").constData());
            fresh.Rec.Size = 7;
            QVERIFY(AddFileRec(&fresh));
        }
        if (!GetNextFileRec(1, &r, &pos))
            break;
    }
    QCOMPARE(delivered, count);
    QCOMPARE(added.size(), writeAt.size());
    for (const int target : writeAt) {
        QCOMPARE(sizes.value(target), -target);
        QVERIFY2(!sizes.contains(target + 1), qPrintable(QString::number(target + 1)));
        QCOMPARE(added.value(name(target) + "A"), 7);
    }
    for (auto it = sizes.cbegin(); it != sizes.cend(); ++it)
        if (!writeAt.values().contains(it.key()))
            QCOMPARE(it.value(), it.key());
}

static void FillRandom(void* p, size_t n)
{
    auto* b = static_cast<uchar*>(p);
    for (size_t i = 0; i < n; ++i)
        b[i] = uchar(QRandomGenerator::global()->bounded(256));
}

static void RandomReserved(FullFileRec& f)
{
    FillRandom(f.Rec.Reserved0, sizeof f.Rec.Reserved0);
    FillRandom(f.Rec.Reserved1, sizeof f.Rec.Reserved1);
    FillRandom(f.Rec.Reserved2, sizeof f.Rec.Reserved2);
    FillRandom(f.Rec.Reserved3, sizeof f.Rec.Reserved3);
    FillRandom(f.Rec.Reserved4, sizeof f.Rec.Reserved4);
    FillRandom(f.Rec.Uploader.Reserved, sizeof f.Rec.Uploader.Reserved);
    FillRandom(f.Reserved5, sizeof f.Reserved5);
}

static FullFileRec ReadFull(int area, const char* name)
{
    FileRec r{};
    uint32_t pos = 0;
    FullFileRec full;
    std::memset(&full, 0xEE, sizeof full);
    if (!GetFileRecByAreaName(area, name, &r, &pos) || !GetFullFileRec(&r, &full))
        qWarning("cannot read %d %s: %x", area, name, WcGetLastError());
    return full;
}

void TestWcsrvRecords::opaqueBytesRoundTrip()
{
    FullFileRec f{};
    f.Rec.Area = 2;
    std::strcpy(f.Rec.Name, "OPAQUE.ZIP");
    std::strcpy(f.Rec.Description, "Opaque test");
    f.Rec.Size = 1234;
    f.Rec.FileTime = MakeFileTime(0x01D0123456789ABCULL);
    f.Rec.Downloads = -7;
    f.Rec.NeverDelete = 5;
    std::strcpy(f.LongDescription[14], "only the last line");
    f.Rec.HasLongDescription = 1;
    RandomReserved(f);
    QVERIFY(AddFileRec(&f));
    FullFileRec back = ReadFull(2, "OPAQUE.ZIP");
    QCOMPARE(Bytes(&back, sizeof back), Bytes(&f, sizeof f));

    // Written back unchanged, then with new random reserved bytes.
    QVERIFY(UpdateFullFileRec(&back));
    const FullFileRec unchanged = ReadFull(2, "OPAQUE.ZIP");
    QCOMPARE(Bytes(&unchanged, sizeof unchanged), Bytes(&f, sizeof f));
    RandomReserved(back);
    QVERIFY(UpdateFullFileRec(&back));
    const FullFileRec again = ReadFull(2, "OPAQUE.ZIP");
    QCOMPARE(Bytes(&again, sizeof again), Bytes(&back, sizeof back));

    // The FileRec part from a walk is the same bytes.
    FileRec w{};
    uint32_t pos = 0;
    QVERIFY(SearchFileRecByAreaName(2, "", &w, &pos));
    QCOMPARE(Bytes(&w, sizeof w), Bytes(&back.Rec, sizeof back.Rec));
}

void TestWcsrvRecords::textTailsRoundTrip()
{
    // Bytes behind a NUL (left by a shorter text written over a longer one),
    // a field without any NUL, and a line feed inside a line.
    FullFileRec f{};
    f.Rec.Area = 1;
    std::strcpy(f.Rec.Name, "TAILS.TXT");
    std::memset(f.Rec.Description, 'x', sizeof f.Rec.Description);
    std::strcpy(f.Rec.Description, "short");
    std::memset(f.Rec.Password, 'p', sizeof f.Rec.Password); // no NUL
    std::strcpy(f.LongDescription[0], "one\ntwo");
    f.LongDescription[3][70] = 'z';
    QVERIFY(AddFileRec(&f));
    const FullFileRec back = ReadFull(1, "TAILS.TXT");
    QCOMPARE(Bytes(&back, sizeof back), Bytes(&f, sizeof f));
}

void TestWcsrvRecords::latin1TextRoundTrip()
{
    FullFileRec f{};
    f.Rec.Area = 1;
    std::strcpy(f.Rec.Name, "\xC4PFEL.TXT");
    std::strcpy(f.Rec.Description, "Gr\xFC\xDF"
                                   "e aus K\xF6ln \xA9 \xFF");
    std::strcpy(f.LongDescription[1], "\xE9t\xE9");
    QVERIFY(AddFileRec(&f));
    const FullFileRec back = ReadFull(1, "\xC4PFEL.TXT");
    QCOMPARE(Bytes(&back, sizeof back), Bytes(&f, sizeof f));
}

void TestWcsrvRecords::updateFileRecKeepsLongDescription()
{
    m_bbs->addFile(2, QStringLiteral("LONG.ZIP"), nullptr, [](FullFileRec& f) {
        std::strcpy(f.LongDescription[0], "first");
        std::strcpy(f.LongDescription[2], "third");
        f.Rec.HasLongDescription = 1;
        f.Reserved5[100] = 0x5A;
    });
    FullFileRec before = ReadFull(2, "LONG.ZIP");
    FileRec r = before.Rec;
    r.Downloads = 99;
    QVERIFY(UpdateFileRec(&r));
    FullFileRec after = ReadFull(2, "LONG.ZIP");
    before.Rec.Downloads = 99;
    QCOMPARE(Bytes(&after, sizeof after), Bytes(&before, sizeof before));
}

void TestWcsrvRecords::fullRecordOfWalkedRecord()
{
    for (int i = 0; i < 10; ++i)
        m_bbs->addFile(2, QStringLiteral("W%1.ZIP").arg(i), nullptr, [i](FullFileRec& f) {
            std::snprintf(f.LongDescription[i % 15], LongDescLineSize, "line of %d", i);
            f.Rec.HasLongDescription = 1;
            f.Reserved5[i] = uchar(i + 1);
        });
    FileRec r{};
    uint32_t pos = 0;
    int n = 0;
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    while (r.Area == 2) {
        FullFileRec walked;
        QVERIFY(GetFullFileRec(&r, &walked));
        const FullFileRec direct = ReadFull(2, r.Name);
        QCOMPARE(Bytes(&walked, sizeof walked), Bytes(&direct, sizeof direct));
        ++n;
        // ReadFull moved the cursor away: the walk must still go on.
        if (!GetNextFileRec(1, &r, &pos))
            break;
    }
    QCOMPARE(n, 10);
    // Full record of the record just walked, with nothing in between.
    QVERIFY(SearchFileRecByAreaName(2, "", &r, &pos));
    QVERIFY(GetNextFileRec(1, &r, &pos));
    FullFileRec full;
    QVERIFY(GetFullFileRec(&r, &full));
    QCOMPARE(QString::fromLatin1(full.LongDescription[1]), QStringLiteral("line of 1"));
    // The output may be the same memory as the input.
    QVERIFY(GetFullFileRec(&r, reinterpret_cast<FullFileRec*>(&full)));
}

void TestWcsrvRecords::duplicateAddRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("same") << "DUP.ZIP";
    QTest::newRow("other case") << "dup.zip";
    QTest::newRow("mixed case") << "Dup.Zip";
}

void TestWcsrvRecords::duplicateAddRefused()
{
    QFETCH(QString, name);
    m_bbs->addFile(2, QStringLiteral("DUP.ZIP"));
    FullFileRec f{};
    f.Rec.Area = 2;
    std::strcpy(f.Rec.Name, name.toLatin1().constData());
    QVERIFY(!AddFileRec(&f));
    QCOMPARE(WcGetLastError(), uint32_t(WC_DUPLICATE_RECORD));
    QCOMPARE(GetTotalFilesInArea(2), 1);
    // Another area may hold the same name.
    f.Rec.Area = 3;
    QVERIFY(AddFileRec(&f));
}

void TestWcsrvRecords::moveIntoTakenNameRefused()
{
    m_bbs->addFile(2, QStringLiteral("SAME.ZIP"), nullptr,
                   [](FullFileRec& f) { std::strcpy(f.Rec.Description, "from two"); });
    m_bbs->addFile(3, QStringLiteral("SAME.ZIP"), nullptr,
                   [](FullFileRec& f) { std::strcpy(f.Rec.Description, "from three"); });
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(2, "SAME.ZIP", &r, &pos));
    r.Area = 3;
    QVERIFY(!UpdateFileRec(&r));
    QCOMPARE(WcGetLastError(), uint32_t(WC_DUPLICATE_RECORD));
    QCOMPARE(QString::fromLatin1(ReadFull(3, "SAME.ZIP").Rec.Description),
             QStringLiteral("from three"));
    QCOMPARE(QString::fromLatin1(ReadFull(2, "SAME.ZIP").Rec.Description),
             QStringLiteral("from two"));
}

void TestWcsrvRecords::moveToUnknownAreaRefused()
{
    m_bbs->addFile(2, QStringLiteral("M.ZIP"));
    FileRec r{};
    uint32_t pos = 0;
    QVERIFY(GetFileRecByAreaName(2, "M.ZIP", &r, &pos));
    r.Area = 77;
    QVERIFY(!UpdateFileRec(&r));
    QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_FILEAREA));
    QCOMPARE(WalkNames(2), QStringList({"M.ZIP"}));
    // A move of the only record of that name works without reading it first.
    FileRec key = r;
    key.Area = 5;
    QVERIFY(GetFileRecByAreaName(3, "M.ZIP", &r, &pos) == false);
    QVERIFY(UpdateFileRec(&key));
    QCOMPARE(WalkNames(5), QStringList({"M.ZIP"}));
    QCOMPARE(WalkNames(2), QStringList());
}

void TestWcsrvRecords::updateOfMissingRecordFails()
{
    FullFileRec f{};
    f.Rec.Area = 2;
    std::strcpy(f.Rec.Name, "NOPE.ZIP");
    QVERIFY(!UpdateFullFileRec(&f));
    QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
    QVERIFY(!UpdateFileRec(&f.Rec));
    QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
    QVERIFY(!DeleteFileRec(&f.Rec, 1));
    QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
    FullFileRec out;
    QVERIFY(!GetFullFileRec(&f.Rec, &out));
    QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
}

void TestWcsrvRecords::deleteWithAndWithoutFile()
{
    const QByteArray content("data");
    m_bbs->addFile(2, QStringLiteral("KEEP.ZIP"), &content);
    m_bbs->addFile(2, QStringLiteral("GONE.ZIP"), nullptr);
    // The disk name differs in letter case from the record's name.
    QFile lower(QDir(m_bbs->areaFolder(2)).filePath(QStringLiteral("gone.zip")));
    QVERIFY(lower.open(QIODevice::WriteOnly));
    lower.close();
    FileRec keep = MakeKey(2, "KEEP.ZIP"), gone = MakeKey(2, "GONE.ZIP");
    QVERIFY(DeleteFileRec(&keep, 0));
    QVERIFY(m_bbs->fileOnDisk(2, QStringLiteral("KEEP.ZIP")));
    QVERIFY(DeleteFileRec(&gone, 1));
    QVERIFY(!lower.exists());
    QCOMPARE(GetTotalFilesInArea(2), 0);
    // A record whose file is already missing deletes fine with the flag.
    m_bbs->addFile(2, QStringLiteral("NOFILE.ZIP"));
    FileRec nofile = MakeKey(2, "NOFILE.ZIP");
    QVERIFY(DeleteFileRec(&nofile, 1));
}

void TestWcsrvRecords::totalsAreasUsersAndMakewild()
{
    addNames(2, {"X1", "X2", "X3"});
    QCOMPARE(GetTotalFilesInArea(2), 3);
    QCOMPARE(GetTotalFilesInArea(1), 0);
    QCOMPARE(GetTotalFilesInArea(4), 0);
    QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_FILEAREA));

    QCOMPARE(GetFileAreaCount(), 5);
    FileAreaRec a;
    QVERIFY(GetFileArea(3, &a));
    QCOMPARE(a.Number, 3);
    QCOMPARE(QString::fromLatin1(a.Name), QStringLiteral("Three"));
    QVERIFY(!GetFileArea(4, &a)); // the gap in the numbering
    QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_FILEAREA));

    MakewildRec mw;
    std::memset(&mw, 0x55, sizeof mw);
    QVERIFY(GetMakewild(&mw));
    QCOMPARE(QString::fromLatin1(reinterpret_cast<const char*>(&mw) + 56),
             QStringLiteral("Ada Sysop"));

    m_bbs->addUser(QStringLiteral("Zoe Zed"));
    m_bbs->addUser(QStringLiteral("adam apple"));
    m_bbs->addUser(QStringLiteral("Mike Mid"));
    UserRef ref;
    QVERIFY(LookupName("MIKE MID", &ref));
    QCOMPARE(QString::fromLatin1(ref.UserName), QStringLiteral("Mike Mid"));
    QVERIFY(ref.UserId != 0);
    QVERIFY(!LookupName("Nobody", &ref));
    QCOMPARE(WcGetLastError(), uint32_t(WC_USER_NOT_FOUND));
    QVERIFY(!LookupName("", &ref));

    QStringList users;
    UserRecord u;
    uint32_t pos = 0;
    QVERIFY(GetFirstUser(2, &u, &pos));
    do
        users << QString::fromLatin1(u.Name);
    while (GetNextUser(2, &u, &pos));
    QCOMPARE(WcGetLastError(), uint32_t(WC_RECORD_NOT_FOUND));
    QCOMPARE(users, QStringList({"adam apple", "Mike Mid", "Zoe Zed"}));
    QVERIFY(!GetFirstUser(1, &u, &pos));
    QCOMPARE(WcGetLastError(), uint32_t(WC_INVALID_INDEX));
}

void TestWcsrvRecords::secondProcessWritesDuringWalk()
{
    QStringList names;
    for (int i = 0; i < 200; ++i)
        names << QStringLiteral("P%1.ZIP").arg(i, 3, 10, QLatin1Char('0'));
    addNames(1, names);
    const QString admin = QDir(BinDir()).filePath(QStringLiteral("wcsrv-admin"));
    if (!QFileInfo::exists(admin))
        QSKIP("wcsrv-admin not built");
    QTemporaryDir src;
    QFile f(QDir(src.path()).filePath(QStringLiteral("new.txt")));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("new file");
    f.close();

    FileRec r{};
    uint32_t pos = 0;
    QStringList seen;
    QVERIFY(SearchFileRecByAreaName(1, "", &r, &pos));
    while (r.Area == 1) {
        seen << QString::fromLatin1(r.Name);
        if (seen.size() == 50) {
            // Another process writes while this walk is open.
            QProcess p;
            p.start(admin, {QStringLiteral("--home"), m_bbs->home(), QStringLiteral("import"),
                            QStringLiteral("3"), f.fileName()});
            QVERIFY(p.waitForFinished(20000));
            QCOMPARE(p.exitCode(), 0);
            QProcess q;
            q.start(admin, {QStringLiteral("--home"), m_bbs->home(), QStringLiteral("user"),
                            QStringLiteral("add"), QStringLiteral("Other Process")});
            QVERIFY(q.waitForFinished(20000));
            QCOMPARE(q.exitCode(), 0);
        }
        if (!GetNextFileRec(1, &r, &pos))
            break;
    }
    QCOMPARE(seen, names);
    // The other process's records are visible now.
    FileRec added{};
    QVERIFY(GetFileRecByAreaName(3, "NEW.TXT", &added, &pos));
    QCOMPARE(added.Size, 8);
    UserRef ref;
    QVERIFY(LookupName("other process", &ref));
}

VT_TEST_MAIN(TestWcsrvRecords)
#include "test_wcsrv_records.moc"
