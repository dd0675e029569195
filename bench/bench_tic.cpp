// The file echo intake: 2,000 TICs of 64 KiB files into 20 echoes (one
// area each), run as `tic --yes` runs it (one journaled run), against the
// plain way of getting the same files into the same folders in the same
// run: `mv` of each echo's files into its folder, then `cksum` of all of
// them (the CRC read a checking intake cannot skip).
//
// Each round makes a new BBS and new files; both sides start with the files
// in the page cache. A first round warms up and is not counted; the best
// counted round of each side gives the ratio (the plain way's time over the
// intake's).
#include "BenchMeasure.h"
#include "BenchRun.h"
#include "BenchWindow.h"
#include "archive/TicCheck.h"
#include "common/VtApplication.h"
#include "managers/TicRun.h"
#include "platform/wcsrv/WcAdmin.h"
#include "server/RunJournal.h"
#include "server/wcsrv.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <zlib.h>

#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace
{

constexpr double kGoal = 0.5;
constexpr int kEchoes = 20;
constexpr int kRounds = 3;
constexpr qsizetype kFileBytes = 64 * 1024;

QString Echo(int e)
{
    return QStringLiteral("ECHO%1").arg(e + 1, 2, 10, QLatin1Char('0'));
}

QString FileName(int k)
{
    return QStringLiteral("F%1.ZIP").arg(k, 5, 10, QLatin1Char('0'));
}

// The files (and, with `tics`, their TICs) in `folder`; false when one
// can't be written.
bool WriteFiles(const QString& folder, int files, bool tics)
{
    QByteArray content(kFileBytes, Qt::Uninitialized);
    for (int k = 0; k < files; ++k) {
        for (qsizetype i = 0; i < content.size(); ++i)
            content[i] = char((i * 131 + k * 7) >> 3);
        std::memcpy(content.data(), &k, sizeof k); // no two files alike
        QFile f(QDir(folder).filePath(FileName(k)));
        if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
            return false;
        f.close();
        if (!tics)
            continue;
        const uLong crc =
            ::crc32(::crc32(0L, Z_NULL, 0), reinterpret_cast<const Bytef*>(content.constData()),
                    uInt(content.size()));
        const QByteArray tic = "Area " + Echo(k % kEchoes).toLatin1() + "\r\nOrigin 21:1/100\r\n" +
                               "From 21:1/100\r\nFile " + FileName(k).toLatin1() + "\r\nSize " +
                               QByteArray::number(content.size()) + "\r\nCrc " +
                               CrcText(quint32(crc)) + "\r\nDesc File number " +
                               QByteArray::number(k) + " of the bench echo\r\nPath 21:1/100\r\n";
        QFile t(QDir(folder).filePath(
            FileName(k).replace(QStringLiteral(".ZIP"), QStringLiteral(".TIC"))));
        if (!t.open(QIODevice::WriteOnly) || t.write(tic) != tic.size())
            return false;
    }
    return true;
}

// Processor seconds of this process (`who` RUSAGE_SELF) or of its ended
// children (RUSAGE_CHILDREN), user and system.
double CpuSeconds(int who)
{
    rusage u{};
    ::getrusage(who, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Bbs {
    QString home;
    std::vector<QString> folders;
};

bool MakeBbs(const QString& home, Bbs& bbs)
{
    QDir().mkpath(home);
    qputenv("WCSRV_HOME", QFile::encodeName(home));
    if (!wcadmin::CreateBbs(home.toStdString(), "Bench Sysop").empty())
        return false;
    bbs.home = home;
    bbs.folders.clear();
    for (int e = 0; e < kEchoes; ++e) {
        if (!wcadmin::AddArea(home.toStdString(), e + 1, Echo(e).toStdString()).empty())
            return false;
        bbs.folders.push_back(
            QString::fromStdString(wcadmin::AreaFolder(home.toStdString(), e + 1)));
    }
    return true;
}

// mv of each echo's files into its folder, then cksum of them all.
double PlainRound(const QString& root, int files, bool& ok, double& cpu)
{
    Bbs bbs;
    const QString in = root + QStringLiteral("/plain-in");
    QDir().mkpath(in);
    ok = MakeBbs(root + QStringLiteral("/plain-bbs"), bbs) && WriteFiles(in, files, false);
    if (!ok)
        return 0;
    const double cpu0 = CpuSeconds(RUSAGE_CHILDREN) + CpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    QStringList moved;
    for (int e = 0; e < kEchoes && ok; ++e) {
        QStringList args{QStringLiteral("-t"), bbs.folders[size_t(e)]};
        for (int k = e; k < files; k += kEchoes) {
            args << QDir(in).filePath(FileName(k));
            moved << QDir(bbs.folders[size_t(e)]).filePath(FileName(k));
        }
        ok = QProcess::execute(QStringLiteral("mv"), args) == 0;
    }
    QProcess cksum;
    cksum.setStandardOutputFile(QProcess::nullDevice());
    cksum.start(QStringLiteral("cksum"), moved);
    ok = ok && cksum.waitForFinished(-1) && cksum.exitCode() == 0;
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    cpu = CpuSeconds(RUSAGE_CHILDREN) + CpuSeconds(RUSAGE_SELF) - cpu0;
    return seconds;
}

double IntakeRound(const QString& root, int files, bool& ok, int& placed, double& cpu)
{
    Bbs bbs;
    const QString in = root + QStringLiteral("/tic-in");
    QDir().mkpath(in);
    ok = MakeBbs(root + QStringLiteral("/tic-bbs"), bbs) && WriteFiles(in, files, true);
    if (!ok)
        return 0;
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "login failed: %x\n", WcGetLastError());
        ok = false;
        return 0;
    }
    TicRunOptions options;
    options.settings.inbound = in;
    for (int e = 0; e < kEchoes; ++e)
        options.settings.areas.append({Echo(e), e + 1});
    options.settings.uploader = QStringLiteral("Bench Sysop");
    BenchQuietRun run;
    const double cpu0 = CpuSeconds(RUSAGE_SELF);
    QElapsedTimer t;
    t.start();
    {
        JournaledRun journal(QStringLiteral("tic --yes"));
        ok = journal.Begun();
        const TicRunResult result = RunTicIntake(options, run);
        placed = result.placed;
        ok = ok && journal.End();
    }
    const double seconds = double(t.nsecsElapsed()) / 1e9;
    cpu = CpuSeconds(RUSAGE_SELF) - cpu0;
    LogoutUser();
    WildcatServerDeleteContext();
    ok = ok && placed == files;
    return seconds;
}

QString LoadAverage()
{
    QFile f(QStringLiteral("/proc/loadavg"));
    return f.open(QIODevice::ReadOnly) ? QString::fromLatin1(f.readLine())
                                       : QStringLiteral("unknown\n");
}

} // namespace

