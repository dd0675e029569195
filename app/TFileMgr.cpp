#include "app/TFileMgr.h"

#include "app/DeleteFilesRun.h"
#include "app/ExtractDescription.h"
#include "app/FilteredListingRun.h"
#include "app/MoveFilesRun.h"
#include "app/RecordRun.h"
#include "app/TAddFilesForm.h"
#include "app/THelpViewer.h"
#include "archive/DescriptionImport.h"
#include "archive/TUnzipFile.h"
#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/Launch.h"
#include "common/Text.h"
#include "common/VtApplication.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "config/TSetupDlg.h"
#include "filter/DateTime.h"
#include "filter/SearchRecord.h"
#include "filter/TMatchForm.h"
#include "managers/CopyServerFile.h"
#include "managers/TDescListForm.h"
#include "managers/WindowRunDelegate.h"
#include "server/AreaFiles.h"
#include "server/FileAreas.h"
#include "server/ServerPath.h"
#include "server/ServerQueries.h"

#include "managers/TChooseFileAreaForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTimer>

#include <cstring>

namespace
{

const QString kPendingChanges =
    QStringLiteral("Update File Record with changes before continuing?");

} // namespace

const QString TFileMgr::kFreshen = QStringLiteral("F&reshen");
const QString TFileMgr::kUpdate = QStringLiteral("&Update");

