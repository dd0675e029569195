// The shared check after every fault and kill of the hardening tests: the
// journal holds exactly the changes a cut-short command made, and undoing
// its run puts every record and every file back byte for byte.
#include "HardeningSupport.h"

#include "platform/wcsrv/WcStore.h"
#include "server/RunJournal.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <functional>
#include <optional>

namespace hard
{

namespace
{

QString RecordKey(const FullFileRec& rec)
{
    const QString name = QString::fromLatin1(
        rec.Rec.Name, int(wcstore::FieldLength(rec.Rec.Name, sizeof rec.Rec.Name)));
    return QStringLiteral("%1/%2").arg(rec.Rec.Area).arg(name.toUpper());
}

QByteArray Image(const FullFileRec& rec)
{
    return QByteArray(reinterpret_cast<const char*>(&rec), sizeof rec);
}

// A path relative to the home when it lies inside it, else as it is.
QString KeyOf(const QString& home, const QString& path)
{
    const QString clean = QDir::cleanPath(path);
    const QString root = QDir::cleanPath(home) + u'/';
    return clean.startsWith(root) ? clean.mid(root.size()) : clean;
}

QString FolderOfKey(const QString& key)
{
    const qsizetype slash = key.lastIndexOf(u'/');
    return slash < 0 ? QString() : key.left(slash);
}

// The area folders of the BBS, as keys.
QStringList AreaFolderKeys(const QString& home, QString& error)
{
    std::string message;
    auto store = wcstore::OpenStore(QFile::encodeName(home).toStdString(),
                                    DatabaseOf(home).toStdString(), false, message);
    if (!store) {
        error = QString::fromStdString(message);
        return {};
    }
    std::vector<wcstore::AreaRow> areas;
    if (store->ListAreas(areas) != wcstore::Rc::Ok) {
        error = QString::fromStdString(store->Error());
        return {};
    }
    QStringList out;
    for (const wcstore::AreaRow& a : areas)
        out << KeyOf(home, QString::fromStdString(wcstore::ResolveFolder(
                               QFile::encodeName(home).toStdString(), a.folder)));
    out.removeDuplicates();
    return out;
}

bool ReadInto(const QString& path, QByteArray& out)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    out = f.readAll();
    return true;
}

void AddFilesOf(const QString& home, const QString& folder, bool below, BbsBytes& state)
{
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    below ? QDirIterator::Subdirectories : QDirIterator::NoIteratorFlags);
    while (it.hasNext()) {
        const QString path = it.next();
        QByteArray bytes;
        if (!ReadInto(path, bytes))
            state.error = QStringLiteral("cannot read ") + path;
        state.files.insert(KeyOf(home, path), bytes);
    }
}

// The folders whose files the state holds, as keys (the trash aside).
QStringList TrackedFolders(const QString& home, const QStringList& extra, QString& error)
{
    QStringList folders = AreaFolderKeys(home, error);
    for (const QString& e : extra)
        folders << KeyOf(home, e);
    return folders;
}

bool IsTrash(const QString& key)
{
    return key.startsWith(QLatin1String("trash/"));
}

QStringList Runs(uint32_t after, QString& error)
{
    QList<WcRunInfo> runs;
    if (!ListJournalRuns(0, runs))
        error = QStringLiteral("the journal's runs cannot be listed");
    QStringList out;
    std::sort(runs.begin(), runs.end(),
              [](const WcRunInfo& a, const WcRunInfo& b) { return a.Id < b.Id; });
    for (const WcRunInfo& r : runs)
        if (r.Id > after)
            out << QString::number(r.Id);
    return out;
}

// A file as the entries say it must be: known bytes, or any (a file the
// run created: a copy the fault or the kill may have cut short).
struct Expected {
    QByteArray bytes;
    bool any = false;
};

QString Short(const QStringList& lines, int n = 6)
{
    return lines.mid(0, n).join(QStringLiteral("; ")) +
           (lines.size() > n ? QStringLiteral("; ... (%1 in all)").arg(lines.size()) : QString());
}

