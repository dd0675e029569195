// "Scan Manager": scans the records' files of chosen file areas with the
// virus scanner daemon and the archive test (the scan run, ScanRun.h),
// lists what it finds, and with "Set Failed Scan" marks infected and
// damaged records (optionally clearing clean ones, and moving infected ones
// to a quarantine area) in one journaled run. Without it nothing changes.
// Progress shows the bytes read per second.
#pragma once

#include "managers/ScanRun.h"
#include "managers/TBatchWindow.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTreeWidget;

class TScanMgr : public TBatchWindow
{
    Q_OBJECT
public:
    explicit TScanMgr(QWidget* parent = nullptr);

    // Columns of the findings list.
    enum Column { ColArea, ColName, ColOutcome, ColDetail, ColAction, ColCount };

    QString StatusText() const;
    // The last scan's result (empty before the first scan).
    const ScanResult& LastScan() const { return m_scan; }

public slots:
    void FormShow() override;
    void b_StartClick();
    void b_StopClick();
    void b_CloseClick();

protected:
    QAbstractButton* EscapeButton() const override;

private:
    void SetRunning(bool running);
    void AddLine(const RunItem& item);
    ScanOptions Options() const;

    QListWidget* AreaList;
    QCheckBox* cb_ApplyFilter;
    QCheckBox* cb_SetFlags;
    QCheckBox* cb_ClearPassed;
    QCheckBox* cb_Quarantine;
    QComboBox* cb_QuarantineArea;
    QLineEdit* e_ClamdSocket;
    QPushButton* b_Start;
    QPushButton* b_Stop;
    QPushButton* b_Close;
    QTreeWidget* FindingList;
    QLabel* L_Summary;
    QProgressBar* ProgressBar;
    QStatusBar* StatusBar;
    QLabel* m_statusPanel;
    ScanResult m_scan;
};
