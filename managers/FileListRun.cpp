#include "managers/FileListRun.h"

#include "common/AreaLines.h"
#include "common/FileUtils.h"
#include "common/Text.h"
#include "filter/AgeLimits.h"
#include "filter/DateTime.h"
#include "server/FileAreas.h"
#include "server/ReadFailures.h"
#include "server/wcsrv.h"

#include <QFile>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <system_error>
#include <thread>

namespace
{

constexpr int kLineWidth = 80;

// Appends one area's block (lines already ending in CR LF) to the output
// file, creating it when missing: one open, write and close per area.
bool AppendBlock(const QString& path, const QByteArray& block)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return false;
    if (file.write(block) != block.size())
        return false;
    if (!file.flush())
        return false;
    file.close();
    return file.error() == QFileDevice::NoError;
}

// Appends each area's block on a thread of its own while the next area is
// listed: one block at a time, in the order of the areas, each with its
// own open, write and close. Where no thread can be had, the block is
// appended at once.
class BlockAppender
{
public:
    explicit BlockAppender(const QString& path) : m_path(path) {}
    ~BlockAppender() { Wait(); }
    BlockAppender(const BlockAppender&) = delete;
    BlockAppender& operator=(const BlockAppender&) = delete;

    // Starts appending `block`, which it takes; `block` gets the buffer of
    // the block appended before, emptied, to be filled again. The append
    // before must have ended (Wait).
    void Start(QByteArray& block)
    {
        m_block.swap(block);
        block.resize(0);
        try {
            m_thread = std::thread([this] {
                if (!AppendBlock(m_path, m_block))
                    m_failed.store(true, std::memory_order_release);
            });
        } catch (const std::system_error&) {
            if (!AppendBlock(m_path, m_block))
                m_failed.store(true, std::memory_order_release);
        }
    }
    // True once an append has failed; does not wait.
    bool Failed() const { return m_failed.load(std::memory_order_acquire); }
    // Waits until the append under way has ended; false when any failed.
    bool Wait()
    {
        if (m_thread.joinable())
            m_thread.join();
        return !Failed();
    }

private:
    const QString m_path;
    QByteArray m_block;
    std::thread m_thread;
    std::atomic<bool> m_failed{false};
};

// One area's block filled in place: room is made in large steps and the
// array's size is set once, when the block is complete, so a line costs a
// bounds check rather than a call into the array.
class BlockFill
{
public:
    explicit BlockFill(QByteArray& block) : m_block(block), m_used(0) { m_block.resize(0); }
    // Room for `n` more bytes; Advance says how many were put there.
    char* Room(qsizetype n)
    {
        if (m_used + n > m_block.size())
            m_block.resize(std::max(m_used + n, std::max<qsizetype>(2 * m_block.size(), 1 << 16)));
        return m_block.data() + m_used;
    }
    void Advance(qsizetype n) { m_used += n; }
    // A line and its CR LF.
    void Line(const QByteArray& line)
    {
        char* at = Room(line.size() + 2);
        std::memcpy(at, line.constData(), size_t(line.size()));
        at[line.size()] = '\r';
        at[line.size() + 1] = '\n';
        Advance(line.size() + 2);
    }
    // The block as filled.
    QByteArray& Done()
    {
        m_block.resize(m_used);
        return m_block;
    }

private:
    QByteArray& m_block;
    qsizetype m_used;
};

} // namespace

namespace
{

template <std::size_t N> size_t FieldLength(const char (&field)[N])
{
    return qstrnlen(field, N);
}

// The decimal digits of `value` (with a leading '-' when negative), put
// just before `end`; returns where they start.
char* DecimalDigits(int32_t value, char* end)
{
    uint32_t v = value < 0 ? 0u - uint32_t(value) : uint32_t(value);
    char* at = end;
    do {
        *--at = char('0' + v % 10);
        v /= 10;
    } while (v);
    if (value < 0)
        *--at = '-';
    return at;
}

} // namespace

namespace
{

// The longest line: every column at its width, the date and time texts at
// their longest.
constexpr int kLineMax = 17 + 8 + 1 + kDateTimeCharsMax + 1 + kDateTimeCharsMax + 1 + 39;

// One line for a record at `out` (kLineMax bytes and two more for a line
// end); returns its length. The date and time texts and the size are made
// on the stack, so a line costs no allocation.
int PutFileListLine(char* out, const FileRec& rec, const DateTimeCharsFormat& format)
{
    DateTimeChars when;
    format.Format(rec.FileTime, when);
    char size[16];
    char* const sizeEnd = size + sizeof size;
    const char* sizeText = DecimalDigits(rec.Size, sizeEnd);
    // The whole line blank first; then each field over it, cut to its
    // column: the rule of PadToWidth (the first characters kept, the size
    // right-aligned), applied to the record's own 8-bit bytes so they reach
    // the file unchanged.
    const int length = 17 + 8 + 1 + when.dateLength + 1 + when.timeLength + 1 + 39;
    std::memset(out, ' ', size_t(length));
    std::memcpy(out, rec.Name, FieldLength(rec.Name)); // 16 at most: fits 17
    const size_t sizeLength = std::min<size_t>(size_t(sizeEnd - sizeText), 8);
    std::memcpy(out + 25 - sizeLength, sizeText, sizeLength);
    char* at = out + 26;
    std::memcpy(at, when.date, size_t(when.dateLength));
    at += when.dateLength + 1;
    std::memcpy(at, when.time, size_t(when.timeLength));
    at += when.timeLength + 1;
    std::memcpy(at, rec.Description, qstrnlen(rec.Description, 39));
    return length;
}

} // namespace

