// A run's person, scripted for the tests: answers questions from a queue,
// records every question, message, status text and per-record result, asks
// for a stop at a chosen call, and copies for real through the server file
// copy unless told to fail a copy.
#pragma once

#include "common/RunDelegate.h"

#include <QList>
#include <QStringList>

class ScriptedRun : public RunDelegate
{
public:
    QList<RunAnswer> answers; // taken in order; without one the answer is No
    bool unexpected = false;  // a question came when no answer was queued
    QStringList asked;        // every question's text
    QList<RunQuestion> named; // every question's name, in the same order
    QStringList warnings;     // Warn texts and server error codes (hex)
    QStringList infos;        // Inform texts
    QStringList statuses;     // every status text
    QList<RunItem> items;
    int stopAtCall = -1; // StopRequested answers true on this call (1 = first)
    int stopCalls = 0;
    int copyFailsAt = -1; // the copy (1 = first) that fails
    QString failCopyOf;   // or: the copy whose source path ends so fails
    int copies = 0;
    QStringList copied; // sources copied (failed copies not listed)

    RunAnswer Ask(RunQuestion question, const QString& text, bool offerAll) override;
    void Warn(const QString& text) override { warnings << text; }
    void Inform(const QString& text) override { infos << text; }
    void ServerError(unsigned code) override { warnings << QString::number(code, 16); }
    void SetMaximum(qint64) override {}
    void SetPosition(qint64) override {}
    void Status(const QString& text) override { statuses << text; }
    void Item(const RunItem& item) override { items << item; }
    bool Copy(const QString& source, const QString& destination, const QString& caption) override;
    // A copy by Copy, never onto a file that holds the destination's name.
    FileMove Move(const QString& source, const QString& destination,
                  const QString& caption) override;
    bool StopRequested() override { return ++stopCalls == stopAtCall; }

    // Every text shown to the person: questions, warnings and informations.
    QStringList said() const { return asked + warnings + infos; }
    // The names of the items with this outcome, in order.
    QStringList names(RunOutcome outcome) const;
    // "NAME action" of the items with this outcome, in order.
    QStringList lines(RunOutcome outcome) const;
    int count(RunOutcome outcome) const { return int(names(outcome).size()); }
};
