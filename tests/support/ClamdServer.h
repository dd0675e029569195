// A virus scanner daemon (clamd) of the test's own: a temporary folder with
// a signature database the test writes (nothing is downloaded), a clamd.conf
// and the daemon's socket. The daemon runs in the foreground as a child of
// the test and is stopped when the object goes (also when a test fails and
// returns early), and gets SIGTERM if the test program dies first.
//
// The database holds two signatures:
//  - the EICAR test string as a body signature (test.ndb), found anywhere
//    in a file and in the members of archives clamd opens;
//  - a hash signature (test.hdb) of the whole of MarkedFileBytes().
// Signatures from a database that isn't the official one are reported with
// ".UNOFFICIAL" after their name.
#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class ClamdServer
{
public:
    struct Options {
        // StreamMaxLength of clamd.conf: the most bytes one INSTREAM may send.
        qint64 streamMaxLength = 1024 * 1024;
    };

    ClamdServer();
    explicit ClamdServer(const Options& options);
    ~ClamdServer();
    ClamdServer(const ClamdServer&) = delete;
    ClamdServer& operator=(const ClamdServer&) = delete;

    // Writes the database and the configuration, starts clamd and waits
    // (up to `waitMs`) until it answers PING. False with `error()` telling
    // why (clamd missing, exited, never answered).
    bool start(int waitMs = 60000);
    // Stops the daemon (SIGTERM, then SIGKILL after a while) and waits for
    // it. Safe to call more than once.
    void stop();
    bool running() const;
    // The daemon's process id while it runs, else 0.
    qint64 pid() const;

    QString socketPath() const;
    QString configPath() const;
    QString folder() const { return m_dir.path(); }
    const QString& error() const { return m_error; }
    // What the daemon wrote to its log and its output (for failure messages).
    QString log() const;

    // The program file of clamd, or "" when it isn't installed.
    static QString program();

    // The 68 bytes of the EICAR test file.
    static QByteArray eicar();
    // Bytes that are harmless as such but listed by hash in the database.
    static QByteArray markedFileBytes();
    // The names the daemon reports for the two signatures.
    static QString eicarSignature();
    static QString markedSignature();

private:
    bool writeFiles();

    Options m_options;
    QTemporaryDir m_dir;
    std::unique_ptr<QProcess> m_process;
    QString m_error;
};
