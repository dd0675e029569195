#include "archive/DescriptionListRun.h"

#include "archive/AreaFileRecord.h"
#include "common/FileUtils.h"
#include "common/Text.h"
#include "server/AreaFiles.h"
#include "server/DiskNames.h"
#include "server/ReadFailures.h"
#include "server/RecordFileSize.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <cstring>

namespace
{

// Letters a-z become A-Z; every other byte stays as it is: the record name
// of a file name (server/DiskNames.h).
QByteArray UpperAsciiLetters(const QByteArray& text)
{
    return QByteArray::fromStdString(disknames::RecordNameOfDiskName(
        std::string_view(text.constData(), std::size_t(text.size()))));
}

// The record's texts as the import compares them: Description and every
// long-description line up to the last non-empty one.
bool SameTexts(const FullFileRec& rec, const DescriptionEntry& entry)
{
    const DescriptionEntry own = DescriptionEntryOfRecord(rec);
    return own.description == entry.description && own.longLines == entry.longLines &&
           (rec.Rec.HasLongDescription != 0) == !entry.longLines.isEmpty();
}

QString TextForLine(const DescriptionEntry& entry)
{
    QString text = QLatin1Char('"') + ShownText(entry.description) + QLatin1Char('"');
    if (!entry.longLines.isEmpty())
        text += QStringLiteral(" and %1 long description line%2")
                    .arg(entry.longLines.size())
                    .arg(entry.longLines.size() == 1 ? QString() : QStringLiteral("s"));
    return text;
}

// The area's record names by their letters in upper case, and their sizes.
void ReadRecordNames(int area, QHash<QByteArray, QByteArray>& names,
                     QHash<QByteArray, qint64>& sizes)
{
    WalkArea(area, [&](FileRec& rec) {
        const QByteArray name(rec.Name, qsizetype(strnlen(rec.Name, sizeof rec.Name)));
        const QByteArray upper = UpperAsciiLetters(name);
        names.insert(upper, name);
        sizes.insert(upper, rec.Size);
        return true;
    });
}

bool ReadWholeRecord(int area, const QByteArray& name, FullFileRec& full)
{
    FileRec rec{};
    uint32_t at = 0;
    std::memset(&full, 0, sizeof full);
    return GetFileRecByAreaName(area, name.constData(), &rec, &at) && GetFullFileRec(&rec, &full);
}

} // namespace

