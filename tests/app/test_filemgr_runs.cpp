// The main window's runs without the window: the filtered listing's walk,
// freshen and update of chosen records, and the refusal of a move into the
// same area (by the move manager's run too), through a scripted delegate.
#include "app/DropFilesRun.h"
#include "app/FilteredListingRun.h"
#include "app/MoveFilesRun.h"
#include "app/RecordRun.h"
#include "common/Text.h"
#include "filter/SearchRecord.h"
#include "managers/MoveRun.h"
#include "server/ServerFileCopy.h"
#include "server/ServerPath.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QtTest>

#include <cstring>
#include <map>

class TestRuns : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void listingComplete_data();
    void listingComplete();
    void listingStopped();
    void freshenSeveral();
    void freshenDryRunChangesNothing();
    void updateAppliesEdits();
    void dropStopsAtFailingCopy();
    void sameAreaMoveRefused_data();
    void sameAreaMoveRefused();

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
};

void TestRuns::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(3, QStringLiteral("Three"));
    m_bbs->addArea(5, QStringLiteral("Five"));
    auto free = [](FullFileRec& f) { f.Rec.FreeFile = 1; };
    const QByteArray a("alpha contents"), c("c"), d("delta delta delta");
    // The records' sizes are stale (1) so that a freshen has work to do.
    auto stale = [](FullFileRec& f) {
        f.Rec.FreeFile = 1;
        f.Rec.Size = 1;
    };
    m_bbs->addFile(1, QStringLiteral("A.ZIP"), &a, stale);
    m_bbs->addFile(1, QStringLiteral("B.ZIP"));
    m_bbs->addFile(3, QStringLiteral("C.ZIP"), &c, free);
    m_bbs->addFile(5, QStringLiteral("D.ZIP"), &d, stale);
    m_bbs->addFile(5, QStringLiteral("E.ZIP"), nullptr, free);
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
}

void TestRuns::cleanup()
{
    m_login.reset();
    m_bbs.reset();
}

void TestRuns::listingComplete_data()
{
    QTest::addColumn<bool>("filter");
    QTest::addColumn<int>("areaCriterion");
    QTest::addColumn<QStringList>("lines");
    QTest::newRow("no filter") << false << 0
                               << QStringList{"   1: A.ZIP", "   1: B.ZIP", "   3: C.ZIP",
                                              "   5: D.ZIP", "   5: E.ZIP"};
    QTest::newRow("free files") << true << 0
                                << QStringList{"   1: A.ZIP", "   3: C.ZIP", "   5: D.ZIP",
                                               "   5: E.ZIP"};
    QTest::newRow("free files of area 5") << true << 5 << QStringList{"   5: D.ZIP", "   5: E.ZIP"};
}

void TestRuns::listingComplete()
{
    QFETCH(bool, filter);
    QFETCH(int, areaCriterion);
    QFETCH(QStringList, lines);
    SearchRecord record{};
    record.FreeFileOp = FlagYes;
    record.AreaCriterion = areaCriterion;
    record.Template.Rec.Area = areaCriterion;
    FilteredListingOptions options;
    if (filter)
        options.filter = record;
    options.areas = FilteredListingAreas(record, {1, 3, 5});
    ScriptedRun delegate;
    QStringList found, flushed, areas;
    FilteredListingSink sink;
    sink.areaStarted = [&areas](int area) { areas << QString::number(area); };
    sink.found = [&found](const FileRec&, const QString& line) { found << line; };
    sink.flush = [&found, &flushed]() {
        flushed << found;
        found.clear();
    };
    QCOMPARE(RunFilteredListing(options, delegate, sink), FilteredListingResult::Complete);
    QCOMPARE(flushed, lines);
    QVERIFY(found.isEmpty());
    QCOMPARE(areas.size(), options.areas.size());
    QVERIFY(delegate.statuses.last().startsWith(QStringLiteral("Searching |")));
}

