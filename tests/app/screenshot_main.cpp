// Takes the README's picture of the main window: opens the real window on
// the BBS that WCSRV_HOME names, chooses an area line and a file, and saves
// the window as a PNG. Usage: vt_screenshot OUTPUT.png [AREA-INDEX [ROW]]
#include "app/TFileMgr.h"
#include "common/VtApplication.h"
#include "config/Settings.h"

#include <QComboBox>
#include <QFile>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

int main(int argc, char** argv)
{
    VtApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const QString output = QString::fromLocal8Bit(argv[1]);
    const int areaIndex = argc > 2 ? std::atoi(argv[2]) : 0;
    const int row = argc > 3 ? std::atoi(argv[3]) : 0;
    // A program folder of its own with a configuration, so no setup window.
    QTemporaryDir folder;
    ProgramFolderOverride = folder.path() + u'/';
    QFile cfg(ProgramFolderOverride + QStringLiteral("vuru.cfg"));
    if (cfg.open(QIODevice::WriteOnly))
        cfg.write("[General]\nwcHomeDir=/wc5/\n[Tools]\nZipViewer_Prg1=xdg-open\n");
    cfg.close();

    TFileMgr w;
    w.show();
    if (!QTest::qWaitForWindowExposed(&w) || !w.LoggedIn())
        return 1;
    w.ChooseArea(areaIndex);
    const QModelIndex index = w.FileListBox->model()->index(row, 0);
    w.FileListBox->scrollTo(index);
    QTest::mouseClick(w.FileListBox->viewport(), Qt::LeftButton, {},
                      w.FileListBox->visualRect(index).center());
    QTest::qWait(300);
    const bool saved = w.grab().save(output);
    w.close();
    return saved ? 0 : 1;
}
