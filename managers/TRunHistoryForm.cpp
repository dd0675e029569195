#include "managers/TRunHistoryForm.h"

#include "common/Dialogs.h"
#include "common/Text.h"
#include "server/RunJournal.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace
{

// A run of a hundred thousand changes would take long to list line by line;
// the first ones show, and a last line says how many more there are.
constexpr int kShownEntries = 5000;

enum RunColumn {
    RunId,
    RunTime,
    RunMachine,
    RunCommand,
    RunAdded,
    RunChanged,
    RunDeleted,
    RunMoved,
    RunTrashed,
    RunState,
    RunColumns
};

template <std::size_t N> QString FieldText(const char (&field)[N])
{
    return QString::fromUtf8(field, qsizetype(qstrnlen(field, N)));
}

} // namespace

TRunHistoryForm::TRunHistoryForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMaximizeButtonHint)
{
    setObjectName(QStringLiteral("RunHistoryForm"));
    setWindowTitle(QStringLiteral("Run History"));
    resize(860, 560);

    RunTree = new QTreeWidget(this);
    RunTree->setObjectName(QStringLiteral("RunTree"));
    RunTree->setRootIsDecorated(false);
    RunTree->setSelectionMode(QAbstractItemView::SingleSelection);
    RunTree->setHeaderLabels({QStringLiteral("Run"), QStringLiteral("Time"),
                              QStringLiteral("Machine"), QStringLiteral("Command"),
                              QStringLiteral("Added"), QStringLiteral("Changed"),
                              QStringLiteral("Deleted"), QStringLiteral("Moved"),
                              QStringLiteral("Files Trashed"), QStringLiteral("Undone")});
    EntryTree = new QTreeWidget(this);
    EntryTree->setObjectName(QStringLiteral("EntryTree"));
    EntryTree->setRootIsDecorated(false);
    EntryTree->setHeaderLabels({QStringLiteral("#"), QStringLiteral("Change"),
                                QStringLiteral("Area"), QStringLiteral("Name"),
                                QStringLiteral("Detail")});
    L_Summary = new QLabel(this);
    L_Summary->setObjectName(QStringLiteral("L_Summary"));
    b_Undo = new QPushButton(QStringLiteral("&Undo..."), this);
    b_Undo->setObjectName(QStringLiteral("b_Undo"));
    b_Undo->setEnabled(false);
    b_Refresh = new QPushButton(QStringLiteral("&Refresh"), this);
    b_Refresh->setObjectName(QStringLiteral("b_Refresh"));
    b_Close = new QPushButton(QStringLiteral("&Close"), this);
    b_Close->setObjectName(QStringLiteral("b_Close"));
    for (QPushButton* b : {b_Undo, b_Refresh, b_Close})
        b->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(L_Summary, 1);
    buttons->addWidget(b_Undo);
    buttons->addWidget(b_Refresh);
    buttons->addWidget(b_Close);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(RunTree, 3);
    layout->addWidget(EntryTree, 2);
    layout->addLayout(buttons);

    connect(RunTree, &QTreeWidget::itemSelectionChanged, this,
            &TRunHistoryForm::RunTreeSelectionChanged);
    connect(b_Undo, &QPushButton::clicked, this, &TRunHistoryForm::b_UndoClick);
    connect(b_Refresh, &QPushButton::clicked, this, &TRunHistoryForm::Refresh);
    connect(b_Close, &QPushButton::clicked, this, &QDialog::accept);
    Refresh();
}

