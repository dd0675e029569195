// The file echo intake's run on a real BBS, without a window: one table row
// per outcome (placed, waiting, refused into the bad folder with its reason,
// only the TIC refused, duplicate, Replaces with wildcards, the same name
// replaced or kept, Never Overwrite, an intake cut short and finished by
// the next run), each comparing every record byte for byte and the files
// of the inbound, the bad folder and the area folders; the preview against
// the run; the order of file times; the copy between file systems; the
// announcement; and the undo of an intake that replaced files.
#include "archive/TicCheck.h"
#include "common/AreaLines.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "managers/FileListRun.h"
#include "managers/TicRun.h"
#include "platform/wcsrv/WcFault.h"
#include "server/RunJournal.h"
#include "server/wcsrv.h"
#include "tests/support/ScriptedRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>

namespace
{

// The time every data file is given, so that its record's date is known.
const QDateTime kFileTime = QDateTime(QDate(2024, 3, 1), QTime(12, 0), Qt::UTC);

QByteArray Crc(const QByteArray& bytes)
{
    const uLong crc =
        ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(bytes.constData()),
                uInt(bytes.size()));
    return CrcText(quint32(crc));
}

QByteArray Lines(const QList<QByteArray>& lines, const char* end = "\r\n")
{
    QByteArray out;
    for (const QByteArray& l : lines)
        out += l + end;
    return out;
}

// The files of a folder (not its subfolders) by name, with their bytes.
QMap<QString, QByteArray> FolderFiles(const QString& path)
{
    QMap<QString, QByteArray> files;
    const QDir dir(path);
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden)) {
        QFile f(dir.filePath(name));
        if (f.open(QIODevice::ReadOnly))
            files.insert(name, f.readAll());
    }
    return files;
}

FILETIME LocalOf(const QDateTime& when)
{
    const quint64 ticks = quint64(when.toSecsSinceEpoch() + 11644473600LL) * 10000000ULL;
    const FILETIME utc{uint32_t(ticks & 0xFFFFFFFFu), uint32_t(ticks >> 32)};
    FILETIME local{};
    if (!FileTimeToLocal(utc, local))
        qFatal("FileTimeToLocal failed");
    return local;
}

QByteArray RecordBytes(const FullFileRec& rec)
{
    return QByteArray(reinterpret_cast<const char*>(&rec), sizeof rec);
}

// A record the intake is to store.
struct NewRecord {
    int area = 0;
    QByteArray name;
    QByteArray description;
    QList<QByteArray> longDescription;
    QByteArray content;
    QString uploader; // looked up as the intake does; empty or unknown: zero
};

FullFileRec ExpectedRecord(const NewRecord& n)
{
    FullFileRec rec{};
    std::memset(&rec, 0, sizeof rec);
    rec.Rec.Area = n.area;
    std::memcpy(rec.Rec.Name, n.name.constData(), size_t(n.name.size()));
    std::memcpy(rec.Rec.Description, n.description.constData(), size_t(n.description.size()));
    for (int i = 0; i < n.longDescription.size(); ++i)
        std::memcpy(rec.LongDescription[i], n.longDescription[i].constData(),
                    size_t(n.longDescription[i].size()));
    rec.Rec.HasLongDescription = n.longDescription.isEmpty() ? 0 : 1;
    rec.Rec.Size = int32_t(n.content.size());
    rec.Rec.FileTime = LocalOf(kFileTime);
    UserRef user{};
    if (!n.uploader.isEmpty() && LookupName(n.uploader.toLatin1().constData(), &user))
        rec.Rec.Uploader = user;
    return rec;
}

} // namespace

class TestTicRun;

// One row of the intake table.
struct TicCase {
    const char* name;
    std::function<void(TestTicRun&)> setup;
    TicAction action;
    QString actionText;               // the row's action as the run reports it
    QString reason;                   // a part of the row's reason (empty: none expected)
    QStringList inbound;              // the inbound's files after the run
    QStringList bad;                  // the bad folder's files after the run
    QMap<int, QStringList> areaFiles; // each area folder's files after the run
    QStringList gone;                 // records ("1:NAME") the run removes
    std::optional<NewRecord> added;   // the record the run stores
};

class TestTicRun : public QObject
{
    Q_OBJECT

public:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    std::unique_ptr<QTemporaryDir> m_in;
    TicSettings m_settings;

    QString inbound() const { return m_in->path(); }
    QString bad() const { return m_settings.BadFolderPath(); }

