// What the three batch managers share: one run at a time, and a run that is
// never torn down under its own loop. During a run, Esc and the close box
// become a stop request; Esc presses the window's stop button when it shows.
#pragma once

#include <QDialog>

class QAbstractButton;

class TBatchWindow : public QDialog
{
    Q_OBJECT
public:
    using QDialog::QDialog;
    bool IsRunning() const { return m_running; }
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The button Esc presses while it is visible; none by default.
    virtual QAbstractButton* EscapeButton() const { return nullptr; }

    bool m_stopRequest = false;
    bool m_running = false;
};
