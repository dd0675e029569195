#include "config/TSetupDlg.h"

#include "common/AppError.h"
#include "common/Dialogs.h"
#include "common/Text.h"
#include "config/IniFile.h"
#include "config/Settings.h"
#include "server/AreaFiles.h"
#include "server/ServerQueries.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace
{
const QString kGeneral = QStringLiteral("General");
const QString kTools = QStringLiteral("Tools");
const QString kSysopName = QStringLiteral("SysopName");
const QString kHomeDir = QStringLiteral("wcHomeDir");
const QString kZipViewer = QStringLiteral("ZipViewer_Prg1");

QString CodePageTitle(CodePage page)
{
    switch (page) {
    case CodePage::Latin1:
        break;
    case CodePage::Cp437:
        return QStringLiteral("437 (DOS, United States)");
    case CodePage::Cp850:
        return QStringLiteral("850 (DOS, Western Europe)");
    case CodePage::Cp852:
        return QStringLiteral("852 (DOS, Central Europe)");
    case CodePage::Cp866:
        return QStringLiteral("866 (DOS, Cyrillic)");
    }
    return QStringLiteral("Latin-1 (Windows)");
}
} // namespace

TSetupDlg::TSetupDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("SetupDlg"));
    setWindowTitle(QStringLiteral("Setup"));
    setFixedSize(411, 310);

    PageControl1 = new QTabWidget(this);
    PageControl1->setObjectName(QStringLiteral("PageControl1"));
    PageControl1->setGeometry(8, 8, 395, 257);

    General = new QWidget;
    General->setObjectName(QStringLiteral("General"));
    auto* generalLayout = new QVBoxLayout(General);
    auto* wcGroup = new QGroupBox(QStringLiteral("Wildcat 5 Properties"), General);
    wcGroup->setObjectName(QStringLiteral("GroupBox1"));
    auto* wcGrid = new QGridLayout(wcGroup);
    e_SysopName = new QLineEdit(wcGroup);
    e_SysopName->setObjectName(QStringLiteral("e_SysopName"));
    e_wcHomeDir = new QLineEdit(wcGroup);
    e_wcHomeDir->setObjectName(QStringLiteral("e_wcHomeDir"));
    wcGrid->addWidget(new QLabel(QStringLiteral("Sysop Name:"), wcGroup), 0, 0);
    wcGrid->addWidget(e_SysopName, 0, 1);
    wcGrid->addWidget(new QLabel(QStringLiteral("Wildcat Home Directory:"), wcGroup), 1, 0);
    wcGrid->addWidget(e_wcHomeDir, 1, 1);
    generalLayout->addWidget(wcGroup);
    cb_CodePage = new QComboBox(General);
    cb_CodePage->setObjectName(QStringLiteral("cb_CodePage"));
    for (const CodePage page : AllCodePages)
        cb_CodePage->addItem(CodePageTitle(page));
    auto* codePageRow = new QHBoxLayout;
    codePageRow->addWidget(new QLabel(QStringLiteral("Show texts in code page:"), General));
    codePageRow->addWidget(cb_CodePage, 1);
    generalLayout->addLayout(codePageRow);
    cb_AllowLinks = new QCheckBox(QStringLiteral("Allow links in file area folders"), General);
    cb_AllowLinks->setObjectName(QStringLiteral("cb_AllowLinks"));
    generalLayout->addWidget(cb_AllowLinks);
    generalLayout->addStretch(1);
    PageControl1->addTab(General, QStringLiteral("General"));

    ToolsMenu = new QWidget;
    ToolsMenu->setObjectName(QStringLiteral("ToolsMenu"));
    auto* toolsLayout = new QVBoxLayout(ToolsMenu);
    auto* zipGroup = new QGroupBox(QStringLiteral("Zip File Viewer"), ToolsMenu);
    zipGroup->setObjectName(QStringLiteral("GroupBox2"));
    auto* zipRow = new QHBoxLayout(zipGroup);
    e_Tools_Prg1 = new QLineEdit(zipGroup);
    e_Tools_Prg1->setObjectName(QStringLiteral("e_Tools_Prg1"));
    b_Tools_Browse1 = new QPushButton(QStringLiteral("..."), zipGroup);
    b_Tools_Browse1->setObjectName(QStringLiteral("b_Tools_Browse1"));
    b_Tools_Browse1->setAutoDefault(false);
    b_Tools_Browse1->setFixedWidth(28);
    QFont bold = b_Tools_Browse1->font();
    bold.setBold(true);
    b_Tools_Browse1->setFont(bold);
    zipRow->addWidget(new QLabel(QStringLiteral("Program:"), zipGroup));
    zipRow->addWidget(e_Tools_Prg1, 1);
    zipRow->addWidget(b_Tools_Browse1);
    toolsLayout->addWidget(zipGroup); // aligned to the top of the sheet
    toolsLayout->addStretch(1);
    PageControl1->addTab(ToolsMenu, QStringLiteral("Tools Menu"));

    BitBtn1 = new QPushButton(QStringLiteral("OK"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setDefault(true);
    BitBtn1->setGeometry(240, 274, 75, 25);
    BitBtn2 = new QPushButton(QStringLiteral("Cancel"), this);
    BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    BitBtn2->setAutoDefault(false);
    BitBtn2->setGeometry(324, 274, 75, 25);

    connect(b_Tools_Browse1, &QPushButton::clicked, this, &TSetupDlg::b_Tools_Browse1Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TSetupDlg::BitBtn1Click);
    connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
}

QString TSetupDlg::ConfigPath()
{
    return ProgramFolder + QStringLiteral("vuru.cfg");
}

void TSetupDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_shown && !event->spontaneous()) {
        m_shown = true;
        FormShow();
    }
}

