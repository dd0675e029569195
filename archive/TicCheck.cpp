#include "archive/TicCheck.h"

#include "common/CodePage.h"
#include "server/DiskNames.h"
#include "server/RecordFileSize.h"

#include <QFile>
#include <QFileInfo>

#include <zlib.h>

#include <cerrno>
#include <cstring>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

std::string_view View(const QByteArray& bytes)
{
    return std::string_view(bytes.constData(), std::size_t(bytes.size()));
}

// A name as the reasons show it.
QString Shown(const QByteArray& name)
{
    return QFile::decodeName(name);
}

QString Quoted(const QByteArray& name)
{
    return u'\'' + Shown(name) + u'\'';
}

// TIC bytes (code page 437) as bytes of the record's code page.
QByteArray InRecordPage(const QByteArray& bytes, RecordCodePage page)
{
    if (page == CodePage::Cp437)
        return bytes;
    return CodePageFromString(page, CodePageToString(CodePage::Cp437, bytes));
}

QByteArray TrimmedBlanks(const QByteArray& bytes)
{
    qsizetype begin = 0, end = bytes.size();
    while (begin < end && (bytes.at(begin) == ' ' || bytes.at(begin) == '\t'))
        ++begin;
    while (end > begin && (bytes.at(end - 1) == ' ' || bytes.at(end - 1) == '\t'))
        --end;
    return bytes.mid(begin, end - begin);
}

// Why a name can't be looked up in the inbound; empty when it can.
QString UnsafeName(const QByteArray& name)
{
    switch (disknames::ProblemOfFileName(View(name))) {
    case disknames::NameProblem::Separator:
        return QStringLiteral("file name %1 holds a path separator").arg(Quoted(name));
    case disknames::NameProblem::FolderName:
        return QStringLiteral("file name %1 names a folder").arg(Quoted(name));
    case disknames::NameProblem::ControlByte:
        return QStringLiteral("file name %1 holds a control character").arg(Quoted(name));
    case disknames::NameProblem::Empty:
        return QStringLiteral("no File line");
    case disknames::NameProblem::None:
    case disknames::NameProblem::TooLong:
        break;
    }
    return QString();
}

bool LookupSafe(const QByteArray& name)
{
    const auto problem = disknames::ProblemOfFileName(View(name));
    return problem == disknames::NameProblem::None || problem == disknames::NameProblem::TooLong;
}

bool LongNameApplies(const TicFile& tic)
{
    return qsizetype(disknames::kMaxFileNameBytes) >= tic.file.size() &&
           tic.longName.size() > qsizetype(disknames::kMaxFileNameBytes);
}

bool SamePassword(const QByteArray& given, const QString& set)
{
    return QString::fromLatin1(given).compare(set.trimmed(), Qt::CaseInsensitive) == 0;
}

void FillTexts(const TicFile& tic, RecordCodePage page, TicDecision& d)
{
    // The description: the Desc lines, else the first LDesc line with text.
    QByteArray desc;
    for (const QByteArray& line : tic.desc) {
        const QByteArray part = TrimmedBlanks(line);
        if (part.isEmpty())
            continue;
        if (!desc.isEmpty())
            desc += ' ';
        desc += part;
    }
    if (desc.isEmpty()) {
        for (const QByteArray& line : tic.ldesc) {
            desc = TrimmedBlanks(line);
            if (!desc.isEmpty())
                break;
        }
    }
    desc = InRecordPage(desc, page);
    d.descriptionCut = desc.size() > kTicDescriptionBytes;
    d.description = desc.left(kTicDescriptionBytes);

    QList<QByteArray> ldesc = tic.ldesc;
    while (!ldesc.isEmpty() && TrimmedBlanks(ldesc.last()).isEmpty())
        ldesc.removeLast();
    d.hasTexts = !d.description.isEmpty() || !ldesc.isEmpty();

    QList<QByteArray> lines;
    if (LongNameApplies(tic)) {
        lines << tic.longName;
        if (ldesc.isEmpty())
            ldesc = tic.desc;
    }
    lines += ldesc;
    if (lines.size() > LongDescLines) {
        d.longLinesDropped = int(lines.size() - LongDescLines);
        lines.resize(LongDescLines);
    }
    for (const QByteArray& line : lines) {
        const QByteArray stored = InRecordPage(line, page);
        if (stored.size() > kTicLongLineBytes)
            ++d.longLinesCut;
        d.longDescription << stored.left(kTicLongLineBytes);
    }
    if (LongNameApplies(tic))
        d.longNameLine = d.longDescription.value(0);
}

