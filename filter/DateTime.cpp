#include "filter/DateTime.h"

#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cstring>
#include <ctime>

QString DatePicture = QStringLiteral("MM/dd/yy");
QString TimePicture = QStringLiteral("hh:mm");

namespace
{

constexpr uint64_t kTicksPerSecond = 10000000ULL;
constexpr uint64_t kTicksPerDay = 86400ULL * kTicksPerSecond;
// File times at or beyond 2^63 cannot be split (as on the original platform).
constexpr uint64_t kMaxFileTime = 0x7fffffffffffffffULL;
// Days from 1601-01-01 to 1970-01-01.
constexpr int64_t kDaysTo1970 = 134774;
// Pictures are copied into 16-character buffers, results formatted into 16.
constexpr qsizetype kPictureBuffer = 16;

bool IsLeap(int64_t y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int64_t y, int m)
{
    static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Days since 1970-01-01 of a proleptic Gregorian date (H. Hinnant's algorithm).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = int64_t(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y += m <= 2;
}

// Our formatter knows no invalid parameters or flags; a result too long for
// its buffer is the one failure left, shown by the platform's error name.
enum class FormatError { None, InsufficientBuffer };

// Two digits of `value` at `out`; returns the position after them.
template <typename Char> Char* PutTwoDigits(Char* out, int value)
{
    out[0] = Char('0' + (value / 10) % 10);
    out[1] = Char('0' + value % 10);
    return out + 2;
}

// The picture formatter: MM dd yy hh mm ss, every other character copied.
// Hours are always on the 24-hour clock. The result must fit the 16-byte
// buffer with its NUL, as the platform's formatter would require; returns
// its length, -1 when it does not fit. Every picture character makes one
// result character at most (a pair makes two digits), and pictures are cut
// to 15 characters, so `buffer` (kPictureBuffer characters) cannot
// overflow.
template <typename Char>
qsizetype FormatPicture(const SystemTime& st, const QString& picture, Char* buffer)
{
    const qsizetype size = std::min(picture.size(), kPictureBuffer - 1);
    const char16_t* pic = reinterpret_cast<const char16_t*>(picture.constData());
    Char* at = buffer;
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = pic[i];
        const bool pair = i + 1 < size && pic[i + 1] == c;
        if (pair && c == u'M')
            at = PutTwoDigits(at, st.month);
        else if (pair && c == u'd')
            at = PutTwoDigits(at, st.day);
        else if (pair && c == u'y')
            at = PutTwoDigits(at, st.year % 100);
        else if (pair && c == u'h')
            at = PutTwoDigits(at, st.hour);
        else if (pair && c == u'm')
            at = PutTwoDigits(at, st.minute);
        else if (pair && c == u's')
            at = PutTwoDigits(at, st.second);
        else {
            // 8-bit results show a character beyond Latin-1 as '?'.
            if constexpr (sizeof(Char) == 1)
                *at++ = c < 256 ? Char(c) : '?';
            else
                *at++ = Char(c);
            continue;
        }
        ++i;
    }
    const qsizetype length = at - buffer;
    return length > kPictureBuffer - 1 ? -1 : length;
}

// The characters are put into a buffer on the stack: a list line formats a
// date and a time per record, and the result string is the one allocation.
FormatError FormatPicture(const SystemTime& st, const QString& picture, QString& out)
{
    char16_t buffer[kPictureBuffer];
    const qsizetype length = FormatPicture(st, picture, buffer);
    if (length < 0) {
        out.clear();
        return FormatError::InsufficientBuffer;
    }
    out = QString(reinterpret_cast<const QChar*>(buffer), length);
    return FormatError::None;
}

// The 8-bit form of FormatFileTime into `out` (kDateTimeCharsMax bytes),
// of a time already split.
qsizetype FormatChars(const SystemTime& st, const QString& picture, char* out)
{
    static_assert(kDateTimeCharsMax >= kPictureBuffer);
    const qsizetype length = FormatPicture(st, picture, out);
    if (length >= 0)
        return length;
    static constexpr char kInsufficient[] = "INSUFFICIENT_BUFFER";
    static_assert(sizeof kInsufficient - 1 <= kDateTimeCharsMax);
    std::memcpy(out, kInsufficient, sizeof kInsufficient - 1);
    return qsizetype(sizeof kInsufficient - 1);
}

QString FormatFileTime(const FILETIME& ft, const QString& picture)
{
    SystemTime st;
    if (!FileTimeToSystemTime(ft, st))
        return QString();
    QString out;
    switch (FormatPicture(st, picture, out)) {
    case FormatError::None:
        return out;
    case FormatError::InsufficientBuffer:
        return QStringLiteral("INSUFFICIENT_BUFFER");
    }
    return QString();
}

// A digits-only field as a number; values too large for any calendar field
// are held at a ceiling so that the range checks reject them.
int DigitsValue(const QString& digits)
{
    long long v = 0;
    for (const QChar c : digits) {
        v = v * 10 + (c.unicode() - u'0');
        if (v > 99999999)
            return 99999999;
    }
    return int(v);
}

} // namespace

