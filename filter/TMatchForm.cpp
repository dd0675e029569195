#include "filter/TMatchForm.h"

#include "common/AppError.h"
#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/Text.h"
#include "filter/DateTime.h"
#include "filter/SearchRecord.h"
#include "server/ServerQueries.h"

#include <QComboBox>
#include <QFont>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStatusBar>

#include <cstring>

FullFileRec EditTemplate{};

namespace
{

const QStringList& OperatorItems()
{
    static const QStringList items = {QStringLiteral("Any"), QStringLiteral("equal to"),
                                      QStringLiteral("greater than"), QStringLiteral("less than"),
                                      QStringLiteral("not equal to")};
    return items;
}

const QStringList& FlagItems()
{
    static const QStringList items = {QStringLiteral("Both"), QStringLiteral("Yes"),
                                      QStringLiteral("No")};
    return items;
}

// The item the selector's text names, -1 when typed text names none.
int ChosenIndex(const QComboBox* box)
{
    const QString text = box->currentText();
    const int current = box->currentIndex();
    if (current >= 0 && box->itemText(current) == text)
        return current;
    return box->findText(text, Qt::MatchFixedString | Qt::MatchCaseSensitive);
}

// Masked edits show '_' for positions not filled; the program reads a blank there.
QString MaskedText(const QLineEdit* edit)
{
    QString text = edit->displayText();
    text.replace(u'_', u' ');
    return text;
}

QComboBox* MakeSelector(QWidget* parent, const char* name, const QStringList& items)
{
    auto* box = new QComboBox(parent);
    box->setObjectName(QLatin1String(name));
    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    box->addItems(items);
    return box;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int maxLength = 0)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    if (maxLength > 0)
        edit->setMaxLength(maxLength);
    return edit;
}

QLineEdit* MakeMasked(QWidget* parent, const char* name, const QString& mask)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setInputMask(mask);
    return edit;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, int x, int y, bool bold = false)
{
    auto* label = new QLabel(text, parent);
    if (bold) {
        QFont f = label->font();
        f.setBold(true);
        label->setFont(f);
    }
    label->adjustSize();
    label->move(x, y + 3);
    return label;
}

void Place(QWidget* w, int x, int y, int width, int height = 21)
{
    w->setGeometry(x, y, width, height);
}

const QString kDateMask = QStringLiteral("99/99/99;_");
const QString kTimeMask = QStringLiteral("99:99;_");

} // namespace

std::optional<SearchRecord> CurrentFilterIf(bool apply)
{
    if (!apply)
        return std::nullopt;
    return CurrentSearchRecord;
}

