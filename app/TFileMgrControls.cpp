// The main window's controls and their events, and files dropped on it.
#include "app/TFileMgr.h"

#include "app/DropFilesRun.h"
#include "archive/DescriptionImport.h"
#include "archive/TUnzipFile.h"
#include "common/Dialogs.h"
#include "common/Text.h"
#include "common/VtApplication.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

void TFileMgr::BuildControls()
{
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("Panel1"));
    setCentralWidget(central);
    auto* outer = new QVBoxLayout(central);
    outer->setContentsMargins(2, 2, 2, 2);
    outer->setSpacing(2);

    // Top bar.
    auto* top = new QHBoxLayout;
    top->setSpacing(4);
    AreaListBox = new QComboBox(central);
    AreaListBox->setObjectName(QStringLiteral("AreaListBox"));
    AreaListBox->setEditable(true);
    AreaListBox->setInsertPolicy(QComboBox::NoInsert);
    AreaListBox->setMaxVisibleItems(15);
    AreaListBox->setMinimumContentsLength(18);
    AreaListBox->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    top->addWidget(AreaListBox, 1);
    cb_FileFilter = new QCheckBox(QStringLiteral("File Filter ON"), central);
    cb_FileFilter->setObjectName(QStringLiteral("cb_FileFilter"));
    cb_FileFilter->setLayoutDirection(Qt::RightToLeft); // caption left of the box
    top->addWidget(cb_FileFilter);
    b_freshen = new QPushButton(kFreshen, central);
    b_freshen->setObjectName(QStringLiteral("b_freshen"));
    b_Move = new QPushButton(QStringLiteral("Mo&ve"), central);
    b_Move->setObjectName(QStringLiteral("b_Move"));
    b_Add = new QPushButton(QStringLiteral("&Add"), central);
    b_Add->setObjectName(QStringLiteral("b_Add"));
    b_Delete = new QPushButton(QStringLiteral("&Delete"), central);
    b_Delete->setObjectName(QStringLiteral("b_Delete"));
    for (QPushButton* b : {b_freshen, b_Move, b_Add, b_Delete}) {
        b->setAutoDefault(false);
        b->setFixedWidth(62);
        top->addWidget(b);
    }
    outer->addLayout(top);

    auto* body = new QHBoxLayout;
    body->setSpacing(4);
    outer->addLayout(body, 1);

    // Left: the file list, full height.
    FileListBox = new TFileListBox(central);
    FileListBox->setObjectName(QStringLiteral("FileListBox"));
    FileListBox->setFixedWidth(170);
    body->addWidget(FileListBox);

    // Right: the record panel (TRecordPanel.cpp builds its fields). The
    // window's names of its controls are the panel's.
    body->addWidget(Panel, 1);
    f_Area = Panel->f_Area;
    L_FileInArea = Panel->L_FileInArea;
    FilesInArea = Panel->FilesInArea;
    L_FileFound = Panel->L_FileFound;
    f_FileName = Panel->f_FileName;
    f_uploader = Panel->f_uploader;
    f_size = Panel->f_size;
    f_FileDate = Panel->f_FileDate;
    f_FileTime = Panel->f_FileTime;
    f_accessDate = Panel->f_accessDate;
    f_accessTime = Panel->f_accessTime;
    f_downloads = Panel->f_downloads;
    f_cost = Panel->f_cost;
    cbf_NeverDelete = Panel->cbf_NeverDelete;
    cbf_NeverOverWrite = Panel->cbf_NeverOverWrite;
    cbf_FailedScan = Panel->cbf_FailedScan;
    cbf_CopyBeforeDL = Panel->cbf_CopyBeforeDL;
    cbf_FreeFile = Panel->cbf_FreeFile;
    cbf_FreeTime = Panel->cbf_FreeTime;
    f_Password = Panel->f_Password;
    f_desc = Panel->f_desc;
    b_ExtracFile_IS = Panel->b_ExtracFile_IS;
    Long_Desc = Panel->Long_Desc;

    // Bottom: one status panel 500 wide.
    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusPanel0 = new QLabel(StatusBar1);
    StatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
    StatusPanel0->setTextFormat(Qt::PlainText); // names are shown as they are
    StatusPanel0->setFixedWidth(500);
    StatusBar1->addWidget(StatusPanel0);
    setStatusBar(StatusBar1);

    FailedToLogin = new QTimer(this);
    FailedToLogin->setObjectName(QStringLiteral("FailedToLogin"));
    FailedToLogin->setInterval(1500);
    ClearStatus = new QTimer(this);
    ClearStatus->setObjectName(QStringLiteral("ClearStatus"));
    ClearStatus->setInterval(1000);
    connect(FailedToLogin, &QTimer::timeout, this, &TFileMgr::FailedToLoginTimer);
    connect(ClearStatus, &QTimer::timeout, this, &TFileMgr::ClearStatusTimer);

    // The selector's change event: a line chosen from the list, or the text
    // typed by the user (never the program's own changes of the text).
    connect(AreaListBox, &QComboBox::activated, this, [this](int index) {
        m_areaIndex = index;
        AreaListBoxChange();
    });
    connect(AreaListBox->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        m_areaIndex = AreaListBox->findText(text, Qt::MatchExactly);
        AreaListBoxChange();
    });
    connect(cb_FileFilter, &QCheckBox::clicked, this, &TFileMgr::cb_FileFilterClick);
    connect(FileListBox, &TFileListBox::Click, this, &TFileMgr::FileListBoxClick);
    connect(FileListBox, &TFileListBox::MouseMove, this, &TFileMgr::FileListBoxMouseMove);
    connect(b_freshen, &QPushButton::clicked, this, &TFileMgr::b_freshenClick);
    connect(b_Delete, &QPushButton::clicked, this, &TFileMgr::b_DeleteClick);
    connect(b_Add, &QPushButton::clicked, this, &TFileMgr::b_AddClick);
    connect(b_Move, &QPushButton::clicked, this, &TFileMgr::b_MoveClick);
    connect(b_ExtracFile_IS, &QPushButton::clicked, this, &TFileMgr::b_ExtracFile_ISClick);
    // An edit in the panel turns Freshen into Update.
    connect(Panel, &TRecordPanel::Changed, this, [this]() { b_freshen->setText(kUpdate); });

    setTabOrder(AreaListBox, cb_FileFilter);
    AreaListBox->setFocus();
}

