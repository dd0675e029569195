#include "app/TAbout.h"

#include "app/Banner.h"
#include "common/BuildInfo.h"

#include <QFontDatabase>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TAbout::TAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("About"));
    setWindowTitle(QStringLiteral("About"));
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::white);
    setPalette(pal);

    auto* layout = new QVBoxLayout(this);
    Image1 = new QLabel(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setPixmap(ProgramBanner());
    Image1->setFixedSize(274, 83);
    layout->addWidget(Image1, 0, Qt::AlignHCenter);

    const QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // Version 1.1, build 16: the project's version 1.1.16 (BuildInfo.h).
    L_Version = new QLabel(
        QStringLiteral("Version: %1.%2").arg(VT_VERSION_MAJOR).arg(VT_VERSION_MINOR), this);
    L_Version->setObjectName(QStringLiteral("L_Version"));
    L_Version->setFont(mono);
    L_Build = new QLabel(QStringLiteral("Build #%1").arg(VT_VERSION_BUILD), this);
    L_Build->setObjectName(QStringLiteral("L_Build"));
    L_Build->setFont(mono);
    layout->addWidget(L_Version, 0, Qt::AlignHCenter);
    layout->addWidget(L_Build, 0, Qt::AlignHCenter);

    OKButton = new QPushButton(QStringLiteral("OK"), this);
    OKButton->setObjectName(QStringLiteral("OKButton"));
    OKButton->setDefault(true);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    layout->addWidget(OKButton, 0, Qt::AlignHCenter);
    setFixedSize(sizeHint().expandedTo(QSize(300, 0)));
}
