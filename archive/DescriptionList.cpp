#include "archive/DescriptionList.h"

#include "common/FileUtils.h"
#include "filter/DateTime.h"
#include "server/DiskNames.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

const QByteArray FourDosMark("\x04\xC2", 2);

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool IsContinuationMark(char c)
{
    return c == '|' || c == '+' || c == '>';
}

bool IsCommentStart(char c)
{
    return c == ';' || c == '-' || c == '=';
}

bool AllBlank(const QByteArray& line)
{
    for (char c : line)
        if (!IsBlank(c))
            return false;
    return true;
}

bool AllDigits(const QByteArray& text)
{
    if (text.isEmpty())
        return false;
    for (char c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

// "12345", "1,234,567" or "120K" / "3M"; the value in bytes.
bool ReadSize(const QByteArray& token, qint64& size)
{
    QByteArray digits = token;
    qint64 unit = 1;
    if (!digits.isEmpty() && (digits.back() == 'k' || digits.back() == 'K')) {
        unit = 1024;
        digits.chop(1);
    } else if (!digits.isEmpty() && (digits.back() == 'm' || digits.back() == 'M')) {
        unit = 1024 * 1024;
        digits.chop(1);
    }
    if (unit == 1 && digits.contains(',')) {
        const QList<QByteArray> groups = digits.split(',');
        if (groups.first().size() > 3 || !AllDigits(groups.first()))
            return false;
        for (qsizetype i = 1; i < groups.size(); ++i)
            if (groups.at(i).size() != 3 || !AllDigits(groups.at(i)))
                return false;
        digits.replace(",", "");
    }
    // Up to 18 digits, and no more than a 64-bit size holds once the unit
    // is applied: every size a record can carry reads back.
    if (!AllDigits(digits) || digits.size() > 18)
        return false;
    const qint64 value = digits.toLongLong();
    if (value > std::numeric_limits<qint64>::max() / unit)
        return false;
    size = value * unit;
    return true;
}

// Month-first or day-first with two- or four-digit years, or year first;
// one separator of - / . throughout.
bool IsDate(const QByteArray& token)
{
    char separator = 0;
    for (char c : token)
        if (c == '-' || c == '/' || c == '.') {
            separator = c;
            break;
        }
    if (!separator)
        return false;
    const QList<QByteArray> parts = token.split(separator);
    if (parts.size() != 3)
        return false;
    for (const QByteArray& p : parts)
        if (!AllDigits(p))
            return false;
    const int a = parts[0].toInt(), b = parts[1].toInt(), c = parts[2].toInt();
    if (parts[0].size() == 4)
        return parts[1].size() <= 2 && parts[2].size() <= 2 && b >= 1 && b <= 12 && c >= 1 &&
               c <= 31;
    if (parts[0].size() > 2 || parts[1].size() > 2 ||
        (parts[2].size() != 2 && parts[2].size() != 4))
        return false;
    return a >= 1 && a <= 31 && b >= 1 && b <= 31 && (a <= 12 || b <= 12);
}

// "[3]", "[ 12]", "[03 ]".
bool ReadDownloads(const QByteArray& token, int& count)
{
    if (token.size() < 3 || token.front() != '[' || token.back() != ']')
        return false;
    const QByteArray inner = token.mid(1, token.size() - 2).trimmed();
    if (!AllDigits(inner) || inner.size() > 10)
        return false;
    const qint64 value = inner.toLongLong();
    if (value > std::numeric_limits<int>::max())
        return false;
    count = int(value);
    return true;
}

// The end of the column token starting at `start`: a bracketed count may
// hold blanks inside.
qsizetype TokenEnd(const QByteArray& line, qsizetype start)
{
    if (line.at(start) == '[') {
        const qsizetype close = line.indexOf(']', start);
        if (close > start && close - start <= 12 &&
            (close + 1 == line.size() || IsBlank(line.at(close + 1))))
            return close + 1;
    }
    qsizetype end = start;
    while (end < line.size() && !IsBlank(line.at(end)))
        ++end;
    return end;
}

QByteArray Cut(const QByteArray& text, qsizetype max, int& cuts)
{
    if (text.size() <= max)
        return text;
    ++cuts;
    return text.left(max);
}

// The DOS directory layout of a name: the name padded with blanks to eight
// columns, then the extension with its dot ("RG0930F .ZIP", "A       .TXT").
// The length of the name field on the line, 0 when it is not in that layout;
// `name` gets the name without the padding.
qsizetype DosLayoutName(const QByteArray& line, QByteArray& name)
{
    constexpr qsizetype kDot = 8;
    qsizetype end = 0;
    while (end < line.size() && !IsBlank(line.at(end)) && line.at(end) != '.')
        ++end;
    // A padded name: between one and seven characters, then blanks (not
    // tabs) up to the dot in the ninth column.
    if (end == 0 || end >= kDot || line.size() <= kDot + 1 || line.at(kDot) != '.')
        return 0;
    for (qsizetype i = end; i < kDot; ++i)
        if (line.at(i) != ' ')
            return 0;
    qsizetype extEnd = kDot + 1;
    while (extEnd < line.size() && !IsBlank(line.at(extEnd)) && line.at(extEnd) != '.')
        ++extEnd;
    if (extEnd == kDot + 1 || extEnd - kDot - 1 > 3 ||
        (extEnd < line.size() && !IsBlank(line.at(extEnd))))
        return 0;
    name = line.left(end) + line.mid(kDot, extEnd - kDot);
    return extEnd;
}

// How a file line's size column was read.
enum class SizeColumn {
    None,        // the line has no size column
    Confirmed,   // a date or a download count stands beside it
    Unconfirmed, // a number alone: a size only where the list has the column
};

struct FileLine {
    SizeColumn size = SizeColumn::None;
    bool dosLayout = false;
    int descriptionCuts = 0;
};

// Reads a file line into `entry`; false when it can't be read. With
// `sizeColumn` false a number is never read as the size.
bool ReadFileLine(const QByteArray& line, DescriptionEntry& entry, bool sizeColumn, FileLine& read)
{
    qsizetype pos = 0;
    read = FileLine{};
    if (line.at(0) == '"') {
        const qsizetype close = line.indexOf('"', 1);
        if (close < 0)
            return false;
        entry.name = line.mid(1, close - 1);
        pos = close + 1;
        if (pos < line.size() && !IsBlank(line.at(pos)))
            return false;
    } else if (const qsizetype end = DosLayoutName(line, entry.name); end > 0) {
        pos = end;
        read.dosLayout = true;
    } else {
        while (pos < line.size() && !IsBlank(line.at(pos)))
            ++pos;
        entry.name = line.left(pos);
    }
    if (entry.name.isEmpty())
        return false;

    bool haveSize = false, haveDate = false, haveCount = false;
    entry.size = -1;
    entry.date.clear();
    entry.downloads = -1;
    qsizetype runStart = pos;
    qsizetype tokenStart = pos;
    for (;;) {
        runStart = pos;
        tokenStart = pos;
        while (tokenStart < line.size() && IsBlank(line.at(tokenStart)))
            ++tokenStart;
        if (tokenStart >= line.size() || tokenStart == runStart)
            break;
        const qsizetype tokenEnd = TokenEnd(line, tokenStart);
        const QByteArray token = line.mid(tokenStart, tokenEnd - tokenStart);
        qint64 size = 0;
        int count = 0;
        if (sizeColumn && !haveSize && ReadSize(token, size)) {
            haveSize = true;
            entry.size = size;
        } else if (!haveDate && IsDate(token)) {
            haveDate = true;
            entry.date = token;
        } else if (!haveCount && ReadDownloads(token, count)) {
            haveCount = true;
            entry.downloads = count;
        } else {
            break;
        }
        pos = tokenEnd;
    }
    if (haveSize)
        read.size = haveDate || haveCount ? SizeColumn::Confirmed : SizeColumn::Unconfirmed;
    // Blanks after the last tab of the separating run belong to the text.
    qsizetype start = tokenStart;
    for (qsizetype i = tokenStart - 1; i >= runStart; --i)
        if (line.at(i) == '\t') {
            start = i + 1;
            break;
        }
    entry.description = Cut(line.mid(start), DescriptionTextMax, read.descriptionCuts);
    return true;
}

// The text of a continuation line.
QByteArray ContinuationText(const QByteArray& line)
{
    qsizetype i = 0;
    while (i < line.size() && IsBlank(line.at(i)))
        ++i;
    if (i < line.size() && IsContinuationMark(line.at(i))) {
        ++i;
        if (i < line.size() && line.at(i) == ' ')
            ++i;
    }
    return line.mid(i);
}

// The end of the line starting at `at`: the first CR or LF from there (or
// the end of the bytes); `next` gets where the next line starts. CR LF, LF
// and CR alone each end a line.
qsizetype LineEnd(const QByteArray& bytes, qsizetype at, qsizetype& next)
{
    const char* data = bytes.constData();
    const qsizetype size = bytes.size();
    qsizetype end = at;
    while (end < size && data[end] != '\n' && data[end] != '\r')
        ++end;
    next = end;
    if (next < size) {
        if (data[next] == '\r' && next + 1 < size && data[next + 1] == '\n')
            ++next;
        ++next;
    }
    return end;
}

// A file line read with its size column still in question: the line, to
// read it again without the column.
struct PendingSize {
    qsizetype entry = 0;
    QByteArray line;
    int descriptionCuts = 0;
};

} // namespace

DescriptionList ParseDescriptionList(const QByteArray& input, const DescriptionFileSizes& sizes)
{
    DescriptionList list;
    QByteArray bytes = input;
    while (bytes.endsWith('\x1A'))
        bytes.chop(1);

    qsizetype current = -1; // the entry continuation lines go to
    bool currentDos = false;
    QList<int> blankLines; // blank lines under a DOS-layout entry, not yet its own
    QList<PendingSize> pending;
    qsizetype at = 0;
    int number = 0;
    auto endEntry = [&]() {
        current = -1;
        blankLines.clear();
    };
    auto addLongLine = [&](DescriptionEntry& entry, const QByteArray& text, int line) {
        if (entry.longLines.size() >= LongDescriptionLineMax) {
            ++entry.cuts;
            ++list.cuts;
            return;
        }
        int cuts = 0;
        entry.longLines.append(Cut(text, LongDescriptionTextMax, cuts));
        entry.longLineNumbers.append(line);
        entry.cuts += cuts;
        list.cuts += cuts;
    };
    while (at < bytes.size()) {
        qsizetype next = 0;
        const qsizetype end = LineEnd(bytes, at, next);
        QByteArray line = bytes.mid(at, end - at);
        at = next;
        ++number;
        const qsizetype mark = line.indexOf(FourDosMark);
        if (mark >= 0)
            line.truncate(mark);

        // A NUL would end the text where a record keeps it: such a line
        // can't be read.
        if (line.contains('\0')) {
            list.unread.append({number, line});
            if (!IsBlank(line.at(0)) && !IsContinuationMark(line.at(0)))
                endEntry();
            continue;
        }
        if (AllBlank(line)) {
            // Under an entry of the DOS directory layout a blank line is a
            // blank line of its long description when more of it follows.
            if (current >= 0 && currentDos)
                blankLines.append(number);
            else
                endEntry();
            continue;
        }
        if (IsCommentStart(line.at(0))) {
            endEntry();
            continue;
        }
        if (IsBlank(line.at(0)) || IsContinuationMark(line.at(0))) {
            if (current < 0) {
                list.unread.append({number, line});
                continue;
            }
            DescriptionEntry& entry = list.entries[current];
            for (int blank : std::as_const(blankLines))
                addLongLine(entry, QByteArray(), blank);
            blankLines.clear();
            addLongLine(entry, ContinuationText(line), number);
            continue;
        }
        DescriptionEntry entry;
        entry.line = number;
        FileLine read;
        if (!ReadFileLine(line, entry, true, read)) {
            list.unread.append({number, line});
            endEntry();
            continue;
        }
        entry.cuts = read.descriptionCuts;
        list.cuts += entry.cuts;
        list.entries.append(entry);
        endEntry();
        current = list.entries.size() - 1;
        currentDos = read.dosLayout;
        if (read.size == SizeColumn::Unconfirmed)
            pending.append({current, line, read.descriptionCuts});
    }

    // A number alone after the name is a size only where the list has the
    // column: it is the file's size, or most of the other entries carry a
    // size too. Otherwise it begins the description ("386.DOC 80386 manual").
    qsizetype withSize = 0;
    for (const DescriptionEntry& e : std::as_const(list.entries))
        if (e.size >= 0)
            ++withSize;
    const qsizetype others = list.entries.size() - 1;
    const bool listHasColumn = others > 0 && (withSize - 1) * 2 > others;
    for (const PendingSize& p : std::as_const(pending)) {
        DescriptionEntry& entry = list.entries[p.entry];
        if (listHasColumn || (sizes && sizes(entry.name) == entry.size))
            continue;
        FileLine read;
        ReadFileLine(p.line, entry, false, read);
        entry.cuts += read.descriptionCuts - p.descriptionCuts;
        list.cuts += read.descriptionCuts - p.descriptionCuts;
    }
    return list;
}

namespace
{

bool NeedsQuotes(const QByteArray& name)
{
    if (name.isEmpty())
        return true;
    const char first = name.at(0);
    if (IsCommentStart(first) || IsContinuationMark(first) || first == '"')
        return true;
    for (char c : name)
        if (IsBlank(c))
            return true;
    return false;
}

QByteArray NameField(const QByteArray& name)
{
    return NeedsQuotes(name) ? '"' + name + '"' : name;
}

// The entry's columns, each only when the reader takes it back as the same
// column: a column it can't read would be read as the start of the
// description, which would then no longer fit its field. A size goes with a
// date or a count only, which make it a column whatever the other entries.
QByteArray Columns(const DescriptionEntry& entry)
{
    QByteArray out;
    const bool date = !entry.date.isEmpty() && IsDate(entry.date);
    int count = 0;
    const QByteArray countText = '[' + QByteArray::number(entry.downloads) + ']';
    const bool downloads =
        entry.downloads >= 0 && ReadDownloads(countText, count) && count == entry.downloads;
    qint64 size = 0;
    const QByteArray sizeText = QByteArray::number(entry.size);
    if ((date || downloads) && entry.size >= 0 && ReadSize(sizeText, size) && size == entry.size)
        out += sizeText.rightJustified(9) + "  ";
    if (date)
        out += entry.date + "  ";
    if (downloads)
        out += countText + "  ";
    return out;
}

// One written form of an entry: its file line and continuation lines.
QByteArray EntryText(const DescriptionEntry& entry, DescriptionListLayout layout, bool columns,
                     bool tab)
{
    QByteArray prefix = NameField(entry.name);
    if (layout == DescriptionListLayout::FilesBbs)
        prefix = prefix.leftJustified(12) + ' ';
    else
        prefix += ' ';
    if (columns)
        prefix += Columns(entry);
    const qsizetype indent = std::min<qsizetype>(prefix.size(), 40);
    if (tab) {
        while (!prefix.isEmpty() && IsBlank(prefix.back()))
            prefix.chop(1);
        prefix += '\t';
    }
    QByteArray out = prefix + entry.description;
    if (entry.description.isEmpty() && !tab)
        while (!out.isEmpty() && IsBlank(out.back()))
            out.chop(1);
    out += "\r\n";
    for (const QByteArray& text : entry.longLines) {
        out += QByteArray(indent, ' ') + '|';
        if (!text.isEmpty())
            out += ' ' + text;
        out += "\r\n";
    }
    return out;
}

bool SameTexts(const DescriptionEntry& a, const DescriptionEntry& b)
{
    return a.name == b.name && a.description == b.description && a.longLines == b.longLines;
}

bool ReadsBack(const QByteArray& text, const DescriptionEntry& entry)
{
    const DescriptionList back = ParseDescriptionList(text);
    return back.entries.size() == 1 && back.unread.isEmpty() &&
           SameTexts(back.entries.first(), entry);
}

// The lines `bytes` ends, counted as the reader counts them.
int LineEnds(const QByteArray& bytes)
{
    int ends = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i)
        if (bytes.at(i) == '\n' ||
            (bytes.at(i) == '\r' && (i + 1 == bytes.size() || bytes.at(i + 1) != '\n')))
            ++ends;
    return ends;
}

} // namespace

