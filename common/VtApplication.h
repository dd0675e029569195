// The application object: catches the errors that end a command (AppError)
// where the event loop delivers the event, shows them in the general error
// box, and lets the program go on.
#pragma once

#include <QApplication>

#include <functional>

class VtApplication : public QApplication
{
    Q_OBJECT
public:
    VtApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

// Runs a command the way the event loop would: an AppError ends it and is
// shown in the general error box. Returns false when it ended that way.
bool RunCommand(const std::function<void()>& command);
