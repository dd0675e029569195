#include "app/ProgramHelp.h"

#include "common/BuildInfo.h"
#include "common/ManPage.h"

#include <QStringList>
#include <QTextStream>

#include <cstring>

namespace
{

struct HelpEntry {
    const char* name;
    const char* text;
};

const char kSummary[] = "maintains the file database of a BBS in a window";

const char kDescription[] =
    "Vantrel File Manager keeps the file database of a BBS: its file areas and the file "
    "records in them, and the files they describe. When it starts it logs in to the BBS "
    "whose home folder WCSRV_HOME names; without a BBS there the window closes after a "
    "moment. On the first start the setup window asks for the settings before the main "
    "window shows. The Help menu shows the full help. vtfilemgr-cli does the same work "
    "from the command line.";

const HelpEntry kOptions[] = {
    {"-h, --help", "Shows the options, the environment and the files."},
    {"--version", "Shows the version."},
    {"-platform NAME", "Qt's options such as this one are taken as well."},
};

const HelpEntry kEnvironment[] = {
    {"WCSRV_HOME", "The BBS home folder (default: $XDG_DATA_HOME/wcsrv)."},
    {"WCSRV_DATABASE",
     "A PostgreSQL connection string: the records are kept on that server, the home folder "
     "holds the area folders."},
    {"XDG_CONFIG_HOME", "The per-user folder is $XDG_CONFIG_HOME/vtfile/ (default: "
                        "~/.config/vtfile/)."},
};

const HelpEntry kFiles[] = {
    {"vuru.cfg", "The settings (sysop name, BBS home folder, zip viewer, code page), written "
                 "by the setup window."},
    {"Temp/", "Archive copies and extracted descriptions, beside vuru.cfg."},
    {"VURU.HLP", "The help file: beside the program, or in share/vtfile/ of an installed copy."},
};

const char kFilesNote[] =
    "vuru.cfg and Temp/ lie in the program's folder, or in the per-user folder for an "
    "installed copy and when the program's folder cannot be written.";

// `text` broken into lines of at most `width` characters, each after `indent`.
QString Wrapped(const QString& text, int indent, int width)
{
    QString out;
    QString line;
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && indent + line.size() + 1 + word.size() > width) {
            out += line + QLatin1Char('\n') + QString(indent, QLatin1Char(' '));
            line.clear();
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + line + QLatin1Char('\n');
}

template <std::size_t N> QString HelpTable(const char* title, const HelpEntry (&entries)[N])
{
    QString text = QString::fromLatin1(title) + QStringLiteral(":\n");
    for (const HelpEntry& entry : entries) {
        text += QStringLiteral("  ") + QString::fromLatin1(entry.name).leftJustified(17) +
                QLatin1Char(' ') + Wrapped(QString::fromLatin1(entry.text), 20, 79);
    }
    return text;
}

template <std::size_t N> QString ManTable(const char* title, const HelpEntry (&entries)[N])
{
    QString page = QStringLiteral(".SH %1\n").arg(QString::fromLatin1(title).toUpper());
    for (const HelpEntry& entry : entries) {
        page += QStringLiteral(".TP\n.B %1\n%2\n")
                    .arg(ManText(QString::fromLatin1(entry.name)),
                         ManText(QString::fromLatin1(entry.text)));
    }
    return page;
}

} // namespace

QString ProgramHelp()
{
    return QStringLiteral("Usage: vtfilemgr [--help | --version]\n\n") +
           Wrapped(QStringLiteral("vtfilemgr %1.").arg(QString::fromLatin1(kSummary)), 0, 79) +
           QLatin1Char('\n') + Wrapped(QString::fromLatin1(kDescription), 0, 79) +
           QLatin1Char('\n') + HelpTable("Options", kOptions) + QLatin1Char('\n') +
           HelpTable("Environment", kEnvironment) + QLatin1Char('\n') + HelpTable("Files", kFiles) +
           Wrapped(QString::fromLatin1(kFilesNote), 0, 79);
}

QString ProgramManPage()
{
    return ManHead(QStringLiteral("vtfilemgr"), QString::fromLatin1(kSummary)) +
           QStringLiteral(".SH SYNOPSIS\n.B vtfilemgr\n[\\-\\-help | \\-\\-version]\n") +
           QStringLiteral(".SH DESCRIPTION\n") + ManText(QString::fromLatin1(kDescription)) +
           QLatin1Char('\n') + ManTable("Options", kOptions) +
           ManTable("Environment", kEnvironment) + ManTable("Files", kFiles) +
           QStringLiteral(".PP\n") + ManText(QString::fromLatin1(kFilesNote)) +
           QStringLiteral("\n.SH SEE ALSO\nvtfilemgr\\-cli(1), wcsrv\\-admin(1)\n");
}

bool PrintProgramHelp(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        QString text;
        if (std::strcmp(arg, "-h") == 0 || std::strcmp(arg, "--help") == 0)
            text = ProgramHelp();
        else if (std::strcmp(arg, "--version") == 0)
            text = QStringLiteral("vtfilemgr %1\n").arg(QStringLiteral(VT_VERSION));
        else if (std::strcmp(arg, "--man") == 0)
            text = ProgramManPage();
        else
            continue;
        QTextStream(stdout) << text;
        return true;
    }
    return false;
}
