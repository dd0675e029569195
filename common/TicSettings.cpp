#include "common/TicSettings.h"

#include <QDir>

QString TicSettings::BadFolderPath() const
{
    const QString bad = badFolder.trimmed().isEmpty() ? QStringLiteral("bad") : badFolder.trimmed();
    if (QDir::isAbsolutePath(bad))
        return bad;
    QString base = inbound;
    if (!base.isEmpty() && !base.endsWith(u'/'))
        base += u'/';
    return base + bad;
}

int TicSettings::AreaOfTag(const QString& tag) const
{
    const QString wanted = tag.trimmed();
    for (const TicAreaLink& link : areas)
        if (link.tag.trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
            return link.area;
    return 0;
}

bool TicSettings::PasswordOf(const QString& address, QString& password) const
{
    const QString wanted = TicAddressKey(address);
    if (wanted.isEmpty())
        return false;
    for (const TicPassword& entry : passwords) {
        if (TicAddressKey(entry.address) == wanted) {
            password = entry.password;
            return true;
        }
    }
    return false;
}

QString TicAddressKey(const QString& address)
{
    QString key = address.trimmed().toLower();
    const qsizetype at = key.indexOf(u'@');
    if (at >= 0)
        key.truncate(at);
    if (key.endsWith(QLatin1String(".0")))
        key.chop(2);
    return key;
}
