// What every command of vtfilemgr-cli shares: the BBS (home folder, login),
// the area list, the filter file, and the lines it writes to the terminal
// and to the log.
#pragma once

#include "common/RunDelegate.h"
#include "filter/SearchRecord.h"
#include "server/ServerSession.h"

#include <QFile>
#include <QList>
#include <QString>
#include <QTextStream>

#include <optional>

class CliContext
{
public:
    CliContext();
    ~CliContext();
    CliContext(const CliContext&) = delete;
    CliContext& operator=(const CliContext&) = delete;

    // Points the server library at `home` (empty: WCSRV_HOME, then the
    // default) and logs in. False with the message already written.
    bool Login(const QString& home);
    // Opens `path` for appending the output lines with a time stamp.
    bool OpenLog(const QString& path);

    // "all" or a list such as "1,3-5,9": the existing areas it names, in
    // number order without repeats. False (message written) when the text
    // cannot be read or names an area the BBS does not have.
    bool ParseAreas(const QString& spec, QList<int>& areas);
    // The one area of "--from N" and the like.
    bool ParseArea(const QString& option, const QString& text, int& area);
    // Loads a ".FMS" file the match window saved into `filter`, the filter
    // a run's options carry. False (message written, `filter` untouched)
    // when it cannot be read.
    bool LoadFilter(const QString& path, std::optional<SearchRecord>& filter);

    // A result line on standard output (and in the log).
    void Line(const QString& text);
    // A line about bad input or a failure on standard error (and in the log).
    void Error(const QString& text);
    // The progress line on standard error, only when it is a terminal; each
    // one replaces the last. Done() ends it before other output.
    void Progress(const QString& text);
    void EndProgress();

    static QString OutcomeWord(RunOutcome outcome);

    // The settings file the tool reads (--config FILE, else the program's
    // vuru.cfg), for commands that read more of it than the code page.
    void SetConfigPath(const QString& path) { m_configPath = path; }
    const QString& ConfigPath() const { return m_configPath; }

private:
    void Log(const QString& text);

    ServerSession m_session;
    bool m_progressShown = false;
    bool m_stderrIsTerminal = false;
    QFile m_log;
    QString m_configPath;
    QTextStream m_out;
    QTextStream m_err;
};