DescriptionListExport ExportDescriptionList(const QList<DescriptionEntry>& entries,
                                            DescriptionListLayout layout)
{
    DescriptionListExport out;
    const bool bbs = layout == DescriptionListLayout::FilesBbs;
    QList<int> firstLines; // the line each entry starts on
    int line = 1;
    for (int i = 0; i < entries.size(); ++i) {
        const DescriptionEntry& entry = entries.at(i);
        // The classic form first; then the forms that keep leading blanks
        // (a tab before the text) and texts that look like columns (the
        // entry's own columns before them). The first that reads back
        // exactly is written.
        struct Form {
            bool columns, tab;
        };
        const QList<Form> forms =
            bbs ? QList<Form>{{true, false}, {true, true}}
                : QList<Form>{{false, false}, {false, true}, {true, false}, {true, true}};
        QByteArray chosen;
        for (const Form& form : forms) {
            const QByteArray text = EntryText(entry, layout, form.columns, form.tab);
            if (ReadsBack(text, entry)) {
                chosen = text;
                break;
            }
        }
        if (chosen.isEmpty()) {
            out.inexact << i;
            chosen = EntryText(entry, layout, forms.first().columns, false);
        }
        firstLines << line;
        line += LineEnds(chosen);
        out.bytes += chosen;
    }
    // Each entry read back alone is not yet the whole list: a number that
    // begins a description reads as a size where most other entries carry
    // one. An entry the whole list does not give back exactly is reported.
    const DescriptionList back = ParseDescriptionList(out.bytes);
    qsizetype at = 0;
    for (int i = 0; i < entries.size(); ++i) {
        if (out.inexact.contains(i))
            continue;
        while (at < back.entries.size() && back.entries.at(at).line < firstLines.at(i))
            ++at;
        if (at == back.entries.size() || back.entries.at(at).line != firstLines.at(i) ||
            !SameTexts(back.entries.at(at), entries.at(i)))
            out.inexact << i;
    }
    std::sort(out.inexact.begin(), out.inexact.end());
    return out;
}