bool FileTimeToSystemTime(const FILETIME& ft, SystemTime& st)
{
    const uint64_t v = FileTimeValue(ft);
    if (v > kMaxFileTime)
        return false;
    const int64_t days = int64_t(v / kTicksPerDay);
    uint64_t rest = v % kTicksPerDay;
    int64_t y;
    unsigned m, d;
    CivilFromDays(days - kDaysTo1970, y, m, d);
    st.year = uint16_t(y);
    st.month = uint16_t(m);
    st.day = uint16_t(d);
    st.dayOfWeek = uint16_t((days + 1) % 7); // 1601-01-01 was a Monday
    st.hour = uint16_t(rest / (3600 * kTicksPerSecond));
    rest %= 3600 * kTicksPerSecond;
    st.minute = uint16_t(rest / (60 * kTicksPerSecond));
    rest %= 60 * kTicksPerSecond;
    st.second = uint16_t(rest / kTicksPerSecond);
    rest %= kTicksPerSecond;
    st.milliseconds = uint16_t(rest / 10000);
    return true;
}

bool SystemTimeToFileTime(const SystemTime& st, FILETIME& ft)
{
    if (st.year < 1601 || st.year > 30827 || st.month < 1 || st.month > 12 || st.day < 1 ||
        st.day > DaysInMonth(st.year, st.month) || st.hour > 23 || st.minute > 59 ||
        st.second > 59 || st.milliseconds > 999)
        return false;
    const int64_t days = DaysFromCivil(st.year, st.month, st.day) + kDaysTo1970;
    const uint64_t v = uint64_t(days) * kTicksPerDay +
                       ((uint64_t(st.hour) * 60 + st.minute) * 60 + st.second) * kTicksPerSecond +
                       uint64_t(st.milliseconds) * 10000;
    ft = MakeFileTime(v);
    return true;
}

QString FileTimeToDateText(const FILETIME& ft)
{
    return FormatFileTime(ft, DatePicture);
}

QString FileTimeToTimeText(const FILETIME& ft)
{
    return FormatFileTime(ft, TimePicture);
}

void FileTimeToDateTimeChars(const FILETIME& ft, DateTimeChars& out)
{
    SystemTime st;
    if (!FileTimeToSystemTime(ft, st)) {
        out.dateLength = out.timeLength = 0;
        return;
    }
    out.dateLength = int(FormatChars(st, DatePicture, out.date));
    out.timeLength = int(FormatChars(st, TimePicture, out.time));
}

DateTimeCharsFormat::DateTimeCharsFormat()
    : m_date(Prepare(DatePicture)), m_time(Prepare(TimePicture))
{
}

// The pieces of a picture by the rules of FormatPicture (cut to 15
// characters; a pair of MM dd yy hh mm ss is a field; anything else is
// copied, '?' beyond Latin-1).
DateTimeCharsFormat::Picture DateTimeCharsFormat::Prepare(const QString& picture)
{
    Picture p;
    const qsizetype size = std::min(picture.size(), kPictureBuffer - 1);
    const char16_t* pic = reinterpret_cast<const char16_t*>(picture.constData());
    for (qsizetype i = 0; i < size; ++i) {
        const char16_t c = pic[i];
        const bool pair = i + 1 < size && pic[i + 1] == c;
        Piece& piece = p.pieces[p.count++];
        if (pair && (c == u'M' || c == u'd' || c == u'y' || c == u'h' || c == u'm' || c == u's')) {
            piece.field = c == u'M'   ? Field::Month
                          : c == u'd' ? Field::Day
                          : c == u'y' ? Field::Year
                          : c == u'h' ? Field::Hour
                          : c == u'm' ? Field::Minute
                                      : Field::Second;
            p.length += 2;
            ++i;
        } else {
            piece.literal = c < 256 ? char(c) : '?';
            p.length += 1;
        }
    }
    return p;
}

