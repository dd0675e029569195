// The scan of the base (ScanRun) over 2,000 files of 64 KiB in one area,
// against `clamdscan --stream` and `clamdscan --fdpass` on the same files,
// all with one clamd of the benchmark's own (the tests' fixture: a
// signature database written on the spot). Each side runs once to warm the
// caches, then five times in alternating rounds; each side's best run
// counts. The scan starts each round with no hash and no result kept, so
// it reads, hashes, tests and sends every file and keeps both; the ratio
// is the time of `clamdscan --stream` (the same INSTREAM command the scan
// uses) over the scan's, and the one against --fdpass is printed too. Then
// a rescan, which must read no file.
#include "BenchMeasure.h"
#include "BenchRun.h"
#include "ClamdServer.h"
#include "managers/ScanRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcStore.h"
#include "server/wcsrv.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace
{

constexpr double kGoal = 0.8;
constexpr int kFileBytes = 64 * 1024;
// Most of the time is the daemon's, whose threads share the cores with
// everything else: five rounds for a best run that says something.
constexpr int kRounds = 5;

QByteArray Noise(int size, quint32 seed)
{
    QByteArray out(size, '\0');
    quint32 x = seed * 2654435761u + 1;
    for (int i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = char(x >> 24);
    }
    return out;
}

bool MakeBbs(const std::string& home, int files, QString& folder)
{
    if (const std::string e = wcadmin::CreateBbs(home, "Bench Sysop"); !e.empty()) {
        std::fprintf(stderr, "CreateBbs: %s\n", e.c_str());
        return false;
    }
    if (const std::string e = wcadmin::AddArea(home, 1, "Uploads"); !e.empty()) {
        std::fprintf(stderr, "AddArea: %s\n", e.c_str());
        return false;
    }
    std::string error;
    auto store = wcstore::OpenStore(home, "", false, error);
    if (!store) {
        std::fprintf(stderr, "store: %s\n", error.c_str());
        return false;
    }
    folder = QString::fromStdString(home) + QStringLiteral("/areas/1");
    QDir().mkpath(folder);
    std::vector<FullFileRec> batch(static_cast<size_t>(files));
    for (int i = 0; i < files; ++i) {
        char name[16];
        std::snprintf(name, sizeof name, "F%07d.BIN", i);
        QFile f(folder + QLatin1Char('/') + QLatin1String(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(Noise(kFileBytes, quint32(i))) != kFileBytes)
            return false;
        FullFileRec& rec = batch[size_t(i)];
        std::memset(&rec, 0, sizeof rec);
        rec.Rec.Area = 1;
        std::memcpy(rec.Rec.Name, name, std::strlen(name));
        rec.Rec.Size = kFileBytes;
    }
    if (!store->Begin() || store->InsertMany(batch.data(), batch.size()) != wcstore::Rc::Ok ||
        !store->Commit()) {
        std::fprintf(stderr, "insert: %s\n", store->Error().c_str());
        return false;
    }
    return true;
}

// Forgets every hash and result kept, so the next scan reads everything.
bool ForgetKept(const std::string& home)
{
    std::string error;
    auto store = wcstore::OpenStore(home, "", false, error);
    if (!store)
        return false;
    for (const char* table : {"file_hashes", "scan_results"})
        store->Sql({}, std::string("DELETE FROM ") + table, {});
    return true;
}

double Clamdscan(const ClamdServer& server, const QString& mode, const QString& folder)
{
    QProcess p;
    p.setStandardOutputFile(QProcess::nullDevice());
    const auto start = BenchClock::now();
    p.start(QStringLiteral("clamdscan"), {QStringLiteral("--config-file=") + server.configPath(),
                                          mode, QStringLiteral("--no-summary"), folder});
    if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        std::fprintf(stderr, "clamdscan %s failed (%d): %s\n", qPrintable(mode), p.exitCode(),
                     p.readAllStandardError().constData());
        std::exit(1);
    }
    return SecondsSince(start);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 2000;
    if (files < 1 || files > 1000000) {
        std::fprintf(stderr, "the number of files must be 1 to 1000000\n");
        return 1;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("clamdscan")).isEmpty() ||
        ClamdServer::program().isEmpty()) {
        std::fprintf(stderr, "clamd and clamdscan are needed (Debian: clamav-daemon)\n");
        return 1;
    }
    QTemporaryDir dir;
    const std::string home = dir.path().toStdString();
    qputenv("WCSRV_HOME", QFile::encodeName(dir.path()));
    qunsetenv("WCSRV_DATABASE");
    QString folder;
    if (!MakeBbs(home, files, folder))
        return 1;
    ClamdServer server;
    if (!server.start()) {
        std::fprintf(stderr, "%s\n", qPrintable(server.error()));
        return 1;
    }
    std::printf("BBS: 1 area, %d files of %d KiB; clamd with the test signatures\n", files,
                kFileBytes / 1024);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        return 1;
    }

    ScanOptions options;
    options.areas = {1};
    options.dryRun = true;
    options.clamdSocket = server.socketPath();
    ScanResult last;
    auto scan = [&](bool fresh) {
        if (fresh && !ForgetKept(home))
            std::exit(1);
        BenchQuietRun run;
        const auto start = BenchClock::now();
        last = RunScan(options, run);
        return SecondsSince(start);
    };

    // Warm-up of every side, then alternating rounds.
    scan(true);
    Clamdscan(server, QStringLiteral("--stream"), folder);
    Clamdscan(server, QStringLiteral("--fdpass"), folder);
    std::vector<double> streamTimes, fdpassTimes, scanTimes;
    for (int round = 0; round < kRounds; ++round) {
        streamTimes.push_back(Clamdscan(server, QStringLiteral("--stream"), folder));
        fdpassTimes.push_back(Clamdscan(server, QStringLiteral("--fdpass"), folder));
        scanTimes.push_back(scan(true));
    }
    const ScanResult first = last;
    const double rescanSeconds = scan(false);
    const ScanResult again = last;
    LogoutUser();
    WildcatServerDeleteContext();

    if (first.records != files || first.clean != files || first.filesRead != files ||
        again.filesRead != 0 || again.unchanged != files || again.clean != files) {
        std::fprintf(stderr,
                     "unexpected result: scan %lld records, %lld clean, %lld read; rescan %lld "
                     "read, %lld unchanged\n",
                     (long long)first.records, (long long)first.clean, (long long)first.filesRead,
                     (long long)again.filesRead, (long long)again.unchanged);
        return 1;
    }
    const double stream = Best(streamTimes), fdpass = Best(fdpassTimes), mine = Best(scanTimes);
    const double mib = double(files) * kFileBytes / (1024.0 * 1024.0);
    std::printf("clamdscan --stream: best %.3f s of %s (%.1f MiB/s)\n", stream,
                RunList(streamTimes).c_str(), mib / stream);
    std::printf("clamdscan --fdpass: best %.3f s of %s (%.1f MiB/s)\n", fdpass,
                RunList(fdpassTimes).c_str(), mib / fdpass);
    std::printf("scan (nothing kept): best %.3f s of %s (%.1f MiB/s), %d readers; every file "
                "hashed, archive-tested and its hash and result kept\n",
                mine, RunList(scanTimes).c_str(), mib / mine, options.readers);
    std::printf("rescan: %.3f s, %lld files read, %lld unchanged skipped\n", rescanSeconds,
                (long long)again.filesRead, (long long)again.unchanged);
    std::printf("peak memory of the whole run: %.0f MiB\n", StatusMiB("VmHWM"));
    // The scan sends each file through the socket (INSTREAM), as --stream
    // does; --fdpass hands the daemon the open file instead, which spares
    // it the copy into its temporary folder: shown for comparison.
    std::printf("against --fdpass: ratio %.2f\n", fdpass / mine);
    return RatioLine("scan", stream / mine, kGoal);
}
