// Server paths of files and the walk over one area's records.
#pragma once

#include "server/Records.h"

#include <QString>

#include <functional>

// "wc:\file\area(N)\NAME", cut to 99 characters (the 100-byte buffer).
QString ServerFilePath(int area, const QString& name);
QByteArray ServerFilePathBytes(int area, const char* name);

// True when the first four characters are "wc:\" in any letter case.
bool IsServerPath(const QString& path);

// Walks the records of one area in the server's order: the first record at
// or after (area, ""), then the next ones while their Area stays `area`.
// `visit` returns false to stop the walk early. Returns the number of
// records visited. A read that fails for another reason than the walk's end
// is noted for TakeReadFailure.
long WalkArea(int area, const std::function<bool(FileRec&)>& visit);
