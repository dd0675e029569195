// The program's help viewer: shows the HTML help file "VURU.HLP" at a
// context number (an anchor of that name).
#pragma once

#include <QDialog>

class QTextBrowser;

class THelpViewer : public QDialog
{
    Q_OBJECT
public:
    explicit THelpViewer(QWidget* parent = nullptr);
    // False when the file cannot be read.
    bool ShowContext(const QString& helpFile, int context);

    QTextBrowser* HelpText = nullptr;
};

// Where the help file is: beside the program, or in the settings folder.
QString HelpFilePath();
