// Telling an archive's kind from its first bytes, and the kind's name for
// messages.
#pragma once

#include <QByteArray>
#include <QString>

enum class ArchiveKind {
    Unknown,
    // Read through the zip component.
    Zip,
    // Read through libarchive.
    SevenZip,
    Rar,
    Rar5,
    Lha,
    Cab,
    Tar,
    Gzip,  // a gzip stream, normally a tar inside
    Bzip2, // a bzip2 stream, normally a tar inside
    Xz,    // an xz stream, normally a tar inside
    Iso9660,
    // Known by their bytes but read by nothing here.
    Arj,
    Ace,
    Zoo,
    Arc,
    Sqz,
    StuffIt,
};

// Bytes the detection looks at: an ISO 9660 image has its mark at 32769.
constexpr qsizetype ArchiveProbeBytes = 32769 + 5;

// The kind whose mark the bytes (the start of a file, ArchiveProbeBytes of
// it or all of a shorter file) carry; Unknown when none.
ArchiveKind DetectArchiveKind(const QByteArray& head);

// The kind's name in messages ("7z", "RAR", "ARJ" ...); "" for Unknown.
QString ArchiveKindName(ArchiveKind kind);

// True for the kinds libarchive reads here.
bool ReadByLibarchive(ArchiveKind kind);
// True for the kinds that are recognised but can't be read.
bool UnreadableKind(ArchiveKind kind);
