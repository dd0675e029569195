// The main window's menus and the commands behind them that open the other
// windows or act on the focused text.
#include "app/TFileMgr.h"

#include "app/TAbout.h"
#include "app/THelpViewer.h"
#include "common/Dialogs.h"
#include "common/VtApplication.h"
#include "config/TSetupDlg.h"
#include "filter/TMatchForm.h"
#include "managers/TDelMgr.h"
#include "managers/TDescListForm.h"
#include "managers/TDupMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"
#include "managers/TRunHistoryForm.h"
#include "managers/TScanMgr.h"
#include "managers/TTicForm.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenuBar>
#include <QPlainTextEdit>

void TFileMgr::BuildMenus()
{
    auto item = [this](QMenu* menu, const char* name, const QString& caption,
                       const QKeySequence& shortcut, void (TFileMgr::*slot)()) {
        auto* action = menu->addAction(caption);
        action->setObjectName(QString::fromLatin1(name));
        if (!shortcut.isEmpty())
            action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));
    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("File1"));
    Exit1 = item(file, "Exit1", QStringLiteral("E&xit"), {}, &TFileMgr::Exit1Click);
    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    edit->setObjectName(QStringLiteral("Edit1"));
    Cut1 = item(edit, "Cut1", QStringLiteral("Cu&t"), QKeySequence(Qt::CTRL | Qt::Key_X),
                &TFileMgr::Cut1Click);
    Copy1 = item(edit, "Copy1", QStringLiteral("&Copy"), QKeySequence(Qt::CTRL | Qt::Key_C),
                 &TFileMgr::Copy1Click);
    Paste1 = item(edit, "Paste1", QStringLiteral("&Paste"), QKeySequence(Qt::CTRL | Qt::Key_V),
                  &TFileMgr::Paste1Click);
    SelectAll1 = item(edit, "SelectAll1", QStringLiteral("Select &All"),
                      QKeySequence(Qt::CTRL | Qt::Key_A), &TFileMgr::SelectAll1Click);
    edit->addSeparator();
    UndoLastRun1 = item(edit, "UndoLastRun1", QStringLiteral("Undo Last Run..."), {},
                        &TFileMgr::UndoLastRun1Click);
    edit->addSeparator();
    SetupFileMgr1 = item(edit, "SetupFileMgr1", QStringLiteral("&Setup File Mgr"), {},
                         &TFileMgr::SetupFileMgr1Click);
    QMenu* managers = bar->addMenu(QStringLiteral("&Managers"));
    managers->setObjectName(QStringLiteral("Managers1"));
    DeletionMgr1 = item(managers, "DeletionMgr1", QStringLiteral("&Deletion Mgr"),
                        QKeySequence(Qt::Key_F5), &TFileMgr::DeletionMgr1Click);
    MoveMgr1 = item(managers, "MoveMgr1", QStringLiteral("&Move Mgr"), QKeySequence(Qt::Key_F6),
                    &TFileMgr::MoveMgr1Click);
    FileFilterMgr1 = item(managers, "FileFilterMgr1", QStringLiteral("&File Filter Mgr"),
                          QKeySequence(Qt::Key_F7), &TFileMgr::FileFilterMgr1Click);
    FileListMgr1 = item(managers, "FileListMgr1", QStringLiteral("File &List Mgr"),
                        QKeySequence(Qt::Key_F8), &TFileMgr::FileListMgr1Click);
    DuplicateMgr1 = item(managers, "DuplicateMgr1", QStringLiteral("D&uplicate Mgr"), {},
                         &TFileMgr::DuplicateMgr1Click);
    ScanMgr1 =
        item(managers, "ScanMgr1", QStringLiteral("&Scan Mgr"), {}, &TFileMgr::ScanMgr1Click);
    managers->addSeparator();
    RunHistory1 = item(managers, "RunHistory1", QStringLiteral("Run History..."), {},
                       &TFileMgr::RunHistory1Click);
    QMenu* tools = bar->addMenu(QStringLiteral("&Tools"));
    tools->setObjectName(QStringLiteral("Tools1"));
    ViewZipFile1 = item(tools, "ViewZipFile1", QStringLiteral("&View Zip File"), {},
                        &TFileMgr::ViewZipFile1Click);
    ImportDescriptions1 =
        item(tools, "ImportDescriptions1", QStringLiteral("Import Descriptions..."), {},
             &TFileMgr::ImportDescriptions1Click);
    ExportDescriptions1 =
        item(tools, "ExportDescriptions1", QStringLiteral("Export Descriptions..."), {},
             &TFileMgr::ExportDescriptions1Click);
    AddFilesInAreaFolder1 =
        item(tools, "AddFilesInAreaFolder1", QStringLiteral("Add Files in Area Folder..."), {},
             &TFileMgr::AddFilesInAreaFolder1Click);
    ProcessTicFiles1 =
        item(tools, "ProcessTicFiles1", QStringLiteral("Process Incoming TIC Files..."), {},
             &TFileMgr::ProcessTicFiles1Click);
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    Help2 = item(help, "Help2", QStringLiteral("&Help"), QKeySequence(Qt::Key_F1),
                 &TFileMgr::Help2Click);
    AboutVTFileMgr1 = item(help, "AboutVTFileMgr1", QStringLiteral("&About VT File Mgr"), {},
                           &TFileMgr::AboutVTFileMgr1Click);
}

