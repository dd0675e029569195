#include "app/TRecordPanel.h"

#include "common/Dialogs.h"
#include "filter/DateTime.h"
#include "server/ServerQueries.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

#include <algorithm>

namespace
{

// Masked edits are read with each unfilled position as a blank, so the text
// has its full width and its separators in place.
QString MaskedText(const QLineEdit* edit)
{
    QString text = edit->displayText();
    text.replace(u'_', u' ');
    return text;
}

// A date and time field pair into a record time. With only the time field
// edited the stored day stays as it is: the date field shows two year digits,
// which bring back no year outside 1980-2079 (a dropped file's LastAccessed 0
// shows 01/01/01 and would come back as 2001).
bool PanelTimeInto(const QLineEdit* date, const QLineEdit* time, bool dateEdited, FILETIME& ft)
{
    if (dateEdited)
        return MaskedTextToFileTime(MaskedText(date), MaskedText(time), ft);
    return MaskedTimeOnDay(ft, MaskedText(time), ft);
}

QLabel* MakeLabel(const QString& caption, QWidget* parent)
{
    return new QLabel(caption, parent);
}

} // namespace

TRecordPanel::TRecordPanel(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("RecordPanel"));
    BuildControls();
    TrackChanges();
}

void TRecordPanel::BuildControls()
{
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(4);
    grid->setVerticalSpacing(2);

    auto edit = [this](const char* name, int maxLength = 0) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        if (maxLength > 0)
            e->setMaxLength(maxLength);
        return e;
    };
    auto masked = [this](const char* name, const QString& mask, const QString& initial) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setInputMask(mask);
        e->setText(initial);
        e->setFixedWidth(72);
        return e;
    };
    auto check = [this](const char* name, const QString& caption) {
        auto* c = new QCheckBox(caption, this);
        c->setObjectName(QString::fromLatin1(name));
        return c;
    };

    int row = 0;
    f_Area = edit("f_Area");
    f_Area->setReadOnly(true);
    f_Area->setFixedWidth(60);
    L_FileInArea = MakeLabel(QStringLiteral("Total Files in Area:"), this);
    L_FileInArea->setObjectName(QStringLiteral("L_FileInArea"));
    FilesInArea = edit("FilesInArea");
    FilesInArea->setReadOnly(true);
    FilesInArea->setFixedWidth(70);
    auto* areaRow = new QHBoxLayout;
    areaRow->addWidget(MakeLabel(QStringLiteral("File Area #:"), this));
    areaRow->addWidget(f_Area);
    areaRow->addStretch(1);
    areaRow->addWidget(L_FileInArea);
    areaRow->addWidget(FilesInArea);
    grid->addLayout(areaRow, row++, 0, 1, 4);

    auto* heading = MakeLabel(QStringLiteral("Selected File Information"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    L_FileFound = MakeLabel(QStringLiteral("File Exists on Disk"), this);
    L_FileFound->setObjectName(QStringLiteral("L_FileFound"));
    L_FileFound->setFont(bold);
    L_FileFound->setStyleSheet(QStringLiteral("color: blue"));
    auto* headRow = new QHBoxLayout;
    headRow->addWidget(heading);
    headRow->addStretch(1);
    headRow->addWidget(L_FileFound);
    grid->addLayout(headRow, row++, 0, 1, 4);

    f_FileName = edit("f_FileName", 15);
    f_uploader = edit("f_uploader", 71);
    grid->addWidget(MakeLabel(QStringLiteral("File:"), this), row, 0);
    grid->addWidget(f_FileName, row++, 1, 1, 3);
    grid->addWidget(MakeLabel(QStringLiteral("Uploader:"), this), row, 0);
    grid->addWidget(f_uploader, row++, 1, 1, 3);

    auto* fileGroup = new QGroupBox(QStringLiteral("File"), this);
    fileGroup->setObjectName(QStringLiteral("gb_File"));
    auto* fg = new QGridLayout(fileGroup);
    fg->setContentsMargins(4, 2, 4, 2);
    fg->setVerticalSpacing(2);
    f_size = edit("f_size", 10);
    f_FileDate = masked("f_FileDate", QStringLiteral("99/99/99;_"), QStringLiteral("00/00/00"));
    f_FileTime = masked("f_FileTime", QStringLiteral("99:99;_"), QStringLiteral("00:00"));
    fg->addWidget(MakeLabel(QStringLiteral("Size:"), fileGroup), 0, 0);
    fg->addWidget(f_size, 0, 1);
    fg->addWidget(MakeLabel(QStringLiteral("Date:"), fileGroup), 1, 0);
    fg->addWidget(f_FileDate, 1, 1);
    fg->addWidget(MakeLabel(QStringLiteral("Time:"), fileGroup), 2, 0);
    fg->addWidget(f_FileTime, 2, 1);
    auto* accessGroup = new QGroupBox(QStringLiteral("Last Accessed"), this);
    accessGroup->setObjectName(QStringLiteral("gb_LastAccessed"));
    auto* ag = new QGridLayout(accessGroup);
    ag->setContentsMargins(4, 2, 4, 2);
    ag->setVerticalSpacing(2);
    f_accessDate = masked("f_accessDate", QStringLiteral("99/99/99;_"), QStringLiteral("00/00/00"));
    f_accessTime = masked("f_accessTime", QStringLiteral("99:99;_"), QStringLiteral("00:00"));
    ag->addWidget(MakeLabel(QStringLiteral("Date:"), accessGroup), 0, 0);
    ag->addWidget(f_accessDate, 0, 1);
    ag->addWidget(MakeLabel(QStringLiteral("Time:"), accessGroup), 1, 0);
    ag->addWidget(f_accessTime, 1, 1);
    ag->setRowStretch(2, 1);
    grid->addWidget(fileGroup, row, 0, 1, 2);
    grid->addWidget(accessGroup, row++, 2, 1, 2);

    cbf_NeverDelete = check("cbf_NeverDelete", QStringLiteral("Never Delete"));
    cbf_NeverOverWrite = check("cbf_NeverOverWrite", QStringLiteral("Never Overwrite"));
    cbf_FailedScan = check("cbf_FailedScan", QStringLiteral("Failed Scan"));
    cbf_CopyBeforeDL = check("cbf_CopyBeforeDL", QStringLiteral("Copy Before Download"));
    grid->addWidget(cbf_NeverDelete, row, 0, 1, 2);
    grid->addWidget(cbf_NeverOverWrite, row++, 2, 1, 2);
    grid->addWidget(cbf_FailedScan, row, 0, 1, 2);
    grid->addWidget(cbf_CopyBeforeDL, row++, 2, 1, 2);

    f_downloads = edit("f_downloads");
    f_cost = edit("f_cost");
    grid->addWidget(MakeLabel(QStringLiteral("Downloads:"), this), row, 0);
    grid->addWidget(f_downloads, row, 1);
    grid->addWidget(MakeLabel(QStringLiteral("Cost:"), this), row, 2);
    grid->addWidget(f_cost, row++, 3);
    cbf_FreeFile = check("cbf_FreeFile", QStringLiteral("Free File"));
    cbf_FreeTime = check("cbf_FreeTime", QStringLiteral("Free Time"));
    grid->addWidget(cbf_FreeFile, row, 0, 1, 2);
    grid->addWidget(cbf_FreeTime, row++, 2, 1, 2);

    f_Password = edit("f_Password", 31);
    f_desc = edit("f_desc", 75);
    grid->addWidget(MakeLabel(QStringLiteral("Password:"), this), row, 0);
    grid->addWidget(f_Password, row++, 1, 1, 3);
    grid->addWidget(MakeLabel(QStringLiteral("Decription:"), this), row, 0);
    grid->addWidget(f_desc, row++, 1, 1, 3);

    b_ExtracFile_IS = new QPushButton(QStringLiteral("extract"), this);
    b_ExtracFile_IS->setObjectName(QStringLiteral("b_ExtracFile_IS"));
    b_ExtracFile_IS->setAutoDefault(false);
    auto* longRow = new QHBoxLayout;
    longRow->addWidget(MakeLabel(QStringLiteral("Long Description:"), this));
    longRow->addStretch(1);
    longRow->addWidget(b_ExtracFile_IS);
    grid->addLayout(longRow, row++, 0, 1, 4);
    Long_Desc = new QPlainTextEdit(this);
    Long_Desc->setObjectName(QStringLiteral("Long_Desc"));
    Long_Desc->setLineWrapMode(QPlainTextEdit::NoWrap);
    QFont mono(QStringLiteral("Monospace"));
    mono.setStyleHint(QFont::TypeWriter);
    mono.setPointSize(8);
    Long_Desc->setFont(mono);
    grid->addWidget(Long_Desc, row, 0, 1, 4);
    grid->setRowStretch(row, 1);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(3, 1);

    // Tags of the tracked fields.
    const std::pair<QWidget*, int> tags[] = {{f_FileName, 1},
                                             {f_uploader, 2},
                                             {f_size, 3},
                                             {f_FileDate, 4},
                                             {f_FileTime, 5},
                                             {f_accessDate, 6},
                                             {f_accessTime, 7},
                                             {f_downloads, 8},
                                             {f_cost, 9},
                                             {cbf_NeverDelete, 10},
                                             {cbf_NeverOverWrite, 11},
                                             {cbf_FailedScan, 12},
                                             {cbf_CopyBeforeDL, 13},
                                             {cbf_FreeFile, 14},
                                             {cbf_FreeTime, 15},
                                             {f_Password, 16},
                                             {f_desc, 17},
                                             {Long_Desc, 18}};
    for (const auto& [w, tag] : tags)
        w->setProperty("Tag", tag);
}

void TRecordPanel::TrackChanges()
{
    // The change event of every tracked control, also for changes the program
    // makes itself; the loading flag keeps a fill from counting.
    for (QLineEdit* e : {f_FileName, f_uploader, f_size, f_FileDate, f_FileTime, f_accessDate,
                         f_accessTime, f_downloads, f_cost, f_Password, f_desc})
        connect(e, &QLineEdit::textChanged, this, [this, e]() { FieldBeenChanged(e); });
    for (QCheckBox* c : {cbf_NeverDelete, cbf_NeverOverWrite, cbf_FailedScan, cbf_CopyBeforeDL,
                         cbf_FreeFile, cbf_FreeTime})
        connect(c, &QCheckBox::toggled, this, [this, c]() { FieldBeenChanged(c); });
    connect(Long_Desc, &QPlainTextEdit::textChanged, this,
            [this]() { FieldBeenChanged(Long_Desc); });
}

void TRecordPanel::FieldBeenChanged(QWidget* control)
{
    if (Loading)
        return;
    if (qobject_cast<QLineEdit*>(control) || qobject_cast<QCheckBox*>(control) ||
        qobject_cast<QPlainTextEdit*>(control)) {
        const int tag = control->property("Tag").toInt();
        if (tag >= 1 && tag <= kPanelFields)
            FieldChanged[tag] = true;
    }
    RecordChanged = true;
    emit Changed();
}

void TRecordPanel::ClearChangeFlags()
{
    FieldChanged.fill(false);
    RecordChanged = false;
}

void TRecordPanel::ShowRecord(const FullFileRec& full)
{
    ShownRecord = full;
    const FileRec& r = full.Rec;
    f_FileName->setText(RecText(r.Name));
    f_size->setText(QString::number(r.Size));
    f_FileDate->setText(FileTimeToDateText(r.FileTime));
    f_FileTime->setText(FileTimeToTimeText(r.FileTime));
    f_accessDate->setText(FileTimeToDateText(r.LastAccessed));
    f_accessTime->setText(FileTimeToTimeText(r.LastAccessed));
    f_downloads->setText(QString::number(r.Downloads));
    f_cost->setText(QString::number(r.Cost));
    cbf_NeverOverWrite->setChecked(r.NeverOverwrite != 0);
    cbf_NeverDelete->setChecked(r.NeverDelete != 0);
    cbf_FailedScan->setChecked(r.FailedScan != 0);
    cbf_CopyBeforeDL->setChecked(r.CopyBeforeDownload != 0);
    cbf_FreeFile->setChecked(r.FreeFile != 0);
    cbf_FreeTime->setChecked(r.FreeTime != 0);
    f_uploader->setText(ShownRecText(r.Uploader.UserName));
    f_Password->setText(ShownRecText(r.Password));
    f_desc->setText(ShownRecText(r.Description));
    if (r.HasLongDescription != 0) {
        // The non-empty lines, trimmed, in order 0 to 14.
        QStringList lines;
        for (int i = LongDescLines - 1; i >= 0; --i) {
            // Trimmed as bytes, so that both code pages drop the same ones.
            const QString line = ShownText(ToBytes(TrimControls(RecText(full.LongDescription[i]))));
            if (!line.isEmpty())
                lines.prepend(line);
        }
        Long_Desc->setPlainText(lines.join(u'\n'));
    }
}

void TRecordPanel::Clear()
{
    Long_Desc->clear();
    for (QLineEdit* e : {f_FileName, f_size, f_FileDate, f_FileTime, f_accessDate, f_accessTime,
                         f_downloads, f_cost})
        e->clear();
    for (QCheckBox* c : {cbf_NeverOverWrite, cbf_NeverDelete, cbf_FailedScan, cbf_CopyBeforeDL,
                         cbf_FreeFile, cbf_FreeTime})
        c->setChecked(false);
    f_Password->clear();
    f_uploader->clear();
    f_desc->clear();
    ClearChangeFlags();
    L_FileFound->setText(QString());
}

void TRecordPanel::ShowDiskState(bool exists)
{
    if (exists) {
        L_FileFound->setText(QStringLiteral("File exists on disk"));
        L_FileFound->setStyleSheet(QStringLiteral("color: blue"));
    } else {
        L_FileFound->setText(QStringLiteral("File not found on disk"));
        L_FileFound->setStyleSheet(QStringLiteral("color: red"));
    }
    L_FileFound->repaint();
}

void TRecordPanel::ChangesInto(FullFileRec& full) const
{
    FileRec& r = full.Rec;
    auto number = [](const QLineEdit* edit, int32_t& field) {
        // Not digits: left unchanged. Digits beyond the 32-bit range: the
        // conversion error ends the command.
        if (IsAllDigits(edit->text()))
            field = StrToInt(edit->text());
    };
    if (FieldChanged[3])
        number(f_size, r.Size);
    if (FieldChanged[4] || FieldChanged[5]) {
        if (!PanelTimeInto(f_FileDate, f_FileTime, FieldChanged[4], r.FileTime))
            ShowWarning(QStringLiteral("Could not convert File Date or Time."));
    }
    if (FieldChanged[6] || FieldChanged[7]) {
        if (!PanelTimeInto(f_accessDate, f_accessTime, FieldChanged[6], r.LastAccessed))
            ShowWarning(QStringLiteral("Could not convert Last Accessed Date or Time "));
    }
    if (FieldChanged[8])
        number(f_downloads, r.Downloads);
    if (FieldChanged[9])
        number(f_cost, r.Cost);
    if (FieldChanged[11])
        r.NeverOverwrite = cbf_NeverOverWrite->isChecked() ? 1 : 0;
    if (FieldChanged[10])
        r.NeverDelete = cbf_NeverDelete->isChecked() ? 1 : 0;
    if (FieldChanged[12])
        r.FailedScan = cbf_FailedScan->isChecked() ? 1 : 0;
    if (FieldChanged[13])
        r.CopyBeforeDownload = cbf_CopyBeforeDL->isChecked() ? 1 : 0;
    if (FieldChanged[14])
        r.FreeFile = cbf_FreeFile->isChecked() ? 1 : 0;
    if (FieldChanged[15])
        r.FreeTime = cbf_FreeTime->isChecked() ? 1 : 0;
    if (FieldChanged[2]) {
        SetUploaderByName(r.Uploader, f_uploader->text());
    }
    if (FieldChanged[16])
        SetShownRecText(r.Password, f_Password->text());
    if (FieldChanged[17])
        SetShownRecText(r.Description, f_desc->text());
    if (FieldChanged[18]) {
        // Lines as the memo counts them: a last empty line after a line end
        // is no line of its own.
        // The raw text: the plain text would turn each no-break space (byte
        // 0xA0 as Latin-1, 0xFF as code page 437) into a blank.
        QString memo = Long_Desc->document()->toRawText();
        memo.replace(QChar::ParagraphSeparator, u'\n').replace(QChar::LineSeparator, u'\n');
        QStringList lines = memo.split(u'\n');
        if (!lines.isEmpty() && lines.last().isEmpty())
            lines.removeLast();
        qsizetype n = lines.size();
        if (n == 1 && TrimControls(lines.first()).isEmpty())
            n = 0;
        if (n > 0) {
            const qsizetype k = std::min<qsizetype>(n, LongDescLines);
            for (qsizetype i = 0; i < k; ++i)
                SetShownRecText(full.LongDescription[i], lines.at(i)); // cut to 79 characters
            for (qsizetype i = k; i < LongDescLines; ++i)
                SetRecText(full.LongDescription[i], QString());
            r.HasLongDescription = 1;
        } else {
            r.HasLongDescription = 0;
            for (int i = 0; i < LongDescLines; ++i)
                SetRecText(full.LongDescription[i], QString());
        }
    }
}

void TRecordPanel::ReshowTexts(RecordCodePage before, RecordCodePage after)
{
    const auto reshow = [before, after](const QString& text) {
        SetRecordCodePage(before);
        const QByteArray bytes = StoredBytes(text);
        SetRecordCodePage(after);
        return ShownText(bytes);
    };
    Loading = true;
    for (QLineEdit* e : {f_uploader, f_Password, f_desc})
        e->setText(reshow(e->text()));
    Long_Desc->setPlainText(reshow(Long_Desc->toPlainText()));
    Loading = false;
}
