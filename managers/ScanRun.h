// The scan of the base: every record's file (of the given areas, or those
// that pass the filter) sent whole to the virus scanner daemon (clamd) and
// tested as an archive (archive/ArchiveTest.h), with the record's "Failed
// Scan" flag set for what is infected or damaged. No widgets: the window
// (TScanMgr) and the command line (scan) ask, show and forward.
//
// Each record ends with one outcome: clean, infected (the signature),
// damaged (why), or not scanned (no daemon, the file missing or unreadable,
// too large for the daemon's stream limit, an encrypted member, ...: which
// one). "Not scanned" never changes a record. With no daemon reachable at
// the start the run reads and changes nothing; a daemon lost on the way
// leaves every record after it not scanned.
//
// Results are kept by the file's content hash (the duplicate finder's hash,
// WcGetFileHash, taken while the file is sent) and the key of the daemon's
// signatures (archive/ClamdSignatures.h): a record whose file has the hash
// kept for it (same size, time and file number) and a result for the
// signatures in force is not read again.
//
// Files are read and sent by a few threads at once (the daemon scans each
// stream on a thread of its own), while the archive test, the server calls
// and the delegate stay on the caller's thread, record by record in order.
#pragma once

#include "archive/ClamdClient.h"
#include "common/RunDelegate.h"
#include "filter/AgeLimits.h"
#include "filter/SearchRecord.h"

#include <QList>
#include <QString>

enum class ScanOutcome { Clean, Infected, Damaged, NotScanned };

// Why a record was not scanned.
enum class ScanSkip {
    None,
    NoDaemon,     // no daemon answered (at the start, or lost on the way)
    DaemonFailed, // the daemon answered with an error or broke off
    Missing,      // no file behind the record
    ReadError,    // the file could not be read (or changed while it was)
    TooLarge,     // larger than the daemon's stream limit, or the archive test's bounds
    Encrypted,    // an encrypted archive member: its data can't be checked
    Unsupported,  // an archive member packed with a method not decoded here
    NoComponent,  // a zip archive without the zip component
    Stopped,      // a stop was asked for while the record was tested
};

// The words of a reason: "no daemon", "read error", "too large", ...
QString ScanSkipWord(ScanSkip why);
// "clean", "infected", "damaged", "not scanned".
QString ScanOutcomeWord(ScanOutcome outcome);

struct ScanFinding {
    int area = 0;
    QString name; // the record's name (one Latin-1 character a byte)
    ScanOutcome outcome = ScanOutcome::Clean;
    ScanSkip why = ScanSkip::None;
    // The signature (infected), what is damaged, or more about why not.
    QString detail;
    bool unchanged = false;   // the result kept from an earlier scan: the file was not read
    bool flagChanged = false; // "Failed Scan" set or cleared (planned, in a dry run)
    int quarantinedTo = 0;    // the area the record moved to (planned, in a dry run), or 0
    // What was done to the record, in words ("Failed Scan set, moved to 99"),
    // or what a dry run would do ("set Failed Scan, move to 99").
    QString action;
    // One line: "infected: Eicar-Test", "not scanned (too large): ...".
    QString Text() const;
};

struct ScanOptions {
    QList<int> areas;         // an area the server does not have is passed over
    std::optional<SearchRecord> filter; // only records that pass it (none: every record)
    AgeLimits ages;           // and only records of these ages
    bool dryRun = true;       // reports what it would change; changes nothing
    // Infected records move there with their files (0: none). Must be an
    // area of the BBS; records already in it stay.
    int quarantine = 0;
    bool clearPassed = false; // clean records get "Failed Scan" cleared
    QString clamdSocket = QLatin1String(DefaultClamdSocket);
    ClamdTimeouts timeouts;
    // Results kept from earlier scans are used (and new ones kept).
    bool useKept = true;
    // Files read and sent at once (connections to the daemon).
    int readers = 3;
    // Where nested archives are written while tested; empty: the system's.
    QString tempFolder;
};

struct ScanResult {
    // The records that were not clean, and the clean ones whose flag
    // changed, in area-and-name order.
    QList<ScanFinding> findings;
    qint64 records = 0; // records the run looked at (walked and chosen)
    qint64 clean = 0, infected = 0, damaged = 0, notScanned = 0;
    qint64 unchanged = 0; // results kept from an earlier scan: files not read
    qint64 filesRead = 0; // files read and sent in this run
    qint64 bytesRead = 0; // their bytes
    qint64 flagsSet = 0;  // "Failed Scan" set (planned, in a dry run)
    qint64 flagsCleared = 0;
    qint64 quarantined = 0;   // records moved to the quarantine area (planned, in a dry run)
    qint64 changesFailed = 0; // flag changes or moves that failed or were refused
    double seconds = 0;
    // No daemon answered at the start: nothing was read or changed.
    bool noDaemon = false;
    bool daemonLost = false;  // the daemon stopped answering during the run
    bool stopped = false;     // a stop was asked for: the records after it were not looked at
    QString signatures;       // the daemon's signatures, in words
    bool resultsKept = false; // a signature key was known: results are kept and reused

    // Every record scanned and clean (and nothing failed).
    bool AllClean() const
    {
        return !noDaemon && !stopped && infected == 0 && damaged == 0 && notScanned == 0 &&
               changesFailed == 0;
    }
    // Bytes read per second (0 before anything was read).
    double BytesPerSecond() const { return seconds > 0 ? double(bytesRead) / seconds : 0; }
};

// Scans the areas' records. Reports each record (RunItem: Done for a result
// that needed no change or whose change was made, Planned for the change a
// dry run would make, Skipped for "not scanned", Failed or Refused for a
// change that failed), progress in KiB of the files to read with the bytes
// per second in the status text, and stops when asked (without a question:
// nothing is half done between two records).
ScanResult RunScan(const ScanOptions& options, RunDelegate& run);

// "1,234,567 bytes/s" as "1.2 MB/s".
QString RateText(double bytesPerSecond);
