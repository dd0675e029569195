// The server file copy without a window: copies one file between any two
// paths, each a disk path or a server path ("wc:\file\area(N)\NAME"), and
// tells an observer how far it came (in fixed chunks) and what failed. The
// bytes go in large pieces: inside the kernel where either end is a server
// file, else (or where the kernel cannot) through a large buffer.
#pragma once

#include "common/FileMove.h"

#include <QString>

// The progress bar's unit, and the bytes of each write to a server file.
inline constexpr int kCopyChunkSize = 4096;

class CopyObserver
{
public:
    virtual ~CopyObserver() = default;
    // Both files are open: the copy of `maximum` chunks begins.
    virtual void Begin(const QString& /*caption*/, int /*maximum*/) {}
    // Chunks copied so far (at least every thousandth of the file, exactly
    // before a failure message and at the end).
    virtual void Progress(int /*chunks*/) {}
    // The copy has ended, whether it succeeded or not (only after Begin).
    virtual void End() {}
    // A failure, in the copy's own words ("Error Opening: <source>", ...).
    virtual void Warn(const QString& text) = 0;
};

// Copies `source` to `destination` (created anew, an existing file
// replaced). Returns true when the whole source was copied; on false the
// failure has been told to the observer. A destination left incomplete by a
// failed read or write keeps the bytes written so far.
bool CopyServerFileWith(const QString& source, const QString& destination, const QString& caption,
                        CopyObserver& observer);

// Moves the file of the server path `source` to the server path
// `destination`. Where both lie on one file system and the destination
// does not exist, the file is renamed, and the observer is told so as of a
// copy done at once (Begin, Progress to the end, End). Where the server
// finds the destination's name taken (in any letter case, or the source
// itself in a folder two areas share), nothing is moved or told: Taken. A
// move never replaces a file. Otherwise (other file systems, a disk path, a
// rename refused) the file is copied by CopyServerFileWith.
FileMove MoveServerFileWith(const QString& source, const QString& destination,
                            const QString& caption, CopyObserver& observer);

// Puts a file that MoveServerFileWith renamed back where it was (the record
// that was to follow it stayed); false with the server's error code.
bool PutBackMovedFile(const QString& moved, const QString& original);
