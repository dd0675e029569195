// Manual pages (troff with the man macros), made by the programs themselves
// from their help texts (their hidden --man option), so that a page and the
// program's --help cannot disagree.
#pragma once

#include <QString>

// `text` as troff text: backslashes and minus signs escaped, and a line that
// would begin with a control character ('.' or '\'') protected.
QString ManText(QString text);

// The page's head: .TH with the program's name and version, and the NAME
// section with its one-line summary.
QString ManHead(const QString& program, const QString& summary);
