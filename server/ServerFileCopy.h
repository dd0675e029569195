// The server file copy without a window: copies one file between any two
// paths, each a disk path or a server path ("wc:\file\area(N)\NAME"), in
// fixed chunks, and tells an observer how far it came and what failed.
#pragma once

#include <QString>

// Bytes read and written per step; also the progress bar's unit.
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
