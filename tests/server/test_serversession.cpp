// The one server session of the window and the command line (the stage
// that failed and its code, the end and its faults), and the one walk over
// the file areas with the names through the record code page.
#include "common/Text.h"
#include "managers/FileListRun.h"
#include "managers/ManagerSupport.h"
#include "platform/wcsrv/WcFault.h"
#include "server/FileAreas.h"
#include "server/ServerQueries.h"
#include "server/ServerSession.h"
#include "tests/support/TestSupport.h"

#include <QtTest>

Q_DECLARE_METATYPE(SessionStage)

namespace
{

// Points WCSRV_HOME at a folder for as long as it lives.
class HomeScope
{
public:
    explicit HomeScope(const QString& home) : m_old(qgetenv("WCSRV_HOME"))
    {
        qputenv("WCSRV_HOME", QFile::encodeName(home));
    }
    ~HomeScope() { qputenv("WCSRV_HOME", m_old); }

private:
    QByteArray m_old;
};

} // namespace

class TestServerSession : public QObject
{
    Q_OBJECT
private slots:
    void cleanup()
    {
        WcFaultReset();
        SetRecordCodePage(RecordCodePage::Latin1);
    }
    void openStages_data();
    void openStages();
    void secondSessionLeavesFirst();
    void endFaults_data();
    void endFaults();
    void allAreasThroughCodePage_data();
    void allAreasThroughCodePage();
};

void TestServerSession::openStages_data()
{
    QTest::addColumn<bool>("goodHome");
    QTest::addColumn<QByteArray>("failing"); // the operation made to fail
    QTest::addColumn<SessionStage>("stage");
    QTest::addColumn<uint>("code");
    QTest::newRow("no BBS in home")
        << false << QByteArray() << SessionStage::Connect << uint(WC_INVALID_CONNECTION_ID);
    QTest::newRow("context refused")
        << true << QByteArray("WildcatServerCreateContext") << SessionStage::Context << 0x20000077u;
    QTest::newRow("login refused")
        << true << QByteArray("LoginSystem") << SessionStage::Login << 0x20000078u;
    QTest::newRow("logged in") << true << QByteArray() << SessionStage::None << 0u;
}

void TestServerSession::openStages()
{
    QFETCH(bool, goodHome);
    QFETCH(QByteArray, failing);
    QFETCH(SessionStage, stage);
    QFETCH(uint, code);
    TestBbs bbs;
    QVERIFY(bbs.ok());
    bbs.addArea(1, QStringLiteral("Uploads"));
    QTemporaryDir empty;
    HomeScope home(goodHome ? bbs.home() : empty.path());
    if (!failing.isEmpty())
        WcFaultFailKind(failing.constData(), code);
    {
        ServerSession session;
        QCOMPARE(session.Open(), stage == SessionStage::None);
        QCOMPARE(session.FailedStage(), stage);
        QCOMPARE(session.FailedCode(), code);
        QCOMPARE(session.LoggedIn(), stage == SessionStage::None);
        // The context stays from a failed login, to be deleted at the end.
        const bool context = stage == SessionStage::None || stage == SessionStage::Login;
        QCOMPARE(session.ContextCreated(), context);
        FileAreaRec rec{};
        QCOMPARE(GetFileArea(1, &rec), stage == SessionStage::None);
        WcFaultReset();
        const ServerSession::EndFaults faults = session.End();
        QVERIFY(!faults.logout && !faults.context);
        QVERIFY(!session.LoggedIn() && !session.ContextCreated());
        QVERIFY(!GetFileArea(1, &rec));
        // Ended: a second end does nothing and fails nothing.
        const ServerSession::EndFaults again = session.End();
        QVERIFY(!again.logout && !again.context);
    }
    // The context was deleted: a new session opens.
    HomeScope goodOne(bbs.home());
    ServerSession next;
    QVERIFY(next.Open());
}

