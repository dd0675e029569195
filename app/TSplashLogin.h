// The login splash: shown while the main window logs in.
#pragma once

#include <QDialog>

class QLabel;

class TSplashLogin : public QDialog
{
    Q_OBJECT
public:
    explicit TSplashLogin(QWidget* parent = nullptr);

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;

public slots:
    void FormShow();
    void FormActivate();
    void FormPaint();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void SetTexts();
};
