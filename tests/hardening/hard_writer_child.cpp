// Helper of the concurrency test: a second process that updates, adds and
// deletes file records of the BBS that WCSRV_HOME names, at random, for a
// bounded time and number of operations. It updates any record's counters
// and description, but deletes only the records it added itself ("WR"
// names), so that the test knows which records must survive.
// Arguments: milliseconds to run, seed. Prints "span <first> <last>" (the
// wall-clock milliseconds of its first and last operation) and
// "ops <n> refused <r> gone <g>": a refused operation is one the server
// turned down for a record that was there; a gone one found its record
// moved or deleted by the program first.
#include "HardeningSupport.h"

#include "common/Text.h"
#include "server/ServerPath.h"
#include "server/wcsrv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <unistd.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int ms = argc > 1 ? std::atoi(argv[1]) : 2000;
    const quint32 seed = argc > 2 ? quint32(std::atol(argv[2])) : 1u;
    QRandomGenerator rng(seed);
    if (!WildcatServerConnect(nullptr) || !WildcatServerCreateContext() || !LoginSystem()) {
        std::fprintf(stderr, "writer: no login (%x)\n", WcGetLastError());
        return 2;
    }
    std::printf("WRITING\n");
    std::fflush(stdout);
    QList<QPair<int, QByteArray>> mine;
    long ops = 0, refused = 0, gone = 0, serial = 0;
    qint64 first = 0, last = 0;
    // A failed call whose record had gone counts apart from a refusal.
    auto failed = [&]() {
        if (WcGetLastError() == WC_RECORD_NOT_FOUND)
            ++gone;
        else
            ++refused;
    };
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms && ops < 200000) {
        ++ops;
        last = hard::WallMs();
        if (first == 0)
            first = last;
        const int choice = int(rng.bounded(10));
        const int area = 1 + int(rng.bounded(3));
        if (choice < 4) {
            // Update a record found from a random point of an area.
            const char start[3] = {char('A' + rng.bounded(3)), char('F'), 0};
            FileRec rec{};
            uint32_t pos = 0;
            FullFileRec full{};
            if (!SearchFileRecByAreaName(area, start, &rec, &pos) || rec.Area != area) {
                ++gone; // the area was emptied
                continue;
            }
            if (!GetFullFileRec(&rec, &full)) {
                failed();
                continue;
            }
            full.Rec.Downloads += 1;
            SetRecText(full.Rec.Description, QStringLiteral("writer %1").arg(ops));
            if (!UpdateFullFileRec(&full))
                failed();
        } else if (choice < 7 || mine.isEmpty()) {
            // Add a record with a real file.
            const QByteArray name = QStringLiteral("WR%1%2.TXT")
                                        .arg(seed % 100, 2, 10, QLatin1Char('0'))
                                        .arg(serial++, 4, 10, QLatin1Char('0'))
                                        .toLatin1();
            const QByteArray bytes = hard::FileContent(QString::fromLatin1(name), 128);
            const QByteArray path = ServerFilePathBytes(area, name.constData());
            const WcHandle h =
                WcCreateFile(path.constData(), WC_GENERIC_WRITE, WC_SHARE_NONE, WC_CREATE_ALWAYS);
            uint32_t done = 0;
            const bool written =
                h > 0 && WcWriteFile(h, bytes.constData(), uint32_t(bytes.size()), &done);
            if (h > 0)
                WcCloseHandle(h);
            if (!written) {
                ++refused;
                continue;
            }
            FullFileRec full{};
            full.Rec.Area = area;
            std::strncpy(full.Rec.Name, name.constData(), sizeof full.Rec.Name - 1);
            full.Rec.Size = int32_t(bytes.size());
            if (AddFileRec(&full))
                mine.append({area, name});
            else
                ++refused;
        } else {
            // Delete one of its own records, file too.
            const int i = int(rng.bounded(quint32(mine.size())));
            const auto victim = mine.takeAt(i);
            FileRec rec{};
            uint32_t pos = 0;
            if (!GetFileRecByAreaName(victim.first, victim.second.constData(), &rec, &pos) ||
                !DeleteFileRec(&rec, 1))
                failed();
        }
        if (rng.bounded(4) == 0)
            usleep(200);
    }
    LogoutUser();
    WildcatServerDeleteContext();
    std::printf("span %lld %lld\nops %ld refused %ld gone %ld\n", (long long)first, (long long)last,
                ops, refused, gone);
    return 0;
}
