#include "managers/TMoveMgr.h"

#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/Text.h"
#include "filter/SearchRecord.h"
#include "managers/ManagerSupport.h"
#include "managers/MoveRun.h"
#include "managers/WindowRunDelegate.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include <cstring>
#include <new>

namespace
{

QLabel* boldLabel(const QString& text, const QString& name, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(name);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

int shownNumber(const QLabel* label)
{
    int value = 0;
    return TryStrToInt(label->text(), value) ? value : 0;
}

int selectedArea(const QListWidget* list)
{
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : AreaNumberOfLine(selected.first()->text());
}

} // namespace

TMoveMgr::TMoveMgr(QWidget* parent) : TBatchWindow(QSize(572, 458), parent)
{
    setObjectName(QStringLiteral("MoveMgr"));
    setWindowTitle(QStringLiteral("File Area Move Manager"));

    auto* topPanel = new QWidget(this);
    topPanel->setObjectName(QStringLiteral("Panel1"));
    L_FromArea =
        boldLabel(QStringLiteral("Move Files FROM Area"), QStringLiteral("L_FromArea"), topPanel);
    L_ToArea = boldLabel(QStringLiteral("TO Area"), QStringLiteral("L_ToArea"), topPanel);
    auto* topLayout = new QHBoxLayout(topPanel);
    topLayout->addWidget(L_FromArea, 1);
    topLayout->addWidget(L_ToArea, 1, Qt::AlignRight);

    AreaList1 = new QListWidget(this);
    AreaList1->setObjectName(QStringLiteral("AreaList1"));
    AreaList1->setSelectionMode(QAbstractItemView::SingleSelection);
    AreaList1->setFixedWidth(236);
    AreaList2 = new QListWidget(this);
    AreaList2->setObjectName(QStringLiteral("AreaList2"));
    AreaList2->setSelectionMode(QAbstractItemView::SingleSelection);
    AreaList2->setFixedWidth(236);

    cb_ApplyFilter = new QCheckBox(QStringLiteral("Apply Filter"), this);
    cb_ApplyFilter->setObjectName(QStringLiteral("cb_ApplyFilter"));
    cb_CountFiles = new QCheckBox(QStringLiteral("Count Files"), this);
    cb_CountFiles->setObjectName(QStringLiteral("cb_CountFiles"));
    b_MoveToList2 = new QPushButton(QStringLiteral("&Move  Files"), this);
    b_MoveToList2->setObjectName(QStringLiteral("b_MoveToList2"));
    b_Close = new QPushButton(QStringLiteral("&Close"), this);
    b_Close->setObjectName(QStringLiteral("b_Close"));
    b_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
    b_Cancel->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    b_Cancel->hide();
    for (QPushButton* b : {b_MoveToList2, b_Close, b_Cancel})
        b->setAutoDefault(false);

    auto* centre = new QVBoxLayout;
    centre->addWidget(cb_ApplyFilter);
    centre->addWidget(cb_CountFiles);
    centre->addStretch();
    centre->addWidget(b_MoveToList2);
    centre->addWidget(b_Close);
    centre->addWidget(b_Cancel);
    centre->addStretch();

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->addWidget(AreaList1);
    middle->addLayout(centre, 1);
    middle->addWidget(AreaList2);

    auto* bottomPanel = new QWidget(this);
    bottomPanel->setObjectName(QStringLiteral("Panel2"));
    Label1 = new QLabel(QStringLiteral("Files In Area:"), bottomPanel);
    Label1->setObjectName(QStringLiteral("Label1"));
    L_numFiles1 = new QLabel(QStringLiteral("#Areas"), bottomPanel);
    L_numFiles1->setObjectName(QStringLiteral("L_numFiles1"));
    Label2 = new QLabel(QStringLiteral("Files In Area:"), bottomPanel);
    Label2->setObjectName(QStringLiteral("Label2"));
    L_NumFiles2 = new QLabel(QStringLiteral("#Areas"), bottomPanel);
    L_NumFiles2->setObjectName(QStringLiteral("L_NumFiles2"));
    ProgressBar = new QProgressBar(bottomPanel);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    auto* bottomLayout = new QHBoxLayout(bottomPanel);
    bottomLayout->addWidget(Label1);
    bottomLayout->addWidget(L_numFiles1);
    bottomLayout->addWidget(ProgressBar, 1);
    bottomLayout->addWidget(Label2);
    bottomLayout->addWidget(L_NumFiles2);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(StatusBar1);
    m_statusPanel->setTextFormat(Qt::PlainText); // names are shown as they are
    m_statusPanel->setObjectName(QStringLiteral("StatusPanel0"));
    m_statusPanel->setFixedWidth(300);
    StatusBar1->addWidget(m_statusPanel);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    top->addWidget(topPanel);
    top->addLayout(middle, 1);
    top->addWidget(bottomPanel);
    top->addWidget(StatusBar1);

    connect(AreaList1, &QListWidget::itemSelectionChanged, this, &TMoveMgr::AreaList1Click);
    connect(AreaList2, &QListWidget::itemSelectionChanged, this, &TMoveMgr::AreaList2Click);
    connect(cb_CountFiles, &QCheckBox::toggled, this, &TMoveMgr::cb_CountFilesClick);
    connect(cb_ApplyFilter, &QCheckBox::toggled, this, &TMoveMgr::cb_ApplyFilterClick);
    connect(b_MoveToList2, &QPushButton::clicked, this, &TMoveMgr::b_MoveToList2Click);
    connect(b_Cancel, &QPushButton::clicked, this, &TMoveMgr::b_CancelClick);
    connect(b_Close, &QPushButton::clicked, this, &TMoveMgr::b_CloseClick);
}

QString TMoveMgr::StatusText() const
{
    return m_statusPanel->text();
}

void TMoveMgr::SetStatusText(const QString& text)
{
    m_statusPanel->setText(text);
    emit StatusTextChanged(text);
}

void TMoveMgr::FormShow()
{
    m_stopRequest = false;
    b_Cancel->hide();
    if (cb_CountFiles->isChecked())
        cb_CountFilesClick();
    else
        cb_CountFiles->setChecked(true);
    const QStringList lines = AllAreaLines();
    AreaList1->clear();
    AreaList2->clear();
    AreaList1->addItems(lines);
    AreaList2->addItems(lines);
}

void TMoveMgr::AreaList1Click()
{
    const int area = selectedArea(AreaList1);
    if (area < 0)
        return;
    L_FromArea->setText(QStringLiteral("Move Files FROM Area: %1").arg(area));
    L_FromArea->repaint();
    L_numFiles1->setText(QStringLiteral("0"));
    L_numFiles1->repaint();
    if (FileAreaExists(area)) {
        L_numFiles1->setText(QString::number(AreaFileCount(area)));
        L_numFiles1->repaint();
    }
}

void TMoveMgr::AreaList2Click()
{
    const int area = selectedArea(AreaList2);
    if (area < 0)
        return;
    L_ToArea->setText(QStringLiteral("TO Area: %1").arg(area));
    L_ToArea->repaint();
    L_NumFiles2->setText(QStringLiteral("0"));
    L_NumFiles2->repaint();
    if (FileAreaExists(area)) {
        const int32_t total = AreaFileCount(area);
        QCoreApplication::processEvents();
        L_NumFiles2->setText(QString::number(total));
        L_NumFiles2->repaint();
    }
}

void TMoveMgr::cb_CountFilesClick()
{
    if (!cb_CountFiles->isChecked())
        return;
    AreaList1Click();
    AreaList2Click();
}

void TMoveMgr::cb_ApplyFilterClick()
{
    if (!cb_ApplyFilter->isChecked())
        return;
    SetStatusText(QStringLiteral("File Filter Name: ") + EditFilter());
}

void TMoveMgr::SetRunning(bool running)
{
    // One move at a time: starting another, closing the window, or choosing
    // other areas (whose counts the move keeps in step) waits for its end.
    m_running = running;
    for (QWidget* w : std::initializer_list<QWidget*>{b_MoveToList2, b_Close, AreaList1, AreaList2,
                                                      cb_CountFiles})
        w->setEnabled(!running);
    b_Cancel->setVisible(running);
}

void TMoveMgr::EndMove()
{
    m_stopRequest = false;
    b_Cancel->hide();
    ProgressBar->setValue(0);
    SetStatusText(QString());
    repaint();
    SetRunning(false);
}

void TMoveMgr::AdjustCounts()
{
    L_NumFiles2->setText(QString::number(shownNumber(L_NumFiles2) + 1));
    L_numFiles1->setText(QString::number(shownNumber(L_numFiles1) - 1));
}

void TMoveMgr::b_MoveToList2Click()
{
    if (m_running)
        return;
    if (AreaList1->selectedItems().isEmpty() || AreaList2->selectedItems().isEmpty()) {
        ShowInformation(QStringLiteral(
            "You must select a file area in both lists to preform a move operation."));
        return;
    }
    const int source = selectedArea(AreaList1);
    const int destination = selectedArea(AreaList2);
    if (source == destination) {
        ShowWarning(QStringLiteral("Can not move files to the same file area."));
        return;
    }
    FileAreaRec sourceRec{};
    if (!ReadFileArea(source, sourceRec)) {
        ShowInformation(QStringLiteral("Error: Invalid File Area reference in List 1."));
        return;
    }
    const int32_t sourceTotal = AreaFileCount(source);
    QCoreApplication::processEvents();
    L_numFiles1->setText(QString::number(sourceTotal));
    FileAreaRec destinationRec{};
    if (!ReadFileArea(destination, destinationRec)) {
        ShowInformation(QStringLiteral("Error: Invalid File Area reference in List 2."));
        return;
    }
    const int32_t destinationTotal = AreaFileCount(destination);
    QCoreApplication::processEvents();
    L_NumFiles2->setText(QString::number(destinationTotal));

    if (!ConfirmYesNo(QStringLiteral("Move Files in Area \"%1\" from # %2 to file area # %3")
                          .arg(RecText(sourceRec.Name), QString::number(source),
                               QString::number(destination)))) {
        EndMove();
        return;
    }
    try {
        RunMove(source, destination, sourceTotal);
    } catch (const std::bad_alloc&) {
        // The run has already been set idle while the error travelled here.
        ShowWarning(QStringLiteral("Out Of Memory. Can not create list."));
    }
}

void TMoveMgr::RunMove(int source, int destination, int sourceTotal)
{
    struct RunGuard {
        TMoveMgr* form;
        ~RunGuard()
        {
            if (form->m_running)
                form->EndMove();
        }
    } guard{this};

    const int barMax = std::max(0, sourceTotal);
    ProgressBar->setRange(0, barMax);
    ProgressBar->setValue(0);
    m_stopRequest = false;
    SetRunning(true);
    m_notMoved = false;

    MoveOptions options;
    options.from = source;
    options.to = destination;
    options.applyFilter = cb_ApplyFilter->isChecked();
    options.moveFiles = ConfirmYesNo(QStringLiteral(
        "Would you also like to move the actual file the resides on disk? (If you choose NO, "
        "then just the file record is moved)"));
    options.sourceTotal = barMax;
    JournaledRun journal(QStringLiteral("move manager: area %1 to %2%3%4")
                             .arg(source)
                             .arg(destination)
                             .arg(options.applyFilter ? QStringLiteral(", filter") : QString())
                             .arg(options.moveFiles ? QStringLiteral(", files") : QString()));
    if (!WindowRunBegun(journal))
        return;

    // The window's side of the run: each record moved changes the counts
    // shown, and the closing message comes once the window is idle again.
    class MoveWindowRun : public WindowRunDelegate
    {
    public:
        explicit MoveWindowRun(TMoveMgr* form)
            : WindowRunDelegate(
                  form->ProgressBar,
                  [form](const QString& text) {
                      form->SetStatusText(text);
                      form->StatusBar1->repaint();
                  },
                  &form->m_stopRequest),
              m_form(form)
        {
        }
        void Item(const RunItem& item) override
        {
            if (item.outcome == RunOutcome::Done)
                m_form->AdjustCounts();
        }
        void Inform(const QString& text) override
        {
            if (m_form->m_running)
                m_form->EndMove();
            WindowRunDelegate::Inform(text);
        }

    private:
        TMoveMgr* m_form;
    } run(this);
    m_notMoved = ::RunMove(options, run).notMoved;
    journal.End();
}

void TMoveMgr::b_CancelClick()
{
    m_stopRequest = true;
}

void TMoveMgr::b_CloseClick()
{
    if (!m_running)
        close();
}

QAbstractButton* TMoveMgr::EscapeButton() const
{
    // Esc belongs to the stop button, which shows only during a run.
    return b_Cancel;
}
