#include "app/TAddFilesForm.h"

#include "app/AddFilesRun.h"
#include "common/AreaLines.h"
#include "managers/ManagerSupport.h"
#include "managers/WindowRunDelegate.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace
{

// The window's delegate, with each record's result as a line of the list.
class ListingDelegate : public WindowRunDelegate
{
public:
    ListingDelegate(QProgressBar* bar, bool* stop, QListWidget* list)
        : WindowRunDelegate(bar, nullptr, stop), m_list(list)
    {
    }
    void Item(const RunItem& item) override
    {
        const QString word = item.outcome == RunOutcome::Refused  ? QStringLiteral("refused: ")
                             : item.outcome == RunOutcome::Failed ? QStringLiteral("failed: ")
                                                                  : QString();
        m_list->addItem(AreaLinePrefix(item.area) + item.name + QStringLiteral("  ") + word +
                        item.action);
    }

private:
    QListWidget* m_list;
};

} // namespace

TAddFilesForm::TAddFilesForm(QWidget* parent, int currentArea, TUnzipFile* unzip)
    : QDialog(parent), m_unzip(unzip)
{
    setObjectName(QStringLiteral("AddFilesForm"));
    setWindowTitle(QStringLiteral("Add Files in Area Folder"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("File Areas:"), this));
    AreaList = new QListWidget(this);
    AreaList->setObjectName(QStringLiteral("AreaList"));
    for (const QString& line : AllAreaLines()) {
        auto* item = new QListWidgetItem(line, AreaList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(AreaNumberOfLine(line) == currentArea ? Qt::Checked : Qt::Unchecked);
    }
    layout->addWidget(AreaList);
    layout->addWidget(new QLabel(QStringLiteral("Files to add:"), this));
    PreviewList = new QListWidget(this);
    PreviewList->setObjectName(QStringLiteral("PreviewList"));
    layout->addWidget(PreviewList, 1);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    layout->addWidget(ProgressBar1);
    auto* buttons = new QHBoxLayout;
    auto button = [&](QPushButton*& b, const char* name, const QString& caption) {
        b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        buttons->addWidget(b);
    };
    button(b_Preview, "b_Preview", QStringLiteral("&Preview"));
    button(b_Add, "b_Add", QStringLiteral("&Add"));
    button(b_Stop, "b_Stop", QStringLiteral("&Stop"));
    button(b_Cancel, "b_Cancel", QStringLiteral("&Cancel"));
    layout->addLayout(buttons);
    b_Stop->setEnabled(false);
    connect(b_Preview, &QPushButton::clicked, this, &TAddFilesForm::b_PreviewClick);
    connect(b_Add, &QPushButton::clicked, this, &TAddFilesForm::b_AddClick);
    connect(b_Stop, &QPushButton::clicked, this, &TAddFilesForm::b_StopClick);
    connect(b_Cancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(AreaList, &QListWidget::itemChanged, this, &TAddFilesForm::b_PreviewClick);
    resize(520, 420);
    b_PreviewClick();
}

QList<int> TAddFilesForm::CheckedAreas() const
{
    QList<int> areas;
    for (int i = 0; i < AreaList->count(); ++i)
        if (AreaList->item(i)->checkState() == Qt::Checked)
            areas << AreaNumberOfLine(AreaList->item(i)->text());
    return areas;
}

void TAddFilesForm::b_PreviewClick()
{
    AddFilesOptions options;
    options.areas = CheckedAreas();
    options.dryRun = true;
    const AddFilesResult result = Run(options);
    // A preview stopped before its end is not what Add would do.
    b_Add->setEnabled(result.planned > 0 && !result.stopped);
}

void TAddFilesForm::b_AddClick()
{
    AddFilesOptions options;
    options.areas = CheckedAreas();
    options.preview = false; // the preview shown is what Add confirms
    JournaledRun journal(
        QStringLiteral("window add files: areas %1").arg(AreaListText(options.areas)));
    if (!WindowRunBegun(journal))
        return;
    Run(options);
    journal.End();
    b_Add->setEnabled(false);
    b_Cancel->setText(QStringLiteral("&Close"));
}

AddFilesResult TAddFilesForm::Run(AddFilesOptions& options)
{
    // One run at a time: the run gives window messages their turn, and the
    // areas, Preview and Add wait until it ends; Stop (or Cancel, or the
    // close box) asks it to stop.
    if (m_running)
        return {};
    m_running = true;
    m_stop = false;
    PreviewList->clear();
    options.unzip = m_unzip;
    AreaList->setEnabled(false);
    b_Preview->setEnabled(false);
    b_Add->setEnabled(false);
    b_Stop->setEnabled(true);
    ListingDelegate delegate(ProgressBar1, &m_stop, PreviewList);
    const AddFilesResult result = RunAddFiles(options, delegate);
    b_Stop->setEnabled(false);
    b_Preview->setEnabled(true);
    AreaList->setEnabled(true);
    m_running = false;
    return result;
}

void TAddFilesForm::reject()
{
    if (m_running)
        m_stop = true;
    else
        QDialog::reject();
}
