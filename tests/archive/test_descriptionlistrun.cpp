// The description list runs on a real BBS: the import with its preview (a
// dry run writes nothing), unknown names, unreadable lines and cuts, adding
// records for files of the area's folder, and the export/import round trip.
#include "archive/DescriptionListRun.h"
#include "common/Text.h"
#include "managers/TDescListForm.h"
#include "platform/wcsrv/WcFault.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <memory>

Q_DECLARE_METATYPE(DescriptionListLayout)

namespace
{

QByteArray Text(const char* field, std::size_t size)
{
    return QByteArray(field, qsizetype(strnlen(field, size)));
}

QByteArray LongLine(const FullFileRec& rec, int i)
{
    return Text(rec.LongDescription[i], LongDescLineSize);
}

// A list in several dialects: columns, a tab, a quoted name, LF and CR LF,
// continuation marks, a comment, an unknown name, a line that can't be read
// (a continuation after a comment) and a description longer than the field.
QByteArray DialectList()
{
    return QByteArray("; header of the list\r\n"
                      "a.zip      12,345  01-02-95  [3]  Alpha archive\r\n"
                      "   | first long line\n"
                      "  + second long line\r\n"
                      "B.TXT\tBeta text\n"
                      "\"C.LZH\" Gamma \xB0\xB1\xB2 box\r\n"
                      "-----------------\r\n"
                      "   | orphan continuation\r\n"
                      "NOPE.ZIP   Not in the area\r\n"
                      "d.arj " +
                      QByteArray(90, 'x') + "\r\n");
}

} // namespace

class TestDescriptionListRun : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();
    void importPreviewThenConfirm();
    void importAddsOnlyFilesInTheFolder();
    void roundTrip_data();
    void roundTrip();
    void walkCutShortChangesNothing();
    void importStops_data();
    void importStops();
    void windows();
    void sizeColumnByRecordSize_data();
    void sizeColumnByRecordSize();
    void textsShownInTheCodePage();

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
};

void TestDescriptionListRun::init()
{
    m_bbs = std::make_unique<TestBbs>();
    QVERIFY(m_bbs->ok());
    m_bbs->addArea(1, QStringLiteral("One"));
    m_bbs->addArea(2, QStringLiteral("Two"));
    const QByteArray content("some bytes");
    auto old = [](FullFileRec& f) { SetRecText(f.Rec.Description, QStringLiteral("old text")); };
    for (const char* name : {"A.ZIP", "B.TXT", "C.LZH", "D.ARJ", "E.DOC"})
        m_bbs->addFile(1, QString::fromLatin1(name), &content, old);
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
}

void TestDescriptionListRun::cleanup()
{
    WcFaultReset();
    m_login.reset();
    m_bbs.reset();
}

// A number after the name that is the record's size is the size column,
// in a list of one entry too; another number begins the description.
void TestDescriptionListRun::sizeColumnByRecordSize_data()
{
    QTest::addColumn<QByteArray>("list");
    QTest::addColumn<QByteArray>("description");
    QTest::newRow("the record's size") << QByteArray("a.zip  10  Alpha\r\n") << QByteArray("Alpha");
    QTest::newRow("another number")
        << QByteArray("a.zip  80386 manual\r\n") << QByteArray("80386 manual");
}

void TestDescriptionListRun::sizeColumnByRecordSize()
{
    QFETCH(QByteArray, list);
    QFETCH(QByteArray, description);
    QCOMPARE(ReadFullRecord(1, QStringLiteral("A.ZIP")).Rec.Size, 10);
    DescriptionImportOptions options;
    options.area = 1;
    options.list = list;
    ScriptedRun run;
    const DescriptionImportResult done = RunDescriptionImport(options, run);
    QCOMPARE(done.set, 1);
    const FullFileRec a = ReadFullRecord(1, QStringLiteral("A.ZIP"));
    QCOMPARE(Text(a.Rec.Description, sizeof a.Rec.Description), description);
}

