#include "managers/TDupMgr.h"

#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "managers/DeletionRun.h"
#include "managers/ManagerSupport.h"
#include "managers/WindowRunDelegate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStatusBar>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{

// More lines than this make the missing list slow to build and no easier to
// read; the count says how many there are.
constexpr qsizetype kMissingLinesShown = 10000;

// Where a member line's record lives: its area and name.
constexpr int kAreaRole = Qt::UserRole;
constexpr int kNameRole = Qt::UserRole + 1;

QString Thousands(qint64 n)
{
    return QLocale::c().toString(n);
}

QString RuleWord(KeepRule rule, int area)
{
    switch (rule) {
    case KeepRule::Oldest:
        return QStringLiteral("oldest");
    case KeepRule::Newest:
        return QStringLiteral("newest");
    case KeepRule::InArea:
        return QStringLiteral("area %1").arg(area);
    case KeepRule::ByHand:
        break;
    }
    return QStringLiteral("by hand");
}

QString DateText(const FILETIME& ft)
{
    return FileTimeToDateText(ft) + QLatin1Char(' ') + FileTimeToTimeText(ft);
}

// The window's delegate: each record's result goes into the Result column
// of every line that shows that record.
class DupeWindowRun : public WindowRunDelegate
{
public:
    DupeWindowRun(QProgressBar* bar, std::function<void(const QString&)> status, bool* stop,
                  std::function<void(const RunItem&)> item)
        : WindowRunDelegate(bar, std::move(status), stop), m_item(std::move(item))
    {
    }
    void Item(const RunItem& item) override { m_item(item); }

private:
    std::function<void(const RunItem&)> m_item;
};

} // namespace

