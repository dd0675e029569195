// Copying a 1 GiB file from disk into a file area through CopyServerFile
// (4096-byte chunks, server calls for the destination, a progress window),
// against `cp` of the same file into the same folder in the same run.
//
// Each copy is timed twice: when the copying call returns (what the sysop
// waits for; the data may still sit in the page cache), and once the new
// file has been flushed to the disk (fsync, done the same way for both).
// The ratio is CopyServerFile's throughput over cp's when the calls return;
// the flushed figures follow on a line of their own, and every round's are
// printed as well. A first round warms the caches and is not counted. The
// file system of the area folder is named: on a tmpfs no disk is measured.
#include "BenchMeasure.h"
#include "BenchWindow.h"
#include "common/Dialogs.h"
#include "common/VtApplication.h"
#include "managers/CopyServerFile.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace
{

constexpr double kGoal = 0.9;
constexpr int kRounds = 3;

bool WriteSource(const QString& path, qint64 size)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    QByteArray block(1 << 20, Qt::Uninitialized);
    for (qsizetype i = 0; i < block.size(); ++i)
        block[i] = char((i * 131) >> 3);
    for (qint64 done = 0; done < size; done += block.size()) {
        block[0] = char(done >> 20); // no two megabytes alike
        if (f.write(block.constData(), std::min<qint64>(block.size(), size - done)) < 0)
            return false;
    }
    return f.flush();
}

// Flushes a copied file to the disk.
bool Flush(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// Reads the file once so both copies start from the page cache.
void Warm(const QString& path)
{
    QFile f(path);
    if (f.open(QIODevice::ReadOnly))
        while (!f.read(1 << 20).isEmpty()) {
        }
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenPlatform();
    VtApplication app(argc, argv);
    const qint64 size = (argc > 1 ? std::atoll(argv[1]) : 1024) << 20; // MiB

    PrintMessages();

    QTemporaryDir dir;
    const QString home = dir.path() + QStringLiteral("/bbs");
    QDir().mkpath(home);
    qputenv("WCSRV_HOME", QFile::encodeName(home));
    if (!wcadmin::CreateBbs(home.toStdString(), "Bench Sysop").empty() ||
        !wcadmin::AddArea(home.toStdString(), 1, "Uploads").empty()) {
        std::fprintf(stderr, "cannot create the BBS\n");
        return 1;
    }
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }
    const QString areaFolder = QString::fromStdString(wcadmin::AreaFolder(home.toStdString(), 1));
    const QString source = dir.path() + QStringLiteral("/source.bin");
    if (!WriteSource(source, size)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
        return 1;
    }
    Warm(source);
    std::printf("area folder %s: %s\n", qPrintable(areaFolder),
                FileSystemKind(areaFolder.toStdString()).c_str());
    std::printf("cache state: both sides read the source from the page cache (read once before "
                "the rounds) and write a new file after a sync\n");
    if (OnMemoryFileSystem(areaFolder.toStdString()))
        std::printf("note: the area folder is in memory; set TMPDIR to a disk folder to measure "
                    "a disk\n");

    // Alternating rounds; round 0 warms up, each side's best counted round
    // counts.
    std::vector<double> cpReturned, cpFlushed, copyReturned, copyFlushed;
    bool ok = true;
    for (int round = 0; round <= kRounds && ok; ++round) {
        ::sync(); // earlier rounds' writes do not weigh on this one
        const QString cpTarget = areaFolder + QStringLiteral("/CP.BIN");
        QElapsedTimer t;
        t.start();
        ok = QProcess::execute(QStringLiteral("cp"), {source, cpTarget}) == 0;
        cpReturned.push_back(double(t.nsecsElapsed()) / 1e9);
        ok = ok && Flush(cpTarget);
        cpFlushed.push_back(double(t.nsecsElapsed()) / 1e9);
        ok = ok && QFileInfo(cpTarget).size() == size;
        QFile::remove(cpTarget);

        ::sync();
        const QString copyTarget = areaFolder + QStringLiteral("/COPY.BIN");
        t.start();
        ok = ok && CopyServerFile(source, ServerFilePath(1, QStringLiteral("COPY.BIN")),
                                  QStringLiteral("Copying..."));
        copyReturned.push_back(double(t.nsecsElapsed()) / 1e9);
        ok = ok && Flush(copyTarget);
        copyFlushed.push_back(double(t.nsecsElapsed()) / 1e9);
        ok = ok && QFileInfo(copyTarget).size() == size;
        QFile::remove(copyTarget);
        if (round == 0) {
            cpReturned.clear();
            cpFlushed.clear();
            copyReturned.clear();
            copyFlushed.clear();
        }
    }
    LogoutUser();
    WildcatServerDeleteContext();
    if (!ok) {
        std::fprintf(stderr, "a copy failed\n");
        return 1;
    }
    const double mib = double(size) / double(1 << 20);
    std::printf("file: %.0f MiB\n", mib);
    for (std::size_t i = 0; i < cpFlushed.size(); ++i)
        std::printf(
            "round %zu: cp %.3f s / %.3f s flushed, CopyServerFile %.3f s / %.3f s flushed\n",
            i + 1, cpReturned[i], cpFlushed[i], copyReturned[i], copyFlushed[i]);
    std::printf("flushed to disk:       cp %.3f s (%.0f MiB/s), CopyServerFile %.3f s (%.0f "
                "MiB/s), ratio %.2f\n",
                Best(cpFlushed), mib / Best(cpFlushed), Best(copyFlushed), mib / Best(copyFlushed),
                Best(cpFlushed) / Best(copyFlushed));
    std::printf("when the call returns: cp %.3f s (%.0f MiB/s), CopyServerFile %.3f s (%.0f "
                "MiB/s)\n",
                Best(cpReturned), mib / Best(cpReturned), Best(copyReturned),
                mib / Best(copyReturned));
    return RatioLine("copy", Best(cpReturned) / Best(copyReturned), kGoal);
}
