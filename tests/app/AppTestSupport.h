// Helpers for the main window tests: a program folder in a temporary
// directory, opening the real window on a TestBbs, clicking list lines and
// reading records back from the server.
#pragma once

#include "app/TFileMgr.h"
#include "common/Text.h"
#include "config/Settings.h"
#include "filter/DateTime.h"
#include "server/wcsrv.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

// A program folder of its own, so vuru.cfg never lands in the build.
class ProgramFolderScope
{
public:
    explicit ProgramFolderScope(bool withConfig = true)
    {
        ProgramFolderOverride = m_dir.path() + u'/';
        if (withConfig) {
            QFile cfg(ProgramFolderOverride + QStringLiteral("vuru.cfg"));
            if (cfg.open(QIODevice::WriteOnly))
                cfg.write("[General]\r\nSysopName=Test Sysop\r\nwcHomeDir=/wc5/\r\n"
                          "[Tools]\r\nZipViewer_Prg1=xdg-open\r\n");
        }
    }
    ~ProgramFolderScope() { ProgramFolderOverride.clear(); }
    QString folder() const { return ProgramFolderOverride; }
    QString configPath() const { return ProgramFolderOverride + QStringLiteral("vuru.cfg"); }

private:
    QTemporaryDir m_dir;
};

// Opens the main window (its show logs in and lists the first area).
inline std::unique_ptr<TFileMgr> OpenMainWindow()
{
    auto w = std::make_unique<TFileMgr>();
    w->show();
    return w;
}

// Clicks a file list line as the user would (Ctrl adds to the selection).
inline void ClickLine(TFileMgr& w, int row, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const QModelIndex index = w.FileListBox->model()->index(row, 0);
    w.FileListBox->scrollTo(index);
    const QPoint at = w.FileListBox->visualRect(index).center();
    QTest::mouseClick(w.FileListBox->viewport(), Qt::LeftButton, modifiers, at);
}

inline int RowOf(const TFileMgr& w, const QString& line)
{
    return int(w.FileListBox->Lines()->lines().indexOf(line));
}

// Reads a record straight from the server (joins the window's login).
inline FullFileRec ReadRecord(int area, const QString& name, bool* found = nullptr)
{
    ServerLogin login;
    FullFileRec full{};
    FileRec rec{};
    uint32_t position = 0;
    const QByteArray n = name.toLatin1();
    const bool ok = login.ok() && GetFileRecByAreaName(area, n.constData(), &rec, &position) &&
                    GetFullFileRec(&rec, &full);
    if (found)
        *found = ok;
    return full;
}
