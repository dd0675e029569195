// The filtered listing: matching files of all areas or of one, in selector
// order; stopping by unchecking, by an area change, by closing.
#include "AppTestSupport.h"

#include "filter/SearchRecord.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>

#include <cstring>

class TestFileMgrFilter : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void withoutFilterShowsMessage();
    void allAreasInSelectorOrder();
    void oneAreaOnly();
    void noMatchShowsMessage();
    void areaChangeReturnsToPlainListing();
    void uncheckingStopsAndKeepsLines();
    void areaChangeStopsSearch();
    void closeStopsSearch();
    void statusMarksResetAfter200();

private:
    void freeFileFilter(int area = 0);
    std::unique_ptr<ProgramFolderScope> m_folder;
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<DialogScript> m_dialogs;
};

void TestFileMgrFilter::init()
{
    m_folder = std::make_unique<ProgramFolderScope>();
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_dialogs = std::make_unique<DialogScript>();
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(3, QStringLiteral("Three"));
    m_bbs->addArea(5, QStringLiteral("Five"));
    auto free = [](FullFileRec& f) { f.Rec.FreeFile = 1; };
    m_bbs->addFile(1, QStringLiteral("A.ZIP"), nullptr, free);
    m_bbs->addFile(1, QStringLiteral("B.ZIP"));
    m_bbs->addFile(3, QStringLiteral("C.ZIP"), nullptr, free);
    m_bbs->addFile(5, QStringLiteral("D.ZIP"), nullptr, free);
    m_bbs->addFile(5, QStringLiteral("E.ZIP"), nullptr, free);
    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
}

void TestFileMgrFilter::cleanup()
{
    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
    FilterDefined = false;
    m_dialogs.reset();
    m_bbs.reset();
    m_folder.reset();
}

void TestFileMgrFilter::freeFileFilter(int area)
{
    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
    CurrentSearchRecord.FreeFileOp = FlagYes;
    CurrentSearchRecord.AreaCriterion = area;
    CurrentSearchRecord.Template.Rec.Area = area;
    FilterDefined = true;
}

void TestFileMgrFilter::withoutFilterShowsMessage()
{
    auto w = OpenMainWindow();
    const QStringList before = w->FileListBox->Lines()->lines();
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QCOMPARE(m_dialogs->texts(),
             QStringList{QStringLiteral("Please set a file filter before turn it on.")});
    QCOMPARE(m_dialogs->shown.first().kind, MessageKind::Information);
    QVERIFY(!w->cb_FileFilter->isChecked());
    QCOMPARE(w->FileListBox->Lines()->lines(), before);
}

void TestFileMgrFilter::allAreasInSelectorOrder()
{
    auto w = OpenMainWindow();
    freeFileFilter();
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QVERIFY(m_dialogs->shown.isEmpty());
    QCOMPARE(w->FileListBox->Lines()->lines(),
             QStringList({QStringLiteral("   1: A.ZIP"), QStringLiteral("   3: C.ZIP"),
                          QStringLiteral("   5: D.ZIP"), QStringLiteral("   5: E.ZIP")}));
    QCOMPARE(w->AreaListBox->currentText(), QStringLiteral("File Filter ON"));
    QCOMPARE(w->FilesInArea->text(), QStringLiteral("4"));
    QCOMPARE(w->L_FileInArea->text(), QStringLiteral("Total Files Found:"));
    QCOMPARE(w->FileListBox->ItemIndex(), 0);
    QCOMPARE(w->FileListBox->SelCount(), 0);
    QVERIFY(w->cb_FileFilter->isChecked());
    // A found line carries its own area.
    ClickLine(*w, 1);
    QCOMPARE(w->f_FileName->text(), QStringLiteral("C.ZIP"));
    QCOMPARE(w->f_Area->text(), QStringLiteral("3"));
    QTRY_VERIFY_WITH_TIMEOUT(w->StatusText().isEmpty(), 3000);
}

void TestFileMgrFilter::oneAreaOnly()
{
    auto w = OpenMainWindow();
    w->ChooseArea(1); // the selector shows area 3
    freeFileFilter(5);
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QCOMPARE(w->FileListBox->Lines()->lines(),
             QStringList({QStringLiteral("   5: D.ZIP"), QStringLiteral("   5: E.ZIP")}));
    QCOMPARE(w->f_Area->text(), QStringLiteral("5"));
}