TMatchForm::TMatchForm(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("MatchForm"));
    setWindowTitle(QStringLiteral("Set Match Criteria"));
    setFixedSize(394, 377);
    setAttribute(Qt::WA_DeleteOnClose, false);

    // Top bar, 30 pixels high.
    bs_Save = new QPushButton(QStringLiteral("&Save"), this);
    bs_Save->setObjectName(QStringLiteral("bs_Save"));
    Place(bs_Save, 3, 3, 60, 24);
    bs_Load = new QPushButton(QStringLiteral("&Load"), this);
    bs_Load->setObjectName(QStringLiteral("bs_Load"));
    Place(bs_Load, 65, 3, 60, 24);
    bs_Clear = new QPushButton(QStringLiteral("Clea&r"), this);
    bs_Clear->setObjectName(QStringLiteral("bs_Clear"));
    Place(bs_Clear, 127, 3, 60, 24);
    bs_Ok = new QPushButton(QStringLiteral("&OK"), this);
    bs_Ok->setObjectName(QStringLiteral("bs_Ok"));
    Place(bs_Ok, 269, 3, 60, 24);
    bs_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    bs_Cancel->setObjectName(QStringLiteral("bs_Cancel"));
    Place(bs_Cancel, 331, 3, 60, 24);
    for (QPushButton* b : {bs_Save, bs_Load, bs_Clear, bs_Ok, bs_Cancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }
    auto* line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    Place(line, 0, 30, 394, 2);

    // Body, created in tab order.
    MakeLabel(this, QStringLiteral("File Name:"), 8, 38);
    f_FileName = MakeEdit(this, "f_FileName", 15);
    Place(f_FileName, 64, 38, 110);
    MakeLabel(this, QStringLiteral("File Area:"), 182, 38);
    cb_FileArea = MakeSelector(this, "cb_FileArea", {});
    Place(cb_FileArea, 236, 38, 152);

    MakeLabel(this, QStringLiteral("File"), 8, 62, true);
    MakeLabel(this, QStringLiteral("Size:"), 8, 80);
    f_size = MakeEdit(this, "f_size", 10);
    Place(f_size, 40, 80, 80);
    cbs_FileSize = MakeSelector(this, "cbs_FileSize", OperatorItems());
    Place(cbs_FileSize, 160, 80, 72);

    MakeLabel(this, QStringLiteral("Date:"), 8, 104);
    f_FileDate = MakeMasked(this, "f_FileDate", kDateMask);
    Place(f_FileDate, 40, 104, 54);
    MakeLabel(this, QStringLiteral("Time:"), 96, 104);
    f_FileTime = MakeMasked(this, "f_FileTime", kTimeMask);
    Place(f_FileTime, 122, 104, 36);
    cbs_FileDate = MakeSelector(this, "cbs_FileDate", OperatorItems());
    Place(cbs_FileDate, 160, 104, 72);

    MakeLabel(this, QStringLiteral("D/Ls:"), 8, 128);
    f_downloads = MakeEdit(this, "f_downloads");
    Place(f_downloads, 40, 128, 80);
    cbs_Downloads = MakeSelector(this, "cbs_Downloads", OperatorItems());
    Place(cbs_Downloads, 160, 128, 72);

    MakeLabel(this, QStringLiteral("Cost:"), 8, 152);
    f_cost = MakeEdit(this, "f_cost");
    Place(f_cost, 40, 152, 80);
    cbs_Cost = MakeSelector(this, "cbs_Cost", OperatorItems());
    Place(cbs_Cost, 160, 152, 72);

    MakeLabel(this, QStringLiteral("Last Accessed"), 8, 178, true);
    MakeLabel(this, QStringLiteral("Date:"), 8, 196);
    f_accessDate = MakeMasked(this, "f_accessDate", kDateMask);
    Place(f_accessDate, 40, 196, 54);
    MakeLabel(this, QStringLiteral("Time:"), 96, 196);
    f_accessTime = MakeMasked(this, "f_accessTime", kTimeMask);
    Place(f_accessTime, 122, 196, 36);
    cbs_AccessDate = MakeSelector(this, "cbs_AccessDate", OperatorItems());
    Place(cbs_AccessDate, 160, 196, 72);

    auto* flags = new QGroupBox(QStringLiteral("Flags"), this);
    flags->setObjectName(QStringLiteral("gb_Flags"));
    {
        QFont f = flags->font();
        f.setBold(true);
        flags->setFont(f);
    }
    Place(flags, 236, 62, 152, 186);
    struct FlagRow {
        QComboBox** box;
        const char* name;
        const char* label;
    };
    const FlagRow rows[] = {
        {&cbs_NeverDelete, "cbs_NeverDelete", "Never Delete:"},
        {&cbs_NeverOverwrite, "cbs_NeverOverwrite", "Never Overwrite:"},
        {&cbs_FailedScan, "cbs_FailedScan", "Failed Scan:"},
        {&cbs_CopyBefore, "cbs_CopyBefore", "Copy Before D/L:"},
        {&cbs_FreeFile, "cbs_FreeFile", "Free File:"},
        {&cbs_FreeTime, "cbs_FreeTime", "Free Time:"},
        {&cbs_ExistOnDisk, "cbs_ExistOnDisk", "Exist On Disk:"},
    };
    int y = 20;
    for (const FlagRow& row : rows) {
        QLabel* label = MakeLabel(flags, QLatin1String(row.label), 6, y);
        label->setFont(font());
        label->adjustSize();
        *row.box = MakeSelector(flags, row.name, FlagItems());
        (*row.box)->setFont(font());
        Place(*row.box, 92, y, 54);
        y += 23;
    }

    MakeLabel(this, QStringLiteral("Password:"), 8, 256);
    f_Password = MakeEdit(this, "f_Password", 31);
    Place(f_Password, 70, 256, 160);
    MakeLabel(this, QStringLiteral("Uploader:"), 8, 280);
    cb_Uploader = MakeSelector(this, "cb_Uploader", {});
    Place(cb_Uploader, 70, 280, 200);
    MakeLabel(this, QStringLiteral("Decription:"), 8, 304);
    f_desc = MakeEdit(this, "f_desc", 75);
    Place(f_desc, 70, 304, 318);

    MakeLabel(this, QStringLiteral("Has Long Description:"), 8, 330, true);
    cbs_HasLongDesc = MakeSelector(this, "cbs_HasLongDesc", FlagItems());
    Place(cbs_HasLongDesc, 140, 330, 54);
    MakeLabel(this, QStringLiteral("Is Password Protected:"), 200, 330, true);
    cbs_hasPassword = MakeSelector(this, "cbs_hasPassword", FlagItems());
    Place(cbs_hasPassword, 334, 330, 54);
    for (QComboBox* box : {cbs_HasLongDesc, cbs_hasPassword}) {
        QFont f = box->font();
        f.setBold(true);
        box->setFont(f);
    }

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
    StatusBar1->setSizeGripEnabled(false);
    m_statusPanel = new QLabel(StatusBar1);
    m_statusPanel->setObjectName(QStringLiteral("StatusPanel1"));
    m_statusPanel->setTextFormat(Qt::PlainText); // names are shown as they are
    m_statusPanel->setFixedWidth(500);
    StatusBar1->addWidget(m_statusPanel);
    Place(StatusBar1, 0, 377 - 20, 394, 20);

    connect(bs_Save, &QPushButton::clicked, this, &TMatchForm::bs_SaveClick);
    connect(bs_Load, &QPushButton::clicked, this, &TMatchForm::bs_LoadClick);
    connect(bs_Clear, &QPushButton::clicked, this, &TMatchForm::bs_ClearClick);
    connect(bs_Ok, &QPushButton::clicked, this, &TMatchForm::bs_OkClick);
    connect(bs_Cancel, &QPushButton::clicked, this, &QDialog::reject);
}