    // A file of the inbound; a TIC's time `ageSeconds` before now, a data
    // file's kFileTime.
    void put(const QString& name, const QByteArray& bytes, qint64 ageSeconds = -1)
    {
        QFile f(QDir(inbound()).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        QCOMPARE(f.write(bytes), bytes.size());
        f.close();
        setTime(f.fileName(),
                ageSeconds < 0 ? kFileTime : QDateTime::currentDateTimeUtc().addSecs(-ageSeconds));
    }
    static void setTime(const QString& path, const QDateTime& when)
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(when, QFileDevice::FileModificationTime));
    }
    // A TIC for `file` of `content` in `echo`, with Size and Crc, and more lines.
    void putTic(const QString& ticName, const QByteArray& echo, const QByteArray& file,
                const QByteArray& content, const QList<QByteArray>& more = {},
                qint64 ageSeconds = 7200)
    {
        QList<QByteArray> lines{"Area " + echo,
                                "Origin 21:1/100",
                                "From 21:1/100",
                                "File " + file,
                                "Size " + QByteArray::number(content.size()),
                                "Crc " + Crc(content)};
        // The uplink's password, unless the row gives its own Pw line.
        if (std::none_of(more.begin(), more.end(),
                         [](const QByteArray& l) { return l.startsWith("Pw "); }))
            lines << "Pw Secret";
        lines += more;
        put(ticName, Lines(lines), ageSeconds);
    }
    // A file with its record in the area (both dated kFileTime).
    void addAreaFile(int area, const QString& name, const QByteArray& content,
                     const std::function<void(FullFileRec&)>& edit = {})
    {
        m_bbs->addFile(area, name, &content, edit);
        setTime(QDir(m_bbs->areaFolder(area)).filePath(name), kFileTime);
    }
    void putInArea(int area, const QString& name, const QByteArray& content)
    {
        QFile f(QDir(m_bbs->areaFolder(area)).filePath(name));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(content);
        f.close();
        setTime(f.fileName(), kFileTime);
    }

    TicRunResult run(bool dryRun, ScriptedRun& script, const QString& announce = QString())
    {
        TicRunOptions options;
        options.settings = m_settings;
        options.dryRun = dryRun;
        options.announcePath = announce;
        return RunTicIntake(options, script);
    }

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("Nodelists"));
        m_bbs->addArea(2, QStringLiteral("Games"));
        m_bbs->addUser(QStringLiteral("Tic Robot"));
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
        m_in = std::make_unique<QTemporaryDir>();
        QVERIFY(m_in->isValid());
        m_settings = TicSettings();
        m_settings.inbound = m_in->path();
        m_settings.uploader = QStringLiteral("Tic Robot");
        m_settings.areas = {{QStringLiteral("NODELIST"), 1}, {QStringLiteral("games"), 2}};
        m_settings.passwords = {{QStringLiteral("21:1/100"), QStringLiteral("Secret")}};
        SetRecordCodePage(RecordCodePage::Latin1);
    }

    void cleanup()
    {
        m_login.reset();
        m_bbs.reset();
        m_in.reset();
    }

    void intake_data();
    void intake();
    void previewChangesNothing();
    void fileTimeOrder();
    void copyBetweenFileSystems();
    void failedCopyLeavesTheInbound();
    void announcement();
    void undoOfReplacingIntake();
    void ticsMeetingEarlierOnes();
    void batchRefused_data();
    void batchRefused();
    void wildcards_data();
    void wildcards();
    void noInbound();
};

