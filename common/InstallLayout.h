// Where the program's own files lie. In the build tree every program, the
// private libraries (libwcsrv, libdunzip) and the help file lie together in
// bin/. In an installed tree bin/ holds the programs only; the libraries lie
// in lib/vtfile/ and the help file in share/vtfile/, both found relative to
// bin/ (BuildInfo.h), so an unpacked or moved tree works where it lies.
#pragma once

#include <QString>

class InstallLayout
{
public:
    // The layout around `programFolder`, the folder of a program.
    explicit InstallLayout(const QString& programFolder);
    // The layout around this process's executable (needs the application object).
    static InstallLayout OfThisProgram();

    // The program's folder, with a trailing '/'.
    const QString& BinFolder() const { return m_bin; }
    // An installed tree: its data folder (share/vtfile/) lies beside bin/.
    bool IsInstalled() const;
    // The folder (trailing '/') to load the private library `fileName` from:
    // the program's folder when the library lies there (the build tree), else
    // the installed tree's private folder when it lies there, else the
    // program's folder.
    QString LibraryFolder(const QString& fileName) const;
    // The path of the data file `fileName` (the help file), looked for in the
    // same order: beside the program, then in the installed data folder.
    QString DataFile(const QString& fileName) const;

private:
    QString m_bin;
};
