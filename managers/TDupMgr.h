// "Duplicate File Manager": scans chosen file areas for records that are
// duplicates by name or by content, lists the groups with the records whose
// file is missing apart, lets the sysop choose per group or for all groups
// which records stay, and deletes the others (optionally with their files)
// through the deletion manager's run.
#pragma once

#include "managers/DuplicateRun.h"
#include "managers/TBatchWindow.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QStatusBar;
class QTreeWidget;
class QTreeWidgetItem;

class TDupMgr : public TBatchWindow
{
    Q_OBJECT
public:
    explicit TDupMgr(QWidget* parent = nullptr);

    QListWidget* AreaList;
    QGroupBox* gb_FindBy;
    QRadioButton* rb_ByName;
    QRadioButton* rb_ByContent;
    QRadioButton* rb_ByBoth;
    QPushButton* b_Scan;
    QPushButton* b_Stop;
    QTreeWidget* GroupTree;
    QListWidget* MissingList;
    QLabel* L_Summary;
    QGroupBox* gb_Keep;
    QComboBox* cb_KeepRule;
    QComboBox* cb_KeepArea;
    QPushButton* b_KeepGroup;
    QPushButton* b_KeepAll;
    QCheckBox* cb_PromptFirst;
    QPushButton* b_Delete;
    QPushButton* b_Close;
    QProgressBar* ProgressBar;
    QStatusBar* StatusBar;

    // Columns of GroupTree.
    enum Column { ColName, ColSize, ColDate, ColDescription, ColUploader, ColResult, ColCount };
    // The order of cb_KeepRule's entries.
    static KeepRule RuleAt(int index) { return KeepRule(index); }

    QString StatusText() const;
    // The last scan's result (empty before the first scan).
    const DupeResult& LastScan() const { return m_scan; }
    // The member lines' keep marks, one list per group.
    QList<QList<bool>> KeepMarks() const;

public slots:
    void FormShow() override;
    void b_ScanClick();
    void b_StopClick();
    void b_KeepGroupClick();
    void b_KeepAllClick();
    void b_DeleteClick();
    void b_CloseClick();
    void GroupTreeItemChanged(QTreeWidgetItem* item, int column);

protected:
    QAbstractButton* EscapeButton() const override;

private:
    void SetStatusText(const QString& text);
    void SetRunning(bool running);
    void ShowScan();
    // Applies the rule chosen in cb_KeepRule to group `g`.
    void ApplyRule(int g);
    void ShowGroupLine(int g);
    // The group of a line of GroupTree (its own, or its parent's), or -1.
    int GroupOfItem(const QTreeWidgetItem* item) const;

    QLabel* m_statusPanel;
    DupeResult m_scan;
    QStringList m_ruleShown; // per group: the rule its marks came from
    bool m_filling = false;  // marks set by the program, not by a click
};