namespace
{

const QByteArray kDiff = QByteArray("nodediff for day 23\r\n").repeated(40);
const QByteArray kGame = QByteArray("a game\x1a\x00\xff", 9).repeated(300);
const QByteArray kOld = QByteArray("an older file");

std::vector<TicCase> Cases()
{
    using T = TestTicRun;
    const QStringList none;
    std::vector<TicCase> cases;
    cases.push_back({"placed",
                     [](T& t) {
                         t.putTic("NODE0001.TIC", "NODELIST", "NODEDIFF.A23", kDiff,
                                  {"Pw sECRET", "Desc Weekly nodelist diff", "LDesc First line",
                                   "LDesc   indented line", "Magic NODEDIFF",
                                   "Path 21:1/100 1700000000"});
                         t.put("NODEDIFF.A23", kDiff);
                     },
                     TicAction::Place,
                     "placed",
                     QString(),
                     none,
                     none,
                     {{1, {"NODEDIFF.A23"}}},
                     none,
                     NewRecord{1,
                               "NODEDIFF.A23",
                               "Weekly nodelist diff",
                               {"First line", "  indented line"},
                               kDiff,
                               "Tic Robot"}});
    cases.push_back(
        {"lower case, LF, several Desc, CP437, file in other case",
         [](T& t) {
             t.put("game.tic",
                   Lines({"area GAMES", "file GAME.ZIP", "size " + QByteArray::number(kGame.size()),
                          "crc " + Crc(kGame).toLower(), "desc A caf\x82 game", "desc for two"},
                         "\n"),
                   7200);
             t.put("game.zip", kGame);
         },
         TicAction::Place,
         "placed",
         QString(),
         none,
         none,
         {{2, {"GAME.ZIP"}}},
         none,
         NewRecord{2, "GAME.ZIP", "A caf\xe9 game for two", {}, kGame, "Tic Robot"}});
    cases.push_back({"Lfile: the long name leads the long description",
                     [](T& t) {
                         t.putTic("LONG.TIC", "GAMES", "LONGNAME.ZIP", kGame,
                                  {"Lfile A-Game-With-A-Long-Name.zip", "Desc Short text"});
                         t.put("LONGNAME.ZIP", kGame);
                     },
                     TicAction::Place,
                     "placed",
                     QString(),
                     none,
                     none,
                     {{2, {"LONGNAME.ZIP"}}},
                     none,
                     NewRecord{2,
                               "LONGNAME.ZIP",
                               "Short text",
                               {"A-Game-With-A-Long-Name.zip", "Short text"},
                               kGame,
                               "Tic Robot"}});
    cases.push_back({"uploader unknown: zero",
                     [](T& t) {
                         t.m_settings.uploader = QStringLiteral("Nobody Known");
                         t.putTic("A.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {"Desc d"});
                         t.put("NODEDIFF.A23", kDiff);
                     },
                     TicAction::Place,
                     "placed",
                     QString(),
                     none,
                     none,
                     {{1, {"NODEDIFF.A23"}}},
                     none,
                     NewRecord{1, "NODEDIFF.A23", "d", {}, kDiff, QString()}});
    cases.push_back({"waiting: shorter than Size",
                     [](T& t) {
                         t.putTic("W.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {}, 60);
                         t.put("NODEDIFF.A23", kDiff.left(100));
                     },
                     TicAction::Wait,
                     "waiting",
                     "100 of",
                     {"NODEDIFF.A23", "W.TIC"},
                     none,
                     {{1, {}}},
                     none,
                     std::nullopt});
    cases.push_back({"waiting: not arrived",
                     [](T& t) { t.putTic("W.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {}, 60); },
                     TicAction::Wait,
                     "waiting",
                     "has not arrived yet",
                     {"W.TIC"},
                     none,
                     {{1, {}}},
                     none,
                     std::nullopt});
    cases.push_back({"missing for an hour: bad, only the TIC",
                     [](T& t) { t.putTic("M.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {}, 3700); },
                     TicAction::Bad,
                     "bad",
                     "is missing",
                     none,
                     {"M.TIC", "M.TIC.reason"},
                     {{1, {}}},
                     none,
                     std::nullopt});
    cases.push_back({"echo not in TicAreas",
                     [](T& t) {
                         t.putTic("U.TIC", "UNKNOWN", "NODEDIFF.A23", kDiff);
                         t.put("NODEDIFF.A23", kDiff);
                     },
                     TicAction::Bad,
                     "bad",
                     "echo 'UNKNOWN' is not in TicAreas",
                     none,
                     {"NODEDIFF.A23", "U.TIC", "U.TIC.reason"},
                     {{1, {}}},
                     none,
                     std::nullopt});
    cases.push_back({"path in File: only the TIC goes",
                     [](T& t) {
                         t.putTic("P.TIC", "NODELIST", "../ESCAPE.ZIP", kDiff);
                         t.put("ESCAPE.ZIP", kDiff);
                     },
                     TicAction::Bad,
                     "bad",
                     "path separator",
                     {"ESCAPE.ZIP"},
                     {"P.TIC", "P.TIC.reason"},
                     {{1, {}}},
                     none,
                     std::nullopt});
    cases.push_back({"password differs",
                     [](T& t) {
                         t.putTic("PW.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {"Pw wrong"});
                         t.put("NODEDIFF.A23", kDiff);
                     },
                     TicAction::Bad,
                     "bad",
                     "password from 21:1/100 does not match",
                     none,
                     {"NODEDIFF.A23", "PW.TIC", "PW.TIC.reason"},
                     {{1, {}}},
                     none,
                     std::nullopt});
    cases.push_back({"CRC differs",
                     [](T& t) {
                         t.putTic("C.TIC", "NODELIST", "NODEDIFF.A23", kDiff);
                         QByteArray other = kDiff;
                         other[5] = 'X';
                         t.put("NODEDIFF.A23", other);
                     },
                     TicAction::Bad,
                     "bad",
                     "Crc says",
                     none,
                     {"C.TIC", "C.TIC.reason", "NODEDIFF.A23"},
                     {{1, {}}},
                     none,
                     std::nullopt});
    cases.push_back({"duplicate",
                     [](T& t) {
                         t.addAreaFile(1, QStringLiteral("NODEDIFF.A23"), kDiff);
                         t.putTic("D.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {"Desc new text"});
                         t.put("nodediff.a23", kDiff);
                     },
                     TicAction::Duplicate,
                     "duplicate",
                     "same file",
                     none,
                     none,
                     {{1, {"NODEDIFF.A23"}}},
                     none,
                     std::nullopt});
    cases.push_back({"Replaces with wildcards",
                     [](T& t) {
                         t.addAreaFile(1, QStringLiteral("NODEDIFF.A16"), kOld);
                         t.addAreaFile(1, QStringLiteral("NODEDIFF.A09"), kOld + "2");
                         t.addAreaFile(1, QStringLiteral("NODELIST.TXT"), kOld + "3");
                         t.putTic("R.TIC", "NODELIST", "NODEDIFF.A23", kDiff,
                                  {"Replaces nodediff.a??", "Replaces NOTHERE.*", "Desc d"});
                         t.put("NODEDIFF.A23", kDiff);
                     },
                     TicAction::Place,
                     "placed, replaces NODEDIFF.A09, NODEDIFF.A16",
                     QString(),
                     none,
                     none,
                     {{1, {"NODEDIFF.A23", "NODELIST.TXT"}}},
                     {"1:NODEDIFF.A09", "1:NODEDIFF.A16"},
                     NewRecord{1, "NODEDIFF.A23", "d", {}, kDiff, "Tic Robot"}});
    cases.push_back({"same name replaced",
                     [](T& t) {
                         t.addAreaFile(2, QStringLiteral("GAME.ZIP"), kOld);
                         t.putTic("S.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc new"});
                         t.put("GAME.ZIP", kGame);
                     },
                     TicAction::Place,
                     "placed, replaces GAME.ZIP",
                     QString(),
                     none,
                     none,
                     {{2, {"GAME.ZIP"}}},
                     {"2:GAME.ZIP"},
                     NewRecord{2, "GAME.ZIP", "new", {}, kGame, "Tic Robot"}});
    cases.push_back({"same name kept: ReplaceSameName off",
                     [](T& t) {
                         t.m_settings.replaceSameName = false;
                         t.addAreaFile(2, QStringLiteral("GAME.ZIP"), kOld);
                         t.putTic("S.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc new"});
                         t.put("GAME.ZIP", kGame);
                     },
                     TicAction::Bad,
                     "bad",
                     "ReplaceSameName is off",
                     none,
                     {"GAME.ZIP", "S.TIC", "S.TIC.reason"},
                     {{2, {"GAME.ZIP"}}},
                     none,
                     std::nullopt});
    cases.push_back({"Never Overwrite",
                     [](T& t) {
                         t.addAreaFile(2, QStringLiteral("GAME.ZIP"), kOld,
                                       [](FullFileRec& r) { r.Rec.NeverOverwrite = 1; });
                         t.putTic("N.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc new"});
                         t.put("GAME.ZIP", kGame);
                     },
                     TicAction::Bad,
                     "bad",
                     "GAME.ZIP in area 2 is marked Never Overwrite",
                     none,
                     {"GAME.ZIP", "N.TIC", "N.TIC.reason"},
                     {{2, {"GAME.ZIP"}}},
                     none,
                     std::nullopt});
    cases.push_back({"Never Overwrite named by Replaces",
                     [](T& t) {
                         t.addAreaFile(2, QStringLiteral("GAME1.ZIP"), kOld,
                                       [](FullFileRec& r) { r.Rec.NeverOverwrite = 1; });
                         t.putTic("N.TIC", "GAMES", "GAME2.ZIP", kGame, {"Replaces GAME*.ZIP"});
                         t.put("GAME2.ZIP", kGame);
                     },
                     TicAction::Bad,
                     "bad",
                     "GAME1.ZIP in area 2 is marked Never Overwrite",
                     none,
                     {"GAME2.ZIP", "N.TIC", "N.TIC.reason"},
                     {{2, {"GAME1.ZIP"}}},
                     none,
                     std::nullopt});
    cases.push_back({"cut short after the move: finished",
                     [](T& t) {
                         t.putTic("K.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc d"});
                         t.putInArea(2, QStringLiteral("GAME.ZIP"), kGame);
                     },
                     TicAction::Place,
                     "placed",
                     QString(),
                     none,
                     none,
                     {{2, {"GAME.ZIP"}}},
                     none,
                     NewRecord{2, "GAME.ZIP", "d", {}, kGame, "Tic Robot"}});
    cases.push_back({"cut short after the copy: the area's copy taken",
                     [](T& t) {
                         t.putTic("K.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc d"});
                         t.put("GAME.ZIP", kGame);
                         t.putInArea(2, QStringLiteral("GAME.ZIP"), kGame);
                     },
                     TicAction::Place,
                     "placed",
                     QString(),
                     none,
                     none,
                     {{2, {"GAME.ZIP"}}},
                     none,
                     NewRecord{2, "GAME.ZIP", "d", {}, kGame, "Tic Robot"}});
    cases.push_back({"cut short after the record: reported",
                     [](T& t) {
                         t.addAreaFile(2, QStringLiteral("GAME.ZIP"), kGame);
                         t.putTic("K.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc d"});
                     },
                     TicAction::Duplicate,
                     "duplicate",
                     "already in area 2",
                     none,
                     none,
                     {{2, {"GAME.ZIP"}}},
                     none,
                     std::nullopt});
    cases.push_back({"another file of the name without a record",
                     [](T& t) {
                         t.putTic("O.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc d"});
                         t.put("GAME.ZIP", kGame);
                         t.putInArea(2, QStringLiteral("GAME.ZIP"), kOld);
                     },
                     TicAction::Bad,
                     "bad",
                     "no record names",
                     none,
                     {"GAME.ZIP", "O.TIC", "O.TIC.reason"},
                     {{2, {"GAME.ZIP"}}},
                     none,
                     std::nullopt});
    return cases;
}

} // namespace

void TestTicRun::intake_data()
{
    QTest::addColumn<int>("index");
    const std::vector<TicCase> cases = Cases();
    for (size_t i = 0; i < cases.size(); ++i)
        QTest::newRow(cases[i].name) << int(i);
}

void TestTicRun::intake()
{
    QFETCH(int, index);
    const TicCase c = Cases()[size_t(index)];
    c.setup(*this);
    if (QTest::currentTestFailed())
        return;
    std::map<QString, QByteArray> expected = RecordSnapshot();
    const QMap<QString, QByteArray> inboundBefore = FolderFiles(inbound());

    ScriptedRun script;
    const TicRunResult result = run(false, script);
    QCOMPARE(result.rows.size(), 1);
    const TicRow& row = result.rows.first();
    QCOMPARE(int(row.action), int(c.action));
    QCOMPARE(row.actionText, c.actionText);
    if (c.reason.isEmpty())
        QCOMPARE(row.reason, QString());
    else
        QVERIFY2(row.reason.contains(c.reason), qPrintable(row.reason));

    // Every record byte for byte: the ones before, less those replaced,
    // and the new one.
    for (const QString& key : c.gone)
        QVERIFY2(expected.erase(key) == 1, qPrintable(key));
    if (c.added) {
        const FullFileRec rec = ExpectedRecord(*c.added);
        expected[QString::number(c.added->area) + u':' + QString::fromLatin1(c.added->name)] =
            RecordBytes(rec);
    }
    const std::map<QString, QByteArray> after = RecordSnapshot();
    QStringList afterKeys, expectedKeys;
    for (const auto& entry : after)
        afterKeys << entry.first;
    for (const auto& entry : expected)
        expectedKeys << entry.first;
    QCOMPARE(afterKeys, expectedKeys);
    for (const auto& [key, bytes] : expected) {
        QVERIFY2(after.count(key), qPrintable(key));
        if (after.at(key) != bytes) {
            FullFileRec got{};
            std::memcpy(&got, after.at(key).constData(), sizeof got);
            qWarning() << key << "desc" << got.Rec.Description << "size" << got.Rec.Size
                       << "uploader" << got.Rec.Uploader.UserName;
        }
        QVERIFY2(after.at(key) == bytes, qPrintable(key));
    }

    // The files in their folders.
    QCOMPARE(FolderFiles(inbound()).keys(), c.inbound);
    QCOMPARE(FolderFiles(bad()).keys(), c.bad);
    for (auto it = c.areaFiles.begin(); it != c.areaFiles.end(); ++it)
        QCOMPARE(FolderFiles(m_bbs->areaFolder(it.key())).keys(), it.value());
    // A placed file is the inbound's, byte for byte; a refused one lies in
    // bad as it arrived, its reason beside the TIC.
    if (c.added) {
        const QMap<QString, QByteArray> area = FolderFiles(m_bbs->areaFolder(c.added->area));
        QCOMPARE(area.value(QString::fromLatin1(c.added->name)), c.added->content);
    }
    if (c.action == TicAction::Bad) {
        const QMap<QString, QByteArray> badFiles = FolderFiles(bad());
        for (auto it = badFiles.begin(); it != badFiles.end(); ++it) {
            if (it.key().endsWith(QLatin1String(".reason")))
                QVERIFY(QString::fromUtf8(it.value()).contains(c.reason));
            else
                QCOMPARE(it.value(), inboundBefore.value(it.key()));
        }
    }
    // The counts add up to the one row.
    QCOMPARE(result.placed + result.duplicates + result.waiting + result.bad + result.failed, 1);
}

void TestTicRun::previewChangesNothing()
{
    // Several TICs of different fates at once: the preview's rows are the
    // run's, and the preview leaves every file and record as it was.
    addAreaFile(2, QStringLiteral("GAME.ZIP"), kOld);
    addAreaFile(1, QStringLiteral("NODEDIFF.A16"), kOld);
    putTic("1.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {"Replaces NODEDIFF.A*", "Desc d"});
    put("NODEDIFF.A23", kDiff);
    putTic("2.TIC", "GAMES", "GAME.ZIP", kGame);
    put("GAME.ZIP", kGame);
    putTic("3.TIC", "OTHER", "X.ZIP", kGame);
    putTic("4.TIC", "GAMES", "LATER.ZIP", kGame, {}, 10);
    const QMap<QString, QByteArray> bbsBefore = BbsState(*m_bbs, 2);
    const QMap<QString, QByteArray> inboundBefore = FolderFiles(inbound());

    ScriptedRun preview;
    const TicRunResult planned = run(true, preview);
    QCOMPARE(BbsState(*m_bbs, 2), bbsBefore);
    QCOMPARE(FolderFiles(inbound()), inboundBefore);
    QVERIFY(!QDir(bad()).exists());
    QCOMPARE(planned.rows.size(), 4);
    QCOMPARE(preview.count(RunOutcome::Planned), 2);

    ScriptedRun script;
    const TicRunResult done = run(false, script);
    QCOMPARE(done.rows.size(), 4);
    for (int i = 0; i < 4; ++i) {
        const TicRow& p = planned.rows[i];
        const TicRow& d = done.rows[i];
        QCOMPARE(p.tic, d.tic);
        QCOMPARE(int(p.action), int(d.action));
        QCOMPARE(p.replaces, d.replaces);
        QCOMPARE(p.reason, d.reason);
        QCOMPARE(p.echo, d.echo);
        QCOMPARE(p.area, d.area);
        QCOMPARE(p.file, d.file);
    }
    QCOMPARE(planned.rows[0].actionText, QStringLiteral("place, replaces NODEDIFF.A16"));
    QCOMPARE(done.rows[0].actionText, QStringLiteral("placed, replaces NODEDIFF.A16"));
    QCOMPARE(done.placed, 2);
    QCOMPARE(done.bad, 1);
    QCOMPARE(done.waiting, 1);
}

void TestTicRun::fileTimeOrder()
{
    // Names and times in opposite orders: the times decide.
    const QDateTime now = QDateTime::currentDateTimeUtc();
    putTic("A.TIC", "GAMES", "A.ZIP", kGame, {}, 7000);
    putTic("b.tic", "GAMES", "B.ZIP", kGame, {}, 8000);
    putTic("C.Tic", "GAMES", "C.ZIP", kGame, {}, 9000);
    put("NOTATIC.TXT", "x");
    QStringList names;
    QVERIFY(InboundTics(inbound(), names));
    QCOMPARE(names, (QStringList{"C.Tic", "b.tic", "A.TIC"}));
    Q_UNUSED(now);
}

void TestTicRun::copyBetweenFileSystems()
{
    SplitDevices split;
    putTic("G.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc d"});
    put("GAME.ZIP", kGame);
    ScriptedRun script;
    const TicRunResult result = run(false, script);
    QCOMPARE(result.placed, 1);
    QCOMPARE(script.copies, 1); // the rename was refused: copied
    QVERIFY(FolderFiles(inbound()).isEmpty());
    QCOMPARE(FolderFiles(m_bbs->areaFolder(2)).value(QStringLiteral("GAME.ZIP")), kGame);
    QCOMPARE(RecordSnapshot().at(QStringLiteral("2:GAME.ZIP")),
             RecordBytes(ExpectedRecord({2, "GAME.ZIP", "d", {}, kGame, "Tic Robot"})));
}

void TestTicRun::failedCopyLeavesTheInbound()
{
    SplitDevices split;
    putTic("G.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc d"});
    put("GAME.ZIP", kGame);
    ScriptedRun script;
    script.copyFailsAt = 1;
    const TicRunResult result = run(false, script);
    QCOMPARE(result.failed, 1);
    QCOMPARE(result.rows.first().action, TicAction::Failed);
    QCOMPARE(FolderFiles(inbound()).keys(), (QStringList{"G.TIC", "GAME.ZIP"}));
    QVERIFY(RecordSnapshot().empty());
    QVERIFY(!QDir(bad()).exists());
}

