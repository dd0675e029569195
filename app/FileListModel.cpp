#include "app/FileListModel.h"

#include <algorithm>
#include <cstring>

FileListModel::FileListModel(QObject* parent) : QAbstractListModel(parent)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(kPauseMs);
    connect(&m_pause, &QTimer::timeout, this, [this] { Flush(); });
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_shown)
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return Text(m_lines[size_t(index.row())]);
    return {};
}

QStringList FileListModel::lines() const
{
    Flush();
    QStringList out;
    out.reserve(m_shown);
    for (const LineRef& ref : m_lines)
        out.append(Text(ref));
    return out;
}

QString FileListModel::line(int row) const
{
    Flush();
    if (row < 0 || row >= m_shown)
        return QString();
    return Text(m_lines[size_t(row)]);
}

void FileListModel::SetLines(const QStringList& lines)
{
    m_pause.stop();
    beginResetModel();
    DropAll();
    for (const QString& line : lines)
        Store(line);
    m_shown = int(m_lines.size());
    endResetModel();
}

void FileListModel::Clear()
{
    SetLines({});
}

void FileListModel::Append(const QString& line)
{
    Flush();
    const int row = m_shown;
    beginInsertRows(QModelIndex(), row, row);
    Store(line);
    m_shown = int(m_lines.size());
    endInsertRows();
}

void FileListModel::AppendLines(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    for (const QString& line : lines)
        Store(line);
    ReleaseWaiting();
}

void FileListModel::AppendLatin1(const char* text, qsizetype length)
{
    LineRef ref{};
    char* at = Reserve(length, ref);
    std::memcpy(at, text, size_t(length));
    ref.length = quint32(length);
    ref.wide = 0;
    m_lines.push_back(ref);
}

void FileListModel::ReleaseWaiting()
{
    const int waiting = Waiting();
    if (waiting == 0)
        return;
    if (m_shown < kShortList || waiting * 2 >= m_shown) {
        m_pause.stop();
        Insert();
    } else {
        m_pause.start(); // restarted by every append: fires once they pause
    }
}

void FileListModel::Flush() const
{
    if (Waiting() == 0)
        return;
    // Waiting lines are part of what the model holds; showing them changes
    // no line a caller has read.
    auto* self = const_cast<FileListModel*>(this);
    self->m_pause.stop();
    self->Insert();
}

void FileListModel::Insert()
{
    const int total = int(m_lines.size());
    if (total == m_shown)
        return;
    beginInsertRows(QModelIndex(), m_shown, total - 1);
    m_shown = total;
    endInsertRows();
}

char* FileListModel::Reserve(qsizetype bytes, LineRef& ref)
{
    const qsizetype start = (m_blockUsed + 1) & ~qsizetype(1); // even: room for UTF-16
    if (m_blocks.empty() || start + bytes > kBlockBytes) {
        // A line longer than a block gets a block of its own.
        m_blocks.emplace_back(new char[size_t(std::max(bytes, kBlockBytes))]);
        m_blockUsed = bytes > kBlockBytes ? kBlockBytes : bytes;
        ref.block = quint32(m_blocks.size() - 1);
        ref.offset = 0;
        return m_blocks.back().get();
    }
    m_blockUsed = start + bytes;
    ref.block = quint32(m_blocks.size() - 1);
    ref.offset = quint32(start);
    return m_blocks.back().get() + start;
}

void FileListModel::Store(const QString& line)
{
    const qsizetype length = line.size();
    const QChar* chars = line.constData();
    const bool wide =
        std::any_of(chars, chars + length, [](QChar c) { return c.unicode() > 0xff; });
    LineRef ref{};
    char* at = Reserve(wide ? length * 2 : length, ref);
    if (wide) {
        std::memcpy(at, chars, size_t(length) * 2);
    } else {
        for (qsizetype i = 0; i < length; ++i)
            at[i] = char(chars[i].unicode());
    }
    ref.length = quint32(length);
    ref.wide = wide ? 1 : 0;
    m_lines.push_back(ref);
}

QString FileListModel::Text(const LineRef& ref) const
{
    const char* at = m_blocks[ref.block].get() + ref.offset;
    if (ref.wide)
        return QString(reinterpret_cast<const QChar*>(at), qsizetype(ref.length));
    return QString::fromLatin1(at, qsizetype(ref.length));
}

void FileListModel::DropAll()
{
    m_lines.clear();
    m_lines.shrink_to_fit();
    m_blocks.clear();
    m_blockUsed = kBlockBytes;
    m_shown = 0;
}
