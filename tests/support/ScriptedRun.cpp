#include "ScriptedRun.h"

#include "common/Text.h"
#include "server/ServerFileCopy.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

RunAnswer ScriptedRun::Ask(RunQuestion question, const QString& text, bool)
{
    asked << text;
    named << question;
    if (answers.isEmpty()) {
        unexpected = true;
        return RunAnswer::No;
    }
    return answers.takeFirst();
}

bool ScriptedRun::Copy(const QString& source, const QString& destination, const QString& caption)
{
    if (++copies == copyFailsAt || (!failCopyOf.isEmpty() && source.endsWith(failCopyOf))) {
        Warn(QStringLiteral("Error Writing: ") + destination);
        return false;
    }
    struct Observer : CopyObserver {
        ScriptedRun& run;
        explicit Observer(ScriptedRun& r) : run(r) {}
        void Warn(const QString& text) override { run.Warn(text); }
    } observer(*this);
    copied << source;
    return CopyServerFileWith(source, destination, caption, observer);
}

FileMove ScriptedRun::Move(const QString& source, const QString& destination,
                           const QString& caption)
{
    if (IsServerPath(destination) && WcExistFile(ToBytes(destination).constData()))
        return FileMove::Taken;
    return Copy(source, destination, caption) ? FileMove::Copied : FileMove::Failed;
}

QStringList ScriptedRun::names(RunOutcome outcome) const
{
    QStringList out;
    for (const RunItem& item : items)
        if (item.outcome == outcome)
            out << item.name;
    return out;
}

QStringList ScriptedRun::lines(RunOutcome outcome) const
{
    QStringList out;
    for (const RunItem& item : items)
        if (item.outcome == outcome)
            out << item.name + u' ' + item.action;
    return out;
}
