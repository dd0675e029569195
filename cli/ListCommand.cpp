// list: the records of areas, with a filter as the main window's filtered
// listing applies it, one record a line as text, CSV or JSON.
#include "app/FilteredListingRun.h"
#include "cli/AgeOptions.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "cli/ListingOptions.h"
#include "cli/RecordFormat.h"
#include "common/Text.h"
#include "filter/SearchRecord.h"

#include <QCommandLineParser>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace
{

class ListCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("list"); }
    QString Summary() const override
    {
        return QStringLiteral("Lists the records of areas, as the filtered listing shows them.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--filter FILE.FMS] ") + AgeSynopsis() +
               QStringLiteral(" [--format text|csv|json]");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption(m_areas);
        parser.addOption(m_filter);
        AddAgeOptions(parser);
        parser.addOption(m_format);
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        if (!parser.isSet(m_areas)) {
            context.Error(QStringLiteral("list needs --areas SPEC (all, or a list such as 1,3-5)"));
            return ExitBadInput;
        }
        const QString format = parser.value(m_format).toLower();
        if (format != QLatin1String("text") && format != QLatin1String("csv") &&
            format != QLatin1String("json")) {
            context.Error(QStringLiteral("unknown --format \"%1\": give text, csv or json")
                              .arg(parser.value(m_format)));
            return ExitBadInput;
        }
        FilteredListingOptions options;
        if (!ReadListingOptions(parser, m_areas, m_filter, context, options))
            return ExitBadInput;

        CliDelegate delegate(context);
        QStringList json;
        FilteredListingSink sink;
        if (format == QLatin1String("csv"))
            context.Line(QStringLiteral("area,name,size,date,description"));
        sink.found = [&](const FileRec& rec, const QString& line) {
            const QString name = RecText(rec.Name);
            const QString description = ShownRecText(rec.Description);
            if (format == QLatin1String("text")) {
                context.Line(line);
            } else if (format == QLatin1String("csv")) {
                context.Line(QStringList{QString::number(rec.Area), CsvField(name),
                                         QString::number(rec.Size), IsoTime(rec.FileTime),
                                         CsvField(description)}
                                 .join(QLatin1Char(',')));
            } else {
                const QJsonObject object{{QStringLiteral("area"), int(rec.Area)},
                                         {QStringLiteral("name"), name},
                                         {QStringLiteral("size"), int(rec.Size)},
                                         {QStringLiteral("date"), IsoTime(rec.FileTime)},
                                         {QStringLiteral("description"), description},
                                         {QStringLiteral("line"), line}};
                json << QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact));
            }
        };
        RunFilteredListing(options, delegate, sink);
        if (format == QLatin1String("json")) {
            context.Line(QStringLiteral("["));
            for (qsizetype i = 0; i < json.size(); ++i)
                context.Line(json.at(i) + (i + 1 < json.size() ? QStringLiteral(",") : QString()));
            context.Line(QStringLiteral("]"));
        }
        return delegate.ExitCode();
    }

private:
    QCommandLineOption m_areas{QStringLiteral("areas"),
                               QStringLiteral("The areas: all, or a list such as 1,3-5,9."),
                               QStringLiteral("SPEC")};
    QCommandLineOption m_filter{QStringLiteral("filter"),
                                QStringLiteral("Lists only the records a filter the match "
                                               "window saved (.FMS) matches."),
                                QStringLiteral("FILE.FMS")};
    QCommandLineOption m_format{QStringLiteral("format"),
                                QStringLiteral("text (the list lines), csv or json."),
                                QStringLiteral("FORMAT"), QStringLiteral("text")};
};

} // namespace

std::unique_ptr<CliCommand> MakeListCommand()
{
    return std::make_unique<ListCommand>();
}