void TestTicRun::announcement()
{
    putTic("1.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc A game"});
    put("GAME.ZIP", kGame);
    putTic("2.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {"Desc The diff"});
    put("NODEDIFF.A23", kDiff);
    putTic("3.TIC", "GAMES", "OTHER.ZIP", kDiff, {"Desc Other"});
    put("OTHER.ZIP", kDiff);
    putTic("4.TIC", "NOPE", "NOPE.ZIP", kDiff);
    const QString path = QDir(m_bbs->home()).filePath(QStringLiteral("new-files.txt"));
    {
        QFile old(path);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("earlier lines\r\n");
    }
    ScriptedRun script;
    const TicRunResult result = run(false, script, path);
    QCOMPARE(result.placed, 3);
    QVERIFY(!result.announceFailed);

    auto record = [](int area, const char* name) {
        FileRec rec{};
        uint32_t at = 0;
        if (!GetFileRecByAreaName(area, name, &rec, &at))
            qFatal("no record %s", name);
        return rec;
    };
    QByteArray expected = "earlier lines\r\n";
    auto block = [&](const QString& areaLine, const QList<FileRec>& recs) {
        expected += "       \r\n" + FileListHeading(areaLine) + "\r\n";
        for (const FileRec& r : recs)
            expected += FileListLine(r) + "\r\n";
        expected += QByteArray(80, '-') + "\r\n" + FileListTotalLine(recs.size()) + "\r\n" +
                    QByteArray(80, '=') + "\r\n";
    };
    block(AreaLinePrefix(1) + QStringLiteral("Nodelists"), {record(1, "NODEDIFF.A23")});
    block(AreaLinePrefix(2) + QStringLiteral("Games"),
          {record(2, "GAME.ZIP"), record(2, "OTHER.ZIP")});
    QFile written(path);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), expected);
}

