// "Choose a File Area": a modal list of the file areas. exec() returns the
// chosen area number (1 or more), or -1 after "&Cancel" or the close box.
#pragma once

#include "common/WindowOpening.h"

#include <QDialog>

class QListWidget;
class QListWidgetItem;
class QPushButton;

class TChooseFileAreaForm : public QDialog
{
    Q_OBJECT
public:
    explicit TChooseFileAreaForm(QWidget* parent = nullptr);

    QListWidget* AreaListBox;
    QPushButton* b_OK;
    QPushButton* b_Cancel;

    // The chosen area number; -1 until a line is chosen.
    int Result() const { return m_result; }

public slots:
    void FormShow();
    void b_OKClick();
    void AreaListBoxDblClick();
    void b_CancelClick();
    // Closing by any way other than a choice (close box, Esc) gives -1.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    WindowOpening m_opening;
    // The modal result becomes the result.
    void FormClose();

    int m_result = -1;
};
