#include "managers/TProgressForm.h"

#include "managers/ManagerSupport.h"

#include <QHideEvent>
#include <QProgressBar>
#include <QPushButton>

TProgressForm::TProgressForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("ProgressForm"));
    setWindowTitle(QStringLiteral("Progress"));
    setFixedSize(270, 74);

    Bar = new QProgressBar(this);
    Bar->setObjectName(QStringLiteral("Bar"));
    Bar->setGeometry(12, 10, 246, 18);
    Bar->setRange(0, 100);
    Bar->setValue(0);
    Bar->setTextVisible(false);

    b_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
    b_Cancel->setGeometry(97, 40, 75, 25);
    b_Cancel->setAutoDefault(false);
    connect(b_Cancel, &QPushButton::clicked, this, &TProgressForm::b_CancelClick);
}

void TProgressForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!m_opening.Begins())
        return;
    CenterOnScreen(this);
    FormShow();
}

void TProgressForm::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    m_opening.Hidden(event);
}

void TProgressForm::FormShow()
{
    m_cancelRequest = false;
}

void TProgressForm::b_CancelClick()
{
    m_cancelRequest = true;
}
