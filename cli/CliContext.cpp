#include "cli/CliContext.h"

#include "common/AreaLines.h"
#include "filter/SearchRecord.h"
#include "server/FileAreas.h"
#include "server/wcsrv.h"

#include <QDateTime>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

CliContext::CliContext() : m_out(stdout), m_err(stderr)
{
    // Whatever the locale: texts come out as UTF-8 (record texts already
    // turned into characters through the record code page).
    m_out.setEncoding(QStringConverter::Utf8);
    m_err.setEncoding(QStringConverter::Utf8);
    m_stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
}

CliContext::~CliContext()
{
    EndProgress();
    m_session.End();
}

bool CliContext::Login(const QString& home)
{
    // The library finds the BBS through WCSRV_HOME, as the admin tool does.
    if (!home.isEmpty())
        ::setenv("WCSRV_HOME", QFile::encodeName(home).constData(), 1);
    if (m_session.Open())
        return true;
    const QString code = QStringLiteral("%1").arg(m_session.FailedCode(), 8, 16, QLatin1Char('0'));
    switch (m_session.FailedStage()) {
    case SessionStage::Context:
        Error(QStringLiteral("cannot open the BBS (server error 0x%1)").arg(code));
        break;
    case SessionStage::Login:
        Error(QStringLiteral("cannot log in to the BBS (server error 0x%1)").arg(code));
        break;
    default: {
        const QString where = home.isEmpty() ? QString::fromLocal8Bit(qgetenv("WCSRV_HOME")) : home;
        Error(where.isEmpty()
                  ? QStringLiteral("no BBS found: set WCSRV_HOME or give --home DIR")
                  : QStringLiteral(
                        "no BBS in %1: give --home DIR of a BBS (wcsrv-admin init makes one)")
                        .arg(where));
        break;
    }
    }
    return false;
}

bool CliContext::OpenLog(const QString& path)
{
    m_log.setFileName(path);
    if (!m_log.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        Error(QStringLiteral("cannot open the log file %1: %2").arg(path, m_log.errorString()));
        return false;
    }
    return true;
}

bool CliContext::ParseAreas(const QString& spec, QList<int>& areas)
{
    areas.clear();
    auto exists = [](int area) {
        FileAreaRec rec{};
        return GetFileArea(area, &rec);
    };
    const QString text = spec.trimmed();
    if (text.compare(QLatin1String("all"), Qt::CaseInsensitive) == 0) {
        for (const FileArea& area : AllAreas())
            areas.append(area.number);
        return true;
    }
    QList<int> wanted;
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString& raw : parts) {
        const QString part = raw.trimmed();
        const qsizetype dash = part.indexOf(QLatin1Char('-'), 1);
        bool ok1 = false, ok2 = true;
        const int first = (dash < 0 ? part : part.left(dash)).trimmed().toInt(&ok1);
        const int last = dash < 0 ? first : part.mid(dash + 1).trimmed().toInt(&ok2);
        if (part.isEmpty() || !ok1 || !ok2 || first < 1 || last < first) {
            Error(QStringLiteral("cannot read the area list \"%1\": give all, or numbers and "
                                 "ranges such as 1,3-5,9")
                      .arg(spec));
            return false;
        }
        for (int area = first; area <= last; ++area) {
            if (!exists(area)) {
                Error(QStringLiteral("the BBS has no file area %1 (wcsrv-admin area list shows "
                                     "the areas)")
                          .arg(area));
                return false;
            }
            if (!wanted.contains(area))
                wanted.append(area);
        }
    }
    std::sort(wanted.begin(), wanted.end());
    areas = wanted;
    return true;
}

bool CliContext::ParseArea(const QString& option, const QString& text, int& area)
{
    bool ok = false;
    area = text.trimmed().toInt(&ok);
    FileAreaRec rec{};
    if (!ok || area < 1) {
        Error(QStringLiteral("--%1 needs an area number, not \"%2\"").arg(option, text));
        return false;
    }
    if (!GetFileArea(area, &rec)) {
        Error(QStringLiteral("the BBS has no file area %1 (wcsrv-admin area list shows the areas)")
                  .arg(area));
        return false;
    }
    return true;
}

bool CliContext::LoadFilter(const QString& path, std::optional<SearchRecord>& filter)
{
    SearchRecord record{};
    const FmsResult result = ReadSearchRecordFile(path, record);
    if (result != FmsResult::Ok) {
        Error(QStringLiteral("cannot read the filter file %1: %2")
                  .arg(path, result == FmsResult::NotFound
                                 ? QStringLiteral("no such file")
                                 : QStringLiteral("not a filter the match window saved")));
        return false;
    }
    filter = record;
    return true;
}

void CliContext::Line(const QString& text)
{
    EndProgress();
    m_out << text << '\n';
    m_out.flush();
    Log(text);
}

void CliContext::Error(const QString& text)
{
    EndProgress();
    m_err << "vtfilemgr-cli: " << text << '\n';
    m_err.flush();
    Log(text);
}

void CliContext::Progress(const QString& text)
{
    if (!m_stderrIsTerminal)
        return;
    // Carriage return and erase to the end of the line: each progress line
    // replaces the one before.
    m_err << '\r' << text << "\x1b[K";
    m_err.flush();
    m_progressShown = true;
}

void CliContext::EndProgress()
{
    if (!m_progressShown)
        return;
    m_err << "\r\x1b[K";
    m_err.flush();
    m_progressShown = false;
}

QString CliContext::OutcomeWord(RunOutcome outcome)
{
    switch (outcome) {
    case RunOutcome::Done:
        return QStringLiteral("done");
    case RunOutcome::Skipped:
        return QStringLiteral("skipped");
    case RunOutcome::Refused:
        return QStringLiteral("refused");
    case RunOutcome::Failed:
        return QStringLiteral("failed");
    case RunOutcome::Planned:
        return QStringLiteral("would");
    }
    return QString();
}

void CliContext::Log(const QString& text)
{
    if (!m_log.isOpen())
        return;
    QTextStream log(&m_log);
    log.setEncoding(QStringConverter::Utf8);
    log << QDateTime::currentDateTime().toString(Qt::ISODate) << ' ' << text << '\n';
}