TMatchForm::~TMatchForm() = default;

QString TMatchForm::StatusText() const
{
    return m_statusPanel->text();
}

void TMatchForm::SetStatusText(const QString& text)
{
    m_statusPanel->setText(text);
}

void TMatchForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous())
        FormShow();
}

QList<TMatchForm::OpBinding> TMatchForm::OpBindings() const
{
    SearchRecord& s = CurrentSearchRecord;
    return {
        {cbs_FileSize, &s.SizeOp, false},
        {cbs_FileDate, &s.FileDateOp, false},
        {cbs_AccessDate, &s.AccessDateOp, false},
        {cbs_Downloads, &s.DownloadsOp, false},
        {cbs_Cost, &s.CostOp, false},
        {cbs_NeverDelete, &s.NeverDeleteOp, true},
        {cbs_NeverOverwrite, &s.NeverOverwriteOp, true},
        {cbs_FailedScan, &s.FailedScanOp, true},
        {cbs_CopyBefore, &s.CopyBeforeOp, true},
        {cbs_FreeFile, &s.FreeFileOp, true},
        {cbs_FreeTime, &s.FreeTimeOp, true},
        {cbs_ExistOnDisk, &s.ExistOnDiskOp, true},
        {cbs_HasLongDesc, &s.HasLongDescOp, true},
        {cbs_hasPassword, &s.HasPasswordOp, true},
    };
}

void TMatchForm::FormShow()
{
    cb_FileArea->clear();
    cb_Uploader->clear();

    cb_FileArea->addItem(QStringLiteral("   0: Any FileArea"));
    cb_FileArea->addItems(AllAreaLines());
    cb_FileArea->setCurrentIndex(0);

    cb_Uploader->addItem(QString());
    cb_Uploader->addItems(AllUserNames());

    bs_ClearClick();
    if (FilterDefined) {
        EditTemplate = CurrentSearchRecord.Template;
        FillControls();
    }
}

void TMatchForm::bs_ClearClick()
{
    SearchRecordFileName.clear();
    SetStatusText(QString());
    f_size->setText(QStringLiteral("0"));
    f_downloads->setText(QStringLiteral("0"));
    f_cost->setText(QStringLiteral("0"));
    f_FileName->clear();
    f_desc->clear();
    f_Password->clear();
    f_FileTime->setText(QStringLiteral("00:00"));
    f_accessTime->setText(QStringLiteral("00:00"));
    f_FileDate->setText(QStringLiteral("01/01/80"));
    f_accessDate->setText(QStringLiteral("01/01/80"));
    cb_FileArea->setCurrentIndex(0);
    cb_Uploader->setCurrentIndex(0);
    for (const OpBinding& b : OpBindings())
        b.box->setCurrentIndex(0);
}

void TMatchForm::bs_OkClick()
{
    FilterDefined = true;
    // A number beyond the integer range ends the commit at that field; the
    // error is shown and the window still closes with the OK result.
    try {
        CommitCriteria();
    } catch (const ConversionError& e) {
        ShowErrorBox(e.message());
    }
    accept();
}

void TMatchForm::bs_SaveClick()
{
    SaveSearchRecord();
}

void TMatchForm::bs_LoadClick()
{
    if (!LoadSearchRecord())
        return;
    EditTemplate = CurrentSearchRecord.Template;
    FillControls();
}