void TSetupDlg::FormShow()
{
    PageControl1->setCurrentWidget(General);
    MakewildRec makewild{};
    const bool haveBbs = ReadMakewild(makewild);
    const IniFile ini(ConfigPath());
    if (haveBbs) {
        e_SysopName->setText(ini.ReadString(kGeneral, kSysopName, RecText(makewild.SysopName)));
        e_wcHomeDir->setText(ini.ReadString(kGeneral, kHomeDir, HomeDirSetting));
        e_Tools_Prg1->setText(ini.ReadString(kTools, kZipViewer, DefaultZipViewer()));
    }
    cb_CodePage->setCurrentIndex(int(ReadCodePageSetting(ini)));
    cb_AllowLinks->setChecked(ReadAllowLinksSetting(ini));
    HomeDirSetting = e_wcHomeDir->text();
}

void TSetupDlg::b_Tools_Browse1Click()
{
    FileDialogRequest request;
    request.kind = FileDialogKind::Open;
    request.title = QStringLiteral("Locate Zip File Viewer Program...");
    request.filter = QStringLiteral("EXEs, COMs|*.exe; *.com|Short Cuts|*.lnk|All Files|*.*");
    request.mustExist = true;
    const QString path = ChooseFile(this, request);
    if (!path.isEmpty())
        e_Tools_Prg1->setText(path);
}

void TSetupDlg::BitBtn1Click()
{
    // The window closes with the OK result even when the write fails; the
    // write error then ends the command and is shown in the error box. The
    // three values go into the file in one write, so a failure leaves the
    // old file whole instead of part-written.
    try {
        IniFile ini(ConfigPath());
        ini.SetString(kGeneral, kSysopName, e_SysopName->text().trimmed());
        ini.SetString(kGeneral, kHomeDir, e_wcHomeDir->text().trimmed());
        ini.SetString(kTools, kZipViewer, e_Tools_Prg1->text().trimmed());
        // The code page key is written only when it is set or already there,
        // so a file of the default settings holds just the three keys.
        const RecordCodePage page = AllCodePages[std::max(0, cb_CodePage->currentIndex())];
        const bool keyThere = ini.ReadString(kGeneral, kCodePageKey, QStringLiteral("0")) ==
                              ini.ReadString(kGeneral, kCodePageKey, QStringLiteral("1"));
        if (page != RecordCodePage::Latin1 || keyThere)
            ini.SetString(kGeneral, kCodePageKey, SettingOfCodePage(page));
        // The same for the links key: written when on or already there.
        const bool links = cb_AllowLinks->isChecked();
        const bool linksKeyThere = ini.ReadString(kGeneral, kAllowLinksKey, QStringLiteral("0")) ==
                                   ini.ReadString(kGeneral, kAllowLinksKey, QStringLiteral("1"));
        if (links || linksKeyThere)
            ini.SetString(kGeneral, kAllowLinksKey,
                          links ? QStringLiteral("1") : QStringLiteral("0"));
        ini.Save();
        ZipViewerSetting = e_Tools_Prg1->text().trimmed();
        SetRecordCodePage(page);
        SetAreaLinksAllowed(links);
    } catch (const AppError&) {
        accept();
        throw;
    }
    accept();
}