DescriptionImportResult RunDescriptionImport(const DescriptionImportOptions& options,
                                             RunDelegate& run)
{
    DescriptionImportResult result;
    const int area = options.area;
    FileAreaRec areaRec{};
    const bool areaRead = GetFileArea(area, &areaRec);
    const uint32_t areaError = areaRead ? 0 : WcGetLastError();
    QHash<QByteArray, QByteArray> names;
    QHash<QByteArray, qint64> recordSizes;
    uint32_t walkError = 0;
    if (areaRead) {
        TakeReadFailure(); // only this run's failures count
        ReadRecordNames(area, names, recordSizes);
        walkError = TakeReadFailure();
    }
    // A number after a name is the size column when it is the record's size.
    const DescriptionList list = ParseDescriptionList(options.list, [&](const QByteArray& name) {
        return recordSizes.value(UpperAsciiLetters(name), -1);
    });
    result.unread = list.unread;
    result.cuts = list.cuts;
    for (const UnreadLine& unread : list.unread)
        run.Warn(QStringLiteral("Line %1 could not be read: %2")
                     .arg(unread.line)
                     .arg(ShownText(unread.text).replace(QChar(u'\0'), QStringLiteral("<NUL>"))));

    if (!areaRead) {
        run.ServerError(areaError);
        return result;
    }
    // Without every record name, known records would look unknown (and with
    // `add` their files new): nothing is done on a walk cut short.
    if (walkError) {
        run.ServerError(walkError);
        result.failed = true;
        return result;
    }
    run.SetMaximum(list.entries.size());
    run.Status(QStringLiteral("Importing Descriptions into File Area %1").arg(area));
    qint64 position = 0;
    for (const DescriptionEntry& entry : list.entries) {
        if (run.StopRequested() &&
            (options.dryRun ||
             run.Ask(RunQuestion::StopImport, QStringLiteral("Stop importing descriptions?"),
                     false) == RunAnswer::Yes)) {
            result.stopped = true;
            break;
        }
        run.SetPosition(++position);
        const QByteArray upper = UpperAsciiLetters(entry.name);
        DescriptionImportLine line;
        line.line = entry.line;
        line.description = entry.description;
        line.longLines = entry.longLines;
        const auto known = names.constFind(upper);
        if (known != names.constEnd()) {
            line.name = QString::fromLatin1(known.value());
            FullFileRec full{};
            if (!ReadWholeRecord(area, known.value(), full)) {
                run.Item({area, line.name, RunOutcome::Failed,
                          QStringLiteral("the server did not read the record")});
                continue;
            }
            line.changes = !SameTexts(full, entry);
            result.lines << line;
            if (!line.changes) {
                ++result.unchanged;
                run.Item({area, line.name, RunOutcome::Skipped,
                          QStringLiteral("texts already equal (line %1)").arg(entry.line)});
                continue;
            }
            const QString action =
                QStringLiteral("%2 %3 (line %1)")
                    .arg(entry.line)
                    .arg(options.dryRun ? QStringLiteral("set") : QStringLiteral("set to"),
                         TextForLine(entry));
            if (options.dryRun) {
                ++result.set;
                run.Item({area, line.name, RunOutcome::Planned, action});
                continue;
            }
            ApplyDescriptionEntry(entry, full);
            if (UpdateFullFileRec(&full)) {
                ++result.set;
                run.Item({area, line.name, RunOutcome::Done, action});
            } else {
                run.Item({area, line.name, RunOutcome::Failed,
                          QStringLiteral("the server did not write the record")});
            }
            continue;
        }

        // A name without a record: with `add`, a file of the area's folder
        // gets one, as a dropped file does (its name in upper case, under 15
        // characters), without a copy.
        const QString name = QString::fromLatin1(upper);
        if (!options.add) {
            result.unknown << entry;
            run.Item({area, ShownText(entry.name), RunOutcome::Refused,
                      QStringLiteral("no record of this name (line %1)").arg(entry.line)});
            continue;
        }
        // The name is the file's name in the area's folder: a name that
        // can't be a record's (DiskNames.h) is refused for what it is.
        const disknames::NameProblem problem = disknames::ProblemOfFileName(
            std::string_view(upper.constData(), std::size_t(upper.size())));
        if (NameTooLongForDatabase(name) || problem != disknames::NameProblem::None) {
            const QString why = NameTooLongForDatabase(name)
                                    ? QStringLiteral("name too long for the file database")
                                : problem == disknames::NameProblem::ControlByte
                                    ? FileNameRefusal(name)
                                    : QStringLiteral("not a file name of the area's folder");
            result.unknown << entry;
            run.Item({area, ShownText(entry.name), RunOutcome::Refused,
                      QStringLiteral("%1 (line %2)").arg(why).arg(entry.line)});
            continue;
        }
        if (!WcExistFile(ServerFilePathBytes(area, upper.constData()).constData())) {
            result.unknown << entry;
            run.Item(
                {area, name, RunOutcome::Refused,
                 QStringLiteral("no such file in the area's folder (line %1)").arg(entry.line)});
            continue;
        }
        // A link in the area's folder may point at any file the BBS can
        // read: it gets no record unless the sysop allows links.
        if (!AreaLinksAllowed() && IsDiskLink(AreaEntryOfName(area, name))) {
            result.unknown << entry;
            run.Item({area, name, RunOutcome::Refused,
                      QStringLiteral("%1 (line %2)").arg(LinkRefusal()).arg(entry.line)});
            continue;
        }
        if (const QString words = FileTooLargeWords(AreaFileSize(area, name)); !words.isEmpty()) {
            result.unknown << entry;
            run.Item({area, name, RunOutcome::Refused,
                      QStringLiteral("%1 (line %2)").arg(words).arg(entry.line)});
            continue;
        }
        line.name = name;
        line.adds = true;
        line.changes = true;
        result.lines << line;
        const QString action =
            QStringLiteral("%2 with %3 (line %1)")
                .arg(entry.line)
                .arg(options.dryRun ? QStringLiteral("add") : QStringLiteral("added"),
                     TextForLine(entry));
        if (options.dryRun) {
            ++result.added;
            names.insert(upper, upper); // a later line of the name sets it
            run.Item({area, name, RunOutcome::Planned, action});
            continue;
        }
        if (!AddRecordOfAreaFile(area, name,
                                 [&](FullFileRec& full) { ApplyDescriptionEntry(entry, full); })) {
            run.Item({area, name, RunOutcome::Failed,
                      QStringLiteral("the server did not add the record")});
            continue;
        }
        ++result.added;
        names.insert(upper, upper);
        run.Item({area, name, RunOutcome::Done, action});
        FreshenAddedRecord(area, name, run);
    }
    run.SetPosition(0);
    run.Status(QStringLiteral("Descriptions set: %1, records added: %2")
                   .arg(result.set)
                   .arg(result.added));
    return result;
}

