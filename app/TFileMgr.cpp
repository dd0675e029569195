#include "app/TFileMgr.h"

#include "app/DeleteFilesRun.h"
#include "app/DropFilesRun.h"
#include "app/FilteredListingRun.h"
#include "app/MoveFilesRun.h"
#include "app/RecordRun.h"
#include "app/TAbout.h"
#include "app/TAddFilesForm.h"
#include "app/THelpViewer.h"
#include "archive/ArchiveKind.h"
#include "archive/DescriptionImport.h"
#include "archive/TUnzipFile.h"
#include "common/AppError.h"
#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/FileUtils.h"
#include "common/Launch.h"
#include "common/Text.h"
#include "common/VtApplication.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "config/TSetupDlg.h"
#include "filter/DateTime.h"
#include "filter/Matching.h"
#include "filter/SearchRecord.h"
#include "filter/TMatchForm.h"
#include "managers/CopyServerFile.h"
#include "managers/TDescListForm.h"
#include "managers/WindowRunDelegate.h"
#include "server/AreaFiles.h"
#include "server/FileAreas.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include "managers/TChooseFileAreaForm.h"
#include "managers/TDelMgr.h"
#include "managers/TDupMgr.h"
#include "managers/TFileListMgrForm.h"
#include "managers/TMoveMgr.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace
{

const QString kFreshen = QStringLiteral("F&reshen");
const QString kUpdate = QStringLiteral("&Update");
const QString kPendingChanges =
    QStringLiteral("Update File Record with changes before continuing?");

// Masked edits are read with each unfilled position as a blank, so the text
// has its full width and its separators in place.
QString MaskedText(const QLineEdit* edit)
{
    QString text = edit->displayText();
    text.replace(u'_', u' ');
    return text;
}

// A date and time field pair into a record time. With only the time field
// edited the stored day stays as it is: the date field shows two year digits,
// which bring back no year outside 1980-2079 (a dropped file's LastAccessed 0
// shows 01/01/01 and would come back as 2001).
bool PanelTimeInto(const QLineEdit* date, const QLineEdit* time, bool dateEdited, FILETIME& ft)
{
    if (dateEdited)
        return MaskedTextToFileTime(MaskedText(date), MaskedText(time), ft);
    return MaskedTimeOnDay(ft, MaskedText(time), ft);
}

QLabel* MakeLabel(const QString& caption, QWidget* parent)
{
    auto* label = new QLabel(caption, parent);
    return label;
}

// The archive kind a server file's first bytes show; Unknown when it can't
// be read.
ArchiveKind ServerFileArchiveKind(const QString& serverPath)
{
    const WcHandle handle = WcCreateFile(ToBytes(serverPath).constData(), WC_GENERIC_READ,
                                         WC_SHARE_READ, WC_OPEN_EXISTING);
    if (!handle)
        return ArchiveKind::Unknown;
    QByteArray head(ArchiveProbeBytes, '\0');
    qsizetype have = 0;
    while (have < head.size()) {
        uint32_t done = 0;
        if (!WcReadFile(handle, head.data() + have, uint32_t(head.size() - have), &done) ||
            done == 0)
            break;
        have += qsizetype(done);
    }
    WcCloseHandle(handle);
    head.truncate(have);
    return DetectArchiveKind(head);
}

} // namespace

TFileMgr::TFileMgr(QWidget* parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("FileMgr"));
    setWindowTitle(QStringLiteral("Vantrel File Manager"));
    resize(556, 460);
    BuildControls();
    BuildMenus();
    TrackChanges();
    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    FormCreate();
}

TFileMgr::~TFileMgr()
{
    // A window destroyed without being closed (tests) still ends its login.
    if (!m_closed)
        LogoutFromServer();
}

