// Shared test helpers: scripted answers for the dialog hooks, a real BBS in
// a temporary folder, a login for tests that call the server directly, and
// a test main that runs under the program's own application class.
#pragma once

#include "common/Dialogs.h"
#include "common/Launch.h"
#include "common/VtApplication.h"
#include "server/wcsrv.h"

#include <QByteArrayList>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>
#include <string>

namespace wcstore
{
class Store;
}

class QListWidget;
class QListWidgetItem;

class QWidget;

// Records every message box and answers from a queue. Confirmation boxes
// take the next queued answer (a test fails when none is queued);
// other boxes are answered OK.
class DialogScript
{
public:
    struct Shown {
        MessageKind kind;
        QString text;
    };
    DialogScript();
    ~DialogScript();
    DialogScript& answer(DialogAnswer a);
    QList<Shown> shown;
    QList<DialogAnswer> answers;
    bool unexpected = false; // a confirmation came with no queued answer
    QStringList texts() const;
    bool contains(const QString& text) const;

private:
    MessageHook m_previous;
};

// Answers file choosers from a queue of paths ("" = Cancel) and records the requests.
class FileDialogScript
{
public:
    FileDialogScript();
    ~FileDialogScript();
    QList<QString> paths;
    QList<FileDialogRequest> requests;

private:
    FileDialogHook m_previous;
};

// Records program launches and answers with a fixed shell code.
class LaunchScript
{
public:
    explicit LaunchScript(int result = 42);
    ~LaunchScript();
    struct Call {
        QString program, parameters, folder;
    };
    QList<Call> calls;
    int result;

private:
    LaunchHook m_previous;
};

// When the tests run on PostgreSQL (WCSRV_DATABASE holds the throwaway
// server's connection string), makes a new empty database for the next BBS
// and points WCSRV_DATABASE at it; returns the setting it replaced. Does
// nothing on SQLite.
QByteArray FreshTestStore();
// A new database on the tests' PostgreSQL server (a copy of the database
// `copyOf` names, when given): its setting.
QByteArray NewTestDatabase(const QByteArray& copyOf = QByteArray());
// Drops a database NewTestDatabase made, ending its connections first.
void DropTestDatabase(const QByteArray& setting);
// True when the tests run on PostgreSQL.
bool TestsOnPostgres();

// A BBS in a temporary folder; WCSRV_HOME points at it while it lives
// (and WCSRV_DATABASE at a database of its own on PostgreSQL).
class TestBbs
{
public:
    explicit TestBbs(const QString& sysop = QStringLiteral("Test Sysop"));
    ~TestBbs();
    bool ok() const { return m_ok; }
    QString home() const { return m_dir.path(); }
    std::string homeStd() const { return m_dir.path().toStdString(); }
    void addArea(int number, const QString& name);
    void addUser(const QString& name);
    QString areaFolder(int area) const;
    // Writes a file into the area's folder (when content is given) and adds
    // its record through the server; `edit` may change the record first.
    FullFileRec addFile(int area, const QString& name, const QByteArray* content = nullptr,
                        const std::function<void(FullFileRec&)>& edit = {});
    bool fileOnDisk(int area, const QString& name) const;
    // On PostgreSQL the setting of this BBS's own database, else empty.
    QByteArray database() const { return m_database; }
    // Takes the records away: wcsrv.db (and its log) is deleted, or the
    // database is dropped. The area folders stay.
    bool removeStore();

private:
    QTemporaryDir m_dir;
    QByteArray m_oldHome;
    QByteArray m_oldDatabase;
    QByteArray m_database;
    bool m_hadHome = false;
    bool m_ok = false;
};

// A store without a BBS for as long as it lives. On PostgreSQL a new, empty
// database that WCSRV_DATABASE names (while `use` was the last call), dropped
// at the end; on SQLite nothing: a folder without wcsrv.db is that store.
class ScopedTestStore
{
public:
    ScopedTestStore();
    ~ScopedTestStore();
    ScopedTestStore(const ScopedTestStore&) = delete;
    ScopedTestStore& operator=(const ScopedTestStore&) = delete;
    // Points WCSRV_DATABASE at this store again (after another was used).
    void use() const;
    QByteArray setting() const { return m_setting; }

private:
    QByteArray m_setting, m_previous;
};