TDupMgr::TDupMgr(QWidget* parent) : TBatchWindow(QSize(900, 620), parent)
{
    setObjectName(QStringLiteral("DupMgr"));
    setWindowTitle(QStringLiteral("Duplicate File Manager"));

    auto named = [](QWidget* w, const char* name) {
        w->setObjectName(QString::fromLatin1(name));
        return w;
    };
    auto button = [&](QPushButton*& b, const char* name, const QString& caption, QWidget* in) {
        b = new QPushButton(caption, in);
        named(b, name);
        b->setAutoDefault(false);
        return b;
    };

    AreaList = new QListWidget(this);
    named(AreaList, "AreaList");
    AreaList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    AreaList->setFixedWidth(220);

    gb_FindBy = new QGroupBox(QStringLiteral("Find Duplicates"), this);
    named(gb_FindBy, "gb_FindBy");
    rb_ByName = new QRadioButton(QStringLiteral("By &Name"), gb_FindBy);
    named(rb_ByName, "rb_ByName");
    rb_ByContent = new QRadioButton(QStringLiteral("By &Content"), gb_FindBy);
    named(rb_ByContent, "rb_ByContent");
    rb_ByBoth = new QRadioButton(QStringLiteral("&Both"), gb_FindBy);
    named(rb_ByBoth, "rb_ByBoth");
    rb_ByBoth->setChecked(true);
    auto* findBy = new QVBoxLayout(gb_FindBy);
    findBy->addWidget(rb_ByName);
    findBy->addWidget(rb_ByContent);
    findBy->addWidget(rb_ByBoth);

    button(b_Scan, "b_Scan", QStringLiteral("&Scan"), this);
    button(b_Stop, "b_Stop", QStringLiteral("Stop"), this);
    b_Stop->setIcon(style()->standardIcon(QStyle::SP_BrowserStop));
    QFont bold = b_Stop->font();
    bold.setBold(true);
    b_Stop->setFont(bold);
    b_Stop->hide();

    gb_Keep = new QGroupBox(QStringLiteral("Keep"), this);
    named(gb_Keep, "gb_Keep");
    cb_KeepRule = new QComboBox(gb_Keep);
    named(cb_KeepRule, "cb_KeepRule");
    cb_KeepRule->addItems({QStringLiteral("The Oldest"), QStringLiteral("The Newest"),
                           QStringLiteral("The One in Area"), QStringLiteral("By Hand")});
    cb_KeepArea = new QComboBox(gb_Keep);
    named(cb_KeepArea, "cb_KeepArea");
    button(b_KeepGroup, "b_KeepGroup", QStringLiteral("Apply to &Group"), gb_Keep);
    button(b_KeepAll, "b_KeepAll", QStringLiteral("Apply to &All Groups"), gb_Keep);
    auto* keep = new QVBoxLayout(gb_Keep);
    keep->addWidget(cb_KeepRule);
    keep->addWidget(cb_KeepArea);
    keep->addWidget(b_KeepGroup);
    keep->addWidget(b_KeepAll);

    cb_PromptFirst = new QCheckBox(QStringLiteral("Prompt First"), this);
    named(cb_PromptFirst, "cb_PromptFirst");
    button(b_Delete, "b_Delete", QStringLiteral("&Delete"), this);
    button(b_Close, "b_Close", QStringLiteral("&Close"), this);

    auto* side = new QVBoxLayout;
    side->addWidget(gb_FindBy);
    side->addWidget(b_Scan);
    side->addWidget(b_Stop);
    side->addWidget(gb_Keep);
    side->addWidget(cb_PromptFirst);
    side->addStretch();
    side->addWidget(b_Delete);
    side->addWidget(b_Close);

    GroupTree = new QTreeWidget(this);
    named(GroupTree, "GroupTree");
    GroupTree->setColumnCount(ColCount);
    GroupTree->setHeaderLabels({QStringLiteral("Area / Name"), QStringLiteral("Size"),
                                QStringLiteral("Date"), QStringLiteral("Description"),
                                QStringLiteral("Uploader"), QStringLiteral("Result")});
    GroupTree->setUniformRowHeights(true);
    GroupTree->header()->setStretchLastSection(true);
    GroupTree->setColumnWidth(ColName, 260);

    L_Summary = new QLabel(this);
    named(L_Summary, "L_Summary");
    L_Summary->setTextFormat(Qt::PlainText);
    MissingList = new QListWidget(this);
    named(MissingList, "MissingList");
    MissingList->setUniformItemSizes(true);
    MissingList->setMaximumHeight(120);
    auto* missingLabel = new QLabel(QStringLiteral("Records whose file is missing:"), this);
    named(missingLabel, "L_Missing");

    auto* lists = new QVBoxLayout;
    lists->addWidget(GroupTree, 1);
    lists->addWidget(L_Summary);
    lists->addWidget(missingLabel);
    lists->addWidget(MissingList);

    auto* middle = new QHBoxLayout;
    middle->addWidget(AreaList);
    middle->addLayout(lists, 1);
    middle->addLayout(side);

    ProgressBar = new QProgressBar(this);
    named(ProgressBar, "ProgressBar");
    ProgressBar->setRange(0, 100);
    ProgressBar->setValue(0);
    ProgressBar->setTextVisible(false);

    StatusBar = new QStatusBar(this);
    named(StatusBar, "StatusBar");
    StatusBar->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(StatusBar);
    m_statusPanel->setTextFormat(Qt::PlainText); // names are shown as they are
    named(m_statusPanel, "StatusPanel0");
    StatusBar->addWidget(m_statusPanel, 1);

    auto* top = new QVBoxLayout(this);
    top->setContentsMargins(4, 4, 4, 0);
    top->addLayout(middle, 1);
    top->addWidget(ProgressBar);
    top->addWidget(StatusBar);

    connect(b_Scan, &QPushButton::clicked, this, &TDupMgr::b_ScanClick);
    connect(b_Stop, &QPushButton::clicked, this, &TDupMgr::b_StopClick);
    connect(b_KeepGroup, &QPushButton::clicked, this, &TDupMgr::b_KeepGroupClick);
    connect(b_KeepAll, &QPushButton::clicked, this, &TDupMgr::b_KeepAllClick);
    connect(b_Delete, &QPushButton::clicked, this, &TDupMgr::b_DeleteClick);
    connect(b_Close, &QPushButton::clicked, this, &TDupMgr::b_CloseClick);
    connect(GroupTree, &QTreeWidget::itemChanged, this, &TDupMgr::GroupTreeItemChanged);
}

