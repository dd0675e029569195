// scan: the records' files of the given areas sent to the virus scanner
// daemon and tested as archives; with --yes infected and damaged records
// get "Failed Scan" set (clean ones cleared with --clear-passed), infected
// ones moved to --quarantine. Exit 0 when every record was scanned and is
// clean, 1 with findings or records not scanned (or no daemon), 2 on bad
// input.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "config/Settings.h"
#include "managers/ScanRun.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace
{

// The JSON form writes every record at the end, not one line each.
class QuietDelegate : public CliDelegate
{
public:
    using CliDelegate::CliDelegate;
    void Item(const RunItem&) override {}
    void Inform(const QString&) override {}
};

class ScanCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("scan"); }
    QString Summary() const override
    {
        return QStringLiteral("Scans the records' files for viruses (clamd) and damaged "
                              "archives; sets Failed Scan on what it finds.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--filter FILE.FMS] (--dry-run | --yes) "
                              "[--quarantine AREA] [--clear-passed] [--clamd SOCKET] "
                              "[--format text|json]");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption({QStringLiteral("areas"),
                          QStringLiteral("The areas: \"all\" or a list such as 1,3-5,9."),
                          QStringLiteral("SPEC")});
        parser.addOption({QStringLiteral("filter"),
                          QStringLiteral("Scans only the records that pass this filter."),
                          QStringLiteral("FILE.FMS")});
        parser.addOption({QStringLiteral("dry-run"),
                          QStringLiteral("Scans and prints what --yes would change; changes no "
                                         "record.")});
        parser.addOption({QStringLiteral("yes"),
                          QStringLiteral("Sets Failed Scan on infected and damaged records (one "
                                         "run of the journal: undo takes it back).")});
        parser.addOption({QStringLiteral("quarantine"),
                          QStringLiteral("Moves infected records with their files to this area."),
                          QStringLiteral("AREA")});
        parser.addOption({QStringLiteral("clear-passed"),
                          QStringLiteral("Clears Failed Scan on records found clean.")});
        parser.addOption({QStringLiteral("clamd"),
                          QStringLiteral("The daemon's socket (default: ClamdSocket of section "
                                         "Scan in the settings file, else "
                                         "/run/clamav/clamd.ctl)."),
                          QStringLiteral("SOCKET")});
        parser.addOption({QStringLiteral("format"),
                          QStringLiteral("text (one line per record, then a summary) or json "
                                         "(the findings and the counts). Results are kept by "
                                         "content and signatures: a rescan reads no file "
                                         "whose content and signatures are unchanged."),
                          QStringLiteral("FORMAT"), QStringLiteral("text")});
    }

    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        const bool dryRun = parser.isSet(QStringLiteral("dry-run"));
        const bool yes = parser.isSet(QStringLiteral("yes"));
        if (dryRun == yes) {
            context.Error(QStringLiteral("scan needs one of --dry-run and --yes "
                                         "(--dry-run shows what --yes would change)"));
            return ExitBadInput;
        }
        if (!parser.isSet(QStringLiteral("areas"))) {
            context.Error(QStringLiteral("scan needs --areas SPEC (\"all\" or e.g. 1,3-5)"));
            return ExitBadInput;
        }
        const QString format = parser.value(QStringLiteral("format")).toLower();
        if (format != QLatin1String("text") && format != QLatin1String("json")) {
            context.Error(QStringLiteral("unknown --format \"%1\": give text or json")
                              .arg(parser.value(QStringLiteral("format"))));
            return ExitBadInput;
        }
        ScanOptions options;
        if (!context.ParseAreas(parser.value(QStringLiteral("areas")), options.areas))
            return ExitBadInput;
        if (parser.isSet(QStringLiteral("quarantine")) &&
            !context.ParseArea(QStringLiteral("--quarantine"),
                               parser.value(QStringLiteral("quarantine")), options.quarantine))
            return ExitBadInput;
        if (parser.isSet(QStringLiteral("filter"))) {
            if (!context.LoadFilter(parser.value(QStringLiteral("filter")), options.filter))
                return ExitBadInput;
        }
        options.dryRun = dryRun;
        options.clearPassed = parser.isSet(QStringLiteral("clear-passed"));
        options.clamdSocket = parser.isSet(QStringLiteral("clamd"))
                                  ? parser.value(QStringLiteral("clamd"))
                                  : ClamdSocketSetting;
        if (options.clamdSocket.isEmpty()) {
            context.Error(QStringLiteral("--clamd needs the daemon's socket"));
            return ExitBadInput;
        }

        const bool json = format == QLatin1String("json");
        std::unique_ptr<CliDelegate> run = json ? std::make_unique<QuietDelegate>(context)
                                                : std::make_unique<CliDelegate>(context);
        const ScanResult result = RunScan(options, *run);
        context.EndProgress();
        if (json)
            WriteJson(result, context);
        else if (!result.noDaemon)
            context.Line(SummaryLine(result));
        return result.AllClean() && run->ExitCode() == ExitDone ? ExitDone : ExitSomeFailed;
    }

