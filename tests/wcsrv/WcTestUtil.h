// Small helpers of the server library tests.
#pragma once

#include "server/wcsrv.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QStringList>

#include <cstring>
#include <string>

inline FileRec MakeKey(int area, const char* name)
{
    FileRec r{};
    r.Area = area;
    std::strncpy(r.Name, name, sizeof r.Name - 1);
    return r;
}

inline QByteArray Bytes(const void* p, size_t n)
{
    return QByteArray(static_cast<const char*>(p), qsizetype(n));
}

// Names of the records of one area in the server's walk order.
inline QStringList WalkNames(int area, int* boundaryArea = nullptr)
{
    QStringList names;
    FileRec r{};
    uint32_t pos = 0;
    if (boundaryArea)
        *boundaryArea = 0;
    if (!SearchFileRecByAreaName(area, "", &r, &pos))
        return names;
    while (r.Area == area) {
        names << QString::fromLatin1(r.Name);
        if (!GetNextFileRec(1, &r, &pos))
            return names;
    }
    if (boundaryArea)
        *boundaryArea = r.Area;
    return names;
}

// Every file below a folder, as relative paths.
inline QStringList FilesBelow(const QString& folder)
{
    QStringList out;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        out << QDir(folder).relativeFilePath(it.next());
    out.sort();
    return out;
}

// The folder of our programs (ctest sets VT_BIN_DIR).
inline QString BinDir()
{
    const QString env = qEnvironmentVariable("VT_BIN_DIR");
    return env.isEmpty() ? QCoreApplication::applicationDirPath() : env;
}
