// The lines of the main window's file list. A plain string list behind a
// list view with uniform line heights: an area of 100,000 records lists in
// milliseconds, where a widget list that measures every item takes seconds.
//
// The view lays out all its lines each time lines are inserted. Lines
// appended while a list grows (AppendLines) are therefore shown in batches
// that grow with the list: a batch joins the view at once while the list is
// short, otherwise once it is half as long as what the view shows, or when
// appends pause for a moment. Laying out a list of n lines then costs about
// 2n in all instead of n per extension. Every count and line read through
// this class includes the lines still waiting: they join the view first.
#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QTimer>

class FileListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit FileListModel(QObject* parent = nullptr);

    // Lines the view shows (without lines still waiting).
    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_lines.size());
    }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    const QStringList& lines() const
    {
        Flush();
        return m_lines;
    }
    int count() const
    {
        Flush();
        return int(m_lines.size());
    }
    QString line(int row) const
    {
        Flush();
        return m_lines.value(row);
    }

    // Replaces every line at once (one model reset).
    void SetLines(QStringList lines);
    void Clear() { SetLines({}); }
    void Append(const QString& line);
    // Appends a batch of lines; they join the view in growing batches (see
    // above).
    void AppendLines(const QStringList& lines);
    // Lets every waiting line join the view now.
    void Flush() const;
    // Lines appended that the view does not show yet.
    int Waiting() const { return int(m_waiting.size()); }

    // A list shorter than this takes appended lines at once.
    static constexpr int kShortList = 1000;
    // Waiting lines join the view when appends pause this long.
    static constexpr int kPauseMs = 300;

private:
    void Insert(QStringList& lines);

    QStringList m_lines;
    mutable QStringList m_waiting;
    QTimer m_pause;
};
