#include "managers/TFileListMgrForm.h"

#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/Text.h"
#include "filter/TMatchForm.h"
#include "managers/FileListRun.h"
#include "managers/ManagerSupport.h"
#include "managers/WindowRunDelegate.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace
{

const QString kCancelCaption = QStringLiteral("Cancel");
const QString kCloseCaption = QStringLiteral("C&lose");

} // namespace

TFileListMgrForm::TFileListMgrForm(QWidget* parent) : TBatchWindow(QSize(470, 456), parent)
{
    setObjectName(QStringLiteral("FileListMgrForm"));
    setWindowTitle(QStringLiteral("File List Manager"));

    AreaListBox = new QListWidget(this);
    AreaListBox->setObjectName(QStringLiteral("AreaListBox"));
    AreaListBox->setSelectionMode(QAbstractItemView::ExtendedSelection);
    AreaListBox->setFixedWidth(234);

    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };

    Label1 = new QLabel(QStringLiteral("Output File Name:"), this);
    named(Label1, "Label1");
    e_OutputFile = new QLineEdit(this);
    named(e_OutputFile, "e_OutputFile");
    b_BrowseZipFile = new QPushButton(QStringLiteral("&Browse..."), this);
    named(b_BrowseZipFile, "b_BrowseZipFile");

    gb_FilterOptions = new QGroupBox(QStringLiteral("File Filter Options"), this);
    named(gb_FilterOptions, "gb_FilterOptions");
    e_FilterFile = new QLineEdit(gb_FilterOptions);
    named(e_FilterFile, "e_FilterFile");
    e_FilterFile->setReadOnly(true);
    cb_ApplyFilter = new QCheckBox(QStringLiteral("Apply File Filter"), gb_FilterOptions);
    named(cb_ApplyFilter, "cb_ApplyFilter");
    b_SetFilter = new QPushButton(QStringLiteral("Choose/Set &Filter"), gb_FilterOptions);
    named(b_SetFilter, "b_SetFilter");
    auto* filterLayout = new QVBoxLayout(gb_FilterOptions);
    filterLayout->addWidget(e_FilterFile);
    filterLayout->addWidget(cb_ApplyFilter);
    filterLayout->addWidget(b_SetFilter);

    gb_FileAreas = new QGroupBox(QStringLiteral("File Areas"), this);
    named(gb_FileAreas, "gb_FileAreas");
    b_SelectAll = new QPushButton(QStringLiteral("&Select All"), gb_FileAreas);
    named(b_SelectAll, "b_SelectAll");
    b_DeselectAll = new QPushButton(QStringLiteral("&Deselect All"), gb_FileAreas);
    named(b_DeselectAll, "b_DeselectAll");
    auto* areasLayout = new QHBoxLayout(gb_FileAreas);
    areasLayout->addWidget(b_SelectAll);
    areasLayout->addWidget(b_DeselectAll);

    b_MakeFileList = new QPushButton(QStringLiteral("&Make File List"), this);
    named(b_MakeFileList, "b_MakeFileList");
    b_MakeFileList->setFixedWidth(100);
    b_Close = new QPushButton(kCloseCaption, this);
    named(b_Close, "b_Close");

    gb_Progress = new QGroupBox(QStringLiteral("Progress"), this);
    named(gb_Progress, "gb_Progress");
    ProgressBar1 = new QProgressBar(gb_Progress);
    named(ProgressBar1, "ProgressBar1");
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setValue(0);
    Label2 = new QLabel(QStringLiteral("File Area:"), gb_Progress);
    named(Label2, "Label2");
    e_FileArea = new QLineEdit(gb_Progress);
    named(e_FileArea, "e_FileArea");
    e_FileArea->setReadOnly(true);
    e_FileArea->setFixedWidth(40);
    Label3 = new QLabel(QStringLiteral("Files Included From Area:"), gb_Progress);
    named(Label3, "Label3");
    e_FilesIncluded = new QLineEdit(gb_Progress);
    named(e_FilesIncluded, "e_FilesIncluded");
    e_FilesIncluded->setReadOnly(true);
    Label4 = new QLabel(QStringLiteral("Total Files Included:"), gb_Progress);
    named(Label4, "Label4");
    e_TotalFilesIncluded = new QLineEdit(gb_Progress);
    named(e_TotalFilesIncluded, "e_TotalFilesIncluded");
    e_TotalFilesIncluded->setReadOnly(true);
    auto* progressLayout = new QGridLayout(gb_Progress);
    progressLayout->addWidget(ProgressBar1, 0, 0, 1, 2);
    progressLayout->addWidget(Label2, 1, 0);
    progressLayout->addWidget(e_FileArea, 1, 1, Qt::AlignLeft);
    progressLayout->addWidget(Label3, 2, 0);
    progressLayout->addWidget(e_FilesIncluded, 2, 1);
    progressLayout->addWidget(Label4, 3, 0);
    progressLayout->addWidget(e_TotalFilesIncluded, 3, 1);
    gb_Progress->hide();

    for (QPushButton* b :
         {b_BrowseZipFile, b_SetFilter, b_SelectAll, b_DeselectAll, b_MakeFileList, b_Close})
        b->setAutoDefault(false);

    auto* right = new QVBoxLayout;
    right->addWidget(Label1);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(e_OutputFile, 1);
    outputRow->addWidget(b_BrowseZipFile);
    right->addLayout(outputRow);
    right->addWidget(gb_FilterOptions);
    right->addWidget(gb_FileAreas);
    auto* buttonRow = new QHBoxLayout;
    buttonRow->addWidget(b_MakeFileList);
    buttonRow->addWidget(b_Close);
    right->addLayout(buttonRow);
    right->addWidget(gb_Progress);
    right->addStretch();

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->addWidget(AreaListBox);
    middle->addLayout(right, 1);

    StatusBar1 = new QStatusBar(this);
    named(StatusBar1, "StatusBar1");
    StatusBar1->setSizeGripEnabled(false);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->addLayout(middle, 1);
    top->addWidget(StatusBar1);

    connect(b_BrowseZipFile, &QPushButton::clicked, this, &TFileListMgrForm::b_BrowseZipFileClick);
    connect(b_SetFilter, &QPushButton::clicked, this, &TFileListMgrForm::b_SetFilterClick);
    connect(b_SelectAll, &QPushButton::clicked, this, &TFileListMgrForm::b_SelectAllClick);
    connect(b_DeselectAll, &QPushButton::clicked, this, &TFileListMgrForm::b_DeselectAllClick);
    connect(b_Close, &QPushButton::clicked, this, &TFileListMgrForm::b_CloseClick);
    connect(b_MakeFileList, &QPushButton::clicked, this, &TFileListMgrForm::b_MakeFileListClick);
}

