// Testing one file as an archive: every member read through and
// decompressed, so that each checksum the format carries is checked, and
// archives inside it tested the same way, one level deep by default. No
// widgets: the caller turns the result into its finding.
//
// Zip archives go through the zip component (its test function), every
// other kind the program reads through libarchive. A file that is no
// archive has nothing to test and is clean; so is a kind known by its
// bytes that nothing here reads (ARJ...), with `tested` false.
//
// The checks are the readers': the zip component checks each member's
// CRC-32; libarchive checks those of 7z, CAB, LHA, packed RAR members, bzip2
// and xz streams; the CRC at the end of a gzip stream is checked here with
// zlib. Tar has header checksums only, and RAR members stored unpacked are
// not checked by libarchive.
//
// Archives are outside input: nothing is extracted except a nested archive,
// into a temporary file of the options' folder that is removed after its
// test; the unpacked bytes and the members read are bounded.
#pragma once

#include "archive/ArchiveKind.h"

#include <QByteArray>
#include <QByteArrayList>
#include <QString>

#include <functional>

class TUnzipFile;

enum class ArchiveTestOutcome {
    Clean,      // read through without a fault, or nothing to test
    Damaged,    // the archive or a member can't be read back: a finding
    NotScanned, // the test could not be finished: neither clean nor damaged
};

enum class ArchiveTestCause {
    None, // Clean, tested
    // Clean, not tested
    NotAnArchive, // the first bytes (and the name) name no archive kind
    KindNotRead,  // a kind known by its bytes that nothing here reads
    // Damaged
    Unopenable,     // the archive's structure can't be read (truncated, garbage)
    HeaderDamaged,  // a member header after the first can't be read
    ChecksumFailed, // a member's data decodes but fails its checksum
    DataDamaged,    // a member's packed data can't be decoded or ends early
    // NotScanned
    Encrypted,      // an encrypted member: its data can't be checked
    Unsupported,    // a member packed with a method not decoded here
    ReadError,      // the file can't be opened or read (or a temporary file written)
    TooLarge,       // more unpacked bytes than ArchiveTestOptions::maxUnpackedBytes
    TooManyMembers, // more than ArchiveMaxMembers members
    NoComponent,    // a zip archive, but no zip component was given
    Stopped,        // ArchiveTestOptions::stop asked to stop
};

struct ArchiveTestOptions {
    // Levels of archives inside the archive that are tested too: 1 tests the
    // archives in it but not those inside them (clamd opens those itself).
    int nestedLevels = 1;
    // Where nested archives are written while they are tested; empty: the
    // system's temporary folder.
    QString tempFolder;
    // A nested archive larger than this is read through (its checksum
    // checked) but not tested inside; it is counted in nestedNotTested.
    // Zip archives can only hand out members of up to 64 KiB (the zip
    // component's limit): larger nested archives in a zip are counted the
    // same way.
    qint64 maxNestedBytes = qint64(1) << 30;
    // Bound on the bytes unpacked in all (a small archive can unpack to far
    // more than any disk holds); above it the test ends NotScanned/TooLarge.
    // Counted for the kinds read through libarchive only: the zip
    // component reports no byte counts.
    qint64 maxUnpackedBytes = qint64(64) << 30;
    // Asked between members and between blocks of data; true ends the test
    // NotScanned/Stopped.
    std::function<bool()> stop;
};

struct ArchiveTestResult {
    ArchiveTestOutcome outcome = ArchiveTestOutcome::Clean;
    ArchiveTestCause cause = ArchiveTestCause::None;
    ArchiveKind kind = ArchiveKind::Unknown; // the kind of the file tested
    bool tested = false; // the file was read as an archive (not for NotAnArchive, KindNotRead)
    // The member the cause concerns, as stored; a member of a nested
    // archive comes after the nested archive's own name. Empty when the
    // cause concerns the whole file.
    QByteArrayList memberPath;
    // The reader's own words about the fault (libarchive's message, or the
    // zip component's failure), when it has some.
    QString detail;
    int membersRead = 0;      // members read through, nested ones included
    int nestedTested = 0;     // nested archives tested inside
    int nestedNotTested = 0;  // nested archives only read through (too large, no component)
    qint64 unpackedBytes = 0; // unpacked by libarchive (zip members are not counted)

    bool clean() const { return outcome == ArchiveTestOutcome::Clean; }
    bool damaged() const { return outcome == ArchiveTestOutcome::Damaged; }
    bool notScanned() const { return outcome == ArchiveTestOutcome::NotScanned; }
};

// Tests the file at `path` (a disk path). Zip archives (by their bytes, or
// by a ".zip" name when the bytes name no kind) go through `unzip`, which
// may be null: a zip is then NotScanned/NoComponent. The component's
// callbacks and settings are restored before the call returns.
ArchiveTestResult TestArchive(const QString& path, TUnzipFile* unzip,
                              const ArchiveTestOptions& options = {});
// The same for the path's bytes as the file system holds them.
ArchiveTestResult TestArchive(const QByteArray& path, TUnzipFile* unzip,
                              const ArchiveTestOptions& options = {});

// The cause in words ("a member fails its checksum", "an encrypted member").
QString ArchiveTestCauseText(ArchiveTestCause cause);
// One line for a finding: "damaged: a member fails its checksum: GAME.EXE
// (CRC error)", "not scanned: an encrypted member: SECRET.TXT", "clean".
QString ArchiveTestText(const ArchiveTestResult& result);