int DateTimeCharsFormat::Put(const Picture& picture, const SystemTime& st, char* out)
{
    char* at = out;
    for (int i = 0; i < picture.count; ++i) {
        const Piece& piece = picture.pieces[i];
        switch (piece.field) {
        case Field::None:
            *at++ = piece.literal;
            break;
        case Field::Month:
            at = PutTwoDigits(at, st.month);
            break;
        case Field::Day:
            at = PutTwoDigits(at, st.day);
            break;
        case Field::Year:
            at = PutTwoDigits(at, st.year % 100);
            break;
        case Field::Hour:
            at = PutTwoDigits(at, st.hour);
            break;
        case Field::Minute:
            at = PutTwoDigits(at, st.minute);
            break;
        case Field::Second:
            at = PutTwoDigits(at, st.second);
            break;
        }
    }
    return int(at - out);
}

void DateTimeCharsFormat::Format(const FILETIME& ft, DateTimeChars& out) const
{
    SystemTime st;
    if (!FileTimeToSystemTime(ft, st)) {
        out.dateLength = out.timeLength = 0;
        return;
    }
    out.dateLength = Put(m_date, st, out.date);
    out.timeLength = Put(m_time, st, out.time);
}

bool IsAllDigits(const QString& text)
{
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

QChar FindDateSeparator(const QString& text)
{
    static const char16_t separators[] = u"/\\-_:,.=";
    for (const char16_t* s = separators; *s; ++s)
        if (text.contains(QChar(*s)))
            return QChar(*s);
    return QChar(0);
}

TimeMarker TimeMarkerKind(const QString& text)
{
    const QString upper = text.toUpper();
    if (upper.contains(u'A'))
        return TimeMarker::AM;
    if (upper.contains(u'P'))
        return TimeMarker::PM;
    return TimeMarker::None;
}

QString SplitNextField(QString& text, QChar separator)
{
    if (separator.isNull())
        return QString();
    const qsizetype at = text.indexOf(separator);
    if (at < 0)
        return QString();
    const QString field = text.left(at);
    text.remove(0, at + 1);
    return field;
}

bool ParseDateText(const QString& text, int& month, int& day, int& year)
{
    month = day = year = 0;
    QString rest = text;
    const QChar separator = FindDateSeparator(rest);
    for (int i = 1; !rest.isEmpty(); ++i) {
        QString field = SplitNextField(rest, separator);
        if (field.isEmpty() && i == 3) {
            field = rest; // the year has no separator after it
            rest.clear();
        }
        if (!IsAllDigits(field))
            return false;
        if (i == 1)
            month = DigitsValue(field);
        else if (i == 2)
            day = DigitsValue(field);
        else if (i == 3)
            year = DigitsValue(field);
    }
    return true;
}

void ParseTimeText(const QString& text, int& hour, int& minute)
{
    const QString t = text.toUpper().trimmed();
    // Positions count from 1 as in the original reading; 0 means absent.
    const QChar separator = FindDateSeparator(t);
    const qsizetype sepAt = separator.isNull() ? 0 : t.indexOf(separator) + 1;
    const TimeMarker kind = TimeMarkerKind(t);
    const QString hourText = sepAt > 0 ? t.left(sepAt - 1) : QString();
    QString minuteText;
    if (kind == TimeMarker::None) {
        minuteText = t.mid(sepAt);
    } else {
        const qsizetype m = t.indexOf(kind == TimeMarker::AM ? u'A' : u'P') + 1;
        const qsizetype count = m - sepAt - 1;
        if (count > 0)
            minuteText = t.mid(sepAt, count);
    }
    const bool hourDigits = IsAllDigits(hourText);
    hour = hourDigits ? DigitsValue(hourText) : 0;
    minute = IsAllDigits(minuteText) ? DigitsValue(minuteText) : 0;
    if (kind == TimeMarker::AM) {
        if (hour == 12)
            hour = 0;
    } else if (kind == TimeMarker::PM) {
        hour = hourDigits ? hour + 12 : 0;
        if (hour == 24)
            hour = 12;
    }
}

bool TextToFileTime(const QString& dateText, const QString& timeText, FILETIME& ft)
{
    int month, day, year;
    if (!ParseDateText(dateText, month, day, year))
        return false;
    // Two-digit years: 00..79 are 2000..2079, 80..99 are 1980..1999 (the
    // BBS has no files before 1980). Adding 1900 to every two-digit year, as
    // the old rule did, moved a 2003 file back a century when only its time
    // was edited.
    if (year < 100)
        year += year < 80 ? 2000 : 1900;
    // Time fields hold five characters; a longer text is read from its first five.
    const QString time = timeText.size() > 6 ? timeText.left(5) : timeText;
    int hour, minute;
    ParseTimeText(time, hour, minute);
    if (year > 65535 || month > 65535 || day > 65535 || hour > 65535 || minute > 65535)
        return false;
    SystemTime st;
    st.year = uint16_t(year);
    st.month = uint16_t(month);
    st.day = uint16_t(day);
    st.hour = uint16_t(hour);
    st.minute = uint16_t(minute);
    return SystemTimeToFileTime(st, ft);
}

namespace
{
// A masked time field with a position left blank: "1_:30" would read as
// 00:30 and "12:3_" as 12:03, another time than any the sysop meant.
bool HasBlankPosition(const QString& maskedTime)
{
    return maskedTime.isEmpty() || maskedTime.contains(u' ');
}
} // namespace

bool MaskedTextToFileTime(const QString& dateText, const QString& timeText, FILETIME& ft)
{
    if (HasBlankPosition(timeText))
        return false;
    return TextToFileTime(dateText, timeText, ft);
}

bool MaskedTimeOnDay(const FILETIME& stored, const QString& timeText, FILETIME& ft)
{
    if (HasBlankPosition(timeText))
        return false;
    SystemTime st;
    if (!FileTimeToSystemTime(stored, st))
        return false;
    const QString time = timeText.size() > 6 ? timeText.left(5) : timeText;
    int hour, minute;
    ParseTimeText(time, hour, minute);
    if (hour > 23 || minute > 59)
        return false;
    st.hour = uint16_t(hour);
    st.minute = uint16_t(minute);
    st.second = 0;
    st.milliseconds = 0;
    st.dayOfWeek = 0;
    return SystemTimeToFileTime(st, ft);
}

int CompareFileTimes(const FILETIME& first, const FILETIME& second)
{
    SystemTime a, b;
    int result = 0;
    if (!FileTimeToSystemTime(first, a) || !FileTimeToSystemTime(second, b)) {
        const uint64_t x = FileTimeValue(first), y = FileTimeValue(second);
        result = x < y ? -1 : x > y ? 1 : 0;
    } else {
        // A criterion at midnight to the second compares by calendar day.
        const bool dayOnly = b.hour == 0 && b.minute == 0 && b.second == 0;
        const int fa[5] = {a.year, a.month, a.day, a.hour, a.minute};
        const int fb[5] = {b.year, b.month, b.day, b.hour, b.minute};
        const int n = dayOnly ? 3 : 5;
        for (int i = 0; i < n && result == 0; ++i)
            result = fa[i] < fb[i] ? -1 : fa[i] > fb[i] ? 1 : 0;
    }
    // The comparison leaves the pictures at their standard values, as the
    // program has always done after ordering dates.
    static const QString standardTime = QStringLiteral("hh:mm");
    static const QString standardDate = QStringLiteral("MM/dd/yy");
    TimePicture = standardTime;
    DatePicture = standardDate;
    return result;
}

bool FileTimeToLocal(const FILETIME& utc, FILETIME& local)
{
    const uint64_t v = FileTimeValue(utc);
    if (v > kMaxFileTime)
        return false;
    const int64_t seconds = int64_t(v / kTicksPerSecond) - kDaysTo1970 * 86400;
    // The C library's conversion: it reads the zone once (and again after
    // tzset), where a QDateTime in the system zone looks at the zone's file
    // anew for every file time.
    const time_t at = time_t(seconds);
    struct tm parts {
    };
    if (int64_t(at) != seconds || !localtime_r(&at, &parts))
        return false;
    const int64_t offsetTicks = int64_t(parts.tm_gmtoff) * int64_t(kTicksPerSecond);
    if (offsetTicks < 0 && uint64_t(-offsetTicks) > v)
        return false;
    const uint64_t result = uint64_t(int64_t(v) + offsetTicks);
    if (result > kMaxFileTime)
        return false;
    local = MakeFileTime(result);
    return true;
}
