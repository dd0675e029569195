#include "cli/AgeOptions.h"

#include "cli/CliContext.h"

#include <QCommandLineParser>
#include <QDate>

#include <limits>

namespace
{

const QString kOlderThan = QStringLiteral("older-than");
const QString kNotAccessedIn = QStringLiteral("not-accessed-in");
const QString kMaxDownloads = QStringLiteral("max-downloads");

// The value of `option` as a whole number from 0 to `ceiling`; -1 when the
// option is not given. False (message written) for anything else: a sign,
// a fraction, letters or a number above the ceiling.
bool ReadCount(const QCommandLineParser& parser, const QString& option, const QString& what,
               qint64 ceiling, CliContext& context, int& value)
{
    value = -1;
    if (!parser.isSet(option))
        return true;
    const QString text = parser.value(option);
    bool digits = !text.isEmpty() && text.size() <= 12;
    for (const QChar c : text)
        digits = digits && c >= u'0' && c <= u'9';
    const qint64 number = digits ? text.toLongLong() : -1;
    if (!digits || number > ceiling) {
        context.Error(QStringLiteral("--%1 needs a number of %2 from 0 to %3, not \"%4\"")
                          .arg(option, what, QString::number(ceiling), text));
        return false;
    }
    value = int(number);
    return true;
}

} // namespace

QString AgeSynopsis()
{
    return QStringLiteral("[--older-than DAYS] [--not-accessed-in DAYS] [--max-downloads N]");
}

void AddAgeOptions(QCommandLineParser& parser)
{
    parser.addOption({kOlderThan,
                      QStringLiteral("Only records whose file date is more than DAYS days "
                                     "before today (with --filter: records that pass both)."),
                      QStringLiteral("DAYS")});
    parser.addOption({kNotAccessedIn,
                      QStringLiteral("Only records not accessed in the last DAYS days; a "
                                     "record never accessed counts from its file date."),
                      QStringLiteral("DAYS")});
    parser.addOption({kMaxDownloads, QStringLiteral("Only records downloaded at most N times."),
                      QStringLiteral("N")});
}

bool ReadAgeOptions(const QCommandLineParser& parser, CliContext& context, AgeLimits& limits)
{
    int olderThan = -1, notAccessedIn = -1, maxDownloads = -1;
    if (!ReadCount(parser, kOlderThan, QStringLiteral("days"), kAgeDaysMax, context, olderThan) ||
        !ReadCount(parser, kNotAccessedIn, QStringLiteral("days"), kAgeDaysMax, context,
                   notAccessedIn) ||
        !ReadCount(parser, kMaxDownloads, QStringLiteral("downloads"),
                   std::numeric_limits<int32_t>::max(), context, maxDownloads))
        return false;
    // The day is fixed once for the whole run: a walk past midnight keeps
    // the cut-off it started with.
    QDate today = QDate::currentDate();
    const QString fixed = qEnvironmentVariable("VTFILEMGR_TODAY");
    if (!fixed.isEmpty()) {
        today = QDate::fromString(fixed, Qt::ISODate);
        if (!today.isValid()) {
            context.Error(QStringLiteral("VTFILEMGR_TODAY needs a day such as 2026-12-09, "
                                         "not \"%1\"")
                              .arg(fixed));
            return false;
        }
    }
    if (!MakeAgeLimits(olderThan, notAccessedIn, maxDownloads, today, limits)) {
        context.Error(QStringLiteral("the ages given reach back before 1601"));
        return false;
    }
    return true;
}

void ReportAgeLimits(CliContext& context, const AgeLimits& limits)
{
    if (limits.Any())
        context.Line(QStringLiteral("Cut-off: ") + AgeLimitsText(limits));
}
