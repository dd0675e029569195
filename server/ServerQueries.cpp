#include "server/ServerQueries.h"

#include "common/AreaLines.h"
#include "common/Text.h"
#include "server/FileAreas.h"
#include "server/wcsrv.h"

#include <cstring>

QStringList AllAreaLines()
{
    QStringList lines;
    for (const FileArea& area : AllAreas())
        lines << area.Line();
    return lines;
}

QStringList AllUserNames()
{
    QStringList names;
    UserRecord user{};
    uint32_t position = 0;
    bool more = GetFirstUser(WC_KEY_USER_NAME, &user, &position);
    while (more) {
        names << ShownRecText(user.Name);
        more = GetNextUser(WC_KEY_USER_NAME, &user, &position);
    }
    return names;
}

bool ReadMakewild(MakewildRec& out)
{
    return GetMakewild(&out);
}

bool ReadFileArea(int area, FileAreaRec& out)
{
    return GetFileArea(area, &out);
}

bool FileAreaExists(int area)
{
    FileAreaRec rec{};
    return GetFileArea(area, &rec);
}

int32_t AreaFileCount(int area)
{
    return GetTotalFilesInArea(area);
}

bool ServerFileExists(const QString& serverPath)
{
    return WcExistFile(ToBytes(serverPath).constData());
}

void SetUploaderByName(UserRef& uploader, const QString& shownName)
{
    SetShownRecText(uploader.UserName, shownName);
    UserRef found{};
    if (LookupName(uploader.UserName, &found))
        uploader = found;
    else
        std::memset(&uploader, 0, sizeof uploader);
}