void TestFileMgrFilter::noMatchShowsMessage()
{
    auto w = OpenMainWindow();
    freeFileFilter();
    CurrentSearchRecord.SizeOp = OpGreater;
    CurrentSearchRecord.Template.Rec.Size = 1000000;
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QCOMPARE(m_dialogs->texts(),
             QStringList{QStringLiteral("No files found that match the filter.")});
    QCOMPARE(w->FileListBox->Count(), 0);
    QCOMPARE(w->FilesInArea->text(), QStringLiteral("0"));
}

void TestFileMgrFilter::areaChangeReturnsToPlainListing()
{
    auto w = OpenMainWindow();
    freeFileFilter();
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QCOMPARE(w->FileListBox->Count(), 4);
    w->ChooseArea(0);
    QVERIFY(!w->cb_FileFilter->isChecked());
    QCOMPARE(w->FileListBox->Lines()->lines(),
             QStringList({QStringLiteral("A.ZIP"), QStringLiteral("B.ZIP")}));
    QCOMPARE(w->L_FileInArea->text(), QStringLiteral("Total Files in Area:"));
}

namespace
{
// Adds enough matching records to area 1 that a search lasts a while.
void AddMany(int area, int count)
{
    ServerLogin login;
    QVERIFY(login.ok());
    for (int i = 0; i < count; ++i) {
        FullFileRec f{};
        f.Rec.Area = area;
        SetRecText(f.Rec.Name, QStringLiteral("F%1.ZIP").arg(i, 6, 10, QLatin1Char('0')));
        f.Rec.FreeFile = 1;
        QVERIFY(AddFileRec(&f));
    }
}
} // namespace

void TestFileMgrFilter::uncheckingStopsAndKeepsLines()
{
    AddMany(1, 20000);
    auto w = OpenMainWindow();
    freeFileFilter();
    const QString totalsBefore = w->FilesInArea->text();
    // Unchecks the box from inside the search's first event processing.
    bool unchecked = false;
    QTimer::singleShot(0, this, [&]() {
        unchecked = true;
        QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    });
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QVERIFY(unchecked);
    QVERIFY(!w->cb_FileFilter->isChecked());
    // Stopped early: the lines found so far are listed, the totals kept.
    const int listed = w->FileListBox->Count();
    QVERIFY(listed > 0);
    QVERIFY(listed < 20003);
    QCOMPARE(w->FileListBox->Line(0), QStringLiteral("   1: A.ZIP"));
    QCOMPARE(w->FileListBox->Line(listed - 1).left(7), QStringLiteral("   1: F"));
    QTest::qWait(50);
    QCOMPARE(w->FileListBox->Count(), listed);
    QCOMPARE(w->FilesInArea->text(), totalsBefore);
    QVERIFY(m_dialogs->shown.isEmpty());
}

void TestFileMgrFilter::areaChangeStopsSearch()
{
    AddMany(1, 20000);
    auto w = OpenMainWindow();
    freeFileFilter();
    bool changed = false;
    QTimer::singleShot(20, this, [&]() {
        changed = true;
        w->ChooseArea(2);
    });
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QVERIFY(changed);
    QCOMPARE(w->FileListBox->Lines()->lines(),
             QStringList({QStringLiteral("D.ZIP"), QStringLiteral("E.ZIP")}));
    QCOMPARE(w->L_FileInArea->text(), QStringLiteral("Total Files in Area:"));
    QVERIFY(!w->cb_FileFilter->isChecked());
}

void TestFileMgrFilter::closeStopsSearch()
{
    AddMany(1, 20000);
    auto w = OpenMainWindow();
    freeFileFilter();
    QTimer::singleShot(20, w.get(), [&]() { w->close(); });
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->LoggedIn());
    QVERIFY(w->FileListBox->Count() < 20003);
    QVERIFY(m_dialogs->shown.isEmpty());
}

void TestFileMgrFilter::statusMarksResetAfter200()
{
    AddMany(3, 250);
    auto w = OpenMainWindow();
    freeFileFilter(3);
    CurrentSearchRecord.Template.Rec.Area = 3;
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    // 251 records in area 3: past 200 the text is back to "Searching ".
    QCOMPARE(w->StatusText(), QStringLiteral("Searching "));
    QCOMPARE(w->FileListBox->Count(), 251);
    w->ChooseArea(0);
    freeFileFilter(5);
    QTest::mouseClick(w->cb_FileFilter, Qt::LeftButton);
    QCOMPARE(w->StatusText(), QStringLiteral("Searching ||"));
}

VT_TEST_MAIN(TestFileMgrFilter)
#include "test_filemgr_filter.moc"