// Undoes the runs of `runs` that are neither undone nor undos, newest
// first, as `vtfilemgr-cli undo RUN --yes` does: `visit` gets each entry's
// outcome, `done` each run's report.
void UndoNewestFirst(const QStringList& runs, const UndoVisit& visit,
                     const std::function<void(uint32_t, const UndoReport&)>& done)
{
    for (auto it = runs.crbegin(); it != runs.crend(); ++it) {
        const uint32_t id = it->toUInt();
        WcRunInfo info{};
        if (GetJournalRun(id, info) != RunLookup::Found || info.UndoneBy || info.Undoes)
            continue;
        done(id, UndoJournalRun(id, false, visit));
    }
}

// An entry left by undo, as problems name it.
QString LeftLine(const WcRunEntry& e, const QString& why)
{
    return QStringLiteral("%1 %2: %3").arg(EntryKindWord(e.Kind), QString::fromLatin1(e.Name), why);
}

} // namespace

BbsBytes TakeBbsBytes(const QString& home, const QStringList& extra)
{
    BbsBytes state;
    ForEachFullRecord(
        home,
        [&state](const FullFileRec& full) {
            const QString key = RecordKey(full);
            if (state.records.contains(key))
                state.error = QStringLiteral("record %1 twice").arg(key);
            state.records.insert(key, Image(full));
        },
        &state.error);
    for (const QString& folder : TrackedFolders(home, extra, state.error))
        AddFilesOf(home, QDir::isAbsolutePath(folder) ? folder : home + u'/' + folder, false,
                   state);
    AddFilesOf(home, home + QStringLiteral("/trash"), true, state);
    ServerLogin login;
    if (!login.ok()) {
        state.error = QStringLiteral("no login to read the journal");
        return state;
    }
    QList<WcRunInfo> runs;
    if (!ListJournalRuns(1, runs))
        state.error = QStringLiteral("the journal's runs cannot be listed");
    state.lastRun = runs.isEmpty() ? 0 : runs.first().Id;
    return state;
}

