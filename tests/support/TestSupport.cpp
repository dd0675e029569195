#include "TestSupport.h"

#include "common/AreaLines.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "managers/TChooseFileAreaForm.h"
#include "platform/wcsrv/WcAdmin.h"
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

bool TestsOnPostgres()
{
    static const bool pg = [] {
        const QByteArray v = qgetenv("WCSRV_DATABASE");
        return v.startsWith("host=") || v.startsWith("postgres");
    }();
    return pg;
}

QByteArray NewTestDatabase(const QByteArray& copyOf)
{
    // The setting the tests started with names the server's maintenance
    // database.
    static const QByteArray base = qgetenv("WCSRV_DATABASE");
    static int serial = 0;
    const QByteArray name =
        "bbs_" + QByteArray::number(qint64(::getpid())) + "_" + QByteArray::number(++serial);
    QByteArray sql = "CREATE DATABASE " + name;
    if (!copyOf.isEmpty())
        sql += " TEMPLATE " + copyOf.mid(copyOf.lastIndexOf('=') + 1);
    PGconn* conn = PQconnectdb(base.constData());
    if (PQstatus(conn) != CONNECTION_OK)
        qFatal("cannot reach the test database server: %s", PQerrorMessage(conn));
    PGresult* r = PQexec(conn, sql.constData());
    if (PQresultStatus(r) != PGRES_COMMAND_OK)
        qFatal("cannot create a test database: %s", PQerrorMessage(conn));
    PQclear(r);
    PQfinish(conn);
    // A later key of a key=value string overrides an earlier one.
    return base + " dbname=" + name;
}

QByteArray FreshTestStore()
{
    const QByteArray previous = qgetenv("WCSRV_DATABASE");
    if (TestsOnPostgres())
        qputenv("WCSRV_DATABASE", NewTestDatabase());
    return previous;
}

TestBbs::TestBbs(const QString& sysop)
{
    m_oldDatabase = FreshTestStore();
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
