#include "TestSupport.h"

#include "common/AreaLines.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "managers/TChooseFileAreaForm.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcStore.h"
#include "server/ServerPath.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QListWidget>
#include <QTimer>
#include <QWidget>
#include <QtTest>

#include <cstring>

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

DialogScript::DialogScript()
{
    m_previous =
        SetMessageHook([this](MessageKind kind, const QString& text, const QStringList& buttons) {
            shown.append({kind, text});
            if (buttons.size() <= 1)
                return DialogAnswer::Ok;
            if (answers.isEmpty()) {
                unexpected = true;
                return DialogAnswer::Closed;
            }
            return answers.takeFirst();
        });
}

DialogScript::~DialogScript()
{
    SetMessageHook(m_previous);
}

DialogScript& DialogScript::answer(DialogAnswer a)
{
    answers.append(a);
    return *this;
}

QStringList DialogScript::texts() const
{
    QStringList out;
    for (const Shown& s : shown)
        out << s.text;
    return out;
}

bool DialogScript::contains(const QString& text) const
{
    return texts().contains(text);
}

FileDialogScript::FileDialogScript()
{
    m_previous = SetFileDialogHook([this](const FileDialogRequest& request) {
        requests.append(request);
        return paths.isEmpty() ? QString() : paths.takeFirst();
    });
}

FileDialogScript::~FileDialogScript()
{
    SetFileDialogHook(m_previous);
}

LaunchScript::LaunchScript(int r) : result(r)
{
    m_previous = SetLaunchHook([this](const QString& p, const QString& a, const QString& f) {
        calls.append({p, a, f});
        return result;
    });
}

LaunchScript::~LaunchScript()
{
    SetLaunchHook(m_previous);
}

namespace
{

// The setting the tests started with: it names the server's maintenance
// database (the first call reads it, before any test points it elsewhere).
const QByteArray& ServerSetting()
{
    static const QByteArray setting = qgetenv("WCSRV_DATABASE");
    return setting;
}

QByteArray DatabaseName(const QByteArray& setting)
{
    return setting.mid(setting.lastIndexOf('=') + 1);
}

} // namespace

bool TestsOnPostgres()
{
    static const bool pg = [] {
        const QByteArray& v = ServerSetting();
        return v.startsWith("host=") || v.startsWith("postgres");
    }();
    return pg;
}

QList<QByteArrayList> PgQuery(const QByteArray& setting, const QByteArray& sql, QString* error)
{
    QList<QByteArrayList> rows;
    if (error)
        error->clear();
    PGconn* conn = PQconnectdb(setting.constData());
    if (PQstatus(conn) != CONNECTION_OK) {
        if (error)
            *error = QString::fromUtf8(PQerrorMessage(conn));
        PQfinish(conn);
        return rows;
    }
    PGresult* r = PQexec(conn, sql.constData());
    const ExecStatusType status = PQresultStatus(r);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
        if (error)
            *error = QString::fromUtf8(PQerrorMessage(conn));
    } else {
        for (int i = 0; i < PQntuples(r); ++i) {
            QByteArrayList row;
            for (int c = 0; c < PQnfields(r); ++c)
                row << QByteArray(PQgetvalue(r, i, c), PQgetlength(r, i, c));
            rows << row;
        }
    }
    PQclear(r);
    PQfinish(conn);
    return rows;
}

QByteArray NewTestDatabase(const QByteArray& copyOf)
{
    const QByteArray& base = ServerSetting();
    static int serial = 0;
    const QByteArray name =
        "bbs_" + QByteArray::number(qint64(::getpid())) + "_" + QByteArray::number(++serial);
    QByteArray sql = "CREATE DATABASE " + name;
    if (!copyOf.isEmpty())
        sql += " TEMPLATE " + DatabaseName(copyOf);
    QString error;
    PgQuery(base, sql, &error);
    if (!error.isEmpty())
        qFatal("cannot create a test database: %s", qPrintable(error));
    // A later key of a key=value string overrides an earlier one.
    return base + " dbname=" + name;
}

void DropTestDatabase(const QByteArray& setting)
{
    // FORCE ends the connections still open on it (a login a test left).
    QString error;
    PgQuery(ServerSetting(), "DROP DATABASE IF EXISTS " + DatabaseName(setting) + " WITH (FORCE)",
            &error);
    if (!error.isEmpty())
        qWarning("cannot drop a test database: %s", qPrintable(error));
}

QByteArray FreshTestStore()
{
    const QByteArray previous = qgetenv("WCSRV_DATABASE");
    if (TestsOnPostgres())
        qputenv("WCSRV_DATABASE", NewTestDatabase());
    return previous;
}

ScopedTestStore::ScopedTestStore()
{
    if (!TestsOnPostgres())
        return;
    m_previous = qgetenv("WCSRV_DATABASE");
    m_setting = NewTestDatabase();
    use();
}

ScopedTestStore::~ScopedTestStore()
{
    if (m_setting.isEmpty())
        return;
    qputenv("WCSRV_DATABASE", m_previous);
    DropTestDatabase(m_setting);
}

