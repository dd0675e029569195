// Several processes on several connections to one BBS: a walk in one
// process never loses or repeats a record while another process adds,
// deletes and updates records of the same area, and a move made by another
// process is seen whole or not at all. The other process is this test
// program itself, started with VT_CONN_CHILD naming its part.
#include "WcTestUtil.h"

#include "platform/wcsrv/WcStore.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSet>
#include <QtTest>

#include <cstdio>
#include <cstring>

namespace
{

// Area 1 holds the records R0000.DAT, R0002.DAT, ... (even numbers) that
// nobody deletes; the writer adds and deletes the odd numbers between them.
constexpr int kWalkRecords = 1500; // several read-ahead batches on both stores
constexpr int kMoveRecords = 200;

QByteArray WalkName(int n)
{
    return QByteArray("R") + QByteArray::number(n).rightJustified(4, '0') + ".DAT";
}

QByteArray MoveName(int n)
{
    return QByteArray("M") + QByteArray::number(n).rightJustified(3, '0') + ".DAT";
}

// The number in a name made by WalkName or MoveName, -1 for any other.
int NumberOf(const char* name)
{
    bool ok = false;
    const int n = QByteArray(name).mid(1, QByteArray(name).indexOf('.') - 1).toInt(&ok);
    return ok ? n : -1;
}

// A record whose every stretch says which record it is, so that a record
// put together from two records shows.
FullFileRec MakeRecord(int area, const QByteArray& name, int n)
{
    FullFileRec f{};
    f.Rec.Area = area;
    std::strncpy(f.Rec.Name, name.constData(), sizeof f.Rec.Name - 1);
    std::snprintf(f.Rec.Description, sizeof f.Rec.Description, "record %d", n);
    f.Rec.Size = n;
    f.Rec.Reserved4[0] = char(n & 0xff);
    f.Rec.Reserved4[43] = char(n >> 8);
    for (size_t i = 0; i < sizeof f.Reserved5; ++i)
        f.Reserved5[i] = char((n * 7 + int(i)) & 0xff);
    std::snprintf(f.LongDescription[14], sizeof f.LongDescription[14], "last line of %d", n);
    f.Rec.HasLongDescription = 1;
    return f;
}

qint64 Now()
{
    return QDateTime::currentMSecsSinceEpoch();
}

// ---- the other process -------------------------------------------------------

// Adds and deletes odd-numbered records of area 1 and updates the even
// ones (Downloads and Description) for `ms` milliseconds. Prints
// "span FIRST LAST" and "ops N refused R".
int WriterMain(int ms)
{
    QRandomGenerator rng(7);
    QSet<int> mine;
    long ops = 0, refused = 0;
    qint64 first = 0, last = 0;
    QElapsedTimer timer;
    timer.start();
    std::printf("WRITING\n");
    std::fflush(stdout);
    while (timer.elapsed() < ms) {
        ++ops;
        last = Now();
        if (!first)
            first = last;
        const int odd = 2 * int(rng.bounded(kWalkRecords)) + 1;
        const int even = 2 * int(rng.bounded(kWalkRecords));
        bool ok = true;
        switch (rng.bounded(3)) {
        case 0:
            if (mine.contains(odd)) {
                FileRec r = MakeKey(1, WalkName(odd).constData());
                ok = DeleteFileRec(&r, 0);
                mine.remove(odd);
            } else {
                const FullFileRec f = MakeRecord(1, WalkName(odd), odd);
                ok = AddFileRec(&f);
                mine.insert(odd);
            }
            break;
        default: {
            FileRec r{};
            uint32_t pos = 0;
            FullFileRec f{};
            ok = GetFileRecByAreaName(1, WalkName(even).constData(), &r, &pos) &&
                 GetFullFileRec(&r, &f);
            if (ok) {
                ++f.Rec.Downloads;
                std::snprintf(f.Rec.Description, sizeof f.Rec.Description, "record %d, %ld", even,
                              ops);
                ok = UpdateFullFileRec(&f);
            }
            break;
        }
        }
        if (!ok)
            ++refused;
    }
    std::printf("span %lld %lld\nops %ld refused %ld\n", first, last, ops, refused);
    return 0;
}

// Moves the M records between areas 1 and 2, each as the program moves a
// record: read it where it is, set Area, UpdateFileRec.
int MoverMain(int ms)
{
    QRandomGenerator rng(11);
    QList<int> areaOf(kMoveRecords, 1);
    long ops = 0, refused = 0;
    qint64 first = 0, last = 0;
    QElapsedTimer timer;
    timer.start();
    std::printf("WRITING\n");
    std::fflush(stdout);
    while (timer.elapsed() < ms) {
        ++ops;
        last = Now();
        if (!first)
            first = last;
        const int n = int(rng.bounded(kMoveRecords));
        FileRec r{};
        uint32_t pos = 0;
        if (!GetFileRecByAreaName(areaOf[n], MoveName(n).constData(), &r, &pos)) {
            ++refused;
            continue;
        }
        r.Area = 3 - areaOf[n];
        if (UpdateFileRec(&r))
            areaOf[n] = r.Area;
        else
            ++refused;
    }
    std::printf("span %lld %lld\nops %ld refused %ld\n", first, last, ops, refused);
    return 0;
}

int ChildMain()
{
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "child: no login (%x)\n", WcGetLastError());
        return 3;
    }
    const QByteArray part = qgetenv("VT_CONN_CHILD");
    const int ms = qEnvironmentVariableIntValue("VT_CONN_MS");
    const int rc = part == "writer" ? WriterMain(ms) : part == "mover" ? MoverMain(ms) : 4;
    LogoutUser();
    WildcatServerDeleteContext();
    return rc;
}

