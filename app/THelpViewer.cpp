#include "app/THelpViewer.h"

#include "common/InstallLayout.h"
#include "config/Settings.h"

#include <QFile>
#include <QFileInfo>
#include <QTextBrowser>
#include <QVBoxLayout>

THelpViewer::THelpViewer(QWidget* parent) : QDialog(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("vtFile Mgr Help"));
    resize(560, 480);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    HelpText = new QTextBrowser(this);
    HelpText->setObjectName(QStringLiteral("HelpText"));
    HelpText->setOpenExternalLinks(false);
    layout->addWidget(HelpText);
}

bool THelpViewer::ShowContext(const QString& helpFile, int context)
{
    QFile file(helpFile);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    HelpText->setSearchPaths({QFileInfo(helpFile).absolutePath()});
    HelpText->setHtml(QString::fromUtf8(file.readAll()));
    HelpText->scrollToAnchor(QString::number(context));
    return true;
}

QString HelpFilePath()
{
    const QString inSettings = ProgramFolder + QStringLiteral("VURU.HLP");
    if (!ProgramFolder.isEmpty() && QFile::exists(inSettings))
        return inSettings;
    // Beside the program (the build tree), else in an installed tree's data folder.
    return InstallLayout::OfThisProgram().DataFile(QStringLiteral("VURU.HLP"));
}