void ScopedTestStore::use() const
{
    if (!m_setting.isEmpty())
        qputenv("WCSRV_DATABASE", m_setting);
}

std::unique_ptr<wcstore::Store> OpenTestStore(const QString& home, QString* error)
{
    std::string message;
    auto store = wcstore::OpenStore(QFile::encodeName(home).toStdString(),
                                    wcstore::DatabaseSetting(), false, message);
    if (error)
        *error = QString::fromStdString(message);
    return store;
}

bool TestStoreExists(const QString& home)
{
    return wcstore::StoreExists(QFile::encodeName(home).toStdString(), wcstore::DatabaseSetting());
}

TestBbs::TestBbs(const QString& sysop)
{
    m_oldDatabase = FreshTestStore();
    if (TestsOnPostgres())
        m_database = qgetenv("WCSRV_DATABASE");
    m_hadHome = qEnvironmentVariableIsSet("WCSRV_HOME");
    m_oldHome = qgetenv("WCSRV_HOME");
    if (!m_dir.isValid())
        return;
    qputenv("WCSRV_HOME", QFile::encodeName(m_dir.path()));
    const std::string error = wcadmin::CreateBbs(homeStd(), sysop.toStdString());
    if (!error.empty())
        qWarning("CreateBbs: %s", error.c_str());
    m_ok = error.empty();
}

TestBbs::~TestBbs()
{
    if (TestsOnPostgres())
        qputenv("WCSRV_DATABASE", m_oldDatabase);
    if (m_hadHome)
        qputenv("WCSRV_HOME", m_oldHome);
    else
        qunsetenv("WCSRV_HOME");
    // Hundreds of test BBSes would otherwise each leave a database on the
    // server until it is removed at the end of the run.
    if (!m_database.isEmpty())
        DropTestDatabase(m_database);
}

bool TestBbs::removeStore()
{
    if (!m_database.isEmpty()) {
        DropTestDatabase(m_database);
        return PgQuery(ServerSetting(), "SELECT 1 FROM pg_database WHERE datname = '" +
                                            DatabaseName(m_database) + "'")
            .isEmpty();
    }
    const QDir dir(home());
    QFile::remove(dir.filePath(QStringLiteral("wcsrv.db-wal")));
    QFile::remove(dir.filePath(QStringLiteral("wcsrv.db-shm")));
    return QFile::remove(dir.filePath(QStringLiteral("wcsrv.db")));
}

void TestBbs::addArea(int number, const QString& name)
{
    const std::string error = wcadmin::AddArea(homeStd(), number, name.toStdString());
    if (!error.empty())
        qFatal("AddArea: %s", error.c_str());
}

void TestBbs::addUser(const QString& name)
{
    const std::string error = wcadmin::AddUser(homeStd(), name.toStdString());
    if (!error.empty())
        qFatal("AddUser: %s", error.c_str());
}

QString TestBbs::areaFolder(int area) const
{
    return QString::fromStdString(wcadmin::AreaFolder(homeStd(), area));
}

