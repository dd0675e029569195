#include "managers/TBatchWindow.h"

#include <QAbstractButton>
#include <QCloseEvent>
#include <QKeyEvent>

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
