// The program's banner picture (274 by 83), shown by the splash and About.
#pragma once

#include <QPixmap>

QPixmap ProgramBanner();