// The other process, started; `span` and `ops` once it ended.
class Child
{
public:
    Child(const char* part, int ms)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("VT_CONN_CHILD"), QString::fromLatin1(part));
        env.insert(QStringLiteral("VT_CONN_MS"), QString::number(ms));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start(QCoreApplication::applicationFilePath(), {});
        m_started = m_process.waitForReadyRead(30000) && m_process.readLine() == "WRITING\n";
    }
    ~Child()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    bool started() const { return m_started; }
    // (Without an event loop the state is brought up to date by a wait.)
    bool running()
    {
        if (m_process.state() == QProcess::NotRunning)
            return false;
        m_process.waitForFinished(0);
        return m_process.state() != QProcess::NotRunning;
    }
    // Waits for the end and reads the report. False when it ended badly.
    bool finish()
    {
        if (m_process.state() != QProcess::NotRunning && !m_process.waitForFinished(120000))
            return false;
        if (m_process.exitStatus() != QProcess::NormalExit || m_process.exitCode() != 0)
            return false;
        const QList<QByteArray> lines = m_process.readAllStandardOutput().split('\n');
        for (const QByteArray& line : lines) {
            const QList<QByteArray> w = line.split(' ');
            if (w.size() == 3 && w[0] == "span") {
                first = w[1].toLongLong();
                last = w[2].toLongLong();
            } else if (w.size() == 4 && w[0] == "ops") {
                ops = w[1].toLong();
                refused = w[3].toLong();
            }
        }
        return ops > 0;
    }
    qint64 first = 0, last = 0;
    long ops = 0, refused = 0;

private:
    QProcess m_process;
    bool m_started = false;
};

} // namespace

class TestWcsrvConnections : public QObject
{
    Q_OBJECT

private slots:
    void walkWhileAnotherWrites();
    void moveSeenWholeOrNotAtAll();
};

// Each walk of area 1, made while the other process writes, must deliver
// every even record exactly once, no record twice, in key order, each
// whole (its Size is its number); the writes must overlap whole walks and
// show in them (the odd records come and go).
void TestWcsrvConnections::walkWhileAnotherWrites()
{
    TestBbs bbs;
    bbs.addArea(1, QStringLiteral("One"));
    bbs.addArea(2, QStringLiteral("Two"));
    {
        QString error;
        const auto store = OpenTestStore(bbs.home(), &error);
        QVERIFY2(store, qPrintable(error));
        std::vector<FullFileRec> recs;
        for (int n = 0; n < 2 * kWalkRecords; n += 2)
            recs.push_back(MakeRecord(1, WalkName(n), n));
        recs.push_back(MakeRecord(2, "AFTER.DAT", 0));
        QVERIFY(store->Begin());
        QVERIFY(store->InsertMany(recs.data(), recs.size()) == wcstore::Rc::Ok);
        QVERIFY(store->Commit());
    }
    ServerLogin login;
    QVERIFY(login.ok());
    Child writer("writer", 4000);
    QVERIFY(writer.started());
    QStringList problems;
    QList<QPair<qint64, qint64>> walks;
    QSet<QByteArray> oddSets; // the odd records each walk saw
    while (writer.running() || walks.size() < 2) {
        const qint64 start = Now();
        QList<int> seen;
        FileRec r{};
        uint32_t pos = 0;
        bool more = SearchFileRecByAreaName(1, "", &r, &pos);
        while (more && r.Area == 1) {
            const int n = NumberOf(r.Name);
            if (n < 0 || r.Size != n)
                problems << QStringLiteral("record %1 with size %2")
                                .arg(QString::fromLatin1(r.Name))
                                .arg(r.Size);
            seen << n;
            more = GetNextFileRec(1, &r, &pos);
        }
        if (!more)
            problems << QStringLiteral("the walk failed (%1)").arg(WcGetLastError(), 0, 16);
        else if (r.Area != 2)
            problems << QStringLiteral("the walk ended on area %1").arg(r.Area);
        walks.append({start, Now()});
        QByteArray odd;
        int expectEven = 0;
        for (int i = 0; i < seen.size(); ++i) {
            if (i > 0 && seen[i] <= seen[i - 1])
                problems << QStringLiteral("%1 after %2").arg(seen[i]).arg(seen[i - 1]);
            if (seen[i] % 2) {
                odd += QByteArray::number(seen[i]) + ' ';
                continue;
            }
            if (seen[i] != expectEven)
                problems << QStringLiteral("walk %1: %2 where %3 was due")
                                .arg(walks.size())
                                .arg(seen[i])
                                .arg(expectEven);
            expectEven = seen[i] + 2;
        }
        if (expectEven != 2 * kWalkRecords)
            problems << QStringLiteral("walk %1 ended at %2").arg(walks.size()).arg(expectEven);
        oddSets.insert(odd);
        if (problems.size() > 10)
            break;
    }
    QVERIFY(writer.finish());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(u'\n')));
    QCOMPARE(writer.refused, 0L);
    int inside = 0;
    for (const auto& w : walks)
        inside += w.first >= writer.first && w.second <= writer.last;
    qInfo("%d walks, %d wholly while the other process made %ld writes; %d different sets of "
          "its records seen",
          int(walks.size()), inside, writer.ops, int(oddSets.size()));
    QVERIFY(inside >= 2);
    QVERIFY(oddSets.size() >= 2); // the writes showed in the walks
}

