// What a run (the work of one command: a deletion, a move, a file list, a
// filtered listing, a freshen) needs from a person, in one small interface.
// The runs live in the widget-free library; the windows implement this with
// their dialog functions, progress bars and status panels, the command line
// with its options and lines on the terminal, the tests with a script.
#pragma once

#include "common/FileMove.h"

#include <QString>
#include <QtGlobal>

// The answer to a run's question. Cancel is a box closed without a button;
// the runs treat it as No unless they say otherwise.
enum class RunAnswer { Yes, No, All, Cancel };

// The questions the runs ask, one name each. A window shows the text the
// run gives; a front end that answers without a person (the command line,
// a test's script) tells the questions apart by name, never by their text.
enum class RunQuestion {
    DeleteRecord,          // "Delete file NAME from file area #N?" (Yes, No, All)
    StopDeletion,          // a stop asked for during a deletion: stop it?
    StopMove,              // a stop asked for during an area move: stop it?
    MoveRecordWithoutFile, // the file is missing: move its record alone? (Yes, No, All)
    MoveRecordOnly,        // the file could not be copied (a CD-ROM area): move its record alone?
                           // (Yes, No, All)
    DeleteTargetFile,      // the record moves alone onto a file of its name, which goes
    StopAdding,            // a stop asked for while adding files: stop it?
    AddPlannedFiles,       // the preview of an add: add the files listed?
    StopImport,            // a stop asked for while importing descriptions: stop it?
    TreatOfflineAsMissing, // an area's folder looks offline: treat its files as missing?
};

// What happened to one record (or its file) in a run.
enum class RunOutcome {
    Done,    // the change was made
    Skipped, // left alone by a No, the filter or a dry run's choice
    Refused, // the run refused it (a rule of the design, a name taken)
    Failed,  // the server or the disk failed
    Planned, // a dry run: the change that would be made
};

struct RunItem {
    int area = 0;
    QString name;
    RunOutcome outcome = RunOutcome::Done;
    // Short words for the command line's line: "deleted", "moved to 7",
    // "freshened", "file missing".
    QString action;
};

class RunDelegate
{
public:
    virtual ~RunDelegate() = default;

    // A question: its name, the text shown to a person, and whether All is
    // offered beside Yes and No.
    virtual RunAnswer Ask(RunQuestion question, const QString& text, bool offerAll) = 0;
    // Messages the run shows before it goes on or ends.
    virtual void Warn(const QString& text) = 0;
    virtual void Inform(const QString& text) = 0;
    // A failed server call, shown by its error name.
    virtual void ServerError(unsigned code) = 0;

    // Progress: the range, then the position in it.
    virtual void SetMaximum(qint64 maximum) = 0;
    virtual void SetPosition(qint64 position) = 0;
    // The status text (the window's status panel); empty clears it.
    virtual void Status(const QString& text) = 0;
    // One record's result.
    virtual void Item(const RunItem& item) = 0;

    // Copies one file between two disk or server paths with the server
    // file copy; the window shows its progress window meanwhile. Failures
    // have been told (Warn) when it returns false.
    virtual bool Copy(const QString& source, const QString& destination,
                      const QString& caption) = 0;

    // Moves one file between two server paths: renamed where both lie on
    // one file system (the window still shows its progress window, complete
    // at once), else copied by Copy, the source staying where it is. A
    // renamed file is gone from `source`. Where the destination's name is
    // taken nothing is moved or told (Taken): a move never replaces a
    // file, so a run may leave that check to it. Failures have been told
    // (Warn) when it returns Failed.
    virtual FileMove Move(const QString& source, const QString& destination,
                          const QString& caption) = 0;

    // The records of a file area seem to have lost their files, but its
    // folder looks offline (server/OfflineAreas.h): gone, unreadable, or
    // holding none of them, as an unmounted mount point does. True: treat
    // the files as missing all the same. False: the run leaves the area
    // alone, and `leftAlone` is the line that says which area and why.
    // Here: the question asked (No unless answered Yes), then the line as
    // a warning.
    virtual bool TreatOfflineAsMissing(const QString& question, const QString& leftAlone)
    {
        if (Ask(RunQuestion::TreatOfflineAsMissing, question, false) == RunAnswer::Yes)
            return true;
        Warn(leftAlone);
        return false;
    }

    // Called between records: gives the front end a turn (a window processes
    // its pending messages here) and tells whether a stop has been asked for
    // since the last call. A run that stops on it asks its own question.
    virtual bool StopRequested() = 0;
};
