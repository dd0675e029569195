// Deciding what the intake does with one TIC and its file: take it, wait
// for the rest of the file, or refuse it with a reason; and the record
// texts an accepted file gets. The decision itself (CheckTic) reads nothing
// from disk: what it needs of the file comes in a TicFileState, which
// ReadTicFileState fills from the inbound folder. No widgets.
#pragma once

#include "archive/TicFile.h"
#include "common/Text.h"
#include "common/TicSettings.h"
#include "server/Records.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

#include <optional>

// A file that is missing or shorter than its Size is waited for while its
// TIC is younger than this; after that the TIC is refused.
inline constexpr qint64 kTicWaitSeconds = 60 * 60;
// The most characters of a record's Description (the field less its NUL).
inline constexpr qsizetype kTicDescriptionBytes = qsizetype(sizeof(FileRec::Description)) - 1;
// The most characters of a long-description line (the field less its NUL).
inline constexpr qsizetype kTicLongLineBytes = LongDescLineSize - 1;

// What the intake knows of a TIC's file in the inbound.
struct TicFileState {
    // The file was found: a plain file (links are not followed) named as
    // File says in any letter case, else as the long name says.
    bool exists = false;
    // An entry of that name is there but is no plain file (a folder, a
    // link, a device): it is refused, never followed.
    bool notPlain = false;
    QByteArray path; // the found file's disk path
    qint64 size = -1;
    // The file's CRC-32, read when it is there, not larger than a record
    // holds and not shorter or longer than Size (when the TIC gives one).
    std::optional<quint32> crc;
    bool readFailed = false; // the file was there but could not be read through
    // Seconds since the TIC file was last written (negative when its time
    // lies ahead).
    qint64 ticAgeSeconds = 0;
};

enum class TicVerdict {
    Accept, // check passed: the file can be placed
    Wait,   // not complete yet: leave the TIC and its file for the next run
    Refuse, // goes to the bad folder with `reason`
};

struct TicDecision {
    TicVerdict verdict = TicVerdict::Refuse;
    // Why it is refused or waits ("echo 'FOO' is not in TicAreas"); empty
    // when accepted. Written beside a refused TIC in the bad folder.
    QString reason;
    // Refused because the name in File could lead outside the inbound (a
    // path separator, "." or "..", a control character) or there is no
    // File line: only the TIC goes to bad, no other file is touched.
    bool ticOnly = false;

    int area = 0;          // the echo's area (0 when the echo has none)
    QByteArray recordName; // File's bytes with a-z as A-Z: the record's Name

    // The texts for the record, in the record code page, each bounded by
    // its field. Filled whenever File is a usable name, also for a TIC that
    // waits or is refused, for the preview.
    // - description: the Desc lines joined with one blank, else the first
    //   non-blank LDesc line; cut at kTicDescriptionBytes.
    // - longDescription: the long name (when it is longer than a record's
    //   name, while File fits), then the LDesc lines (trailing empty ones
    //   left off), or the Desc lines when there is no LDesc but a long name;
    //   at most LongDescLines lines of at most kTicLongLineBytes.
    // - hasTexts: Desc or LDesc gave texts. When false the placement takes
    //   the texts from the archive as a drop does, and puts `longNameLine`
    //   (when not empty) before the archive's lines.
    QByteArray description;
    QList<QByteArray> longDescription;
    QByteArray longNameLine; // the long name as a long-description line; empty when it isn't one
    bool hasTexts = false;
    // For the preview: what the fields cut off.
    bool descriptionCut = false;
    int longLinesDropped = 0; // lines beyond LongDescLines
    int longLinesCut = 0;     // lines cut at kTicLongLineBytes
};

// Finds the TIC's file in the inbound folder (by File, any letter case,
// else by the long name) and reads its size and, where CheckTic will
// compare it, its CRC-32; the TIC's age from the time of `ticPath` and
// `now`. A File or long name that is not a plain file name (a separator,
// "." or "..", a control character, empty) is never looked up.
TicFileState ReadTicFileState(const QString& inbound, const TicFile& tic, const QString& ticPath,
                              const QDateTime& now);

// The decision for one TIC. The checks, in this order (the first that
// fails gives the reason): Area and File present; File a plain name;
// the echo in settings.areas; File at most 15 characters; Pw equal to the
// password set for From (letter case ignored; no line for From: no check);
// Size and Crc well formed; Size and the file not too large for a record;
// the file there (else Wait while the TIC is younger than kTicWaitSeconds)
// and a plain file; its size equal to Size (shorter: Wait as above); its
// CRC-32 equal to Crc. The texts come from `tic` read as code page 437 and
// are stored in `recordPage`.
TicDecision CheckTic(const TicFile& tic, const TicSettings& settings, const TicFileState& state,
                     RecordCodePage recordPage);

// Puts the decision's texts into the record: Description, the long
// description lines (the lines after them emptied) and HasLongDescription
// (1 when there is a long description line). Every copy is bounded by its
// field.
void ApplyTicTexts(const TicDecision& decision, FullFileRec& rec);

// The CRC-32 (the one of zip and TIC files) of the file at `path`, read in
// blocks. False when it can't be opened or read to its end.
bool FileCrc32(const QByteArray& path, quint32& crc);
// The CRC-32 as a TIC writes it: eight upper-case hex digits.
QByteArray CrcText(quint32 crc);
