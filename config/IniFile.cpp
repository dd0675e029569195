#include "config/IniFile.h"

#include "common/AppError.h"
#include "common/Text.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace
{

constexpr qsizetype kValueMax = 1023; // values are read into a 1,024-byte buffer

// The line without its line end.
QByteArray Body(const QByteArray& line)
{
    qsizetype end = line.size();
    while (end > 0 && (line.at(end - 1) == '\n' || line.at(end - 1) == '\r'))
        --end;
    return line.left(end);
}

QByteArray LineEnd(const QByteArray& line)
{
    return line.mid(Body(line).size());
}

QByteArray TrimBlanks(const QByteArray& text)
{
    qsizetype begin = 0, end = text.size();
    while (begin < end && (text.at(begin) == ' ' || text.at(begin) == '\t'))
        ++begin;
    while (end > begin && (text.at(end - 1) == ' ' || text.at(end - 1) == '\t'))
        --end;
    return text.mid(begin, end - begin);
}

bool SameName(const QByteArray& a, const QString& b)
{
    return FromBytes(a).compare(b.trimmed(), Qt::CaseInsensitive) == 0;
}

// "[Name]" (blanks allowed around it): the section's name, else false.
bool SectionOf(const QByteArray& line, QByteArray& name)
{
    const QByteArray body = TrimBlanks(Body(line));
    if (!body.startsWith('['))
        return false;
    const qsizetype close = body.indexOf(']');
    name = TrimBlanks(close < 0 ? body.mid(1) : body.mid(1, close - 1));
    return true;
}

// "key=value": the trimmed key and the raw value, else false. Comment lines
// (starting with ';') are never keys.
bool KeyOf(const QByteArray& line, QByteArray& key, QByteArray& value)
{
    const QByteArray body = Body(line);
    const qsizetype eq = body.indexOf('=');
    if (eq < 0)
        return false;
    key = TrimBlanks(body.left(eq));
    if (key.startsWith(';'))
        return false;
    value = body.mid(eq + 1);
    return true;
}

// The text with each run of CR and LF characters as one blank.
QString OneLine(const QString& text)
{
    if (!text.contains(u'\r') && !text.contains(u'\n'))
        return text;
    static const QRegularExpression breaks(QStringLiteral("[\r\n]+"));
    QString out = text;
    out.replace(breaks, QStringLiteral(" "));
    return out;
}

// A value as read: blanks trimmed, one pair of quotes removed, bounded.
QString ReadValue(QByteArray value)
{
    value = TrimBlanks(value);
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"'))
        value = value.mid(1, value.size() - 2);
    return FromBytes(value.left(kValueMax));
}

} // namespace

