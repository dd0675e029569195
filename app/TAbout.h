// The About window: banner, version and build.
#pragma once

#include <QDialog>

class QLabel;
class QPushButton;

class TAbout : public QDialog
{
    Q_OBJECT
public:
    explicit TAbout(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* L_Version = nullptr;
    QLabel* L_Build = nullptr;
    QPushButton* OKButton = nullptr;
};