// The record store of the BBS in `home` as the settings in force name it
// (WCSRV_DATABASE, else wcsrv.db in `home`), opened directly: for tests
// that put into a store what neither the library nor the admin tool would
// write, or read it in one statement. Null when it cannot be opened.
std::unique_ptr<wcstore::Store> OpenTestStore(const QString& home, QString* error = nullptr);
// True when the settings in force name a store holding a BBS for `home`.
bool TestStoreExists(const QString& home);

// Runs one SQL text on a PostgreSQL database; the rows of its last result
// as texts. `error` (when given) gets the server's message, else empty.
QList<QByteArrayList> PgQuery(const QByteArray& setting, const QByteArray& sql,
                              QString* error = nullptr);

// Runs SQL on the BBS's own database (its SQLite file, or the PostgreSQL
// database in force), around the library: for tests that damage rows.
// `error` gets the database's message when it fails.
bool RunStoreSql(const TestBbs& bbs, const QByteArray& sql, QString* error);

// Connect, create the context and log in; undone on destruction.
class ServerLogin
{
public:
    ServerLogin();
    ~ServerLogin();
    bool ok() const { return m_ok; }

private:
    bool m_ok = false;
    bool m_ownsContext = false;
    bool m_ownsLogin = false;
};

// While it lives, the server library takes every two area folders for
// folders on different file systems (its test switch
// WCSRV_TEST_SPLIT_DEVICES): a move copies the file, as between two disks,
// instead of renaming it. For tests of the copy of a move on a machine
// whose temporary folders lie on one file system.
class SplitDevices
{
public:
    SplitDevices() { qputenv("WCSRV_TEST_SPLIT_DEVICES", "1"); }
    ~SplitDevices() { qunsetenv("WCSRV_TEST_SPLIT_DEVICES"); }
    SplitDevices(const SplitDevices&) = delete;
    SplitDevices& operator=(const SplitDevices&) = delete;
};

// The file time of a calendar date and time, as the date conversions read
// it; a date they refuse ends the test program.
FILETIME TestTime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0,
                  int milliseconds = 0);

// The line of file area `area` in a list of area lines, or nullptr.
QListWidgetItem* LineOfArea(QListWidget* list, int area);

// Answers the next area chooser with `area` (Cancel when it isn't listed, or
// for -1). `listed` gets the chooser's lines.
void ChooseTarget(int area, QStringList* listed = nullptr);

// Runs `action` on the next modal widget that opens (polls for it), e.g. to
// drive a window opened inside a command.
void OnNextModal(std::function<void(QWidget*)> action, int timeoutMs = 5000);

// What tests compare before and after a run. Each logs in for the call when
// no login is there yet.
// Every record of every area as its 1,792 bytes, by "area:name".
std::map<QString, QByteArray> RecordSnapshot();
// Every record of areas 1 to `lastArea` as its bytes ("rec AREA NAME") and
// every file of each of those areas' own folders with its bytes ("file AREA
// NAME").
QMap<QString, QByteArray> BbsState(const TestBbs& bbs, int lastArea);
// The record names of one area in walk order.
QStringList RecordNamesOf(int area);
// The whole record of (area, name); all zero when there is none.
FullFileRec ReadFullRecord(int area, const QString& name);

// Test main under the program's own application class (its notify catches
// AppError like the program does).
#define VT_TEST_MAIN(TestObject)                                                                   \
    int main(int argc, char** argv)                                                                \
    {                                                                                              \
        qputenv("QT_QPA_PLATFORM", "offscreen");                                                   \
        VtApplication app(argc, argv);                                                             \
        app.setAttribute(Qt::AA_Use96Dpi, true);                                                   \
        TestObject tc;                                                                             \
        QTEST_SET_MAIN_SOURCE_PATH                                                                 \
        return QTest::qExec(&tc, argc, argv);                                                      \
    }