void TRunHistoryForm::Refresh()
{
    const uint32_t chosen = m_chosen;
    RunTree->clear();
    EntryTree->clear();
    m_chosen = 0;
    b_Undo->setEnabled(false);
    QList<WcRunInfo> runs;
    if (!ListJournalRuns(0, runs)) {
        L_Summary->setText(QStringLiteral("The journal cannot be read (server error 0x%1).")
                               .arg(WcGetLastError(), 8, 16, QLatin1Char('0')));
        return;
    }
    QTreeWidgetItem* again = nullptr;
    for (const WcRunInfo& run : std::as_const(runs)) {
        auto* line = new QTreeWidgetItem(RunTree);
        line->setData(RunId, Qt::UserRole, run.Id);
        line->setText(RunId, QString::number(run.Id));
        line->setText(RunTime, RunTimeText(run.Started));
        line->setText(RunMachine, FieldText(run.Machine));
        line->setText(RunCommand, RunCommandText(run));
        line->setText(RunAdded, QString::number(run.Added));
        line->setText(RunChanged, QString::number(run.Changed));
        line->setText(RunDeleted, QString::number(run.Deleted));
        line->setText(RunMoved, QString::number(run.Moved));
        line->setText(RunTrashed, QString::number(run.FilesTrashed));
        line->setText(RunState, RunStateText(run));
        if (run.Id == chosen)
            again = line;
    }
    for (int c = 0; c < RunColumns; ++c)
        if (c != RunCommand)
            RunTree->resizeColumnToContents(c);
    L_Summary->setText(runs.isEmpty() ? QStringLiteral("No runs in the journal.")
                                      : QStringLiteral("%1 runs").arg(runs.size()));
    if (again)
        RunTree->setCurrentItem(again);
}

void TRunHistoryForm::RunTreeSelectionChanged()
{
    const QList<QTreeWidgetItem*> chosen = RunTree->selectedItems();
    m_chosen = chosen.isEmpty() ? 0 : chosen.first()->data(RunId, Qt::UserRole).toUInt();
    ShowEntries(m_chosen);
}

void TRunHistoryForm::ShowEntries(uint32_t run)
{
    EntryTree->clear();
    b_Undo->setEnabled(false);
    if (run == 0)
        return;
    WcRunInfo info{};
    if (GetJournalRun(run, info) != RunLookup::Found)
        return;
    int count = 0;
    QList<QTreeWidgetItem*> lines;
    VisitRunEntries(run, [&](const WcRunEntry& entry) {
        if (++count > kShownEntries)
            return true; // counted only
        auto* line = new QTreeWidgetItem;
        line->setText(0, QString::number(entry.Seq));
        line->setText(1, EntryKindWord(entry.Kind));
        line->setText(2, QString::number(entry.Area));
        line->setText(3, ShownRecText(entry.Name));
        line->setText(4, EntryDetail(entry));
        lines << line;
        return true;
    });
    if (count > kShownEntries) {
        auto* more = new QTreeWidgetItem;
        more->setText(1, QStringLiteral("... and %1 more").arg(count - kShownEntries));
        lines << more;
    }
    EntryTree->addTopLevelItems(lines);
    for (int c = 0; c < 4; ++c)
        EntryTree->resizeColumnToContents(c);
    b_Undo->setEnabled(info.UndoneBy == 0 && info.Open == 0);
}

void TRunHistoryForm::b_UndoClick()
{
    if (m_chosen == 0)
        return;
    UndoWithPreview(m_chosen);
    Refresh();
}

bool TRunHistoryForm::UndoWithPreview(uint32_t run)
{
    const UndoListing preview = UndoRunListed(run, true);
    if (preview.report.status != UndoStatus::Done &&
        preview.report.status != UndoStatus::Conflicts) {
        ShowWarning(UndoListingText(run, preview, true));
        return false;
    }
    WcRunInfo info{};
    GetJournalRun(run, info);
    if (!ConfirmYesNo(QStringLiteral("Undo run %1 (%2)?\n\n").arg(run).arg(RunCommandText(info)) +
                          UndoListingText(run, preview, true),
                      DialogAnswer::No))
        return false;
    const UndoListing done = UndoRunListed(run, false);
    const QString text = UndoListingText(run, done, false);
    if (done.report.status == UndoStatus::Done) {
        ShowInformation(text);
        return true;
    }
    ShowWarning(text);
    return done.report.status == UndoStatus::Conflicts;
}

bool TRunHistoryForm::UndoLastRun()
{
    const uint32_t run = LastUndoableRun();
    if (run == 0) {
        ShowInformation(QStringLiteral("There is no run to undo."));
        return false;
    }
    return UndoWithPreview(run);
}
