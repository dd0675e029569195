#include "archive/ArchiveReader.h"

#include "archive/TUnzipFile.h"
#include "common/FileDescriptor.h"
#include "common/FileUtils.h"
#include "common/Text.h"
#include "server/wcsrv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int NoMember = -1;

// The part of a member name after its last '/' or '\'.
QByteArray LastPart(const QByteArray& name)
{
    const qsizetype cut = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
    return name.mid(cut + 1);
}

// 0 for FILE_ID.DIZ, 1 for DESC.SDI (any letter case), else NoMember.
int MemberRank(const QByteArray& lastPart)
{
    for (int i = 0; i < int(std::size(DescriptionMemberNames)); ++i)
        if (lastPart.compare(DescriptionMemberNames[i], Qt::CaseInsensitive) == 0)
            return i;
    return NoMember;
}

// The same test as the description import's: ".zip", ".ZIP" or ".Zip".
bool HasZipName(const QByteArray& path)
{
    return path.contains(".zip") || path.contains(".ZIP") || path.contains(".Zip");
}

QByteArray ReadHead(int fd)
{
    QByteArray head(ArchiveProbeBytes, '\0');
    qsizetype got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(fd, head.data() + got, std::size_t(head.size() - got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        got += n;
    }
    head.truncate(got);
    return head;
}

// Every entry of the folder named like a description member, in any letter
// case (links and other non-files included: they are removed, not followed).
QStringList DescriptionFilesIn(const QString& folder)
{
    QStringList out;
    const QStringList names =
        QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QString& name : names)
        if (MemberRank(QFile::encodeName(name)) != NoMember)
            out << name;
    return out;
}

void RemoveDescriptionFiles(const QString& folder)
{
    for (const QString& name : DescriptionFilesIn(folder))
        ::unlink(QFile::encodeName(QDir(folder).filePath(name)).constData());
}