UndoResult UndoRestores(const QString& home, const BbsBytes& before, bool killed,
                        const QStringList& extra)
{
    UndoResult result;
    QStringList& problems = result.problems;
    if (!before.error.isEmpty())
        return {{QStringLiteral("the state before: ") + before.error}};
    const BbsBytes now = TakeBbsBytes(home, extra);
    if (!now.error.isEmpty())
        return {{QStringLiteral("the state after the run: ") + now.error}};
    QString error;
    const QStringList tracked = TrackedFolders(home, extra, error);
    ServerLogin login;
    if (!login.ok())
        return {{QStringLiteral("no login for undo")}};
    const QStringList runs = Runs(before.lastRun, error);
    if (!error.isEmpty())
        return {{error}};

    // Replays the runs' entries over the state before: each entry must find
    // the record or file as its bytes before say, and the end must be the
    // state found now. So every change has its entry and every entry its
    // change.
    QMap<QString, QByteArray> records = before.records;
    QMap<QString, Expected> files;
    for (auto it = before.files.cbegin(); it != before.files.cend(); ++it)
        files.insert(it.key(), {it.value(), false});
    QStringList replay;
    for (const QString& id : runs) {
        WcRunInfo info{};
        GetJournalRun(id.toUInt(), info);
        QList<WcRunEntry> entries;
        if (!VisitRunEntries(id.toUInt(), [&entries](const WcRunEntry& e) {
                entries.append(e);
                return true;
            }))
            return {{QStringLiteral("the entries of run %1 cannot be read").arg(id)}};
        result.entries += int(entries.size());
        for (qsizetype i = 0; i < entries.size(); ++i) {
            const WcRunEntry& e = entries.at(i);
            const QString where = QStringLiteral("run %1 entry %2 (%3)")
                                      .arg(id)
                                      .arg(e.Seq)
                                      .arg(EntryKindWord(e.Kind));
            switch (e.Kind) {
            case WC_ENTRY_RECORD_ADDED:
            case WC_ENTRY_RECORD_CHANGED:
            case WC_ENTRY_RECORD_DELETED:
                if (e.HasBefore) {
                    const QString key = RecordKey(e.Before);
                    if (!records.contains(key))
                        replay << where + QStringLiteral(": record %1 was not there").arg(key);
                    else if (records.value(key) != Image(e.Before))
                        replay << where + QStringLiteral(": record %1 was not as noted (%2)")
                                              .arg(key)
                                              .arg(FieldNames(DifferingFields(records.value(key),
                                                                              Image(e.Before))));
                    records.remove(key);
                }
                if (e.HasAfter) {
                    const QString key = RecordKey(e.After);
                    if (records.contains(key))
                        replay << where + QStringLiteral(": record %1 was there already").arg(key);
                    records.insert(key, Image(e.After));
                }
                break;
            case WC_ENTRY_FILE_TRASHED:
            case WC_ENTRY_FILE_MOVED: {
                const QString from = KeyOf(home, QFile::decodeName(e.Path));
                const QString to = KeyOf(home, QFile::decodeName(e.Trash));
                // A rename is committed before it is made: the last entry of
                // a killed run may name a file that never left.
                if (killed && info.Open && i == entries.size() - 1 && now.files.contains(from) &&
                    !now.files.contains(to)) {
                    ++result.unfinished;
                    break;
                }
                if (files.contains(from))
                    files.insert(to, files.take(from));
                else if (tracked.contains(FolderOfKey(from)) || IsTrash(from))
                    replay << where + QStringLiteral(": file %1 was not there").arg(from);
                else
                    files.insert(to, {{}, true}); // from outside the BBS (an inbound)
                break;
            }
            case WC_ENTRY_FILE_CREATED:
                files.insert(KeyOf(home, QFile::decodeName(e.Path)), {{}, true});
                break;
            default:
                replay << where + QStringLiteral(": unknown kind %1").arg(e.Kind);
            }
        }
    }
    for (auto it = now.records.cbegin(); it != now.records.cend(); ++it)
        if (!records.contains(it.key()))
            replay << QStringLiteral("record %1 appeared without an entry").arg(it.key());
        else if (records.value(it.key()) != it.value())
            replay << QStringLiteral("record %1 changed without an entry (%2)")
                          .arg(it.key())
                          .arg(FieldNames(DifferingFields(records.value(it.key()), it.value())));
    for (auto it = records.cbegin(); it != records.cend(); ++it)
        if (!now.records.contains(it.key()))
            replay << QStringLiteral("record %1 vanished without an entry").arg(it.key());
    for (auto it = now.files.cbegin(); it != now.files.cend(); ++it) {
        const auto expected = files.constFind(it.key());
        if (expected == files.cend())
            replay << QStringLiteral("file %1 appeared without an entry").arg(it.key());
        else if (!expected->any && expected->bytes != it.value())
            replay << QStringLiteral("file %1 changed without an entry").arg(it.key());
    }
    for (auto it = files.cbegin(); it != files.cend(); ++it)
        if (!it->any && !now.files.contains(it.key()))
            replay << QStringLiteral("file %1 vanished without an entry").arg(it.key());
    if (!replay.isEmpty())
        problems << QStringLiteral("the journal does not match the changes: ") + Short(replay);

    // Undo, newest run first, as `vtfilemgr-cli undo RUN --yes` does.
    QStringList left;
    UndoNewestFirst(
        runs,
        [&left](const WcRunEntry& e, int outcome, const QString& why) {
            if (outcome != WC_UNDO_DONE)
                left << LeftLine(e, why);
        },
        [&](uint32_t id, const UndoReport& report) {
            ++result.runs;
            if (report.status != UndoStatus::Done || !left.isEmpty())
                problems << QStringLiteral("undoing run %1: status %2, %3 conflicts, %4 failed: %5")
                                .arg(id)
                                .arg(int(report.status))
                                .arg(report.summary.Conflicts)
                                .arg(report.summary.Failed)
                                .arg(Short(left));
            left.clear();
        });

    // Every record and every file as before the run.
    const BbsBytes after = TakeBbsBytes(home, extra);
    if (!after.error.isEmpty())
        return {problems << QStringLiteral("the state after undo: ") + after.error};
    QStringList lost;
    for (auto it = before.records.cbegin(); it != before.records.cend(); ++it)
        if (!after.records.contains(it.key()))
            lost << QStringLiteral("record %1 missing").arg(it.key());
        else if (after.records.value(it.key()) != it.value())
            lost << QStringLiteral("record %1 differs (%2)")
                        .arg(it.key())
                        .arg(
                            FieldNames(DifferingFields(it.value(), after.records.value(it.key()))));
    for (auto it = after.records.cbegin(); it != after.records.cend(); ++it)
        if (!before.records.contains(it.key()))
            lost << QStringLiteral("record %1 stayed").arg(it.key());
    for (auto it = before.files.cbegin(); it != before.files.cend(); ++it)
        if (!IsTrash(it.key()) && !after.files.contains(it.key()))
            lost << QStringLiteral("file %1 missing").arg(it.key());
        else if (!IsTrash(it.key()) && after.files.value(it.key()) != it.value())
            lost << QStringLiteral("file %1 differs").arg(it.key());
    for (auto it = after.files.cbegin(); it != after.files.cend(); ++it)
        if (!IsTrash(it.key()) && !before.files.contains(it.key()))
            lost << QStringLiteral("file %1 stayed").arg(it.key());
    if (!lost.isEmpty())
        problems << QStringLiteral("undo did not restore the BBS: ") + Short(lost);
    return result;
}