QString TDupMgr::StatusText() const
{
    return m_statusPanel->text();
}

void TDupMgr::SetStatusText(const QString& text)
{
    m_statusPanel->setText(text);
}

void TDupMgr::FormShow()
{
    const QStringList lines = AllAreaLines();
    AreaList->clear();
    AreaList->addItems(lines);
    AreaList->selectAll();
    cb_KeepArea->clear();
    cb_KeepArea->addItems(lines);
    m_stopRequest = false;
    b_Delete->setEnabled(false);
}

void TDupMgr::SetRunning(bool running)
{
    // One run at a time: what would start another run, change this one's
    // list or close the window waits until the run has ended.
    m_running = running;
    for (QWidget* w : {static_cast<QWidget*>(b_Scan), static_cast<QWidget*>(b_Close),
                       static_cast<QWidget*>(AreaList), static_cast<QWidget*>(gb_FindBy),
                       static_cast<QWidget*>(gb_Keep), static_cast<QWidget*>(GroupTree)})
        w->setEnabled(!running);
    // Delete acts on the groups of the last scan, until it has deleted.
    b_Delete->setEnabled(!running && !m_scan.groups.isEmpty());
    b_Stop->setVisible(running);
}

void TDupMgr::b_ScanClick()
{
    if (m_running)
        return;
    struct RunGuard {
        TDupMgr* form;
        ~RunGuard() { form->SetRunning(false); }
    } guard{this};
    SetRunning(true);
    GroupTree->clear();
    MissingList->clear();
    L_Summary->clear();
    m_scan = DupeResult();

    DupeOptions options;
    for (int i = 0; i < AreaList->count(); ++i)
        if (AreaList->item(i)->isSelected())
            options.areas.append(AreaNumberOfLine(AreaList->item(i)->text()));
    options.by = rb_ByName->isChecked()      ? DupeBy::Name
                 : rb_ByContent->isChecked() ? DupeBy::Content
                                             : DupeBy::Both;
    QStringList unread;
    DupeWindowRun run(
        ProgressBar, [this](const QString& text) { SetStatusText(text); }, &m_stopRequest,
        [&unread](const RunItem& item) {
            unread << AreaLinePrefix(item.area) + item.name + QStringLiteral(": ") + item.action;
        });
    m_stopRequest = false;
    m_scan = RunDuplicateScan(options, run);
    ShowScan();
    if (!unread.isEmpty())
        ShowWarning(QStringLiteral("These files could not be read and are left out:\r") +
                    unread.mid(0, 20).join(QLatin1Char('\r')) +
                    (unread.size() > 20 ? QStringLiteral("\r...") : QString()));
}