// ---------------------------------------------------------------- controls

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

    // Right: the record panel.
    auto* panel = new QWidget(central);
    panel->setObjectName(QStringLiteral("RecordPanel"));
    auto* grid = new QGridLayout(panel);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);
    body->addWidget(panel, 1);

    auto edit = [panel](const char* name, int maxLength = 0) {
        auto* e = new QLineEdit(panel);
        e->setObjectName(QString::fromLatin1(name));
        if (maxLength > 0)
            e->setMaxLength(maxLength);
        return e;
    };
    auto masked = [panel](const char* name, const QString& mask, const QString& initial) {
        auto* e = new QLineEdit(panel);
        e->setObjectName(QString::fromLatin1(name));
        e->setInputMask(mask);
        e->setText(initial);
        e->setFixedWidth(72);
        return e;
    };
    auto check = [panel](const char* name, const QString& caption) {
        auto* c = new QCheckBox(caption, panel);
        c->setObjectName(QString::fromLatin1(name));
        return c;
    };

    int row = 0;
    f_Area = edit("f_Area");
    f_Area->setReadOnly(true);
    f_Area->setFixedWidth(60);
    L_FileInArea = MakeLabel(QStringLiteral("Total Files in Area:"), panel);
    L_FileInArea->setObjectName(QStringLiteral("L_FileInArea"));
    FilesInArea = edit("FilesInArea");
    FilesInArea->setReadOnly(true);
    FilesInArea->setFixedWidth(70);
    auto* areaRow = new QHBoxLayout;
    areaRow->addWidget(MakeLabel(QStringLiteral("File Area #:"), panel));
    areaRow->addWidget(f_Area);
    areaRow->addStretch(1);
    areaRow->addWidget(L_FileInArea);
    areaRow->addWidget(FilesInArea);
    grid->addLayout(areaRow, row++, 0, 1, 4);

    auto* heading = MakeLabel(QStringLiteral("Selected File Information"), panel);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    L_FileFound = MakeLabel(QStringLiteral("File Exists on Disk"), panel);
    L_FileFound->setObjectName(QStringLiteral("L_FileFound"));
    L_FileFound->setFont(bold);
    L_FileFound->setStyleSheet(QStringLiteral("color: blue"));
    auto* headRow = new QHBoxLayout;
    headRow->addWidget(heading);
    headRow->addStretch(1);
    headRow->addWidget(L_FileFound);
    grid->addLayout(headRow, row++, 0, 1, 4);

    f_FileName = edit("f_FileName", 15);
    f_uploader = edit("f_uploader", 71);
    grid->addWidget(MakeLabel(QStringLiteral("File:"), panel), row, 0);
    grid->addWidget(f_FileName, row++, 1, 1, 3);
    grid->addWidget(MakeLabel(QStringLiteral("Uploader:"), panel), row, 0);
    grid->addWidget(f_uploader, row++, 1, 1, 3);

    auto* fileGroup = new QGroupBox(QStringLiteral("File"), panel);
    fileGroup->setObjectName(QStringLiteral("gb_File"));
    auto* fg = new QGridLayout(fileGroup);
    fg->setContentsMargins(4, 2, 4, 2);
    fg->setVerticalSpacing(2);
    f_size = edit("f_size", 10);
    f_FileDate = masked("f_FileDate", QStringLiteral("99/99/99;_"), QStringLiteral("00/00/00"));
    f_FileTime = masked("f_FileTime", QStringLiteral("99:99;_"), QStringLiteral("00:00"));
    fg->addWidget(MakeLabel(QStringLiteral("Size:"), fileGroup), 0, 0);
    fg->addWidget(f_size, 0, 1);
    fg->addWidget(MakeLabel(QStringLiteral("Date:"), fileGroup), 1, 0);
    fg->addWidget(f_FileDate, 1, 1);
    fg->addWidget(MakeLabel(QStringLiteral("Time:"), fileGroup), 2, 0);
    fg->addWidget(f_FileTime, 2, 1);
    auto* accessGroup = new QGroupBox(QStringLiteral("Last Accessed"), panel);
    accessGroup->setObjectName(QStringLiteral("gb_LastAccessed"));
    auto* ag = new QGridLayout(accessGroup);
    ag->setContentsMargins(4, 2, 4, 2);
    ag->setVerticalSpacing(2);
    f_accessDate = masked("f_accessDate", QStringLiteral("99/99/99;_"), QStringLiteral("00/00/00"));
    f_accessTime = masked("f_accessTime", QStringLiteral("99:99;_"), QStringLiteral("00:00"));
    ag->addWidget(MakeLabel(QStringLiteral("Date:"), accessGroup), 0, 0);
    ag->addWidget(f_accessDate, 0, 1);
    ag->addWidget(MakeLabel(QStringLiteral("Time:"), accessGroup), 1, 0);
    ag->addWidget(f_accessTime, 1, 1);
    ag->setRowStretch(2, 1);
    grid->addWidget(fileGroup, row, 0, 1, 2);
    grid->addWidget(accessGroup, row++, 2, 1, 2);

    cbf_NeverDelete = check("cbf_NeverDelete", QStringLiteral("Never Delete"));
    cbf_NeverOverWrite = check("cbf_NeverOverWrite", QStringLiteral("Never Overwrite"));
    cbf_FailedScan = check("cbf_FailedScan", QStringLiteral("Failed Scan"));
    cbf_CopyBeforeDL = check("cbf_CopyBeforeDL", QStringLiteral("Copy Before Download"));
    grid->addWidget(cbf_NeverDelete, row, 0, 1, 2);
    grid->addWidget(cbf_NeverOverWrite, row++, 2, 1, 2);
    grid->addWidget(cbf_FailedScan, row, 0, 1, 2);
    grid->addWidget(cbf_CopyBeforeDL, row++, 2, 1, 2);

    f_downloads = edit("f_downloads");
    f_cost = edit("f_cost");
    grid->addWidget(MakeLabel(QStringLiteral("Downloads:"), panel), row, 0);
    grid->addWidget(f_downloads, row, 1);
    grid->addWidget(MakeLabel(QStringLiteral("Cost:"), panel), row, 2);
    grid->addWidget(f_cost, row++, 3);
    cbf_FreeFile = check("cbf_FreeFile", QStringLiteral("Free File"));
    cbf_FreeTime = check("cbf_FreeTime", QStringLiteral("Free Time"));
    grid->addWidget(cbf_FreeFile, row, 0, 1, 2);
    grid->addWidget(cbf_FreeTime, row++, 2, 1, 2);

    f_Password = edit("f_Password", 31);
    f_desc = edit("f_desc", 75);
    grid->addWidget(MakeLabel(QStringLiteral("Password:"), panel), row, 0);
    grid->addWidget(f_Password, row++, 1, 1, 3);
    grid->addWidget(MakeLabel(QStringLiteral("Decription:"), panel), row, 0);
    grid->addWidget(f_desc, row++, 1, 1, 3);

    b_ExtracFile_IS = new QPushButton(QStringLiteral("extract"), panel);
    b_ExtracFile_IS->setObjectName(QStringLiteral("b_ExtracFile_IS"));
    b_ExtracFile_IS->setAutoDefault(false);
    auto* longRow = new QHBoxLayout;
    longRow->addWidget(MakeLabel(QStringLiteral("Long Description:"), panel));
    longRow->addStretch(1);
    longRow->addWidget(b_ExtracFile_IS);
    grid->addLayout(longRow, row++, 0, 1, 4);
    Long_Desc = new QPlainTextEdit(panel);
    Long_Desc->setObjectName(QStringLiteral("Long_Desc"));
    Long_Desc->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPointSize(8);
    Long_Desc->setFont(mono);
    grid->addWidget(Long_Desc, row, 0, 1, 4);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    // Tags of the tracked fields.
    const std::pair<QWidget*, int> tags[] = {{f_FileName, 1},
                                             {f_uploader, 2},
                                             {f_size, 3},
                                             {f_FileDate, 4},
                                             {f_FileTime, 5},
                                             {f_accessDate, 6},
                                             {f_accessTime, 7},
                                             {f_downloads, 8},
                                             {f_cost, 9},
                                             {cbf_NeverDelete, 10},
                                             {cbf_NeverOverWrite, 11},
                                             {cbf_FailedScan, 12},
                                             {cbf_CopyBeforeDL, 13},
                                             {cbf_FreeFile, 14},
                                             {cbf_FreeTime, 15},
                                             {f_Password, 16},
                                             {f_desc, 17},
                                             {Long_Desc, 18}};
    for (const auto& [w, tag] : tags)
        w->setProperty("Tag", tag);

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

    setTabOrder(AreaListBox, cb_FileFilter);
    AreaListBox->setFocus();
}

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
    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("Help1"));
    Help2 = item(help, "Help2", QStringLiteral("&Help"), QKeySequence(Qt::Key_F1),
                 &TFileMgr::Help2Click);
    AboutVTFileMgr1 = item(help, "AboutVTFileMgr1", QStringLiteral("&About VT File Mgr"), {},
                           &TFileMgr::AboutVTFileMgr1Click);
}

