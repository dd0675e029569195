// "Set Match Criteria": edits CurrentSearchRecord, saves and loads ".FMS" files.
//
// Opened modally by the main window (F7) and by the batch managers:
//     TMatchForm form(this);
//     form.exec();   // QDialog::Accepted after OK
// OK sets FilterDefined and commits the controls into CurrentSearchRecord;
// Cancel commits nothing (a Save or Load in that opening already did).
// Every opening empties SearchRecordFileName; a Save or Load sets it to the
// full path of the ".FMS" file.
#pragma once

#include "filter/SearchRecord.h"
#include "server/Records.h"

#include <QDialog>
#include <QList>

#include <optional>

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStatusBar;

// The window's edit copy of the search record's template; outlives the window.
extern FullFileRec EditTemplate;

// The criteria this window keeps for the whole program, as the filter a run
// is given: empty when `apply` is false.
std::optional<SearchRecord> CurrentFilterIf(bool apply);

class TMatchForm : public QDialog
{
    Q_OBJECT
public:
    explicit TMatchForm(QWidget* parent = nullptr);
    ~TMatchForm() override;

    // The status bar's single panel.
    QString StatusText() const;

public slots:
    void FormShow();
    void bs_ClearClick();
    void bs_OkClick();
    void bs_SaveClick();
    void bs_LoadClick();

public:
    // Template values from EditTemplate, area and operators from CurrentSearchRecord.
    void FillControls();
    // ReadControls, then the template, area, operators and UploaderText into
    // CurrentSearchRecord. A number beyond the integer range throws
    // ConversionError and stops the commit at that field.
    void CommitCriteria();
    // The controls into EditTemplate, field by field.
    void ReadControls();
    // True when the file was written (or read) completely.
    bool SaveSearchRecord();
    bool LoadSearchRecord();

protected:
    void showEvent(QShowEvent* event) override;

private:
    QPushButton* bs_Save;
    QPushButton* bs_Load;
    QPushButton* bs_Clear;
    QPushButton* bs_Ok;
    QPushButton* bs_Cancel;
    QLineEdit* f_FileName;
    QComboBox* cb_FileArea;
    QLineEdit* f_size;
    QComboBox* cbs_FileSize;
    QLineEdit* f_FileDate;
    QLineEdit* f_FileTime;
    QComboBox* cbs_FileDate;
    QLineEdit* f_downloads;
    QComboBox* cbs_Downloads;
    QLineEdit* f_cost;
    QComboBox* cbs_Cost;
    QLineEdit* f_accessDate;
    QLineEdit* f_accessTime;
    QComboBox* cbs_AccessDate;
    QComboBox* cbs_NeverDelete;
    QComboBox* cbs_NeverOverwrite;
    QComboBox* cbs_FailedScan;
    QComboBox* cbs_CopyBefore;
    QComboBox* cbs_FreeFile;
    QComboBox* cbs_FreeTime;
    QComboBox* cbs_ExistOnDisk;
    QLineEdit* f_Password;
    QComboBox* cb_Uploader;
    QLineEdit* f_desc;
    QComboBox* cbs_HasLongDesc;
    QComboBox* cbs_hasPassword;
    QStatusBar* StatusBar1;
    QLabel* m_statusPanel;

    void SetStatusText(const QString& text);
    // The selector/flag pairs between controls and CurrentSearchRecord.
    struct OpBinding {
        QComboBox* box;
        int32_t* field;
        bool flag;
    };
    QList<OpBinding> OpBindings() const;
};
