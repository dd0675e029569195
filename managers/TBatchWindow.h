// What the three batch managers share: one run at a time, and a run that is
// never torn down under its own loop. During a run, Esc and the close box
// become a stop request; Esc presses the window's stop button when it shows.
// Each opening fills the window once (FormShow); a window brought back after
// minimising keeps its lists and selections, also during a run. The first
// opening also places it. The filter a manager applies is the one the match
// window left.
#pragma once

#include "common/WindowOpening.h"

#include <QDialog>
#include <QSize>
#include <QString>

class QAbstractButton;

class TBatchWindow : public QDialog
{
    Q_OBJECT
public:
    // `outerSize` is the window's size with its frame.
    TBatchWindow(QSize outerSize, QWidget* parent);
    bool IsRunning() const { return m_running; }
    void reject() override;
    // The copy of the filter file path taken when the match window closed.
    QString FilterFilePath() const { return m_filterFilePath; }

public slots:
    virtual void FormShow() = 0;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // The button Esc presses while it is visible; none by default.
    virtual QAbstractButton* EscapeButton() const { return nullptr; }
    // Opens the match window, then takes the filter file path it left and
    // returns that path's file name part.
    QString EditFilter();

    bool m_stopRequest = false;
    bool m_running = false;

private:
    const QSize m_outerSize;
    bool m_placed = false;
    WindowOpening m_opening;
    QString m_filterFilePath;
};
