// The lines of the main window's file list behind a list view with uniform
// line heights: an area of 100,000 records lists in milliseconds, where a
// widget list that measures every item takes seconds.
//
// The lines are kept as characters in large blocks, with a small fixed
// entry per line; a line's string is made only when it is read or drawn.
// A listing of a million records then costs about 30 bytes a line and no
// allocation per line. Lines whose characters all lie within Latin-1 (file
// names, area lines) take one byte a character.
//
// The view lays out all its lines each time lines are inserted. Lines
// appended while a list grows are therefore shown in batches that grow with
// the list: a batch joins the view at once while the list is short,
// otherwise once it is half as long as what the view shows, or when appends
// pause for a moment. Laying out a list of n lines then costs about 2n in
// all instead of n per extension. Every count and line read through this
// class includes the lines still waiting: they join the view first.
#pragma once

#include <QAbstractListModel>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <memory>
#include <vector>

class FileListModel : public QAbstractListModel
{
    Q_OBJECT
public:
    explicit FileListModel(QObject* parent = nullptr);

    // Lines the view shows (without lines still waiting).
    int rowCount(const QModelIndex& parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : m_shown;
    }
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Every line, made anew on each call.
    QStringList lines() const;
    int count() const
    {
        Flush();
        return m_shown;
    }
    QString line(int row) const;

    // Replaces every line at once (one model reset).
    void SetLines(const QStringList& lines);
    void Clear();
    void Append(const QString& line);
    // Appends a batch of lines; they join the view in growing batches (see
    // above).
    void AppendLines(const QStringList& lines);
    // Appends one line of Latin-1 characters without making a string; it
    // waits until ReleaseWaiting, the pause or a read lets it join.
    void AppendLatin1(const char* text, qsizetype length);
    // Lets the lines appended so far join the view in growing batches.
    void ReleaseWaiting();
    // Lets every waiting line join the view now.
    void Flush() const;
    // Lines appended that the view does not show yet.
    int Waiting() const { return int(m_lines.size()) - m_shown; }

    // A list shorter than this takes appended lines at once.
    static constexpr int kShortList = 1000;
    // Waiting lines join the view when appends pause this long.
    static constexpr int kPauseMs = 300;

private:
    // Where a line's characters are: a block, the byte offset in it, the
    // number of characters, and whether they take two bytes each.
    struct LineRef {
        quint32 block;
        quint32 offset;
        quint32 length : 31;
        quint32 wide : 1;
    };
    static constexpr qsizetype kBlockBytes = qsizetype(1) << 16;

    // Room for `bytes` bytes (even offset) in the last block; a new block
    // when they do not fit.
    char* Reserve(qsizetype bytes, LineRef& ref);
    void Store(const QString& line);
    QString Text(const LineRef& ref) const;
    void DropAll();
    void Insert();

    std::vector<std::unique_ptr<char[]>> m_blocks;
    qsizetype m_blockUsed = kBlockBytes; // bytes used in the last block
    std::deque<LineRef> m_lines;         // shown lines first, then waiting ones
    int m_shown = 0;
    QTimer m_pause;
};
