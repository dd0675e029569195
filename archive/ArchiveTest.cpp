#include "archive/ArchiveTest.h"

#include "archive/ArchiveReader.h"
#include "archive/TUnzipFile.h"
#include "common/FileDescriptor.h"
#include "common/FileUtils.h"
#include "common/Text.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <archive.h>
#include <archive_entry.h>
#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace
{

constexpr qsizetype ChunkBytes = 64 * 1024;

// Name endings of zip members that may be archives. The zip component
// hands out a member only by its name, so a nested archive in a zip is
// looked for by name; its bytes then decide.
constexpr const char* NestedZipMemberEndings[] = {".zip", ".7z",  ".rar", ".lzh", ".lha",
                                                  ".cab", ".tar", ".tgz", ".gz",  ".tbz",
                                                  ".bz2", ".txz", ".xz",  ".iso", ".exe"};

// A read of the first bytes; false on a read error.
bool ReadHead(int fd, QByteArray& head)
{
    head.resize(ArchiveProbeBytes);
    qsizetype got = 0;
    while (got < head.size()) {
        const ssize_t n = ::pread(fd, head.data() + got, std::size_t(head.size() - got), got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            break;
        got += n;
    }
    head.truncate(got);
    return true;
}

bool HasZipName(const QByteArray& path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return path.mid(slash + 1).toLower().endsWith(".zip");
}

QByteArray LastPart(const QByteArray& name)
{
    const qsizetype cut = std::max(name.lastIndexOf('/'), name.lastIndexOf('\\'));
    return name.mid(cut + 1);
}

bool MayBeNestedArchive(const QByteArray& name)
{
    const QByteArray lower = LastPart(name).toLower();
    for (const char* ending : NestedZipMemberEndings)
        if (lower.endsWith(ending))
            return true;
    return false;
}

// Damage is the stronger finding: a damaged archive stays damaged whatever
// else is found; a member that can't be checked still leaves the rest to
// test.
void Note(ArchiveTestResult& r, ArchiveTestOutcome outcome, ArchiveTestCause cause,
          const QByteArrayList& member = {}, const QString& detail = QString())
{
    if (r.outcome == ArchiveTestOutcome::Damaged)
        return;
    if (r.outcome == ArchiveTestOutcome::NotScanned && outcome != ArchiveTestOutcome::Damaged)
        return;
    r.outcome = outcome;
    r.cause = cause;
    r.memberPath = member;
    r.detail = detail;
}

// Further members are not read after these.
bool Ends(const ArchiveTestResult& r)
{
    switch (r.cause) {
    case ArchiveTestCause::Encrypted:
    case ArchiveTestCause::Unsupported:
        return false;
    default:
        return r.outcome != ArchiveTestOutcome::Clean;
    }
}

QString ErrorText(archive* a)
{
    const char* text = archive_error_string(a);
    return text ? QString::fromUtf8(text) : QString();
}

// libarchive tells its faults apart only in words: its English messages
// are the one source for the checksum and encryption cases.
ArchiveTestCause CauseOfLibarchiveError(archive* a, bool readFailed, bool headersRead)
{
    if (readFailed)
        return ArchiveTestCause::ReadError;
    const QString text = ErrorText(a);
    if (archive_read_has_encrypted_entries(a) > 0 ||
        text.contains(QLatin1String("ncrypt"), Qt::CaseInsensitive) ||
        text.contains(QLatin1String("passphrase"), Qt::CaseInsensitive))
        return ArchiveTestCause::Encrypted;
    if (text.contains(QLatin1String("nsupported"), Qt::CaseInsensitive) ||
        text.contains(QLatin1String("not supported"), Qt::CaseInsensitive))
        return ArchiveTestCause::Unsupported;
    if (text.contains(QLatin1String("CRC"), Qt::CaseInsensitive) ||
        text.contains(QLatin1String("checksum"), Qt::CaseInsensitive))
        return ArchiveTestCause::ChecksumFailed;
    return headersRead ? ArchiveTestCause::HeaderDamaged : ArchiveTestCause::Unopenable;
}

ArchiveTestOutcome OutcomeOf(ArchiveTestCause cause)
{
    switch (cause) {
    case ArchiveTestCause::None:
    case ArchiveTestCause::NotAnArchive:
    case ArchiveTestCause::KindNotRead:
        return ArchiveTestOutcome::Clean;
    case ArchiveTestCause::Unopenable:
    case ArchiveTestCause::HeaderDamaged:
    case ArchiveTestCause::ChecksumFailed:
    case ArchiveTestCause::DataDamaged:
        return ArchiveTestOutcome::Damaged;
    default:
        return ArchiveTestOutcome::NotScanned;
    }
}

// The archive file as libarchive's source: own reads, so that a read error
// of the file is told apart from a fault of the archive.
struct FileSource {
    int fd = -1;
    bool failed = false;
    char buffer[ChunkBytes];
};

la_ssize_t SourceRead(archive* a, void* data, const void** out)
{
    auto* source = static_cast<FileSource*>(data);
    for (;;) {
        const ssize_t n = ::read(source->fd, source->buffer, sizeof source->buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            source->failed = true;
            archive_set_error(a, errno, "The archive file can't be read: %s", std::strerror(errno));
            return -1;
        }
        *out = source->buffer;
        return n;
    }
}

la_int64_t SourceSeek(archive*, void* data, la_int64_t offset, int whence)
{
    auto* source = static_cast<FileSource*>(data);
    const off_t at = ::lseek(source->fd, off_t(offset), whence);
    if (at < 0) {
        source->failed = true;
        return ARCHIVE_FATAL;
    }
    return la_int64_t(at);
}

// libarchive's gzip reader leaves the CRC-32 and the length at the end of
// each gzip member unchecked: zlib checks them in a pass of its own. Empty
// when the stream is sound; else zlib's words. Bytes after the last member
// that don't start another are left alone, as gzip does.
QString GzipStreamFault(int fd, bool& readFailed)
{
    readFailed = false;
    if (::lseek(fd, 0, SEEK_SET) != 0) {
        readFailed = true;
        return QStringLiteral("the file can't be read");
    }
    z_stream z{};
    // 16 + 15: a gzip wrapper and the largest window.
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK)
        return QStringLiteral("zlib can't start");
    std::unique_ptr<unsigned char[]> in(new unsigned char[ChunkBytes]);
    std::unique_ptr<unsigned char[]> out(new unsigned char[ChunkBytes]);
    QString fault;
    bool atEnd = false;  // the input is used up
    bool between = true; // at the start of a gzip member
    while (fault.isEmpty()) {
        if (z.avail_in == 0 && !atEnd) {
            ssize_t n;
            do
                n = ::read(fd, in.get(), std::size_t(ChunkBytes));
            while (n < 0 && errno == EINTR);
            if (n < 0) {
                readFailed = true;
                fault = QStringLiteral("the file can't be read");
                break;
            }
            atEnd = n == 0;
            z.next_in = in.get();
            z.avail_in = uInt(n);
        }
        if (z.avail_in == 0 && atEnd) {
            if (!between)
                fault = QStringLiteral("the gzip stream ends early");
            break;
        }
        // A further member must start with the gzip mark; anything else is
        // trailing bytes.
        if (between && z.avail_in >= 1 && z.next_in[0] != 0x1f)
            break;
        between = false;
        z.next_out = out.get();
        z.avail_out = uInt(ChunkBytes);
        const int rc = inflate(&z, Z_NO_FLUSH);
        if (rc == Z_STREAM_END) {
            between = true;
            inflateReset(&z);
        } else if (rc == Z_BUF_ERROR && z.avail_in == 0 && !atEnd) {
            continue;
        } else if (rc != Z_OK) {
            fault = QString::fromLatin1(z.msg ? z.msg : "the gzip data can't be decoded");
        }
    }
    inflateEnd(&z);
    return fault;
}

class LibarchiveReader
{
public:
    LibarchiveReader() : m_archive(archive_read_new()) {}
    ~LibarchiveReader()
    {
        if (m_archive)
            archive_read_free(m_archive);
    }
    LibarchiveReader(const LibarchiveReader&) = delete;
    LibarchiveReader& operator=(const LibarchiveReader&) = delete;
    archive* get() const { return m_archive; }

private:
    archive* m_archive;
};

QByteArray EntryName(archive_entry* entry)
{
    if (const char* name = archive_entry_pathname(entry))
        return QByteArray(name);
    if (const char* name = archive_entry_pathname_utf8(entry))
        return QByteArray(name);
    return QByteArray();
}

// Puts back what a test changed on the zip component: its callbacks, flags,
// counters and texts belong to the caller.
class ComponentState
{
public:
    explicit ComponentState(TUnzipFile& unzip)
        : m_unzip(unzip), m_major(unzip.OnMajorCallback), m_minor(unzip.OnMinorCallback),
          m_message(unzip.OnMessageCallback), m_options(unzip.Options()),
          m_subOptions(unzip.wUnzipSubOptions()), m_index(unzip.IndexofItem()),
          m_count(unzip.ItemCount()), m_zipFile(Text(unzip.lpszZipFile())),
          m_fileSpec(Text(unzip.lpszFileSpec())), m_destination(Text(unzip.lpszDestination()))
    {
    }
    ~ComponentState()
    {
        m_unzip.OnMajorCallback = m_major;
        m_unzip.OnMinorCallback = m_minor;
        m_unzip.OnMessageCallback = m_message;
        m_unzip.SetOptions(m_options);
        m_unzip.SetwUnzipSubOptions(m_subOptions);
        m_unzip.SetIndexofItem(m_index);
        m_unzip.SetItemCount(m_count);
        Restore(m_unzip.lpszZipFile(), m_zipFile);
        Restore(m_unzip.lpszFileSpec(), m_fileSpec);
        Restore(m_unzip.lpszDestination(), m_destination);
    }
    ComponentState(const ComponentState&) = delete;
    ComponentState& operator=(const ComponentState&) = delete;

private:
    struct SavedText {
        bool set = false;
        QByteArray text;
    };
    static SavedText Text(const TLPStr* s)
    {
        SavedText saved;
        if (s && s->Text()) {
            saved.set = true;
            saved.text = QByteArray(s->Text());
        }
        return saved;
    }
    static void Restore(TLPStr* s, const SavedText& saved)
    {
        if (s)
            s->SetText(saved.set ? saved.text.constData() : nullptr);
    }

    TUnzipFile& m_unzip;
    TStatusCallback m_major, m_minor;
    TMessageCallback m_message;
    TUnzipFlags m_options;
    TUnzipSubOptions m_subOptions;
    int32_t m_index, m_count;
    SavedText m_zipFile, m_fileSpec, m_destination;
};

struct ZipMemberFailure {
    QByteArray name;
    int32_t result = 0;
    int32_t failure = DZ_FAIL_OTHER;
};

class Tester
{
public:
    Tester(TUnzipFile* unzip, const ArchiveTestOptions& options, ArchiveTestResult& totals)
        : m_unzip(unzip), m_options(options), m_totals(totals)
    {
    }

    // Tests the file into `r`; `level` 0 is the file asked for, 1 an
    // archive inside it.
    void TestFile(const QByteArray& path, int level, ArchiveTestResult& r)
    {
        FileDescriptor fd(OpenRegularFile(path));
        QByteArray head;
        if (fd.get() < 0 || !ReadHead(fd.get(), head)) {
            Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::ReadError, {},
                 QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        r.kind = DetectArchiveKind(head);
        // A self-extracting zip starts with a program: its name still says zip.
        if (r.kind == ArchiveKind::Unknown && level == 0 && HasZipName(path))
            r.kind = ArchiveKind::Zip;
        if (r.kind == ArchiveKind::Unknown) {
            r.cause = ArchiveTestCause::NotAnArchive;
            return;
        }
        if (UnreadableKind(r.kind)) {
            r.cause = ArchiveTestCause::KindNotRead;
            return;
        }
        r.tested = true;
        if (r.kind == ArchiveKind::Zip)
            TestZip(path, level, r);
        else
            TestWithLibarchive(fd.get(), level, r);
    }

private:
    bool StopAsked() const { return m_options.stop && m_options.stop(); }
    bool MayNest(int level) const { return level < m_options.nestedLevels; }
    QString TempFolder() const
    {
        return m_options.tempFolder.isEmpty() ? QDir::tempPath() : m_options.tempFolder;
    }

    // Tests a nested archive written to `path` and takes its finding over,
    // under the name of the member that holds it.
    void TestNested(const QByteArray& path, const QByteArray& member, int level,
                    ArchiveTestResult& r)
    {
        ArchiveTestResult inner;
        TestFile(path, level + 1, inner);
        if (inner.tested)
            ++m_totals.nestedTested;
        if (inner.outcome == ArchiveTestOutcome::Clean)
            return;
        QByteArrayList where{member};
        where += inner.memberPath;
        Note(r, inner.outcome, inner.cause, where, inner.detail);
    }

    // ---- libarchive ----

    void TestWithLibarchive(int fd, int level, ArchiveTestResult& r)
    {
        LibarchiveReader reader;
        archive* a = reader.get();
        auto source = std::make_unique<FileSource>();
        source->fd = fd;
        if (!a || !EnableLibarchiveKind(a, r.kind) || ::lseek(fd, 0, SEEK_SET) != 0) {
            Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::ReadError);
            return;
        }
        archive_read_set_read_callback(a, SourceRead);
        archive_read_set_seek_callback(a, SourceSeek);
        archive_read_set_callback_data(a, source.get());
        if (archive_read_open1(a) != ARCHIVE_OK) {
            const ArchiveTestCause cause = CauseOfLibarchiveError(a, source->failed, false);
            Note(r, OutcomeOf(cause), cause, {}, ErrorText(a));
            return;
        }
        bool headersRead = false;
        int members = 0;
        for (;;) {
            if (StopAsked()) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::Stopped);
                return;
            }
            archive_entry* entry = nullptr;
            const int rc = archive_read_next_header(a, &entry);
            if (rc == ARCHIVE_EOF) {
                if (r.kind == ArchiveKind::Gzip)
                    CheckGzip(fd, r);
                return;
            }
            if (rc < ARCHIVE_WARN) {
                const ArchiveTestCause cause =
                    CauseOfLibarchiveError(a, source->failed, headersRead);
                Note(r, OutcomeOf(cause), cause, {}, ErrorText(a));
                return;
            }
            headersRead = true;
            if (++members > ArchiveMaxMembers) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::TooManyMembers);
                return;
            }
            // Folders, links and devices carry no data to check.
            if (archive_entry_filetype(entry) != AE_IFREG || archive_entry_hardlink(entry))
                continue;
            const QByteArray name = EntryName(entry);
            if (archive_entry_is_encrypted(entry)) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::Encrypted, {name});
                continue;
            }
            if (!ReadEntry(a, *source, name, level, r))
                return;
        }
    }

    void CheckGzip(int fd, ArchiveTestResult& r)
    {
        bool readFailed = false;
        const QString fault = GzipStreamFault(fd, readFailed);
        if (fault.isEmpty())
            return;
        const ArchiveTestCause cause = readFailed ? ArchiveTestCause::ReadError
                                       : fault.contains(QLatin1String("check"))
                                           ? ArchiveTestCause::ChecksumFailed
                                           : ArchiveTestCause::DataDamaged;
        Note(r, OutcomeOf(cause), cause, {}, fault);
    }

    // Reads one member through; an archive in it is written to a temporary
    // file on the way and tested after. True when the next member may be
    // read.
    bool ReadEntry(archive* a, const FileSource& source, const QByteArray& name, int level,
                   ArchiveTestResult& r)
    {
        bool nest = MayNest(level);
        QByteArray head;
        std::unique_ptr<QTemporaryFile> spill;
        qint64 size = 0;
        char buffer[ChunkBytes];

        // Decided once the first bytes are in: an archive kind tested here
        // goes to a temporary file, anything else is only read.
        auto decide = [&]() {
            nest = false;
            const ArchiveKind kind = DetectArchiveKind(head);
            if (kind == ArchiveKind::Unknown || UnreadableKind(kind))
                return true;
            if ((kind == ArchiveKind::Zip && !m_unzip) || size > m_options.maxNestedBytes) {
                ++m_totals.nestedNotTested;
                return true;
            }
            spill = std::make_unique<QTemporaryFile>(
                QDir(TempFolder()).filePath(QStringLiteral("vtnested-XXXXXX")));
            if (!spill->open() || spill->write(head) != head.size()) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::ReadError, {name},
                     spill->errorString());
                return false;
            }
            return true;
        };

        for (;;) {
            const la_ssize_t n = archive_read_data(a, buffer, sizeof buffer);
            if (n == 0)
                break;
            if (n < 0) {
                ArchiveTestCause cause = CauseOfLibarchiveError(a, source.failed, true);
                // A member that fails past its header is damaged data, not a
                // damaged header.
                if (cause == ArchiveTestCause::HeaderDamaged)
                    cause = ArchiveTestCause::DataDamaged;
                Note(r, OutcomeOf(cause), cause, {name}, ErrorText(a));
                // libarchive can go on to the next member after a member it
                // can't decode; after a fatal error it can't.
                return n != ARCHIVE_FATAL && !Ends(r);
            }
            size += n;
            m_totals.unpackedBytes += n;
            if (m_totals.unpackedBytes > m_options.maxUnpackedBytes) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::TooLarge, {name});
                return false;
            }
            if (nest) {
                head.append(buffer, qsizetype(n));
                if (head.size() >= ArchiveProbeBytes && !decide())
                    return false;
            } else if (spill) {
                if (size > m_options.maxNestedBytes) {
                    spill.reset();
                    ++m_totals.nestedNotTested;
                } else if (spill->write(buffer, qint64(n)) != qint64(n)) {
                    Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::ReadError, {name},
                         spill->errorString());
                    return false;
                }
            }
            if (StopAsked()) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::Stopped, {name});
                return false;
            }
        }
        ++m_totals.membersRead;
        if (nest && !decide())
            return false;
        if (!spill)
            return true;
        if (!spill->flush()) {
            Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::ReadError, {name},
                 spill->errorString());
            return false;
        }
        spill->close();
        TestNested(QFile::encodeName(spill->fileName()), name, level, r);
        return !Ends(r);
    }

    // ---- the zip component ----

    void TestZip(const QByteArray& path, int level, ArchiveTestResult& r)
    {
        if (!m_unzip || !m_unzip->IsLoaded()) {
            Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::NoComponent);
            return;
        }
        // A path the component can't take whole is refused rather than cut
        // to some other file's path.
        if (path.size() > MaxDiskPath - 1) {
            Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::ReadError, {},
                 QStringLiteral("the path is too long for the zip component"));
            return;
        }
        TUnzipFile& unzip = *m_unzip;
        ComponentState restore(unzip);
        QList<ZipMemberFailure> failures;
        unzip.OnMessageCallback = [&](uint16_t id, uint16_t, int32_t p1, int32_t p2,
                                      const char* name, const char*, int32_t& answer) {
            answer = 0;
            if (id == DZ_MSG_MEMBER_FAILED)
                failures.append({QByteArray(name ? name : ""), p1, p2});
        };
        unzip.OnMajorCallback = [&](const char*, int32_t, bool& cancel) { cancel = StopAsked(); };
        unzip.OnMinorCallback = [&](const char*, int32_t, bool& cancel) { cancel = StopAsked(); };
        unzip.lpszZipFile()->SetText(path.constData());
        unzip.lpszFileSpec()->SetText("*");
        unzip.RunUnzip(DZ_TEST_MATCHES);
        const int32_t code = unzip.LastResult();
        switch (code) {
        case DZ_OK:
        case DZ_ERR_NOT_FOUND: // no file members: nothing to check
            break;
        case DZ_ERR_OPEN:
            Note(r, ArchiveTestOutcome::Damaged, ArchiveTestCause::Unopenable, {},
                 QStringLiteral("not a readable zip archive"));
            return;
        case DZ_ERR_CANCELLED:
            Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::Stopped);
            return;
        case DZ_ERR_BLOCK:
        case DZ_ERR_FUNCTION:
        case DZ_ERR_ARGUMENT:
            Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::NoComponent, {},
                 QStringLiteral("the zip component refused the test (code %1)").arg(code));
            return;
        default:
            break;
        }
        m_totals.membersRead += unzip.CommandBlock().Count;
        for (const ZipMemberFailure& f : failures)
            NoteZipFailure(r, f);
        if (Ends(r) || !MayNest(level))
            return;
        TestZipNested(path, level, r);
    }

    static void NoteZipFailure(ArchiveTestResult& r, const ZipMemberFailure& f)
    {
        ArchiveTestCause cause = ArchiveTestCause::DataDamaged;
        QString detail;
        switch (f.failure) {
        case DZ_FAIL_LINK:
            return; // a link has no data to check
        case DZ_FAIL_ENCRYPTED:
            cause = ArchiveTestCause::Encrypted;
            break;
        case DZ_FAIL_METHOD:
            cause = ArchiveTestCause::Unsupported;
            break;
        case DZ_FAIL_CRC:
            cause = ArchiveTestCause::ChecksumFailed;
            detail = QStringLiteral("CRC error");
            break;
        case DZ_FAIL_SHORT:
            detail = QStringLiteral("the data ends early");
            break;
        case DZ_FAIL_READ:
            cause = ArchiveTestCause::ReadError;
            break;
        case DZ_FAIL_DECODE:
            detail = QStringLiteral("the packed data can't be decoded");
            break;
        default:
            detail = QStringLiteral("the zip component's code %1").arg(f.result);
            break;
        }
        Note(r, OutcomeOf(cause), cause, {f.name}, detail);
    }

    // The archives in a zip: members named like one are extracted, one at
    // a time, into a temporary folder and tested there.
    void TestZipNested(const QByteArray& path, int level, ArchiveTestResult& r)
    {
        TUnzipFile& unzip = *m_unzip;
        if (!unzip.RunUnzip(DZ_COUNT_ITEMS))
            return;
        const int count = std::min(unzip.ItemCount(), ArchiveMaxMembers);
        QByteArrayList candidates;
        for (int i = 0; i < count; ++i) {
            unzip.SetIndexofItem(i);
            if (!unzip.RunUnzip(DZ_NAME_LENGTH) || !unzip.RunUnzip(DZ_NAME_TEXT))
                continue;
            const QByteArray name(unzip.lpszReturnString()->Text());
            if (!name.endsWith('/') && !name.endsWith('\\') && MayBeNestedArchive(name))
                candidates << name;
        }
        unzip.SetOptions(TUnzipFlags{QuietFlag});
        for (const QByteArray& name : candidates) {
            if (StopAsked()) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::Stopped);
                return;
            }
            QTemporaryDir folder(QDir(TempFolder()).filePath(QStringLiteral("vtnested-XXXXXX")));
            const QByteArray dest = QFile::encodeName(WithTrailingBackslash(folder.path()));
            if (!folder.isValid() || dest.size() > MaxDiskPath - 1) {
                Note(r, ArchiveTestOutcome::NotScanned, ArchiveTestCause::ReadError, {name},
                     QStringLiteral("no temporary folder for a nested archive"));
                return;
            }
            unzip.lpszZipFile()->SetText(path.constData());
            unzip.lpszDestination()->SetText(dest.constData());
            unzip.lpszFileSpec()->SetText(LastPart(name).constData());
            if (!unzip.RunUnzip(DZ_EXTRACT)) {
                // Damaged members were found by the test; a member above the
                // component's limit is only read through.
                if (unzip.LastResult() == DZ_ERR_TOO_LARGE)
                    ++m_totals.nestedNotTested;
                continue;
            }
            const QStringList written = QDir(folder.path()).entryList(QDir::Files | QDir::Hidden);
            if (written.isEmpty())
                continue;
            TestNested(QFile::encodeName(QDir(folder.path()).filePath(written.first())), name,
                       level, r);
            if (Ends(r))
                return;
        }
    }

    TUnzipFile* m_unzip;
    const ArchiveTestOptions& m_options;
    ArchiveTestResult& m_totals;
};

} // namespace