UndoResult UndoBesideWriter(const QString& home, const BbsBytes& before, Fields writerFields,
                            const QString& writerPrefix)
{
    UndoResult result;
    QStringList& problems = result.problems;
    if (!before.error.isEmpty())
        return {{QStringLiteral("the state before: ") + before.error}};
    ServerLogin login;
    if (!login.ok())
        return {{QStringLiteral("no login for undo")}};
    QString error;
    const QStringList runs = Runs(before.lastRun, error);
    if (!error.isEmpty())
        return {{error}};
    // Records left as they are: the run's image after, by key; and the
    // names (upper case) whose files stay with them.
    QMap<QString, QByteArray> held;
    QSet<QString> heldNames;
    QStringList left;
    UndoNewestFirst(
        runs,
        [&](const WcRunEntry& e, int outcome, const QString& why) {
            if (outcome == WC_UNDO_DONE)
                return;
            const QString name = QString::fromLatin1(e.Name).toUpper();
            const bool record = e.Kind == WC_ENTRY_RECORD_ADDED ||
                                e.Kind == WC_ENTRY_RECORD_CHANGED ||
                                e.Kind == WC_ENTRY_RECORD_DELETED;
            if (outcome == WC_UNDO_CONFLICT && record && e.HasAfter) {
                held.insert(RecordKey(e.After), Image(e.After));
                heldNames.insert(name);
            } else if (outcome != WC_UNDO_CONFLICT || record || !heldNames.contains(name)) {
                left << LeftLine(e, why);
            }
        },
        [&](uint32_t id, const UndoReport& report) {
            ++result.runs;
            result.entries += int(report.summary.Done + report.summary.Conflicts);
            const bool ended =
                report.status == UndoStatus::Done || report.status == UndoStatus::Conflicts;
            if (!ended || report.summary.Failed != 0 || !left.isEmpty())
                problems << QStringLiteral("undoing run %1: status %2, %3 failed; not the "
                                           "writer's doing: %4")
                                .arg(id)
                                .arg(int(report.status))
                                .arg(report.summary.Failed)
                                .arg(Short(left));
            left.clear();
        });

    const BbsBytes after = TakeBbsBytes(home);
    if (!after.error.isEmpty())
        return {problems << QStringLiteral("the state after undo: ") + after.error};
    QStringList lost;
    auto beyondWriter = [&](const QByteArray& a, const QByteArray& b) {
        return DifferingFields(a, b) & ~writerFields;
    };
    // A record may be held by several runs (moved twice, changed between):
    // where it stands now, it differs from that run's image in the
    // writer's fields alone.
    auto writers = [&](const QString& key) {
        return key.section(u'/', -1).toUpper().startsWith(writerPrefix.toUpper());
    };
    for (const QString& name : heldNames) {
        if (writers(name))
            continue; // the writer may have deleted its own since
        int present = 0;
        for (auto it = held.cbegin(); it != held.cend(); ++it) {
            if (it.key().section(u'/', -1) != name || !after.records.contains(it.key()))
                continue;
            ++present;
            if (const Fields f = beyondWriter(it.value(), after.records.value(it.key())))
                lost << QStringLiteral("record %1 was left as it is for changes the writer does "
                                       "not make (%2)")
                            .arg(it.key(), FieldNames(f));
        }
        if (present == 0)
            lost << QStringLiteral("record %1, left as it is, is gone").arg(name);
    }
    for (auto it = before.records.cbegin(); it != before.records.cend(); ++it) {
        if (heldNames.contains(it.key().section(u'/', -1)))
            continue;
        if (!after.records.contains(it.key()))
            lost << QStringLiteral("record %1 missing").arg(it.key());
        else if (const Fields f = beyondWriter(it.value(), after.records.value(it.key())))
            lost << QStringLiteral("record %1 differs (%2)").arg(it.key(), FieldNames(f));
    }
    for (auto it = after.records.cbegin(); it != after.records.cend(); ++it)
        if (!before.records.contains(it.key()) && !held.contains(it.key()) && !writers(it.key()))
            lost << QStringLiteral("record %1 stayed").arg(it.key());
    // Files by folder and upper-case name; a held record's file lies in
    // its area's folder (areas/N, as the hardening BBS lays them out) with
    // the bytes it had.
    auto upper = [](const QMap<QString, QByteArray>& files) {
        QMap<QString, QByteArray> out;
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            if (!IsTrash(it.key()))
                out.insert(FolderOfKey(it.key()) + u'/' + it.key().section(u'/', -1).toUpper(),
                           it.value());
        return out;
    };
    const QMap<QString, QByteArray> was = upper(before.files), is = upper(after.files);
    for (auto it = was.cbegin(); it != was.cend(); ++it) {
        const QString name = it.key().section(u'/', -1);
        if (heldNames.contains(name)) {
            bool found = false;
            for (auto h = held.cbegin(); h != held.cend() && !found; ++h)
                if (h.key().section(u'/', -1) == name && after.records.contains(h.key()))
                    found = is.value(QStringLiteral("areas/") + h.key()) == it.value();
            if (!found)
                lost << QStringLiteral("file %1 is not with its record").arg(it.key());
        } else if (!is.contains(it.key())) {
            lost << QStringLiteral("file %1 missing").arg(it.key());
        } else if (is.value(it.key()) != it.value()) {
            lost << QStringLiteral("file %1 differs").arg(it.key());
        }
    }
    for (auto it = is.cbegin(); it != is.cend(); ++it)
        if (!was.contains(it.key()) && !writers(it.key()) &&
            !heldNames.contains(it.key().section(u'/', -1)))
            lost << QStringLiteral("file %1 stayed").arg(it.key());
    if (!lost.isEmpty())
        problems << QStringLiteral("undo did not restore the BBS: ") + Short(lost);
    return result;
}

} // namespace hard
