// The file list of a demo BBS of 1,000,000 records (all areas, no filter)
// written through the real file list window offscreen, against the plain
// walk of the same records in the same run. The ratio is the walk's time
// over the list's time; the list formats and writes every record and keeps
// its window responsive, so half the walk's rate is the goal.
#include "BenchWindow.h"
#include "common/Dialogs.h"
#include "common/VtApplication.h"
#include "managers/TFileListMgrForm.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace
{

double WalkAll(long& records, int& areasWithRecords)
{
    QElapsedTimer t;
    t.start();
    records = 0;
    areasWithRecords = 0;
    const int count = GetFileAreaCount();
    for (int n = 1; n <= count; ++n) {
        FileAreaRec area{};
        if (!GetFileArea(n, &area))
            continue;
        const long inArea = WalkArea(n, [](FileRec&) { return true; });
        records += inArea;
        areasWithRecords += inArea > 0;
    }
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenPlatform();
    VtApplication app(argc, argv);
    const long total = argc > 1 ? std::atol(argv[1]) : 1000000;
    PrintMessages();

    BenchBbs bbs(12, total);
    if (!bbs.ok)
        return 1;

    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }

    long walked = 0;
    int areasWithRecords = 0;
    WalkAll(walked, areasWithRecords); // warms the database pages for both measurements
    const double walkSeconds = WalkAll(walked, areasWithRecords);

    const QString output = bbs.dir.path() + QStringLiteral("/files.txt");
    TFileListMgrForm form;
    form.show();
    form.b_SelectAllClick();
    form.e_OutputFile->setText(output);
    QElapsedTimer t;
    t.start();
    form.b_MakeFileListClick();
    const double listSeconds = double(t.nsecsElapsed()) / 1e9;
    form.close();

    // Every record gives one 82-byte line; each written area adds its blank
    // line (9 bytes), heading, rule, total and closing line (82 each).
    const qint64 size = QFileInfo(output).size();
    const qint64 expected = qint64(walked) * 82 + qint64(areasWithRecords) * (9 + 4 * 82);
    std::printf("walk: %ld records in %.3f s (%.0f records/s)\n", walked, walkSeconds,
                double(walked) / walkSeconds);
    std::printf("file list: %lld bytes in %.3f s (%.0f records/s)%s\n", (long long)size,
                listSeconds, double(walked) / listSeconds,
                size == expected ? "" : "  [unexpected size]");
    LogoutUser();
    WildcatServerDeleteContext();
    std::printf("filelist: ratio %.2f (goal 0.5)\n", walkSeconds / listSeconds);
    return size == expected ? 0 : 1;
}
