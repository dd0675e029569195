// "Set Match Criteria": edits CurrentSearchRecord, saves and loads ".FMS" files.
#pragma once

#include "server/Records.h"

#include <QDialog>

// The window's edit copy of the search record's template; outlives the window.
extern FullFileRec EditTemplate;

class TMatchForm : public QDialog {
    Q_OBJECT
public:
    explicit TMatchForm(QWidget* parent = nullptr);
    ~TMatchForm() override;
    // (The rest of the interface is built by its author: FormShow,
    // bs_ClearClick, bs_OkClick, bs_SaveClick, bs_LoadClick, FillControls,
    // CommitCriteria, ReadControls, SaveSearchRecord, LoadSearchRecord.)
};