bool WriteAll(int fd, const QByteArray& data)
{
    qsizetype done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.constData() + done, std::size_t(data.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Writes the bytes as `name` in `folder` through a temporary file renamed
// into place: a link of that name is replaced, never followed.
bool WriteInto(const QString& folder, const char* name, const QByteArray& data)
{
    QByteArray temp = QFile::encodeName(QDir(folder).filePath(QStringLiteral(".vtdesc-XXXXXX")));
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = WriteAll(fd, data);
    ok = (::fchmod(fd, 0644) == 0) && ok;
    ok = (::close(fd) == 0) && ok;
    const QByteArray target = QFile::encodeName(QDir(folder).filePath(QLatin1String(name)));
    if (ok && ::rename(temp.constData(), target.constData()) == 0)
        return true;
    ::unlink(temp.constData());
    return false;
}

class ArchiveReader
{
public:
    ArchiveReader() : m_archive(archive_read_new()) {}
    ~ArchiveReader()
    {
        if (m_archive)
            archive_read_free(m_archive);
    }
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;
    archive* get() const { return m_archive; }

    bool Enable(ArchiveKind kind) { return m_archive && EnableLibarchiveKind(m_archive, kind); }

private:
    archive* m_archive;
};

struct MemberData {
    ExtractProblem problem = ExtractProblem::None;
    QByteArray data;
};

// Reads the current member whole, never more than ArchiveMemberMaxBytes.
MemberData ReadMember(archive* a, archive_entry* entry)
{
    MemberData out;
    const mode_t type = archive_entry_filetype(entry);
    if (type != AE_IFREG || archive_entry_hardlink(entry) || archive_entry_symlink(entry)) {
        out.problem = ExtractProblem::NotAFile;
        return out;
    }
    if (archive_entry_is_encrypted(entry)) {
        out.problem = ExtractProblem::Encrypted;
        return out;
    }
    if (archive_entry_size_is_set(entry) && archive_entry_size(entry) > ArchiveMemberMaxBytes) {
        out.problem = ExtractProblem::TooLarge;
        return out;
    }
    char buffer[8192];
    for (;;) {
        const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
        if (n < 0) {
            out.problem = archive_entry_is_encrypted(entry) ? ExtractProblem::Encrypted
                                                            : ExtractProblem::Damaged;
            break;
        }
        if (n == 0)
            break;
        // The header's size is not trusted: the limit holds for what is read.
        if (out.data.size() + n > ArchiveMemberMaxBytes) {
            out.problem = ExtractProblem::TooLarge;
            break;
        }
        out.data.append(buffer, qsizetype(n));
    }
    if (out.problem != ExtractProblem::None)
        out.data.clear();
    return out;
}

QByteArray EntryName(archive_entry* entry)
{
    if (const char* name = archive_entry_pathname(entry))
        return QByteArray(name);
    if (const char* name = archive_entry_pathname_utf8(entry))
        return QByteArray(name);
    return QByteArray();
}

void Fail(DescriptionExtraction& result, ExtractProblem problem)
{
    result.failure = DescriptionFailure::ExtractFailed;
    result.problem = problem;
    result.path.clear();
}

void Succeed(DescriptionExtraction& result, const QString& folder, int rank)
{
    result.failure = DescriptionFailure::None;
    result.problem = ExtractProblem::None;
    result.path = QDir(folder).filePath(QLatin1String(DescriptionMemberNames[rank]));
}

void ExtractWithLibarchive(int fd, const QString& folder, DescriptionExtraction& result)
{
    ArchiveReader reader;
    archive* a = reader.get();
    if (!reader.Enable(result.kind) || ::lseek(fd, 0, SEEK_SET) != 0 ||
        archive_read_open_fd(a, fd, 16384) != ARCHIVE_OK)
        return Fail(result, ExtractProblem::Unopenable);

    // FILE_ID.DIZ wins wherever it stands; a DESC.SDI seen before it is kept
    // until the end shows there is none.
    bool haveSdi = false;
    MemberData sdi;
    QByteArray sdiName;
    int members = 0;
    bool headersRead = false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int r = archive_read_next_header(a, &entry);
        if (r == ARCHIVE_EOF)
            break;
        if (r == ARCHIVE_FATAL)
            return Fail(result, headersRead ? ExtractProblem::Damaged : ExtractProblem::Unopenable);
        if (++members > ArchiveMaxMembers)
            break;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
            continue; // this header can't be read; the next one may
        headersRead = true;
        const QByteArray name = EntryName(entry);
        const int rank = MemberRank(LastPart(name));
        if (rank == NoMember || archive_entry_filetype(entry) == AE_IFDIR)
            continue;
        if (rank == 1 && haveSdi)
            continue; // the first DESC.SDI counts
        MemberData data = ReadMember(a, entry);
        if (rank == 0) {
            result.member = name;
            if (data.problem != ExtractProblem::None)
                return Fail(result, data.problem);
            if (!WriteInto(folder, DescriptionMemberNames[0], data.data))
                return Fail(result, ExtractProblem::WriteFailed);
            return Succeed(result, folder, 0);
        }
        haveSdi = true;
        sdi = std::move(data);
        sdiName = name;
    }
    if (!haveSdi) {
        result.failure = DescriptionFailure::NotFound;
        return;
    }
    result.member = sdiName;
    if (sdi.problem != ExtractProblem::None)
        return Fail(result, sdi.problem);
    if (!WriteInto(folder, DescriptionMemberNames[1], sdi.data))
        return Fail(result, ExtractProblem::WriteFailed);
    Succeed(result, folder, 1);
}

ExtractProblem ProblemOfUnzipResult(int32_t code)
{
    switch (code) {
    case DZ_ERR_UNSUPPORTED:
        return ExtractProblem::Encrypted;
    case DZ_ERR_TOO_LARGE:
        return ExtractProblem::TooLarge;
    case DZ_ERR_LINK:
        return ExtractProblem::NotAFile;
    case DZ_ERR_WRITE:
        return ExtractProblem::WriteFailed;
    case DZ_ERR_OPEN:
        return ExtractProblem::Unopenable;
    default:
        return ExtractProblem::Damaged;
    }
}

// The zip component writes a member under its own spelling (FILE_ID.DIZ,
// File_Id.Diz...); the result is brought to the one lower-case name, and any
// other spelling written beside it is removed.
bool NormaliseWritten(const QString& folder, int rank)
{
    const QString wanted = QLatin1String(DescriptionMemberNames[rank]);
    QStringList found;
    for (const QString& name : DescriptionFilesIn(folder))
        if (MemberRank(QFile::encodeName(name)) == rank)
            found << name;
    if (found.isEmpty())
        return false;
    const QString keep = found.contains(wanted) ? wanted : found.first();
    for (const QString& name : found)
        if (name != keep)
            ::unlink(QFile::encodeName(QDir(folder).filePath(name)).constData());
    if (keep == wanted)
        return true;
    return ::rename(QFile::encodeName(QDir(folder).filePath(keep)).constData(),
                    QFile::encodeName(QDir(folder).filePath(wanted)).constData()) == 0;
}

void ExtractWithComponent(TUnzipFile& unzip, const QByteArray& zip, const QString& folder,
                          DescriptionExtraction& result)
{
    const QByteArray dest = QFile::encodeName(WithTrailingBackslash(folder));
    // A path the component can't take whole is refused rather than cut to
    // some other file's path.
    if (zip.size() > MaxDiskPath - 1 || dest.size() > MaxDiskPath - 1)
        return Fail(result, ExtractProblem::Unopenable);
    unzip.lpszZipFile()->SetText(zip.constData());
    unzip.lpszDestination()->SetText(dest.constData());
    for (int rank = 0; rank < int(std::size(DescriptionMemberNames)); ++rank) {
        unzip.lpszFileSpec()->SetText(DescriptionMemberNames[rank]);
        if (!unzip.RunUnzip(DZ_COUNT_MATCHES))
            return Fail(result, ProblemOfUnzipResult(unzip.LastResult()));
        if (unzip.ItemCount() <= 0)
            continue;
        if (!unzip.RunUnzip(DZ_EXTRACT))
            return Fail(result, ProblemOfUnzipResult(unzip.LastResult()));
        if (!NormaliseWritten(folder, rank))
            return Fail(result, ExtractProblem::WriteFailed);
        return Succeed(result, folder, rank);
    }
    result.failure = DescriptionFailure::NotFound;
}

} // namespace