DescriptionEntry DescriptionEntryOfRecord(const FullFileRec& rec)
{
    auto text = [](const char* field, std::size_t size) {
        const void* nul = std::memchr(field, 0, size);
        return QByteArray(field, nul ? static_cast<const char*>(nul) - field : qsizetype(size));
    };
    DescriptionEntry entry;
    entry.name = text(rec.Rec.Name, sizeof rec.Rec.Name);
    entry.description = text(rec.Rec.Description, sizeof rec.Rec.Description);
    int last = -1;
    for (int i = 0; i < LongDescLines; ++i)
        if (rec.LongDescription[i][0] != '\0')
            last = i;
    for (int i = 0; i <= last; ++i)
        entry.longLines << text(rec.LongDescription[i], LongDescLineSize);
    entry.size = rec.Rec.Size >= 0 ? rec.Rec.Size : -1;
    entry.downloads = rec.Rec.Downloads >= 0 ? rec.Rec.Downloads : -1;
    SystemTime st;
    if (FileTimeToSystemTime(rec.Rec.FileTime, st) && st.year >= 1980)
        entry.date = QByteArray::number(st.month).rightJustified(2, '0') + '-' +
                     QByteArray::number(st.day).rightJustified(2, '0') + '-' +
                     QByteArray::number(st.year % 100).rightJustified(2, '0');
    return entry;
}

