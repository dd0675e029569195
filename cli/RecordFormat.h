// How the commands write record values in their csv and json output.
#pragma once

#include "server/Records.h"

#include <QString>

// The record's file time as "2026-12-08 14:05:00", empty when it cannot be
// split.
QString IsoTime(const FILETIME& ft);
// A csv field: quoted (with quotes doubled) when it holds a comma, a quote
// or a line break.
QString CsvField(const QString& text);
