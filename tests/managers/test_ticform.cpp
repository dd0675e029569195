// The "Process Incoming TIC Files" window: its preview of the inbound's TICs
// changes nothing, Process runs the intake as one journaled run and shows
// each TIC's end, Cancel closes, and settings that can't run say why.
#include "config/Settings.h"
#include "managers/TTicForm.h"
#include "server/RunJournal.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTreeWidget>
#include <QtTest>

#include <zlib.h>

#include <memory>

namespace
{

bool Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray Tic(const QByteArray& echo, const QByteArray& file, const QByteArray& content)
{
    const uLong crc =
        ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.constData()),
                uInt(content.size()));
    return "Area " + echo + "\r\nFile " + file + "\r\nSize " + QByteArray::number(content.size()) +
           "\r\nCrc " + QByteArray::number(qulonglong(crc), 16) + "\r\nDesc A file\r\n";
}

QStringList LineTexts(QTreeWidget* list, int line)
{
    QStringList texts;
    QTreeWidgetItem* item = list->topLevelItem(line);
    for (int c = 0; item && c < TTicForm::ColCount; ++c)
        texts << item->text(c);
    return texts;
}

} // namespace

class TestTicForm : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<QTemporaryDir> m_folder;
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    std::unique_ptr<DialogScript> m_dialogs;

    QString inbound() const { return m_folder->filePath(QStringLiteral("inbound")); }
    void writeConfig(const QByteArray& areas)
    {
        QVERIFY(Write(ProgramFolder + QStringLiteral("vuru.cfg"),
                      "[TIC]\r\nInbound=" + QFile::encodeName(inbound()) + "\r\n[TicAreas]\r\n" +
                          areas));
    }

private slots:
    void init()
    {
        m_folder = std::make_unique<QTemporaryDir>();
        ProgramFolderOverride = m_folder->path() + u'/';
        ProgramFolder = DetermineProgramFolder();
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("One"));
        m_bbs->addArea(2, QStringLiteral("Games"));
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
        m_dialogs = std::make_unique<DialogScript>();
        QVERIFY(QDir().mkpath(inbound()));
        writeConfig("GAMES=2\r\n");
        QVERIFY(Write(inbound() + QStringLiteral("/A.TIC"), Tic("GAMES", "GAME.ZIP", "game")));
        QVERIFY(Write(inbound() + QStringLiteral("/GAME.ZIP"), "game"));
        QVERIFY(Write(inbound() + QStringLiteral("/B.TIC"), Tic("NOPE", "OTHER.ZIP", "other")));
        QVERIFY(Write(inbound() + QStringLiteral("/OTHER.ZIP"), "other"));
        // A.TIC arrived first.
        QFile a(inbound() + QStringLiteral("/A.TIC"));
        QVERIFY(a.open(QIODevice::ReadWrite));
        QVERIFY(a.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                              QFileDevice::FileModificationTime));
    }

    void cleanup()
    {
        m_dialogs.reset();
        m_login.reset();
        m_bbs.reset();
        ProgramFolderOverride.clear();
        m_folder.reset();
    }

    void previewThenProcess()
    {
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 2);
        TTicForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        auto* list = form.findChild<QTreeWidget*>(QStringLiteral("TicList"));
        auto* process = form.findChild<QPushButton*>(QStringLiteral("b_Process"));
        QVERIFY(list && process);
        QCOMPARE(list->headerItem()->text(TTicForm::ColReason), QStringLiteral("Reason"));
        QCOMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(LineTexts(list, 0),
                 (QStringList{"A.TIC", "GAMES", "2", "GAME.ZIP", "place", QString()}));
        QCOMPARE(LineTexts(list, 1), (QStringList{"B.TIC", "NOPE", QString(), "OTHER.ZIP", "bad",
                                                  "echo 'NOPE' is not in TicAreas"}));
        QCOMPARE(form.SummaryText(),
                 QStringLiteral("1 to place, 0 duplicate, 0 waiting, 1 bad, 0 failed"));
        QVERIFY(process->isEnabled());
        // The preview changed nothing.
        QCOMPARE(BbsState(*m_bbs, 2), before);
        QCOMPARE(QDir(inbound()).entryList(QDir::Files).size(), 4);

        process->click();
        QVERIFY(form.Processed());
        QVERIFY(!process->isEnabled());
        QCOMPARE(LineTexts(list, 0),
                 (QStringList{"A.TIC", "GAMES", "2", "GAME.ZIP", "placed", QString()}));
        QCOMPARE(LineTexts(list, 1).value(TTicForm::ColAction), QStringLiteral("bad"));
        QCOMPARE(form.SummaryText(),
                 QStringLiteral("1 placed, 0 duplicate, 0 waiting, 1 bad, 0 failed"));
        QVERIFY(BbsState(*m_bbs, 2).contains(QStringLiteral("rec 2 GAME.ZIP")));
        QVERIFY(QDir(inbound()).entryList(QDir::Files).isEmpty());
        QCOMPARE(QDir(inbound() + QStringLiteral("/bad")).entryList(QDir::Files),
                 (QStringList{"B.TIC", "B.TIC.reason", "OTHER.ZIP"}));
        // One run of the journal.
        QList<WcRunInfo> runs;
        QVERIFY(ListJournalRuns(0, runs));
        QCOMPARE(runs.size(), 1);
        QVERIFY(QString::fromUtf8(runs.first().Command).startsWith(QStringLiteral("tic window")));
        QCOMPARE(runs.first().Added, 1u);
        QVERIFY(m_dialogs->shown.isEmpty());
    }

    void cancelCloses()
    {
        const QMap<QString, QByteArray> before = BbsState(*m_bbs, 2);
        TTicForm form;
        OnNextModal(
            [&](QWidget*) { form.findChild<QPushButton*>(QStringLiteral("b_Cancel"))->click(); });
        QCOMPARE(form.exec(), int(QDialog::Rejected));
        QVERIFY(!form.Processed());
        QCOMPARE(BbsState(*m_bbs, 2), before);
        QCOMPARE(QDir(inbound()).entryList(QDir::Files).size(), 4);
    }

    void settingsThatCannotRun_data()
    {
        QTest::addColumn<QByteArray>("areas");
        QTest::addColumn<bool>("removeInbound");
        QTest::addColumn<QString>("summary");
        QTest::newRow("no echoes")
            << QByteArray() << false << "No file echoes are set up (Setup, File Echoes).";
        QTest::newRow("bad area") << QByteArray("GAMES=x\r\n") << false
                                  << "TicAreas: GAMES=x is not an area number";
        QTest::newRow("no inbound")
            << QByteArray("GAMES=2\r\n") << true << "The inbound folder %1 is not there.";
    }

    void settingsThatCannotRun()
    {
        QFETCH(QByteArray, areas);
        QFETCH(bool, removeInbound);
        QFETCH(QString, summary);
        writeConfig(areas);
        if (removeInbound)
            QVERIFY(QDir(inbound()).removeRecursively());
        TTicForm form;
        form.show();
        QVERIFY(QTest::qWaitForWindowExposed(&form));
        QCOMPARE(form.SummaryText(), summary.contains(u'%') ? summary.arg(inbound()) : summary);
        QVERIFY(!form.findChild<QPushButton*>(QStringLiteral("b_Process"))->isEnabled());
        QCOMPARE(form.findChild<QTreeWidget*>(QStringLiteral("TicList"))->topLevelItemCount(), 0);
    }
};

VT_TEST_MAIN(TestTicForm)
#include "test_ticform.moc"