void ApplyDescriptionEntry(const DescriptionEntry& entry, FullFileRec& rec)
{
    auto put = [](char* field, std::size_t size, const QByteArray& text) {
        std::memset(field, 0, size);
        std::memcpy(field, text.constData(), std::min(std::size_t(text.size()), size - 1));
    };
    put(rec.Rec.Description, sizeof rec.Rec.Description, entry.description);
    for (int i = 0; i < LongDescLines; ++i)
        put(rec.LongDescription[i], LongDescLineSize,
            i < entry.longLines.size() ? entry.longLines.at(i) : QByteArray());
    rec.Rec.HasLongDescription = entry.longLines.isEmpty() ? 0 : 1;
}

DescriptionListFile ReadDescriptionListFile(const QString& path, qint64 maxBytes)
{
    DescriptionListFile file;
    bool notRegular = false;
    const int fd = OpenRegularFile(path, &notRegular);
    if (fd < 0) {
        file.failure = notRegular ? QStringLiteral("not a regular file")
                                  : QString::fromLocal8Bit(strerror(errno));
        return file;
    }
    // One byte beyond the limit tells a list that is too large, also one
    // that grows while it is read.
    constexpr qint64 kMiB = 1024 * 1024;
    const QString tooLarge = maxBytes % kMiB == 0
                                 ? QStringLiteral("larger than %1 MiB").arg(maxBytes / kMiB)
                                 : QStringLiteral("larger than %1 bytes").arg(maxBytes);
    struct stat st {
    };
    if (::fstat(fd, &st) == 0 && st.st_size > maxBytes) {
        ::close(fd);
        file.failure = tooLarge;
        return file;
    }
    QByteArray bytes(qsizetype(std::min<qint64>(st.st_size, maxBytes) + 1), Qt::Uninitialized);
    qsizetype got = 0;
    for (;;) {
        if (got == bytes.size()) {
            if (got > maxBytes)
                break;
            bytes.resize(qsizetype(std::min<qint64>(qint64(got) * 2, maxBytes + 1)));
        }
        const ssize_t n = ::read(fd, bytes.data() + got, std::size_t(bytes.size() - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            file.failure = QString::fromLocal8Bit(strerror(errno));
            ::close(fd);
            return file;
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    if (got > maxBytes) {
        file.failure = tooLarge;
        return file;
    }
    bytes.truncate(got);
    file.bytes = bytes;
    return file;
}

bool IsDescriptionListFile(const QByteArray& diskName)
{
    const std::string_view name(diskName.constData(), size_t(diskName.size()));
    return disknames::SameNameAnyCase(name, "FILES.BBS") ||
           disknames::SameNameAnyCase(name, "DESCRIPT.ION");
}
