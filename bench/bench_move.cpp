// The move manager's run with files over 1,000 files of 1 MiB between two
// areas whose folders lie on one file system: the files are renamed. Its
// baseline in the same run is the same move with the rename off (the server
// library's switch that takes the two folders for two file systems), which
// copies every byte as a move between two disks does. Both start after a
// sync and are timed when the run returns (the copies may still sit in the
// page cache) and once a sync has put every write on the disk. The ratio is
// the copying move's flushed time over the renaming move's: a copied file
// is only where it belongs once its bytes are written, while a rename
// writes none. For comparison it also times the renames back with the
// library's index of folder names off.
//
// usage: bench_move [FILES [KIB]]   (default 1000 files of 1024 KiB; in a
//                                    temporary folder, removed at the end;
//                                    set TMPDIR to measure a disk)
#include "BenchMeasure.h"
#include "BenchRun.h"
#include "managers/MoveRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/ServerFileCopy.h"
#include "server/wcsrv.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

#include <unistd.h>

namespace
{

constexpr double kGoal = 10.0;

// The move manager's run as the command line has it, without a terminal:
// files are moved (renamed or copied) through the server file copy, quietly.
class MovingRun : public BenchQuietRun
{
public:
    long renamed = 0;
    long copied = 0;

    bool Copy(const QString& source, const QString& destination, const QString& caption) override
    {
        Quiet observer;
        const bool ok = CopyServerFileWith(source, destination, caption, observer);
        copied += ok ? 1 : 0;
        return ok;
    }
    FileMove Move(const QString& source, const QString& destination,
                  const QString& caption) override
    {
        Quiet observer;
        const FileMove how = MoveServerFileWith(source, destination, caption, observer);
        renamed += how == FileMove::Renamed ? 1 : 0;
        copied += how == FileMove::Copied ? 1 : 0;
        return how;
    }

private:
    struct Quiet : CopyObserver {
        void Warn(const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    };
};

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line;
}

struct MoveTimes {
    double atReturn = 0;
    double flushed = 0;
};

// Moves every record of `from` with its file to `to`; the seconds it took
// until the run returned and until its writes were on the disk.
MoveTimes TimedMove(int from, int to, long files, MovingRun& run, bool& ok)
{
    ::sync();
    MoveOptions options;
    options.from = from;
    options.to = to;
    options.moveFiles = true;
    options.sourceTotal = files;
    QElapsedTimer t;
    t.start();
    const MoveResult result = RunMove(options, run);
    MoveTimes times;
    times.atReturn = double(t.nsecsElapsed()) / 1e9;
    ::sync();
    times.flushed = double(t.nsecsElapsed()) / 1e9;
    ok = ok && result.moved == files && !result.notMoved && GetTotalFilesInArea(to) == files;
    return times;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const long files = argc > 1 ? std::atol(argv[1]) : 1000;
    const qint64 kFileBytes = (argc > 2 ? std::atoll(argv[2]) : 1024) << 10;

    QTemporaryDir dir;
    const std::string home = (dir.path() + QStringLiteral("/bbs")).toStdString();
    QDir().mkpath(QString::fromStdString(home));
    qputenv("WCSRV_HOME", home.c_str());
    if (!wcadmin::CreateBbs(home, "Bench Sysop").empty() ||
        !wcadmin::AddArea(home, 1, "Source").empty() ||
        !wcadmin::AddArea(home, 2, "Renamed").empty() ||
        !wcadmin::AddArea(home, 3, "Copied").empty()) {
        std::fprintf(stderr, "cannot create the BBS\n");
        return 1;
    }
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }
    const QString source = QString::fromStdString(wcadmin::AreaFolder(home, 1));
    QByteArray block(int(kFileBytes), Qt::Uninitialized);
    for (int i = 0; i < block.size(); ++i)
        block[i] = char((i * 131) >> 3);
    for (long i = 0; i < files; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "F%06ld.BIN", i);
        std::memcpy(block.data(), &i, sizeof i); // no two files alike
        QFile f(source + u'/' + QLatin1String(name));
        FullFileRec full{};
        full.Rec.Area = 1;
        std::memcpy(full.Rec.Name, name, std::strlen(name));
        full.Rec.Size = int32_t(kFileBytes);
        if (!f.open(QIODevice::WriteOnly) || f.write(block) != block.size() || !AddFileRec(&full)) {
            std::fprintf(stderr, "cannot add %s\n", name);
            return 1;
        }
    }
    std::printf("area folders in %s: %s\n", qPrintable(dir.path()),
                FileSystemKind(source.toStdString()).c_str());
    if (OnMemoryFileSystem(source.toStdString()))
        std::printf("note: the area folders are in memory; set TMPDIR to a disk folder to "
                    "measure a disk\n");
    std::printf("load average before: %s\n", LoadAverage().c_str());

    bool ok = true;
    MovingRun renaming;
    const MoveTimes renameTimes = TimedMove(1, 2, files, renaming, ok);
    ok = ok && renaming.renamed == files;
    // The same renames back without the index of folder names: each look
    // for the target's name in other letter cases searches the folder.
    qputenv("WCSRV_FOLDER_INDEX_AFTER", "-1");
    MovingRun searching;
    const MoveTimes searchTimes = TimedMove(2, 1, files, searching, ok);
    qunsetenv("WCSRV_FOLDER_INDEX_AFTER");
    ok = ok && searching.renamed == files;
    // The same run with the rename off: every file is copied.
    qputenv("WCSRV_TEST_SPLIT_DEVICES", "1");
    MovingRun copying;
    const MoveTimes copyTimes = TimedMove(1, 3, files, copying, ok);
    qunsetenv("WCSRV_TEST_SPLIT_DEVICES");
    ok = ok && copying.copied == files && copying.renamed == 0;
    std::printf("load average after: %s\n", LoadAverage().c_str());
    LogoutUser();
    WildcatServerDeleteContext();
    if (!ok) {
        std::fprintf(stderr, "a move failed (renamed %ld and %ld, copied %ld)\n", renaming.renamed,
                     searching.renamed, copying.copied);
        return 1;
    }
    const double mib = double(files) * double(kFileBytes) / double(1 << 20);
    std::printf("files: %ld of %lld KiB (%.0f MiB)\n", files, (long long)(kFileBytes >> 10), mib);
    std::printf("move manager, renames: %.3f s (%.0f files/s), %.3f s flushed\n",
                renameTimes.atReturn, double(files) / renameTimes.atReturn, renameTimes.flushed);
    std::printf("move manager, renames without the folder index: %.3f s (%.0f files/s)\n",
                searchTimes.atReturn, double(files) / searchTimes.atReturn);
    std::printf("move manager, rename off (copies): %.3f s (%.0f MiB/s), %.3f s flushed\n",
                copyTimes.atReturn, mib / copyTimes.atReturn, copyTimes.flushed);
    std::printf("when the runs return: ratio %.2f\n", copyTimes.atReturn / renameTimes.atReturn);
    return RatioLine("move", copyTimes.flushed / renameTimes.flushed, kGoal);
}
