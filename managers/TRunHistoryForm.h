// "Run History": the runs of the journal, newest first, and the changes of
// the chosen run; Undo shows what undoing it would do (a dry run, with the
// changes made since that stay as they are) and undoes it when confirmed.
// The work lies in server/RunJournal; this window asks and shows.
#pragma once

#include <QDialog>

#include <cstdint>

class QLabel;
class QPushButton;
class QTreeWidget;

class TRunHistoryForm : public QDialog
{
    Q_OBJECT
public:
    explicit TRunHistoryForm(QWidget* parent = nullptr);

    // The run whose changes are shown (0: none).
    uint32_t ChosenRun() const { return m_chosen; }
    // Shows the runs again, keeping the chosen one when it is still listed.
    void Refresh();

    // The undo of one run as Undo and "Undo Last Run..." do it: the preview
    // as a question (No by default), then the undo and its outcome as a
    // message. True when the run was undone (conflicts or not).
    static bool UndoWithPreview(uint32_t run);
    // "Undo Last Run...": the newest run that is neither undone nor an undo,
    // or a message that there is none.
    static bool UndoLastRun();

public slots:
    void RunTreeSelectionChanged();
    void b_UndoClick();

private:
    void ShowEntries(uint32_t run);

    QTreeWidget* RunTree;
    QTreeWidget* EntryTree;
    QLabel* L_Summary;
    QPushButton* b_Undo;
    QPushButton* b_Refresh;
    QPushButton* b_Close;
    uint32_t m_chosen = 0;
};