void TMatchForm::FillControls()
{
    const FileRec& t = EditTemplate.Rec;
    f_FileName->setText(RecText(t.Name));
    f_size->setText(QString::number(t.Size));
    f_FileDate->setText(FileTimeToDateText(t.FileTime));
    f_FileTime->setText(FileTimeToTimeText(t.FileTime));
    f_accessDate->setText(FileTimeToDateText(t.LastAccessed));
    f_accessTime->setText(FileTimeToTimeText(t.LastAccessed));
    f_downloads->setText(QString::number(t.Downloads));
    f_cost->setText(QString::number(t.Cost));
    cb_Uploader->setEditText(ShownRecText(t.Uploader.UserName));
    f_Password->setText(ShownRecText(t.Password));
    f_desc->setText(ShownRecText(t.Description));

    cb_FileArea->setCurrentIndex(0);
    for (int i = 0; i < cb_FileArea->count(); ++i) {
        const QString line = cb_FileArea->itemText(i);
        const qsizetype colon = line.indexOf(u':');
        int number = 0;
        if (colon >= 0 && TryStrToInt(line.left(colon), number) &&
            number == CurrentSearchRecord.AreaCriterion) {
            cb_FileArea->setCurrentIndex(i);
            break;
        }
    }

    // Values from a file may lie outside the lists; they mean "not applied",
    // which the first item says.
    for (const OpBinding& b : OpBindings()) {
        const int32_t v = *b.field;
        b.box->setCurrentIndex(v >= 0 && v < b.box->count() ? v : 0);
    }
}

void TMatchForm::CommitCriteria()
{
    ReadControls();
    CurrentSearchRecord.Template = EditTemplate;
    const int area = AreaNumberOfLine(cb_FileArea->currentText());
    CurrentSearchRecord.Template.Rec.Area = area;
    CurrentSearchRecord.AreaCriterion = area;
    for (const OpBinding& b : OpBindings())
        *b.field = ChosenIndex(b.box);
    SetShownRecText(CurrentSearchRecord.UploaderText, cb_Uploader->currentText());
}

void TMatchForm::ReadControls()
{
    FileRec& t = EditTemplate.Rec;
    SetRecText(t.Name, f_FileName->text());
    if (IsAllDigits(f_size->text()))
        t.Size = StrToInt(f_size->text());

    FILETIME ft = t.FileTime;
    if (MaskedTextToFileTime(MaskedText(f_FileDate), MaskedText(f_FileTime), ft))
        t.FileTime = ft;
    else
        ShowWarning(QStringLiteral("Could not convert File Date or Time."));
    ft = t.LastAccessed;
    if (MaskedTextToFileTime(MaskedText(f_accessDate), MaskedText(f_accessTime), ft))
        t.LastAccessed = ft;
    else
        ShowWarning(QStringLiteral("Could not convert Last Accessed Date or Time "));

    if (IsAllDigits(f_downloads->text()))
        t.Downloads = StrToInt(f_downloads->text());
    if (IsAllDigits(f_cost->text()))
        t.Cost = StrToInt(f_cost->text());

    // A name the BBS does not know leaves the whole uploader zero, so the
    // criterion is not applied.
    SetUploaderByName(t.Uploader, cb_Uploader->currentText());

    SetShownRecText(t.Password, f_Password->text());
    SetShownRecText(t.Description, f_desc->text());
    t.NeverOverwrite = 0;
    t.NeverDelete = 0;
    t.FailedScan = 0;
    t.CopyBeforeDownload = 0;
    t.FreeFile = 0;
    t.FreeTime = 0;
}

bool TMatchForm::SaveSearchRecord()
{
    FileDialogRequest request;
    request.kind = FileDialogKind::Save;
    request.filter = QStringLiteral("vuRU Search Record|*.FMS");
    request.confirmOverwrite = true;
    request.mustExist = true;
    const QString chosen = ChooseFile(this, request);
    if (chosen.isEmpty())
        return false;
    CommitCriteria();
    const QString name = WithFmsExtension(chosen);
    switch (WriteSearchRecordFile(name, CurrentSearchRecord)) {
    case FmsResult::Ok:
        SetStatusText(QStringLiteral("Search Record: ") + FileNamePart(name));
        SearchRecordFileName = name;
        return true;
    case FmsResult::OpenError:
    case FmsResult::NotFound:
        ShowWarning(QStringLiteral("Error saving file."));
        return false;
    default:
        return false; // a failed write or close is not reported
    }
}

bool TMatchForm::LoadSearchRecord()
{
    FileDialogRequest request;
    request.kind = FileDialogKind::Open;
    request.filter = QStringLiteral("vt FM Search Record|*.FMS");
    const QString name = ChooseFile(this, request);
    if (name.isEmpty())
        return false;
    switch (ReadSearchRecordFile(name, CurrentSearchRecord)) {
    case FmsResult::Ok:
        SetStatusText(QStringLiteral("Search Record: ") + FileNamePart(name));
        SearchRecordFileName = name;
        return true;
    case FmsResult::NotFound:
        ShowWarning(QStringLiteral("File: ") + name + QStringLiteral(" not found."));
        return false;
    case FmsResult::OpenError:
        ShowWarning(QStringLiteral("Error opening file."));
        return false;
    default:
        ShowWarning(QStringLiteral("Error READING file."));
        return false;
    }
}
