// Date and time texts of record file times (local time, no zone step), on
// our own proleptic Gregorian calendar code.
#pragma once

#include "server/Records.h"

#include <QString>

#include <cstdint>

// Pictures used by the formatters: "MM/dd/yy" and "hh:mm" by default.
extern QString DatePicture;
extern QString TimePicture;

struct SystemTime {
    uint16_t year = 0, month = 0, dayOfWeek = 0, day = 0;
    uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};
// Splits a file time into calendar fields; false beyond the representable range.
bool FileTimeToSystemTime(const FILETIME& ft, SystemTime& st);
// Builds a file time; false for fields out of range (month 1..12, a day the
// month has, hour 0..23, minute 0..59, second 0..59, year 1601..30827).
bool SystemTimeToFileTime(const SystemTime& st, FILETIME& ft);

QString FileTimeToDateText(const FILETIME& ft);
QString FileTimeToTimeText(const FILETIME& ft);
// The same two texts as 8-bit characters (a character beyond Latin-1 as
// '?'), with their lengths (no NUL is added), the file time split once: for
// output written byte by byte without a string per record.
constexpr int kDateTimeCharsMax = 32;
struct DateTimeChars {
    char date[kDateTimeCharsMax];
    char time[kDateTimeCharsMax];
    int dateLength = 0;
    int timeLength = 0;
};
void FileTimeToDateTimeChars(const FILETIME& ft, DateTimeChars& out);

// The date and time pictures as they are when it is made, read once for
// the many file times of a list: Format gives what FileTimeToDateTimeChars
// gives with those pictures.
class DateTimeCharsFormat
{
public:
    DateTimeCharsFormat();
    void Format(const FILETIME& ft, DateTimeChars& out) const;

private:
    // One piece of a picture: a character as it is, or a two-digit field.
    enum class Field : quint8 { None, Month, Day, Year, Hour, Minute, Second };
    struct Piece {
        char literal = 0;
        Field field = Field::None;
    };
    struct Picture {
        Piece pieces[kDateTimeCharsMax];
        int count = 0;
        int length = 0; // characters of the result
    };
    static Picture Prepare(const QString& picture);
    static int Put(const Picture& picture, const SystemTime& st, char* out);

    Picture m_date, m_time;
};
// Date text month first, a year of one or two digits read by the two-digit
// year rule; false when the texts do not make a valid time (ft untouched).
bool TextToFileTime(const QString& dateText, const QString& timeText, FILETIME& ft);
// The texts of a masked date field and a masked time field ("99:99", each
// unfilled position read as a blank): as TextToFileTime, except that a time
// with a blank position fails.
bool MaskedTextToFileTime(const QString& dateText, const QString& timeText, FILETIME& ft);
// Only the time field edited: `stored` with its time of day replaced by the
// masked time text (seconds 0), its day kept whatever its year. False, `ft`
// untouched, for a time with a blank position, a time out of range or a
// stored time that cannot be split.
bool MaskedTimeOnDay(const FILETIME& stored, const QString& timeText, FILETIME& ft);
// -1, 0, 1: by calendar day when the second (criterion) time is midnight,
// else to the minute.
int CompareFileTimes(const FILETIME& first, const FILETIME& second);
// UTC to local time with the host's time zone.
bool FileTimeToLocal(const FILETIME& utc, FILETIME& local);

bool IsAllDigits(const QString& text);
QChar FindDateSeparator(const QString& text);
enum class TimeMarker { AM, PM, None };
TimeMarker TimeMarkerKind(const QString& text);
QString SplitNextField(QString& text, QChar separator);
bool ParseDateText(const QString& text, int& month, int& day, int& year);
void ParseTimeText(const QString& text, int& hour, int& minute);
