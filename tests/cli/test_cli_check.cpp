// vtfilemgr-cli check, run as the built program on a temporary BBS: one
// case per kind of finding (and the description lists it leaves alone),
// each in text and json with its exit code; bad input; every record byte
// and every file of the folders the same after it; the store's check
// through the command on a damaged row and (SQLite) a damaged file.
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcStore.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <memory>

namespace
{

// The local time every sound record and its file carry.
const QDateTime kWhen(QDate(2020, 6, 1), QTime(12, 0, 0));

FILETIME RecordTime(const QDateTime& when)
{
    const QDate d = when.date();
    const QTime t = when.time();
    return TestTime(d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second());
}

// Writes a file and sets its modification time.
void PutFile(const QString& folder, const QString& name, const QByteArray& bytes,
             const QDateTime& when = kWhen)
{
    const QString path = QDir(folder).filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    f.close();
    struct timespec times[2] = {{when.toSecsSinceEpoch(), 0}, {when.toSecsSinceEpoch(), 0}};
    if (::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0) != 0)
        qFatal("cannot date %s", qPrintable(path));
}

void AddRecord(TestBbs& bbs, int area, const QString& name, int32_t size,
               const QDateTime& when = kWhen)
{
    bbs.addFile(area, name, nullptr, [&](FullFileRec& full) {
        full.Rec.Size = size;
        full.Rec.FileTime = RecordTime(when);
    });
}

// A record and its file, in agreement.
void AddSound(TestBbs& bbs, int area, const QString& name, const QByteArray& bytes)
{
    PutFile(bbs.areaFolder(area), name, bytes);
    AddRecord(bbs, area, name, int32_t(bytes.size()));
}

// The faults of the table, put into area 1 beside its sound record.
enum class Fault {
    None,
    DescriptionLists,
    OtherLetters,
    MissingFile,
    OrphanFile,
    CaseTwins,
    SizeDiffers,
    DateDiffers,
    TooLarge,
    EmptyFolder,
    MissingFolder,
    FolderIsFile,
    Link,
};

void MakeFault(TestBbs& bbs, Fault fault)
{
    const QString folder = bbs.areaFolder(1);
    switch (fault) {
    case Fault::None:
        break;
    case Fault::DescriptionLists:
        PutFile(folder, QStringLiteral("FILES.BBS"), "GOOD.ZIP  A good file\r\n");
        PutFile(folder, QStringLiteral("descript.ion"), "good.zip A good file\r\n");
        break;
    case Fault::OtherLetters:
        // The record's file on disk in other letters: the server finds it.
        PutFile(folder, QStringLiteral("MIXED.ZIP"), "mixed");
        AddRecord(bbs, 1, QStringLiteral("Mixed.Zip"), 5);
        break;
    case Fault::MissingFile:
        AddRecord(bbs, 1, QStringLiteral("LOST.ZIP"), 5);
        break;
    case Fault::OrphanFile:
        PutFile(folder, QStringLiteral("EXTRA.ZIP"), "extra");
        break;
    case Fault::Link:
        // A record names a link that leads out of the area folder; size and
        // date agree, so the link is the one finding.
        PutFile(bbs.home(), QStringLiteral("OUTSIDE.TXT"), "secret");
        AddRecord(bbs, 1, QStringLiteral("SECRET.TXT"), 6);
        if (!QFile::link(bbs.home() + QStringLiteral("/OUTSIDE.TXT"),
                         folder + QStringLiteral("/SECRET.TXT")))
            qFatal("cannot make the link");
        break;
    case Fault::CaseTwins:
        // The record finds FOO.ZIP; foo.zip is one name too many, and no
        // record names it.
        AddSound(bbs, 1, QStringLiteral("FOO.ZIP"), "foo");
        PutFile(folder, QStringLiteral("foo.zip"), "other foo");
        break;
    case Fault::SizeDiffers:
        PutFile(folder, QStringLiteral("SIZE.ZIP"), QByteArray(20, 's'));
        AddRecord(bbs, 1, QStringLiteral("SIZE.ZIP"), 10);
        break;
    case Fault::DateDiffers:
        PutFile(folder, QStringLiteral("DATE.ZIP"), "date", kWhen.addDays(30));
        AddRecord(bbs, 1, QStringLiteral("DATE.ZIP"), 4);
        break;
    case Fault::TooLarge: {
        // 2^31 bytes, sparse: takes no room on disk.
        const QByteArray path = QFile::encodeName(QDir(folder).filePath(QStringLiteral("BIG.ISO")));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || ::ftruncate(fd, off_t(1) << 31) != 0)
            qFatal("cannot make the sparse file");
        ::close(fd);
        struct timespec times[2] = {{kWhen.toSecsSinceEpoch(), 0}, {kWhen.toSecsSinceEpoch(), 0}};
        ::utimensat(AT_FDCWD, path.constData(), times, 0);
        AddRecord(bbs, 1, QStringLiteral("BIG.ISO"), INT32_MAX);
        break;
    }
    case Fault::EmptyFolder:
        if (!QFile::remove(QDir(folder).filePath(QStringLiteral("GOOD.ZIP"))))
            qFatal("cannot empty the folder");
        break;
    case Fault::MissingFolder:
        if (!QDir(folder).removeRecursively())
            qFatal("cannot remove the folder");
        break;
    case Fault::FolderIsFile:
        if (!QDir(folder).removeRecursively())
            qFatal("cannot remove the folder");
        PutFile(QFileInfo(folder).path(), QFileInfo(folder).fileName(), "not a folder");
        break;
    }
}