void TestRuns::listingStopped()
{
    FilteredListingOptions options;
    options.areas = {1, 3, 5};
    options.turnIntervalMs = 0; // asked after every record
    ScriptedRun delegate;
    delegate.stopAtCall = 3;
    QStringList found;
    int flushes = 0;
    FilteredListingSink sink;
    sink.found = [&found](const FileRec&, const QString& line) { found << line; };
    sink.flush = [&flushes]() { ++flushes; };
    QCOMPARE(RunFilteredListing(options, delegate, sink), FilteredListingResult::Stopped);
    // Three records walked, the third stop question stopped it: nothing
    // flushed at the end, and area 5 was never reached.
    QCOMPARE(found, (QStringList{"   1: A.ZIP", "   1: B.ZIP", "   3: C.ZIP"}));
    QCOMPARE(delegate.stopCalls, 3);
    QCOMPARE(flushes, 0);
}

void TestRuns::freshenSeveral()
{
    RecordRunOptions options;
    options.entries = {{1, "A.ZIP"}, {1, "B.ZIP"}, {5, "D.ZIP"}, {7, "NONE.ZIP"}};
    const FullFileRec untouched = ReadFullRecord(1, "B.ZIP");
    const QByteArray before(reinterpret_cast<const char*>(&untouched), sizeof untouched);
    ScriptedRun delegate;
    QCOMPARE(RunRecordChanges(options, delegate), 2);
    QCOMPARE(ReadFullRecord(1, "A.ZIP").Rec.Size, 14);
    QCOMPARE(ReadFullRecord(5, "D.ZIP").Rec.Size, 17);
    // B.ZIP has no file: the window's message, its record untouched.
    QCOMPARE(delegate.warnings, QStringList{"File Not Found! Can not Freshen."});
    FullFileRec b = ReadFullRecord(1, "B.ZIP");
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(&b), sizeof b), before);
    QCOMPARE(delegate.count(RunOutcome::Done), 2);
    QCOMPARE(delegate.count(RunOutcome::Failed), 1);
    QCOMPARE(delegate.statuses, (QStringList{"Freshening File [A.ZIP]", "Freshening File [B.ZIP]",
                                             "Freshening File [D.ZIP]"}));
}

void TestRuns::freshenDryRunChangesNothing()
{
    RecordRunOptions options;
    options.entries = {{1, "A.ZIP"}, {1, "B.ZIP"}, {3, "C.ZIP"}, {5, "D.ZIP"}};
    options.dryRun = true;
    const auto before = RecordSnapshot();
    QCOMPARE(int(before.size()), 5);
    ScriptedRun delegate;
    // A, C and D have files whose size or time the records do not hold yet.
    QCOMPARE(RunRecordChanges(options, delegate), 3);
    QVERIFY(RecordSnapshot() == before);
    QCOMPARE(delegate.count(RunOutcome::Done), 0);
    QCOMPARE(delegate.count(RunOutcome::Planned), 3);
    // The same run for real changes the records the dry run planned for.
    options.dryRun = false;
    ScriptedRun real;
    RunRecordChanges(options, real);
    QVERIFY(RecordSnapshot() != before);
    QCOMPARE(ReadFullRecord(1, "A.ZIP").Rec.Size, 14);
}

void TestRuns::updateAppliesEdits()
{
    RecordRunOptions options;
    options.entries = {{1, "B.ZIP"}, {5, "E.ZIP"}};
    options.edits = [](FullFileRec& full) {
        SetRecText(full.Rec.Description, QStringLiteral("Edited"));
    };
    ScriptedRun delegate;
    QCOMPARE(RunRecordChanges(options, delegate), 2);
    QCOMPARE(RecText(ReadFullRecord(1, "B.ZIP").Rec.Description), QStringLiteral("Edited"));
    QCOMPARE(RecText(ReadFullRecord(5, "E.ZIP").Rec.Description), QStringLiteral("Edited"));
    QCOMPARE(RecText(ReadFullRecord(1, "A.ZIP").Rec.Description), QString());
    QCOMPARE(delegate.statuses, (QStringList{"Updating File [B.ZIP]", "Updating File [B.ZIP]",
                                             "Updating File [E.ZIP]", "Updating File [E.ZIP]"}));
}

