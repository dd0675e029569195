// Talking to a running virus scanner daemon (clamd) over its Unix socket:
// the signature version (VERSION) and the scan of a file sent whole through
// the connection (INSTREAM), so that the daemon needs no access to the
// file; clamd opens archives itself. No widgets.
//
// Every call opens its own connection and uses the null-terminated command
// form ("zVERSION", "zINSTREAM"); data goes as chunks of a 4-byte
// big-endian length and the bytes, ended by a chunk of length 0. Every wait
// is bounded, so a daemon that hangs can't hang the caller, and a failure
// names the socket.
#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The default socket of Debian's clamav-daemon.
inline constexpr const char* DefaultClamdSocket = "/run/clamav/clamd.ctl";

struct ClamdTimeouts {
    int connectMs = 5000; // connecting (a full listen queue waits here)
    int ioMs = 30000;     // any one send or receive making no progress
    // From the end of the data to the answer: the daemon scans then, and
    // a large archive can take it a while.
    int answerMs = 300000;
};

enum class ClamdOutcome {
    Clean,       // "stream: OK"
    Infected,    // "stream: <signature> FOUND": `signature` names it
    TooLarge,    // the file is larger than the daemon's StreamMaxLength: not scanned
    ReadError,   // the file could not be read: not scanned
    Unreachable, // no daemon answers on the socket (missing, refused, timed out): not scanned
    Failed,      // the daemon answered with an error, broke off or hung: not scanned
};

struct ClamdScanResult {
    ClamdOutcome outcome = ClamdOutcome::Failed;
    QString signature; // for Infected
    // What went wrong, naming the socket ("clamd on /run/clamav/clamd.ctl:
    // connection refused"), or the daemon's own answer; empty for Clean and
    // Infected.
    QString message;
    QString answer;       // the daemon's answer as received, without its final NUL
    qint64 bytesSent = 0; // bytes of the file sent

    bool scanned() const
    {
        return outcome == ClamdOutcome::Clean || outcome == ClamdOutcome::Infected;
    }
};

struct ClamdVersion {
    bool ok = false;
    QString text;     // the whole answer: "ClamAV 1.0.7/27480/Tue Dec 10 09:23:45 2024"
    QString engine;   // "1.0.7"
    QString database; // "27480", or "" when the daemon reports no database version
    QString date;     // the database's date as the daemon writes it, or ""
    QString message;  // why `ok` is false, naming the socket
};

class ClamdClient
{
public:
    explicit ClamdClient(const QString& socketPath = QLatin1String(DefaultClamdSocket),
                         ClamdTimeouts timeouts = {});

    const QString& socketPath() const { return m_socket; }
    const ClamdTimeouts& timeouts() const { return m_timeouts; }
    // Bytes per INSTREAM chunk (default 64 KiB); it must stay below the
    // daemon's StreamMaxLength, which bounds each chunk as well as the sum.
    void setChunkBytes(qsizetype bytes) { m_chunkBytes = bytes > 0 ? bytes : m_chunkBytes; }

    // PING: true when the daemon answers PONG; `message` gets why not.
    bool ping(QString* message = nullptr) const;
    ClamdVersion version() const;

    // Reads into `buffer` at most `size` bytes: the count, 0 at the end,
    // -1 on a read error (with its text in `error`).
    using ReadFunction = std::function<qint64(char* buffer, qint64 size, QString& error)>;

    // Scans the bytes `read` yields, sent whole. A read error ends the scan
    // ReadError (the daemon gets no end mark and drops the stream).
    ClamdScanResult scanStream(const ReadFunction& read) const;
    // Scans the file at the disk path (its bytes as the file system holds them).
    ClamdScanResult scanFile(const QByteArray& path) const;
    ClamdScanResult scanFile(const QString& path) const;
    ClamdScanResult scanBytes(const QByteArray& data) const;

    // Reads an INSTREAM answer ("stream: OK", "stream: X FOUND",
    // "INSTREAM size limit exceeded. ERROR", "... ERROR") into `result`.
    static void parseScanAnswer(const QByteArray& answer, ClamdScanResult& result,
                                const QString& socketPath);
    // Reads a VERSION answer into `version` (ok stays as it is).
    static void parseVersionAnswer(const QByteArray& answer, ClamdVersion& version);

private:
    QString m_socket;
    ClamdTimeouts m_timeouts;
    qsizetype m_chunkBytes = 64 * 1024;
};

// The outcome in words for a finding ("clean", "infected: Eicar-Test",
// "not scanned: too large for the daemon's stream limit").
QString ClamdResultText(const ClamdScanResult& result);
