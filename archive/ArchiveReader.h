// Taking the description file (FILE_ID.DIZ, else DESC.SDI) out of an
// archive of any kind known here: zip through the zip component, 7z, RAR,
// LHA, CAB, tar (plain, gzip, bzip2, xz) and ISO 9660 images through
// libarchive. No widgets: the caller turns the result into its message.
//
// Archives are outside input. The kind is told by the file's first bytes;
// members are matched by the last part of their name (after '/' or '\') in
// any letter case; links and other non-files are never written; a member is
// read with a hard size limit whatever its header claims; and the one file
// written is the description, under a fixed name, inside the given folder,
// through a temporary file renamed into place.
#pragma once

#include "archive/ArchiveKind.h"

#include <QByteArray>
#include <QString>

class TUnzipFile;
struct archive;

// The description members, in the order they are looked for.
inline constexpr const char* DescriptionMemberNames[] = {"file_id.diz", "desc.sdi"};

// Most bytes of a description member (as the zip path's limit).
constexpr qint64 ArchiveMemberMaxBytes = 64 * 1024;
// Members looked at before an archive counts as holding no description (a
// bound on the time a hostile archive of empty members can take).
constexpr int ArchiveMaxMembers = 100000;

enum class DescriptionFailure {
    None,           // extracted: `path` is the file
    NotAnArchive,   // the first bytes name no archive kind (and the name no zip)
    UnreadableKind, // a kind known by its bytes that nothing here reads (ARJ...)
    NotFound,       // neither FILE_ID.DIZ nor DESC.SDI is in the archive
    ExtractFailed,  // the archive or the member can't be read, or the file not written
    FolderFailed,   // the temporary folder is missing and can't be made
};

// Why an extraction failed (for ExtractFailed).
enum class ExtractProblem {
    None,
    Unopenable,  // the archive can't be opened or its headers read
    Encrypted,   // the member is encrypted (or stored with a method not decoded)
    Damaged,     // the member's data can't be decoded
    TooLarge,    // the member holds more than ArchiveMemberMaxBytes
    NotAFile,    // the member is a link, a device or another non-file
    WriteFailed, // the file can't be written into the folder
    NoComponent, // a zip archive, but no zip component was given
};

struct DescriptionExtraction {
    DescriptionFailure failure = DescriptionFailure::NotAnArchive;
    ExtractProblem problem = ExtractProblem::None;
    ArchiveKind kind = ArchiveKind::Unknown;
    QString kindName;  // ArchiveKindName(kind), for the message
    QString path;      // the extracted file: folder + "file_id.diz" or "desc.sdi"
    QByteArray member; // the member's full name in the archive, as stored
    bool ok() const { return failure == DescriptionFailure::None; }
};

// The kind of the file's first bytes. False when it isn't a regular file
// that can be opened for reading.
bool DetectArchiveKindOfFile(const QString& path, ArchiveKind& kind);
// The kind of a server file's first bytes ("wc:\file\area(N)\NAME" or a
// disk path, read through the server library); Unknown when it can't be read.
ArchiveKind ServerFileArchiveKind(const QString& serverPath);

// Extracts the archive's description into `folder` (made when missing).
// Any file named file_id.diz or desc.sdi (any letter case) already in the
// folder is removed first, so an earlier one never passes for this
// archive's. Zip archives (by their bytes, or by a ".zip" name when the
// bytes name no kind) go through `unzip`, which may be null for callers that
// have no component.
DescriptionExtraction ExtractArchiveDescription(const QString& archivePath, const QString& folder,
                                                TUnzipFile* unzip);
// The same for the path's bytes as the file system holds them (a file of an
// area's folder whose name is not UTF-8 has no exact text path).
DescriptionExtraction ExtractArchiveDescription(const QByteArray& archivePath,
                                                const QString& folder, TUnzipFile* unzip);

// Enables on a new libarchive reader the format (and, for gzip, bzip2 and
// xz, the filter) of `kind`, and nothing else. False for kinds libarchive
// doesn't read here.
bool EnableLibarchiveKind(archive* a, ArchiveKind kind);
