// The options every command that takes --filter also takes: record ages
// counted back from today (--older-than, --not-accessed-in) and a download
// ceiling (--max-downloads), applied together with the filter.
#pragma once

#include "filter/AgeLimits.h"

#include <QString>

class CliContext;
class QCommandLineParser;

// "[--older-than DAYS] [--not-accessed-in DAYS] [--max-downloads N]".
QString AgeSynopsis();
void AddAgeOptions(QCommandLineParser& parser);
// The limits the options give, counted from today's local date (or from
// the day in VTFILEMGR_TODAY, YYYY-MM-DD, which tests set to fix the day).
// False (message written) for a value that is not a whole number from 0 up
// to its ceiling.
bool ReadAgeOptions(const QCommandLineParser& parser, CliContext& context, AgeLimits& limits);
// "Cut-off: files dated before 2025-12-09, ..." when a limit is set, so a
// dry run (and the log of a real one) shows the day it counted from.
void ReportAgeLimits(CliContext& context, const AgeLimits& limits);
