// Runs the built vtfilemgr-cli and keeps its exit code and output.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

struct CliRun {
    int code = -1;
    QString out, err;
};

// code stays -1 when the program did not end within timeoutMs or crashed.
inline CliRun RunCli(const QStringList& args, int timeoutMs = 600000)
{
    QProcess process;
    process.start(qEnvironmentVariable("VT_BIN_DIR") + QStringLiteral("/vtfilemgr-cli"), args);
    CliRun run;
    if (!process.waitForFinished(timeoutMs))
        return run;
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}
