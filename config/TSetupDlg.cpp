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
#include <QPlainTextEdit>
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

    FileEchoes = new QWidget;
    FileEchoes->setObjectName(QStringLiteral("FileEchoes"));
    auto* echoGrid = new QGridLayout(FileEchoes);
    echoGrid->setVerticalSpacing(3);
    auto line = [&](QLineEdit*& edit, const char* name, const QString& caption, int row) {
        edit = new QLineEdit(FileEchoes);
        edit->setObjectName(QString::fromLatin1(name));
        echoGrid->addWidget(new QLabel(caption, FileEchoes), row, 0);
        echoGrid->addWidget(edit, row, 1, 1, 2);
    };
    line(e_TicInbound, "e_TicInbound", QStringLiteral("Inbound:"), 0);
    line(e_TicBadFolder, "e_TicBadFolder", QStringLiteral("Bad folder:"), 1);
    e_TicBadFolder->setPlaceholderText(QStringLiteral("bad (inside the inbound)"));
    line(e_TicUploader, "e_TicUploader", QStringLiteral("Uploader:"), 2);
    cb_TicReplaceSameName =
        new QCheckBox(QStringLiteral("Replace a file of the same name"), FileEchoes);
    cb_TicReplaceSameName->setObjectName(QStringLiteral("cb_TicReplaceSameName"));
    cb_TicReplaceSameName->setChecked(TicSettings().replaceSameName);
    echoGrid->addWidget(cb_TicReplaceSameName, 3, 0, 1, 3);
    m_TicAreas = new QPlainTextEdit(FileEchoes);
    m_TicAreas->setObjectName(QStringLiteral("m_TicAreas"));
    m_TicAreas->setPlaceholderText(QStringLiteral("TAG=AREA"));
    m_TicPasswords = new QPlainTextEdit(FileEchoes);
    m_TicPasswords->setObjectName(QStringLiteral("m_TicPasswords"));
    m_TicPasswords->setPlaceholderText(QStringLiteral("21:1/100=PASSWORD"));
    echoGrid->addWidget(new QLabel(QStringLiteral("Echoes (tag=area):"), FileEchoes), 4, 0, 1, 2);
    echoGrid->addWidget(new QLabel(QStringLiteral("Uplink passwords:"), FileEchoes), 4, 2);
    echoGrid->addWidget(m_TicAreas, 5, 0, 1, 2);
    echoGrid->addWidget(m_TicPasswords, 5, 2);
    echoGrid->setRowStretch(5, 1);
    PageControl1->addTab(FileEchoes, QStringLiteral("File Echoes"));

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

    m_ticRead = ReadTicSettings(ini);
    e_TicInbound->setText(m_ticRead.inbound);
    e_TicBadFolder->setText(m_ticRead.badFolder);
    e_TicUploader->setText(m_ticRead.uploader);
    cb_TicReplaceSameName->setChecked(m_ticRead.replaceSameName);
    QStringList areas, passwords;
    for (const TicAreaLink& link : std::as_const(m_ticRead.areas))
        areas << link.tag + u'=' + QString::number(link.area);
    for (const TicPassword& entry : std::as_const(m_ticRead.passwords))
        passwords << entry.address + u'=' + entry.password;
    m_TicAreas->setPlainText(areas.join(u'\n'));
    m_TicPasswords->setPlainText(passwords.join(u'\n'));
}

bool TSetupDlg::TicSettingsShown(TicSettings& settings, QString& problem) const
{
    settings = m_ticRead;
    settings.inbound = e_TicInbound->text().trimmed();
    settings.badFolder = e_TicBadFolder->text().trimmed();
    settings.uploader = e_TicUploader->text().trimmed();
    settings.replaceSameName = cb_TicReplaceSameName->isChecked();
    settings.areas.clear();
    settings.passwords.clear();
    // Each non-blank line is KEY=VALUE; the key may not be empty.
    auto pairs = [&problem](const QString& text, const QString& what,
                            QList<std::pair<QString, QString>>& out) {
        for (const QString& raw : text.split(u'\n')) {
            const QString entry = raw.trimmed();
            if (entry.isEmpty())
                continue;
            const qsizetype eq = entry.indexOf(u'=');
            if (eq <= 0) {
                problem =
                    QStringLiteral("%1: \"%2\" is not a line of the form %3.")
                        .arg(what == QLatin1String("echo") ? QStringLiteral("Echoes")
                                                           : QStringLiteral("Passwords"),
                             entry,
                             what == QLatin1String("echo") ? QStringLiteral("TAG=AREA")
                                                           : QStringLiteral("ADDRESS=PASSWORD"));
                return false;
            }
            out.append({entry.left(eq).trimmed(), entry.mid(eq + 1).trimmed()});
        }
        return true;
    };
    QList<std::pair<QString, QString>> areas, passwords;
    if (!pairs(m_TicAreas->toPlainText(), QStringLiteral("echo"), areas) ||
        !pairs(m_TicPasswords->toPlainText(), QStringLiteral("password"), passwords))
        return false;
    for (const auto& [tag, value] : areas) {
        int area = 0;
        if (!TryStrToInt(value, area) || area < 1) {
            problem = QStringLiteral("Echoes: %1=%2 is not an area number.").arg(tag, value);
            return false;
        }
        settings.areas.append({tag, area});
    }
    for (const auto& [address, password] : passwords)
        settings.passwords.append({address, password});
    return true;
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
    // A line of the echoes or passwords that could not be read back keeps
    // the window open on it, before anything is written.
    TicSettings tic;
    QString problem;
    if (!TicSettingsShown(tic, problem)) {
        PageControl1->setCurrentWidget(FileEchoes);
        ShowWarning(problem);
        return;
    }
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
        // The intake's sections are written only when they changed, so a
        // file without them keeps its lines.
        if (tic != m_ticRead)
            SetTicSettings(ini, tic);
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