void TestTicRun::undoOfReplacingIntake()
{
    addAreaFile(2, QStringLiteral("GAME.ZIP"), kOld,
                [](FullFileRec& r) { std::strcpy(r.Rec.Description, "the old one"); });
    addAreaFile(2, QStringLiteral("GAME1.ZIP"), kOld + "1");
    putTic("S.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc new", "Replaces GAME?.ZIP"});
    put("GAME.ZIP", kGame);
    const std::map<QString, QByteArray> before = RecordSnapshot();
    const QMap<QString, QByteArray> areaBefore = FolderFiles(m_bbs->areaFolder(2));

    uint32_t id = 0;
    {
        JournaledRun journal(QStringLiteral("tic --yes"));
        QVERIFY(journal.Begun());
        id = journal.Id();
        ScriptedRun script;
        const TicRunResult result = run(false, script);
        QCOMPARE(result.placed, 1);
        QCOMPARE(result.rows.first().replaces, (QStringList{"GAME1.ZIP", "GAME.ZIP"}));
        QVERIFY(journal.End());
    }
    QCOMPARE(FolderFiles(m_bbs->areaFolder(2)).keys(), QStringList{"GAME.ZIP"});
    QVERIFY(RecordSnapshot() != before);

    WcUndoSummary summary{};
    QVERIFY(WcUndoRun(id, 0, nullptr, nullptr, &summary));
    QCOMPARE(summary.Conflicts, 0u);
    QCOMPARE(summary.Failed, 0u);
    // The old records and files are back; the new file lies in the inbound
    // again (its TIC is gone: the intake had finished).
    QVERIFY(RecordSnapshot() == before);
    QCOMPARE(FolderFiles(m_bbs->areaFolder(2)), areaBefore);
    QCOMPARE(FolderFiles(inbound()).value(QStringLiteral("GAME.ZIP")), kGame);
}

