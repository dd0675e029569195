// "File Area Deletion Manager": deletes every record (or every record that
// passes the filter) of the chosen file areas in one run, optionally with
// the files on disk.
#pragma once

#include "managers/TBatchWindow.h"

#include <memory>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QListWidget;
class QMouseEvent;
class QProgressBar;
class QPushButton;
class QStatusBar;
class TSplitControl;

class TDelMgr : public TBatchWindow
{
    Q_OBJECT
public:
    explicit TDelMgr(QWidget* parent = nullptr);
    ~TDelMgr() override;

    QListWidget* AreaList;
    QFrame* Splitter;
    QFrame* Panel2;
    QGroupBox* GroupBox1;
    QLabel* L_numAreas;
    QGroupBox* GroupBox2;
    QLabel* L_numFiles;
    QCheckBox* cb_CountFiles;
    QGroupBox* GroupBox3;
    QCheckBox* cb_ApplyFilter;
    QCheckBox* cb_PromptFirst;
    QPushButton* b_Delete;
    QPushButton* b_Close;
    QPushButton* Button1;
    QPushButton* del_Cancel;
    QProgressBar* ProgressBar;
    QStatusBar* StatusBar;

    // Panel 0 of the status bar.
    QString StatusText() const;
    TSplitControl* SplitControl() const { return m_split.get(); }

public slots:
    void FormShow() override;
    void AreaListClick();
    void cb_CountFilesClick();
    void cb_ApplyFilterClick();
    void b_DeleteClick();
    void del_CancelClick();
    void b_CloseClick();
    void SplitterMouseDown(QMouseEvent* event);
    void SplitterMouseMove(QMouseEvent* event);
    void SplitterMouseUp(QMouseEvent* event);

protected:
    QAbstractButton* EscapeButton() const override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetStatusText(const QString& text);
    void SetRunning(bool running);
    void CountFiles();
    void RunDeletion(bool deleteFromDisk);

    QLabel* m_statusPanel;
    std::unique_ptr<TSplitControl> m_split;
    bool m_counting = false;
    bool m_recount = false;
};