void TFileMgr::TrackChanges()
{
    // The change event of every tracked control, also for changes the program
    // makes itself; the panel-loading flag keeps a panel fill from counting.
    for (QLineEdit* e : {f_FileName, f_uploader, f_size, f_FileDate, f_FileTime, f_accessDate,
                         f_accessTime, f_downloads, f_cost, f_Password, f_desc})
        connect(e, &QLineEdit::textChanged, this, [this, e]() { FileBeenChanged(e); });
    for (QCheckBox* c : {cbf_NeverDelete, cbf_NeverOverWrite, cbf_FailedScan, cbf_CopyBeforeDL,
                         cbf_FreeFile, cbf_FreeTime})
        connect(c, &QCheckBox::toggled, this, [this, c]() { FileBeenChanged(c); });
    connect(Long_Desc, &QPlainTextEdit::textChanged, this,
            [this]() { FileBeenChanged(Long_Desc); });
}

// ------------------------------------------------------------- life cycle

void TFileMgr::FormCreate()
{
    setAcceptDrops(true);
    ShownItemIndex = -1;
    // The zip component: the program can't run without its library.
    UnzipFile1 = new TUnzipFile(this);
    ExitIfUnzipUnavailable(*UnzipFile1);
    UnzipFile1->SetIndexofItem(0);
    UnzipFile1->SetOptions({OverWriteFlag, QuietFlag, NoDirectoryNamesFlag});
    UnzipFile1->SetwUnzipSubOptions({});
}

void TFileMgr::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        FormShow();
    }
}

void TFileMgr::FormShow()
{
    LoginToServer(reinterpret_cast<void*>(winId()));
    if (m_splash) {
        m_splash->close();
        m_splash->deleteLater();
        m_splash = nullptr;
    }
    FillAreaSelector();
    if (AreaListBox->count() > 0) {
        AreaListBox->setCurrentIndex(0);
        m_areaIndex = 0;
    }
    AreaListBoxChange();

    b_freshen->setText(kFreshen);
    ClearChangeFlags();
    PanelLoading = false;
    L_FileFound->setText(QString());

    HomeDirSetting = DefaultHomeDir();
    ProgramFolder = DetermineProgramFolder();
    TimePicture = QStringLiteral("hh:mm");
    DatePicture = QStringLiteral("MM/dd/yy");
    FilterDefined = false;

    if (!LoggedIn()) {
        FailedToLogin->start();
    } else {
        if (!QFile::exists(ProgramFolder + QStringLiteral("vuru.cfg"))) {
            TSetupDlg setup(this);
            setup.exec();
        }
        ReadConfiguration();
    }
    TempFileList.clear();
}

void TFileMgr::ReadConfiguration()
{
    const IniFile ini(ProgramFolder + QStringLiteral("vuru.cfg"));
    HomeDirSetting =
        ini.ReadString(QStringLiteral("General"), QStringLiteral("wcHomeDir"), HomeDirSetting);
    ZipViewerSetting = ini.ReadString(QStringLiteral("Tools"), QStringLiteral("ZipViewer_Prg1"),
                                      DefaultZipViewer());
    SetRecordCodePage(ReadCodePageSetting(ini));
    SetAreaLinksAllowed(ReadAllowLinksSetting(ini));
    ApplyRecordTextFonts();
}

void TFileMgr::ApplyRecordTextFonts()
{
    // With a DOS code page the widgets that show record texts take a
    // monospace font that has the box-drawing glyphs (DejaVu Sans Mono where
    // it is installed); with Latin-1 each keeps the font it was made with.
    if (m_recordFonts.isEmpty())
        for (QWidget* w : std::initializer_list<QWidget*>{FileListBox, AreaListBox, f_uploader,
                                                          f_Password, f_desc, Long_Desc})
            m_recordFonts.append({w, w->font()});
    for (const auto& [w, original] : std::as_const(m_recordFonts)) {
        if (CurrentRecordCodePage() == RecordCodePage::Latin1) {
            w->setFont(original);
            continue;
        }
        QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
        font.setFamilies({QStringLiteral("DejaVu Sans Mono"), font.family()});
        font.setStyleHint(QFont::Monospace);
        if (original.pointSizeF() > 0)
            font.setPointSizeF(original.pointSizeF());
        w->setFont(font);
    }
}

