// dupes: the duplicate finder. Lists the records that are duplicates by
// name and by content, and the records whose file is missing; with --delete
// it keeps one record per group by --keep and deletes the others through
// the deletion manager's run.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "cli/RecordFormat.h"
#include "common/Text.h"
#include "managers/DeletionRun.h"
#include "managers/DuplicateRun.h"

#include <QCommandLineParser>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace
{

QString KindWord(DupeKind kind)
{
    return kind == DupeKind::Name ? QStringLiteral("name") : QStringLiteral("content");
}

QJsonObject RecordJson(const DupeRecord& r)
{
    return QJsonObject{{QStringLiteral("area"), r.area},
                       {QStringLiteral("name"), r.name},
                       {QStringLiteral("size"), double(r.size)},
                       {QStringLiteral("date"), IsoTime(r.fileTime)},
                       {QStringLiteral("description"), ShownText(r.description)},
                       {QStringLiteral("uploader"), ShownText(r.uploader)},
                       {QStringLiteral("file"), r.present}};
}

class DupesCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("dupes"); }
    QString Summary() const override
    {
        return QStringLiteral(
            "Finds duplicate records by name and by content; deletes the copies.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--by name|content|both] [--format text|csv|json] "
                              "[--allow-offline] [--keep oldest|newest|area:N --delete [--files] "
                              "(--dry-run | --yes)]");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption(m_areas);
        parser.addOption(m_by);
        parser.addOption(m_format);
        parser.addOption(m_keep);
        parser.addOption(m_delete);
        parser.addOption(m_files);
        parser.addOption(m_dryRun);
        parser.addOption(m_yes);
        parser.addOption(m_allowOffline);
    }

    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        if (!parser.isSet(m_areas)) {
            context.Error(
                QStringLiteral("dupes needs --areas SPEC (all, or a list such as 1,3-5)"));
            return ExitBadInput;
        }
        DupeOptions options;
        if (!ParseDupeBy(parser.value(m_by), options.by)) {
            context.Error(QStringLiteral("unknown --by \"%1\": give name, content or both")
                              .arg(parser.value(m_by)));
            return ExitBadInput;
        }
        const QString format = parser.value(m_format).toLower();
        if (format != QLatin1String("text") && format != QLatin1String("csv") &&
            format != QLatin1String("json")) {
            context.Error(QStringLiteral("unknown --format \"%1\": give text, csv or json")
                              .arg(parser.value(m_format)));
            return ExitBadInput;
        }
        const bool deleting = parser.isSet(m_delete);
        KeepChoice keep;
        if (int code = ReadDeleteOptions(parser, context, deleting, format, keep))
            return code;
        if (!context.ParseAreas(parser.value(m_areas), options.areas))
            return ExitBadInput;

        CliDelegate run(context);
        run.SetAllowOffline(parser.isSet(m_allowOffline));
        const DupeResult found = RunDuplicateScan(options, run);
        if (!deleting) {
            if (format == QLatin1String("text"))
                WriteText(found, context);
            else if (format == QLatin1String("csv"))
                WriteCsv(found, context);
            else
                WriteJson(found, context);
            return run.ExitCode();
        }

        // Every group keeps its records by the rule; the others go through
        // the deletion manager's run, which keeps a file another record
        // still names.
        QList<QList<bool>> kept;
        for (qsizetype g = 0; g < found.groups.size(); ++g) {
            const DupeGroup& group = found.groups[g];
            kept.append(KeptMembers(group, keep));
            for (qsizetype i = 0; i < group.members.size(); ++i)
                if (kept.last()[i])
                    context.Line(QStringLiteral("%1\t%2\tkept (group %3 by %4)")
                                     .arg(QString::number(group.members[i].area),
                                          group.members[i].name, QString::number(g + 1),
                                          KindWord(group.kind)));
        }
        DeletionOptions deletion;
        deletion.records = RecordsToDelete(found.groups, kept, &deletion.keepFiles);
        deletion.deleteFromDisk = parser.isSet(m_files);
        deletion.dryRun = parser.isSet(m_dryRun);
        if (!deletion.records.isEmpty())
            RunDeletion(deletion, run);
        context.Line(run.Summary());
        return run.ExitCode();
    }

