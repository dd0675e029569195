#include "app/AddFilesRun.h"

#include "app/DropFilesRun.h"
#include "archive/ArchiveReader.h"
#include "archive/DescriptionList.h"
#include "archive/DizReader.h"
#include "common/ReadFailures.h"
#include "common/Text.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <cstring>
#include <functional>

namespace
{

// The description lists a folder may carry, in the order they are read; the
// first that names a file gives its entry.
const char* const DescriptionListNames[] = {"FILES.BBS", "DESCRIPT.ION"};

bool IsDescriptionListName(const QString& fileName)
{
    const QString upper = RecordNameOfFile(fileName);
    for (const char* list : DescriptionListNames)
        if (upper == QLatin1String(list))
            return true;
    return false;
}

struct PlannedFile {
    int area = 0;
    QString name; // the record name
    FullFileRec texts{};
    AddedDescriptionSource source = AddedDescriptionSource::None;
};

QString SourceWords(AddedDescriptionSource source)
{
    switch (source) {
    case AddedDescriptionSource::FileIdDiz:
        return QStringLiteral("description from FILE_ID.DIZ");
    case AddedDescriptionSource::DescSdi:
        return QStringLiteral("description from DESC.SDI");
    case AddedDescriptionSource::List:
        return QStringLiteral("description from the folder's list");
    case AddedDescriptionSource::None:
        break;
    }
    return QStringLiteral("no description");
}

// The entries of the folder's description lists by upper-case name; an
// earlier list's entry wins over a later one's. A list that can't be read
// whole (not a regular file, larger than the lists' limit) is reported and
// left out.
QHash<QString, DescriptionEntry> ReadFolderLists(int area, const QDir& folder,
                                                 const QStringList& files, RunDelegate& delegate)
{
    QHash<QString, DescriptionEntry> entries;
    // A number after a name is the size column when it is the file's size.
    const auto sizes = [&folder](const QByteArray& name) -> qint64 {
        const QFileInfo info(folder.filePath(QString::fromLatin1(name)));
        return info.isFile() ? info.size() : -1;
    };
    for (const char* list : DescriptionListNames) {
        for (const QString& file : files) {
            if (RecordNameOfFile(file) != QLatin1String(list))
                continue;
            const DescriptionListFile read = ReadDescriptionListFile(folder.filePath(file));
            if (!read.ok()) {
                delegate.Warn(QStringLiteral("%1 in file area #%2 was not read: %3.")
                                  .arg(file, QString::number(area), read.failure));
                continue;
            }
            const DescriptionList parsed = ParseDescriptionList(read.bytes, sizes);
            for (const DescriptionEntry& entry : parsed.entries) {
                const QString key = RecordNameOfFile(QString::fromLatin1(entry.name));
                if (!entries.contains(key))
                    entries.insert(key, entry);
            }
        }
    }
    return entries;
}

// The archive's own description, else the list's, else none.
AddedDescriptionSource Describe(const QString& path, const QString& name,
                                const QHash<QString, DescriptionEntry>& lists,
                                const QString& tempFolder, TUnzipFile* unzip, FullFileRec& rec)
{
    const DescriptionExtraction found = ExtractArchiveDescription(path, tempFolder, unzip);
    if (found.ok()) {
        QStringList lines;
        const bool read = ReadDizFile(found.path, lines);
        QFile::remove(found.path);
        if (read && ApplyDizLines(lines, rec))
            return found.path.endsWith(QLatin1String("desc.sdi"), Qt::CaseInsensitive)
                       ? AddedDescriptionSource::DescSdi
                       : AddedDescriptionSource::FileIdDiz;
    }
    const auto entry = lists.constFind(name);
    if (entry != lists.constEnd()) {
        ApplyDescriptionEntry(*entry, rec);
        return AddedDescriptionSource::List;
    }
    return AddedDescriptionSource::None;
}

// One area's folder and the entries it holds.
struct AreaFolder {
    int area = 0;
    QDir folder;
    QStringList files;
};

// Plans one area: planned files go into `plan`, refusals are reported. Each
// entry moves the progress one step; when `stop` says so the planning ends
// and returns false.
bool PlanArea(const AreaFolder& where, const AddFilesOptions& options, const QString& tempFolder,
              QList<PlannedFile>& plan, AddFilesResult& result, qint64& position,
              const std::function<bool()>& stop, RunDelegate& delegate)
{
    const int area = where.area;
    const QDir& folder = where.folder;
    const QStringList& files = where.files;
    // Record names by their upper-case spelling, for names taken in any
    // letter case.
    QHash<QString, QString> taken;
    TakeReadFailure();
    WalkArea(area, [&taken](FileRec& rec) {
        const QString name = RecText(rec.Name);
        taken.insert(RecordNameOfFile(name), name);
        return true;
    });
    // Without every record's name, files that have a record would be
    // planned again: an area whose walk failed is left out.
    if (const uint32_t code = TakeReadFailure()) {
        delegate.ServerError(code);
        ++result.failed;
        position += files.size();
        delegate.SetPosition(position);
        return true;
    }
    const QHash<QString, DescriptionEntry> lists = ReadFolderLists(area, folder, files, delegate);

    // The spellings of each name in the folder: of two files whose names
    // differ only in letter case, a record can name one only.
    QHash<QString, QStringList> spellings;
    for (const QString& file : files)
        spellings[RecordNameOfFile(file)] << file;

    auto refuse = [&](const QString& name, const QString& why) {
        ++result.refused;
        delegate.Item({area, name, RunOutcome::Refused, why});
    };
    for (const QString& file : files) {
        delegate.SetPosition(++position);
        if (stop())
            return false;
        if (IsDescriptionListName(file))
            continue;
        const QString path = folder.filePath(file);
        const QString name = RecordNameOfFile(file);
        const auto record = taken.constFind(name);
        if (record != taken.constEnd()) {
            // The file's own record (the server finds a file under its name
            // in any letter case): nothing to do.
            if (IsFileBehind(ServerFilePath(area, *record), path))
                continue;
            refuse(file, QStringLiteral("name taken by %1 in another letter case").arg(*record));
            continue;
        }
        const QStringList& sameName = spellings[name];
        if (sameName.size() > 1 && !IsFileBehind(ServerFilePath(area, name), path)) {
            // The new record would name another spelling's file (the server
            // takes the exact name first): that one is planned, this one is
            // refused, whichever comes first in the folder's order.
            QString other;
            for (const QString& spelling : sameName)
                if (spelling != file &&
                    IsFileBehind(ServerFilePath(area, name), folder.filePath(spelling)))
                    other = spelling;
            refuse(file, QStringLiteral("name taken by %1 in another letter case").arg(other));
            continue;
        }
        if (!IsRegularDiskFile(path)) {
            refuse(file, QStringLiteral("not a regular file"));
            continue;
        }
        if (NameTooLongForDatabase(name)) {
            refuse(file, QStringLiteral("name too long for the file database"));
            continue;
        }
        PlannedFile planned;
        planned.area = area;
        planned.name = name;
        std::memset(&planned.texts, 0, sizeof planned.texts);
        planned.source = Describe(path, name, lists, tempFolder, options.unzip, planned.texts);
        taken.insert(name, name); // a second spelling of it in the folder is refused
        plan << planned;
    }
    return true;
}

// The freshen of a record just added speaks through this: its failures are
// passed on, its "freshened" line is not (the "added" line says it all).
class FreshenVoice : public RunDelegate
{
public:
    explicit FreshenVoice(RunDelegate& run) : m_run(run) {}
    RunAnswer Ask(const QString& text, bool offerAll) override { return m_run.Ask(text, offerAll); }
    void Warn(const QString& text) override { m_run.Warn(text); }
    void Inform(const QString& text) override { m_run.Inform(text); }
    void ServerError(unsigned code) override { m_run.ServerError(code); }
    void SetMaximum(qint64) override {}
    void SetPosition(qint64) override {}
    void Status(const QString&) override {}
    void Item(const RunItem& item) override
    {
        if (item.outcome != RunOutcome::Done)
            m_run.Item(item);
    }
    bool Copy(const QString& source, const QString& destination, const QString& caption) override
    {
        return m_run.Copy(source, destination, caption);
    }
    bool StopRequested() override { return false; }

private:
    RunDelegate& m_run;
};

} // namespace