private:
    static QString SummaryLine(const ScanResult& r)
    {
        QString line = QStringLiteral("scanned %1 records: %2 clean, %3 infected, %4 damaged, "
                                      "%5 not scanned; %6 unchanged skipped (not read); %7 files, "
                                      "%8 bytes read in %9 s (%10)")
                           .arg(r.records)
                           .arg(r.clean)
                           .arg(r.infected)
                           .arg(r.damaged)
                           .arg(r.notScanned)
                           .arg(r.unchanged)
                           .arg(r.filesRead)
                           .arg(r.bytesRead)
                           .arg(r.seconds, 0, 'f', 1)
                           .arg(RateText(r.BytesPerSecond()));
        QStringList changes;
        if (r.flagsSet)
            changes << QStringLiteral("%1 flags set").arg(r.flagsSet);
        if (r.flagsCleared)
            changes << QStringLiteral("%1 flags cleared").arg(r.flagsCleared);
        if (r.quarantined)
            changes << QStringLiteral("%1 quarantined").arg(r.quarantined);
        if (r.changesFailed)
            changes << QStringLiteral("%1 changes failed").arg(r.changesFailed);
        if (!changes.isEmpty())
            line += QStringLiteral("; ") + changes.join(QStringLiteral(", "));
        if (r.daemonLost)
            line += QStringLiteral("; the daemon stopped answering");
        if (r.stopped)
            line += QStringLiteral("; stopped");
        return line;
    }

    static void WriteJson(const ScanResult& r, CliContext& context)
    {
        QJsonArray findings;
        for (const ScanFinding& f : r.findings) {
            QJsonObject o{{QStringLiteral("area"), f.area},
                          {QStringLiteral("name"), f.name},
                          {QStringLiteral("outcome"), ScanOutcomeWord(f.outcome)},
                          {QStringLiteral("detail"), f.detail},
                          {QStringLiteral("unchanged"), f.unchanged},
                          {QStringLiteral("flagChanged"), f.flagChanged}};
            if (f.outcome == ScanOutcome::NotScanned)
                o.insert(QStringLiteral("why"), ScanSkipWord(f.why));
            if (f.quarantinedTo)
                o.insert(QStringLiteral("quarantinedTo"), f.quarantinedTo);
            if (!f.action.isEmpty())
                o.insert(QStringLiteral("action"), f.action);
            findings.append(o);
        }
        const QJsonObject counts{{QStringLiteral("records"), double(r.records)},
                                 {QStringLiteral("clean"), double(r.clean)},
                                 {QStringLiteral("infected"), double(r.infected)},
                                 {QStringLiteral("damaged"), double(r.damaged)},
                                 {QStringLiteral("notScanned"), double(r.notScanned)},
                                 {QStringLiteral("unchanged"), double(r.unchanged)},
                                 {QStringLiteral("filesRead"), double(r.filesRead)},
                                 {QStringLiteral("bytesRead"), double(r.bytesRead)},
                                 {QStringLiteral("flagsSet"), double(r.flagsSet)},
                                 {QStringLiteral("flagsCleared"), double(r.flagsCleared)},
                                 {QStringLiteral("quarantined"), double(r.quarantined)},
                                 {QStringLiteral("changesFailed"), double(r.changesFailed)}};
        const QJsonObject all{{QStringLiteral("signatures"), r.signatures},
                              {QStringLiteral("noDaemon"), r.noDaemon},
                              {QStringLiteral("daemonLost"), r.daemonLost},
                              {QStringLiteral("seconds"), r.seconds},
                              {QStringLiteral("bytesPerSecond"), r.BytesPerSecond()},
                              {QStringLiteral("counts"), counts},
                              {QStringLiteral("findings"), findings}};
        context.Line(
            QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)).trimmed());
    }
};

} // namespace

std::unique_ptr<CliCommand> MakeScanCommand()
{
    return std::make_unique<ScanCommand>();
}
