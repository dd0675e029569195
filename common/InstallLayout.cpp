#include "common/InstallLayout.h"

#include "common/BuildInfo.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

InstallLayout::InstallLayout(const QString& programFolder) : m_bin(programFolder)
{
    if (!m_bin.endsWith(u'/'))
        m_bin += u'/';
}

InstallLayout InstallLayout::OfThisProgram()
{
    return InstallLayout(QCoreApplication::applicationDirPath());
}

bool InstallLayout::IsInstalled() const
{
    return QFileInfo(m_bin + QStringLiteral(VT_DATADIR_FROM_BIN)).isDir();
}

QString InstallLayout::LibraryFolder(const QString& fileName) const
{
    if (QFileInfo::exists(m_bin + fileName))
        return m_bin;
    const QString installed = QDir::cleanPath(m_bin + QStringLiteral(VT_LIBDIR_FROM_BIN));
    if (QFileInfo::exists(installed + u'/' + fileName))
        return installed + u'/';
    return m_bin;
}

QString InstallLayout::DataFile(const QString& fileName) const
{
    const QString beside = m_bin + fileName;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed =
        QDir::cleanPath(m_bin + QStringLiteral(VT_DATADIR_FROM_BIN) + fileName);
    return QFileInfo::exists(installed) ? installed : beside;
}