// The texts the import reports are shown through the code page of record
// texts, as the record panel shows them.
void TestDescriptionListRun::textsShownInTheCodePage()
{
    const QByteArray text("\x8A\xA0\xE4\xA5 \xB0\xB1\xB2");
    DescriptionImportOptions options;
    options.area = 1;
    options.list = "A.ZIP " + text + "\r\n";
    options.dryRun = true;
    for (const CodePage page : {CodePage::Latin1, CodePage::Cp437, CodePage::Cp866}) {
        SetRecordCodePage(page);
        ScriptedRun run;
        RunDescriptionImport(options, run);
        SetRecordCodePage(CodePage::Latin1);
        QCOMPARE(run.items.size(), 1);
        QVERIFY2(run.items.first().action.contains(u'"' + CodePageToString(page, text) + u'"'),
                 qPrintable(run.items.first().action));
    }
}

void TestDescriptionListRun::importPreviewThenConfirm()
{
    const auto before = RecordSnapshot();
    DescriptionImportOptions options;
    options.area = 1;
    options.list = DialectList();
    options.dryRun = true;
    ScriptedRun preview;
    const DescriptionImportResult planned = RunDescriptionImport(options, preview);
    QCOMPARE(preview.names(RunOutcome::Planned), (QStringList{"A.ZIP", "B.TXT", "C.LZH", "D.ARJ"}));
    QCOMPARE(preview.names(RunOutcome::Refused), QStringList{"NOPE.ZIP"});
    QCOMPARE(planned.unknown.size(), 1);
    QCOMPARE(planned.unknown.first().line, 9);
    QCOMPARE(planned.unread.size(), 1);
    QCOMPARE(planned.unread.first().line, 8);
    QCOMPARE(preview.said().size(), 1);
    QVERIFY(preview.said().first().startsWith(QStringLiteral("Line 8 could not be read")));
    QCOMPARE(planned.cuts, 1);
    QCOMPARE(planned.set, 4);
    QCOMPARE(planned.lines.first().line, 2);
    QCOMPARE(planned.lines.first().description, QByteArray("Alpha archive"));
    QVERIFY(before == RecordSnapshot()); // the preview wrote nothing

    options.dryRun = false;
    ScriptedRun confirmed;
    const DescriptionImportResult done = RunDescriptionImport(options, confirmed);
    QCOMPARE(confirmed.names(RunOutcome::Done), (QStringList{"A.ZIP", "B.TXT", "C.LZH", "D.ARJ"}));
    QCOMPARE(done.set, 4);
    const FullFileRec a = ReadFullRecord(1, QStringLiteral("A.ZIP"));
    QCOMPARE(Text(a.Rec.Description, sizeof a.Rec.Description), QByteArray("Alpha archive"));
    QCOMPARE(LongLine(a, 0), QByteArray("first long line"));
    QCOMPARE(LongLine(a, 1), QByteArray("second long line"));
    QCOMPARE(LongLine(a, 2), QByteArray());
    QCOMPARE(a.Rec.HasLongDescription, 1);
    const FullFileRec b = ReadFullRecord(1, QStringLiteral("B.TXT"));
    QCOMPARE(Text(b.Rec.Description, sizeof b.Rec.Description), QByteArray("Beta text"));
    QCOMPARE(b.Rec.HasLongDescription, 0);
    const FullFileRec c = ReadFullRecord(1, QStringLiteral("C.LZH"));
    QCOMPARE(Text(c.Rec.Description, sizeof c.Rec.Description),
             QByteArray("Gamma \xB0\xB1\xB2 box"));
    const FullFileRec d = ReadFullRecord(1, QStringLiteral("D.ARJ"));
    QCOMPARE(Text(d.Rec.Description, sizeof d.Rec.Description),
             QByteArray(DescriptionTextMax, 'x'));
    const FullFileRec e = ReadFullRecord(1, QStringLiteral("E.DOC"));
    QCOMPARE(Text(e.Rec.Description, sizeof e.Rec.Description), QByteArray("old text"));
    auto after = RecordSnapshot();
    QVERIFY(after != before);
    QCOMPARE(after.size(), before.size()); // nothing added without `add`

    // The same list again: every text is equal, no record is written.
    ScriptedRun again;
    const DescriptionImportResult same = RunDescriptionImport(options, again);
    QCOMPARE(same.set, 0);
    QCOMPARE(same.unchanged, 4);
    QCOMPARE(again.names(RunOutcome::Done), QStringList());
    QVERIFY(after == RecordSnapshot());
}

