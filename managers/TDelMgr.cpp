#include "managers/TDelMgr.h"

#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "managers/DeletionRun.h"
#include "managers/ManagerSupport.h"
#include "managers/TSplitControl.h"
#include "managers/WindowRunDelegate.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QVBoxLayout>

#include <climits>

namespace
{

QLabel* boldCentredLabel(const QString& name, QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

} // namespace

TDelMgr::TDelMgr(QWidget* parent) : TBatchWindow(QSize(372, 430), parent)
{
    setObjectName(QStringLiteral("DelMgr"));
    setWindowTitle(QStringLiteral("File Area Deletion Manager"));

    AreaList = new QListWidget(this);
    AreaList->setObjectName(QStringLiteral("AreaList"));
    AreaList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    AreaList->setFixedWidth(236);

    Splitter = new QFrame(this);
    Splitter->setObjectName(QStringLiteral("Splitter"));
    Splitter->setFixedWidth(3);
    Splitter->setCursor(Qt::SplitHCursor);
    Splitter->installEventFilter(this);

    Panel2 = new QFrame(this);
    Panel2->setObjectName(QStringLiteral("Panel2"));
    Panel2->setFrameStyle(QFrame::Panel | QFrame::Sunken);

    GroupBox1 = new QGroupBox(QStringLiteral("File Areas Selected"), Panel2);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    L_numAreas = boldCentredLabel(QStringLiteral("L_numAreas"), GroupBox1);
    (new QVBoxLayout(GroupBox1))->addWidget(L_numAreas);

    GroupBox2 = new QGroupBox(QStringLiteral("Total Files Selected"), Panel2);
    GroupBox2->setObjectName(QStringLiteral("GroupBox2"));
    L_numFiles = boldCentredLabel(QStringLiteral("L_numFiles"), GroupBox2);
    cb_CountFiles = new QCheckBox(QStringLiteral("Count Files"), GroupBox2);
    cb_CountFiles->setObjectName(QStringLiteral("cb_CountFiles"));
    auto* group2 = new QVBoxLayout(GroupBox2);
    group2->addWidget(L_numFiles);
    group2->addWidget(cb_CountFiles);

    GroupBox3 = new QGroupBox(QStringLiteral("Filter"), Panel2);
    GroupBox3->setObjectName(QStringLiteral("GroupBox3"));
    cb_ApplyFilter = new QCheckBox(QStringLiteral("Apply Filter"), GroupBox3);
    cb_ApplyFilter->setObjectName(QStringLiteral("cb_ApplyFilter"));
    (new QVBoxLayout(GroupBox3))->addWidget(cb_ApplyFilter);

    cb_PromptFirst = new QCheckBox(QStringLiteral("Prompt First"), Panel2);
    cb_PromptFirst->setObjectName(QStringLiteral("cb_PromptFirst"));

    b_Delete = new QPushButton(QStringLiteral("&Delete"), Panel2);
    b_Delete->setObjectName(QStringLiteral("b_Delete"));
    b_Close = new QPushButton(QStringLiteral("&Close"), Panel2);
    b_Close->setObjectName(QStringLiteral("b_Close"));
    Button1 = new QPushButton(QStringLiteral("&Help"), Panel2);
    Button1->setObjectName(QStringLiteral("Button1"));
    del_Cancel = new QPushButton(QStringLiteral("Stop"), Panel2);
    del_Cancel->setObjectName(QStringLiteral("del_Cancel"));
    del_Cancel->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    QFont bold = del_Cancel->font();
    bold.setBold(true);
    del_Cancel->setFont(bold);
    del_Cancel->hide();
    for (QPushButton* b : {b_Delete, b_Close, Button1, del_Cancel})
        b->setAutoDefault(false);

    auto* panel = new QVBoxLayout(Panel2);
    panel->addWidget(GroupBox1);
    panel->addWidget(GroupBox2);
    panel->addWidget(GroupBox3);
    panel->addWidget(cb_PromptFirst);
    panel->addStretch();
    panel->addWidget(b_Delete);
    panel->addWidget(b_Close);
    panel->addWidget(Button1);
    panel->addWidget(del_Cancel);

    auto* middle = new QHBoxLayout;
    middle->setContentsMargins(0, 0, 0, 0);
    middle->setSpacing(0);
    middle->addWidget(AreaList);
    middle->addWidget(Splitter);
    middle->addWidget(Panel2, 1);

    auto* bottom = new QFrame(this);
    bottom->setObjectName(QStringLiteral("Panel1"));
    ProgressBar = new QProgressBar(bottom);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    (new QHBoxLayout(bottom))->addWidget(ProgressBar);

    StatusBar = new QStatusBar(this);
    StatusBar->setObjectName(QStringLiteral("StatusBar"));
    StatusBar->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(StatusBar);
    m_statusPanel->setTextFormat(Qt::PlainText); // names are shown as they are
    m_statusPanel->setObjectName(QStringLiteral("StatusPanel0"));
    m_statusPanel->setFixedWidth(300);
    StatusBar->addWidget(m_statusPanel);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(0, 0, 0, 0);
    top->setSpacing(0);
    top->addLayout(middle, 1);
    top->addWidget(bottom);
    top->addWidget(StatusBar);

    connect(AreaList, &QListWidget::itemSelectionChanged, this, &TDelMgr::AreaListClick);
    connect(cb_CountFiles, &QCheckBox::toggled, this, &TDelMgr::cb_CountFilesClick);
    connect(cb_ApplyFilter, &QCheckBox::toggled, this, &TDelMgr::cb_ApplyFilterClick);
    connect(b_Delete, &QPushButton::clicked, this, &TDelMgr::b_DeleteClick);
    connect(del_Cancel, &QPushButton::clicked, this, &TDelMgr::del_CancelClick);
    connect(b_Close, &QPushButton::clicked, this, &TDelMgr::b_CloseClick);
}

TDelMgr::~TDelMgr() = default;

QString TDelMgr::StatusText() const
{
    return m_statusPanel->text();
}

void TDelMgr::SetStatusText(const QString& text)
{
    m_statusPanel->setText(text);
}

void TDelMgr::FormShow()
{
    m_split = std::make_unique<TSplitControl>(this);
    AreaList->clear();
    AreaList->addItems(AllAreaLines());
    m_stopRequest = false;
    if (cb_CountFiles->isChecked())
        cb_CountFilesClick();
    else
        cb_CountFiles->setChecked(true);
}

void TDelMgr::AreaListClick()
{
    // Counting gives window messages a turn, and a selection change among
    // them would start a second count inside the first: it is noted and the
    // count is done again once the current one ends.
    if (m_counting) {
        m_recount = true;
        return;
    }
    m_counting = true;
    do {
        m_recount = false;
        CountFiles();
    } while (m_recount);
    m_counting = false;
}

void TDelMgr::CountFiles()
{
    const QList<QListWidgetItem*> selected = AreaList->selectedItems();
    L_numAreas->setText(QString::number(selected.size()));
    if (!cb_CountFiles->isChecked()) {
        L_numFiles->setText(QString());
        return;
    }
    SetStatusText(QStringLiteral("Counting Files..."));
    ProgressBar->setMaximum(int(selected.size()));
    ProgressBar->setValue(0);
    repaint();
    qint64 total = 0;
    for (int i = 0; i < AreaList->count(); ++i) {
        QListWidgetItem* item = AreaList->item(i);
        if (!item || !item->isSelected())
            continue;
        ProgressBar->setValue(ProgressBar->value() + 1);
        ProgressBar->repaint();
        const int area = AreaNumberOfLine(item->text());
        if (FileAreaExists(area)) {
            const int32_t files = AreaFileCount(area);
            if (files > 0)
                total += files;
            QCoreApplication::processEvents();
            if (m_recount)
                return; // the selection changed: counted again from the start
        }
    }
    L_numFiles->setText(QString::number(total));
    ProgressBar->setValue(0);
    SetStatusText(QString());
    repaint();
}

void TDelMgr::cb_CountFilesClick()
{
    if (cb_CountFiles->isChecked())
        AreaListClick();
}

void TDelMgr::cb_ApplyFilterClick()
{
    if (!cb_ApplyFilter->isChecked())
        return;
    SetStatusText(QStringLiteral("File Filter Name: ") + EditFilter());
}

void TDelMgr::b_DeleteClick()
{
    if (m_running)
        return;
    if (!ConfirmYesNo(QStringLiteral("Delete All Files in Selected File Areas?")))
        return;
    const bool deleteFromDisk = ConfirmYesNo(QStringLiteral("Delete Files from disk also?"));
    RunDeletion(deleteFromDisk);
}

void TDelMgr::SetRunning(bool running)
{
    // One run at a time: what would start another run, change the areas of
    // this one or close the window waits until the run has ended.
    m_running = running;
    b_Delete->setEnabled(!running);
    b_Close->setEnabled(!running);
    AreaList->setEnabled(!running);
    cb_CountFiles->setEnabled(!running);
    del_Cancel->setVisible(running);
}

void TDelMgr::RunDeletion(bool deleteFromDisk)
{
    struct RunGuard {
        TDelMgr* form;
        ~RunGuard() { form->SetRunning(false); }
    } guard{this};
    SetRunning(true);

    DeletionOptions options;
    for (int i = 0; i < AreaList->count(); ++i) {
        QListWidgetItem* item = AreaList->item(i);
        if (item && item->isSelected())
            options.areas.append(AreaNumberOfLine(item->text()));
    }
    options.applyFilter = cb_ApplyFilter->isChecked();
    options.promptFirst = cb_PromptFirst->isChecked();
    options.deleteFromDisk = deleteFromDisk;
    // The count shown is the bar's range when there is one.
    const QString shownTotal = L_numFiles->text();
    bool totalOk = false;
    const qlonglong total = shownTotal.toLongLong(&totalOk);
    if (!shownTotal.isEmpty() && IsAllDigits(shownTotal) && totalOk && total != 0)
        options.recordTotal = std::min<qlonglong>(total, INT_MAX);

    JournaledRun journal(
        QStringLiteral("deletion manager: areas %1%2%3")
            .arg(AreaListText(options.areas))
            .arg(options.applyFilter ? QStringLiteral(", filter") : QString())
            .arg(deleteFromDisk ? QStringLiteral(", files from disk") : QString()));
    if (!WindowRunBegun(journal))
        return;
    WindowRunDelegate run(
        ProgressBar, [this](const QString& text) { SetStatusText(text); }, &m_stopRequest);
    ::RunDeletion(options, run);
    journal.End();
    del_Cancel->hide();
    repaint();
}

void TDelMgr::del_CancelClick()
{
    m_stopRequest = true;
}

void TDelMgr::b_CloseClick()
{
    if (!m_running)
        close();
}

QAbstractButton* TDelMgr::EscapeButton() const
{
    // Esc belongs to the stop button, which shows only during a run.
    return del_Cancel;
}

bool TDelMgr::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Splitter) {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            SplitterMouseDown(static_cast<QMouseEvent*>(event));
            return true;
        case QEvent::MouseMove:
            SplitterMouseMove(static_cast<QMouseEvent*>(event));
            return true;
        case QEvent::MouseButtonRelease:
            SplitterMouseUp(static_cast<QMouseEvent*>(event));
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void TDelMgr::SplitterMouseDown(QMouseEvent* event)
{
    // The second press of a double click arrives as a double-click event,
    // not as a press, so it starts no drag.
    if (!m_split || event->type() != QEvent::MouseButtonPress)
        return;
    if (event->button() != Qt::LeftButton || event->buttons() != Qt::LeftButton)
        return;
    if (event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
        return;
    m_split->StartSplit(Splitter, AreaList);
}

void TDelMgr::SplitterMouseMove(QMouseEvent* event)
{
    if (m_split && m_split->IsSplitting()) {
        const QPoint p = event->position().toPoint();
        m_split->TrackSplit(p.x(), p.y());
    }
}

void TDelMgr::SplitterMouseUp(QMouseEvent*)
{
    if (m_split && m_split->IsSplitting())
        m_split->EndSplit();
}
