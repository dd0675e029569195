#include "archive/TicFile.h"

#include "common/CodePage.h"

#include <QFile>

#include <cstring>

namespace
{

enum class Key {
    Other,
    Area,
    AreaDesc,
    File,
    LongName,
    Desc,
    LDesc,
    Replaces,
    Size,
    Crc,
    Pw,
    Origin,
    From,
    To,
    Date,
    Path,
    Seenby,
};

struct KeyName {
    const char* name;
    Key key;
};

constexpr KeyName kKeys[] = {
    {"area", Key::Area},
    {"areadesc", Key::AreaDesc},
    {"file", Key::File},
    {"lfile", Key::LongName},
    {"fullname", Key::LongName},
    {"desc", Key::Desc},
    {"ldesc", Key::LDesc},
    {"replaces", Key::Replaces},
    {"size", Key::Size},
    {"crc", Key::Crc},
    {"pw", Key::Pw},
    {"origin", Key::Origin},
    {"from", Key::From},
    {"to", Key::To},
    {"date", Key::Date},
    {"path", Key::Path},
    {"seenby", Key::Seenby},
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

Key KeyOf(const char* word, qsizetype size)
{
    for (const KeyName& k : kKeys) {
        if (qsizetype(std::strlen(k.name)) != size)
            continue;
        bool same = true;
        for (qsizetype i = 0; i < size && same; ++i) {
            char c = word[i];
            if (c >= 'A' && c <= 'Z')
                c = char(c + 32);
            same = c == k.name[i];
        }
        if (same)
            return k.key;
    }
    return Key::Other;
}

// A whole number of bytes: digits only (at most 18, so no overflow).
std::optional<qint64> SizeOf(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 18)
        return std::nullopt;
    qint64 value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

// 1 to 8 hex digits, with or without "0x".
std::optional<quint32> CrcOf(QByteArray text)
{
    if (text.startsWith("0x") || text.startsWith("0X"))
        text = text.mid(2);
    if (text.isEmpty() || text.size() > 8)
        return std::nullopt;
    quint32 value = 0;
    for (const char c : text) {
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = (value << 4) | quint32(digit);
    }
    return value;
}

// Takes the first line of a single keyword; a later one is kept with the others.
void TakeOnce(QByteArray& field, bool& seen, const QByteArray& keyword, const QByteArray& value,
              TicFile& tic)
{
    if (seen)
        tic.others.append(TicLine{keyword, value});
    else
        field = value;
    seen = true;
}

void TakeLine(const char* line, qsizetype size, TicFile& tic, bool (&seen)[32])
{
    qsizetype at = 0;
    while (at < size && IsBlank(line[at]))
        ++at;
    const qsizetype wordStart = at;
    while (at < size && !IsBlank(line[at]))
        ++at;
    const qsizetype wordSize = at - wordStart;
    if (wordSize == 0)
        return;
    const Key key =
        wordSize <= kTicMaxKeywordBytes ? KeyOf(line + wordStart, wordSize) : Key::Other;
    const QByteArray keyword(line + wordStart, std::min(wordSize, kTicMaxKeywordBytes));

    // The value: after the one separating blank for LDesc, after all of them otherwise.
    if (key == Key::LDesc) {
        if (at < size)
            ++at;
    } else {
        while (at < size && IsBlank(line[at]))
            ++at;
    }
    qsizetype end = std::min(size, at + kTicMaxValueBytes);
    while (end > at && static_cast<unsigned char>(line[end - 1]) <= 0x20)
        --end;
    const QByteArray value(line + at, end - at);

    bool& once = seen[int(key)];
    switch (key) {
    case Key::Other:
        tic.others.append(TicLine{keyword, value});
        break;
    case Key::Area:
        TakeOnce(tic.area, once, keyword, value, tic);
        break;
    case Key::AreaDesc:
        TakeOnce(tic.areaDescription, once, keyword, value, tic);
        break;
    case Key::File:
        TakeOnce(tic.file, once, keyword, value, tic);
        break;
    case Key::LongName:
        TakeOnce(tic.longName, once, keyword, value, tic);
        break;
    case Key::Desc:
        if (!value.isEmpty())
            tic.desc.append(value);
        break;
    case Key::LDesc:
        tic.ldesc.append(value);
        break;
    case Key::Replaces:
        if (!value.isEmpty())
            tic.replaces.append(value);
        break;
    case Key::Size:
        TakeOnce(tic.sizeText, once, keyword, value, tic);
        tic.size = SizeOf(tic.sizeText);
        break;
    case Key::Crc:
        TakeOnce(tic.crcText, once, keyword, value, tic);
        tic.crc = CrcOf(tic.crcText);
        break;
    case Key::Pw:
        TakeOnce(tic.pw, once, keyword, value, tic);
        break;
    case Key::Origin:
        TakeOnce(tic.origin, once, keyword, value, tic);
        break;
    case Key::From:
        TakeOnce(tic.from, once, keyword, value, tic);
        break;
    case Key::To:
        TakeOnce(tic.to, once, keyword, value, tic);
        break;
    case Key::Date:
        TakeOnce(tic.date, once, keyword, value, tic);
        break;
    case Key::Path:
        tic.path.append(value);
        break;
    case Key::Seenby:
        tic.seenby.append(value);
        break;
    }
}

} // namespace

TicFile ParseTic(const QByteArray& bytes)
{
    TicFile tic;
    qsizetype end = bytes.size();
    if (end > kTicMaxBytes) {
        end = qsizetype(kTicMaxBytes);
        tic.cut = true;
    }
    const char* data = bytes.constData();
    for (qsizetype i = 0; i < end; ++i) {
        if (data[i] == '\0' || data[i] == '\x1a') {
            end = i;
            break;
        }
    }
    bool seen[32] = {};
    static_assert(int(Key::Seenby) < 32);
    qsizetype start = 0;
    while (start < end) {
        qsizetype stop = start;
        while (stop < end && data[stop] != '\r' && data[stop] != '\n')
            ++stop;
        TakeLine(data + start, stop - start, tic, seen);
        start = stop + 1; // a CR LF pair leaves an empty line, which is skipped
    }
    return tic;
}

bool ReadTicFile(const QString& path, TicFile& tic)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // One byte more than is parsed, so that a longer file shows as cut.
    const QByteArray bytes = file.read(kTicMaxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return false;
    tic = ParseTic(bytes);
    return true;
}

QString TicText(const QByteArray& bytes)
{
    return CodePageToString(CodePage::Cp437, bytes);
}
