// history: the runs of the journal, newest first, or the entries of one run.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/JournalFormat.h"
#include "server/RunJournal.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{

class HistoryCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("history"); }
    QString Summary() const override
    {
        return QStringLiteral("Lists the runs of the journal, newest first, or with RUN the "
                              "changes that run made.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("[RUN] [--limit N] [--format text|json]");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption(m_limit);
        parser.addOption(m_format);
        parser.addPositionalArgument(QStringLiteral("RUN"),
                                     QStringLiteral("A run's number: lists its changes."));
    }

    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const QString format = parser.value(m_format).toLower();
        if (format != QLatin1String("text") && format != QLatin1String("json")) {
            context.Error(QStringLiteral("unknown --format \"%1\": give text or json")
                              .arg(parser.value(m_format)));
            return ExitBadInput;
        }
        uint32_t limit = 0;
        if (parser.isSet(m_limit)) {
            bool ok = false;
            const int value = parser.value(m_limit).trimmed().toInt(&ok);
            if (!ok || value < 1) {
                context.Error(QStringLiteral("--limit needs a number of 1 or more, not \"%1\"")
                                  .arg(parser.value(m_limit)));
                return ExitBadInput;
            }
            limit = uint32_t(value);
        }
        const QStringList runs = parser.positionalArguments();
        if (runs.size() > 1) {
            context.Error(QStringLiteral("history takes at most one RUN"));
            return ExitBadInput;
        }
        if (runs.isEmpty())
            return ListRuns(context, limit, format == QLatin1String("json"));
        uint32_t id = 0;
        if (!ParseRunNumber(runs.first(), context, id))
            return ExitBadInput;
        return ListEntries(context, id, limit, format == QLatin1String("json"));
    }

private:
    static int ListRuns(CliContext& context, uint32_t limit, bool json)
    {
        QList<WcRunInfo> runs;
        if (!ListJournalRuns(limit, runs)) {
            context.Error(QStringLiteral("cannot read the journal (server error 0x%1)")
                              .arg(WcGetLastError(), 8, 16, QLatin1Char('0')));
            return ExitSomeFailed;
        }
        if (json) {
            QJsonArray array;
            for (const WcRunInfo& run : std::as_const(runs))
                array.append(RunJson(run));
            context.Line(
                QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Indented)).trimmed());
            return ExitDone;
        }
        for (const WcRunInfo& run : std::as_const(runs))
            context.Line(RunLine(run));
        return ExitDone;
    }

    static int ListEntries(CliContext& context, uint32_t id, uint32_t limit, bool json)
    {
        WcRunInfo run{};
        if (int code = LookUpRun(id, context, run))
            return code;
        QJsonArray entries;
        uint32_t listed = 0;
        if (!json)
            context.Line(RunLine(run));
        const bool ok = VisitRunEntries(id, [&](const WcRunEntry& entry) {
            if (json)
                entries.append(EntryJson(entry));
            else
                context.Line(EntryLine(entry));
            return limit == 0 || ++listed < limit;
        });
        if (!ok) {
            context.Error(QStringLiteral("cannot read the changes of run %1 (server error 0x%2)")
                              .arg(id)
                              .arg(WcGetLastError(), 8, 16, QLatin1Char('0')));
            return ExitSomeFailed;
        }
        if (json) {
            QJsonObject object = RunJson(run);
            object.insert(QStringLiteral("entries"), entries);
            context.Line(
                QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Indented)).trimmed());
        }
        return ExitDone;
    }

    QCommandLineOption m_limit{QStringLiteral("limit"),
                               QStringLiteral("Lists at most N runs (with RUN: N changes)."),
                               QStringLiteral("N")};
    QCommandLineOption m_format{QStringLiteral("format"),
                                QStringLiteral("text (one line each, tab-separated) or json."),
                                QStringLiteral("FORMAT"), QStringLiteral("text")};
};

} // namespace

std::unique_ptr<CliCommand> MakeHistoryCommand()
{
    return std::make_unique<HistoryCommand>();
}
