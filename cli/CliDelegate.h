// The command line's side of a run: answers from the options, results as
// lines, progress on the terminal, and no stop request (the process is
// stopped by a signal instead).
#pragma once

#include "common/RunDelegate.h"

#include <QString>

class CliContext;

class CliDelegate : public RunDelegate
{
public:
    explicit CliDelegate(CliContext& context);

    // --allow-offline: the files of an area whose folder looks offline are
    // treated as missing; otherwise the area is left alone with a warning.
    void SetAllowOffline(bool allow) { m_allowOffline = allow; }

    // The answer the command's options give to the question of that name.
    RunAnswer Ask(RunQuestion question, const QString& text, bool offerAll) override;
    void Warn(const QString& text) override;
    void Inform(const QString& text) override;
    void ServerError(unsigned code) override;
    void SetMaximum(qint64 maximum) override;
    void SetPosition(qint64 position) override;
    void Status(const QString& text) override;
    void Item(const RunItem& item) override;
    bool Copy(const QString& source, const QString& destination, const QString& caption) override;
    FileMove Move(const QString& source, const QString& destination,
                  const QString& caption) override;
    bool StopRequested() override { return false; }
    bool TreatOfflineAsMissing(const QString& question, const QString& leftAlone) override;

    // Counts of the items reported, by outcome.
    int Count(RunOutcome outcome) const;
    int Warnings() const { return m_warnings; }
    // ExitSomeFailed when an item failed or was refused, or a warning was
    // shown; otherwise ExitDone.
    int ExitCode() const;
    // "12 deleted, 1 failed, 3 skipped" and the like.
    QString Summary() const;

private:
    CliContext& m_context;
    bool m_allowOffline = false;
    qint64 m_maximum = 0;
    qint64 m_position = -1;
    QString m_status;
    int m_counts[5] = {};
    int m_warnings = 0;
};
