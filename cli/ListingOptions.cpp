#include "cli/ListingOptions.h"

#include "cli/AgeOptions.h"
#include "cli/CliContext.h"

#include <QCommandLineParser>

bool ReadListingOptions(const QCommandLineParser& parser, const QCommandLineOption& areasOption,
                        const QCommandLineOption& filterOption, CliContext& context,
                        FilteredListingOptions& options)
{
    QList<int> areas;
    if (!context.ParseAreas(parser.value(areasOption), areas) ||
        !ReadAgeOptions(parser, context, options.ages))
        return false;
    options.filter.reset();
    if (!parser.isSet(filterOption)) {
        options.areas = areas;
        return true;
    }
    if (!context.LoadFilter(parser.value(filterOption), options.filter))
        return false;
    // A filter for one area searches that area only, as in the window.
    for (int area : FilteredListingAreas(*options.filter, areas))
        if (areas.contains(area))
            options.areas << area;
    return true;
}