private:
    // Reads --keep, --delete, --files, --dry-run and --yes: 0, or the exit
    // code of bad input (message written).
    int ReadDeleteOptions(const QCommandLineParser& parser, CliContext& context, bool deleting,
                          const QString& format, KeepChoice& keep)
    {
        const bool dryRun = parser.isSet(m_dryRun), yes = parser.isSet(m_yes);
        if (!deleting) {
            if (parser.isSet(m_keep) || parser.isSet(m_files) || dryRun || yes) {
                context.Error(QStringLiteral("--keep, --files, --dry-run and --yes go with "
                                             "--delete"));
                return ExitBadInput;
            }
            return 0;
        }
        if (dryRun == yes) {
            context.Error(QStringLiteral("dupes --delete needs one of --dry-run and --yes "
                                         "(--dry-run shows what --yes would delete)"));
            return ExitBadInput;
        }
        if (format != QLatin1String("text")) {
            context.Error(QStringLiteral("dupes --delete writes text lines: leave out --format"));
            return ExitBadInput;
        }
        const QString rule = parser.value(m_keep).trimmed().toLower();
        if (rule == QLatin1String("oldest")) {
            keep.rule = KeepRule::Oldest;
        } else if (rule == QLatin1String("newest")) {
            keep.rule = KeepRule::Newest;
        } else if (rule.startsWith(QLatin1String("area:"))) {
            keep.rule = KeepRule::InArea;
            if (!context.ParseArea(QStringLiteral("keep"), rule.mid(5), keep.area))
                return ExitBadInput;
        } else {
            context.Error(
                parser.isSet(m_keep)
                    ? QStringLiteral("unknown --keep \"%1\": give oldest, newest or area:N")
                          .arg(parser.value(m_keep))
                    : QStringLiteral("dupes --delete needs --keep oldest, newest or area:N"));
            return ExitBadInput;
        }
        return 0;
    }

    static QString RecordLine(const DupeRecord& r)
    {
        return QStringList{QString::number(r.area),  r.name,
                           QString::number(r.size),  IsoTime(r.fileTime),
                           ShownText(r.description), ShownText(r.uploader)}
            .join(QLatin1Char('\t'));
    }

    static void WriteText(const DupeResult& found, CliContext& context)
    {
        int byName = 0, byContent = 0;
        for (qsizetype g = 0; g < found.groups.size(); ++g) {
            const DupeGroup& group = found.groups[g];
            ++(group.kind == DupeKind::Name ? byName : byContent);
            context.Line(QStringLiteral("group %1 by %2 %3: %4 records, %5 bytes")
                             .arg(QString::number(g + 1), KindWord(group.kind), group.key,
                                  QString::number(group.members.size()),
                                  QString::number(group.SpaceTaken())));
            for (const DupeRecord& r : group.members)
                context.Line(QStringLiteral("  ") + RecordLine(r) +
                             (r.present ? QString() : QStringLiteral("\tfile missing")));
        }
        if (!found.missing.isEmpty()) {
            context.Line(QStringLiteral("file missing: %1 records").arg(found.missing.size()));
            for (const DupeRecord& r : found.missing)
                context.Line(QStringLiteral("  ") + RecordLine(r));
        }
        context.Line(QStringLiteral("%1 records scanned: %2 groups by name, %3 by content, %4 "
                                    "files missing; %5 files read (%6 bytes), %7 kept hashes "
                                    "used")
                         .arg(QString::number(found.records), QString::number(byName),
                              QString::number(byContent), QString::number(found.missing.size()),
                              QString::number(found.filesRead), QString::number(found.bytesRead),
                              QString::number(found.hashesReused)));
    }

    static void WriteCsv(const DupeResult& found, CliContext& context)
    {
        context.Line(
            QStringLiteral("group,kind,key,area,name,size,date,description,uploader,file"));
        auto line = [&](const QString& group, const QString& kind, const QString& key,
                        const DupeRecord& r) {
            context.Line(QStringList{group, kind, CsvField(key), QString::number(r.area),
                                     CsvField(r.name), QString::number(r.size), IsoTime(r.fileTime),
                                     CsvField(ShownText(r.description)),
                                     CsvField(ShownText(r.uploader)),
                                     r.present ? QStringLiteral("yes") : QStringLiteral("no")}
                             .join(QLatin1Char(',')));
        };
        for (qsizetype g = 0; g < found.groups.size(); ++g)
            for (const DupeRecord& r : found.groups[g].members)
                line(QString::number(g + 1), KindWord(found.groups[g].kind), found.groups[g].key,
                     r);
        for (const DupeRecord& r : found.missing)
            line(QString(), QStringLiteral("missing"), QString(), r);
    }

    static void WriteJson(const DupeResult& found, CliContext& context)
    {
        QJsonArray groups, missing;
        for (const DupeGroup& group : found.groups) {
            QJsonArray records;
            for (const DupeRecord& r : group.members)
                records.append(RecordJson(r));
            groups.append(QJsonObject{{QStringLiteral("by"), KindWord(group.kind)},
                                      {QStringLiteral("key"), group.key},
                                      {QStringLiteral("count"), int(group.members.size())},
                                      {QStringLiteral("space"), double(group.SpaceTaken())},
                                      {QStringLiteral("records"), records}});
        }
        for (const DupeRecord& r : found.missing)
            missing.append(RecordJson(r));
        const QJsonObject scan{{QStringLiteral("records"), double(found.records)},
                               {QStringLiteral("filesRead"), double(found.filesRead)},
                               {QStringLiteral("bytesRead"), double(found.bytesRead)},
                               {QStringLiteral("hashesReused"), double(found.hashesReused)},
                               {QStringLiteral("readFailures"), double(found.readFailures)}};
        const QJsonObject all{{QStringLiteral("groups"), groups},
                              {QStringLiteral("missing"), missing},
                              {QStringLiteral("scan"), scan}};
        context.Line(
            QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)).trimmed());
    }

    QCommandLineOption m_areas{QStringLiteral("areas"),
                               QStringLiteral("The areas: all, or a list such as 1,3-5,9."),
                               QStringLiteral("SPEC")};
    QCommandLineOption m_by{QStringLiteral("by"),
                            QStringLiteral("name (the same name in several areas), content "
                                           "(files with the same bytes) or both."),
                            QStringLiteral("WHAT"), QStringLiteral("both")};
    QCommandLineOption m_format{QStringLiteral("format"),
                                QStringLiteral("text, csv or json (listing only)."),
                                QStringLiteral("FORMAT"), QStringLiteral("text")};
    QCommandLineOption m_keep{QStringLiteral("keep"),
                              QStringLiteral("Which record of each group stays with --delete: "
                                             "oldest, newest, or area:N (those in area N)."),
                              QStringLiteral("RULE")};
    QCommandLineOption m_delete{QStringLiteral("delete"),
                                QStringLiteral("Deletes the records of each group that --keep "
                                               "does not keep.")};
    QCommandLineOption m_files{QStringLiteral("files"),
                               QStringLiteral("Deletes their files from disk also (a file that "
                                              "a record which stays names is kept).")};
    QCommandLineOption m_dryRun{QStringLiteral("dry-run"),
                                QStringLiteral("Prints every deletion it would make; changes "
                                               "nothing.")};
    QCommandLineOption m_yes{QStringLiteral("yes"), QStringLiteral("Deletes.")};
    QCommandLineOption m_allowOffline{
        QStringLiteral("allow-offline"),
        QStringLiteral("Scans an area whose folder looks offline (missing, unreadable, or "
                       "holding none of its files) and lists its records as missing; without "
                       "it such an area is left out.")};
};

} // namespace

std::unique_ptr<CliCommand> MakeDupesCommand()
{
    return std::make_unique<DupesCommand>();
}
