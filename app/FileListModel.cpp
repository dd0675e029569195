#include "app/FileListModel.h"

FileListModel::FileListModel(QObject* parent) : QAbstractListModel(parent)
{
    m_pause.setSingleShot(true);
    m_pause.setInterval(kPauseMs);
    connect(&m_pause, &QTimer::timeout, this, [this] { Flush(); });
}

QVariant FileListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_lines.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return m_lines.at(index.row());
    return {};
}

void FileListModel::SetLines(QStringList lines)
{
    m_pause.stop();
    m_waiting.clear();
    beginResetModel();
    m_lines = std::move(lines);
    endResetModel();
}

void FileListModel::Append(const QString& line)
{
    Flush();
    const int row = int(m_lines.size());
    beginInsertRows(QModelIndex(), row, row);
    m_lines.append(line);
    endInsertRows();
}

void FileListModel::AppendLines(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    m_waiting.append(lines);
    if (m_lines.size() < kShortList || m_waiting.size() * 2 >= m_lines.size()) {
        m_pause.stop();
        Insert(m_waiting);
    } else {
        m_pause.start(); // restarted by every append: fires once they pause
    }
}

void FileListModel::Flush() const
{
    if (m_waiting.isEmpty())
        return;
    // Waiting lines are part of what the model holds; showing them changes
    // no line a caller has read.
    auto* self = const_cast<FileListModel*>(this);
    self->m_pause.stop();
    self->Insert(m_waiting);
}

void FileListModel::Insert(QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const int row = int(m_lines.size());
    beginInsertRows(QModelIndex(), row, row + int(lines.size()) - 1);
    if (m_lines.isEmpty())
        m_lines = std::move(lines);
    else
        m_lines.append(lines);
    endInsertRows();
    lines.clear();
}