// Only the format of the detected kind is enabled, and only the
// decompression filters named here: no format that reads other files
// (mtree) and no filter that starts an outside program.
bool EnableLibarchiveKind(archive* a, ArchiveKind kind)
{
    switch (kind) {
    case ArchiveKind::SevenZip:
        return archive_read_support_format_7zip(a) == ARCHIVE_OK;
    case ArchiveKind::Rar:
        return archive_read_support_format_rar(a) == ARCHIVE_OK;
    case ArchiveKind::Rar5:
        return archive_read_support_format_rar5(a) == ARCHIVE_OK;
    case ArchiveKind::Lha:
        return archive_read_support_format_lha(a) == ARCHIVE_OK;
    case ArchiveKind::Cab:
        return archive_read_support_format_cab(a) == ARCHIVE_OK;
    case ArchiveKind::Tar:
        return archive_read_support_format_tar(a) == ARCHIVE_OK;
    case ArchiveKind::Iso9660:
        return archive_read_support_format_iso9660(a) == ARCHIVE_OK;
    case ArchiveKind::Gzip:
    case ArchiveKind::Bzip2:
    case ArchiveKind::Xz: {
        const int filter = kind == ArchiveKind::Gzip    ? archive_read_support_filter_gzip(a)
                           : kind == ArchiveKind::Bzip2 ? archive_read_support_filter_bzip2(a)
                                                        : archive_read_support_filter_xz(a);
        // A compressed single file (no tar inside) reads as one member
        // named "data": no description, not a damaged archive.
        return filter == ARCHIVE_OK && archive_read_support_format_tar(a) == ARCHIVE_OK &&
               archive_read_support_format_raw(a) == ARCHIVE_OK;
    }
    default:
        return false;
    }
}

bool DetectArchiveKindOfFile(const QString& path, ArchiveKind& kind)
{
    kind = ArchiveKind::Unknown;
    FileDescriptor fd(OpenRegularFile(QFile::encodeName(path)));
    if (fd.get() < 0)
        return false;
    kind = DetectArchiveKind(ReadHead(fd.get()));
    return true;
}

ArchiveKind ServerFileArchiveKind(const QString& serverPath)
{
    const WcHandle handle = WcCreateFile(ToBytes(serverPath).constData(), WC_GENERIC_READ,
                                         WC_SHARE_READ, WC_OPEN_EXISTING);
    if (!handle)
        return ArchiveKind::Unknown;
    QByteArray head(ArchiveProbeBytes, '\0');
    qsizetype have = 0;
    while (have < head.size()) {
        uint32_t done = 0;
        if (!WcReadFile(handle, head.data() + have, uint32_t(head.size() - have), &done) ||
            done == 0)
            break;
        have += qsizetype(done);
    }
    WcCloseHandle(handle);
    head.truncate(have);
    return DetectArchiveKind(head);
}

DescriptionExtraction ExtractArchiveDescription(const QString& archivePath, const QString& folder,
                                                TUnzipFile* unzip)
{
    return ExtractArchiveDescription(QFile::encodeName(archivePath), folder, unzip);
}

DescriptionExtraction ExtractArchiveDescription(const QByteArray& archivePath,
                                                const QString& folder, TUnzipFile* unzip)
{
    DescriptionExtraction result;
    // The file stays open from the look at its first bytes to the end of the
    // reading, so both see the same file.
    FileDescriptor fd(OpenRegularFile(archivePath));
    if (fd.get() < 0) {
        Fail(result, ExtractProblem::Unopenable);
        return result;
    }
    result.kind = DetectArchiveKind(ReadHead(fd.get()));
    // A self-extracting zip starts with a program: its name still says zip.
    if (result.kind == ArchiveKind::Unknown && HasZipName(archivePath))
        result.kind = ArchiveKind::Zip;
    result.kindName = ArchiveKindName(result.kind);
    if (result.kind == ArchiveKind::Unknown) {
        result.failure = DescriptionFailure::NotAnArchive;
        return result;
    }
    if (UnreadableKind(result.kind)) {
        result.failure = DescriptionFailure::UnreadableKind;
        return result;
    }
    if (result.kind == ArchiveKind::Zip && !unzip) {
        Fail(result, ExtractProblem::NoComponent);
        return result;
    }
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder)) {
        result.failure = DescriptionFailure::FolderFailed;
        return result;
    }
    RemoveDescriptionFiles(folder);
    if (result.kind == ArchiveKind::Zip)
        ExtractWithComponent(*unzip, archivePath, folder, result);
    else
        ExtractWithLibarchive(fd.get(), folder, result);
    // A failed run leaves no description behind (the zip component may have
    // written one member before another failed).
    if (!result.ok())
        RemoveDescriptionFiles(folder);
    return result;
}
