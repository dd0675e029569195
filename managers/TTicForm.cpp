#include "managers/TTicForm.h"

#include "archive/TUnzipFile.h"
#include "common/Dialogs.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "managers/WindowRunDelegate.h"
#include "server/RunJournal.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

TTicForm::TTicForm(QWidget* parent) : TBatchWindow(QSize(860, 520), parent)
{
    setObjectName(QStringLiteral("TicForm"));
    setWindowTitle(QStringLiteral("Process Incoming TIC Files"));

    L_Inbound = new QLabel(this);
    L_Inbound->setObjectName(QStringLiteral("L_Inbound"));
    TicList = new QTreeWidget(this);
    TicList->setObjectName(QStringLiteral("TicList"));
    TicList->setRootIsDecorated(false);
    TicList->setSelectionMode(QAbstractItemView::NoSelection);
    TicList->setColumnCount(ColCount);
    TicList->setHeaderLabels({QStringLiteral("TIC"), QStringLiteral("Echo"), QStringLiteral("Area"),
                              QStringLiteral("File"), QStringLiteral("Action"),
                              QStringLiteral("Reason")});
    TicList->header()->setStretchLastSection(true);
    L_Summary = new QLabel(this);
    L_Summary->setObjectName(QStringLiteral("L_Summary"));
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ProgressBar->setTextVisible(false);
    b_Process = new QPushButton(QStringLiteral("&Process"), this);
    b_Process->setObjectName(QStringLiteral("b_Process"));
    b_Process->setAutoDefault(false);
    b_Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
    b_Cancel->setAutoDefault(false);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ProgressBar, 1);
    buttons->addWidget(b_Process);
    buttons->addWidget(b_Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(L_Inbound);
    layout->addWidget(TicList, 1);
    layout->addWidget(L_Summary);
    layout->addLayout(buttons);

    connect(b_Process, &QPushButton::clicked, this, &TTicForm::b_ProcessClick);
    connect(b_Cancel, &QPushButton::clicked, this, &TTicForm::b_CancelClick);
}

QAbstractButton* TTicForm::EscapeButton() const
{
    return b_Cancel;
}

QString TTicForm::SummaryText() const
{
    return L_Summary->text();
}

bool TTicForm::ReadSettings()
{
    // The program's settings file, as the setup window writes it.
    QStringList problems;
    m_settings = ReadTicSettings(IniFile(ProgramFolder + QStringLiteral("vuru.cfg")), &problems);
    L_Inbound->setText(QStringLiteral("Inbound: ") + m_settings.inbound);
    QString why;
    if (!problems.isEmpty())
        why = problems.join(QStringLiteral("; "));
    else if (m_settings.areas.isEmpty())
        why = QStringLiteral("No file echoes are set up (Setup, File Echoes).");
    else if (m_settings.inbound.trimmed().isEmpty())
        why = QStringLiteral("No inbound folder is set (Setup, File Echoes).");
    else if (!QFileInfo(m_settings.inbound).isDir())
        why = QStringLiteral("The inbound folder %1 is not there.").arg(m_settings.inbound);
    if (why.isEmpty())
        return true;
    L_Summary->setText(why);
    return false;
}

void TTicForm::FormShow()
{
    m_processed = false;
    m_rows.clear();
    TicList->clear();
    ProgressBar->setValue(0);
    b_Process->setEnabled(false);
    if (!ReadSettings())
        return;
    TicRunOptions options;
    options.settings = m_settings;
    options.dryRun = true;
    WindowRunDelegate run(ProgressBar, {}, nullptr);
    const TicRunResult preview = RunTicIntake(options, run);
    ShowRows(preview.rows, preview, true);
    b_Process->setEnabled(!preview.rows.isEmpty());
}

void TTicForm::ShowRows(const QList<TicRow>& rows, const TicRunResult& result, bool dryRun)
{
    m_rows = rows;
    TicList->clear();
    for (const TicRow& row : rows) {
        auto* line = new QTreeWidgetItem(TicList);
        line->setText(ColTic, row.tic);
        line->setText(ColEcho, row.echo);
        line->setText(ColArea, row.area > 0 ? QString::number(row.area) : QString());
        line->setText(ColFile, row.file);
        line->setText(ColAction, row.actionText);
        line->setText(ColReason, row.reason);
    }
    for (int c = 0; c < ColReason; ++c)
        TicList->resizeColumnToContents(c);
    if (rows.isEmpty() && !result.noInbound) {
        L_Summary->setText(QStringLiteral("No TIC files in the inbound."));
        return;
    }
    L_Summary->setText(QStringLiteral("%1 %2, %3 duplicate, %4 waiting, %5 bad, %6 failed%7")
                           .arg(result.placed)
                           .arg(dryRun ? QStringLiteral("to place") : QStringLiteral("placed"))
                           .arg(result.duplicates)
                           .arg(result.waiting)
                           .arg(result.bad)
                           .arg(result.failed)
                           .arg(result.stopped ? QStringLiteral(" (stopped)") : QString()));
}

void TTicForm::b_ProcessClick()
{
    if (m_running || m_processed)
        return;
    // The settings again: they may have changed since the preview.
    if (!ReadSettings()) {
        b_Process->setEnabled(false);
        return;
    }
    JournaledRun journal(QStringLiteral("tic window: process %1").arg(m_settings.inbound));
    if (!WindowRunBegun(journal))
        return;
    struct RunGuard {
        TTicForm* form;
        ~RunGuard()
        {
            form->m_running = false;
            form->b_Cancel->setText(QStringLiteral("Cancel"));
        }
    } guard{this};
    m_running = true;
    m_stopRequest = false;
    b_Process->setEnabled(false);
    b_Cancel->setText(QStringLiteral("Stop"));
    TUnzipFile unzip;
    TicRunOptions options;
    options.settings = m_settings;
    options.unzip = unzip.IsLoaded() ? &unzip : nullptr;
    WindowRunDelegate run(
        ProgressBar, [this](const QString& text) { L_Summary->setText(text); }, &m_stopRequest);
    const TicRunResult result = RunTicIntake(options, run);
    journal.End();
    m_processed = true;
    ShowRows(result.rows, result, false);
}

void TTicForm::b_CancelClick()
{
    if (m_running)
        m_stopRequest = true;
    else
        reject();
}
