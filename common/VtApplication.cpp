#include "common/VtApplication.h"

#include "common/AppError.h"
#include "common/Dialogs.h"

VtApplication::VtApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool VtApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const AppError& error) {
        ShowErrorBox(error.message());
        return true;
    }
}

bool RunCommand(const std::function<void()>& command)
{
    try {
        command();
        return true;
    } catch (const AppError& error) {
        ShowErrorBox(error.message());
        return false;
    }
}