void TFileListMgrForm::FormShow()
{
    AreaListBox->clear();
    AreaListBox->addItems(AllAreaLines());
    e_OutputFile->clear();
    e_FilterFile->clear();
    m_stopRequest = false;
}

void TFileListMgrForm::b_BrowseZipFileClick()
{
    FileDialogRequest request;
    request.kind = FileDialogKind::Save;
    request.filter = QStringLiteral("TXT Files|*.txt;*.doc|All Files|*.*");
    request.confirmOverwrite = true;
    request.mustExist = true;
    QString path = ChooseFile(this, request);
    if (path.isEmpty())
        return;
    if (path.size() <= 5 || path.right(4).compare(QStringLiteral(".txt"), Qt::CaseInsensitive) != 0)
        path += QStringLiteral(".txt");
    e_OutputFile->setText(path);
}

void TFileListMgrForm::b_SetFilterClick()
{
    e_FilterFile->setText(EditFilter());
    cb_ApplyFilter->setChecked(true);
}

void TFileListMgrForm::b_SelectAllClick()
{
    for (int i = 0; i < AreaListBox->count(); ++i)
        AreaListBox->item(i)->setSelected(true);
}

void TFileListMgrForm::b_DeselectAllClick()
{
    for (int i = 0; i < AreaListBox->count(); ++i)
        AreaListBox->item(i)->setSelected(false);
}

