#include "app/FileListModel.h"

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
    beginResetModel();
    m_lines = std::move(lines);
    endResetModel();
}

void FileListModel::Append(const QString& line)
{
    const int row = int(m_lines.size());
    beginInsertRows(QModelIndex(), row, row);
    m_lines.append(line);
    endInsertRows();
}

void FileListModel::AppendLines(const QStringList& lines)
{
    if (lines.isEmpty())
        return;
    const int row = int(m_lines.size());
    beginInsertRows(QModelIndex(), row, row + int(lines.size()) - 1);
    m_lines.append(lines);
    endInsertRows();
}
