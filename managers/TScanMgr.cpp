#include "managers/TScanMgr.h"

#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "config/Settings.h"
#include "filter/TMatchForm.h"
#include "managers/ManagerSupport.h"
#include "managers/WindowRunDelegate.h"
#include "server/RunJournal.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{

QString Thousands(qint64 n)
{
    return QLocale::c().toString(n);
}

// The window's delegate: each record that is not plainly clean becomes a
// line of the findings list as soon as its result is known.
class ScanWindowRun : public WindowRunDelegate
{
public:
    ScanWindowRun(QProgressBar* bar, std::function<void(const QString&)> status, bool* stop,
                  std::function<void(const RunItem&)> item)
        : WindowRunDelegate(bar, std::move(status), stop), m_item(std::move(item))
    {
    }
    void Item(const RunItem& item) override { m_item(item); }
    // The signatures in use go to the status panel, not into a box.
    void Inform(const QString&) override {}

private:
    std::function<void(const RunItem&)> m_item;
};

} // namespace

TScanMgr::TScanMgr(QWidget* parent) : TBatchWindow(QSize(900, 600), parent)
{
    setObjectName(QStringLiteral("ScanMgr"));
    setWindowTitle(QStringLiteral("Scan Manager"));
    auto named = [](auto* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    auto button = [&](const char* name, const QString& caption) {
        auto* b = named(new QPushButton(caption, this), name);
        b->setAutoDefault(false);
        return b;
    };

    AreaList = named(new QListWidget(this), "AreaList");
    AreaList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    AreaList->setFixedWidth(220);

    auto* options = named(new QGroupBox(QStringLiteral("Options"), this), "gb_Options");
    cb_ApplyFilter =
        named(new QCheckBox(QStringLiteral("Apply &Filter"), options), "cb_ApplyFilter");
    cb_SetFlags = named(new QCheckBox(QStringLiteral("Set Failed &Scan"), options), "cb_SetFlags");
    cb_SetFlags->setToolTip(QStringLiteral("Off: a dry run that lists what it finds and changes "
                                           "no record."));
    cb_ClearPassed =
        named(new QCheckBox(QStringLiteral("&Clear it on Clean Files"), options), "cb_ClearPassed");
    cb_Quarantine =
        named(new QCheckBox(QStringLiteral("Move Infected to &Area:"), options), "cb_Quarantine");
    cb_QuarantineArea = named(new QComboBox(options), "cb_QuarantineArea");
    e_ClamdSocket = named(new QLineEdit(options), "e_ClamdSocket");
    auto* form = new QVBoxLayout(options);
    form->addWidget(cb_ApplyFilter);
    form->addWidget(cb_SetFlags);
    form->addWidget(cb_ClearPassed);
    form->addWidget(cb_Quarantine);
    form->addWidget(cb_QuarantineArea);
    form->addWidget(new QLabel(QStringLiteral("Daemon socket:"), options));
    form->addWidget(e_ClamdSocket);

    b_Start = button("b_Start", QStringLiteral("&Start"));
    b_Stop = button("b_Stop", QStringLiteral("Stop"));
    b_Stop->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    b_Stop->hide();
    b_Close = button("b_Close", QStringLiteral("&Close"));

    auto* side = new QVBoxLayout;
    side->addWidget(options);
    side->addWidget(b_Start);
    side->addWidget(b_Stop);
    side->addStretch();
    side->addWidget(b_Close);

    FindingList = named(new QTreeWidget(this), "FindingList");
    FindingList->setColumnCount(ColCount);
    FindingList->setHeaderLabels({QStringLiteral("Area"), QStringLiteral("Name"),
                                  QStringLiteral("Outcome"), QStringLiteral("Detail"),
                                  QStringLiteral("Action")});
    FindingList->setRootIsDecorated(false);
    FindingList->setUniformRowHeights(true);
    FindingList->header()->setStretchLastSection(true);
    FindingList->setColumnWidth(ColArea, 50);
    FindingList->setColumnWidth(ColName, 130);
    FindingList->setColumnWidth(ColOutcome, 150);
    FindingList->setColumnWidth(ColDetail, 240);
    L_Summary = named(new QLabel(this), "L_Summary");
    L_Summary->setTextFormat(Qt::PlainText);
    L_Summary->setWordWrap(true);

    auto* lists = new QVBoxLayout;
    lists->addWidget(FindingList, 1);
    lists->addWidget(L_Summary);
    auto* middle = new QHBoxLayout;
    middle->addWidget(AreaList);
    middle->addLayout(lists, 1);
    middle->addLayout(side);

    ProgressBar = named(new QProgressBar(this), "ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);
    StatusBar = named(new QStatusBar(this), "StatusBar");
    StatusBar->setSizeGripEnabled(false);
    m_statusPanel = named(new QLabel(StatusBar), "StatusPanel0");
    m_statusPanel->setTextFormat(Qt::PlainText);
    StatusBar->addWidget(m_statusPanel, 1);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 0);
    top->addLayout(middle, 1);
    top->addWidget(ProgressBar);
    top->addWidget(StatusBar);

    connect(b_Start, &QPushButton::clicked, this, &TScanMgr::b_StartClick);
    connect(b_Stop, &QPushButton::clicked, this, &TScanMgr::b_StopClick);
    connect(b_Close, &QPushButton::clicked, this, &TScanMgr::b_CloseClick);
    connect(cb_SetFlags, &QCheckBox::toggled, cb_ClearPassed, &QWidget::setEnabled);
    connect(cb_Quarantine, &QCheckBox::toggled, cb_QuarantineArea, &QWidget::setEnabled);
}

QString TScanMgr::StatusText() const
{
    return m_statusPanel->text();
}

void TScanMgr::FormShow()
{
    const QStringList lines = AllAreaLines();
    AreaList->clear();
    AreaList->addItems(lines);
    AreaList->selectAll();
    cb_QuarantineArea->clear();
    cb_QuarantineArea->addItems(lines);
    cb_QuarantineArea->setEnabled(cb_Quarantine->isChecked());
    cb_ClearPassed->setEnabled(cb_SetFlags->isChecked());
    if (e_ClamdSocket->text().isEmpty())
        e_ClamdSocket->setText(ClamdSocketSetting);
    m_stopRequest = false;
}

void TScanMgr::SetRunning(bool running)
{
    m_running = running;
    for (QWidget* w : {static_cast<QWidget*>(b_Start), static_cast<QWidget*>(b_Close),
                       static_cast<QWidget*>(AreaList),
                       static_cast<QWidget*>(findChild<QGroupBox*>(QStringLiteral("gb_Options")))})
        w->setEnabled(!running);
    b_Stop->setVisible(running);
}

ScanOptions TScanMgr::Options() const
{
    ScanOptions options;
    for (int i = 0; i < AreaList->count(); ++i)
        if (AreaList->item(i)->isSelected())
            options.areas.append(AreaNumberOfLine(AreaList->item(i)->text()));
    options.filter = CurrentFilterIf(cb_ApplyFilter->isChecked());
    options.dryRun = !cb_SetFlags->isChecked();
    options.clearPassed = cb_SetFlags->isChecked() && cb_ClearPassed->isChecked();
    if (cb_Quarantine->isChecked() && cb_QuarantineArea->currentIndex() >= 0)
        options.quarantine = AreaNumberOfLine(cb_QuarantineArea->currentText());
    options.clamdSocket = e_ClamdSocket->text().trimmed();
    return options;
}

void TScanMgr::AddLine(const RunItem& item)
{
    // A clean record whose flag stays as it was is no finding.
    if (item.outcome == RunOutcome::Done && item.action.startsWith(QLatin1String("clean")) &&
        !item.action.contains(u';'))
        return;
    auto* line = new QTreeWidgetItem(FindingList);
    line->setText(ColArea, QString::number(item.area));
    line->setText(ColName, item.name);
    // "infected: SIG; Failed Scan set" or "set Failed Scan (infected: SIG)".
    QString finding = item.action, action;
    if (item.outcome == RunOutcome::Planned) {
        const qsizetype open = finding.indexOf(QStringLiteral(" ("));
        action = QStringLiteral("would ") + finding.left(open);
        finding = finding.mid(open + 2).chopped(1);
    } else if (const qsizetype semi = finding.indexOf(QStringLiteral("; ")); semi >= 0) {
        action = finding.mid(semi + 2);
        finding = finding.left(semi);
    }
    const qsizetype colon = finding.indexOf(QStringLiteral(": "));
    line->setText(ColOutcome, colon >= 0 ? finding.left(colon) : finding);
    line->setText(ColDetail, colon >= 0 ? finding.mid(colon + 2) : QString());
    line->setText(ColAction, action);
    FindingList->scrollToItem(line);
}

void TScanMgr::b_StartClick()
{
    if (m_running)
        return;
    const ScanOptions options = Options();
    if (options.areas.isEmpty()) {
        ShowInformation(QStringLiteral("Select the File Areas to scan."));
        return;
    }
    // Only a scan that changes records is a run of the journal.
    std::unique_ptr<JournaledRun> journal;
    if (!options.dryRun) {
        QString text = QStringLiteral("scan manager: areas %1").arg(AreaListText(options.areas));
        if (options.filter)
            text += QStringLiteral(", filter");
        if (options.clearPassed)
            text += QStringLiteral(", clear passed");
        if (options.quarantine)
            text += QStringLiteral(", quarantine %1").arg(options.quarantine);
        journal = std::make_unique<JournaledRun>(text);
        if (!WindowRunBegun(*journal))
            return;
    }
    struct RunGuard {
        TScanMgr* form;
        ~RunGuard() { form->SetRunning(false); }
    } guard{this};
    SetRunning(true);
    FindingList->clear();
    L_Summary->clear();
    m_scan = ScanResult();
    ScanWindowRun run(
        ProgressBar, [this](const QString& text) { m_statusPanel->setText(text); }, &m_stopRequest,
        [this](const RunItem& item) { AddLine(item); });
    m_stopRequest = false;
    m_scan = RunScan(options, run);
    if (journal)
        journal->End();
    if (m_scan.noDaemon) {
        L_Summary->setText(QStringLiteral("No daemon answers on %1: nothing was scanned.")
                               .arg(options.clamdSocket));
        return;
    }
    QString summary =
        QStringLiteral("%1 records: %2 clean, %3 infected, %4 damaged, %5 not scanned; %6 "
                       "unchanged skipped (not read); %7 bytes read, %8. %9")
            .arg(Thousands(m_scan.records), Thousands(m_scan.clean), Thousands(m_scan.infected),
                 Thousands(m_scan.damaged), Thousands(m_scan.notScanned),
                 Thousands(m_scan.unchanged), Thousands(m_scan.bytesRead),
                 RateText(m_scan.BytesPerSecond()), m_scan.signatures);
    if (options.dryRun)
        summary += QStringLiteral(" A dry run: no record was changed.");
    else
        summary += QStringLiteral(" %1 flags set, %2 cleared, %3 moved.")
                       .arg(m_scan.flagsSet)
                       .arg(m_scan.flagsCleared)
                       .arg(m_scan.quarantined);
    if (m_scan.stopped)
        summary += QStringLiteral(" Stopped.");
    L_Summary->setText(summary);
}

void TScanMgr::b_StopClick()
{
    m_stopRequest = true;
}

void TScanMgr::b_CloseClick()
{
    if (!m_running)
        close();
}

QAbstractButton* TScanMgr::EscapeButton() const
{
    return b_Stop;
}