IniFile::IniFile(const QString& path) : m_path(path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray data = file.readAll();
    // Split after every line end, keeping "\r\n", "\n" or a lone "\r" with its line.
    qsizetype start = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        if (data.at(i) == '\n' ||
            (data.at(i) == '\r' && (i + 1 >= data.size() || data.at(i + 1) != '\n'))) {
            m_lines.append(data.mid(start, i + 1 - start));
            start = i + 1;
        }
    }
    if (start < data.size())
        m_lines.append(data.mid(start));
}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& def) const
{
    bool inSection = false;
    for (const QByteArray& line : m_lines) {
        QByteArray name, k, value;
        if (SectionOf(line, name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (!inSection || !KeyOf(line, k, value) || !SameName(k, key))
            continue;
        return ReadValue(value);
    }
    return def;
}

QList<std::pair<QString, QString>> IniFile::ReadSection(const QString& section) const
{
    QList<std::pair<QString, QString>> entries;
    bool inSection = false;
    for (const QByteArray& line : m_lines) {
        QByteArray name, k, value;
        if (SectionOf(line, name)) {
            inSection = SameName(name, section);
            continue;
        }
        if (inSection && KeyOf(line, k, value) && !k.isEmpty())
            entries.append({FromBytes(k), ReadValue(value)});
    }
    return entries;
}

void IniFile::SetSection(const QString& rawSection,
                         const QList<std::pair<QString, QString>>& entries)
{
    const QString section = OneLine(rawSection);
    QByteArray eol = "\r\n";
    for (const QByteArray& line : m_lines) {
        if (!LineEnd(line).isEmpty()) {
            eol = LineEnd(line);
            break;
        }
    }
    QList<QByteArray> keyLines;
    for (const auto& [rawKey, rawValue] : entries) {
        const QByteArray key = ToBytes(OneLine(rawKey).trimmed());
        if (key.isEmpty() || key.startsWith('[') || key.startsWith(';') || key.contains('='))
            continue;
        keyLines.append(key + '=' + ToBytes(OneLine(rawValue)) + eol);
    }

    // Removes the section's key lines, noting where the first one was.
    qsizetype insertAt = -1;
    qsizetype headerAt = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < m_lines.size();) {
        QByteArray name, k, v;
        if (SectionOf(m_lines[i], name)) {
            inSection = SameName(name, section);
            if (inSection && headerAt < 0)
                headerAt = i;
            ++i;
            continue;
        }
        if (inSection && KeyOf(m_lines[i], k, v)) {
            if (insertAt < 0)
                insertAt = i;
            m_lines.removeAt(i);
            continue;
        }
        ++i;
    }
    if (keyLines.isEmpty())
        return;
    if (insertAt < 0 && headerAt >= 0) {
        if (LineEnd(m_lines[headerAt]).isEmpty())
            m_lines[headerAt] += eol;
        insertAt = headerAt + 1;
    }
    if (insertAt < 0) {
        if (!m_lines.isEmpty() && LineEnd(m_lines.last()).isEmpty())
            m_lines.last() += eol;
        m_lines.append('[' + ToBytes(section.trimmed()) + ']' + eol);
        insertAt = m_lines.size();
    } else if (insertAt > 0 && LineEnd(m_lines[insertAt - 1]).isEmpty()) {
        m_lines[insertAt - 1] += eol;
    }
    for (qsizetype i = 0; i < keyLines.size(); ++i)
        m_lines.insert(insertAt + i, keyLines[i]);
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value)
{
    const QList<QByteArray> kept = m_lines;
    SetString(section, key, value);
    try {
        Save();
    } catch (const WriteError&) {
        m_lines = kept;
        throw;
    }
}

void IniFile::SetString(const QString& rawSection, const QString& rawKey, const QString& rawValue)
{
    const QString section = OneLine(rawSection);
    const QString key = OneLine(rawKey);
    const QString value = OneLine(rawValue);
    // New lines take the file's own line end (CRLF for a new file).
    QByteArray eol = "\r\n";
    for (const QByteArray& line : m_lines) {
        if (!LineEnd(line).isEmpty()) {
            eol = LineEnd(line);
            break;
        }
    }
    const QByteArray keyLine = ToBytes(key.trimmed()) + '=' + ToBytes(value);
    QList<QByteArray>& lines = m_lines;

    qsizetype sectionAt = -1;
    qsizetype lastKey = -1; // the section's last key line, else its header
    qsizetype keyAt = -1;
    QByteArray writtenKey; // an existing key keeps its spelling
    for (qsizetype i = 0; i < lines.size(); ++i) {
        QByteArray name, k, v;
        if (SectionOf(lines[i], name)) {
            if (sectionAt >= 0)
                break;
            if (SameName(name, section)) {
                sectionAt = i;
                lastKey = i;
            }
            continue;
        }
        if (sectionAt < 0)
            continue;
        if (!KeyOf(lines[i], k, v))
            continue;
        lastKey = i;
        if (SameName(k, key)) {
            keyAt = i;
            writtenKey = k;
            break;
        }
    }

    const auto ensureEnded = [&](qsizetype i) {
        if (LineEnd(lines[i]).isEmpty())
            lines[i] += eol;
    };
    if (keyAt >= 0) {
        const QByteArray end = LineEnd(lines[keyAt]);
        lines[keyAt] = writtenKey + '=' + ToBytes(value) + end;
    } else if (sectionAt >= 0) {
        ensureEnded(lastKey);
        lines.insert(lastKey + 1, keyLine + eol);
    } else {
        if (!lines.isEmpty())
            ensureEnded(lines.size() - 1);
        lines.append('[' + ToBytes(section.trimmed()) + ']' + eol);
        lines.append(keyLine + eol);
    }
}

void IniFile::Save() const
{
    QByteArray content;
    for (const QByteArray& line : m_lines)
        content += line;
    // A file made read-only is not replaced behind the sysop's back (the
    // new file would replace it although it could not be written).
    const QFileInfo existing(m_path);
    bool ok = !(existing.exists() && existing.isFile() && !existing.isWritable());
    // The content goes to a new file beside the old one, which replaces the
    // old file only once every byte is written and flushed; on failure the
    // new file is removed and the old one is untouched.
    // Unbuffered, so that a short or failed write shows in write()'s result:
    // commit() does not see a failure of the buffer's flush on closing and
    // would put the cut file in place.
    QSaveFile file(m_path);
    ok = ok && file.open(QIODevice::WriteOnly | QIODevice::Unbuffered);
    ok = ok && file.write(content) == content.size();
    ok = ok && file.flush();
    ok = ok && file.commit();
    if (!ok) {
        file.cancelWriting();
        throw WriteError(QStringLiteral("Unable to write to %1").arg(m_path));
    }
}