void TestRuns::dropStopsAtFailingCopy()
{
    QTemporaryDir disk;
    QStringList paths;
    for (const char* name : {"new1.zip", "new2.zip", "new3.zip"}) {
        QFile file(disk.filePath(QString::fromLatin1(name)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray(100 + int(paths.size()), 'x'));
        paths << file.fileName();
    }
    const auto before = RecordSnapshot();
    DropFilesOptions options;
    options.area = 3;
    options.paths = paths;
    QStringList added;
    options.added = [&added](const QString& name) { added << name; };
    ScriptedRun delegate;
    delegate.copyFailsAt = 2;
    QCOMPARE(RunDropFiles(options, delegate), 1);
    // The first file is in with its record, freshened from the copy; the
    // second copy failed, which ends the drop: the third is never copied.
    QCOMPARE(added, QStringList{"NEW1.ZIP"});
    QCOMPARE(delegate.copies, 2);
    QCOMPARE(delegate.warnings, (QStringList{"Error Writing: " + ServerFilePath(3, "NEW2.ZIP"),
                                             "Error copying file to filearea path"}));
    QCOMPARE(ReadFullRecord(3, "NEW1.ZIP").Rec.Size, 100);
    QVERIFY(!m_bbs->fileOnDisk(3, "NEW2.ZIP"));
    QVERIFY(!m_bbs->fileOnDisk(3, "NEW3.ZIP"));
    // Every other record is as it was, byte for byte.
    auto after = RecordSnapshot();
    QCOMPARE(int(after.erase(QStringLiteral("3:NEW1.ZIP"))), 1);
    QVERIFY(after == before);
}

void TestRuns::sameAreaMoveRefused_data()
{
    // The move manager's run moves a whole area ("area", from = target); the
    // main window's run moves the chosen records ("AREA:NAME"), and the last
    // one's area is the area they are moved out of.
    QTest::addColumn<QStringList>("chosen");
    QTest::addColumn<int>("target");
    QTest::addColumn<bool>("moveFiles");
    QTest::newRow("area, records only") << QStringList{"area"} << 1 << false;
    QTest::newRow("area, with files") << QStringList{"area"} << 5 << true;
    QTest::newRow("chosen records") << QStringList{"1:A.ZIP", "1:B.ZIP"} << 1 << true;
    // C.ZIP alone would move: the whole move is refused all the same.
    QTest::newRow("chosen in two areas") << QStringList{"3:C.ZIP", "5:D.ZIP"} << 5 << true;
}

void TestRuns::sameAreaMoveRefused()
{
    QFETCH(QStringList, chosen);
    QFETCH(int, target);
    QFETCH(bool, moveFiles);
    const QMap<QString, QByteArray> before = BbsState(*m_bbs, 5);
    QVERIFY(before.contains(QStringLiteral("file 1 A.ZIP")));
    QVERIFY(before.contains(QStringLiteral("file 5 D.ZIP")));
    ScriptedRun delegate;
    long moved = -1;
    if (chosen == QStringList{"area"}) {
        MoveOptions options;
        options.from = target;
        options.to = target;
        options.moveFiles = moveFiles;
        options.sourceTotal = RecordNamesOf(target).size();
        const MoveResult result = RunMove(options, delegate);
        QVERIFY(!result.notMoved && !result.stopped);
        moved = result.moved;
    } else {
        MoveFilesOptions options;
        options.target = target;
        for (const QString& entry : chosen)
            options.entries << EntryRef{entry.section(u':', 0, 0).toInt(), entry.section(u':', 1)};
        moved = RunMoveFiles(options, delegate);
    }
    QCOMPARE(moved, 0L);
    QCOMPARE(delegate.warnings, QStringList{"Can not move files to the same file area."});
    QVERIFY(delegate.asked.isEmpty());
    QVERIFY(delegate.items.isEmpty());
    QCOMPARE(delegate.copies, 0);
    // Every record and every file byte for byte as before.
    const QMap<QString, QByteArray> after = BbsState(*m_bbs, 5);
    QCOMPARE(after.keys(), before.keys());
    for (auto it = before.cbegin(); it != before.cend(); ++it)
        QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key()));
}

VT_TEST_MAIN(TestRuns)
#include "test_filemgr_runs.moc"