TFileMgr::TFileMgr(QWidget* parent)
    : QMainWindow(parent),
      // Made without a parent, so that its fields join the window's tab order
      // where the controls place it.
      Panel(new TRecordPanel), ShownRecord(Panel->ShownRecord), FieldChanged(Panel->FieldChanged),
      RecordChanged(Panel->RecordChanged), PanelLoading(Panel->Loading)
{
    setObjectName(QStringLiteral("FileMgr"));
    setWindowTitle(QStringLiteral("Vantrel File Manager"));
    resize(556, 460);
    BuildControls();
    BuildMenus();
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
    SetTrashDays(ReadTrashDaysSetting(ini));
    ClamdSocketSetting = ReadClamdSocketSetting(ini);
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
        if (FileAreaExists(area)) {
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

EntryRef TFileMgr::EntryOfLine(int row) const
{
    return ::EntryOfLine(FileListBox->Line(row), StrToInt(f_Area->text()));
}

bool TFileMgr::ReadRecordOfLine(int row, FullFileRec& full) const
{
    return ReadRecord(EntryOfLine(row), full);
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
            const EntryRef entry = EntryOfLine(ShownItemIndex);
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
    Panel->ShowRecord(full);
}

void TFileMgr::ClearRecordPanel()
{
    Panel->Clear();
    b_freshen->setText(kFreshen);
    ShownItemIndex = -1; // the panel shows no record now
}

bool TFileMgr::ShowDiskState(const QString& serverPath)
{
    const bool exists = ServerFileExists(serverPath);
    Panel->ShowDiskState(exists);
    return exists;
}

// ------------------------------------------------------ editing, freshen

void TFileMgr::ClearChangeFlags()
{
    Panel->ClearChangeFlags();
}

void TFileMgr::FileBeenChanged(QWidget* control)
{
    Panel->FieldBeenChanged(control);
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
        options.entries.append(EntryOfLine(row));
    }
    if (RecordChanged)
        options.edits = [this](FullFileRec& full) { Panel->ChangesInto(full); };
    const QString command =
        QStringLiteral("window %1: %2 records")
            .arg(RecordChanged ? QStringLiteral("update") : QStringLiteral("freshen"))
            .arg(options.entries.size());
    if (!RunJournaled(command, [&](RunDelegate& delegate) { RunRecordChanges(options, delegate); }))
        return;
    ClearRecordPanel();
    FileListBox->SetItemIndex(remembered);
    if (FileListBox->Selected(remembered)) {
        ShownItemIndex = remembered;
        FullFileRec full{};
        if (ReadRecordOfLine(remembered, full)) {
            const EntryRef entry = EntryOfLine(remembered);
            ShowRecord(full);
            ShowDiskState(ServerFilePath(entry.area, RecText(full.Rec.Name)));
        }
    }
    b_freshen->setText(kFreshen);
    ClearChangeFlags();
    StartClearStatus();
    repaint();
}

bool TFileMgr::RunJournaled(const QString& command, const std::function<void(RunDelegate&)>& work)
{
    JournaledRun journal(command);
    if (!WindowRunBegun(journal))
        return false;
    WindowRunDelegate delegate(
        nullptr, [this](const QString& text) { SetStatusText(text); }, nullptr);
    work(delegate);
    journal.End();
    return true;
}

bool TFileMgr::StorePanelChanges(const FullFileRec& given)
{
    bool stored = false;
    RunJournaled(QStringLiteral("window update: 1 record"), [&](RunDelegate&) {
        stored = UpdateOneRecord(given, [this](FullFileRec& full) { Panel->ChangesInto(full); });
    });
    return stored;
}

bool TFileMgr::FreshenRecord(const FullFileRec& given)
{
    bool freshened = false;
    RunJournaled(QStringLiteral("window freshen: 1 record"),
                 [&](RunDelegate& delegate) { freshened = FreshenOneRecord(given, delegate); });
    return freshened;
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
    options.filter = CurrentSearchRecord;
    options.areas = FilteredListingAreas(CurrentSearchRecord, shown);
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
    for (int row : FileListBox->SelectedRows())
        options.entries.append(EntryOfLine(row));
    if (options.entries.isEmpty())
        return;
    const QString command = QStringLiteral("window delete: %1 records%2")
                                .arg(options.entries.size())
                                .arg(fromDisk ? QStringLiteral(", files from disk") : QString());
    if (!RunJournaled(command, [&](RunDelegate& delegate) { RunDeleteFiles(options, delegate); }))
        return;
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
    QList<EntryRef> pairs;
    for (int row : FileListBox->SelectedRows())
        pairs << EntryOfLine(row);
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
    options.entries = pairs;
    JournaledRun journal(
        QStringLiteral("window move: %1 records to area %2").arg(pairs.size()).arg(target));
    if (!WindowRunBegun(journal))
        return;
    WindowRunDelegate delegate(
        nullptr,
        [this](const QString& text) {
            SetStatusText(text);
            repaint();
        },
        nullptr);
    RunMoveFiles(options, delegate);
    journal.End();

    pairs.clear();
    ReloadChosenArea();
    ClearRecordPanel();
    ClearChangeFlags();
    StartClearStatus();
    repaint();
}

bool TFileMgr::CurrentZipEntry(EntryRef& entry, QString& serverPath, bool anyArchive)
{
    const int row = FileListBox->ItemIndex();
    if (row < 0)
        return false;
    const bool zipName = IsZipName(FileListBox->Line(row));
    if (!anyArchive && !zipName)
        return false;
    entry = EntryOfLine(row);
    serverPath = ServerFilePath(entry.area, entry.name);
    switch (CheckArchiveEntry(serverPath, zipName)) {
    case ArchiveEntryCheck::NotArchive:
        return false;
    case ArchiveEntryCheck::Missing:
        ShowInformation(
            QStringLiteral("Error: File not found.  Selected File does not exists on disk."));
        return false;
    case ArchiveEntryCheck::Ready:
        break;
    }
    return true;
}

void TFileMgr::ViewZipFile1Click()
{
    EntryRef entry;
    QString serverPath;
    if (!CurrentZipEntry(entry, serverPath))
        return;
    WindowRunDelegate delegate(nullptr, nullptr, nullptr);
    QString folder;
    if (!EnsureTempFolder(folder, delegate))
        return;
    const QString tempPath = folder + entry.name;
    if (!delegate.Copy(serverPath, tempPath, QStringLiteral("Creating Temp File")))
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
    EntryRef entry;
    QString serverPath;
    if (!CurrentZipEntry(entry, serverPath, true))
        return;
    const QString command = QStringLiteral("window description from archive: area %1 %2")
                                .arg(entry.area)
                                .arg(ShownText(ToBytes(entry.name)));
    ExtractDescriptionResult result;
    if (!RunJournaled(command, [&](RunDelegate& delegate) {
            result = RunExtractDescription(entry, serverPath, *UnzipFile1, this, delegate);
        }))
        return;
    if (!result.attempted)
        return;
    if (!result.tempPath.isEmpty())
        TempFileList << result.tempPath;
    if (!result.error.isEmpty())
        ShowErrorBox(result.error);
    FileListBoxClick();
}