AddFilesResult RunAddFiles(const AddFilesOptions& options, RunDelegate& delegate)
{
    AddFilesResult result;
    QTemporaryDir temp;
    if (!temp.isValid()) {
        delegate.Warn(QStringLiteral("Could not make a temporary folder for the descriptions."));
        ++result.failed;
        return result;
    }
    // The folders are listed first, so that the planning (which reads every
    // archive for its description) can show its progress against them all.
    delegate.Status(QStringLiteral("Reading the file area folders..."));
    QList<AreaFolder> folders;
    qint64 entries = 0;
    for (const int area : options.areas) {
        char folderBytes[1024];
        if (!WcGetFileAreaFolder(area, folderBytes, sizeof folderBytes)) {
            delegate.ServerError(WcGetLastError());
            ++result.failed;
            continue;
        }
        AreaFolder where{area, QDir(QFile::decodeName(folderBytes)), {}};
        where.files = where.folder.entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                                                 QDir::NoDotAndDotDot,
                                             QDir::Name | QDir::IgnoreCase);
        entries += where.files.size();
        folders << where;
    }
    QList<PlannedFile> plan;
    delegate.SetMaximum(entries);
    qint64 scanned = 0;
    // Nothing is written while planning: a preview just ends, an add asks.
    const auto stop = [&] {
        return delegate.StopRequested() &&
               (options.dryRun || options.preview ||
                delegate.Ask(QStringLiteral("Stop adding files?"), false) == RunAnswer::Yes);
    };
    for (const AreaFolder& where : folders) {
        if (!PlanArea(where, options, temp.path() + u'/', plan, result, scanned, stop, delegate)) {
            result.stopped = true;
            result.planned = int(plan.size());
            delegate.SetPosition(0);
            delegate.Status(QString());
            return result;
        }
    }
    delegate.SetPosition(0);
    result.planned = int(plan.size());

    if (options.dryRun || options.preview)
        for (const PlannedFile& file : plan)
            delegate.Item({file.area, file.name, RunOutcome::Planned,
                           QStringLiteral("add, ") + SourceWords(file.source)});
    if (options.dryRun || plan.isEmpty()) {
        delegate.Status(QString());
        return result;
    }
    if (options.preview &&
        delegate.Ask(QStringLiteral("Add %1 file(s) to the file database?").arg(plan.size()),
                     false) != RunAnswer::Yes) {
        result.cancelled = true;
        delegate.Status(QString());
        return result;
    }

    delegate.SetMaximum(plan.size());
    qint64 position = 0;
    for (const PlannedFile& file : plan) {
        if (delegate.StopRequested() &&
            delegate.Ask(QStringLiteral("Stop adding files?"), false) == RunAnswer::Yes) {
            result.stopped = true;
            break;
        }
        delegate.Status(
            QStringLiteral("Adding %1 to File Area %2").arg(file.name, QString::number(file.area)));
        const bool added = AddRecordOfAreaFile(file.area, file.name, [&file](FullFileRec& rec) {
            std::memcpy(rec.Rec.Description, file.texts.Rec.Description,
                        sizeof rec.Rec.Description);
            rec.Rec.HasLongDescription = file.texts.Rec.HasLongDescription;
            std::memcpy(rec.LongDescription, file.texts.LongDescription,
                        sizeof rec.LongDescription);
        });
        if (added) {
            ++result.added;
            delegate.Item({file.area, file.name, RunOutcome::Done,
                           QStringLiteral("added, ") + SourceWords(file.source)});
            FreshenVoice voice(delegate);
            FreshenAddedRecord(file.area, file.name, voice);
        } else {
            ++result.failed;
            delegate.Item({file.area, file.name, RunOutcome::Failed,
                           QStringLiteral("the server did not add it")});
        }
        delegate.SetPosition(++position);
    }
    delegate.SetPosition(0);
    delegate.Status(QStringLiteral("Number of Files Added: %1").arg(result.added));
    return result;
}