bool TFileMgr::LoginToServer(void* windowHandle)
{
    if (m_session.Open(windowHandle))
        return true;
    switch (m_session.FailedStage()) {
    case SessionStage::Context:
        ShowWarning(QStringLiteral("Failed to Login to Wildcat Server! [m2]"));
        break;
    case SessionStage::Login:
        ShowWarning(QStringLiteral("Failed to Login to Wildcat Server! [m3]"));
        break;
    default:
        return false; // a failed connection shows nothing here
    }
    ShowServerError(m_session.FailedCode());
    return false;
}

void TFileMgr::LogoutFromServer()
{
    // Ended: a second call (the destructor, a second close) does nothing.
    const ServerSession::EndFaults faults = m_session.End();
    if (faults.logout)
        ShowWarning(QStringLiteral("Failed to Logout off System!"));
    if (faults.context)
        ShowWarning(QStringLiteral("Failed to Delete Context!"));
}

bool TFileMgr::FormCloseQuery()
{
    // Unchecked twice around event processing, so that a running filtered
    // listing sees the request and stops before the window goes away.
    cb_FileFilter->setChecked(false);
    QApplication::processEvents();
    cb_FileFilter->setChecked(false);
    cb_FileFilter->repaint();
    QApplication::processEvents();
    return true;
}

void TFileMgr::closeEvent(QCloseEvent* event)
{
    if (m_closed) {
        event->accept();
        return;
    }
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    event->accept();
    FormClose();
}

void TFileMgr::FormClose()
{
    m_closed = true;
    LogoutFromServer();
    for (const QString& path : std::as_const(TempFileList))
        QFile::remove(path);
    TempFileList.clear();
    if (m_help)
        m_help->close();
}

void TFileMgr::FailedToLoginTimer()
{
    FailedToLogin->stop();
    QApplication::processEvents();
    close();
}

void TFileMgr::ClearStatusTimer()
{
    ClearStatus->stop();
    SetStatusText(QString());
}

QString TFileMgr::StatusText() const
{
    return StatusPanel0->text();
}

void TFileMgr::SetStatusText(const QString& text)
{
    StatusPanel0->setText(text);
    StatusBar1->repaint();
    emit StatusTextChanged(text);
}

void TFileMgr::StartClearStatus()
{
    ClearStatus->start();
}

// ------------------------------------------------------------------ menus

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
    // The panel's texts, edits included, are shown again in the new code
    // page: each keeps the bytes it stands for.
    const auto reshow = [before, after](const QString& text) {
        SetRecordCodePage(before);
        const QByteArray bytes = StoredBytes(text);
        SetRecordCodePage(after);
        return ShownText(bytes);
    };
    PanelLoading = true;
    for (QLineEdit* e : {f_uploader, f_Password, f_desc})
        e->setText(reshow(e->text()));
    Long_Desc->setPlainText(reshow(Long_Desc->toPlainText()));
    PanelLoading = false;
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

// ------------------------------------------------------- areas and files

void TFileMgr::FillAreaSelector()
{
    AreaListBox->clear();
    m_areaIndex = -1;
    QStringList lines;
    for (const FileArea& area : AllAreas())
        lines << area.Line();
    AreaListBox->addItems(lines);
    AreaListBox->setCurrentIndex(-1);
}

void TFileMgr::ChooseArea(int index)
{
    AreaListBox->setCurrentIndex(index);
    m_areaIndex = index;
    AreaListBoxChange();
}

void TFileMgr::AreaListBoxChange()
{
    cb_FileFilter->setChecked(false);
    ClearRecordPanel();
    const int chosen = m_areaIndex;
    ++m_listGeneration;
    FileListBox->Lines()->Clear();
    if (chosen >= 0 && chosen < AreaListBox->count()) {
        const int area = AreaNumberOfLine(AreaListBox->itemText(chosen));
        f_Area->setText(QString::number(area));
        FileAreaRec rec{};
        if (GetFileArea(area, &rec)) {
            // The names go into the list as they come, without a string
            // each, and join the view at once when the walk ends.
            FileListModel* model = FileListBox->Lines();
            WalkArea(area, [model](FileRec& r) {
                model->AppendLatin1(r.Name, qsizetype(qstrnlen(r.Name, sizeof r.Name)));
                return true;
            });
            model->Flush();
        }
        FilesInArea->setText(QString::number(FileListBox->Count()));
        L_FileInArea->setText(QStringLiteral("Total Files in Area:"));
    }
    // In this multi-selection list, making the first line current selects
    // nothing and shows no record.
    if (FileListBox->Count() > 0)
        FileListBox->SetItemIndex(0);
}

TFileMgr::Entry TFileMgr::EntryOfListLine(int row) const
{
    const QString line = FileListBox->Line(row);
    if (line.contains(u':'))
        return Entry{AreaNumberOfLine(line), FileNameOfLine(line)};
    return Entry{StrToInt(f_Area->text()), line};
}

bool TFileMgr::ReadRecordOfLine(int row, FullFileRec& full) const
{
    const Entry entry = EntryOfListLine(row);
    return ReadRecord({entry.area, entry.name}, full);
}

