// The main window: login for the program's lifetime, the area selector, the
// file list, the record panel (TRecordPanel), the filtered listing, and the
// menu commands that open the other windows. Its controls are built in
// TFileMgrControls.cpp, its menus and their commands in TFileMgrMenus.cpp;
// the work of its file commands lives in the widget-free runs.
#pragma once

#include "app/TFileListBox.h"
#include "app/TRecordPanel.h"
#include "common/AreaLines.h"
#include "common/StatusPanel.h"
#include "server/Records.h"
#include "server/ServerSession.h"

#include <QFont>
#include <QList>
#include <QMainWindow>
#include <QPair>
#include <QPointer>
#include <QStringList>

#include <array>
#include <functional>

class RunDelegate;

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QTimer;
class THelpViewer;
class TUnzipFile;

class TFileMgr : public QMainWindow, public StatusPanel
{
    Q_OBJECT
public:
    explicit TFileMgr(QWidget* parent = nullptr);
    ~TFileMgr() override;

    // The splash window that the first show releases.
    void SetSplash(QWidget* splash) { m_splash = splash; }

    // StatusPanel
    QString StatusText() const override;
    void SetStatusText(const QString& text) override;
    void StartClearStatus() override;

    // Login state.
    bool ContextCreated() const { return m_session.ContextCreated(); }
    bool LoggedIn() const { return m_session.LoggedIn(); }
    bool LoginToServer(void* windowHandle);
    void LogoutFromServer();

    // The record panel, built with the window; its change state is reached
    // through the names below as well.
    TRecordPanel* const Panel;

    // Panel and list helpers the file commands use.
    void ShowRecord(const FullFileRec& full);
    void ClearRecordPanel();
    bool ShowDiskState(const QString& serverPath);
    void FillAreaSelector();
    void ClearChangeFlags();
    bool StorePanelChanges(const FullFileRec& full);
    bool FreshenRecord(const FullFileRec& full);
    void ListFilteredFiles();
    // The (area, name) pair of a file list line: a line with ':' carries its
    // own area, a plain line is a name in the area shown in f_Area.
    EntryRef EntryOfLine(int row) const;
    // The line of the area selector that is chosen, -1 when the typed text
    // chooses none.
    int AreaListBoxItemIndex() const { return m_areaIndex; }
    // Chooses a selector line as the user would and runs the area change.
    void ChooseArea(int index);

    // Controls, named as the sysop's documentation and the tests know them.
    QComboBox* AreaListBox = nullptr;
    QCheckBox* cb_FileFilter = nullptr;
    QPushButton* b_freshen = nullptr;
    QPushButton* b_Move = nullptr;
    QPushButton* b_Add = nullptr;
    QPushButton* b_Delete = nullptr;
    TFileListBox* FileListBox = nullptr;
    QLineEdit* f_Area = nullptr;
    QLabel* L_FileInArea = nullptr;
    QLineEdit* FilesInArea = nullptr;
    QLabel* L_FileFound = nullptr;
    QLineEdit* f_FileName = nullptr;
    QLineEdit* f_uploader = nullptr;
    QLineEdit* f_size = nullptr;
    QLineEdit* f_FileDate = nullptr;
    QLineEdit* f_FileTime = nullptr;
    QLineEdit* f_accessDate = nullptr;
    QLineEdit* f_accessTime = nullptr;
    QLineEdit* f_downloads = nullptr;
    QLineEdit* f_cost = nullptr;
    QCheckBox* cbf_NeverDelete = nullptr;
    QCheckBox* cbf_NeverOverWrite = nullptr;
    QCheckBox* cbf_FailedScan = nullptr;
    QCheckBox* cbf_CopyBeforeDL = nullptr;
    QCheckBox* cbf_FreeFile = nullptr;
    QCheckBox* cbf_FreeTime = nullptr;
    QLineEdit* f_Password = nullptr;
    QLineEdit* f_desc = nullptr;
    QPushButton* b_ExtracFile_IS = nullptr;
    QPlainTextEdit* Long_Desc = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QTimer* FailedToLogin = nullptr;
    QTimer* ClearStatus = nullptr;

