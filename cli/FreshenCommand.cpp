// freshen: takes the size and the time of each record's file on disk into
// the record, as the main window's Freshen button does for its selection.
#include "app/FilteredListingRun.h"
#include "app/RecordRun.h"
#include "cli/AgeOptions.h"
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "cli/ListingOptions.h"
#include "common/Text.h"

#include <QCommandLineParser>

namespace
{

class FreshenCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("freshen"); }
    QString Summary() const override
    {
        return QStringLiteral("Takes the size and date of the files on disk into their records.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--filter FILE.FMS] ") + AgeSynopsis() +
               QStringLiteral(" (--dry-run | --yes)");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption(m_areas);
        parser.addOption(m_filter);
        AddAgeOptions(parser);
        parser.addOption(m_dryRun);
        parser.addOption(m_yes);
    }
    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        if (!parser.isSet(m_areas)) {
            context.Error(
                QStringLiteral("freshen needs --areas SPEC (all, or a list such as 1,3-5)"));
            return ExitBadInput;
        }
        if (parser.isSet(m_dryRun) == parser.isSet(m_yes)) {
            context.Error(QStringLiteral("freshen needs either --dry-run (show the changes) or "
                                         "--yes (make them)"));
            return ExitBadInput;
        }
        FilteredListingOptions listing;
        if (!ReadListingOptions(parser, m_areas, m_filter, context, listing))
            return ExitBadInput;
        ReportAgeLimits(context, listing.ages);

        // The records are chosen first, as the window's selection is, and
        // freshened after.
        CliDelegate delegate(context);
        RecordRunOptions options;
        options.dryRun = parser.isSet(m_dryRun);
        FilteredListingSink sink;
        sink.found = [&options](const FileRec& rec, const QString&) {
            options.entries.append({int(rec.Area), RecText(rec.Name)});
        };
        RunFilteredListing(listing, delegate, sink);
        RunRecordChanges(options, delegate);
        context.Line(delegate.Summary());
        return delegate.ExitCode();
    }

private:
    QCommandLineOption m_areas{QStringLiteral("areas"),
                               QStringLiteral("The areas: all, or a list such as 1,3-5,9."),
                               QStringLiteral("SPEC")};
    QCommandLineOption m_filter{QStringLiteral("filter"),
                                QStringLiteral("Freshens only the records a filter the match "
                                               "window saved (.FMS) matches."),
                                QStringLiteral("FILE.FMS")};
    QCommandLineOption m_dryRun{QStringLiteral("dry-run"),
                                QStringLiteral("Shows every change and makes none.")};
    QCommandLineOption m_yes{QStringLiteral("yes"), QStringLiteral("Makes the changes.")};
};

} // namespace

std::unique_ptr<CliCommand> MakeFreshenCommand()
{
    return std::make_unique<FreshenCommand>();
}