void TFileMgr::FileListBoxClick()
{
    if (FileListBox->SelCount() == 1) {
        // The clicked line is the one selected line. The current line need
        // not be it: a Ctrl+click that takes B out of {A, B} leaves B
        // current and only A selected, and the panel must show A, which an
        // update then writes into.
        const int clicked = FileListBox->SelectedRows().constFirst();
        if (FileListBox->ItemIndex() != clicked)
            FileListBox->SetItemIndex(clicked);
        if (RecordChanged && ShownItemIndex >= 0) {
            FileListBox->SetSelected(clicked, false);
            FileListBox->repaint();
            if (ConfirmYesNo(kPendingChanges)) {
                FileListBox->SetItemIndex(ShownItemIndex);
                FileListBox->SetSelected(ShownItemIndex, true);
                FileListBox->repaint();
                b_freshenClick();
                return;
            }
            FileListBox->SetSelected(clicked, true);
            FileListBox->repaint();
        }
        PanelLoading = true;
        b_freshen->setText(kFreshen);
        ClearChangeFlags();
        Long_Desc->clear();
        ShownItemIndex = FileListBox->ItemIndex();
        if (ShownItemIndex >= 0) {
            const Entry entry = EntryOfListLine(ShownItemIndex);
            f_Area->setText(QString::number(entry.area));
            FullFileRec full{};
            if (ReadRecordOfLine(ShownItemIndex, full)) {
                ShowRecord(full);
                ShowDiskState(ServerFilePath(entry.area, RecText(full.Rec.Name)));
            }
        }
    } else {
        ClearRecordPanel();
        ShownItemIndex = -1;
    }
    PanelLoading = false;
    StartClearStatus();
}

void TFileMgr::FileListBoxMouseMove()
{
    if (FileListBox->SelCount() <= 1 || !RecordChanged)
        return;
    if (ConfirmYesNo(kPendingChanges)) {
        b_freshenClick();
    } else {
        b_freshen->setText(kFreshen);
        ClearChangeFlags();
    }
}

void TFileMgr::ShowRecord(const FullFileRec& full)
{
    ShownRecord = full;
    const FileRec& r = full.Rec;
    f_FileName->setText(RecText(r.Name));
    f_size->setText(QString::number(r.Size));
    f_FileDate->setText(FileTimeToDateText(r.FileTime));
    f_FileTime->setText(FileTimeToTimeText(r.FileTime));
    f_accessDate->setText(FileTimeToDateText(r.LastAccessed));
    f_accessTime->setText(FileTimeToTimeText(r.LastAccessed));
    f_downloads->setText(QString::number(r.Downloads));
    f_cost->setText(QString::number(r.Cost));
    cbf_NeverOverWrite->setChecked(r.NeverOverwrite != 0);
    cbf_NeverDelete->setChecked(r.NeverDelete != 0);
    cbf_FailedScan->setChecked(r.FailedScan != 0);
    cbf_CopyBeforeDL->setChecked(r.CopyBeforeDownload != 0);
    cbf_FreeFile->setChecked(r.FreeFile != 0);
    cbf_FreeTime->setChecked(r.FreeTime != 0);
    f_uploader->setText(ShownRecText(r.Uploader.UserName));
    f_Password->setText(ShownRecText(r.Password));
    f_desc->setText(ShownRecText(r.Description));
    if (r.HasLongDescription != 0) {
        // The non-empty lines, trimmed, in order 0 to 14.
        QStringList lines;
        for (int i = LongDescLines - 1; i >= 0; --i) {
            // Trimmed as bytes, so that both code pages drop the same ones.
            const QString line = ShownText(ToBytes(TrimControls(RecText(full.LongDescription[i]))));
            if (!line.isEmpty())
                lines.prepend(line);
        }
        Long_Desc->setPlainText(lines.join(u'\n'));
    }
}

void TFileMgr::ClearRecordPanel()
{
    Long_Desc->clear();
    for (QLineEdit* e : {f_FileName, f_size, f_FileDate, f_FileTime, f_accessDate, f_accessTime,
                         f_downloads, f_cost})
        e->clear();
    for (QCheckBox* c : {cbf_NeverOverWrite, cbf_NeverDelete, cbf_FailedScan, cbf_CopyBeforeDL,
                         cbf_FreeFile, cbf_FreeTime})
        c->setChecked(false);
    f_Password->clear();
    f_uploader->clear();
    f_desc->clear();
    b_freshen->setText(kFreshen);
    ClearChangeFlags();
    L_FileFound->setText(QString());
    ShownItemIndex = -1; // the panel shows no record now
}

bool TFileMgr::ShowDiskState(const QString& serverPath)
{
    const bool exists = WcExistFile(ToBytes(serverPath).constData());
    if (exists) {
        L_FileFound->setText(QStringLiteral("File exists on disk"));
        L_FileFound->setStyleSheet(QStringLiteral("color: blue"));
    } else {
        L_FileFound->setText(QStringLiteral("File not found on disk"));
        L_FileFound->setStyleSheet(QStringLiteral("color: red"));
    }
    L_FileFound->repaint();
    return exists;
}

// ------------------------------------------------------ editing, freshen

void TFileMgr::ClearChangeFlags()
{
    FieldChanged.fill(false);
    RecordChanged = false;
}

void TFileMgr::FileBeenChanged(QWidget* control)
{
    if (PanelLoading)
        return;
    if (qobject_cast<QLineEdit*>(control) || qobject_cast<QCheckBox*>(control) ||
        qobject_cast<QPlainTextEdit*>(control)) {
        const int tag = control->property("Tag").toInt();
        if (tag >= 1 && tag <= kPanelFields)
            FieldChanged[tag] = true;
    }
    b_freshen->setText(kUpdate);
    RecordChanged = true;
}

