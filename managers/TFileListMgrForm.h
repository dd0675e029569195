// "File List Manager": writes a plain-text list of the file records of the
// chosen areas (optionally only those that pass the filter), one block of
// fixed 80-column lines per area, CR LF line ends, 8-bit text.
#pragma once

#include "managers/FileListRun.h"
#include "server/Records.h"

#include "managers/TBatchWindow.h"
#include <QByteArray>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QStatusBar;

class TFileListMgrForm : public TBatchWindow
{
    Q_OBJECT
public:
    explicit TFileListMgrForm(QWidget* parent = nullptr);

    QListWidget* AreaListBox;
    QLabel* Label1;
    QLineEdit* e_OutputFile;
    QPushButton* b_BrowseZipFile;
    QGroupBox* gb_FilterOptions;
    QLineEdit* e_FilterFile;
    QCheckBox* cb_ApplyFilter;
    QPushButton* b_SetFilter;
    QGroupBox* gb_FileAreas;
    QPushButton* b_SelectAll;
    QPushButton* b_DeselectAll;
    QPushButton* b_MakeFileList;
    QPushButton* b_Close;
    QGroupBox* gb_Progress;
    QProgressBar* ProgressBar1;
    QLabel* Label2;
    QLineEdit* e_FileArea;
    QLabel* Label3;
    QLineEdit* e_FilesIncluded;
    QLabel* Label4;
    QLineEdit* e_TotalFilesIncluded;
    QStatusBar* StatusBar1;

public slots:
    void FormShow() override;
    void b_BrowseZipFileClick();
    void b_SetFilterClick();
    void b_SelectAllClick();
    void b_DeselectAllClick();
    void b_CloseClick();
    void b_MakeFileListClick();

private:
    void SetRunning(bool running);
    void ShowCounts(long areaCount, long total);
    void EndRun();
};