int main(int argc, char** argv)
{
    UseOffscreenPlatform();
    VtApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 2000;
    PrintMessages();

    std::vector<double> plain, intake, plainCpu, intakeCpu;
    bool ok = true;
    QString fsKind;
    for (int round = 0; round <= kRounds && ok; ++round) {
        QTemporaryDir dir;
        if (fsKind.isEmpty())
            fsKind = QString::fromStdString(FileSystemKind(dir.path().toStdString()));
        double pc = 0, ic = 0;
        const double p = PlainRound(dir.path(), files, ok, pc);
        int placed = 0;
        const double i = ok ? IntakeRound(dir.path(), files, ok, placed, ic) : 0;
        if (!ok) {
            std::fprintf(stderr, "round %d failed (%d of %d placed)\n", round, placed, files);
            break;
        }
        std::printf("round %d: mv + cksum %.3f s (processor %.3f s), tic intake %.3f s "
                    "(processor %.3f s)%s\n",
                    round, p, pc, i, ic, round == 0 ? " (warm-up, not counted)" : "");
        if (round > 0) {
            plain.push_back(p);
            intake.push_back(i);
            plainCpu.push_back(pc);
            intakeCpu.push_back(ic);
        }
    }
    if (!ok)
        return 1;
    std::printf("folders on %s; %d TICs of %lld KiB files into %d echoes\n", qPrintable(fsKind),
                files, qlonglong(kFileBytes / 1024), kEchoes);
    std::printf("best: mv + cksum %.3f s (%.0f files/s), tic intake %.3f s (%.0f files/s)\n",
                Best(plain), files / Best(plain), Best(intake), files / Best(intake));
    std::printf("processor time: mv + cksum %.3f s, tic intake %.3f s (ratio %.2f)\n",
                Best(plainCpu), Best(intakeCpu), Best(plainCpu) / Best(intakeCpu));
    std::printf("load average: %s", qPrintable(LoadAverage()));
    return RatioLine("tic", Best(plain) / Best(intake), kGoal);
}
