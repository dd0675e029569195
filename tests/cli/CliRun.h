// Runs the built vtfilemgr-cli and keeps its exit code and output.
#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

struct CliRun {
    int code = -1;
    QString out, err;
};

// code stays -1 when the program did not end within timeoutMs or crashed;
// err then says what QProcess saw. A program that could not be started at
// all (the machine out of processes for a moment) is started once more.
inline CliRun RunCli(const QStringList& args, int timeoutMs = 600000)
{
    CliRun run;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QProcess process;
        process.start(qEnvironmentVariable("VT_BIN_DIR") + QStringLiteral("/vtfilemgr-cli"),
                      args);
        if (!process.waitForFinished(timeoutMs)) {
            run.err = QStringLiteral("not finished: ") + process.errorString();
            if (process.error() == QProcess::FailedToStart)
                continue;
            return run;
        }
        run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        if (run.code == -1)
            run.err += QStringLiteral("crashed: ") + process.errorString();
        return run;
    }
    return run;
}
