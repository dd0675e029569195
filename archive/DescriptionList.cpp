#include "archive/DescriptionList.h"

#include "filter/DateTime.h"

#include <cstring>
#include <limits>

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

// Reads a file line into `entry`; false when it can't be read.
bool ReadFileLine(const QByteArray& line, DescriptionEntry& entry)
{
    qsizetype pos = 0;
    if (line.at(0) == '"') {
        const qsizetype close = line.indexOf('"', 1);
        if (close < 0)
            return false;
        entry.name = line.mid(1, close - 1);
        pos = close + 1;
        if (pos < line.size() && !IsBlank(line.at(pos)))
            return false;
    } else {
        while (pos < line.size() && !IsBlank(line.at(pos)))
            ++pos;
        entry.name = line.left(pos);
    }
    if (entry.name.isEmpty())
        return false;

    bool haveSize = false, haveDate = false, haveCount = false;
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
        if (!haveSize && ReadSize(token, size)) {
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
    // Blanks after the last tab of the separating run belong to the text.
    qsizetype start = tokenStart;
    for (qsizetype i = tokenStart - 1; i >= runStart; --i)
        if (line.at(i) == '\t') {
            start = i + 1;
            break;
        }
    entry.description = Cut(line.mid(start), DescriptionTextMax, entry.cuts);
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

} // namespace

DescriptionList ParseDescriptionList(const QByteArray& input)
{
    DescriptionList list;
    QByteArray bytes = input;
    while (bytes.endsWith('\x1A'))
        bytes.chop(1);

    DescriptionEntry* current = nullptr;
    qsizetype at = 0;
    int number = 0;
    while (at < bytes.size()) {
        qsizetype end = bytes.indexOf('\n', at);
        if (end < 0)
            end = bytes.size();
        QByteArray line = bytes.mid(at, end - at);
        at = end + 1;
        ++number;
        if (line.endsWith('\r'))
            line.chop(1);
        const qsizetype mark = line.indexOf(FourDosMark);
        if (mark >= 0)
            line.truncate(mark);

        if (AllBlank(line) || IsCommentStart(line.at(0))) {
            current = nullptr;
            continue;
        }
        if (IsBlank(line.at(0)) || IsContinuationMark(line.at(0))) {
            if (!current) {
                list.unread.append({number, line});
                continue;
            }
            if (current->longLines.size() >= LongDescriptionLineMax) {
                ++current->cuts;
                ++list.cuts;
                continue;
            }
            int cuts = 0;
            current->longLines.append(Cut(ContinuationText(line), LongDescriptionTextMax, cuts));
            current->longLineNumbers.append(number);
            current->cuts += cuts;
            list.cuts += cuts;
            continue;
        }
        DescriptionEntry entry;
        entry.line = number;
        if (!ReadFileLine(line, entry)) {
            list.unread.append({number, line});
            current = nullptr;
            continue;
        }
        list.cuts += entry.cuts;
        list.entries.append(entry);
        current = &list.entries.last();
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
// description, which would then no longer fit its field.
QByteArray Columns(const DescriptionEntry& entry)
{
    QByteArray out;
    qint64 size = 0;
    const QByteArray sizeText = QByteArray::number(entry.size);
    if (entry.size >= 0 && ReadSize(sizeText, size) && size == entry.size)
        out += sizeText.rightJustified(9) + "  ";
    if (!entry.date.isEmpty() && IsDate(entry.date))
        out += entry.date + "  ";
    int count = 0;
    const QByteArray countText = '[' + QByteArray::number(entry.downloads) + ']';
    if (entry.downloads >= 0 && ReadDownloads(countText, count) && count == entry.downloads)
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

bool ReadsBack(const QByteArray& text, const DescriptionEntry& entry)
{
    const DescriptionList back = ParseDescriptionList(text);
    if (back.entries.size() != 1 || !back.unread.isEmpty())
        return false;
    const DescriptionEntry& e = back.entries.first();
    return e.name == entry.name && e.description == entry.description &&
           e.longLines == entry.longLines;
}

} // namespace

DescriptionListExport ExportDescriptionList(const QList<DescriptionEntry>& entries,
                                            DescriptionListLayout layout)
{
    DescriptionListExport out;
    const bool bbs = layout == DescriptionListLayout::FilesBbs;
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
        out.bytes += chosen;
    }
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