// TICs whose files are placed together must still see what each earlier
// TIC of the run did: the same file again, Replaces of a file just placed,
// and a second TIC for a file the first one took. The rows keep the TICs'
// order, with a refusal between them.
void TestTicRun::ticsMeetingEarlierOnes()
{
    putTic("1.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc first"}, 9000);
    put("GAME.ZIP", kGame);
    putTic("2.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc again"}, 8900);
    putTic("3.TIC", "OTHER", "X.ZIP", kOld, {}, 8800);
    put("X.ZIP", kOld);
    putTic("4.TIC", "GAMES", "NEW.ZIP", kDiff, {"Desc new", "Replaces GAME.*"}, 8700);
    put("NEW.ZIP", kDiff);
    putTic("5.TIC", "NODELIST", "B.ZIP", kOld, {"Desc b"}, 8600);
    put("B.ZIP", kOld);
    putTic("6.TIC", "GAMES", "B.ZIP", kOld, {"Desc b"}, 8500);

    ScriptedRun script;
    const TicRunResult result = run(false, script);
    QStringList rows;
    for (const TicRow& row : result.rows)
        rows << row.tic + u' ' + row.actionText;
    QCOMPARE(rows, (QStringList{"1.TIC placed", "2.TIC duplicate", "3.TIC bad",
                                "4.TIC placed, replaces GAME.ZIP", "5.TIC placed", "6.TIC bad"}));
    QCOMPARE(result.rows[5].reason, QStringLiteral("file 'B.ZIP' is missing"));
    QVERIFY(FolderFiles(inbound()).isEmpty());
    QCOMPARE(FolderFiles(m_bbs->areaFolder(1)), (QMap<QString, QByteArray>{{"B.ZIP", kOld}}));
    QCOMPARE(FolderFiles(m_bbs->areaFolder(2)), (QMap<QString, QByteArray>{{"NEW.ZIP", kDiff}}));
    const std::map<QString, QByteArray> records = RecordSnapshot();
    QCOMPARE(records.size(), size_t(2));
    QCOMPARE(records.at(QStringLiteral("2:NEW.ZIP")),
             RecordBytes(ExpectedRecord({2, "NEW.ZIP", "new", {}, kDiff, "Tic Robot"})));
    QCOMPARE(records.at(QStringLiteral("1:B.ZIP")),
             RecordBytes(ExpectedRecord({1, "B.ZIP", "b", {}, kOld, "Tic Robot"})));
}

