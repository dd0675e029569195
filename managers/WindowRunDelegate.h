// The windows' side of a run: questions and messages through the program's
// dialog functions, progress in the window's bar, the status text in its
// status panel, and the window's own stop flag read after pending window
// messages have had their turn.
#pragma once

#include "common/RunDelegate.h"
#include "managers/ManagerSupport.h"
#include "server/RunJournal.h"

#include <functional>

class QProgressBar;

// Whether a window command's journaled run began. When the library refused
// it (the trash cannot be written), the refusal has been shown and the
// command must return before it changes anything.
bool WindowRunBegun(const JournaledRun& run);
// "1,3,5": the area numbers a window command's run names in its text.
QString AreaListText(const QList<int>& areas);

class WindowRunDelegate : public RunDelegate
{
public:
    // `bar` may be null (no bar); `status` sets the status panel's text;
    // `stopFlag` is the flag the window's Stop button sets (may be null).
    // A stop seen here clears the flag, so the next one is a new request.
    WindowRunDelegate(QProgressBar* bar, std::function<void(const QString&)> status,
                      bool* stopFlag);

    RunAnswer Ask(RunQuestion question, const QString& text, bool offerAll) override;
    void Warn(const QString& text) override;
    void Inform(const QString& text) override;
    void ServerError(unsigned code) override;
    void SetMaximum(qint64 maximum) override;
    void SetPosition(qint64 position) override;
    void Status(const QString& text) override;
    void Item(const RunItem&) override {}
    bool Copy(const QString& source, const QString& destination, const QString& caption) override;
    FileMove Move(const QString& source, const QString& destination,
                  const QString& caption) override;
    bool StopRequested() override;
    // The question with No as the default button; after No the status
    // panel says which area was left alone.
    bool TreatOfflineAsMissing(const QString& question, const QString& leftAlone) override;

protected:
    // Called just before window messages get their turn (at most once per
    // pump interval): a window shows its running figures here, so they are
    // drawn at the pump's rate rather than once per record.
    virtual void BeforeTurn() {}

private:
    QProgressBar* m_bar;
    std::function<void(const QString&)> m_status;
    bool* m_stopFlag;
    EventPump m_pump;
};
