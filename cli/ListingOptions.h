// The areas a listing-based command (list, freshen) searches: --areas, and
// with --filter the filter loaded and, as in the window, an area the filter
// names narrowing the search to that one area; and the record ages of
// --older-than and the like.
#pragma once

#include "app/FilteredListingRun.h"

class CliContext;
class QCommandLineOption;
class QCommandLineParser;

// False (message written) on bad input.
bool ReadListingOptions(const QCommandLineParser& parser, const QCommandLineOption& areasOption,
                        const QCommandLineOption& filterOption, CliContext& context,
                        FilteredListingOptions& options);