void TFileMgr::Exit1Click()
{
    QApplication::processEvents();
    close();
}

namespace
{
// The four edit commands act on a single-line edit (masked edits too) or
// on the memo that has the focus; otherwise they do nothing.
template <typename LineAction, typename MemoAction>
void OnFocusedText(LineAction lineAction, MemoAction memoAction)
{
    QWidget* focus = QApplication::focusWidget();
    if (auto* line = qobject_cast<QLineEdit*>(focus))
        lineAction(line);
    else if (auto* memo = qobject_cast<QPlainTextEdit*>(focus))
        memoAction(memo);
}
} // namespace

void TFileMgr::Cut1Click()
{
    OnFocusedText([](QLineEdit* e) { e->cut(); }, [](QPlainTextEdit* m) { m->cut(); });
}

void TFileMgr::Copy1Click()
{
    OnFocusedText([](QLineEdit* e) { e->copy(); }, [](QPlainTextEdit* m) { m->copy(); });
}

void TFileMgr::Paste1Click()
{
    OnFocusedText([](QLineEdit* e) { e->paste(); }, [](QPlainTextEdit* m) { m->paste(); });
}

void TFileMgr::SelectAll1Click()
{
    OnFocusedText([](QLineEdit* e) { e->selectAll(); }, [](QPlainTextEdit* m) { m->selectAll(); });
}

void TFileMgr::SetupFileMgr1Click()
{
    const RecordCodePage before = CurrentRecordCodePage();
    TSetupDlg setup(this);
    setup.exec();
    const RecordCodePage after = CurrentRecordCodePage();
    if (after == before)
        return;
    ApplyRecordTextFonts();
    Panel->ReshowTexts(before, after);
}

void TFileMgr::DeletionMgr1Click()
{
    TDelMgr w(this);
    w.exec();
}

void TFileMgr::MoveMgr1Click()
{
    TMoveMgr w(this);
    w.exec();
}

void TFileMgr::FileFilterMgr1Click()
{
    TMatchForm f(this);
    f.exec();
}

void TFileMgr::FileListMgr1Click()
{
    TFileListMgrForm w(this);
    w.exec();
}

void TFileMgr::DuplicateMgr1Click()
{
    TDupMgr w(this);
    w.exec();
}

void TFileMgr::ScanMgr1Click()
{
    TScanMgr w(this);
    w.exec();
    ReloadChosenArea(); // flags set and records moved show at once
}

void TFileMgr::UndoLastRun1Click()
{
    if (TRunHistoryForm::UndoLastRun())
        ReloadChosenArea(); // the list shows the records as they are again
}

void TFileMgr::RunHistory1Click()
{
    {
        TRunHistoryForm w(this);
        w.exec();
    }
    ReloadChosenArea();
}

void TFileMgr::ProcessTicFiles1Click()
{
    TTicForm w(this);
    w.exec();
}

void TFileMgr::ImportDescriptions1Click()
{
    TDescImportForm w(this);
    w.exec();
}

void TFileMgr::ExportDescriptions1Click()
{
    TDescExportForm w(this);
    w.exec();
}

void TFileMgr::Help2Click()
{
    if (!m_help)
        m_help = new THelpViewer(this);
    const QString path = HelpFilePath();
    if (!m_help->ShowContext(path, 100)) {
        ShowWarning(QStringLiteral("Cannot find the help file ") + path);
        return;
    }
    m_help->show();
    m_help->raise();
}

void TFileMgr::AboutVTFileMgr1Click()
{
    TAbout about(this);
    about.exec();
}