void TFileMgr::b_freshenClick()
{
    const int remembered = FileListBox->ItemIndex();
    if (remembered < 0 || FileListBox->Count() == 0)
        return;
    // A conversion error (ConversionError) leaves here at the record where it
    // happened: the records after it are not written and the panel keeps its
    // edits and "&Update".
    const QList<int> rows = FileListBox->SelectedRows();
    RecordRunOptions options;
    for (int row : rows) {
        // Edits typed into the panel go into the record it shows, or into
        // every line of a multi-selection; never into one other line.
        if (RecordChanged && rows.size() == 1 && row != ShownItemIndex)
            continue;
        const Entry entry = EntryOfListLine(row);
        options.entries.append({entry.area, entry.name});
    }
    if (RecordChanged)
        options.edits = [this](FullFileRec& full) { PanelChangesInto(full); };
    WindowRunDelegate delegate(
        nullptr, [this](const QString& text) { SetStatusText(text); }, nullptr);
    RunRecordChanges(options, delegate);
    ClearRecordPanel();
    FileListBox->SetItemIndex(remembered);
    if (FileListBox->Selected(remembered)) {
        ShownItemIndex = remembered;
        FullFileRec full{};
        if (ReadRecordOfLine(remembered, full)) {
            const Entry entry = EntryOfListLine(remembered);
            ShowRecord(full);
            ShowDiskState(ServerFilePath(entry.area, RecText(full.Rec.Name)));
        }
    }
    b_freshen->setText(kFreshen);
    ClearChangeFlags();
    StartClearStatus();
    repaint();
}

bool TFileMgr::StorePanelChanges(const FullFileRec& given)
{
    return UpdateOneRecord(given, [this](FullFileRec& full) { PanelChangesInto(full); });
}

void TFileMgr::PanelChangesInto(FullFileRec& full)
{
    FileRec& r = full.Rec;
    auto number = [](const QLineEdit* edit, int32_t& field) {
        // Not digits: left unchanged. Digits beyond the 32-bit range: the
        // conversion error ends the command.
        if (IsAllDigits(edit->text()))
            field = StrToInt(edit->text());
    };
    if (FieldChanged[3])
        number(f_size, r.Size);
    if (FieldChanged[4] || FieldChanged[5]) {
        if (!PanelTimeInto(f_FileDate, f_FileTime, FieldChanged[4], r.FileTime))
            ShowWarning(QStringLiteral("Could not convert File Date or Time."));
    }
    if (FieldChanged[6] || FieldChanged[7]) {
        if (!PanelTimeInto(f_accessDate, f_accessTime, FieldChanged[6], r.LastAccessed))
            ShowWarning(QStringLiteral("Could not convert Last Accessed Date or Time "));
    }
    if (FieldChanged[8])
        number(f_downloads, r.Downloads);
    if (FieldChanged[9])
        number(f_cost, r.Cost);
    if (FieldChanged[11])
        r.NeverOverwrite = cbf_NeverOverWrite->isChecked() ? 1 : 0;
    if (FieldChanged[10])
        r.NeverDelete = cbf_NeverDelete->isChecked() ? 1 : 0;
    if (FieldChanged[12])
        r.FailedScan = cbf_FailedScan->isChecked() ? 1 : 0;
    if (FieldChanged[13])
        r.CopyBeforeDownload = cbf_CopyBeforeDL->isChecked() ? 1 : 0;
    if (FieldChanged[14])
        r.FreeFile = cbf_FreeFile->isChecked() ? 1 : 0;
    if (FieldChanged[15])
        r.FreeTime = cbf_FreeTime->isChecked() ? 1 : 0;
    if (FieldChanged[2]) {
        SetShownRecText(r.Uploader.UserName, f_uploader->text());
        UserRef found{};
        if (LookupName(r.Uploader.UserName, &found))
            r.Uploader = found;
        else
            std::memset(&r.Uploader, 0, sizeof r.Uploader);
    }
    if (FieldChanged[16])
        SetShownRecText(r.Password, f_Password->text());
    if (FieldChanged[17])
        SetShownRecText(r.Description, f_desc->text());
    if (FieldChanged[18]) {
        // Lines as the memo counts them: a last empty line after a line end
        // is no line of its own.
        // The raw text: the plain text would turn each no-break space (byte
        // 0xA0 as Latin-1, 0xFF as code page 437) into a blank.
        QString memo = Long_Desc->document()->toRawText();
        memo.replace(QChar::ParagraphSeparator, u'\n').replace(QChar::LineSeparator, u'\n');
        QStringList lines = memo.split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        qsizetype n = lines.size();
        if (n == 1 && TrimControls(lines.first()).isEmpty())
            n = 0;
        if (n > 0) {
            const qsizetype k = std::min<qsizetype>(n, LongDescLines);
            for (qsizetype i = 0; i < k; ++i)
                SetShownRecText(full.LongDescription[i], lines.at(i)); // cut to 79 characters
            for (qsizetype i = k; i < LongDescLines; ++i)
                SetRecText(full.LongDescription[i], QString());
            r.HasLongDescription = 1;
        } else {
            r.HasLongDescription = 0;
            for (int i = 0; i < LongDescLines; ++i)
                SetRecText(full.LongDescription[i], QString());
        }
    }
}

bool TFileMgr::FreshenRecord(const FullFileRec& given)
{
    WindowRunDelegate delegate(
        nullptr, [this](const QString& text) { SetStatusText(text); }, nullptr);
    return FreshenOneRecord(given, delegate);
}