void TestDescriptionListRun::importAddsOnlyFilesInTheFolder()
{
    {
        QFile f(QDir(m_bbs->areaFolder(1)).filePath(QStringLiteral("NEW.TXT")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("twelve bytes");
    }
    DescriptionImportOptions options;
    options.area = 1;
    options.list = "new.txt    Fresh upload\r\n"
                   "   | its long line\r\n"
                   "GONE.TXT   Not on disk\r\n"
                   "\"A VERY LONG NAME.TXT\" Too long\r\n"
                   "..\\UP.TXT   Outside the folder\r\n";
    options.add = true;
    options.dryRun = true;
    const auto before = RecordSnapshot();
    ScriptedRun preview;
    const DescriptionImportResult planned = RunDescriptionImport(options, preview);
    QCOMPARE(preview.names(RunOutcome::Planned), QStringList{"NEW.TXT"});
    QCOMPARE(preview.lines(RunOutcome::Refused),
             (QStringList{"GONE.TXT no such file in the area's folder (line 3)",
                          "A VERY LONG NAME.TXT name too long for the file database (line 4)",
                          "..\\UP.TXT not a file name of the area's folder (line 5)"}));
    QCOMPARE(planned.added, 1);
    QVERIFY(before == RecordSnapshot());

    options.dryRun = false;
    ScriptedRun run;
    const DescriptionImportResult done = RunDescriptionImport(options, run);
    QCOMPARE(done.added, 1);
    // The add, then the freshen of the new record.
    QCOMPARE(run.names(RunOutcome::Done), (QStringList{"NEW.TXT", "NEW.TXT"}));
    QVERIFY(run.items.first().action.contains(QStringLiteral("added")));
    QCOMPARE(run.names(RunOutcome::Refused),
             (QStringList{"GONE.TXT", "A VERY LONG NAME.TXT", "..\\UP.TXT"}));
    const FullFileRec added = ReadFullRecord(1, QStringLiteral("NEW.TXT"));
    QCOMPARE(Text(added.Rec.Name, sizeof added.Rec.Name), QByteArray("NEW.TXT"));
    QCOMPARE(Text(added.Rec.Description, sizeof added.Rec.Description), QByteArray("Fresh upload"));
    QCOMPARE(LongLine(added, 0), QByteArray("its long line"));
    QCOMPARE(added.Rec.Size, 12); // freshened from the file
    QCOMPARE(RecordNamesOf(1).contains(QStringLiteral("GONE.TXT")), false);
    QCOMPARE(RecordSnapshot().size(), before.size() + 1);
}

void TestDescriptionListRun::roundTrip_data()
{
    QTest::addColumn<DescriptionListLayout>("layout");
    QTest::newRow("files.bbs") << DescriptionListLayout::FilesBbs;
    QTest::newRow("descript.ion") << DescriptionListLayout::DescriptIon;
}

void TestDescriptionListRun::roundTrip()
{
    QFETCH(DescriptionListLayout, layout);
    // Texts with every byte 0x80-0xFF, 15 full long lines, leading blanks,
    // text that looks like columns, and an empty description.
    QByteArray high;
    for (int b = 0x80; b <= 0xFF; ++b)
        high += char(b);
    auto texts = [&](int seed) {
        return [&high, seed](FullFileRec& f) {
            DescriptionEntry entry;
            entry.description = high.mid(seed * 7, DescriptionTextMax);
            for (int i = 0; i < LongDescriptionLineMax; ++i)
                entry.longLines << (high + high).mid(seed + i * 5, LongDescriptionTextMax);
            ApplyDescriptionEntry(entry, f);
        };
    };
    m_login.reset();
    m_bbs->addFile(1, QStringLiteral("HIGH1.ZIP"), nullptr, texts(0));
    m_bbs->addFile(1, QStringLiteral("HIGH2.ZIP"), nullptr, texts(3));
    m_bbs->addFile(2, QStringLiteral("HIGH3.ZIP"), nullptr, texts(9));
    m_bbs->addFile(2, QStringLiteral("BLANKS.TXT"), nullptr, [](FullFileRec& f) {
        SetRecText(f.Rec.Description, QStringLiteral("   12,345 01-02-95 [3] leading blanks"));
        SetRecText(f.LongDescription[0], QStringLiteral("  indented"));
        f.Rec.HasLongDescription = 1;
    });
    m_bbs->addFile(2, QStringLiteral("EMPTY.TXT"), nullptr, [](FullFileRec& f) {
        std::memset(f.Rec.Description, 0, sizeof f.Rec.Description);
    });
    m_login = std::make_unique<ServerLogin>();
    QVERIFY(m_login->ok());
    const auto before = RecordSnapshot();

    QTemporaryDir out;
    DescriptionExportOptions exportOptions;
    exportOptions.areas = {1, 2};
    exportOptions.layout = layout;
    exportOptions.folder = out.path();
    ScriptedRun exporting;
    const DescriptionExportResult exported = RunDescriptionExport(exportOptions, exporting);
    QCOMPARE(exported.written.size(), 2);
    QCOMPARE(exported.inexact, 0);
    QCOMPARE(exported.entries, 10);
    QCOMPARE(exporting.said(), QStringList());

    // Every text emptied, so that the import has all of them to bring back.
    for (int area : {1, 2})
        for (const QString& name : RecordNamesOf(area)) {
            FullFileRec full = ReadFullRecord(area, name);
            ApplyDescriptionEntry(DescriptionEntry{}, full);
            QVERIFY(UpdateFullFileRec(&full));
        }
    QVERIFY(before != RecordSnapshot());

    for (int area : {1, 2}) {
        QFile list(DescriptionListPath(out.path(), area, layout));
        QVERIFY(list.open(QIODevice::ReadOnly));
        DescriptionImportOptions options;
        options.area = area;
        options.list = list.readAll();
        ScriptedRun run;
        const DescriptionImportResult result = RunDescriptionImport(options, run);
        QCOMPARE(result.unread.size(), 0);
        QCOMPARE(result.unknown.size(), 0);
        QCOMPARE(result.cuts, 0);
    }
    const auto after = RecordSnapshot();
    QCOMPARE(after.size(), before.size());
    for (const auto& [key, bytes] : before)
        QVERIFY2(after.at(key) == bytes, qPrintable(key));
}

// A walk of the area that fails part way (every step after the first record
// fails): the export writes no list (the one there keeps its bytes), the
// import sets nothing, and both say so.
void TestDescriptionListRun::walkCutShortChangesNothing()
{
    QTemporaryDir dir;
    const QString listPath = DescriptionListPath(dir.path(), 1, DescriptionListLayout::FilesBbs);
    QVERIFY(QDir().mkpath(QFileInfo(listPath).absolutePath()));
    {
        QFile f(listPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("A.ZIP  the whole list of before\r\n");
    }
    const auto before = RecordSnapshot();
    WcFaultFailKind("GetNextFileRec", WC_NO_ACTION_TAKEN);

    DescriptionExportOptions exportOptions;
    exportOptions.areas = {1};
    exportOptions.folder = dir.path();
    ScriptedRun exporting;
    const DescriptionExportResult exported = RunDescriptionExport(exportOptions, exporting);
    QVERIFY(exported.failed);
    QCOMPARE(exported.written, QStringList());
    QCOMPARE(exporting.names(RunOutcome::Failed), QStringList{"FILES.BBS"});
    QCOMPARE(exporting.warnings, QStringList{QString::number(WC_NO_ACTION_TAKEN, 16)});
    QFile kept(listPath);
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("A.ZIP  the whole list of before\r\n"));

    DescriptionImportOptions importOptions;
    importOptions.area = 1;
    importOptions.list = DialectList();
    importOptions.add = true;
    ScriptedRun importing;
    const DescriptionImportResult imported = RunDescriptionImport(importOptions, importing);
    QVERIFY(imported.failed);
    QCOMPARE(imported.set + imported.added, 0);
    QVERIFY(importing.items.isEmpty());
    QVERIFY(importing.warnings.contains(QString::number(WC_NO_ACTION_TAKEN, 16)));

    WcFaultReset();
    QVERIFY(before == RecordSnapshot());
}

void TestDescriptionListRun::importStops_data()
{
    QTest::addColumn<bool>("dryRun");
    QTest::addColumn<QList<RunAnswer>>("answers");
    QTest::addColumn<bool>("stopped");
    QTest::addColumn<int>("set");
    QTest::newRow("preview ends") << true << QList<RunAnswer>{} << true << 1;
    QTest::newRow("import, stop confirmed")
        << false << QList<RunAnswer>{RunAnswer::Yes} << true << 1;
    QTest::newRow("import, stop declined")
        << false << QList<RunAnswer>{RunAnswer::No} << false << 4;
}

// A stop asked for after the first list entry: a preview ends at once, an
// import asks and then keeps what it set so far, or goes on.
void TestDescriptionListRun::importStops()
{
    QFETCH(bool, dryRun);
    QFETCH(QList<RunAnswer>, answers);
    QFETCH(bool, stopped);
    QFETCH(int, set);
    DescriptionImportOptions options;
    options.area = 1;
    options.list = DialectList();
    options.dryRun = dryRun;
    ScriptedRun run;
    run.answers = answers;
    run.stopAtCall = 2;
    const DescriptionImportResult result = RunDescriptionImport(options, run);
    QCOMPARE(result.stopped, stopped);
    QCOMPARE(result.set, set);
    QCOMPARE(run.asked, dryRun ? QStringList{} : QStringList{"Stop importing descriptions?"});
    QVERIFY(!run.unexpected);
    const FullFileRec b = ReadFullRecord(1, QStringLiteral("B.TXT"));
    QCOMPARE(Text(b.Rec.Description, sizeof b.Rec.Description),
             QByteArray(!dryRun && !stopped ? "Beta text" : "old text"));
}

void TestDescriptionListRun::windows()
{
    QTemporaryDir dir;
    const QString listPath = dir.filePath(QStringLiteral("FILES.BBS"));
    {
        QFile f(listPath);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(DialectList());
    }
    const auto before = RecordSnapshot();
    {
        // Previewed, then cancelled: nothing written.
        TDescImportForm form;
        form.show();
        QCOMPARE(form.AreaBox->currentText().section(u':', 0, 0).trimmed(), QStringLiteral("1"));
        FileDialogScript files;
        files.paths << listPath;
        form.BrowseButton->click();
        QCOMPARE(form.ListFileEdit->text(), listPath);
        QVERIFY(!form.ImportButton->isEnabled());
        form.PreviewButton->click();
        QCOMPARE(form.PreviewList->topLevelItemCount(), 4);
        QCOMPARE(form.PreviewList->topLevelItem(0)->text(0), QStringLiteral("2"));
        QCOMPARE(form.PreviewList->topLevelItem(0)->text(1), QStringLiteral("A.ZIP"));
        QCOMPARE(form.ProblemList->count(), 2);
        QVERIFY(form.ProblemList->item(0)->text().contains(QStringLiteral("NOPE.ZIP")));
        QVERIFY(form.ProblemList->item(1)->text().startsWith(QStringLiteral("Line 8")));
        QVERIFY(form.CutsLabel->text().endsWith(QStringLiteral(": 1")));
        QVERIFY(form.ImportButton->isEnabled());
        form.CancelButton->click();
        QVERIFY(before == RecordSnapshot());

        // Previewed again and imported.
        form.PreviewButton->click();
        DialogScript dialogs;
        form.ImportButton->click();
        QCOMPARE(form.result(), int(QDialog::Accepted));
        QVERIFY(dialogs.contains(QStringLiteral("Descriptions set: 4, records added: 0")));
    }
    const FullFileRec a = ReadFullRecord(1, QStringLiteral("A.ZIP"));
    QCOMPARE(Text(a.Rec.Description, sizeof a.Rec.Description), QByteArray("Alpha archive"));

    TDescExportForm exporting;
    exporting.show();
    QCOMPARE(exporting.AreaList->count(), 2);
    exporting.FormatBox->setCurrentIndex(1);
    exporting.FolderEdit->setText(dir.filePath(QStringLiteral("out")));
    DialogScript dialogs;
    exporting.ExportButton->click();
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("out/1/DESCRIPT.ION"))));
    QVERIFY(QFile::exists(dir.filePath(QStringLiteral("out/2/DESCRIPT.ION"))));
}

VT_TEST_MAIN(TestDescriptionListRun)
#include "test_descriptionlistrun.moc"