// The other process moves records between areas 1 and 2. Every reading of
// the whole table in one statement (one snapshot) finds each record
// exactly once, with all its bytes but Area as written, in area 1 or 2.
void TestWcsrvConnections::moveSeenWholeOrNotAtAll()
{
    TestBbs bbs;
    bbs.addArea(1, QStringLiteral("One"));
    bbs.addArea(2, QStringLiteral("Two"));
    QMap<QByteArray, QByteArray> images;
    QString error;
    const auto store = OpenTestStore(bbs.home(), &error);
    QVERIFY2(store, qPrintable(error));
    {
        std::vector<FullFileRec> recs;
        for (int n = 0; n < kMoveRecords; ++n) {
            recs.push_back(MakeRecord(1, MoveName(n), n));
            images.insert(MoveName(n), Bytes(&recs.back(), sizeof recs.back()));
        }
        QVERIFY(store->Begin());
        QVERIFY(store->InsertMany(recs.data(), recs.size()) == wcstore::Rc::Ok);
        QVERIFY(store->Commit());
    }
    Child mover("mover", 3000);
    QVERIFY(mover.started());
    std::vector<FullFileRec> rows(kMoveRecords + 10);
    QStringList problems;
    QList<QPair<qint64, qint64>> reads;
    QSet<QByteArray> layouts; // which records were in area 2, per reading
    while (mover.running() || reads.size() < 2) {
        const qint64 start = Now();
        size_t count = 0;
        if (store->Seek(0, "", 0, false, true, -1, rows.data(), rows.size(), count) !=
            wcstore::Rc::Ok) {
            problems << QString::fromStdString(store->Error());
            break;
        }
        reads.append({start, Now()});
        if (count != size_t(kMoveRecords))
            problems << QStringLiteral("reading %1: %2 records").arg(reads.size()).arg(count);
        QSet<QByteArray> names;
        QByteArray inTwo;
        for (size_t i = 0; i < count; ++i) {
            FullFileRec f = rows[i];
            const QByteArray name(f.Rec.Name);
            if (names.contains(name))
                problems << QStringLiteral("reading %1: %2 twice")
                                .arg(reads.size())
                                .arg(QString::fromLatin1(name));
            names.insert(name);
            if (f.Rec.Area == 2)
                inTwo += name + ' ';
            else if (f.Rec.Area != 1)
                problems << QStringLiteral("%1 in area %2")
                                .arg(QString::fromLatin1(name))
                                .arg(f.Rec.Area);
            f.Rec.Area = 1;
            if (Bytes(&f, sizeof f) != images.value(name))
                problems << QStringLiteral("%1 differs").arg(QString::fromLatin1(name));
        }
        layouts.insert(inTwo);
        if (problems.size() > 10)
            break;
    }
    QVERIFY(mover.finish());
    QVERIFY2(problems.isEmpty(), qPrintable(problems.mid(0, 10).join(u'\n')));
    QCOMPARE(mover.refused, 0L);
    int inside = 0;
    for (const auto& r : reads)
        inside += r.first >= mover.first && r.second <= mover.last;
    qInfo("%d readings, %d wholly while the other process made %ld moves; %d different layouts",
          int(reads.size()), inside, mover.ops, int(layouts.size()));
    QVERIFY(inside >= 2);
    QVERIFY(layouts.size() >= 2); // the moves showed
}

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsSet("VT_CONN_CHILD"))
        return ChildMain();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VtApplication app(argc, argv);
    TestWcsrvConnections tc;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&tc, argc, argv);
}

#include "test_wcsrv_connections.moc"
