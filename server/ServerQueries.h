// Small reads of the server that the windows show: the area lines, the
// user names, whether an area or a file is there, how many files an area
// holds, and the uploader a typed name stands for. No widgets: windows call
// these rather than the server library itself.
#pragma once

#include "server/Records.h"

#include <QString>
#include <QStringList>

// One area line ("   3: Utilities") for each area number from 1 to
// GetFileAreaCount whose GetFileArea succeeds, in number order; the names
// through the record code page, as every window shows them.
QStringList AllAreaLines();
// Every user's name in name order, through the record code page.
QStringList AllUserNames();
// The BBS's own record (the sysop's name); false when it can't be read.
bool ReadMakewild(MakewildRec& out);
// The area's record; false when the server has no such area.
bool ReadFileArea(int area, FileAreaRec& out);
// Whether the server has the area (its GetFileArea succeeds).
bool FileAreaExists(int area);
// The number of records the server counts in the area.
int32_t AreaFileCount(int area);
// Whether the file behind a server path ("wc:\file\area(N)\NAME") exists.
bool ServerFileExists(const QString& serverPath);
// Sets the uploader from a name as a window shows it: the user of that name
// when the BBS knows one, else an uploader of all zeros (no user).
void SetUploaderByName(UserRef& uploader, const QString& shownName);