// ---------------------------------------------------------------- dropping

void TFileMgr::AddDroppedFiles(const QStringList& paths)
{
    // An error raised while the files are handled (a temporary folder that
    // can't be made during the description import) ends this drop only.
    RunCommand([&]() { AddDroppedFilesNow(paths); });
}

void TFileMgr::AddDroppedFilesNow(const QStringList& paths)
{
    const QString selector = AreaListBox->currentText();
    const qsizetype colon = selector.indexOf(u':');
    int area = 0;
    // Areas are numbered from 1: anything else names no area.
    if (colon < 0 || !TryStrToInt(selector.left(colon), area) || area < 1) {
        ShowWarning(QStringLiteral("You must select a file area before adding files."));
        return;
    }
    DropFilesOptions options;
    options.area = area;
    options.paths = paths;
    options.importDescription = [this](const QString& path, FullFileRec& full) {
        ImportDescription(*UnzipFile1, path, full, this);
    };
    options.added = [this](const QString& name) { FileListBox->Lines()->Append(name); };
    RunJournaled(QStringLiteral("window drop: %1 files into area %2").arg(paths.size()).arg(area),
                 [&](RunDelegate& delegate) { RunDropFiles(options, delegate); });
}

void TFileMgr::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TFileMgr::dropEvent(QDropEvent* event)
{
    // A file whose name is not UTF-8 is named and left out; the others are
    // added.
    QStringList refused;
    const QStringList paths = DroppedLocalPaths(event->mimeData()->urls(), refused);
    for (const QString& name : std::as_const(refused))
        ShowInformation(QStringLiteral("File: ") + name +
                        QStringLiteral(" can't be added: its name is not UTF-8."));
    event->acceptProposedAction();
    if (!paths.isEmpty())
        AddDroppedFiles(paths);
}
