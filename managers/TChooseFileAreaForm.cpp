#include "managers/TChooseFileAreaForm.h"

#include "common/AreaLines.h"
#include "managers/ManagerSupport.h"

#include <QHideEvent>
#include <QListWidget>
#include <QPushButton>

TChooseFileAreaForm::TChooseFileAreaForm(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("ChooseFileAreaForm"));
    setWindowTitle(QStringLiteral("Choose a File Area"));
    setFixedSize(264, 346);

    AreaListBox = new QListWidget(this);
    AreaListBox->setObjectName(QStringLiteral("AreaListBox"));
    AreaListBox->setSelectionMode(QAbstractItemView::SingleSelection);
    AreaListBox->setGeometry(0, 0, 264, 305);

    b_OK = new QPushButton(QStringLiteral("&OK"), this);
    b_OK->setObjectName(QStringLiteral("b_OK"));
    b_OK->setGeometry(48, 312, 75, 25);
    b_Cancel = new QPushButton(QStringLiteral("&Cancel"), this);
    b_Cancel->setObjectName(QStringLiteral("b_Cancel"));
    b_Cancel->setGeometry(141, 312, 75, 25);
    b_OK->setAutoDefault(false);
    b_Cancel->setAutoDefault(false);

    connect(b_OK, &QPushButton::clicked, this, &TChooseFileAreaForm::b_OKClick);
    connect(b_Cancel, &QPushButton::clicked, this, &TChooseFileAreaForm::b_CancelClick);
    connect(AreaListBox, &QListWidget::itemDoubleClicked, this,
            &TChooseFileAreaForm::AreaListBoxDblClick);
}

void TChooseFileAreaForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // Brought back after minimising, the list keeps the line the sysop chose.
    if (m_opening.Begins())
        FormShow();
}

void TChooseFileAreaForm::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    m_opening.Hidden(event);
}

void TChooseFileAreaForm::FormShow()
{
    m_result = -1;
    AreaListBox->clear();
    AreaListBox->addItems(AllAreaLines());
}

void TChooseFileAreaForm::b_OKClick()
{
    const QList<QListWidgetItem*> selected = AreaListBox->selectedItems();
    if (selected.isEmpty())
        return;
    m_result = AreaNumberOfLine(selected.first()->text());
    FormClose();
}

void TChooseFileAreaForm::AreaListBoxDblClick()
{
    b_OKClick();
}

void TChooseFileAreaForm::b_CancelClick()
{
    m_result = -1;
    FormClose();
}

void TChooseFileAreaForm::reject()
{
    b_CancelClick();
}

void TChooseFileAreaForm::FormClose()
{
    done(m_result);
}