TicDecision Refused(TicDecision d, const QString& reason)
{
    d.verdict = TicVerdict::Refuse;
    d.reason = reason;
    return d;
}

TicDecision Missing(TicDecision d, const QString& waiting, const QString& refused, qint64 age)
{
    if (age >= kTicWaitSeconds)
        return Refused(d, refused);
    d.verdict = TicVerdict::Wait;
    d.reason = waiting;
    return d;
}

// Looks up a plain entry of `name` in the inbound, any letter case.
bool FindPlain(const QByteArray& folder, const QByteArray& name, TicFileState& state)
{
    bool found = false;
    const std::string path = disknames::FindInFolder(
        std::string(folder.constData(), std::size_t(folder.size())), View(name), &found);
    if (!found)
        return false;
    struct stat st {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return false;
    state.path = QByteArray(path.data(), qsizetype(path.size()));
    if (!S_ISREG(st.st_mode)) {
        state.notPlain = true;
        return true;
    }
    state.exists = true;
    state.size = qint64(st.st_size);
    return true;
}

} // namespace

TicFileState ReadTicFileState(const QString& inbound, const TicFile& tic, const QString& ticPath,
                              const QDateTime& now)
{
    TicFileState state;
    // The age by the file's own seconds: a QFileInfo's time in the local
    // zone costs a look at the zone for every TIC.
    struct stat st {
    };
    if (::stat(QFile::encodeName(ticPath).constData(), &st) == 0)
        state.ticAgeSeconds = now.toSecsSinceEpoch() - qint64(st.st_mtim.tv_sec);

    const QByteArray folder = QFile::encodeName(inbound);
    bool found = false;
    if (LookupSafe(tic.file))
        found = FindPlain(folder, tic.file, state);
    if (!found && !tic.longName.isEmpty() && LookupSafe(tic.longName))
        found = FindPlain(folder, tic.longName, state);
    if (!state.exists)
        return state;
    const bool sizeMatches = !tic.size || *tic.size == state.size;
    if (sizeMatches && FileFitsRecord(state.size)) {
        quint32 crc = 0;
        if (FileCrc32(state.path, crc))
            state.crc = crc;
        else
            state.readFailed = true;
    }
    return state;
}