void TDupMgr::ShowScan()
{
    m_filling = true;
    GroupTree->clear();
    m_ruleShown.clear();
    for (qsizetype g = 0; g < m_scan.groups.size(); ++g) {
        const DupeGroup& group = m_scan.groups[g];
        auto* line = new QTreeWidgetItem(GroupTree);
        for (const DupeRecord& r : group.members) {
            auto* member = new QTreeWidgetItem(line);
            member->setText(ColName, AreaLinePrefix(r.area) + r.name);
            member->setText(ColSize, Thousands(r.size));
            member->setText(ColDate, DateText(r.fileTime));
            member->setText(ColDescription, ShownText(r.description));
            member->setText(ColUploader, ShownText(r.uploader));
            member->setText(ColResult, r.present ? QString() : QStringLiteral("file missing"));
            member->setData(ColName, kAreaRole, r.area);
            member->setData(ColName, kNameRole, r.name);
            member->setFlags(member->flags() | Qt::ItemIsUserCheckable);
            member->setCheckState(ColName, Qt::Unchecked);
        }
        m_ruleShown.append(QString());
    }
    m_filling = false;
    // Every group starts with the rule chosen (the oldest stays, unless changed).
    for (int g = 0; g < int(m_scan.groups.size()); ++g)
        ApplyRule(g);
    GroupTree->expandAll();

    MissingList->clear();
    for (qsizetype i = 0; i < m_scan.missing.size() && i < kMissingLinesShown; ++i) {
        const DupeRecord& r = m_scan.missing[i];
        MissingList->addItem(AreaLinePrefix(r.area) + r.name + QStringLiteral("  ") +
                             Thousands(r.size) + QStringLiteral("  ") + DateText(r.fileTime));
    }
    if (m_scan.missing.size() > kMissingLinesShown)
        MissingList->addItem(QStringLiteral("... and %1 more")
                                 .arg(Thousands(m_scan.missing.size() - kMissingLinesShown)));

    qint64 space = 0, copies = 0;
    for (const DupeGroup& group : m_scan.groups) {
        space += group.SpaceTaken();
        copies += group.members.size();
    }
    L_Summary->setText(
        m_scan.stopped ? QStringLiteral("Scan stopped.")
                       : QStringLiteral("%1 groups, %2 records, %3 bytes in the copies; %4 records "
                                        "without their file; %5 records scanned, %6 files read")
                             .arg(Thousands(m_scan.groups.size()), Thousands(copies),
                                  Thousands(space), Thousands(m_scan.missing.size()),
                                  Thousands(m_scan.records), Thousands(m_scan.filesRead)));
}

void TDupMgr::ShowGroupLine(int g)
{
    if (g < 0 || g >= int(m_scan.groups.size()) || g >= GroupTree->topLevelItemCount())
        return;
    const DupeGroup& group = m_scan.groups[g];
    QTreeWidgetItem* line = GroupTree->topLevelItem(g);
    const QString what =
        group.kind == DupeKind::Name
            ? QStringLiteral("By name: %1").arg(group.members.first().name)
            : QStringLiteral("By content: %1 bytes, SHA-256 %2")
                  .arg(Thousands(group.members.first().diskSize), group.key.left(16));
    line->setText(ColName, what);
    line->setText(ColSize, Thousands(group.SpaceTaken()));
    line->setText(ColDescription, QStringLiteral("%1 records, %2 bytes, keep: %3")
                                      .arg(QString::number(group.members.size()),
                                           Thousands(group.SpaceTaken()), m_ruleShown.value(g)));
}

void TDupMgr::ApplyRule(int g)
{
    if (g < 0 || g >= int(m_scan.groups.size()))
        return;
    const KeepRule rule = RuleAt(cb_KeepRule->currentIndex());
    KeepChoice choice;
    choice.rule = rule;
    choice.area =
        cb_KeepArea->currentIndex() >= 0 ? AreaNumberOfLine(cb_KeepArea->currentText()) : 0;
    QTreeWidgetItem* line = GroupTree->topLevelItem(g);
    if (rule == KeepRule::ByHand) {
        m_ruleShown[g] = RuleWord(rule, 0); // the marks stay as they are, to be set by hand
    } else {
        const QList<bool> kept = KeptMembers(m_scan.groups[g], choice);
        m_filling = true;
        for (int i = 0; i < line->childCount(); ++i)
            line->child(i)->setCheckState(ColName, kept.value(i) ? Qt::Checked : Qt::Unchecked);
        m_filling = false;
        m_ruleShown[g] = RuleWord(rule, choice.area);
    }
    ShowGroupLine(g);
}

