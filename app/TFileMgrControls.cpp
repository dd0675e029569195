// The main window's controls and their events.
#include "app/TFileMgr.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>
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