    // Menu items.
    QAction* Exit1 = nullptr;
    QAction* Cut1 = nullptr;
    QAction* Copy1 = nullptr;
    QAction* Paste1 = nullptr;
    QAction* SelectAll1 = nullptr;
    QAction* UndoLastRun1 = nullptr;
    QAction* SetupFileMgr1 = nullptr;
    QAction* DeletionMgr1 = nullptr;
    QAction* MoveMgr1 = nullptr;
    QAction* FileFilterMgr1 = nullptr;
    QAction* FileListMgr1 = nullptr;
    QAction* DuplicateMgr1 = nullptr;
    QAction* ScanMgr1 = nullptr;
    QAction* RunHistory1 = nullptr;
    QAction* ViewZipFile1 = nullptr;
    QAction* ImportDescriptions1 = nullptr;
    QAction* ExportDescriptions1 = nullptr;
    QAction* AddFilesInAreaFolder1 = nullptr;
    QAction* ProcessTicFiles1 = nullptr;
    QAction* Help2 = nullptr;
    QAction* AboutVTFileMgr1 = nullptr;

    // State other parts of the window read and write; all but the first
    // are the record panel's own.
    int ShownItemIndex = -1;
    FullFileRec& ShownRecord;
    std::array<bool, kPanelFields + 1>& FieldChanged; // index = Tag, [0] unused
    bool& RecordChanged;
    bool& PanelLoading;
    // Temporary files made during the run, deleted at exit.
    QStringList TempFileList;
    // The zip component, created by the archive commands.
    TUnzipFile* UnzipFile1 = nullptr;

signals:
    // Every text written into the status panel, in order (tests follow the
    // per-file results of a run with it).
    void StatusTextChanged(const QString& text);

public slots:
    void FormCreate();
    void FormShow();
    bool FormCloseQuery();
    void FormClose();
    void FailedToLoginTimer();
    void ClearStatusTimer();

    void Exit1Click();
    void Cut1Click();
    void Copy1Click();
    void Paste1Click();
    void SelectAll1Click();
    void SetupFileMgr1Click();
    void DeletionMgr1Click();
    void MoveMgr1Click();
    void FileFilterMgr1Click();
    void FileListMgr1Click();
    void DuplicateMgr1Click();
    void ScanMgr1Click();
    void UndoLastRun1Click();
    void RunHistory1Click();
    void Help2Click();
    void AboutVTFileMgr1Click();

    void AreaListBoxChange();
    void cb_FileFilterClick();
    void FileListBoxClick();
    void FileListBoxMouseMove();
    void FileBeenChanged(QWidget* control);
    void b_freshenClick();

    // File commands, built with the file and archive handling.
    void b_DeleteClick();
    void b_AddClick();
    void b_MoveClick();
    void ViewZipFile1Click();
    void ImportDescriptions1Click();
    void ExportDescriptions1Click();
    void AddFilesInAreaFolder1Click();
    void ProcessTicFiles1Click();
    void b_ExtracFile_ISClick();
    void AddDroppedFiles(const QStringList& paths);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // The Freshen button's two captions: Freshen, and Update while the record
    // panel holds edits.
    static const QString kFreshen;
    static const QString kUpdate;

    // Runs `work` as one journaled run named `command`, its progress text in
    // the status panel. False when the run was refused: the refusal has been
    // shown and nothing was changed.
    bool RunJournaled(const QString& command, const std::function<void(RunDelegate&)>& work);

    // TFileMgrControls.cpp: the controls and their events.
    void BuildControls();
    // TFileMgrMenus.cpp: the menus.
    void BuildMenus();
    // Reads the record of a list line; false when either read fails.
    bool ReadRecordOfLine(int row, FullFileRec& full) const;
    void ReadConfiguration();
    // Fonts of the widgets that show record texts, for the code page in use.
    void ApplyRecordTextFonts();
    void DrawStatus();
    // Lists the area chosen in the selector again (plain listing).
    void ReloadChosenArea();
    // The current list entry when it names a zip archive that exists on the
    // server; false (after the message where there is one) otherwise.
    // `anyArchive`: any selected name, not only a zip name (the archive's
    // kind is then told by its bytes).
    bool CurrentZipEntry(EntryRef& entry, QString& serverPath, bool anyArchive = false);
    void AddDroppedFilesNow(const QStringList& paths);

    QPointer<QWidget> m_splash;
    QPointer<THelpViewer> m_help;
    ServerSession m_session;
    bool m_shown = false;
    bool m_closed = false;
    int m_areaIndex = -1;
    QList<QPair<QWidget*, QFont>> m_recordFonts; // each widget's own font
    // Bumped whenever the file list is rebuilt, so that a filtered listing
    // interrupted by a nested rebuild never writes into the new list.
    quint64 m_listGeneration = 0;
};
