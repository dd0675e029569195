// Shared set-up of the benchmarks that open the program's windows: the
// offscreen platform, messages printed, a demo BBS in a temporary folder with
// a program folder of its own holding a vuru.cfg.
#pragma once

#include "common/Dialogs.h"
#include "config/Settings.h"
#include "platform/wcsrv/WcAdmin.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

// Windows are drawn offscreen unless a platform is named. Call before the
// application object is made.
inline void UseOffscreenPlatform()
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// Any message box would wait for an answer nobody gives: print it instead.
inline void PrintMessages()
{
    SetMessageHook([](MessageKind, const QString& text, const QStringList&) {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
        return DialogAnswer::Ok;
    });
}

struct BenchBbs {
    QTemporaryDir dir;
    bool ok = false;

    BenchBbs(int areas, long files)
    {
        const QString program = dir.path() + QStringLiteral("/program/");
        const QString home = dir.path() + QStringLiteral("/bbs");
        QDir().mkpath(program);
        QDir().mkpath(home);
        ProgramFolderOverride = program;
        QFile cfg(program + QStringLiteral("vuru.cfg"));
        if (cfg.open(QIODevice::WriteOnly))
            cfg.write("[General]\nwcHomeDir=/wc5/\n[Tools]\nZipViewer_Prg1=xdg-open\n");
        cfg.close();
        qputenv("WCSRV_HOME", QFile::encodeName(home));
        wcadmin::DemoOptions options;
        options.areas = areas;
        options.files = files;
        options.noFiles = true;
        QElapsedTimer t;
        t.start();
        const std::string error = wcadmin::MakeDemo(home.toStdString(), options);
        if (!error.empty()) {
            std::fprintf(stderr, "MakeDemo: %s\n", error.c_str());
            return;
        }
        std::printf("demo BBS: %d areas, %ld records, built in %.1f s\n", areas, files,
                    double(t.elapsed()) / 1000.0);
        ok = true;
    }
};

inline double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}
