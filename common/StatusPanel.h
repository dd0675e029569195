// The main window's single status panel, as other parts of the program see
// it: write a text, and have it cleared about a second after the command.
#pragma once

#include <QString>

class StatusPanel
{
public:
    virtual ~StatusPanel() = default;
    virtual QString StatusText() const = 0;
    // Sets the text and redraws the status bar at once.
    virtual void SetStatusText(const QString& text) = 0;
    // Starts the one-second timer that empties the panel.
    virtual void StartClearStatus() = 0;
};
