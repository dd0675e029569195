#include "common/ManPage.h"

#include "common/BuildInfo.h"

#include <QStringList>

QString ManText(QString text)
{
    text.replace(QLatin1Char('\\'), QLatin1String("\\e"));
    text.replace(QLatin1Char('-'), QLatin1String("\\-"));
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\'')))
            line.prepend(QLatin1String("\\&"));
    }
    return lines.join(QLatin1Char('\n'));
}

QString ManHead(const QString& program, const QString& summary)
{
    return QStringLiteral(".TH %1 1 \"\" \"%2 %3\" \"Vantrel File Manager\"\n"
                          ".SH NAME\n%4 \\- %5\n")
        .arg(program.toUpper(), ManText(program), QStringLiteral(VT_VERSION), ManText(program),
             ManText(summary));
}
