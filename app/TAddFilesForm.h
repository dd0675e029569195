// The window of "Add Files in Area Folder...": the areas to look in (the
// current one chosen), the preview of what will be added and refused, and
// Add or Cancel; the preview and the add show their progress and stop on
// Stop.
#pragma once

#include "app/AddFilesRun.h"

#include <QDialog>

class QListWidget;
class QProgressBar;
class QPushButton;
class TUnzipFile;

class TAddFilesForm : public QDialog
{
    Q_OBJECT
public:
    TAddFilesForm(QWidget* parent, int currentArea, TUnzipFile* unzip);

    QListWidget* AreaList = nullptr;
    QListWidget* PreviewList = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    QPushButton* b_Preview = nullptr;
    QPushButton* b_Add = nullptr;
    QPushButton* b_Stop = nullptr;
    QPushButton* b_Cancel = nullptr;

    // The areas checked in AreaList.
    QList<int> CheckedAreas() const;

public slots:
    void b_PreviewClick();
    void b_AddClick();
    void b_StopClick() { m_stop = true; }
    // While a run goes on, Cancel and the close box ask it to stop.
    void reject() override;

private:
    AddFilesResult Run(AddFilesOptions& options);

    TUnzipFile* m_unzip;
    bool m_stop = false;
    bool m_running = false;
};
