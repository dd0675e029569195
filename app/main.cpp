// Vantrel File Manager: the splash while logging in, then the main window.
#include "app/TFileMgr.h"
#include "app/TSplashLogin.h"
#include "common/VtApplication.h"
#include "server/wcsrv.h"

int main(int argc, char** argv)
{
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
