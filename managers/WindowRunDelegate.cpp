#include "managers/WindowRunDelegate.h"

#include "common/Dialogs.h"
#include "managers/CopyServerFile.h"

#include <QProgressBar>
#include <QStringList>

#include <algorithm>
#include <climits>

bool WindowRunBegun(const JournaledRun& run)
{
    if (run.Begun())
        return true;
    ShowWarning(run.Refusal());
    return false;
}

QString AreaListText(const QList<int>& areas)
{
    QStringList numbers;
    for (int area : areas)
        numbers << QString::number(area);
    return numbers.join(QLatin1Char(','));
}

WindowRunDelegate::WindowRunDelegate(QProgressBar* bar, std::function<void(const QString&)> status,
                                     bool* stopFlag)
    : m_bar(bar), m_status(std::move(status)), m_stopFlag(stopFlag)
{
}

RunAnswer WindowRunDelegate::Ask(RunQuestion, const QString& text, bool offerAll)
{
    if (!offerAll)
        return ConfirmYesNo(text) ? RunAnswer::Yes : RunAnswer::No;
    const int answer = ConfirmYesNoAll(text);
    return answer > 0 ? RunAnswer::Yes : answer < 0 ? RunAnswer::All : RunAnswer::No;
}

bool WindowRunDelegate::TreatOfflineAsMissing(const QString& question, const QString& leftAlone)
{
    if (ConfirmYesNo(question, DialogAnswer::No))
        return true;
    Status(leftAlone);
    return false;
}

void WindowRunDelegate::Warn(const QString& text)
{
    ShowWarning(text);
}

void WindowRunDelegate::Inform(const QString& text)
{
    ShowInformation(text);
}

void WindowRunDelegate::ServerError(unsigned code)
{
    ShowServerError(code);
}

void WindowRunDelegate::SetMaximum(qint64 maximum)
{
    if (m_bar)
        m_bar->setMaximum(int(std::clamp<qint64>(maximum, 0, INT_MAX)));
}

void WindowRunDelegate::SetPosition(qint64 position)
{
    if (m_bar)
        m_bar->setValue(int(std::clamp<qint64>(position, 0, INT_MAX)));
}

void WindowRunDelegate::Status(const QString& text)
{
    if (m_status)
        m_status(text);
}

bool WindowRunDelegate::StopRequested()
{
    if (m_pump.Due()) {
        BeforeTurn();
        m_pump.Turn();
    }
    if (!m_stopFlag || !*m_stopFlag)
        return false;
    *m_stopFlag = false;
    return true;
}

bool WindowRunDelegate::Copy(const QString& source, const QString& destination,
                             const QString& caption)
{
    return CopyServerFile(source, destination, caption);
}

FileMove WindowRunDelegate::Move(const QString& source, const QString& destination,
                                 const QString& caption)
{
    return MoveServerFile(source, destination, caption);
}