void TFileListMgrForm::b_CloseClick()
{
    if (b_Close->text().compare(kCancelCaption, Qt::CaseInsensitive) == 0)
        m_stopRequest = true;
    else
        close();
}

void TFileListMgrForm::SetRunning(bool running)
{
    // One run at a time: what would start another run or change this run's
    // areas or output waits until the run has ended; "Cancel" stays.
    m_running = running;
    for (QWidget* w :
         std::initializer_list<QWidget*>{b_MakeFileList, b_SelectAll, b_DeselectAll, AreaListBox,
                                         e_OutputFile, b_BrowseZipFile, b_SetFilter})
        w->setEnabled(!running);
}

void TFileListMgrForm::ShowCounts(long areaCount, long total)
{
    e_FilesIncluded->setText(QString::number(areaCount));
    e_TotalFilesIncluded->setText(QString::number(total));
}

void TFileListMgrForm::EndRun()
{
    e_FileArea->clear();
    e_FilesIncluded->setText(QStringLiteral("0"));
    e_TotalFilesIncluded->setText(QStringLiteral("0"));
    ProgressBar1->setValue(0);
    gb_Progress->hide();
    repaint();
    b_Close->setText(kCloseCaption);
    m_stopRequest = false;
    SetRunning(false);
}

namespace
{
// The running counts are drawn at most this often.
constexpr int kFileListCountsIntervalMs = 100;
} // namespace

void TFileListMgrForm::b_MakeFileListClick()
{
    if (m_running)
        return;
    const QString path = TrimControls(e_OutputFile->text());
    if (path.isEmpty()) {
        ShowInformation(QStringLiteral("Choose a file to save file list."));
        return;
    }
    {
        WindowRunDelegate ask(nullptr, nullptr, nullptr);
        if (!RemoveOldFileList(path, ask))
            return;
    }
    struct RunGuard {
        TFileListMgrForm* form;
        ~RunGuard()
        {
            if (form->m_running)
                form->EndRun();
        }
    } guard{this};
    SetRunning(true);
    gb_Progress->show();
    gb_Progress->repaint();
    b_Close->setText(kCancelCaption);
    m_stopRequest = false;

    FileListOptions options;
    for (int i = 0; i < AreaListBox->count(); ++i) {
        QListWidgetItem* item = AreaListBox->item(i);
        if (item && item->isSelected())
            options.areas.append({AreaNumberOfLine(item->text()), item->text()});
    }
    options.filter = CurrentFilterIf(cb_ApplyFilter->isChecked());
    options.path = path;
    options.areaBegun = [this](int area) {
        e_FileArea->setText(QString::number(area));
        e_FileArea->repaint();
    };

    // The counts are shown when window messages get their turn, at most
    // ten times a second (a repaint of the two edits costs as much as
    // hundreds of records), and at each area's end.
    class FileListWindowRun : public WindowRunDelegate
    {
    public:
        explicit FileListWindowRun(TFileListMgrForm* form)
            : WindowRunDelegate(form->ProgressBar1, nullptr, &form->m_stopRequest), m_form(form)
        {
            m_shown.start();
        }
        long count = 0;
        long total = 0;

    protected:
        void BeforeTurn() override
        {
            if (EventPump::Interval() > 0 && m_shown.elapsed() < kFileListCountsIntervalMs)
                return;
            m_form->ShowCounts(count, total);
            m_shown.start();
        }

    private:
        TFileListMgrForm* m_form;
        QElapsedTimer m_shown;
    } run(this);
    options.counted = [this, &run](long count, long total, bool areaDone) {
        run.count = count;
        run.total = total;
        if (areaDone)
            ShowCounts(count, total);
    };
    ::RunFileList(options, run);
}