FullFileRec TestBbs::addFile(int area, const QString& name, const QByteArray* content,
                             const std::function<void(FullFileRec&)>& edit)
{
    if (content) {
        QFile f(QDir(areaFolder(area)).filePath(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(*content) != content->size())
            qFatal("cannot write %s", qPrintable(f.fileName()));
    }
    FullFileRec full{};
    full.Rec.Area = area;
    const QByteArray n = name.toLatin1();
    std::strncpy(full.Rec.Name, n.constData(), sizeof full.Rec.Name - 1);
    if (content)
        full.Rec.Size = int32_t(content->size());
    if (edit)
        edit(full);
    ServerLogin login;
    if (!login.ok() || !AddFileRec(&full))
        qFatal("AddFileRec %s failed: %x", n.constData(), WcGetLastError());
    return full;
}

bool TestBbs::fileOnDisk(int area, const QString& name) const
{
    return QFile::exists(QDir(areaFolder(area)).filePath(name));
}

ServerLogin::ServerLogin()
{
    // Joins a login that already exists (a main window under test) and
    // undoes only what it did itself.
    if (!WildcatServerConnect(nullptr))
        return;
    m_ownsContext = WildcatServerCreateContext();
    if (!m_ownsContext && WcGetLastError() != WC_CONTEXT_ALREADY_INITIALIZED)
        return;
    m_ownsLogin = LoginSystem();
    if (!m_ownsLogin && WcGetLastError() != WC_ALREADY_LOGGED_IN)
        return;
    m_ok = true;
}

ServerLogin::~ServerLogin()
{
    if (m_ownsLogin)
        LogoutUser();
    if (m_ownsContext)
        WildcatServerDeleteContext();
}

void OnNextModal(std::function<void(QWidget*)> action, int timeoutMs)
{
    // The poll is a timer owned by the application, so a poll still waiting
    // when the test program ends is destroyed with it, not leaked.
    auto* poll = new QTimer(qApp);
    QElapsedTimer started;
    started.start();
    QObject::connect(poll, &QTimer::timeout, poll, [poll, action, started, timeoutMs]() {
        poll->setInterval(10);
        if (QWidget* w = QApplication::activeModalWidget()) {
            poll->stop();
            poll->deleteLater();
            action(w);
            return;
        }
        if (started.elapsed() > timeoutMs) {
            qWarning("OnNextModal: no modal window opened");
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start(0);
}

FILETIME TestTime(int year, int month, int day, int hour, int minute, int second, int milliseconds)
{
    SystemTime st;
    st.year = uint16_t(year);
    st.month = uint16_t(month);
    st.day = uint16_t(day);
    st.hour = uint16_t(hour);
    st.minute = uint16_t(minute);
    st.second = uint16_t(second);
    st.milliseconds = uint16_t(milliseconds);
    FILETIME ft{};
    if (!SystemTimeToFileTime(st, ft))
        qFatal("bad test date");
    return ft;
}

QListWidgetItem* LineOfArea(QListWidget* list, int area)
{
    for (int i = 0; i < list->count(); ++i)
        if (AreaNumberOfLine(list->item(i)->text()) == area)
            return list->item(i);
    return nullptr;
}

void ChooseTarget(int area, QStringList* listed)
{
    OnNextModal([area, listed](QWidget* modal) {
        auto* chooser = qobject_cast<TChooseFileAreaForm*>(modal);
        if (!chooser) {
            modal->close();
            return;
        }
        for (int i = 0; i < chooser->AreaListBox->count(); ++i) {
            const QString line = chooser->AreaListBox->item(i)->text();
            if (listed)
                *listed << line;
            if (area > 0 && line.startsWith(AreaLinePrefix(area)))
                chooser->AreaListBox->setCurrentRow(i);
        }
        if (area > 0 && chooser->AreaListBox->currentRow() >= 0)
            chooser->b_OKClick();
        else
            chooser->b_CancelClick();
    });
}

std::map<QString, QByteArray> RecordSnapshot()
{
    ServerLogin login;
    std::map<QString, QByteArray> all;
    for (int area = 1; area <= GetFileAreaCount(); ++area)
        WalkArea(area, [&all](FileRec& rec) {
            FullFileRec full;
            std::memset(&full, 0, sizeof full);
            if (GetFullFileRec(&rec, &full))
                all[QString::number(rec.Area) + u':' + RecText(rec.Name)] =
                    QByteArray(reinterpret_cast<const char*>(&full), sizeof full);
            return true;
        });
    return all;
}

QMap<QString, QByteArray> BbsState(const TestBbs& bbs, int lastArea)
{
    ServerLogin login;
    QMap<QString, QByteArray> out;
    for (int area = 1; area <= lastArea; ++area) {
        WalkArea(area, [&out, area](FileRec& rec) {
            FullFileRec full{};
            if (!GetFullFileRec(&rec, &full))
                qFatal("GetFullFileRec failed");
            out.insert(QStringLiteral("rec %1 %2").arg(area).arg(QLatin1String(rec.Name)),
                       QByteArray(reinterpret_cast<const char*>(&full), sizeof full));
            return true;
        });
        const QDir folder(bbs.areaFolder(area));
        for (const QString& name : folder.entryList(QDir::Files)) {
            QFile f(folder.filePath(name));
            if (!f.open(QIODevice::ReadOnly))
                qFatal("cannot read %s", qPrintable(f.fileName()));
            out.insert(QStringLiteral("file %1 %2").arg(area).arg(name), f.readAll());
        }
    }
    return out;
}

QStringList RecordNamesOf(int area)
{
    ServerLogin login;
    QStringList out;
    WalkArea(area, [&out](FileRec& rec) {
        out << QString::fromLatin1(rec.Name);
        return true;
    });
    return out;
}

FullFileRec ReadFullRecord(int area, const QString& name)
{
    ServerLogin login;
    FullFileRec full{};
    FileRec rec{};
    uint32_t position = 0;
    const QByteArray n = name.toLatin1();
    if (GetFileRecByAreaName(area, n.constData(), &rec, &position))
        GetFullFileRec(&rec, &full);
    return full;
}

bool RunStoreSql(const TestBbs& bbs, const QByteArray& sql, QString* error)
{
    error->clear();
    if (TestsOnPostgres()) {
        PgQuery(bbs.database(), sql, error);
        return error->isEmpty();
    }
    sqlite3* db = nullptr;
    const QByteArray path = QFile::encodeName(bbs.home() + QStringLiteral("/wcsrv.db"));
    if (sqlite3_open_v2(path.constData(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        *error = QString::fromUtf8(sqlite3_errmsg(db));
        sqlite3_close(db);
        return false;
    }
    char* message = nullptr;
    const bool ok = sqlite3_exec(db, sql.constData(), nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok)
        *error = QString::fromUtf8(message ? message : "?");
    sqlite3_free(message);
    sqlite3_close(db);
    return ok;
}
