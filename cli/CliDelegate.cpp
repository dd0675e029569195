#include "cli/CliDelegate.h"

#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "server/ServerFileCopy.h"

#include <QStringList>

#include <functional>
#include <utility>

CliDelegate::CliDelegate(CliContext& context) : m_context(context) {}

RunAnswer CliDelegate::Ask(RunQuestion question, const QString&, bool)
{
    switch (question) {
    case RunQuestion::TreatOfflineAsMissing: // --allow-offline
        return m_allowOffline ? RunAnswer::Yes : RunAnswer::No;
    // The commands set their runs up so that these are not asked: no
    // prompts per record, no preview, no stop request (StopRequested), and
    // no record moves alone. Should one come, No leaves things as they are.
    case RunQuestion::DeleteRecord:
    case RunQuestion::StopDeletion:
    case RunQuestion::StopMove:
    case RunQuestion::MoveRecordWithoutFile:
    case RunQuestion::MoveRecordOnly:
    case RunQuestion::DeleteTargetFile:
    case RunQuestion::StopAdding:
    case RunQuestion::AddPlannedFiles:
    case RunQuestion::StopImport:
        break;
    }
    return RunAnswer::No;
}

bool CliDelegate::TreatOfflineAsMissing(const QString&, const QString& leftAlone)
{
    if (m_allowOffline)
        return true;
    Warn(leftAlone); // counted: the run ends with ExitSomeFailed
    return false;
}

void CliDelegate::Warn(const QString& text)
{
    ++m_warnings;
    m_context.Error(QString(text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
}

void CliDelegate::Inform(const QString& text)
{
    m_context.Line(QString(text).replace(QLatin1Char('\r'), QLatin1Char(' ')));
}

void CliDelegate::ServerError(unsigned code)
{
    ++m_warnings;
    m_context.Error(QStringLiteral("server error 0x%1").arg(code, 8, 16, QLatin1Char('0')));
}

void CliDelegate::SetMaximum(qint64 maximum)
{
    m_maximum = maximum;
}

void CliDelegate::SetPosition(qint64 position)
{
    // The terminal line is rewritten only when the shown figure changes.
    if (position == m_position)
        return;
    m_position = position;
    if (m_maximum > 0)
        m_context.Progress(
            QStringLiteral("%1 %2/%3")
                .arg(m_status, QString::number(position), QString::number(m_maximum)));
}

void CliDelegate::Status(const QString& text)
{
    m_status = text;
    if (!text.isEmpty())
        m_context.Progress(text);
}

void CliDelegate::Item(const RunItem& item)
{
    const int index = int(item.outcome);
    if (index >= 0 && index < 5)
        ++m_counts[index];
    m_context.Line(QStringLiteral("%1\t%2\t%3%4")
                       .arg(QString::number(item.area), item.name,
                            item.outcome == RunOutcome::Done
                                ? QString()
                                : CliContext::OutcomeWord(item.outcome) + QLatin1Char(' '),
                            item.action));
}

int CliDelegate::Count(RunOutcome outcome) const
{
    const int index = int(outcome);
    return index >= 0 && index < 5 ? m_counts[index] : 0;
}

int CliDelegate::ExitCode() const
{
    return Count(RunOutcome::Failed) || Count(RunOutcome::Refused) || m_warnings ? ExitSomeFailed
                                                                                 : ExitDone;
}

QString CliDelegate::Summary() const
{
    static const char* const words[] = {"done", "skipped", "refused", "failed", "planned"};
    QStringList parts;
    for (int i = 0; i < 5; ++i)
        if (m_counts[i])
            parts << QString::number(m_counts[i]) + QLatin1Char(' ') + QLatin1String(words[i]);
    if (m_warnings)
        parts << QStringLiteral("%1 messages").arg(m_warnings);
    return parts.isEmpty() ? QStringLiteral("nothing to do") : parts.join(QStringLiteral(", "));
}

namespace
{

// The copy's failures are the run's messages; its progress is the
// terminal's progress line.
struct CliCopyObserver : CopyObserver {
    CliContext& context;
    std::function<void(const QString&)> warn;
    QString caption;
    int maximum = 0;
    CliCopyObserver(CliContext& c, std::function<void(const QString&)> w, const QString& cap)
        : context(c), warn(std::move(w)), caption(cap)
    {
    }
    void Begin(const QString&, int max) override { maximum = max; }
    void Progress(int chunks) override
    {
        if (maximum > 0)
            context.Progress(QStringLiteral("%1 %2%").arg(
                caption, QString::number(qint64(chunks) * 100 / maximum)));
    }
    void Warn(const QString& text) override { warn(text); }
};

} // namespace

bool CliDelegate::Copy(const QString& source, const QString& destination, const QString& caption)
{
    CliCopyObserver observer(
        m_context, [this](const QString& text) { Warn(text); }, caption);
    return CopyServerFileWith(source, destination, caption, observer);
}

FileMove CliDelegate::Move(const QString& source, const QString& destination,
                           const QString& caption)
{
    CliCopyObserver observer(
        m_context, [this](const QString& text) { Warn(text); }, caption);
    return MoveServerFileWith(source, destination, caption, observer);
}
