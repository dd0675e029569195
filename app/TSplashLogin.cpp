#include "app/TSplashLogin.h"

#include "app/Banner.h"

#include <QEvent>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

TSplashLogin::TSplashLogin(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("SplashLogin"));
    setWindowTitle(QStringLiteral("VTFileManager Login"));
    setFixedSize(305, 146);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(15, 6, 15, 6);
    layout->setSpacing(2);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(ProgramBanner());
    Image1->setFixedSize(274, 83);
    layout->addWidget(Image1, 0, Qt::AlignHCenter);
    QFont bold = font();
    bold.setBold(true);
    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(bold);
    Label2 = new QLabel(this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setFont(bold);
    layout->addWidget(Label1, 0, Qt::AlignHCenter);
    layout->addWidget(Label2, 0, Qt::AlignHCenter);
    SetTexts();
}

void TSplashLogin::SetTexts()
{
    const QString line1 = QStringLiteral("Logging into default Wildcat Server.");
    const QString line2 = QStringLiteral("Stand by...");
    // Only when different: setting a label's text schedules a repaint.
    if (Label1->text() != line1)
        Label1->setText(line1);
    if (Label2->text() != line2)
        Label2->setText(line2);
}

void TSplashLogin::FormShow()
{
    SetTexts();
}
void TSplashLogin::FormActivate()
{
    SetTexts();
}
void TSplashLogin::FormPaint()
{
    SetTexts();
}

void TSplashLogin::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A restore after minimising is a spontaneous show event: not an opening.
    if (!event->spontaneous())
        FormShow();
}

void TSplashLogin::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        FormActivate();
}

void TSplashLogin::paintEvent(QPaintEvent* event)
{
    FormPaint();
    QDialog::paintEvent(event);
}
