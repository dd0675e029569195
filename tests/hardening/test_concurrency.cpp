// A second process writes to the same BBS (updates any record, adds records
// and deletes its own) while the program lists, filters, freshens, deletes
// and moves: no crash, no hang, no corrupted or lost record, no byte of a
// record changed but the fields the two change, every walk ends, and undoing
// the program's runs gives back everything but the writer's doing. Each round
// proves that the writer's operations overlapped whole passes of the
// program's commands and that the server refused none of them.
#include "HardeningSupport.h"

#include "app/TFileMgr.h"
#include "common/Text.h"
#include "filter/SearchRecord.h"
#include "managers/ManagerSupport.h"
#include "managers/TDelMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QtTest>

#include <cstring>
#include <memory>

using namespace hard;

namespace
{

// Every record walked through the server, area by area: names per area.
// False when a walk did not end within `limit` steps.
bool WalkAll(QList<RecordRow>& out, QStringList& bad)
{
    ServerLogin login;
    const int areas = GetFileAreaCount();
    for (int area = 1; area <= areas; ++area) {
        FileRec rec{};
        uint32_t pos = 0;
        if (!SearchFileRecByAreaName(area, "", &rec, &pos))
            continue;
        int steps = 0;
        while (rec.Area == area) {
            if (++steps > 100000)
                return false;
            FullFileRec full{};
            const QString name = RecText(rec.Name);
            if (!GetFullFileRec(&rec, &full))
                bad << QStringLiteral("full record of %1 unreadable").arg(name);
            else if (std::memcmp(&full.Rec, &rec, sizeof rec) != 0)
                bad << QStringLiteral("record %1 differs from its full record").arg(name);
            if (name.isEmpty() || name.size() > 12 || name.contains(u'/'))
                bad << QStringLiteral("record with a damaged name '%1'").arg(name);
            const QString desc = RecText(full.Rec.Description);
            if (!desc.isEmpty() && !desc.startsWith(QLatin1String("writer ")) &&
                desc != QLatin1String("Program update"))
                bad << QStringLiteral("record %1 with a damaged description").arg(name);
            out.append({area, name});
            if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &pos))
                break;
        }
    }
    return true;
}

} // namespace

class TestConcurrency : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<Sandbox> m_template;
    Layout m_layout;
    QList<Figure> m_figures;
    QString m_writer;

    static constexpr int kRounds = 3;

