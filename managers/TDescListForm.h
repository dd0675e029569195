// The windows of the description lists: the import of a FILES.BBS or
// DESCRIPT.ION list into one area (a preview first, written on Import) and
// the export of areas' lists into a folder.
#pragma once

#include "archive/DescriptionListRun.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;
class QTreeWidget;

class TDescImportForm : public QDialog
{
    Q_OBJECT
public:
    explicit TDescImportForm(QWidget* parent = nullptr);

    QComboBox* AreaBox = nullptr;
    QLineEdit* ListFileEdit = nullptr;
    QPushButton* BrowseButton = nullptr;
    QCheckBox* AddCheck = nullptr;
    QPushButton* PreviewButton = nullptr;
    QTreeWidget* PreviewList = nullptr; // line, record, text
    QListWidget* ProblemList = nullptr; // unknown names, unreadable lines
    QLabel* CutsLabel = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QPushButton* ImportButton = nullptr;
    QPushButton* CancelButton = nullptr;

    void BrowseButtonClick();
    void PreviewButtonClick();
    void ImportButtonClick();
    // While a run goes on, Cancel and the close box ask it to stop.
    void reject() override;

private:
    DescriptionImportResult Run(const DescriptionImportOptions& options, QStringList& warnings);

    // The options of the preview shown; Import writes exactly these.
    DescriptionImportOptions m_previewed;
    bool m_stop = false;
    bool m_running = false;
};

class TDescExportForm : public QDialog
{
    Q_OBJECT
public:
    explicit TDescExportForm(QWidget* parent = nullptr);

    QListWidget* AreaList = nullptr; // checkable area lines
    QComboBox* FormatBox = nullptr;  // "FILES.BBS", "DESCRIPT.ION"
    QLineEdit* FolderEdit = nullptr;
    QProgressBar* ProgressBar = nullptr;
    QPushButton* ExportButton = nullptr;
    QPushButton* CancelButton = nullptr;

    void ExportButtonClick();
    // While the export goes on, Cancel and the close box ask it to stop.
    void reject() override;

private:
    bool m_stop = false;
    bool m_running = false;
};
