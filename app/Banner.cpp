#include "app/Banner.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

QPixmap ProgramBanner()
{
    QPixmap banner(274, 83);
    QPainter p(&banner);
    QLinearGradient sky(0, 0, 274, 83);
    sky.setColorAt(0, QColor(0, 40, 110));
    sky.setColorAt(1, QColor(30, 120, 200));
    p.fillRect(banner.rect(), sky);
    // A stack of "disks" at the left: the file areas.
    for (int i = 0; i < 4; ++i) {
        const QRect disk(14, 14 + i * 14, 44, 10);
        p.setPen(QColor(200, 220, 255));
        p.setBrush(QColor(90 + i * 30, 160, 230));
        p.drawRoundedRect(disk, 3, 3);
    }
    p.setPen(Qt::white);
    QFont title(QStringLiteral("Sans Serif"), 15, QFont::Bold);
    p.setFont(title);
    p.drawText(QRect(70, 10, 200, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vantrel"));
    QFont sub(QStringLiteral("Sans Serif"), 11);
    p.setFont(sub);
    p.drawText(QRect(70, 42, 200, 28), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("File Manager"));
    return banner;
}