// When the library refuses the gathered moves, every TIC stays in the
// inbound with its file; when it refuses the gathered records, they are
// stored one by one.
void TestTicRun::batchRefused_data()
{
    QTest::addColumn<QByteArray>("operation");
    QTest::addColumn<int>("placed");
    QTest::newRow("moves") << QByteArray("WcMoveFiles") << 0;
    QTest::newRow("records") << QByteArray("AddFileRecs") << 2;
}

void TestTicRun::batchRefused()
{
    QFETCH(QByteArray, operation);
    QFETCH(int, placed);
    putTic("1.TIC", "GAMES", "GAME.ZIP", kGame, {"Desc g"}, 9000);
    put("GAME.ZIP", kGame);
    putTic("2.TIC", "NODELIST", "NODEDIFF.A23", kDiff, {"Desc n"}, 8000);
    put("NODEDIFF.A23", kDiff);
    const QMap<QString, QByteArray> inboundBefore = FolderFiles(inbound());
    WcFaultFailKind(operation.constData(), WC_ACCESS_DENIED);
    ScriptedRun script;
    const TicRunResult result = run(false, script);
    WcFaultReset();
    QCOMPARE(result.placed, placed);
    QCOMPARE(result.failed, 2 - placed);
    if (placed == 0) {
        QCOMPARE(FolderFiles(inbound()), inboundBefore);
        QVERIFY(RecordSnapshot().empty());
        QCOMPARE(result.rows[0].reason,
                 QStringLiteral("the file could not be moved into area 2 (server error 0x%1)")
                     .arg(uint(WC_ACCESS_DENIED), 8, 16, QLatin1Char('0')));
    } else {
        QVERIFY(FolderFiles(inbound()).isEmpty());
        QCOMPARE(FolderFiles(m_bbs->areaFolder(2)).value(QStringLiteral("GAME.ZIP")), kGame);
        QCOMPARE(FolderFiles(m_bbs->areaFolder(1)).value(QStringLiteral("NODEDIFF.A23")), kDiff);
        QCOMPARE(RecordSnapshot().size(), size_t(2));
    }
}

