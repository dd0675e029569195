// The run journal as the front ends use it: one journaled run around each
// command that changes records or files, the runs and their entries as
// `history` and the run history window show them, undoing a run, and the
// trash. No widgets: the windows and the command line each show the texts.
#pragma once

#include "server/wcsrv.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// "General"/"TrashDays" of vuru.cfg (config/Settings reads it): the days the
// trash keeps the files that runs deleted; 0 unlinks them at once. Every
// run begun here passes it to the library, which empties older trash then.
inline constexpr uint32_t kDefaultTrashDays = 7;
void SetTrashDays(uint32_t days);
uint32_t TrashDays();

// One journaled run for as long as the object lives: every record write and
// file deletion of the command in between belongs to it. A run already open
// in this process (a command started inside another) is joined rather than
// nested, and only the object that began a run ends it.
class JournaledRun
{
public:
    // Begins a run of `command` ("delete --areas 1,2 --files --yes", or a
    // window command's name with its options). The library adds the
    // machine, the user and the time.
    explicit JournaledRun(const QString& command);
    ~JournaledRun();
    JournaledRun(const JournaledRun&) = delete;
    JournaledRun& operator=(const JournaledRun&) = delete;

    // False when the library refused the run: the command must then stop
    // before it changes anything, and show Refusal().
    bool Begun() const { return m_id != 0; }
    // The run the command's changes go into (0 when refused).
    uint32_t Id() const { return m_id; }
    // Why the run was refused, naming the folder that cannot be written
    // when the trash is the cause; empty when begun.
    const QString& Refusal() const { return m_refusal; }
    // Ends the run now (the destructor then does nothing); false when the
    // library could not end it.
    bool End();

private:
    uint32_t m_id = 0;
    bool m_owned = false;
    QString m_refusal;
};

// The bytes a run keeps of a command text: UTF-8, cut at a character so that
// they fit the run's field with its terminating zero.
QByteArray RunCommandBytes(const QString& command);
// The words of a command line as one text: a word holding blanks, quotes or
// nothing is quoted the way a shell reads it back.
QString CommandLineText(const QStringList& words);

// Every run newest first, at most `limit` (0: all). A store without a
// journal has none. False when the store cannot be read.
bool ListJournalRuns(uint32_t limit, QList<WcRunInfo>& runs);
enum class RunLookup { Found, Unknown, Failed };
RunLookup GetJournalRun(uint32_t id, WcRunInfo& run);
// The run's entries in the order the changes were made; `visit` returns
// false to stop. False when the run is unknown or the store cannot be read.
bool VisitRunEntries(uint32_t id, const std::function<bool(const WcRunEntry&)>& visit);

// What undoing a run came to as a whole.
enum class UndoStatus {
    Done,          // every entry put back (or would be, in a dry run)
    Conflicts,     // some entries were left as they are, or failed
    Unknown,       // no run of that id
    UndoneAlready, // undone before: nothing changed
    Busy,          // another run is open in this process
    Failed,        // the store could not be read or written
};
struct UndoReport {
    UndoStatus status = UndoStatus::Failed;
    WcUndoSummary summary{};
    uint32_t code = 0; // the library's error code when status is Failed
};
// One entry as undoing it came out: its outcome (WC_UNDO_...) and, for a
// conflict or failure, why.
using UndoVisit = std::function<void(const WcRunEntry&, int outcome, const QString& why)>;
// Undoes run `id` (a run of its own, "undo N", made by the library), or with
// `dryRun` reports what that would do and changes nothing.
UndoReport UndoJournalRun(uint32_t id, bool dryRun, const UndoVisit& visit);

// An undo (or its dry run) with the entries that were not put back, as
// lines "area 3 NAME: record changed: why", for a window's question and
// message.
struct UndoListing {
    UndoReport report;
    QStringList leftAlone;
};
UndoListing UndoRunListed(uint32_t id, bool dryRun);
// What an undo did or would do, as a message: the counts, then the entries
// left as they are (the first 20); or why nothing could be done.
QString UndoListingText(uint32_t id, const UndoListing& listing, bool dryRun);
// The newest run that is neither undone nor an undo itself, nor open: the
// run "Undo Last Run" takes back; 0 when there is none.
uint32_t LastUndoableRun();

bool ListTrash(QList<WcTrashItem>& items);
// Deletes the trash of runs older than `days` days (0: all of it).
bool EmptyTrash(uint32_t days, uint32_t& filesRemoved);

// ---- texts that `history` and the run history window share

// "2024-05-01 14:03:22" in local time; "-" for 0.
QString RunTimeText(int64_t utcSeconds);
// "added 0, changed 3, deleted 0, moved 0, files trashed 2".
QString RunCountsText(const WcRunInfo& run);
// "undone by 14", "undoes 9", "open", or empty.
QString RunStateText(const WcRunInfo& run);
// The command as the run keeps it.
QString RunCommandText(const WcRunInfo& run);
// "record added", "record changed", "record deleted", "file trashed", ...
QString EntryKindWord(int kind);
// What an entry did beyond its kind: the fields a change touched
// ("description, size"), a record's move to another area, the paths of a
// file entry.
QString EntryDetail(const WcRunEntry& entry);
// The names of the fields that differ between two records, in layout
// order ("area", "description", "long description", ...); "reserved
// bytes" when only bytes the program does not read differ.
QStringList ChangedFields(const FullFileRec& before, const FullFileRec& after);
// "done" / "would" (dry run), "conflict", "failed".
QString UndoOutcomeWord(int outcome, bool dryRun);
