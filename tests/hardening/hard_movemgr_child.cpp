// Helper of the process-death test: opens the move manager offscreen on the
// BBS that WCSRV_HOME names, chooses area 1 as source and area 2 as
// destination, answers every question Yes (files too) and runs the move.
// Prints "MOVING" just before the move starts and "DONE" after it.
#include "common/AreaLines.h"
#include "common/Dialogs.h"
#include "common/VtApplication.h"
#include "config/Settings.h"
#include "managers/TMoveMgr.h"
#include "tests/support/TestSupport.h"

#include <QListWidget>

#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    VtApplication app(argc, argv);
    ProgramFolderOverride = qEnvironmentVariable("VT_PROGRAM_FOLDER");
    SetMessageHook([](MessageKind, const QString&, const QStringList& buttons) {
        return buttons.size() <= 1 ? DialogAnswer::Ok : DialogAnswer::Yes;
    });
    ServerLogin login;
    if (!login.ok()) {
        std::fprintf(stderr, "no login\n");
        return 2;
    }
    TMoveMgr form;
    form.show();
    auto pick = [](QListWidget* list, int area) {
        for (int i = 0; i < list->count(); ++i)
            if (AreaNumberOfLine(list->item(i)->text()) == area)
                list->item(i)->setSelected(true);
    };
    pick(form.AreaList1, 1);
    pick(form.AreaList2, 2);
    std::printf("MOVING\n");
    std::fflush(stdout);
    form.b_MoveToList2Click();
    std::printf("DONE\n");
    std::fflush(stdout);
    form.close();
    return 0;
}
