// The duplicate finder: its scan through a scripted delegate (groups by
// name and by content, the hash cache, a stop while hashing), the keep
// rules, the deletion of the copies through the deletion manager's run with
// a shared file that survives, and the window once, offscreen.
#include "managers/DeletionRun.h"
#include "managers/DuplicateRun.h"
#include "managers/TDupMgr.h"
#include "tests/managers/DupesTestSupport.h"
#include "tests/support/ScriptedRun.h"

#include <QComboBox>
#include <QCryptographicHash>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

namespace
{

// The shared scripted run, asking for a stop once the scan says it hashes.
class ScanRun : public ScriptedRun
{
public:
    bool stopWhenHashing = false;
    bool hashingSeen = false;

    void Status(const QString& text) override
    {
        ScriptedRun::Status(text);
        hashingSeen = hashingSeen || text.startsWith(QLatin1String("Hashing"));
    }
    bool StopRequested() override { return stopWhenHashing && hashingSeen; }
};

// "1:PACK.ZIP 2:pack.zip": a group's records, for comparing.
QString Members(const DupeGroup& group)
{
    QStringList out;
    for (const DupeRecord& r : group.members)
        out << QStringLiteral("%1:%2").arg(r.area).arg(r.name) +
                   (r.present ? QString() : QStringLiteral("(missing)"));
    return out.join(u' ');
}

QStringList Groups(const DupeResult& result)
{
    QStringList out;
    for (const DupeGroup& g : result.groups)
        out << (g.kind == DupeKind::Name ? QStringLiteral("name ") : QStringLiteral("content ")) +
                   Members(g);
    return out;
}

DupeResult Scan(DupeBy by, ScanRun& run, const QList<int>& areas = {1, 2, 3, 4})
{
    DupeOptions options;
    options.areas = areas;
    options.by = by;
    return RunDuplicateScan(options, run);
}

DupeRecord Member(int area, qint64 year, bool present)
{
    DupeRecord r;
    r.area = area;
    r.name = QStringLiteral("F%1.ZIP").arg(year);
    r.fileTime = TestTime(int(year), 1, 1);
    r.present = present;
    r.diskSize = present ? 10 : 0;
    r.fileId = {1, quint64(year)};
    return r;
}

} // namespace

Q_DECLARE_METATYPE(KeepRule)
Q_DECLARE_METATYPE(DupeBy)