QJsonObject JsonOf(const CliRun& run)
{
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(run.out.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError)
        qWarning("not json: %s\n%s", qPrintable(error.errorString()), qPrintable(run.out));
    return doc.object();
}

// Every file of a folder tree with its size, time and bytes (files up to
// 1 MiB read whole).
QMap<QString, QByteArray> FolderState(const QString& root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat sb {
        };
        ::lstat(QFile::encodeName(path).constData(), &sb);
        QByteArray value = QByteArray::number(qint64(sb.st_size)) + ' ' +
                           QByteArray::number(qint64(sb.st_mtim.tv_sec)) + '.' +
                           QByteArray::number(qint64(sb.st_mtim.tv_nsec)) + ' ' +
                           QByteArray::number(uint(sb.st_mode), 8);
        QFile f(path);
        if (S_ISREG(sb.st_mode) && sb.st_size <= (1 << 20) && f.open(QIODevice::ReadOnly))
            value += ' ' + f.readAll();
        out.insert(QDir(root).relativeFilePath(path), value);
    }
    return out;
}

} // namespace

class TestCliCheck : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;

    QStringList check(const QString& areas = QStringLiteral("all")) const
    {
        return {QStringLiteral("--home"), m_bbs->home(), QStringLiteral("check"),
                QStringLiteral("--areas"), areas};
    }

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Uploads"));
        m_bbs->addArea(2, QStringLiteral("Games"));
        AddSound(*m_bbs, 1, QStringLiteral("GOOD.ZIP"), "good");
        AddSound(*m_bbs, 2, QStringLiteral("GAME.ZIP"), "game");
    }

    void cleanup() { m_bbs.reset(); }

    void findings_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("code");
        // "kind<TAB>name" of each finding, in the order of the output.
        QTest::addColumn<QStringList>("found");
        QTest::addColumn<QString>("detail"); // a piece of the first finding's detail

        auto row = [](const char* name, Fault fault, const QStringList& found, const char* detail) {
            QTest::newRow(name) << int(fault) << (found.isEmpty() ? 0 : 1) << found
                                << QString::fromUtf8(detail);
        };
        row("sound", Fault::None, {}, "");
        row("description lists not reported", Fault::DescriptionLists, {}, "");
        row("file in other letters", Fault::OtherLetters, {}, "");
        row("missing file", Fault::MissingFile, {QStringLiteral("missing\tLOST.ZIP")},
            "no file of this name");
        row("orphan file", Fault::OrphanFile, {QStringLiteral("orphan\tEXTRA.ZIP")},
            "file 5 bytes, no record names it");
        row("case twins", Fault::CaseTwins,
            {QStringLiteral("orphan\tfoo.zip"), QStringLiteral("case-twins\tFOO.ZIP")},
            "file 9 bytes");
        row("size differs", Fault::SizeDiffers, {QStringLiteral("size\tSIZE.ZIP")},
            "record 10 bytes, file 20 bytes");
        row("date differs", Fault::DateDiffers, {QStringLiteral("date\tDATE.ZIP")},
            "record 2020-06-01 12:00:00, file 2020-07-01 12:00:00");
        row("too large", Fault::TooLarge, {QStringLiteral("too-large\tBIG.ISO")},
            "file 2147483648 bytes");
        row("empty folder", Fault::EmptyFolder, {QStringLiteral("offline\t")},
            "holds none of the 1 files");
        row("missing folder", Fault::MissingFolder, {QStringLiteral("offline\t")},
            "does not exist");
        row("link", Fault::Link, {QStringLiteral("link\tSECRET.TXT")},
            "/OUTSIDE.TXT; a record names it");
        row("folder is a file", Fault::FolderIsFile, {QStringLiteral("offline\t")},
            "is not a folder");
    }

    void findings()
    {
        QFETCH(int, fault);
        QFETCH(int, code);
        QFETCH(QStringList, found);
        QFETCH(QString, detail);
        MakeFault(*m_bbs, Fault(fault));

        const CliRun text = RunCli(check());
        QVERIFY2(text.code == code, qPrintable(text.out + text.err));
        QStringList lines = text.out.trimmed().split(u'\n');
        QVERIFY(lines.size() >= 2);
        const QString last = lines.takeLast();
        const QString summary = lines.takeLast();
        QVERIFY2(summary.startsWith(QStringLiteral("checked 2 areas")), qPrintable(summary));
        QStringList got;
        for (const QString& line : lines)
            got << line.section(u'\t', 0, 2);
        QStringList expected;
        for (const QString& f : found)
            expected << QStringLiteral("1\t") + f;
        QCOMPARE(got, expected);
        if (found.isEmpty()) {
            QCOMPARE(last, QStringLiteral("no findings"));
        } else {
            QVERIFY2(last.startsWith(QStringLiteral("%1 findings: ").arg(found.size())),
                     qPrintable(last));
            QVERIFY2(lines.first().section(u'\t', 3).contains(detail), qPrintable(lines.first()));
        }

        const CliRun json = RunCli(check() << QStringLiteral("--format") << QStringLiteral("json"));
        QCOMPARE(json.code, code);
        const QJsonObject all = JsonOf(json);
        QCOMPARE(all.value(QStringLiteral("total")).toInt(), int(found.size()));
        const QJsonArray findings = all.value(QStringLiteral("findings")).toArray();
        QCOMPARE(findings.size(), found.size());
        for (qsizetype i = 0; i < found.size(); ++i) {
            const QJsonObject f = findings.at(i).toObject();
            QCOMPARE(f.value(QStringLiteral("area")).toInt(), 1);
            QCOMPARE(f.value(QStringLiteral("kind")).toString() + u'\t' +
                         f.value(QStringLiteral("name")).toString(),
                     found.at(i));
        }
        const QJsonArray areas = all.value(QStringLiteral("areas")).toArray();
        QCOMPARE(areas.size(), 2);
        const bool offline = !found.isEmpty() && found.first().startsWith(QLatin1String("offline"));
        QCOMPARE(areas.at(0).toObject().value(QStringLiteral("offline")).toBool(), offline);
        QCOMPARE(areas.at(1).toObject().value(QStringLiteral("offline")).toBool(), false);
        if (Fault(fault) == Fault::TooLarge) {
            const QJsonObject f = findings.at(0).toObject();
            QCOMPARE(f.value(QStringLiteral("fileSize")).toDouble(), 2147483648.0);
            QCOMPARE(f.value(QStringLiteral("recordSize")).toDouble(), 2147483647.0);
        }
        if (Fault(fault) == Fault::CaseTwins)
            QCOMPARE(findings.at(1).toObject().value(QStringLiteral("names")).toArray(),
                     (QJsonArray{QStringLiteral("FOO.ZIP"), QStringLiteral("foo.zip")}));

        // The other area alone is sound.
        QCOMPARE(RunCli(check(QStringLiteral("2"))).code, 0);
    }

    // Areas on one folder: a file that a record of an area not asked for
    // names is no orphan of the area asked for.
    void sharedFolder()
    {
        const std::string error =
            wcadmin::AddArea(m_bbs->homeStd(), 3, "Mirror", m_bbs->areaFolder(1).toStdString());
        QVERIFY2(error.empty(), error.c_str());
        PutFile(m_bbs->areaFolder(1), QStringLiteral("MIRROR.ZIP"), "mirror");
        AddRecord(*m_bbs, 3, QStringLiteral("MIRROR.ZIP"), 6);
        QCOMPARE(RunCli(check(QStringLiteral("1"))).code, 0);
        QCOMPARE(RunCli(check(QStringLiteral("all"))).code, 0);
        // Without the record the file is one.
        QString sqlError;
        QVERIFY2(RunStoreSql(*m_bbs, "DELETE FROM files WHERE area = 3", &sqlError),
                 qPrintable(sqlError));
        const CliRun run = RunCli(check(QStringLiteral("1")));
        QCOMPARE(run.code, 1);
        QVERIFY2(run.out.contains(QStringLiteral("1\torphan\tMIRROR.ZIP\t")), qPrintable(run.out));
    }

    void badInput_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("message");
        QTest::newRow("no areas") << QStringList{} << QStringLiteral("check needs --areas");
        QTest::newRow("unknown format")
            << QStringList{QStringLiteral("--areas"), QStringLiteral("all"),
                           QStringLiteral("--format"), QStringLiteral("csv")}
            << QStringLiteral("unknown --format");
        QTest::newRow("unknown area")
            << QStringList{QStringLiteral("--areas"), QStringLiteral("9")} << QString();
        QTest::newRow("unreadable spec")
            << QStringList{QStringLiteral("--areas"), QStringLiteral("x-")} << QString();
    }

    void badInput()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, message);
        const CliRun run = RunCli(
            QStringList{QStringLiteral("--home"), m_bbs->home(), QStringLiteral("check")} << args);
        QCOMPARE(run.code, 2);
        QVERIFY(run.out.isEmpty());
        QVERIFY2(run.err.contains(message), qPrintable(run.err));
    }

    // Every kind of finding at once (the sparse file aside, which would
    // be read whole); check with every option leaves every record byte,
    // every file, its size, time and mode as they were.
    void changesNothing()
    {
        for (const Fault f : {Fault::DescriptionLists, Fault::MissingFile, Fault::OrphanFile,
                              Fault::CaseTwins, Fault::SizeDiffers, Fault::DateDiffers})
            MakeFault(*m_bbs, f);
        m_bbs->addArea(3, QStringLiteral("Offline"));
        AddRecord(*m_bbs, 3, QStringLiteral("CD.ZIP"), 3);
        const QMap<QString, QByteArray> records = BbsState(*m_bbs, 3);
        const std::map<QString, QByteArray> all = RecordSnapshot();
        QCOMPARE(qsizetype(all.size()), 7);
        const QMap<QString, QByteArray> folders = FolderState(m_bbs->home() + "/areas");
        QVERIFY(folders.size() >= 10);

        for (const QStringList& extra :
             {QStringList{}, QStringList{QStringLiteral("--format"), QStringLiteral("json")},
              QStringList{QStringLiteral("--integrity")}}) {
            const CliRun run = RunCli(check() << extra);
            QCOMPARE(run.code, 1);
        }
        QCOMPARE(BbsState(*m_bbs, 3), records);
        QCOMPARE(RecordSnapshot(), all);
        QCOMPARE(FolderState(m_bbs->home() + "/areas"), folders);
    }

    // A record row the walk reads as sound but that does not decode whole:
    // only the integrity pass finds it.
    void storeRowDamaged()
    {
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs,
                             TestsOnPostgres()
                                 ? "UPDATE files SET ext = '\\x00'::bytea WHERE name_key = "
                                   "'good.zip'::bytea"
                                 : "UPDATE files SET opaque_ext = x'01' WHERE name = 'GOOD.ZIP'",
                             &error),
                 qPrintable(error));
        QCOMPARE(RunCli(check()).code, 0);
        const CliRun run = RunCli(check() << QStringLiteral("--integrity"));
        QCOMPARE(run.code, 1);
        QVERIFY2(run.out.contains(QStringLiteral("1\tstore\tGOOD.ZIP\trecord: ")),
                 qPrintable(run.out));
        QVERIFY2(run.out.contains(QStringLiteral("integrity pass over 2 records")),
                 qPrintable(run.out));
        const QJsonObject json =
            JsonOf(RunCli(check() << QStringLiteral("--integrity") << QStringLiteral("--format")
                                  << QStringLiteral("json")));
        const QJsonObject f = json.value(QStringLiteral("findings")).toArray().at(0).toObject();
        QCOMPARE(f.value(QStringLiteral("kind")).toString(), QStringLiteral("store"));
        QCOMPARE(f.value(QStringLiteral("part")).toString(), QStringLiteral("record"));
        QCOMPARE(json.value(QStringLiteral("store")).toObject().value(QStringLiteral("integrity")),
                 QJsonValue(true));
    }

    // Pages of the SQLite file overwritten: SQLite's own check says so.
    void damagedSqliteFile()
    {
        if (TestsOnPostgres())
            QSKIP("SQLite only");
        {
            std::string openError;
            auto store = wcstore::OpenStore(m_bbs->homeStd(), "", false, openError);
            QVERIFY2(store, openError.c_str());
            QVERIFY(store->Begin());
            for (int i = 0; i < 2000; ++i) {
                FullFileRec full{};
                full.Rec.Area = 2;
                std::snprintf(full.Rec.Name, sizeof full.Rec.Name, "F%05d.ZIP", i);
                std::snprintf(full.Rec.Description, sizeof full.Rec.Description,
                              "record %d with some text to fill pages", i);
                QVERIFY(store->Insert(full) == wcstore::Rc::Ok);
            }
            QVERIFY(store->Commit());
        }
        QString error;
        QVERIFY2(RunStoreSql(*m_bbs, "PRAGMA wal_checkpoint(TRUNCATE)", &error), qPrintable(error));
        QFile db(m_bbs->home() + QStringLiteral("/wcsrv.db"));
        QVERIFY(db.open(QIODevice::ReadWrite));
        const qint64 pageSize = 4096, pages = db.size() / pageSize;
        QVERIFY(pages > 20);
        for (qint64 page = pages / 2; page < pages; ++page) {
            QVERIFY(db.seek(page * pageSize));
            QVERIFY(db.write(QByteArray(512, char(0x5A))) == 512);
        }
        db.close();

        const CliRun run = RunCli(check(QStringLiteral("1")) << QStringLiteral("--integrity"));
        QCOMPARE(run.code, 1);
        QVERIFY2(run.out.contains(QStringLiteral("-\tstore\t\tdatabase: integrity check: ")),
                 qPrintable(run.out));
    }
};

VT_TEST_MAIN(TestCliCheck)
#include "test_cli_check.moc"