void TestTicRun::wildcards_data()
{
    QTest::addColumn<QByteArray>("pattern");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<bool>("match");
    QTest::newRow("exact") << QByteArray("A.ZIP") << QByteArray("A.ZIP") << true;
    QTest::newRow("case") << QByteArray("a.zip") << QByteArray("A.ZIP") << true;
    QTest::newRow("star") << QByteArray("NODEDIFF.*") << QByteArray("NODEDIFF.A23") << true;
    QTest::newRow("star empty") << QByteArray("A*.ZIP") << QByteArray("A.ZIP") << true;
    QTest::newRow("question") << QByteArray("NODEDIFF.A??") << QByteArray("NODEDIFF.A2") << false;
    QTest::newRow("question one") << QByteArray("GAME?.ZIP") << QByteArray("GAME1.ZIP") << true;
    QTest::newRow("two stars") << QByteArray("*DIFF*3") << QByteArray("NODEDIFF.A23") << true;
    QTest::newRow("backtrack") << QByteArray("*A*B") << QByteArray("XAYAZB") << true;
    QTest::newRow("no") << QByteArray("*.ARJ") << QByteArray("A.ZIP") << false;
    QTest::newRow("longer pattern") << QByteArray("A.ZIPX") << QByteArray("A.ZIP") << false;
    QTest::newRow("empty") << QByteArray("") << QByteArray("A") << false;
}

void TestTicRun::wildcards()
{
    QFETCH(QByteArray, pattern);
    QFETCH(QByteArray, name);
    QFETCH(bool, match);
    QCOMPARE(TicWildcardMatch(pattern, name), match);
}

void TestTicRun::noInbound()
{
    m_settings.inbound = QDir(m_in->path()).filePath(QStringLiteral("not-there"));
    ScriptedRun script;
    const TicRunResult result = run(false, script);
    QVERIFY(result.noInbound);
    QVERIFY(result.rows.isEmpty());
    QCOMPARE(script.warnings.size(), 1);
}

VT_TEST_MAIN(TestTicRun)
#include "test_ticrun.moc"