void TestServerSession::secondSessionLeavesFirst()
{
    TestBbs bbs;
    QVERIFY(bbs.ok());
    bbs.addArea(1, QStringLiteral("Uploads"));
    ServerSession first;
    QVERIFY(first.Open());
    {
        ServerSession second;
        QVERIFY(!second.Open());
        QCOMPARE(second.FailedStage(), SessionStage::Context);
        QCOMPARE(second.FailedCode(), uint32_t(WC_CONTEXT_ALREADY_INITIALIZED));
        QVERIFY(!second.ContextCreated());
    } // its end must not log the first one out
    FileAreaRec rec{};
    QVERIFY(GetFileArea(1, &rec));
    QVERIFY(first.LoggedIn());
}

void TestServerSession::endFaults_data()
{
    QTest::addColumn<QByteArray>("failing");
    QTest::addColumn<bool>("logout");
    QTest::addColumn<bool>("context");
    QTest::newRow("logout fails") << QByteArray("LogoutUser") << true << false;
    QTest::newRow("delete fails") << QByteArray("WildcatServerDeleteContext") << false << true;
}

void TestServerSession::endFaults()
{
    QFETCH(QByteArray, failing);
    QFETCH(bool, logout);
    QFETCH(bool, context);
    TestBbs bbs;
    QVERIFY(bbs.ok());
    ServerSession session;
    QVERIFY(session.Open());
    WcFaultFailKind(failing.constData(), 0x20000079u);
    const ServerSession::EndFaults faults = session.End();
    QCOMPARE(faults.logout, logout);
    QCOMPARE(faults.context, context);
    // Counted as ended either way: nothing is tried twice.
    QVERIFY(!session.LoggedIn() && !session.ContextCreated());
    const ServerSession::EndFaults again = session.End();
    QVERIFY(!again.logout && !again.context);
    WcFaultReset();
    if (context)
        QVERIFY(WildcatServerDeleteContext()); // the context the fault left
}

void TestServerSession::allAreasThroughCodePage_data()
{
    QTest::addColumn<bool>("cp437");
    QTest::addColumn<QString>("shown");
    // Byte 0x82 is e acute in code page 437 and a control character in Latin-1.
    QTest::newRow("437") << true << QStringLiteral("Caf\u00E9 \u2554\u2550");
    QTest::newRow("Latin-1") << false << QStringLiteral("Caf\u0082 \u00C9\u00CD");
}

void TestServerSession::allAreasThroughCodePage()
{
    QFETCH(bool, cp437);
    QFETCH(QString, shown);
    const QByteArray bytes("Caf\x82 \xC9\xCD");
    TestBbs bbs;
    QVERIFY(bbs.ok());
    bbs.addArea(1, QString::fromLatin1(bytes));
    bbs.addArea(3, QStringLiteral("Uploads")); // no area 2
    ServerSession session;
    QVERIFY(session.Open());
    SetRecordCodePage(cp437 ? RecordCodePage::Cp437 : RecordCodePage::Latin1);

    const QList<FileArea> areas = AllAreas();
    QCOMPARE(areas.size(), 2);
    QCOMPARE(areas[0].number, 1);
    QCOMPARE(areas[0].name, shown);
    QCOMPARE(areas[0].Line(), QStringLiteral("   1: ") + shown);
    QCOMPARE(QByteArray(areas[0].rec.Name), bytes);
    QCOMPARE(areas[1].number, 3);
    QCOMPARE(areas[1].Line(), QStringLiteral("   3: Uploads"));

    // The managers' lists show the same lines as the main window's selector.
    QCOMPARE(AllAreaLines(), QStringList({areas[0].Line(), areas[1].Line()}));
    // The file list's heading keeps the record's bytes whatever is shown.
    const QList<FileListArea> listed = AllFileListAreas();
    QCOMPARE(listed.size(), 2);
    QCOMPARE(listed[0].area, 1);
    QCOMPARE(ToBytes(listed[0].line), QByteArray("   1: ") + bytes);
}

VT_TEST_MAIN(TestServerSession)
#include "test_serversession.moc"
