// The small modeless progress window: a bar and a Cancel button. Its user
// creates it, shows it with show(), sets its caption and the bar's range and
// position, and closes and destroys it when the work is done.
#pragma once

#include "common/WindowOpening.h"

#include <QDialog>

class QProgressBar;
class QPushButton;

class TProgressForm : public QDialog
{
    Q_OBJECT
public:
    explicit TProgressForm(QWidget* parent = nullptr);

    QProgressBar* Bar;
    QPushButton* b_Cancel;

    // Set by "&Cancel", cleared when the window opens (not when it is
    // brought back after minimising: a Cancel pressed stays pressed).
    bool CancelRequested() const { return m_cancelRequest; }

public slots:
    void FormShow();
    void b_CancelClick();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    WindowOpening m_opening;
    bool m_cancelRequest = false;
};