int TDupMgr::GroupOfItem(const QTreeWidgetItem* item) const
{
    if (!item)
        return -1;
    const QTreeWidgetItem* top = item->parent() ? item->parent() : item;
    return GroupTree->indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(top));
}

void TDupMgr::GroupTreeItemChanged(QTreeWidgetItem* item, int column)
{
    // A mark set by a click makes the group's choice one by hand.
    if (m_filling || column != ColName || !item || !item->parent())
        return;
    const int g = GroupOfItem(item);
    if (g < 0 || g >= int(m_ruleShown.size()))
        return;
    m_ruleShown[g] = RuleWord(KeepRule::ByHand, 0);
    ShowGroupLine(g);
}

void TDupMgr::b_KeepGroupClick()
{
    ApplyRule(GroupOfItem(GroupTree->currentItem()));
}

void TDupMgr::b_KeepAllClick()
{
    for (int g = 0; g < int(m_scan.groups.size()); ++g)
        ApplyRule(g);
}

QList<QList<bool>> TDupMgr::KeepMarks() const
{
    QList<QList<bool>> marks;
    for (int g = 0; g < GroupTree->topLevelItemCount(); ++g) {
        const QTreeWidgetItem* line = GroupTree->topLevelItem(g);
        QList<bool> kept;
        for (int i = 0; i < line->childCount(); ++i)
            kept.append(line->child(i)->checkState(ColName) == Qt::Checked);
        marks.append(kept);
    }
    return marks;
}

void TDupMgr::b_DeleteClick()
{
    if (m_running)
        return;
    DeletionOptions options;
    options.records = RecordsToDelete(m_scan.groups, KeepMarks(), &options.keepFiles);
    if (options.records.isEmpty()) {
        ShowInformation(QStringLiteral("No Duplicate Records to Delete."));
        return;
    }
    if (!ConfirmYesNo(QStringLiteral("Delete %1 Duplicate Records?").arg(options.records.size())))
        return;
    options.deleteFromDisk = ConfirmYesNo(QStringLiteral("Delete Files from disk also?"));
    options.promptFirst = cb_PromptFirst->isChecked();
    JournaledRun journal(
        QStringLiteral("duplicate manager: delete %1 records%2")
            .arg(options.records.size())
            .arg(options.deleteFromDisk ? QStringLiteral(", files from disk") : QString()));
    if (!WindowRunBegun(journal))
        return;

    struct RunGuard {
        TDupMgr* form;
        ~RunGuard() { form->SetRunning(false); }
    } guard{this};
    SetRunning(true);
    auto markLines = [this](const RunItem& item) {
        const QByteArray key = FoldedName(ToBytes(item.name));
        for (int g = 0; g < GroupTree->topLevelItemCount(); ++g) {
            QTreeWidgetItem* line = GroupTree->topLevelItem(g);
            for (int i = 0; i < line->childCount(); ++i) {
                QTreeWidgetItem* member = line->child(i);
                if (member->data(ColName, kAreaRole).toInt() == item.area &&
                    FoldedName(ToBytes(member->data(ColName, kNameRole).toString())) == key) {
                    member->setText(ColResult, item.action);
                    if (item.outcome == RunOutcome::Done)
                        member->setFlags(member->flags() & ~Qt::ItemIsUserCheckable);
                }
            }
        }
    };
    DupeWindowRun run(
        ProgressBar, [this](const QString& text) { SetStatusText(text); }, &m_stopRequest,
        markLines);
    m_stopRequest = false;
    RunDeletion(options, run);
    journal.End();
    b_Stop->hide();
    // What was deleted is no longer a duplicate: Delete waits for the next scan.
    m_scan.groups.clear();
    repaint();
}

void TDupMgr::b_StopClick()
{
    m_stopRequest = true;
}

void TDupMgr::b_CloseClick()
{
    if (!m_running)
        close();
}

QAbstractButton* TDupMgr::EscapeButton() const
{
    // Esc belongs to the stop button, which shows only during a run.
    return b_Stop;
}
