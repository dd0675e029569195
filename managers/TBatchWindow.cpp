#include "managers/TBatchWindow.h"

#include "filter/SearchRecord.h"
#include "filter/TMatchForm.h"
#include "managers/ManagerSupport.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QHideEvent>
#include <QKeyEvent>

TBatchWindow::TBatchWindow(QSize outerSize, QWidget* parent)
    : QDialog(parent), m_outerSize(outerSize)
{
    SetOuterSize(this, m_outerSize);
}

void TBatchWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // The frame is known once the window shows: the first showing sets the
    // outer size again and centres the window.
    if (!m_placed) {
        m_placed = true;
        SetOuterSize(this, m_outerSize);
        CenterOnScreen(this);
    }
    if (m_opening.Begins())
        FormShow();
}

void TBatchWindow::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    m_opening.Hidden(event);
}

QString TBatchWindow::EditFilter()
{
    {
        TMatchForm form(this);
        form.exec();
    }
    m_filterFilePath = SearchRecordFileName;
    return FileNamePart(m_filterFilePath);
}

void TBatchWindow::reject()
{
    if (m_running)
        m_stopRequest = true;
    else
        QDialog::reject();
}

void TBatchWindow::closeEvent(QCloseEvent* event)
{
    // The close box during a run asks for a stop instead of destroying the
    // window under the running loop.
    if (m_running) {
        m_stopRequest = true;
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TBatchWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape) {
        QAbstractButton* button = EscapeButton();
        if (button && button->isVisible())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