QString DescriptionListFileName(DescriptionListLayout layout)
{
    return layout == DescriptionListLayout::FilesBbs ? QStringLiteral("FILES.BBS")
                                                     : QStringLiteral("DESCRIPT.ION");
}

QString DescriptionListPath(const QString& folder, int area, DescriptionListLayout layout)
{
    return QDir(folder).filePath(QString::number(area) + QLatin1Char('/') +
                                 DescriptionListFileName(layout));
}

DescriptionExportResult RunDescriptionExport(const DescriptionExportOptions& options,
                                             RunDelegate& run)
{
    DescriptionExportResult result;
    run.SetMaximum(options.areas.size());
    qint64 position = 0;
    for (const int area : options.areas) {
        if (run.StopRequested()) {
            result.stopped = true;
            break;
        }
        run.SetPosition(++position);
        FileAreaRec areaRec{};
        if (!GetFileArea(area, &areaRec))
            continue;
        run.Status(QStringLiteral("Exporting Descriptions of File Area %1").arg(area));
        QList<DescriptionEntry> entries;
        TakeReadFailure();
        WalkArea(area, [&](FileRec& rec) {
            FullFileRec full{};
            if (GetFullFileRec(&rec, &full))
                entries << DescriptionEntryOfRecord(full);
            else
                NoteReadFailure();
            return true;
        });
        // A list short of records is never written: it would replace a
        // whole one (the area's own FILES.BBS, say) with less.
        if (const uint32_t code = TakeReadFailure()) {
            run.ServerError(code);
            result.failed = true;
            run.Item({area, DescriptionListFileName(options.layout), RunOutcome::Failed,
                      QStringLiteral("the server failed reading the records; no list written")});
            continue;
        }
        const DescriptionListExport out = ExportDescriptionList(entries, options.layout);
        for (const int index : out.inexact) {
            ++result.inexact;
            run.Warn(QStringLiteral("File: %1 in file area #%2: its texts can't be written "
                                    "so that they read back exactly.")
                         .arg(QString::fromLatin1(entries.at(index).name))
                         .arg(area));
        }
        const QString path = DescriptionListPath(options.folder, area, options.layout);
        const QString listFolder = QFileInfo(path).path();
        // An area's folder in the output folder that is a link (planted to
        // point anywhere the sysop's account can write) is not written into.
        const QString linkedFolder =
            QStringLiteral("%1 is a link; no list written").arg(listFolder);
        if (QFileInfo(listFolder).isSymLink()) {
            result.failed = true;
            run.Item(
                {area, DescriptionListFileName(options.layout), RunOutcome::Failed, linkedFolder});
            continue;
        }
        const QString action =
            QStringLiteral("%1 %2 with %3 entries")
                .arg(options.dryRun ? QStringLiteral("write") : QStringLiteral("wrote"), path)
                .arg(entries.size());
        if (options.dryRun) {
            result.entries += int(entries.size());
            run.Item({area, DescriptionListFileName(options.layout), RunOutcome::Planned, action});
            continue;
        }
        // A link planted in the output folder is never written through: a
        // link at the list's name is replaced, a linked area folder refused.
        const ReplaceOutcome written =
            ReplaceFileInFolder(listFolder, DescriptionListFileName(options.layout), out.bytes);
        if (written != ReplaceOutcome::Written) {
            result.failed = true;
            run.Item({area, DescriptionListFileName(options.layout), RunOutcome::Failed,
                      written == ReplaceOutcome::FolderIsLink
                          ? linkedFolder
                          : QStringLiteral("could not write %1").arg(path)});
            continue;
        }
        result.entries += int(entries.size());
        result.written << path;
        run.Item({area, DescriptionListFileName(options.layout), RunOutcome::Done, action});
    }
    run.SetPosition(0);
    run.Status(QStringLiteral("Lists written: %1").arg(result.written.size()));
    return result;
}
