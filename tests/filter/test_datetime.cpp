// Date and time texts, the calendar code under them, and the ordering the
// filter uses.
#include "filter/DateTime.h"

#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QTimeZone>
#include <QtTest>

#include <cstring>

namespace
{

constexpr uint64_t kTicksPerSecond = 10000000ULL;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochSeconds = 11644473600ULL;

} // namespace

class TestDateTime : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        DatePicture = QStringLiteral("MM/dd/yy");
        TimePicture = QStringLiteral("hh:mm");
    }

    void calendarAgainstQt_data()
    {
        QTest::addColumn<qint64>("msecs");
        QTest::newRow("unix epoch") << qint64(0);
        QTest::newRow("1998-05-01 17:45:50") << qint64(893958350000);
        QTest::newRow("2000-02-29 23:59:59") << qint64(951868799000);
        QTest::newRow("1900-03-01") << qint64(-2203891200000);
        QTest::newRow("1601-01-01") << qint64(-11644473600000);
        QTest::newRow("2079-12-31 12:00") << qint64(3471249600000);
    }
    void calendarAgainstQt()
    {
        QFETCH(qint64, msecs);
        const QDateTime when = QDateTime::fromMSecsSinceEpoch(msecs, QTimeZone::utc());
        const uint64_t ticks = uint64_t(msecs / 1000 + qint64(kEpochSeconds)) * kTicksPerSecond;
        SystemTime st;
        QVERIFY(FileTimeToSystemTime(MakeFileTime(ticks), st));
        QCOMPARE(int(st.year), when.date().year());
        QCOMPARE(int(st.month), when.date().month());
        QCOMPARE(int(st.day), when.date().day());
        QCOMPARE(int(st.hour), when.time().hour());
        QCOMPARE(int(st.minute), when.time().minute());
        QCOMPARE(int(st.second), when.time().second());
        QCOMPARE(int(st.dayOfWeek), when.date().dayOfWeek() % 7);
        FILETIME back{};
        QVERIFY(SystemTimeToFileTime(st, back));
        QCOMPARE(FileTimeValue(back), ticks);
    }

    void splitRange()
    {
        SystemTime st;
        QVERIFY(FileTimeToSystemTime(MakeFileTime(0x7fffffffffffffffULL), st));
        QCOMPARE(int(st.year), 30828);
        QVERIFY(!FileTimeToSystemTime(MakeFileTime(0x8000000000000000ULL), st));
        QCOMPARE(FileTimeToDateText(MakeFileTime(0x8000000000000000ULL)), QString());
        QCOMPARE(FileTimeToTimeText(MakeFileTime(0xffffffffffffffffULL)), QString());
    }

    void buildChecks_data()
    {
        QTest::addColumn<int>("y");
        QTest::addColumn<int>("mo");
        QTest::addColumn<int>("d");
        QTest::addColumn<int>("h");
        QTest::addColumn<int>("mi");
        QTest::addColumn<bool>("ok");
        QTest::newRow("ordinary") << 1998 << 5 << 1 << 17 << 45 << true;
        QTest::newRow("leap day 2000") << 2000 << 2 << 29 << 0 << 0 << true;
        QTest::newRow("no leap day 1900") << 1900 << 2 << 29 << 0 << 0 << false;
        QTest::newRow("no leap day 2003") << 2003 << 2 << 29 << 0 << 0 << false;
        QTest::newRow("april 31") << 1998 << 4 << 31 << 0 << 0 << false;
        QTest::newRow("month 0") << 1998 << 0 << 1 << 0 << 0 << false;
        QTest::newRow("month 13") << 1998 << 13 << 1 << 0 << 0 << false;
        QTest::newRow("day 0") << 1998 << 1 << 0 << 0 << 0 << false;
        QTest::newRow("hour 24") << 1998 << 1 << 1 << 24 << 0 << false;
        QTest::newRow("minute 60") << 1998 << 1 << 1 << 0 << 60 << false;
        QTest::newRow("year 1600") << 1600 << 12 << 31 << 0 << 0 << false;
        QTest::newRow("year 1601") << 1601 << 1 << 1 << 0 << 0 << true;
    }
    void buildChecks()
    {
        QFETCH(int, y);
        QFETCH(int, mo);
        QFETCH(int, d);
        QFETCH(int, h);
        QFETCH(int, mi);
        QFETCH(bool, ok);
        SystemTime st;
        st.year = uint16_t(y);
        st.month = uint16_t(mo);
        st.day = uint16_t(d);
        st.hour = uint16_t(h);
        st.minute = uint16_t(mi);
        FILETIME ft = MakeFileTime(12345);
        QCOMPARE(SystemTimeToFileTime(st, ft), ok);
        if (!ok)
            QCOMPARE(FileTimeValue(ft), uint64_t(12345));
    }

    void formatting_data()
    {
        QTest::addColumn<quint64>("ticks");
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::newRow("zero file time") << quint64(0) << "01/01/01"
                                        << "00:00";
        QTest::newRow("13:05") << quint64(FileTimeValue(TestTime(1998, 7, 4, 13, 5, 59)))
                               << "07/04/98"
                               << "13:05";
        QTest::newRow("00:30") << quint64(FileTimeValue(TestTime(2003, 5, 6, 0, 30))) << "05/06/03"
                               << "00:30";
        QTest::newRow("23:59") << quint64(FileTimeValue(TestTime(1999, 12, 31, 23, 59)))
                               << "12/31/99"
                               << "23:59";
    }
    void formatting()
    {
        QFETCH(quint64, ticks);
        QFETCH(QString, date);
        QFETCH(QString, time);
        QCOMPARE(FileTimeToDateText(MakeFileTime(ticks)), date);
        QCOMPARE(FileTimeToTimeText(MakeFileTime(ticks)), time);
    }

    void pictures()
    {
        const FILETIME ft = TestTime(2004, 3, 9, 7, 8, 9);
        TimePicture = QStringLiteral("hh:mm:ss");
        QCOMPARE(FileTimeToTimeText(ft), QStringLiteral("07:08:09"));
        TimePicture = QStringLiteral("hh.mm h");
        QCOMPARE(FileTimeToTimeText(ft), QStringLiteral("07.08 h"));
        DatePicture = QStringLiteral("dd-MM-yy");
        QCOMPARE(FileTimeToDateText(ft), QStringLiteral("09-03-04"));
        DatePicture = QStringLiteral("yy/MM/dd [x]");
        QCOMPARE(FileTimeToDateText(ft), QStringLiteral("04/03/09 [x]"));
        // The picture is cut to 15 characters (its 16-byte buffer); every
        // picture letter pair gives two characters, so the result then fits.
        DatePicture = QStringLiteral("MM/dd/yy MM/dd/yy");
        QCOMPARE(FileTimeToDateText(ft), QStringLiteral("03/09/04 03/09/"));
        DatePicture = QStringLiteral("MMMMMMMMMMMMMMMMMMMM");
        QCOMPARE(FileTimeToDateText(ft), QStringLiteral("03030303030303M"));
        DatePicture = QStringLiteral("_______________XYZ");
        QCOMPARE(FileTimeToDateText(ft), QStringLiteral("_______________"));
    }

    // The 8-bit forms the file list writes are the texts' characters, for
    // every picture and every time, a character beyond Latin-1 as '?'.
    void eightBitForms_data()
    {
        QTest::addColumn<QString>("datePicture");
        QTest::addColumn<QString>("timePicture");
        QTest::addColumn<quint64>("ticks");
        const quint64 day = quint64(FileTimeValue(TestTime(2004, 3, 9, 7, 8, 9)));
        QTest::newRow("default pictures") << "MM/dd/yy"
                                          << "hh:mm" << day;
        QTest::newRow("zero file time") << "MM/dd/yy"
                                        << "hh:mm" << quint64(0);
        QTest::newRow("year 30827")
            << "MM/dd/yy"
            << "hh:mm:ss" << quint64(FileTimeValue(TestTime(30827, 12, 31, 23, 59, 59)));
        QTest::newRow("beyond every calendar") << "MM/dd/yy"
                                               << "hh:mm" << quint64(0x8000000000000000ULL);
        QTest::newRow("Latin-1 letters")
            << QStringLiteral("dd.MM.yy é") << QStringLiteral("hh·mm") << day;
        QTest::newRow("beyond Latin-1")
            << QStringLiteral("dd€MM") << QStringLiteral("hh–mm") << day;
        QTest::newRow("cut to 15") << "MM/dd/yy MM/dd/yy"
                                   << "hhhhhhhhhhhhhhhhhhhh" << day;
        QTest::newRow("empty pictures") << ""
                                        << "" << day;
    }
    void eightBitForms()
    {
        QFETCH(QString, datePicture);
        QFETCH(QString, timePicture);
        QFETCH(quint64, ticks);
        DatePicture = datePicture;
        TimePicture = timePicture;
        auto eightBit = [](const QString& text) {
            QByteArray out;
            for (const QChar c : text)
                out += c.unicode() < 256 ? char(c.unicode()) : '?';
            return out;
        };
        const FILETIME ft = MakeFileTime(ticks);
        DateTimeChars chars;
        std::memset(chars.date, 'x', sizeof chars.date);
        std::memset(chars.time, 'x', sizeof chars.time);
        FileTimeToDateTimeChars(ft, chars);
        QCOMPARE(QByteArray(chars.date, chars.dateLength), eightBit(FileTimeToDateText(ft)));
        QCOMPARE(QByteArray(chars.time, chars.timeLength), eightBit(FileTimeToTimeText(ft)));
        // The pictures prepared once give the same, and keep the pictures
        // they were made with.
        const DateTimeCharsFormat format;
        DatePicture = QStringLiteral("yy");
        TimePicture = QStringLiteral("ss");
        DateTimeChars prepared;
        format.Format(ft, prepared);
        QCOMPARE(QByteArray(prepared.date, prepared.dateLength),
                 QByteArray(chars.date, chars.dateLength));
        QCOMPARE(QByteArray(prepared.time, prepared.timeLength),
                 QByteArray(chars.time, chars.timeLength));
    }

    void isAllDigits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("digits");
        QTest::newRow("empty") << "" << false;
        QTest::newRow("007") << "007" << true;
        QTest::newRow("blank 7") << " 7" << false;
        QTest::newRow("-1") << "-1" << false;
        QTest::newRow("12a") << "12a" << false;
        QTest::newRow("long") << "99999999999" << true;
    }
    void isAllDigits()
    {
        QFETCH(QString, text);
        QFETCH(bool, digits);
        QCOMPARE(IsAllDigits(text), digits);
    }

    void separators()
    {
        QCOMPARE(FindDateSeparator(QStringLiteral("01-02/98")), QChar(u'/'));
        QCOMPARE(FindDateSeparator(QStringLiteral("01=02.98")), QChar(u'.'));
        QCOMPARE(FindDateSeparator(QStringLiteral("01\\02\\98")), QChar(u'\\'));
        QCOMPARE(FindDateSeparator(QStringLiteral("010298")), QChar(0));
        QString text = QStringLiteral("01/02/98");
        QCOMPARE(SplitNextField(text, u'/'), QStringLiteral("01"));
        QCOMPARE(text, QStringLiteral("02/98"));
        QCOMPARE(SplitNextField(text, u'-'), QString());
        QCOMPARE(text, QStringLiteral("02/98"));
    }

    void markers()
    {
        QCOMPARE(TimeMarkerKind(QStringLiteral("12:30a")), TimeMarker::AM);
        QCOMPARE(TimeMarkerKind(QStringLiteral("12:30 PM")), TimeMarker::PM);
        QCOMPARE(TimeMarkerKind(QStringLiteral("pa")), TimeMarker::AM);
        QCOMPARE(TimeMarkerKind(QStringLiteral("12:30")), TimeMarker::None);
    }

    void parseDate_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("month");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("year");
        QTest::newRow("01/01/80") << "01/01/80" << true << 1 << 1 << 80;
        QTest::newRow("01-02-98") << "01-02-98" << true << 1 << 2 << 98;
        QTest::newRow("1.2.1998") << "1.2.1998" << true << 1 << 2 << 1998;
        QTest::newRow("no separator") << "010298" << false << 0 << 0 << 0;
        QTest::newRow("two fields") << "1/2" << false << 1 << 0 << 0;
        QTest::newRow("four fields") << "1/2/3/4" << false << 1 << 2 << 3;
        QTest::newRow("trailing separator") << "1/2/" << true << 1 << 2 << 0;
        QTest::newRow("mixed separators") << "01/02-98" << false << 1 << 0 << 0;
        QTest::newRow("blank field") << "  /  /  " << false << 0 << 0 << 0;
        QTest::newRow("space before") << " 1/2/3" << false << 0 << 0 << 0;
        QTest::newRow("empty") << "" << true << 0 << 0 << 0;
    }
    void parseDate()
    {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        int m = -1, d = -1, y = -1;
        QCOMPARE(ParseDateText(text, m, d, y), ok);
        if (ok) {
            QFETCH(int, month);
            QFETCH(int, day);
            QFETCH(int, year);
            QCOMPARE(m, month);
            QCOMPARE(d, day);
            QCOMPARE(y, year);
        }
    }

    void parseTime_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::newRow("12:30") << "12:30" << 12 << 30;
        QTest::newRow("12:30A") << "12:30A" << 0 << 30;
        QTest::newRow("12:30P") << "12:30P" << 12 << 30;
        QTest::newRow("1:30P") << "1:30P" << 13 << 30;
        QTest::newRow("1:30p lower") << "1:30p" << 13 << 30;
        QTest::newRow("9:5") << "9:5" << 9 << 5;
        QTest::newRow("25:00 unchecked") << "25:00" << 25 << 0;
        QTest::newRow("blanks around") << "  07:15  " << 7 << 15;
        QTest::newRow("blank fields") << "  :  " << 0 << 0;
        QTest::newRow("no separator") << "1230" << 0 << 1230;
        QTest::newRow("xx:30P") << "xx:30P" << 0 << 30;
        QTest::newRow("dot separator") << "10.45" << 10 << 45;
    }
    void parseTime()
    {
        QFETCH(QString, text);
        QFETCH(int, hour);
        QFETCH(int, minute);
        int h = -1, m = -1;
        ParseTimeText(text, h, m);
        QCOMPARE(h, hour);
        QCOMPARE(m, minute);
    }

    void textToFileTime_data()
    {
        QTest::addColumn<QString>("date");
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("iso");
        QTest::newRow("01/01/80") << "01/01/80"
                                  << "00:00" << true << "1980-01-01 00:00";
        QTest::newRow("12/31/99") << "12/31/99"
                                  << "00:00" << true << "1999-12-31 00:00";
        // Two-digit years below 80 are this century's.
        QTest::newRow("01/01/00") << "01/01/00"
                                  << "00:00" << true << "2000-01-01 00:00";
        QTest::newRow("05/06/03") << "05/06/03"
                                  << "10:20" << true << "2003-05-06 10:20";
        QTest::newRow("12/31/79") << "12/31/79"
                                  << "23:59" << true << "2079-12-31 23:59";
        QTest::newRow("year 003 is by value") << "01/01/003"
                                              << "00:00" << true << "2003-01-01 00:00";
        QTest::newRow("four-digit year") << "01/01/1903"
                                         << "00:00" << true << "1903-01-01 00:00";
        QTest::newRow("1601") << "01/01/1601"
                              << "00:00" << true << "1601-01-01 00:00";
        QTest::newRow("1600") << "12/31/1600"
                              << "00:00" << false << "";
        QTest::newRow("02/30/98") << "02/30/98"
                                  << "00:00" << false << "";
        QTest::newRow("13/01/98") << "13/01/98"
                                  << "00:00" << false << "";
        QTest::newRow("1/2") << "1/2"
                             << "00:00" << false << "";
        QTest::newRow("01-02-98") << "01-02-98"
                                  << "00:00" << true << "1998-01-02 00:00";
        QTest::newRow("01/02-98") << "01/02-98"
                                  << "00:00" << false << "";
        QTest::newRow("25:00") << "01/02/98"
                               << "25:00" << false << "";
        QTest::newRow("12:60") << "01/02/98"
                               << "12:60" << false << "";
        QTest::newRow("9:5") << "01/02/98"
                             << "9:5" << true << "1998-01-02 09:05";
        QTest::newRow("12:30A") << "01/02/98"
                                << "12:30A" << true << "1998-01-02 00:30";
        QTest::newRow("1:30PM") << "01/02/98"
                                << "1:30PM" << true << "1998-01-02 13:30";
        QTest::newRow("empty date") << ""
                                    << "00:00" << false << "";
        QTest::newRow("blank masked date") << "  /  /  "
                                           << "  :  " << false << "";
        QTest::newRow("blank masked time") << "01/02/98"
                                           << "  :  " << true << "1998-01-02 00:00";
        // Longer time texts are read from their first five characters.
        QTest::newRow("long time cut") << "01/02/98"
                                       << "10:45:59 PM" << true << "1998-01-02 10:45";
        QTest::newRow("six kept") << "01/02/98"
                                  << "1:30PM" << true << "1998-01-02 13:30";
        QTest::newRow("huge month") << "65537/01/98"
                                    << "00:00" << false << "";
        QTest::newRow("huge year") << "01/01/99999999999"
                                   << "00:00" << false << "";
    }
    void textToFileTime()
    {
        QFETCH(QString, date);
        QFETCH(QString, time);
        QFETCH(bool, ok);
        QFETCH(QString, iso);
        FILETIME ft = MakeFileTime(777);
        QCOMPARE(TextToFileTime(date, time, ft), ok);
        if (!ok) {
            QCOMPARE(FileTimeValue(ft), uint64_t(777));
            return;
        }
        SystemTime st;
        QVERIFY(FileTimeToSystemTime(ft, st));
        QCOMPARE(QStringLiteral("%1-%2-%3 %4:%5")
                     .arg(st.year, 4, 10, QChar(u'0'))
                     .arg(st.month, 2, 10, QChar(u'0'))
                     .arg(st.day, 2, 10, QChar(u'0'))
                     .arg(st.hour, 2, 10, QChar(u'0'))
                     .arg(st.minute, 2, 10, QChar(u'0')),
                 iso);
        QCOMPARE(int(st.second), 0);
        QCOMPARE(int(st.milliseconds), 0);
    }

    // A date shown and stored again keeps its day and minute, for every
    // year the two-digit texts can show (1980 to 2079).
    void roundTrip()
    {
        for (int y = 1980; y <= 2079; y += 1) {
            const FILETIME ft = TestTime(y, (y % 12) + 1, (y % 28) + 1, y % 24, y % 60, 37, 500);
            FILETIME back{};
            QVERIFY2(TextToFileTime(FileTimeToDateText(ft), FileTimeToTimeText(ft), back),
                     qPrintable(QString::number(y)));
            SystemTime a, b;
            QVERIFY(FileTimeToSystemTime(ft, a));
            QVERIFY(FileTimeToSystemTime(back, b));
            QCOMPARE(b.year, a.year);
            QCOMPARE(b.month, a.month);
            QCOMPARE(b.day, a.day);
            QCOMPARE(b.hour, a.hour);
            QCOMPARE(b.minute, a.minute);
            QCOMPARE(int(b.second), 0);
        }
    }

    // Editing only the time of a file dated 2003 keeps its date.
    void editTimeKeepsCentury()
    {
        const FILETIME ft = TestTime(2003, 5, 6, 10, 0);
        FILETIME edited{};
        QVERIFY(TextToFileTime(FileTimeToDateText(ft), QStringLiteral("11:30"), edited));
        QCOMPARE(FileTimeToDateText(edited), QStringLiteral("05/06/03"));
        SystemTime st;
        QVERIFY(FileTimeToSystemTime(edited, st));
        QCOMPARE(int(st.year), 2003);
    }

    // The masked fields: a time with a blank position fails; otherwise as
    // TextToFileTime. Only the time edited: the stored day stays.
    void maskedTime_data()
    {
        QTest::addColumn<quint64>("stored");
        QTest::addColumn<QString>("time");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("iso");
        const auto v = [](FILETIME f) { return quint64(FileTimeValue(f)); };
        QTest::newRow("time 0") << quint64(0) << "14:22" << true << "1601-01-01 14:22:00";
        QTest::newRow("1979 keeps seconds out")
            << v(TestTime(1979, 7, 4, 8, 15, 37, 250)) << "00:01" << true << "1979-07-04 00:01:00";
        QTest::newRow("2080 leap day")
            << v(TestTime(2080, 2, 29, 6, 0)) << "23:59" << true << "2080-02-29 23:59:00";
        QTest::newRow("year 9999")
            << v(TestTime(9999, 12, 31, 1, 2)) << "03:04" << true << "9999-12-31 03:04:00";
        QTest::newRow("1_:30") << v(TestTime(2003, 1, 15)) << "1 :30" << false << "";
        QTest::newRow("12:3_") << v(TestTime(2003, 1, 15)) << "12:3 " << false << "";
        QTest::newRow("_9:05") << v(TestTime(2003, 1, 15)) << " 9:05" << false << "";
        QTest::newRow("blank") << v(TestTime(2003, 1, 15)) << "  :  " << false << "";
        QTest::newRow("hour 24") << v(TestTime(2003, 1, 15)) << "24:00" << false << "";
        QTest::newRow("minute 60") << v(TestTime(2003, 1, 15)) << "10:60" << false << "";
        QTest::newRow("stored unsplittable")
            << quint64(0x8000000000000000ULL) << "10:00" << false << "";
    }
    void maskedTime()
    {
        QFETCH(quint64, stored);
        QFETCH(QString, time);
        QFETCH(bool, ok);
        QFETCH(QString, iso);
        FILETIME ft = MakeFileTime(stored);
        QCOMPARE(MaskedTimeOnDay(ft, time, ft), ok);
        if (!ok) {
            QCOMPARE(quint64(FileTimeValue(ft)), stored);
            // With the date typed too, a blank time position fails all the same.
            if (time.contains(u' ')) {
                FILETIME other = MakeFileTime(777);
                QVERIFY(!MaskedTextToFileTime(QStringLiteral("01/15/03"), time, other));
                QCOMPARE(FileTimeValue(other), uint64_t(777));
                QVERIFY(TextToFileTime(QStringLiteral("01/15/03"), time, other));
            }
            return;
        }
        SystemTime st;
        QVERIFY(FileTimeToSystemTime(ft, st));
        QCOMPARE(QStringLiteral("%1-%2-%3 %4:%5:%6")
                     .arg(st.year, 4, 10, QChar(u'0'))
                     .arg(st.month, 2, 10, QChar(u'0'))
                     .arg(st.day, 2, 10, QChar(u'0'))
                     .arg(st.hour, 2, 10, QChar(u'0'))
                     .arg(st.minute, 2, 10, QChar(u'0'))
                     .arg(st.second, 2, 10, QChar(u'0')),
                 iso);
        QCOMPARE(int(st.milliseconds), 0);
        FILETIME typed{};
        QVERIFY(MaskedTextToFileTime(QStringLiteral("01/15/03"), time, typed));
    }

    void compare_data()
    {
        QTest::addColumn<quint64>("first");
        QTest::addColumn<quint64>("second");
        QTest::addColumn<int>("result");
        const auto v = [](FILETIME f) { return quint64(FileTimeValue(f)); };
        QTest::newRow("same day, midnight criterion")
            << v(TestTime(1998, 5, 1, 17, 45, 50)) << v(TestTime(1998, 5, 1)) << 0;
        QTest::newRow("seconds ignored")
            << v(TestTime(1998, 5, 1, 17, 45, 50)) << v(TestTime(1998, 5, 1, 17, 45, 10)) << 0;
        QTest::newRow("minute earlier")
            << v(TestTime(1998, 5, 1, 17, 45, 50)) << v(TestTime(1998, 5, 1, 17, 46)) << -1;
        QTest::newRow("minute later")
            << v(TestTime(1998, 5, 1, 17, 47)) << v(TestTime(1998, 5, 1, 17, 46, 59)) << 1;
        QTest::newRow("year in full")
            << v(TestTime(1999, 12, 31)) << v(TestTime(2000, 1, 1, 12, 0)) << -1;
        QTest::newRow("next day") << v(TestTime(1998, 5, 2)) << v(TestTime(1998, 5, 1)) << 1;
        QTest::newRow("previous day")
            << v(TestTime(1998, 4, 30, 23, 59)) << v(TestTime(1998, 5, 1)) << -1;
        QTest::newRow("fraction at midnight still by day")
            << v(TestTime(1998, 5, 1, 9, 0)) << v(TestTime(1998, 5, 1, 0, 0, 0, 900)) << 0;
        QTest::newRow("one second after midnight by minute")
            << v(TestTime(1998, 5, 1, 9, 0)) << v(TestTime(1998, 5, 1, 0, 0, 1)) << 1;
        QTest::newRow("unsplittable by raw value")
            << quint64(0x8000000000000001ULL) << quint64(0x8000000000000000ULL) << 1;
        QTest::newRow("unsplittable against ordinary")
            << v(TestTime(1998, 5, 1)) << quint64(0xffffffffffffffffULL) << -1;
    }
    void compare()
    {
        QFETCH(quint64, first);
        QFETCH(quint64, second);
        QFETCH(int, result);
        QCOMPARE(CompareFileTimes(MakeFileTime(first), MakeFileTime(second)), result);
    }

    void compareRestoresPictures()
    {
        DatePicture = QStringLiteral("dd.MM.yy");
        TimePicture = QStringLiteral("hh.mm");
        CompareFileTimes(TestTime(1998, 5, 1), TestTime(1998, 5, 1));
        QCOMPARE(DatePicture, QStringLiteral("MM/dd/yy"));
        QCOMPARE(TimePicture, QStringLiteral("hh:mm"));
    }

    void toLocal()
    {
        const FILETIME utc = TestTime(2003, 7, 1, 12, 0, 5, 250);
        FILETIME local{};
        QVERIFY(FileTimeToLocal(utc, local));
        const qint64 secs = qint64(FileTimeValue(utc) / kTicksPerSecond) - qint64(kEpochSeconds);
        const int offset =
            QDateTime::fromSecsSinceEpoch(secs, QTimeZone::systemTimeZone()).offsetFromUtc();
        QCOMPARE(qint64(FileTimeValue(local)) - qint64(FileTimeValue(utc)),
                 qint64(offset) * qint64(kTicksPerSecond));
        QVERIFY(!FileTimeToLocal(MakeFileTime(0x8000000000000000ULL), local));
    }

    void toLocalInZone()
    {
        // Under a zone with summer time the offset follows the date.
        const QByteArray old = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
        FILETIME winter{}, summer{};
        const bool a = FileTimeToLocal(TestTime(2003, 1, 15, 12, 0), winter);
        const bool b = FileTimeToLocal(TestTime(2003, 7, 15, 12, 0), summer);
        if (old.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", old);
        tzset();
        QVERIFY(a && b);
        if (!QTimeZone(QByteArrayLiteral("Europe/Berlin")).isValid())
            QSKIP("no zone data for Europe/Berlin on this host (tools/install-deps.sh installs "
                  "tzdata)");
        QCOMPARE(FileTimeToTimeText(winter), QStringLiteral("13:00"));
        QCOMPARE(FileTimeToTimeText(summer), QStringLiteral("14:00"));
    }
};

VT_TEST_MAIN(TestDateTime)
#include "test_datetime.moc"
