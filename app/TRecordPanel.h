// The main window's record panel: the fields of one file record, filled
// from a record; which fields the sysop has changed since; and the rules by
// which those changes go back into a record (the Update button, one record
// or every selected one).
#pragma once

#include "common/Text.h"
#include "server/Records.h"

#include <QWidget>

#include <array>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// Number of tracked record panel fields (Tags 1 to 18).
constexpr int kPanelFields = 18;

class TRecordPanel : public QWidget
{
    Q_OBJECT
public:
    explicit TRecordPanel(QWidget* parent = nullptr);

    // Fills the fields from the record and keeps it as the shown record.
    // The caller sets Loading around it, so that the fill counts as no edit.
    void ShowRecord(const FullFileRec& full);
    // Empties the record's fields and the disk state; no field counts as
    // changed afterwards.
    void Clear();
    // "File exists on disk" in blue or "File not found on disk" in red.
    void ShowDiskState(bool exists);
    void ClearChangeFlags();
    // Writes the changed fields into `full`. A date or time that can't be
    // converted is told and leaves its field unchanged; digits beyond the
    // 32-bit range raise the conversion error that ends the command.
    void ChangesInto(FullFileRec& full) const;
    // The change event of a tracked control (ignored while Loading).
    void FieldBeenChanged(QWidget* control);
    // Shows the record texts, edits included, again in the code page now
    // in use: each keeps the bytes it stood for under `before`.
    void ReshowTexts(RecordCodePage before, RecordCodePage after);

    // Controls, named as the sysop's documentation and the tests know them.
    QLineEdit* f_Area = nullptr;
    QLabel* L_FileInArea = nullptr;
    QLineEdit* FilesInArea = nullptr;
    QLabel* L_FileFound = nullptr;
    QLineEdit* f_FileName = nullptr;
    QLineEdit* f_uploader = nullptr;
    QLineEdit* f_size = nullptr;
    QLineEdit* f_FileDate = nullptr;
    QLineEdit* f_FileTime = nullptr;
    QLineEdit* f_accessDate = nullptr;
    QLineEdit* f_accessTime = nullptr;
    QLineEdit* f_downloads = nullptr;
    QLineEdit* f_cost = nullptr;
    QCheckBox* cbf_NeverDelete = nullptr;
    QCheckBox* cbf_NeverOverWrite = nullptr;
    QCheckBox* cbf_FailedScan = nullptr;
    QCheckBox* cbf_CopyBeforeDL = nullptr;
    QCheckBox* cbf_FreeFile = nullptr;
    QCheckBox* cbf_FreeTime = nullptr;
    QLineEdit* f_Password = nullptr;
    QLineEdit* f_desc = nullptr;
    QPushButton* b_ExtracFile_IS = nullptr;
    QPlainTextEdit* Long_Desc = nullptr;

    // The record last shown, the fields changed since (index = Tag, [0]
    // unused), whether any was, and whether the program itself is filling
    // the fields (changes then count for nothing).
    FullFileRec ShownRecord{};
    std::array<bool, kPanelFields + 1> FieldChanged{};
    bool RecordChanged = false;
    bool Loading = false;

signals:
    // A tracked field was changed by the sysop (the window's Freshen button
    // becomes Update).
    void Changed();

private:
    void BuildControls();
    void TrackChanges();
};
