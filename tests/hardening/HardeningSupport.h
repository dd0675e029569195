// Shared pieces of the hardening tests: a sandbox folder that holds a BBS,
// the program's folder and the output files of one run; the checks made
// after every run (database integrity, every record once and byte for byte
// as it was except for the fields the command may change, every record's
// file intact in its own area's folder, no file left in an area folder
// without a record unless the command may leave it, nothing written outside
// the allowed folders); a message hook that answers every question; and a
// watchdog that turns a hang into a failure with a name.
#pragma once

#include "common/Dialogs.h"
#include "server/Records.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace hard
{

// ---- the BBS of the tests ---------------------------------------------------

// Names and contents of the files a BBS was built with (upper-case names).
struct Layout {
    QMap<QString, QByteArray> contents; // name -> the file's bytes
    QMap<QString, int> area;            // name -> area number at build time
    QMap<QString, QByteArray> images;   // name -> the record's 1792 bytes
    QStringList namesIn(int area) const;
};

// ---- record fields ------------------------------------------------------------

// The stretches of a FullFileRec, named fields and opaque ones alike; a
// set of them says which bytes a command may change.
enum Field : quint32 {
    FOpaque0 = 1u << 0,
    FArea = 1u << 1,
    FName = 1u << 2,
    FDescription = 1u << 3,
    FPassword = 1u << 4,
    FOpaque132 = 1u << 5,
    FSize = 1u << 6,
    FFileTime = 1u << 7,
    FLastAccessed = 1u << 8,
    FNeverOverwrite = 1u << 9,
    FNeverDelete = 1u << 10,
    FFreeFile = 1u << 11,
    FCopyBeforeDownload = 1u << 12,
    FOpaque172 = 1u << 13,
    FFailedScan = 1u << 14,
    FFreeTime = 1u << 15,
    FDownloads = 1u << 16,
    FCost = 1u << 17,
    FUploader = 1u << 18,
    FOpaque280 = 1u << 19,
    FHasLongDescription = 1u << 20,
    FOpaque288 = 1u << 21,
    FReserved5 = 1u << 22,
    FLongDescription = 1u << 23,
};
using Fields = quint32;
inline constexpr Fields kNoFields = 0;

// Names of the fields in which two record images differ (both 1792 bytes).
Fields DifferingFields(const QByteArray& a, const QByteArray& b);
QString FieldNames(Fields fields);

// Every record of the database as the library returns it from
// GetFullFileRec, all 1792 bytes, by upper-case name; read with SQLite
// directly (no login, no walk). `areaOf` gets each record's area.
QMap<QString, QByteArray> RecordImages(const QString& home, QMap<QString, int>* areaOf = nullptr,
                                       QString* error = nullptr);
// Calls `fn` with every record of the database, all 1792 bytes, in the
// order of area and name; read the same way.
void ForEachFullRecord(const QString& home, const std::function<void(const FullFileRec&)>& fn,
                       QString* error = nullptr);
// Reads the images of every record of `layout` from `home` (after the
// BBS was built). False when a record of the layout is missing.
bool TakeImages(const QString& home, Layout& layout);

// Content of a test file: recognisable, of the given size.
QByteArray FileContent(const QString& name, int size);

// Creates a BBS in `home` with areas 1 "Alpha", 2 "Beta", 3 "Gamma" holding
// 12, 18 and 20 records (50), each with a real file in its area folder.
// Every sixth file is longer than one copy chunk.
Layout BuildStandardBbs(const QString& home);

// Adds `perArea` records to each of `areas` areas through the admin API's
// demo builder without files, then writes a small real file for every record.
// Returns the layout (contents) or an empty layout on failure.
Layout BuildBulkBbs(const QString& home, int areas, long files);

// Recursively copies a folder (files and sub-folders).
bool CopyTree(const QString& from, const QString& to);

// ---- the sandbox ------------------------------------------------------------

// A root folder for one run: bbs/ (WCSRV_HOME), prog/ (the program's folder,
// with a vuru.cfg), out/ (output files), drop/ (files to drop) and tmp/ (the
// process's TMPDIR while the sandbox lives, so that temporary files show up
// as writes outside the allowed folders).
class Sandbox
{
public:
    // Copies the bbs/ and prog/ folders of `templateRoot` (another sandbox's
    // root) when given.
    explicit Sandbox(const QString& templateRoot = QString());
    ~Sandbox();
    bool ok() const { return m_ok; }
    QString root() const { return m_dir.path(); }
    QString home() const { return root() + QStringLiteral("/bbs"); }
    QString prog() const { return root() + QStringLiteral("/prog/"); }
    QString out() const { return root() + QStringLiteral("/out"); }
    QString drop() const { return root() + QStringLiteral("/drop"); }
    // Points WCSRV_HOME, the program's folder and TMPDIR here.
    void enter();
    void leave();

private:
    QTemporaryDir m_dir;
    bool m_ok = false;
    bool m_entered = false;
    QByteArray m_oldHome, m_oldTmp, m_oldDatabase;
    QByteArray m_database; // on PostgreSQL: the setting of this sandbox's database
    bool m_hadHome = false, m_hadTmp = false;
};

// Paths under `root` (relative, folders end in '/') with file sizes, leaving
// out the subtrees and files `allowed` names (relative paths).
QMap<QString, qint64> Snapshot(const QString& root, const QStringList& allowed);
// Paths added, removed or changed in size between two snapshots.
QStringList SnapshotDiff(const QMap<QString, qint64>& before, const QMap<QString, qint64>& after);

// On PostgreSQL: the database setting of the BBS in `home`.
QByteArray DatabaseOf(const QString& home);

// "ok", or the database's complaint, or why it could not be checked.
QString IntegrityCheck(const QString& home);

struct RecordRow {
    int area = 0;
    QString name;
};
// Every file record of the database, read with SQLite directly (on
// PostgreSQL through the store).
QList<RecordRow> AllRecords(const QString& home, QString* error = nullptr);
// The names of the records of one area, read the same way.
QStringList RecordNamesIn(const Sandbox& box, int area);

// What a run may do to the records of the layout and to the area folders.
// Everything not named here must stay exactly as it was.
struct Expect {
    QSet<QString> mayVanish;             // names the command may delete
    QMap<QString, QByteArray> mayAppear; // names (and contents) it may add
    QMap<QString, int> appearIn;         // the area an added name belongs in (any when absent)
    // Fields an added record may hold besides zeros (it starts zeroed).
    Fields newRecordFields =
        FArea | FName | FSize | FFileTime | FDescription | FHasLongDescription | FLongDescription;
    QMap<QString, Fields> mayChange;    // name -> fields the command may change in that record
    QMap<QString, QSet<int>> mayMoveTo; // name -> areas a move may take its record to
    // A record moved without its file (records-only move, or the record
    // moved alone after a failed copy): its file stays in the area it came from.
    bool recordMayMoveAlone = false;
    // A failed copy into a move's target area (or into the drop area) may
    // leave a partial file there, and a copy whose record update was
    // refused stays whole; both have no record.
    bool copiesMayStay = true;
    // An added record may keep the zero size and dates it was added with
    // (its freshen after the add failed).
    bool addedMayStayUnfreshened = false;
    // A move killed between renaming a file and storing its record leaves
    // the file whole in the target area's folder while the record stays in
    // the area it came from (undoing the run renames it back).
    bool renamedMayLeadRecord = false;
    // Deleting with the files may leave a deleted record's file.
    bool deleteMayKeepFile = false;
    QSet<QString> ignoreFiles; // files in area folders the test made itself

    void allow(const QStringList& names, Fields fields);
    void allow(const QSet<QString>& names, Fields fields) { allow(names.values(), fields); }
    void allowMove(const QStringList& names, int target);
};

// Runs every check after a run; returns the problems found (empty: none).
// `notes` gets what the run left that the design allows (source files that
// stay after a move, copies and partial copies without a record, records
// moved alone), one line per kind with the count and the first names.
QStringList CheckBbs(const Sandbox& box, const Layout& layout, const Expect& expect,
                     QStringList* notes = nullptr);

// ---- undo after a fault or a kill -------------------------------------------

// What undoing a run must give back: every record's 1792 bytes by area and
// name, every file directly in an area folder or in one of the `extra`
// folders, and every file of the home's trash, each with its bytes, by its
// path (relative to the BBS home when it lies inside it); and the newest
// run of the journal.
struct BbsBytes {
    QMap<QString, QByteArray> records; // "AREA/NAME" (upper case) -> 1792 bytes
    QMap<QString, QByteArray> files;   // path -> bytes
    uint32_t lastRun = 0;
    QString error; // why the state could not be taken; empty when it was
};
// Reads the records with SQLite directly (on PostgreSQL through the
// store) and the journal through the server's calls (logs in itself).
BbsBytes TakeBbsBytes(const QString& home, const QStringList& extra = {});

// What undoing the runs of a cut-short command came to.
struct UndoResult {
    QStringList problems; // empty: everything put back, every entry accounted for
    int runs = 0;         // runs undone
    int entries = 0;      // their entries
    int unfinished = 0;   // renames noted whose process was killed before making them
};

// The check after every fault and kill: the runs begun since `before` was
// taken (none when the fault refused the run: then nothing may have
// changed) hold exactly the changes made since, record by record and file
// by file; each entry's bytes before are the record as it was; and
// undoing them, newest first, through the call `vtfilemgr-cli undo RUN
// --yes` makes, puts back every record (all 1792 bytes, every area) and
// every file of the area folders and of `extra`, each in its own folder,
// byte for byte. With `killed` the last entry of a run left open may note
// a rename its process did not live to make. WCSRV_HOME must name `home`.
UndoResult UndoRestores(const QString& home, const BbsBytes& before, bool killed,
                        const QStringList& extra = {});

// The check after commands that ran beside a writer outside any run (the
// writer changes `writerFields` of any record and adds and deletes records
// whose names start with `writerPrefix`): undoing the runs begun since
// `before` was taken, newest first, leaves as they are only records the
// writer changed since (they differ from the run's image in `writerFields`
// alone) with their files; every other record is back at its name with
// all its bytes but the writer's fields, every other file back in its
// folder byte for byte, and nothing the runs added stays.
UndoResult UndoBesideWriter(const QString& home, const BbsBytes& before, Fields writerFields,
                            const QString& writerPrefix);

// ---- answering questions ------------------------------------------------------

// Answers every confirmation: Yes for Yes/No, `withAll` for Yes/No/All
// (All by default); `decide` may answer a text differently (return Closed
// to fall back). Records every text shown.
class AnswerHook
{
public:
    explicit AnswerHook(DialogAnswer withAll = DialogAnswer::All);
    ~AnswerHook();
    QStringList texts;
    std::function<DialogAnswer(const QString&)> decide;

private:
    MessageHook m_previous;
    DialogAnswer m_withAll;
};

// ---- hangs ------------------------------------------------------------------

// Aborts the process with `label` when it is not destroyed within `seconds`.
class Watchdog
{
public:
    Watchdog(const QString& label, int seconds);
    ~Watchdog();

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;
    std::thread m_thread;
};

// Seconds a run may take before it counts as hung (longer under sanitizers).
int HangSeconds();

// Milliseconds since the epoch: a clock two processes share.
qint64 WallMs();

// The table of figures printed at the end of a test program.
struct Figure {
    QString what;
    long runs = 0;
    long failures = 0;
    QString note;
};
void PrintFigures(const QString& title, const QList<Figure>& figures);

} // namespace hard
