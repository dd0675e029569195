// check: a report on the whole base that reads and changes nothing, for
// cron before anything that deletes or moves. Per area: offline folders,
// records whose file is missing, files no record names, names on disk in
// two letter cases, sizes and dates that differ, files too large for a
// record; then the store's own check. Exit 0 with nothing found, 1 with
// findings, 2 on bad input.
#include "cli/CliCommand.h"
#include "cli/CliContext.h"
#include "cli/CliDelegate.h"
#include "cli/RecordFormat.h"
#include "managers/CheckRun.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace
{

constexpr CheckKind kKinds[] = {CheckKind::Offline,     CheckKind::Unreadable,  CheckKind::Missing,
                                CheckKind::SizeDiffers, CheckKind::DateDiffers, CheckKind::TooLarge,
                                CheckKind::Orphan,      CheckKind::CaseTwins,   CheckKind::Link,
                                CheckKind::Store};

class CheckCommand : public CliCommand
{
public:
    QString Name() const override { return QStringLiteral("check"); }
    QString Summary() const override
    {
        return QStringLiteral("Reports offline areas, missing and unlisted files, sizes and "
                              "dates that differ, and the store's state; changes nothing.");
    }
    QString Synopsis() const override
    {
        return QStringLiteral("--areas SPEC [--integrity] [--format text|json]");
    }
    void AddOptions(QCommandLineParser& parser) override
    {
        parser.addOption(m_areas);
        parser.addOption(m_integrity);
        parser.addOption(m_format);
    }

    int Run(QCommandLineParser& parser, CliContext& context) override
    {
        if (!parser.isSet(m_areas)) {
            context.Error(
                QStringLiteral("check needs --areas SPEC (all, or a list such as 1,3-5)"));
            return ExitBadInput;
        }
        const QString format = parser.value(m_format).toLower();
        if (format != QLatin1String("text") && format != QLatin1String("json")) {
            context.Error(QStringLiteral("unknown --format \"%1\": give text or json")
                              .arg(parser.value(m_format)));
            return ExitBadInput;
        }
        CheckOptions options;
        options.integrity = parser.isSet(m_integrity);
        if (!context.ParseAreas(parser.value(m_areas), options.areas))
            return ExitBadInput;

        CliDelegate run(context);
        const CheckResult result = RunCheck(options, run);
        context.EndProgress();
        if (format == QLatin1String("json"))
            WriteJson(result, context);
        else
            WriteText(result, context);
        return result.findings.isEmpty() ? ExitDone : ExitSomeFailed;
    }

private:
    static void WriteText(const CheckResult& result, CliContext& context)
    {
        for (const CheckFinding& f : result.findings)
            context.Line(QStringList{f.area > 0 ? QString::number(f.area) : QStringLiteral("-"),
                                     CheckKindWord(f.kind), f.name, f.detail}
                             .join(QLatin1Char('\t')));
        int offline = 0;
        for (const CheckArea& a : result.areas)
            offline += a.offline ? 1 : 0;
        QString store = QStringLiteral("store not checked");
        if (result.storeChecked) {
            store = QStringLiteral("store: %1 users, %2 areas")
                        .arg(result.store.Users)
                        .arg(result.store.Areas);
            if (result.store.Flags & WC_CHECK_INTEGRITY)
                store +=
                    QStringLiteral(", integrity pass over %1 records").arg(result.store.Records);
        }
        context.Line(QStringLiteral("checked %1 areas (%2 offline), %3 records, %4 files; %5")
                         .arg(result.areas.size())
                         .arg(offline)
                         .arg(result.records)
                         .arg(result.files)
                         .arg(store));
        QStringList counts;
        for (const CheckKind kind : kKinds)
            if (const int n = result.Count(kind))
                counts << QStringLiteral("%1 %2").arg(n).arg(CheckKindWord(kind));
        context.Line(counts.isEmpty() ? QStringLiteral("no findings")
                                      : QStringLiteral("%1 findings: %2")
                                            .arg(result.findings.size())
                                            .arg(counts.join(QStringLiteral(", "))));
    }

    static void WriteJson(const CheckResult& result, CliContext& context)
    {
        QJsonArray areas, findings;
        for (const CheckArea& a : result.areas)
            areas.append(QJsonObject{{QStringLiteral("area"), a.area},
                                     {QStringLiteral("folder"), QFile::decodeName(a.folder)},
                                     {QStringLiteral("records"), double(a.records)},
                                     {QStringLiteral("files"), double(a.files)},
                                     {QStringLiteral("offline"), a.offline}});
        for (const CheckFinding& f : result.findings) {
            QJsonObject o{{QStringLiteral("area"), f.area},
                          {QStringLiteral("kind"), CheckKindWord(f.kind)},
                          {QStringLiteral("name"), f.name},
                          {QStringLiteral("detail"), f.detail}};
            if (f.kind == CheckKind::Missing || f.kind == CheckKind::SizeDiffers ||
                f.kind == CheckKind::DateDiffers || f.kind == CheckKind::TooLarge) {
                o.insert(QStringLiteral("recordSize"), double(f.recordSize));
                o.insert(QStringLiteral("recordDate"), IsoTime(f.recordTime));
            }
            if (f.fileSize >= 0) {
                o.insert(QStringLiteral("fileSize"), double(f.fileSize));
                o.insert(QStringLiteral("fileDate"), IsoTime(f.fileTime));
            }
            if (!f.names.isEmpty())
                o.insert(QStringLiteral("names"), QJsonArray::fromStringList(f.names));
            if (f.kind == CheckKind::Store && f.storePart != 0)
                o.insert(QStringLiteral("part"), CheckPartWord(f.storePart));
            findings.append(o);
        }
        QJsonObject counts;
        for (const CheckKind kind : kKinds)
            counts.insert(CheckKindWord(kind), result.Count(kind));
        const QJsonObject store{
            {QStringLiteral("checked"), result.storeChecked},
            {QStringLiteral("integrity"), (result.store.Flags & WC_CHECK_INTEGRITY) != 0},
            {QStringLiteral("users"), double(result.store.Users)},
            {QStringLiteral("areas"), double(result.store.Areas)},
            {QStringLiteral("records"), double(result.store.Records)},
            {QStringLiteral("findings"), double(result.store.Findings)}};
        const QJsonObject all{{QStringLiteral("areas"), areas},
                              {QStringLiteral("records"), double(result.records)},
                              {QStringLiteral("files"), double(result.files)},
                              {QStringLiteral("findings"), findings},
                              {QStringLiteral("counts"), counts},
                              {QStringLiteral("store"), store},
                              {QStringLiteral("total"), int(result.findings.size())}};
        context.Line(
            QString::fromUtf8(QJsonDocument(all).toJson(QJsonDocument::Indented)).trimmed());
    }

    QCommandLineOption m_areas{QStringLiteral("areas"),
                               QStringLiteral("The areas: all, or a list such as 1,3-5,9."),
                               QStringLiteral("SPEC")};
    QCommandLineOption m_integrity{
        QStringLiteral("integrity"),
        QStringLiteral("Also reads the whole database once more: SQLite's integrity check, and "
                       "every file record row decoded (SQLite and PostgreSQL).")};
    QCommandLineOption m_format{QStringLiteral("format"),
                                QStringLiteral("text (one line per finding, then a summary) or "
                                               "json."),
                                QStringLiteral("FORMAT"), QStringLiteral("text")};
};

} // namespace

std::unique_ptr<CliCommand> MakeCheckCommand()
{
    return std::make_unique<CheckCommand>();
}
