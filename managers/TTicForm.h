// "Process Incoming TIC Files": the preview of every TIC in the inbound
// folder (TIC, echo, area, file, action, reason) as a dry run of the intake
// decides it, and "Process", which runs the intake as one journaled run and
// shows what became of each TIC. "Cancel" closes the window, or stops a run
// between two TICs. The settings are those of vuru.cfg's "File Echoes".
#pragma once

#include "common/TicSettings.h"
#include "managers/TBatchWindow.h"
#include "managers/TicRun.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class TTicForm : public TBatchWindow
{
    Q_OBJECT
public:
    explicit TTicForm(QWidget* parent = nullptr);

    // Columns of the list.
    enum Column { ColTic, ColEcho, ColArea, ColFile, ColAction, ColReason, ColCount };

    // The rows shown: the preview's, or after Process the run's.
    const QList<TicRow>& Rows() const { return m_rows; }
    bool Processed() const { return m_processed; }
    QString SummaryText() const;

public slots:
    void FormShow() override;
    void b_ProcessClick();
    void b_CancelClick();

protected:
    QAbstractButton* EscapeButton() const override;

private:
    // Reads the settings; false (the problem shown) when the intake can't run.
    bool ReadSettings();
    void ShowRows(const QList<TicRow>& rows, const TicRunResult& result, bool dryRun);

    QLabel* L_Inbound;
    QTreeWidget* TicList;
    QLabel* L_Summary;
    QProgressBar* ProgressBar;
    QPushButton* b_Process;
    QPushButton* b_Cancel;

    TicSettings m_settings;
    QList<TicRow> m_rows;
    bool m_processed = false;
};
