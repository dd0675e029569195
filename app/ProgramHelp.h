// The program's own help on the command line: --help, --version and the
// manual page (hidden --man, which the build writes to vtfilemgr.1), all
// from one set of texts. Read before the application object exists, so that
// they need no display.
#pragma once

#include <QString>

QString ProgramHelp();
QString ProgramManPage();

// When the arguments ask for one of the texts above: prints it and returns
// true (the program then ends with 0). Any other argument is left to Qt.
bool PrintProgramHelp(int argc, char** argv);