// ------------------------------------------------------- filtered listing

void TFileMgr::cb_FileFilterClick()
{
    if (!cb_FileFilter->isChecked())
        return;
    AreaListBox->setEditText(QStringLiteral("File Filter ON"));
    ListFilteredFiles();
}

void TFileMgr::ListFilteredFiles()
{
    if (!FilterDefined) {
        ShowInformation(QStringLiteral("Please set a file filter before turn it on."));
        cb_FileFilter->setChecked(false);
        return;
    }
    QList<int> shown;
    for (int i = 0; i < AreaListBox->count(); ++i)
        shown << AreaNumberOfLine(AreaListBox->itemText(i));
    FilteredListingOptions options;
    options.areas = FilteredListingAreas(shown);
    ClearRecordPanel();
    FileListModel* model = FileListBox->Lines();
    const quint64 generation = ++m_listGeneration;
    model->Clear();

    // The walk stops when the check box is cleared, the list is rebuilt (an
    // area change, a new search) or the window goes away.
    QPointer<TFileMgr> self(this);
    class ListingDelegate : public WindowRunDelegate
    {
    public:
        ListingDelegate(TFileMgr* window, quint64 generation)
            : WindowRunDelegate(
                  nullptr,
                  [window](const QString& text) {
                      window->StatusPanel0->setText(text);
                      window->StatusBar1->repaint();
                  },
                  nullptr),
              m_window(window), m_generation(generation)
        {
        }
        bool StopRequested() override
        {
            WindowRunDelegate::StopRequested();
            return !m_window || !m_window->cb_FileFilter->isChecked() ||
                   m_window->m_listGeneration != m_generation;
        }

    private:
        QPointer<TFileMgr> m_window;
        quint64 m_generation;
    } delegate(this, generation);

    // Found lines go into the list as they are found, made from the record
    // on the stack (no string per line), and join the view when the run
    // flushes. A rebuilt list (an area change, a new search during the
    // walk) starts with Clear, which drops them too.
    FilteredListingSink sink;
    sink.areaStarted = [this](int area) {
        f_Area->setText(QString::number(area));
        f_Area->repaint();
    };
    sink.foundRecord = [model](const FileRec& rec) {
        char line[kAreaLinePrefixMax + sizeof rec.Name];
        const int prefix = AreaLinePrefixChars(rec.Area, line);
        const size_t name = qstrnlen(rec.Name, sizeof rec.Name);
        std::memcpy(line + prefix, rec.Name, name);
        model->AppendLatin1(line, prefix + qsizetype(name));
    };
    sink.flush = [model]() { model->ReleaseWaiting(); };
    if (RunFilteredListing(options, delegate, sink) == FilteredListingResult::Stopped) {
        // The lines found so far stay, unless the list was rebuilt meanwhile
        // (it then holds only its own lines) or the window is gone.
        if (self && m_listGeneration == generation)
            model->ReleaseWaiting();
        return;
    }
    FilesInArea->setText(QString::number(FileListBox->Count()));
    L_FileInArea->setText(QStringLiteral("Total Files Found:"));
    if (FileListBox->Count() > 0)
        FileListBox->SetItemIndex(0);
    else
        ShowInformation(QStringLiteral("No files found that match the filter."));
    StartClearStatus();
}

// ------------------------------------------------ file commands, dropping

void TFileMgr::b_DeleteClick()
{
    if (FileListBox->ItemIndex() < 0 || FileListBox->Count() == 0)
        return;
    if (!ConfirmYesNo(QStringLiteral(
            "Are you sure you want to DELETE the selected files from your File Database?")))
        return;
    const bool fromDisk = ConfirmYesNo(QStringLiteral("Delete Files from Disk also?"));
    DeleteFilesOptions options;
    options.fromDisk = fromDisk;
    for (int row : FileListBox->SelectedRows()) {
        const Entry entry = EntryOfListLine(row);
        options.entries.append({entry.area, entry.name});
    }
    if (options.entries.isEmpty())
        return;
    WindowRunDelegate delegate(
        nullptr, [this](const QString& text) { SetStatusText(text); }, nullptr);
    RunDeleteFiles(options, delegate);
    StartClearStatus();
    ReloadChosenArea();
}

void TFileMgr::b_AddClick()
{
    // The home folder and the tool's name are run together as they are.
    const QString tool = HomeDirSetting + QStringLiteral("wcFile.exe");
    if (LaunchProgram(tool, QString(), 5) < 32)
        ShowWarning(QStringLiteral("Could Not Find wcFile.exe!"));
}

void TFileMgr::ReloadChosenArea()
{
    const int chosen = AreaListBoxItemIndex();
    if (chosen >= 0 && chosen < AreaListBox->count())
        ChooseArea(chosen); // the selector shows the area's line again
    else
        AreaListBoxChange();
}

void TFileMgr::b_MoveClick()
{
    if (FileListBox->ItemIndex() < 0 || FileListBox->Count() == 0)
        return;
    QList<Entry> pairs;
    for (int row : FileListBox->SelectedRows())
        pairs << EntryOfListLine(row);
    if (pairs.isEmpty())
        return;

    int target = -1;
    {
        TChooseFileAreaForm chooser(this);
        target = chooser.exec();
    }
    if (target < 1)
        return;
    if (target == pairs.last().area) {
        ShowWarning(QStringLiteral("Can not move files to the same file area."));
        return;
    }

    MoveFilesOptions options;
    options.target = target;
    for (const Entry& pair : std::as_const(pairs))
        options.entries.append({pair.area, pair.name});
    WindowRunDelegate delegate(
        nullptr,
        [this](const QString& text) {
            SetStatusText(text);
            repaint();
        },
        nullptr);
    RunMoveFiles(options, delegate);

    pairs.clear();
    ReloadChosenArea();
    ClearRecordPanel();
    ClearChangeFlags();
    StartClearStatus();
    repaint();
}

