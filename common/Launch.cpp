#include "common/Launch.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

namespace
{
LaunchHook& launchHook()
{
    static LaunchHook hook;
    return hook;
}

constexpr qsizetype kMaxPath = 260;

int startDetached(const QString& program, const QString& parameters, const QString& folder)
{
    QString path = program;
    // A bare command name ("xdg-open") is looked up on PATH like the shell does.
    if (!path.contains(u'/')) {
        path = QStandardPaths::findExecutable(program);
        if (path.isEmpty())
            return 2;
    }
    const QFileInfo info(path);
    if (!info.exists()) {
        return QFileInfo(info.absolutePath()).isDir() ? 2 : 3;
    }
    if (!info.isFile() || !info.isExecutable())
        return 11;
    QProcess process;
    process.setProgram(path);
    if (!parameters.isEmpty())
        process.setArguments({parameters});
    process.setWorkingDirectory(folder.isEmpty() ? info.absolutePath() : folder);
    return process.startDetached() ? 42 : 31;
}
} // namespace

LaunchHook SetLaunchHook(LaunchHook hook)
{
    LaunchHook old = std::move(launchHook());
    launchHook() = std::move(hook);
    return old;
}

int LaunchProgram(const QString& program, const QString& parameters, int /*show*/)
{
    const QString prg = program.left(kMaxPath);
    const QString params = parameters.left(kMaxPath);
    // Working folder: everything up to and including the last separator.
    const qsizetype cut = std::max(prg.lastIndexOf(u'/'), prg.lastIndexOf(u':'));
    const QString folder = cut >= 0 ? prg.left(cut + 1) : QString();
    if (launchHook())
        return launchHook()(prg, params, folder);
    return startDetached(prg, params, folder);
}