class TestDupes : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        FillDupesBbs(*m_bbs);
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
    }

    void groupsByNameAndContent_data()
    {
        QTest::addColumn<DupeBy>("by");
        QTest::addColumn<QStringList>("groups");
        QTest::addColumn<qint64>("filesRead");
        const QString byName1 = QStringLiteral("name 1:GAME.ZIP 3:game.zip 4:Game.Zip(missing)");
        const QString byName2 = QStringLiteral("name 1:PACK.ZIP 2:pack.zip");
        // One disk file behind two records (areas on one folder), a copy
        // under another name, and a disk name in other letters than its
        // record's; SAME.SIZ has the size but not the bytes.
        const QString byContent =
            QStringLiteral("content 1:PACK.ZIP 2:pack.zip 3:COPY.ZIP 3:Mixed.Zip");
        QTest::newRow("name") << DupeBy::Name << QStringList{byName1, byName2} << qint64(0);
        QTest::newRow("content") << DupeBy::Content << QStringList{byContent} << qint64(4);
        QTest::newRow("both") << DupeBy::Both << QStringList{byName1, byName2, byContent}
                              << qint64(4);
    }

    void groupsByNameAndContent()
    {
        QFETCH(DupeBy, by);
        QFETCH(QStringList, groups);
        QFETCH(qint64, filesRead);
        ScanRun run;
        const DupeResult result = Scan(by, run);
        QCOMPARE(Groups(result), groups);
        QCOMPARE(result.records, qint64(10));
        QCOMPARE(result.filesRead, filesRead);
        QVERIFY(run.warnings.isEmpty());
        QStringList missing;
        for (const DupeRecord& r : result.missing)
            missing << QStringLiteral("%1:%2").arg(r.area).arg(r.name);
        QCOMPARE(missing,
                 (QStringList{QStringLiteral("4:Game.Zip"), QStringLiteral("4:LOST.ZIP")}));
        // The shared file counts once in the space the copies take.
        for (const DupeGroup& g : result.groups) {
            if (g.kind == DupeKind::Content) {
                QCOMPARE(g.SpaceTaken(), qint64(3 * 3000));
                QCOMPARE(
                    g.key,
                    QString::fromLatin1(
                        QCryptographicHash::hash(PackBytes(), QCryptographicHash::Sha256).toHex()));
                QCOMPARE(g.members.first().description, QByteArray("about PACK.ZIP"));
                QCOMPARE(g.members.first().uploader, QByteArray("Ann Uploader"));
            }
        }
    }

    void hashCache()
    {
        ScanRun first;
        const DupeResult one = Scan(DupeBy::Content, first);
        QCOMPARE(one.filesRead, qint64(4));
        QCOMPARE(one.bytesRead, qint64(4 * 3000));
        QCOMPARE(one.hashesReused, qint64(0));
        // Bytes and files per second while hashing.
        bool shown = false;
        for (const QString& s : std::as_const(first.statuses))
            shown = shown ||
                    (s.startsWith(QLatin1String("Hashing file")) &&
                     s.contains(QLatin1String("bytes")) && s.contains(QLatin1String("files/s")));
        QVERIFY2(shown, qPrintable(first.statuses.join(u'|')));

        // Nothing changed: no file is read, every kept hash is used.
        ScanRun second;
        const DupeResult two = Scan(DupeBy::Content, second);
        QCOMPARE(two.filesRead, qint64(0));
        QCOMPARE(two.bytesRead, qint64(0));
        QCOMPARE(two.hashesReused, qint64(5));
        QCOMPARE(Groups(two), Groups(one));

        // COPY.ZIP gets other bytes of the same size and a later date: read
        // again, and no longer a copy.
        const QString copy = QDir(m_bbs->areaFolder(3)).filePath(QStringLiteral("COPY.ZIP"));
        {
            QFile f(copy);
            QVERIFY(f.open(QIODevice::ReadWrite));
            QVERIFY(f.write(QByteArray(3000, 'z')) == 3000);
            QVERIFY(f.flush());
            QVERIFY(f.setFileTime(QDateTime::currentDateTime().addDays(1),
                                  QFileDevice::FileModificationTime));
        }
        ScanRun third;
        const DupeResult three = Scan(DupeBy::Content, third);
        QCOMPARE(three.filesRead, qint64(1));
        QCOMPARE(Groups(three),
                 QStringList{QStringLiteral("content 1:PACK.ZIP 2:pack.zip 3:Mixed.Zip")});
    }

    void stopWhileHashing()
    {
        ScanRun run;
        run.stopWhenHashing = true;
        const DupeResult stopped = Scan(DupeBy::Both, run);
        QVERIFY(run.hashingSeen);
        QVERIFY(stopped.stopped);
        QVERIFY(stopped.groups.isEmpty());
        QCOMPARE(run.statuses.last(), QStringLiteral("Scan stopped."));
        // Files read before the stop are not read again.
        ScanRun again;
        const DupeResult done = Scan(DupeBy::Both, again);
        QVERIFY(!done.stopped);
        QCOMPARE(done.filesRead + stopped.filesRead, qint64(4));
    }

    void keepRules_data()
    {
        QTest::addColumn<KeepRule>("rule");
        QTest::addColumn<int>("area");
        QTest::addColumn<QList<bool>>("present");
        QTest::addColumn<QList<bool>>("expected");
        // Members: area 1 of 2020, area 2 of 2018, area 3 of 2016, area 3 of 2024.
        const QList<bool> all{true, true, true, true}, thirdMissing{true, true, false, true},
            none{false, false, false, false};
        using R = KeepRule;
        QTest::newRow("oldest") << R::Oldest << 0 << all << QList<bool>{0, 0, 1, 0};
        QTest::newRow("newest") << R::Newest << 0 << all << QList<bool>{0, 0, 0, 1};
        QTest::newRow("oldest has no file")
            << R::Oldest << 0 << thirdMissing << QList<bool>{0, 1, 0, 0};
        QTest::newRow("no file anywhere") << R::Oldest << 0 << none << QList<bool>{0, 0, 1, 0};
        QTest::newRow("area 1") << R::InArea << 1 << all << QList<bool>{1, 0, 0, 0};
        QTest::newRow("area 3 keeps both") << R::InArea << 3 << all << QList<bool>{0, 0, 1, 1};
        QTest::newRow("area 3, one without file")
            << R::InArea << 3 << thirdMissing << QList<bool>{0, 0, 0, 1};
        QTest::newRow("area without a copy") << R::InArea << 9 << all << QList<bool>{1, 1, 1, 1};
        QTest::newRow("by hand") << R::ByHand << 0 << all << QList<bool>{0, 1, 0, 1};
    }

    void keepRules()
    {
        QFETCH(KeepRule, rule);
        QFETCH(int, area);
        QFETCH(QList<bool>, present);
        QFETCH(QList<bool>, expected);
        DupeGroup group;
        group.members = {Member(1, 2020, present[0]), Member(2, 2018, present[1]),
                         Member(3, 2016, present[2]), Member(3, 2024, present[3])};
        KeepChoice choice;
        choice.rule = rule;
        choice.area = area;
        choice.byHand = {false, true, false, true};
        QCOMPARE(KeptMembers(group, choice), expected);
    }

    void recordsToDelete()
    {
        // A record one group keeps stays, whatever another group says; a
        // group that keeps nothing is left alone.
        DupeGroup a, b, c;
        a.members = {Member(1, 2001, true), Member(2, 2002, true)};
        b.members = {Member(2, 2002, true), Member(3, 2003, true)};
        c.members = {Member(4, 2004, true), Member(5, 2005, true)};
        QList<WcFileId> keepFiles;
        const QList<EntryRef> going =
            RecordsToDelete({a, b, c}, {{false, true}, {false, true}, {false, false}}, &keepFiles);
        QCOMPARE(going.size(), 1);
        QCOMPARE(going.first().area, 1);
        QCOMPARE(keepFiles.size(), 4); // 2002, 2003 and group c's two files
    }

    void sharedFileSurvives_data()
    {
        QTest::addColumn<QList<int>>("areas");
        QTest::addColumn<int>("keepArea");
        QTest::addColumn<QStringList>("deleted");
        QTest::addColumn<bool>("packFileStays");
        // Kept in area 1: the record of area 2 goes, the disk file both name stays.
        QTest::newRow("other record stays")
            << QList<int>{1, 2, 3, 4} << 1
            << QStringList{QStringLiteral("2:pack.zip"), QStringLiteral("3:COPY.ZIP"),
                           QStringLiteral("3:Mixed.Zip")}
            << true;
        // Both records of the shared file go: the file goes with the last one.
        QTest::newRow("both records go")
            << QList<int>{1, 2, 3, 4} << 3
            << QStringList{QStringLiteral("1:PACK.ZIP"), QStringLiteral("2:pack.zip")} << false;
        // Area 2 is not scanned, but its record still names the file.
        QTest::newRow("record of an area not scanned")
            << QList<int>{1, 3} << 3 << QStringList{QStringLiteral("1:PACK.ZIP")} << true;
    }

    void sharedFileSurvives()
    {
        QFETCH(QList<int>, areas);
        QFETCH(int, keepArea);
        QFETCH(QStringList, deleted);
        QFETCH(bool, packFileStays);
        ScanRun scan;
        const DupeResult found = Scan(DupeBy::Content, scan, areas);
        QCOMPARE(found.groups.size(), 1);
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 4);

        KeepChoice choice;
        choice.rule = KeepRule::InArea;
        choice.area = keepArea;
        DeletionOptions options;
        options.records = RecordsToDelete(found.groups, {KeptMembers(found.groups[0], choice)},
                                          &options.keepFiles);
        options.deleteFromDisk = true;
        ScanRun run;
        const DeletionResult result = RunDeletion(options, run);
        QCOMPARE(result.deleted, long(deleted.size()));
        QStringList done;
        for (const RunItem& item : std::as_const(run.items)) {
            QCOMPARE(item.outcome, RunOutcome::Done);
            done << QStringLiteral("%1:%2").arg(item.area).arg(item.name);
        }
        QCOMPARE(done, deleted);

        // Every record and file not deleted is as it was, byte for byte;
        // the deleted records and the files only they named are gone.
        QMap<QString, QByteArray> expected = before;
        for (const QString& d : deleted) {
            const int area = d.section(u':', 0, 0).toInt();
            const QString name = d.section(u':', 1);
            QVERIFY(expected.remove(QStringLiteral("rec %1 %2").arg(area).arg(name)) == 1);
        }
        // Files only the deleted records named go with them.
        if (deleted.contains(QStringLiteral("3:COPY.ZIP")))
            expected.remove(QStringLiteral("file 3 COPY.ZIP"));
        if (deleted.contains(QStringLiteral("3:Mixed.Zip")))
            expected.remove(QStringLiteral("file 3 MIXED.ZIP"));
        if (!packFileStays) {
            expected.remove(QStringLiteral("file 1 PACK.ZIP"));
            expected.remove(QStringLiteral("file 2 PACK.ZIP"));
        }
        QCOMPARE(BbsState(*m_bbs, 4), expected);
        QCOMPARE(m_bbs->fileOnDisk(1, QStringLiteral("PACK.ZIP")), packFileStays);
    }

    void window()
    {
        DialogScript dialogs;
        TDupMgr form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        for (const char* name :
             {"AreaList",       "gb_FindBy",   "rb_ByName",   "rb_ByContent", "rb_ByBoth",
              "b_Scan",         "b_Stop",      "GroupTree",   "MissingList",  "L_Summary",
              "gb_Keep",        "cb_KeepRule", "cb_KeepArea", "b_KeepGroup",  "b_KeepAll",
              "cb_PromptFirst", "b_Delete",    "b_Close",     "ProgressBar",  "StatusBar",
              "StatusPanel0"})
            QVERIFY2(form.findChild<QWidget*>(QLatin1String(name)), name);
        QCOMPARE(form.AreaList->selectedItems().size(), 4);

        form.rb_ByContent->setChecked(true);
        QVERIFY(!form.b_Delete->isEnabled());
        form.b_Scan->click();
        QCOMPARE(form.GroupTree->topLevelItemCount(), 1);
        QCOMPARE(form.MissingList->count(), 2);
        QTreeWidgetItem* group = form.GroupTree->topLevelItem(0);
        QCOMPARE(group->childCount(), 4);
        QVERIFY(group->text(TDupMgr::ColDescription).contains(QLatin1String("keep: oldest")));
        // The oldest copy, 3:COPY.ZIP of 2019, stays at first.
        QCOMPARE(form.KeepMarks(), (QList<QList<bool>>{{false, false, true, false}}));
        QCOMPARE(group->child(0)->text(TDupMgr::ColDescription), QStringLiteral("about PACK.ZIP"));

        // The newest for all groups, then a mark by hand.
        form.cb_KeepRule->setCurrentIndex(1);
        form.b_KeepAll->click();
        QCOMPARE(form.KeepMarks(), (QList<QList<bool>>{{false, false, false, true}}));
        group->child(0)->setCheckState(TDupMgr::ColName, Qt::Checked);
        QVERIFY(group->text(TDupMgr::ColDescription).contains(QLatin1String("keep: by hand")));

        // Delete: 2:pack.zip and 3:COPY.ZIP go with their files (the file
        // 2:pack.zip names stays: 1:PACK.ZIP stays).
        dialogs.answer(DialogAnswer::Yes).answer(DialogAnswer::Yes);
        form.b_Delete->click();
        QVERIFY(!dialogs.unexpected);
        QVERIFY(dialogs.contains(QStringLiteral("Delete 2 Duplicate Records?")));
        QVERIFY(dialogs.contains(QStringLiteral("Delete Files from disk also?")));
        QCOMPARE(form.StatusText(), QStringLiteral("Number of Files Deleted: 2"));
        QCOMPARE(RecordNamesOf(2), QStringList());
        QCOMPARE(RecordNamesOf(3),
                 (QStringList{QStringLiteral("game.zip"), QStringLiteral("Mixed.Zip")}));
        QVERIFY(m_bbs->fileOnDisk(1, QStringLiteral("PACK.ZIP")));
        QVERIFY(!m_bbs->fileOnDisk(3, QStringLiteral("COPY.ZIP")));
        QVERIFY(group->child(1)->text(TDupMgr::ColResult).contains(QLatin1String("file kept")));
        QVERIFY(!form.b_Delete->isEnabled());
    }
};

VT_TEST_MAIN(TestDupes)
#include "test_dupes.moc"
