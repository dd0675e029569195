// Copying one file between any two paths, each a disk path or a server path
// ("wc:\file\area(N)\NAME"), under a progress window.
#pragma once

#include "server/ServerFileCopy.h"

#include <QString>

// Copies `source` to `destination` (created anew, an existing file replaced)
// and shows a modeless progress window captioned `caption` meanwhile.
// Returns true when the whole source was copied; on false the failure has
// already been shown to the sysop ("Error Opening: <source>", "Error
// Creating: <destination>", "Error Reading from file", "Error Writing new
// file", "Bytes Written not equal to Bytes Read."). A destination left
// incomplete by a failed read or write stays with the bytes written so far.
bool CopyServerFile(const QString& source, const QString& destination, const QString& caption);

// Moves a file between two server paths under the same progress window:
// renamed where both lie on one file system (the window opens and is
// complete at once), else copied as CopyServerFile copies, the source
// staying. Failures have been shown as CopyServerFile shows them.
FileMove MoveServerFile(const QString& source, const QString& destination, const QString& caption);