ArchiveTestResult TestArchive(const QString& path, TUnzipFile* unzip,
                              const ArchiveTestOptions& options)
{
    return TestArchive(QFile::encodeName(path), unzip, options);
}

ArchiveTestResult TestArchive(const QByteArray& path, TUnzipFile* unzip,
                              const ArchiveTestOptions& options)
{
    ArchiveTestResult result;
    Tester(unzip, options, result).TestFile(path, 0, result);
    return result;
}

QString ArchiveTestCauseText(ArchiveTestCause cause)
{
    switch (cause) {
    case ArchiveTestCause::None:
        return QString();
    case ArchiveTestCause::NotAnArchive:
        return QStringLiteral("not an archive");
    case ArchiveTestCause::KindNotRead:
        return QStringLiteral("an archive kind that is not tested");
    case ArchiveTestCause::Unopenable:
        return QStringLiteral("the archive can't be opened");
    case ArchiveTestCause::HeaderDamaged:
        return QStringLiteral("a member header can't be read");
    case ArchiveTestCause::ChecksumFailed:
        return QStringLiteral("a member fails its checksum");
    case ArchiveTestCause::DataDamaged:
        return QStringLiteral("a member's data can't be unpacked");
    case ArchiveTestCause::Encrypted:
        return QStringLiteral("an encrypted member");
    case ArchiveTestCause::Unsupported:
        return QStringLiteral("a member packed with a method not read here");
    case ArchiveTestCause::ReadError:
        return QStringLiteral("a read error");
    case ArchiveTestCause::TooLarge:
        return QStringLiteral("too much data to unpack");
    case ArchiveTestCause::TooManyMembers:
        return QStringLiteral("too many members");
    case ArchiveTestCause::NoComponent:
        return QStringLiteral("no zip component");
    case ArchiveTestCause::Stopped:
        return QStringLiteral("stopped");
    }
    return QString();
}

QString ArchiveTestText(const ArchiveTestResult& result)
{
    QString text;
    switch (result.outcome) {
    case ArchiveTestOutcome::Clean:
        text = QStringLiteral("clean");
        if (result.cause == ArchiveTestCause::KindNotRead)
            return text + QStringLiteral(" (%1 archives are not tested)")
                              .arg(ArchiveKindName(result.kind));
        if (result.cause != ArchiveTestCause::None)
            return text + QStringLiteral(" (%1)").arg(ArchiveTestCauseText(result.cause));
        return text;
    case ArchiveTestOutcome::Damaged:
        text = QStringLiteral("damaged: ");
        break;
    case ArchiveTestOutcome::NotScanned:
        text = QStringLiteral("not scanned: ");
        break;
    }
    text += ArchiveTestCauseText(result.cause);
    if (!result.memberPath.isEmpty()) {
        QStringList names;
        for (const QByteArray& name : result.memberPath)
            names << ShownText(name);
        text += QStringLiteral(": ") + names.join(QStringLiteral(" > "));
    }
    if (!result.detail.isEmpty())
        text += QStringLiteral(" (%1)").arg(result.detail);
    return text;
}
