// The lines of the main window's file list. A plain string list behind a
// list view with uniform line heights: an area of 100,000 records lists in
// milliseconds, where a widget list that measures every item takes seconds.
#pragma once

#include <QAbstractListModel>
#include <QStringList>

class FileListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_lines.size());
    }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const QStringList& lines() const { return m_lines; }
    int count() const { return int(m_lines.size()); }
    QString line(int row) const { return m_lines.value(row); }

    // Replaces every line at once (one model reset).
    void SetLines(QStringList lines);
    void Clear() { SetLines({}); }
    void Append(const QString& line);
    // Appends a batch of lines with one insertion.
    void AppendLines(const QStringList& lines);

private:
    QStringList m_lines;
};
