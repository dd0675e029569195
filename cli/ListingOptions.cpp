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
    options.applyFilter = parser.isSet(filterOption);
    if (!options.applyFilter) {
        options.areas = areas;
        return true;
    }
    if (!context.LoadFilter(parser.value(filterOption)))
        return false;
    // A filter for one area searches that area only, as in the window.
    for (int area : FilteredListingAreas(areas))
        if (areas.contains(area))
            options.areas << area;
    return true;
}