bool TFileMgr::CurrentZipEntry(Entry& entry, QString& serverPath, bool anyArchive)
{
    const int row = FileListBox->ItemIndex();
    if (row < 0)
        return false;
    const bool zipName = IsZipName(FileListBox->Line(row));
    if (!anyArchive && !zipName)
        return false;
    entry = EntryOfListLine(row);
    serverPath = ServerFilePath(entry.area, entry.name);
    // Any other name counts when its first bytes show an archive kind other
    // than zip (a zip is known by its name).
    if (!zipName) {
        const ArchiveKind kind = ServerFileArchiveKind(serverPath);
        if (kind == ArchiveKind::Unknown || kind == ArchiveKind::Zip)
            return false;
    }
    if (!WcExistFile(ToBytes(serverPath).constData())) {
        ShowInformation(
            QStringLiteral("Error: File not found.  Selected File does not exists on disk."));
        return false;
    }
    return true;
}

bool TFileMgr::EnsureZipTempFolder(QString& folder)
{
    folder = ZipTempFolder();
    bool ok = FolderExists(folder);
    if (!ok) {
        try {
            ok = MakeFolderPath(folder);
        } catch (const AppError&) {
            ok = false; // reported below, as a folder that couldn't be made
        }
    }
    if (!ok)
        ShowWarning(QStringLiteral("Error creating directory: ") + folder);
    return ok;
}

void TFileMgr::ViewZipFile1Click()
{
    Entry entry;
    QString serverPath;
    if (!CurrentZipEntry(entry, serverPath))
        return;
    QString folder;
    if (!EnsureZipTempFolder(folder))
        return;
    const QString tempPath = folder + entry.name;
    if (!CopyServerFile(serverPath, tempPath, QStringLiteral("Creating Temp File")))
        return;
    TempFileList << tempPath;
    const int result = LaunchProgram(ZipViewerSetting, tempPath, 1);
    if (result > 32)
        return;
    switch (result) {
    case 2:
        ShowInformation(QStringLiteral("Zip Viewing Utilty File Not Found.  Check vuRU setup."));
        break;
    case 3:
        ShowInformation(QStringLiteral("Zip Viewing Utility Path Not Found.  Check vuRU setup."));
        break;
    case 11:
        ShowInformation(QStringLiteral(
            "Bad File Format or Not a Win32 EXE.  Make sure you have a valid 32bit Zip Viewing "
            "Utility porgram. See vuRU setup."));
        break;
    default:
        ShowInformation(QStringLiteral("Error occured loading: ") + ZipViewerSetting +
                        QStringLiteral(" Check vuRU setup."));
        break;
    }
}

void TFileMgr::AddFilesInAreaFolder1Click()
{
    const QString selector = AreaListBox->currentText();
    const qsizetype colon = selector.indexOf(u':');
    int area = 0;
    if (colon < 0 || !TryStrToInt(selector.left(colon), area))
        area = 0;
    TAddFilesForm form(this, area, UnzipFile1);
    form.exec();
    AreaListBoxChange(); // the list shows the records just added
}

void TFileMgr::b_ExtracFile_ISClick()
{
    Entry entry;
    QString serverPath;
    if (!CurrentZipEntry(entry, serverPath, true))
        return;
    FileRec rec{};
    uint32_t position = 0;
    if (!GetFileRecByAreaName(entry.area, ToBytes(entry.name).constData(), &rec, &position)) {
        ShowServerError(WcGetLastError());
        return;
    }
    FullFileRec full{};
    if (!GetFullFileRec(&rec, &full)) {
        ShowServerError(WcGetLastError());
        return;
    }
    QString folder;
    if (!EnsureZipTempFolder(folder))
        return;
    const QString tempPath = folder + entry.name;
    // The temporary copy goes whatever happens to the import, an error
    // included; the error is shown after it has gone.
    QString error;
    try {
        if (CopyServerFile(serverPath, tempPath, QStringLiteral("Creating Temp File"))) {
            TempFileList << tempPath;
            if (ImportDescription(*UnzipFile1, tempPath, full, this) && !UpdateFullFileRec(&full))
                ShowServerError(WcGetLastError());
        }
    } catch (const AppError& e) {
        error = e.message();
    }
    if (QFile::exists(tempPath))
        DeleteDiskFile(tempPath);
    if (!error.isEmpty())
        ShowErrorBox(error);
    FileListBoxClick();
}

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
    WindowRunDelegate delegate(
        nullptr, [this](const QString& text) { SetStatusText(text); }, nullptr);
    RunDropFiles(options, delegate);
}

void TFileMgr::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TFileMgr::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        if (!url.isLocalFile())
            continue;
        // A path whose bytes are not UTF-8 has no exact text: the path made
        // of it would name another file (or none). Such a file is named and
        // left out; the others are added.
        const QByteArray bytes =
            QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
        if (url.host().isEmpty() && QFile::encodeName(url.toLocalFile()) != bytes) {
            ShowInformation(QStringLiteral("File: ") +
                            FromBytes(bytes.mid(bytes.lastIndexOf('/') + 1)) +
                            QStringLiteral(" can't be added: its name is not UTF-8."));
            continue;
        }
        paths << url.toLocalFile();
    }
    event->acceptProposedAction();
    if (!paths.isEmpty())
        AddDroppedFiles(paths);
}
