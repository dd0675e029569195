// Vantrel File Manager: the splash while logging in, then the main window.
#include "app/ProgramHelp.h"
#include "app/TFileMgr.h"
#include "app/TSplashLogin.h"
#include "common/VtApplication.h"
#include "server/wcsrv.h"

int main(int argc, char** argv)
{
    // --help, --version and --man print their text and end before any window.
    if (PrintProgramHelp(argc, argv))
        return 0;
    VtApplication app(argc, argv);

    auto* splash = new TSplashLogin;
    splash->show();
    splash->repaint();
    QApplication::processEvents();

    QApplication::setApplicationName(QStringLiteral("vtFile Mgr"));

    int result = 0;
    {
        TFileMgr fileMgr;
        fileMgr.SetSplash(splash);
        fileMgr.show();
        result = QApplication::exec();
    }
    // A last context deletion after the loop; its result does not matter.
    WildcatServerDeleteContext();
    return result;
}