private slots:
    void initTestCase()
    {
        EventPump::SetInterval(0);
        m_writer = QCoreApplication::applicationDirPath() + QStringLiteral("/hard_writer_child");
        QVERIFY(QFile::exists(m_writer));
        m_template = std::make_unique<Sandbox>();
        QVERIFY(m_template->ok());
        m_layout = BuildStandardBbs(m_template->home());
        QCOMPARE(m_layout.contents.size(), 50);
        QCOMPARE(m_layout.images.size(), 50);
    }

    void cleanupTestCase() { PrintFigures(QStringLiteral("Concurrent writer"), m_figures); }

    void programAndWriterTogether()
    {
        QStringList failures;
        long writerOps = 0, writerRefused = 0, writerGone = 0, passes = 0, overlapped = 0,
             runsUndone = 0;
        for (int round = 0; round < kRounds; ++round) {
            Sandbox box(m_template->root());
            QVERIFY(box.ok());
            box.enter();
            const BbsBytes state = TakeBbsBytes(box.home());
            AnswerHook hook;
            Expect expect;
            // The writer counts downloads and describes; the program
            // describes, freshens and moves area 2 to 3 and 1 to 2.
            expect.allow(m_layout.contents.keys(), FDownloads | FDescription | FSize | FFileTime);
            expect.allowMove(m_layout.namesIn(1), 2);
            expect.allowMove(m_layout.namesIn(2), 3);
            expect.newRecordFields = FArea | FName | FSize | FFileTime | FDownloads | FDescription;
            QList<QPair<qint64, qint64>> passTimes;

            QProcess writer;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("WCSRV_HOME"), box.home());
            env.insert(QStringLiteral("XDG_RUNTIME_DIR"), box.root() + QStringLiteral("/tmp"));
            writer.setProcessEnvironment(env);
            writer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
            const int writerMs = 2500;
            writer.start(m_writer, {QString::number(writerMs), QString::number(round + 1)});
            QVERIFY(writer.waitForStarted(10000));
            QVERIFY(writer.waitForReadyRead(30000));

            {
                Watchdog dog(QStringLiteral("concurrency round %1").arg(round), HangSeconds());
                auto w = std::make_unique<TFileMgr>();
                w->show();
                int pass = 0;
                // At least two passes, and on while the writer writes.
                while (pass < 2 || writer.state() == QProcess::Running) {
                    ++pass;
                    passTimes.append({WallMs(), 0});
                    // Filtered listing over all areas.
                    std::memset(&CurrentSearchRecord, 0, sizeof CurrentSearchRecord);
                    CurrentSearchRecord.ExistOnDiskOp = FlagYes;
                    FilterDefined = true;
                    w->cb_FileFilter->setChecked(true);
                    w->cb_FileFilterClick();
                    // Plain listing of area 2, update two records, freshen two.
                    w->ChooseArea(1);
                    if (w->FileListBox->Count() >= 4) {
                        w->FileListBox->SetSelected(0, true);
                        w->FileListBox->SetSelected(1, true);
                        w->FileListBox->SetItemIndex(1);
                        w->f_desc->setText(QStringLiteral("Program update"));
                        w->b_freshenClick();
                        w->FileListBox->clearSelection();
                        w->FileListBox->SetSelected(2, true);
                        w->FileListBox->SetSelected(3, true);
                        w->FileListBox->SetItemIndex(3);
                        w->b_freshenClick();
                    }
                    // Delete the first line of area 2, move the next one to area 3.
                    if (w->FileListBox->Count() >= 2) {
                        const QString name = w->FileListBox->Line(0);
                        expect.mayVanish << name.toUpper();
                        w->FileListBox->clearSelection();
                        w->FileListBox->SetSelected(0, true);
                        w->FileListBox->SetItemIndex(0);
                        w->b_DeleteClick();
                        w->FileListBox->clearSelection();
                        w->FileListBox->SetSelected(0, true);
                        w->FileListBox->SetItemIndex(0);
                        ChooseTarget(3);
                        w->b_MoveClick();
                    }
                    QApplication::processEvents();
                    passTimes.last().second = WallMs();
                }
                passes += pass;
                // The managers: a file list, moving area 1 to 2, deleting area 3.
                {
                    TFileListMgrForm list;
                    list.show();
                    list.b_SelectAllClick();
                    list.e_OutputFile->setText(box.out() + QStringLiteral("/list.txt"));
                    list.b_MakeFileListClick();
                    list.close();
                }
                {
                    TMoveMgr move;
                    move.show();
                    LineOfArea(move.AreaList1, 1)->setSelected(true);
                    LineOfArea(move.AreaList2, 2)->setSelected(true);
                    move.b_MoveToList2Click();
                    move.close();
                }
                for (const RecordRow& r : AllRecords(box.home()))
                    if (r.area == 3)
                        expect.mayVanish << r.name.toUpper();
                {
                    TDelMgr del;
                    del.show();
                    LineOfArea(del.AreaList, 3)->setSelected(true);
                    del.b_DeleteClick();
                    del.close();
                }
                w->close();
                w.reset();
                QApplication::processEvents();
            }
            if (writer.state() != QProcess::NotRunning &&
                !writer.waitForFinished(HangSeconds() * 1000))
                failures << QStringLiteral("round %1: the writer hung").arg(round);
            const QByteArray out = writer.readAllStandardOutput();
            const QList<QByteArray> span =
                out.mid(out.indexOf("span ")).split('\n').value(0).split(' ');
            const QList<QByteArray> words = out.mid(out.indexOf("ops ")).trimmed().split(' ');
            if (words.size() == 6 && span.size() == 3) {
                writerOps += words[1].toLong();
                writerRefused += words[3].toLong();
                writerGone += words[5].toLong();
                if (words[3].toLong() != 0)
                    failures << QStringLiteral("round %1: the server refused %2 of the writer's "
                                               "operations")
                                    .arg(round)
                                    .arg(QString::fromLatin1(words[3]));
                // Passes of the program's commands that ran wholly while the
                // writer wrote.
                const qint64 first = span[1].toLongLong(), last = span[2].toLongLong();
                int inside = 0;
                for (const auto& t : passTimes)
                    inside += t.first >= first && t.second <= last;
                overlapped += inside;
                if (inside == 0)
                    failures << QStringLiteral("round %1: no pass of the program's commands ran "
                                               "while the writer wrote")
                                    .arg(round);
            } else {
                failures << QStringLiteral("round %1: writer said %2")
                                .arg(round)
                                .arg(QString::fromLatin1(out));
            }

            // The writer's own records may stay or go; their files are known.
            QList<RecordRow> walked;
            QStringList bad;
            if (!WalkAll(walked, bad))
                bad << QStringLiteral("a walk did not end");
            const QList<RecordRow> rows = AllRecords(box.home());
            if (walked.size() != rows.size())
                bad << QStringLiteral("the walk found %1 records, the database holds %2")
                           .arg(walked.size())
                           .arg(rows.size());
            for (const RecordRow& r : rows)
                if (r.name.startsWith(QLatin1String("WR")))
                    expect.mayAppear.insert(r.name, FileContent(r.name, 128));
            // So may the writer's files whose records went with a move or a delete.
            for (int area = 1; area <= 3; ++area)
                for (const QString& n : QDir(box.home() + QStringLiteral("/areas/%1").arg(area))
                                            .entryList({QStringLiteral("WR*")}, QDir::Files))
                    expect.mayAppear.insert(n, FileContent(n, 128));
            bad << CheckBbs(box, m_layout, expect);
            // Undoing the program's runs gives back all but the writer's doing.
            const UndoResult undone = UndoBesideWriter(box.home(), state, FDownloads | FDescription,
                                                       QStringLiteral("WR"));
            bad << undone.problems;
            runsUndone += undone.runs;
            if (undone.runs == 0)
                bad << QStringLiteral("no run to undo");
            if (!bad.isEmpty())
                failures << QStringLiteral("round %1: %2")
                                .arg(round)
                                .arg(bad.mid(0, 6).join(QStringLiteral("; ")));
            box.leave();
        }
        m_figures << Figure{QStringLiteral("program commands with a concurrent writer"), kRounds,
                            long(failures.size()),
                            QStringLiteral("%1 command passes, %2 of them wholly while the writer "
                                           "wrote; writer: %3 operations, %4 refused, %5 found "
                                           "their record gone; %6 runs undone")
                                .arg(passes)
                                .arg(overlapped)
                                .arg(writerOps)
                                .arg(writerRefused)
                                .arg(writerGone)
                                .arg(runsUndone)};
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(u'\n')));
    }
};

VT_TEST_MAIN(TestConcurrency)
#include "test_concurrency.moc"