TicDecision CheckTic(const TicFile& tic, const TicSettings& settings, const TicFileState& state,
                     RecordCodePage recordPage)
{
    TicDecision d;
    d.ticOnly = !LookupSafe(tic.file);
    d.area = settings.AreaOfTag(QString::fromLatin1(tic.area));
    if (!d.ticOnly) {
        d.recordName = QByteArray::fromStdString(disknames::RecordNameOfDiskName(View(tic.file)));
        FillTexts(tic, recordPage, d);
    }

    if (tic.area.isEmpty())
        return Refused(d, QStringLiteral("no Area line"));
    if (tic.file.isEmpty())
        return Refused(d, QStringLiteral("no File line"));
    if (d.ticOnly)
        return Refused(d, UnsafeName(tic.file));
    if (d.area <= 0)
        return Refused(d, QStringLiteral("echo '%1' is not in TicAreas").arg(TicText(tic.area)));
    if (tic.file.size() > qsizetype(disknames::kMaxFileNameBytes))
        return Refused(d, QStringLiteral("file name %1 is longer than %2 characters")
                              .arg(Quoted(tic.file))
                              .arg(disknames::kMaxFileNameBytes));
    QString password;
    if (settings.PasswordOf(QString::fromLatin1(tic.from), password) &&
        !SamePassword(tic.pw, password))
        return Refused(
            d,
            QStringLiteral("password from %1 does not match").arg(QString::fromLatin1(tic.from)));
    if (!tic.sizeText.isEmpty() && !tic.size)
        return Refused(
            d, QStringLiteral("Size '%1' is not a number of bytes").arg(TicText(tic.sizeText)));
    if (!tic.crcText.isEmpty() && !tic.crc)
        return Refused(d, QStringLiteral("Crc '%1' is not a hex CRC-32").arg(TicText(tic.crcText)));
    if (tic.size && !FileFitsRecord(*tic.size))
        return Refused(d, FileTooLargeMessage(Shown(tic.file), *tic.size));

    const qint64 age = state.ticAgeSeconds;
    if (state.notPlain)
        return Refused(
            d, QStringLiteral("%1 in the inbound is not a plain file").arg(Quoted(tic.file)));
    if (!state.exists)
        return Missing(d, QStringLiteral("file %1 has not arrived yet").arg(Quoted(tic.file)),
                       QStringLiteral("file %1 is missing").arg(Quoted(tic.file)), age);
    if (tic.size && state.size < *tic.size)
        return Missing(d,
                       QStringLiteral("file %1 has %2 of %3 bytes so far")
                           .arg(Quoted(tic.file))
                           .arg(state.size)
                           .arg(*tic.size),
                       QStringLiteral("file %1 is %2 bytes, Size says %3")
                           .arg(Quoted(tic.file))
                           .arg(state.size)
                           .arg(*tic.size),
                       age);
    if (tic.size && state.size != *tic.size)
        return Refused(d, QStringLiteral("file %1 is %2 bytes, Size says %3")
                              .arg(Quoted(tic.file))
                              .arg(state.size)
                              .arg(*tic.size));
    if (!FileFitsRecord(state.size))
        return Refused(d, FileTooLargeMessage(Shown(tic.file), state.size));
    if (tic.crc) {
        if (state.readFailed || !state.crc)
            return Refused(d, QStringLiteral("file %1 could not be read").arg(Quoted(tic.file)));
        if (*state.crc != *tic.crc)
            return Refused(d, QStringLiteral("file %1 has CRC %2, Crc says %3")
                                  .arg(Quoted(tic.file), QString::fromLatin1(CrcText(*state.crc)),
                                       QString::fromLatin1(CrcText(*tic.crc))));
    }
    d.verdict = TicVerdict::Accept;
    return d;
}

void ApplyTicTexts(const TicDecision& decision, FullFileRec& rec)
{
    const auto put = [](char* field, std::size_t size, const QByteArray& bytes) {
        std::memset(field, 0, size);
        std::memcpy(field, bytes.constData(), std::min(std::size_t(bytes.size()), size - 1));
    };
    put(rec.Rec.Description, sizeof rec.Rec.Description, decision.description);
    for (int i = 0; i < LongDescLines; ++i)
        put(rec.LongDescription[i], LongDescLineSize, decision.longDescription.value(i));
    rec.Rec.HasLongDescription = decision.longDescription.isEmpty() ? 0 : 1;
}

bool FileCrc32(const QByteArray& path, quint32& crc)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // One buffer per thread for every call: an intake reads thousands of
    // files, and a fresh buffer of this size is a mapping of its own each
    // time.
    thread_local std::vector<unsigned char> buffer(256 * 1024);
    uLong value = ::crc32(0L, Z_NULL, 0);
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        value = ::crc32(value, buffer.data(), uInt(n));
    }
    ::close(fd);
    if (ok)
        crc = quint32(value);
    return ok;
}

QByteArray CrcText(quint32 crc)
{
    return QByteArray::number(crc, 16).toUpper().rightJustified(8, '0');
}
