// A run delegate for the benchmarks: answers No, asks nothing of anyone,
// prints warnings and server errors to stderr and ignores the rest.
#pragma once

#include "common/RunDelegate.h"

#include <cstdio>

class BenchQuietRun : public RunDelegate
{
public:
    // `offlineAsMissing`: the answer when a run finds an area that looks
    // offline (a benchmark whose records have no files on purpose says yes).
    explicit BenchQuietRun(bool offlineAsMissing = false) : m_offlineAsMissing(offlineAsMissing) {}

    RunAnswer Ask(RunQuestion, const QString&, bool) override { return RunAnswer::No; }
    bool TreatOfflineAsMissing(const QString&, const QString&) override
    {
        return m_offlineAsMissing;
    }
    void Warn(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void Inform(const QString&) override {}
    void ServerError(unsigned code) override { std::fprintf(stderr, "server error %x\n", code); }
    void SetMaximum(qint64) override {}
    void SetPosition(qint64) override {}
    void Status(const QString&) override {}
    void Item(const RunItem&) override {}
    bool Copy(const QString&, const QString&, const QString&) override { return false; }
    FileMove Move(const QString&, const QString&, const QString&) override
    {
        return FileMove::Failed;
    }
    bool StopRequested() override { return false; }

private:
    bool m_offlineAsMissing;
};