void AppendFileListLine(QByteArray& block, const FileRec& rec, const DateTimeCharsFormat& format)
{
    char line[kLineMax];
    block.append(line, PutFileListLine(line, rec, format));
}

QByteArray FileListLine(const FileRec& rec)
{
    QByteArray line;
    line.reserve(kLineWidth);
    AppendFileListLine(line, rec, DateTimeCharsFormat());
    return line;
}

QByteArray FileListHeading(const QString& areaLine)
{
    return ToBytes(PadToWidth(QStringLiteral("===[") + areaLine + QStringLiteral(" ]="), u'=',
                              kLineWidth, u'R'));
}

QByteArray FileListTotalLine(long count)
{
    return ToBytes(
        PadToWidth(QStringLiteral("    Total Files: %1").arg(count), u' ', kLineWidth, u'R'));
}

QList<FileListArea> AllFileListAreas()
{
    // The name as Latin-1 text, one character per byte: the heading goes to
    // the file as the record's own bytes, whatever the windows' code page.
    QList<FileListArea> areas;
    for (const FileArea& area : AllAreas())
        areas.append({area.number, AreaLinePrefix(area.number) + RecText(area.rec.Name)});
    return areas;
}

bool RemoveOldFileList(const QString& path, RunDelegate& run)
{
    if (QFile::exists(path) && !DeleteDiskFile(path)) {
        run.Warn(QStringLiteral("Could not delete the old file list %1. No file list was made.")
                     .arg(path));
        return false;
    }
    return true;
}

FileListResult RunFileList(const FileListOptions& options, RunDelegate& run)
{
    FileListResult result;
    TakeReadFailure(); // only this run's failures count
    auto counted = [&](long count, bool areaDone) {
        if (options.counted)
            options.counted(count, result.total, areaDone);
    };
    qint64 position = 0;
    run.SetMaximum(options.areas.size());
    run.SetPosition(position);
    // Each area's lines are collected here and appended to the file at the
    // area's end, while the next area is listed; memory holds two blocks
    // at most. The buffers keep their memory from area to area.
    QByteArray block;
    BlockAppender appender(options.path);
    RunItem appending; // the area whose block is being appended
    // Waits for the block being appended: its area is reported once it is
    // in the file; a failed append is told as "File Write Error!" and ends
    // the run at the next record it examines. False when it failed.
    auto settle = [&]() {
        if (!appender.Wait()) {
            if (!result.writeFailed)
                run.Warn(QStringLiteral("File Write Error!"));
            result.writeFailed = true;
            return false;
        }
        if (appending.area != 0)
            run.Item(appending);
        appending = RunItem();
        return true;
    };
    const DateTimeCharsFormat format;
    for (const FileListArea& entry : options.areas) {
        const int area = entry.area;
        BlockFill fill(block);
        fill.Line(QByteArrayLiteral("       "));
        fill.Line(FileListHeading(entry.line));
        long count = 0;
        FileAreaRec areaRec{};
        FileRec rec{};
        uint32_t at = 0;
        bool listed = GetFileArea(area, &areaRec) || NoteReadFailure();
        if (listed) {
            if (options.areaBegun)
                options.areaBegun(area);
            listed = SearchFileRecByAreaName(area, "", &rec, &at) || NoteReadFailure();
        }
        if (listed) {
            while (rec.Area == area) {
                counted(count, false);
                const bool stop = run.StopRequested();
                if (stop || appender.Failed()) {
                    // The current block is dropped; earlier ones stay.
                    settle();
                    result.stopped = stop;
                    return result;
                }
                if (PassesRecordChoice(options.filter, options.ages, rec)) {
                    ++count;
                    ++result.total;
                    // The line and its end, in place.
                    char* line = fill.Room(kLineMax + 2);
                    int length = PutFileListLine(line, rec, format);
                    line[length++] = '\r';
                    line[length++] = '\n';
                    fill.Advance(length);
                }
                if (!GetNextFileRec(WC_KEY_AREA_NAME, &rec, &at)) {
                    NoteReadFailure();
                    break;
                }
            }
            counted(count, true);
            fill.Line(QByteArray(kLineWidth, '-'));
            fill.Line(FileListTotalLine(count));
            fill.Line(QByteArray(kLineWidth, '='));
            if (count > 0) {
                // A failed append of the area before ends the run here,
                // before this block is written.
                if (!settle())
                    return result;
                appender.Start(fill.Done());
                appending = {area, FileNameOfLine(entry.line), RunOutcome::Done,
                             QStringLiteral("%1 records listed").arg(count)};
            }
        }
        run.SetPosition(++position);
    }
    settle();
    // A server read that failed left records out of the list: it is shown,
    // never a silently short list.
    if (const uint32_t code = TakeReadFailure())
        run.ServerError(code);
    return result;
}
