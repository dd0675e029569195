#include "app/AddFilesRun.h"

#include "archive/ArchiveReader.h"
#include "archive/AreaFileRecord.h"
#include "archive/DescriptionList.h"
#include "archive/DescriptionPull.h"
#include "archive/DizReader.h"
#include "common/Text.h"
#include "server/AreaFiles.h"
#include "server/ReadFailures.h"
#include "server/RecordFileSize.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QTemporaryDir>

#include <cstring>
#include <functional>

#include <sys/stat.h>

namespace
{

// The description lists a folder may carry, in the order they are read; the
// first that names a file gives its entry.
const char* const DescriptionListNames[] = {"FILES.BBS", "DESCRIPT.ION"};

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
QHash<QString, DescriptionEntry> ReadFolderLists(int area, const QByteArray& folder,
                                                 const QList<QByteArray>& files,
                                                 RunDelegate& delegate)
{
    QHash<QString, DescriptionEntry> entries;
    // A number after a name is the size column when it is the file's size:
    // the size of the entry the server finds for the name.
    QHash<QString, QByteArray> entryOfName;
    for (const QByteArray& file : files)
        if (!entryOfName.contains(RecordNameOfDiskName(file)))
            entryOfName.insert(RecordNameOfDiskName(file), file);
    const auto sizes = [&](const QByteArray& name) -> qint64 {
        const auto entry = entryOfName.constFind(RecordNameOfFile(QString::fromLatin1(name)));
        if (entry == entryOfName.constEnd())
            return -1;
        struct stat st {
        };
        return ::stat(DiskPathIn(folder, *entry).constData(), &st) == 0 && S_ISREG(st.st_mode)
                   ? qint64(st.st_size)
                   : -1;
    };
    for (const char* list : DescriptionListNames) {
        for (const QByteArray& file : files) {
            if (RecordNameOfDiskName(file) != QLatin1String(list))
                continue;
            const DescriptionListFile read =
                ReadDescriptionListFile(QFile::decodeName(DiskPathIn(folder, file)));
            if (!read.ok()) {
                delegate.Warn(QStringLiteral("%1 in file area #%2 was not read: %3.")
                                  .arg(FromBytes(file), QString::number(area), read.failure));
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
AddedDescriptionSource Describe(const QByteArray& path, const QString& name,
                                const QHash<QString, DescriptionEntry>& lists,
                                const QString& tempFolder, TUnzipFile* unzip, FullFileRec& rec)
{
    const DescriptionPull pull = PullArchiveDescription(path, tempFolder, unzip, rec);
    if (pull.applied)
        return pull.extraction.path.endsWith(QLatin1String("desc.sdi"), Qt::CaseInsensitive)
                   ? AddedDescriptionSource::DescSdi
                   : AddedDescriptionSource::FileIdDiz;
    const auto entry = lists.constFind(name);
    if (entry != lists.constEnd()) {
        ApplyDescriptionEntry(*entry, rec);
        return AddedDescriptionSource::List;
    }
    return AddedDescriptionSource::None;
}

// One area's folder and the names of the entries it holds, as bytes.
struct AreaFolder {
    int area = 0;
    QByteArray folder;
    QList<QByteArray> files;
};

// Plans one area: planned files go into `plan`, refusals are reported. Each
// entry moves the progress one step; when `stop` says so the planning ends
// and returns false.
bool PlanArea(const AreaFolder& where, const AddFilesOptions& options, const QString& tempFolder,
              QList<PlannedFile>& plan, AddFilesResult& result, qint64& position,
              const std::function<bool()>& stop, RunDelegate& delegate)
{
    const int area = where.area;
    const QByteArray& folder = where.folder;
    const QList<QByteArray>& files = where.files;
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
    QHash<QString, QList<QByteArray>> spellings;
    for (const QByteArray& file : files)
        spellings[RecordNameOfDiskName(file)] << file;

    // A refused file is named by the bytes of its name, shown as record text.
    auto refuse = [&](const QByteArray& file, const QString& why) {
        ++result.refused;
        delegate.Item({area, FromBytes(file), RunOutcome::Refused, why});
    };
    for (const QByteArray& file : files) {
        delegate.SetPosition(++position);
        if (stop())
            return false;
        if (IsDescriptionListFile(file))
            continue;
        const QByteArray path = DiskPathIn(folder, file);
        // The record name has the file name's bytes (DiskNames.h): a name
        // that can't be one is refused, never changed into another name.
        const QString name = RecordNameOfDiskName(file);
        if (const QString why = FileNameRefusal(name); !why.isEmpty()) {
            refuse(file, why);
            continue;
        }
        const auto record = taken.constFind(name);
        if (record != taken.constEnd()) {
            // The file's own record (the server finds a file under its name
            // in any letter case): nothing to do.
            if (IsFileBehind(ServerFilePath(area, *record), path))
                continue;
            refuse(file, QStringLiteral("name taken by %1 in another letter case").arg(*record));
            continue;
        }
        const QList<QByteArray>& sameName = spellings[name];
        if (sameName.size() > 1 && !IsFileBehind(ServerFilePath(area, name), path)) {
            // The new record would name another spelling's file (the server
            // takes the exact name first): that one is planned, this one is
            // refused, whichever comes first in the folder's order.
            QByteArray other;
            for (const QByteArray& spelling : sameName)
                if (spelling != file &&
                    IsFileBehind(ServerFilePath(area, name), DiskPathIn(folder, spelling)))
                    other = spelling;
            refuse(file,
                   QStringLiteral("name taken by %1 in another letter case").arg(FromBytes(other)));
            continue;
        }
        // A link may point at any file the BBS can read (an upload account
        // that may make links could offer any of them for download).
        if (!AreaLinksAllowed() && IsDiskLink(path)) {
            refuse(file, LinkRefusal());
            continue;
        }
        if (!IsRegularDiskFile(path)) {
            refuse(file, QStringLiteral("not a regular file"));
            continue;
        }
        if (const QString words = FileTooLargeWords(DiskFileSize(path)); !words.isEmpty()) {
            refuse(file, words);
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
    RunAnswer Ask(RunQuestion question, const QString& text, bool offerAll) override
    {
        return m_run.Ask(question, text, offerAll);
    }
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
    FileMove Move(const QString& source, const QString& destination,
                  const QString& caption) override
    {
        return m_run.Move(source, destination, caption);
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
        // The names as the file system holds them: a name that is not
        // UTF-8 is listed too, and never read back through a text.
        AreaFolder where{area, QByteArray(folderBytes), {}};
        where.files = FolderEntryNames(where.folder);
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
                delegate.Ask(RunQuestion::StopAdding, QStringLiteral("Stop adding files?"),
                             false) == RunAnswer::Yes);
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
        delegate.Ask(RunQuestion::AddPlannedFiles,
                     QStringLiteral("Add %1 file(s) to the file database?").arg(plan.size()),
                     false) != RunAnswer::Yes) {
        result.cancelled = true;
        delegate.Status(QString());
        return result;
    }

    delegate.SetMaximum(plan.size());
    qint64 position = 0;
    for (const PlannedFile& file : plan) {
        if (delegate.StopRequested() &&
            delegate.Ask(RunQuestion::StopAdding, QStringLiteral("Stop adding files?"), false) ==
                RunAnswer::Yes) {
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
