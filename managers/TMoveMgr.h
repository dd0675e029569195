// "File Area Move Manager": moves every record (or every record that passes
// the filter) of one file area to another, optionally copying each file into
// the new area through the server first.
#pragma once

#include "managers/TBatchWindow.h"

class QCheckBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStatusBar;

class TMoveMgr : public TBatchWindow
{
    Q_OBJECT
public:
    explicit TMoveMgr(QWidget* parent = nullptr);

    QLabel* L_FromArea;
    QLabel* L_ToArea;
    QListWidget* AreaList1;
    QListWidget* AreaList2;
    QLabel* Label1;
    QLabel* L_numFiles1;
    QLabel* Label2;
    QLabel* L_NumFiles2;
    QProgressBar* ProgressBar;
    QCheckBox* cb_ApplyFilter;
    QCheckBox* cb_CountFiles;
    QPushButton* b_MoveToList2;
    QPushButton* b_Close;
    QPushButton* b_Cancel;
    QStatusBar* StatusBar1;

    // Panel 0 of the status bar.
    QString StatusText() const;

public slots:
    void FormShow() override;
    void AreaList1Click();
    void AreaList2Click();
    void cb_CountFilesClick();
    void cb_ApplyFilterClick();
    void b_MoveToList2Click();
    void b_CancelClick();
    void b_CloseClick();

signals:
    // Every text put into the status panel, as it is shown.
    void StatusTextChanged(const QString& text);

protected:
    QAbstractButton* EscapeButton() const override;

private:
    void SetStatusText(const QString& text);
    void SetRunning(bool running);
    void EndMove();
    void AdjustCounts();
    void RunMove(int source, int destination, int sourceTotal);

    QLabel* m_statusPanel;
    bool m_notMoved = false;
};
