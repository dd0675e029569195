#include "managers/TDescListForm.h"

#include "common/Dialogs.h"
#include "common/Text.h"
#include "managers/ManagerSupport.h"
#include "managers/WindowRunDelegate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTreeWidget>

#include <QVBoxLayout>
#include <utility>

namespace
{

// The window's delegate, with the run's warnings (unreadable lines, freshen
// messages) gathered for the window's list instead of one box each.
class ListRunDelegate : public WindowRunDelegate
{
public:
    using WindowRunDelegate::WindowRunDelegate;
    QStringList warnings;
    void Warn(const QString& text) override { warnings << text; }
};

int AreaOfLine(const QString& line)
{
    return line.section(QLatin1Char(':'), 0, 0).trimmed().toInt();
}

QPushButton* Button(QWidget* parent, const char* name, const QString& caption)
{
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

} // namespace

TDescImportForm::TDescImportForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DescImportForm"));
    setWindowTitle(QStringLiteral("Import Descriptions"));
    AreaBox = new QComboBox(this);
    AreaBox->setObjectName(QStringLiteral("AreaBox"));
    AreaBox->addItems(AllAreaLines());
    ListFileEdit = new QLineEdit(this);
    ListFileEdit->setObjectName(QStringLiteral("ListFileEdit"));
    BrowseButton = Button(this, "BrowseButton", QStringLiteral("&Browse..."));
    AddCheck =
        new QCheckBox(QStringLiteral("&Add records for listed files in the area folder"), this);
    AddCheck->setObjectName(QStringLiteral("AddCheck"));
    PreviewButton = Button(this, "PreviewButton", QStringLiteral("&Preview"));
    PreviewList = new QTreeWidget(this);
    PreviewList->setObjectName(QStringLiteral("PreviewList"));
    PreviewList->setHeaderLabels(
        {QStringLiteral("Line"), QStringLiteral("Record"), QStringLiteral("Text")});
    PreviewList->setRootIsDecorated(false);
    ProblemList = new QListWidget(this);
    ProblemList->setObjectName(QStringLiteral("ProblemList"));
    CutsLabel = new QLabel(this);
    CutsLabel->setObjectName(QStringLiteral("CutsLabel"));
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ImportButton = Button(this, "ImportButton", QStringLiteral("&Import"));
    ImportButton->setEnabled(false);
    CancelButton = Button(this, "CancelButton", QStringLiteral("Cancel"));

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("File Area:"), AreaBox);
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(ListFileEdit);
    fileRow->addWidget(BrowseButton);
    form->addRow(QStringLiteral("List File:"), fileRow);
    form->addRow(QString(), AddCheck);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(PreviewButton);
    buttons->addStretch();
    buttons->addWidget(ImportButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(PreviewList, 3);
    layout->addWidget(new QLabel(QStringLiteral("Unknown names and unreadable lines:"), this));
    layout->addWidget(ProblemList, 1);
    layout->addWidget(CutsLabel);
    layout->addWidget(ProgressBar);
    layout->addLayout(buttons);
    resize(640, 480);

    connect(BrowseButton, &QPushButton::clicked, this, &TDescImportForm::BrowseButtonClick);
    connect(PreviewButton, &QPushButton::clicked, this, &TDescImportForm::PreviewButtonClick);
    connect(ImportButton, &QPushButton::clicked, this, &TDescImportForm::ImportButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // A change of any choice asks for a new preview before an import.
    auto stale = [this]() { ImportButton->setEnabled(false); };
    connect(AreaBox, &QComboBox::currentIndexChanged, this, stale);
    connect(ListFileEdit, &QLineEdit::textChanged, this, stale);
    connect(AddCheck, &QCheckBox::toggled, this, stale);
}

void TDescImportForm::BrowseButtonClick()
{
    FileDialogRequest request;
    request.kind = FileDialogKind::Open;
    request.title = QStringLiteral("Description List");
    request.filter = QStringLiteral("Description Lists|FILES.BBS;DESCRIPT.ION;*.BBS;*.ION|"
                                    "All Files|*.*");
    request.mustExist = true;
    const QString path = ChooseFile(this, request);
    if (!path.isEmpty())
        ListFileEdit->setText(path);
}

void TDescImportForm::PreviewButtonClick()
{
    PreviewList->clear();
    ProblemList->clear();
    CutsLabel->clear();
    ImportButton->setEnabled(false);
    DescriptionListFile file;
    if (!ListFileEdit->text().isEmpty())
        file = ReadDescriptionListFile(ListFileEdit->text());
    if (ListFileEdit->text().isEmpty() || !file.ok()) {
        ShowWarning(
            QStringLiteral("Error Opening: ") + ListFileEdit->text() +
            (file.failure.isEmpty() ? QString() : QStringLiteral(" (%1)").arg(file.failure)));
        return;
    }
    m_previewed = DescriptionImportOptions{};
    m_previewed.area = AreaOfLine(AreaBox->currentText());
    m_previewed.list = std::move(file.bytes);
    m_previewed.add = AddCheck->isChecked();
    m_previewed.dryRun = true;
    QStringList warnings;
    const DescriptionImportResult result = Run(m_previewed, warnings);
    for (const DescriptionImportLine& line : result.lines) {
        QString text = ShownText(line.description);
        for (const QByteArray& longLine : line.longLines)
            text += QStringLiteral(" | ") + ShownText(longLine);
        QString record = line.name;
        if (line.adds)
            record += QStringLiteral(" (new)");
        else if (!line.changes)
            record += QStringLiteral(" (unchanged)");
        PreviewList->addTopLevelItem(
            new QTreeWidgetItem({QString::number(line.line), record, text}));
    }
    for (const DescriptionEntry& unknown : result.unknown)
        ProblemList->addItem(QStringLiteral("Line %1: unknown name %2")
                                 .arg(unknown.line)
                                 .arg(ShownText(unknown.name)));
    for (const QString& warning : warnings)
        ProblemList->addItem(warning);
    CutsLabel->setText(QStringLiteral("Texts cut at the field limit: %1").arg(result.cuts));
    // A preview stopped before its end is not what Import would do.
    ImportButton->setEnabled(result.set + result.added > 0 && !result.stopped);
}

void TDescImportForm::ImportButtonClick()
{
    DescriptionImportOptions options = m_previewed;
    options.dryRun = false;
    JournaledRun journal(QStringLiteral("import descriptions: area %1 from %2%3")
                             .arg(options.area)
                             .arg(ListFileEdit->text())
                             .arg(options.add ? QStringLiteral(", add") : QString()));
    if (!WindowRunBegun(journal))
        return;
    QStringList warnings;
    const DescriptionImportResult result = Run(options, warnings);
    journal.End();
    ShowInformation(QStringLiteral("Descriptions set: %1, records added: %2")
                        .arg(result.set)
                        .arg(result.added));
    accept();
}

DescriptionImportResult TDescImportForm::Run(const DescriptionImportOptions& options,
                                             QStringList& warnings)
{
    // One run at a time: the run gives window messages their turn meanwhile,
    // and Cancel (or the close box) asks it to stop.
    m_running = true;
    m_stop = false;
    const QList<QWidget*> choices = {AreaBox,  ListFileEdit,  BrowseButton,
                                     AddCheck, PreviewButton, ImportButton};
    for (QWidget* w : choices)
        w->setEnabled(false);
    ListRunDelegate run(ProgressBar, {}, &m_stop);
    const DescriptionImportResult result = RunDescriptionImport(options, run);
    warnings = run.warnings;
    // Import stays off: the caller says whether the result may be imported.
    for (QWidget* w : choices)
        w->setEnabled(w != ImportButton);
    m_running = false;
    return result;
}

void TDescImportForm::reject()
{
    if (m_running)
        m_stop = true;
    else
        QDialog::reject();
}

TDescExportForm::TDescExportForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("DescExportForm"));
    setWindowTitle(QStringLiteral("Export Descriptions"));
    AreaList = new QListWidget(this);
    AreaList->setObjectName(QStringLiteral("AreaList"));
    for (const QString& line : AllAreaLines()) {
        auto* item = new QListWidgetItem(line, AreaList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Checked);
    }
    FormatBox = new QComboBox(this);
    FormatBox->setObjectName(QStringLiteral("FormatBox"));
    FormatBox->addItems({QStringLiteral("FILES.BBS"), QStringLiteral("DESCRIPT.ION")});
    FolderEdit = new QLineEdit(this);
    FolderEdit->setObjectName(QStringLiteral("FolderEdit"));
    ProgressBar = new QProgressBar(this);
    ProgressBar->setObjectName(QStringLiteral("ProgressBar"));
    ExportButton = Button(this, "ExportButton", QStringLiteral("&Export"));
    CancelButton = Button(this, "CancelButton", QStringLiteral("Cancel"));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Format:"), FormatBox);
    form->addRow(QStringLiteral("Output Folder:"), FolderEdit);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ExportButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("File Areas:"), this));
    layout->addWidget(AreaList, 1);
    layout->addLayout(form);
    layout->addWidget(ProgressBar);
    layout->addLayout(buttons);
    resize(420, 420);
    connect(ExportButton, &QPushButton::clicked, this, &TDescExportForm::ExportButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TDescExportForm::ExportButtonClick()
{
    DescriptionExportOptions options;
    for (int i = 0; i < AreaList->count(); ++i)
        if (AreaList->item(i)->checkState() == Qt::Checked)
            options.areas << AreaOfLine(AreaList->item(i)->text());
    options.layout = FormatBox->currentIndex() == 0 ? DescriptionListLayout::FilesBbs
                                                    : DescriptionListLayout::DescriptIon;
    options.folder = FolderEdit->text();
    if (options.folder.isEmpty() || options.areas.isEmpty()) {
        ShowWarning(QStringLiteral("Choose the file areas and the output folder."));
        return;
    }
    m_running = true;
    m_stop = false;
    ExportButton->setEnabled(false);
    ListRunDelegate run(ProgressBar, {}, &m_stop);
    const DescriptionExportResult result = RunDescriptionExport(options, run);
    ExportButton->setEnabled(true);
    m_running = false;
    QString text = QStringLiteral("Lists written: %1, descriptions: %2")
                       .arg(result.written.size())
                       .arg(result.entries);
    if (!run.warnings.isEmpty())
        text += QLatin1Char('\n') + run.warnings.join(QLatin1Char('\n'));
    if (result.failed)
        ShowWarning(text);
    else
        ShowInformation(text);
    if (!result.failed)
        accept();
}

void TDescExportForm::reject()
{
    if (m_running)
        m_stop = true;
    else
        QDialog::reject();
}
