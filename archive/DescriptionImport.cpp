#include "archive/DescriptionImport.h"

#include "archive/TUnzipFile.h"
#include "common/Dialogs.h"

#include <cstdlib>

bool ExtractFileIdDiz(TUnzipFile& unzip, const QString& zipPath, QString& descFile,
                      StatusPanel* status)
{
    return PullFileIdDiz(unzip, zipPath, descFile, status, ShowInformation);
}

bool ImportDescription(TUnzipFile& unzip, const QString& zipPath, FullFileRec& rec,
                       StatusPanel* status)
{
    return PullDescription(unzip, zipPath, rec, status, ShowInformation);
}

void InstallUnzipMessageHook()
{
    TUnzipFile::SetInformationHook([](const QString& text) { ShowInformation(text); });
}

bool ReportUnzipLoadFailure(const TUnzipFile& unzip)
{
    if (unzip.IsLoaded())
        return false;
    ShowWarning(unzip.LoadFailureText());
    return true;
}

void ExitIfUnzipUnavailable(const TUnzipFile& unzip)
{
    InstallUnzipMessageHook();
    if (ReportUnzipLoadFailure(unzip))
        std::exit(1);
}
