// How history, undo and trash write runs and their entries: tab-separated
// lines and json objects, and the reading of a RUN argument.
#pragma once

#include "server/wcsrv.h"

#include <QJsonObject>
#include <QString>

#include <cstdint>

class CliContext;

// id, time, machine, command, counts, and the run's state ("-" when it is
// neither undone, an undo, nor open), tab-separated.
QString RunLine(const WcRunInfo& run);
// id, time (UTC, ISO 8601), machine, user, command, the counts, undone.
QJsonObject RunJson(const WcRunInfo& run);
// seq, what it was, area, name, and what it touched, tab-separated.
QString EntryLine(const WcRunEntry& entry);
QJsonObject EntryJson(const WcRunEntry& entry);
// The record name of an entry as the terminal shows it.
QString EntryName(const WcRunEntry& entry);

// A run number (1 or more); false with the message written.
bool ParseRunNumber(const QString& text, CliContext& context, uint32_t& id);
// 0 when run `id` exists (it is then in `run`); else the exit code, with the
// message written: ExitBadInput for an unknown run.
int LookUpRun(uint32_t id, CliContext& context, WcRunInfo& run);
