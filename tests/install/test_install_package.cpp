// The Debian package as a user meets it: the .deb this build makes (the
// install_package_build fixture runs cpack) is unpacked with dpkg-deb into a
// temporary root, and the programs, manual pages, bash completion, desktop
// entry and example units are used from there, never from the build folder.
#include "common/BuildInfo.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QXmlStreamReader>

namespace
{

struct Run {
    int code = -1; // -1: did not end in time, or crashed
    QString out, err;
};

Run RunProgram(const QString& program, const QStringList& args,
               const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
               int timeoutMs = 300000)
{
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(program, args);
    Run run;
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    run.err = QString::fromLocal8Bit(process.readAllStandardError());
    return run;
}

QString Describe(const Run& run)
{
    return QStringLiteral("exit %1\n--- stdout\n%2\n--- stderr\n%3")
        .arg(run.code)
        .arg(run.out.left(4000), run.err.left(4000));
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The value of `key` in the first line "key=value" of an INI-style file.
QString KeyValue(const QString& text, const QString& key)
{
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('=')))
            return line.mid(key.size() + 1).trimmed();
    }
    return QString();
}

QSet<QString> SetOf(const QStringList& list)
{
    return QSet<QString>(list.begin(), list.end());
}

} // namespace

class TestInstallPackage : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void packageFields();
    void packageContents_data();
    void packageContents();
    void lintianFindsNoError();
    void programsShowTheirVersion_data();
    void programsShowTheirVersion();
    void cliHelp();
    void manPages_data();
    void manPages();
    void cliManPageHasEveryCommand();
    void adminInitMakesABbs();
    void cliListsTheDemo();
    void programShowsMainWindow();
    void completion_data();
    void completion();
    void completionOffersEveryOption();
    void desktopEntry();
    void icons_data();
    void icons();
    void filelistUnitRuns();
    void timersStartTheirServices_data();
    void timersStartTheirServices();

private:
    QString usr(const QString& path) const { return m_root + QStringLiteral("/usr/") + path; }
    QString bin(const QString& program) const { return usr(QStringLiteral("bin/") + program); }
    // The environment of a program from the package: HOME and the per-user
    // folders inside the test's folder.
    QProcessEnvironment userEnvironment() const;
    // The words bash's completion function offers for `words` (the last one
    // is the word being completed).
    QStringList complete(const QStringList& words);
    QStringList commandsOfHelp();

    QTemporaryDir m_dir;
    QString m_deb;
    QString m_root;
    QString m_demo;
};

QProcessEnvironment TestInstallPackage::userEnvironment() const
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), m_dir.path() + QStringLiteral("/home"));
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), m_dir.path() + QStringLiteral("/home/.config"));
    env.insert(QStringLiteral("XDG_DATA_HOME"), m_dir.path() + QStringLiteral("/home/.local"));
    env.remove(QStringLiteral("WCSRV_HOME"));
    env.remove(QStringLiteral("WCSRV_DATABASE"));
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    return env;
}

void TestInstallPackage::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir().mkpath(m_dir.path() + QStringLiteral("/home/.config")));
    // The file name carries the project's version, the one the About box shows.
    m_deb =
        qEnvironmentVariable("VT_PACKAGE_DIR") + QStringLiteral("/vtfile_" VT_VERSION "_amd64.deb");
    QVERIFY2(QFile::exists(m_deb), qPrintable(m_deb));
    m_root = m_dir.path() + QStringLiteral("/root");
    const Run unpack =
        RunProgram(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), m_deb, m_root});
    QVERIFY2(unpack.code == 0, qPrintable(Describe(unpack)));

    // The demo BBS the later tests use, made by the packaged admin tool.
    m_demo = m_dir.path() + QStringLiteral("/demo");
    const Run demo =
        RunProgram(bin(QStringLiteral("wcsrv-admin")),
                   {QStringLiteral("--home"), m_demo, QStringLiteral("demo")}, userEnvironment());
    QVERIFY2(demo.code == 0, qPrintable(Describe(demo)));
    QVERIFY(QFile::exists(m_demo + QStringLiteral("/wcsrv.db")));
}

void TestInstallPackage::packageFields()
{
    const Run fields = RunProgram(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), m_deb});
    QVERIFY2(fields.code == 0, qPrintable(Describe(fields)));
    auto field = [&](const char* name) {
        const QRegularExpression line(QStringLiteral("^%1: (.*)$").arg(QLatin1String(name)),
                                      QRegularExpression::MultilineOption);
        return line.match(fields.out).captured(1);
    };
    QCOMPARE(field("Package"), QStringLiteral("vtfile"));
    QCOMPARE(field("Version"), QStringLiteral(VT_VERSION));
    QCOMPARE(field("Architecture"), QStringLiteral("amd64"));
    QVERIFY2(QRegularExpression(QStringLiteral("^.+ <[^@ ]+@[^> ]+>$"))
                 .match(field("Maintainer"))
                 .hasMatch(),
             qPrintable(field("Maintainer")));
    QCOMPARE(field("Description"), QStringLiteral("file database manager for a BBS"));
    // dpkg-shlibdeps found the libraries of the programs and of the private
    // libraries (libzip through libdunzip); the private ones are no package's.
    const QString depends = field("Depends");
    for (const char* package : {"libqt6widgets6", "libsqlite3-0", "libzip4", "libpq5"})
        QVERIFY2(depends.contains(QLatin1String(package)), qPrintable(depends));
    QVERIFY2(!depends.contains(QLatin1String("wcsrv")) &&
                 !depends.contains(QLatin1String("dunzip")),
             qPrintable(depends));
}

void TestInstallPackage::packageContents_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("executable");
    QTest::newRow("program") << "bin/vtfilemgr" << true;
    QTest::newRow("command line") << "bin/vtfilemgr-cli" << true;
    QTest::newRow("admin tool") << "bin/wcsrv-admin" << true;
    QTest::newRow("libwcsrv") << "lib/vtfile/libwcsrv.so" << false;
    QTest::newRow("libdunzip") << "lib/vtfile/libdunzip.so" << false;
    QTest::newRow("help file") << "share/vtfile/VURU.HLP" << false;
    QTest::newRow("page vtfilemgr") << "share/man/man1/vtfilemgr.1.gz" << false;
    QTest::newRow("page vtfilemgr-cli") << "share/man/man1/vtfilemgr-cli.1.gz" << false;
    QTest::newRow("page wcsrv-admin") << "share/man/man1/wcsrv-admin.1.gz" << false;
    QTest::newRow("desktop entry") << "share/applications/vtfilemgr.desktop" << false;
    QTest::newRow("completion") << "share/bash-completion/completions/vtfilemgr-cli" << false;
    QTest::newRow("copyright") << "share/doc/vtfile/copyright" << false;
    QTest::newRow("changelog") << "share/doc/vtfile/changelog.gz" << false;
    for (const char* unit : {"vtfile-filelist.service", "vtfile-filelist.timer",
                             "vtfile-tic.service", "vtfile-tic.timer"})
        QTest::newRow(unit) << QStringLiteral("share/doc/vtfile/examples/") + QLatin1String(unit)
                            << false;
}

void TestInstallPackage::packageContents()
{
    QFETCH(QString, path);
    QFETCH(bool, executable);
    const QFileInfo info(usr(path));
    QVERIFY2(info.isFile(), qPrintable(path));
    QVERIFY(info.size() > 0);
    QCOMPARE(info.isExecutable(), executable);
}

void TestInstallPackage::lintianFindsNoError()
{
    const Run lintian = RunProgram(QStringLiteral("lintian"), {m_deb});
    QVERIFY2(lintian.code == 0, qPrintable(Describe(lintian)));
    QVERIFY2(!QRegularExpression(QStringLiteral("^E: "), QRegularExpression::MultilineOption)
                  .match(lintian.out)
                  .hasMatch(),
             qPrintable(lintian.out));
    if (!lintian.out.isEmpty())
        qInfo("lintian:\n%s", qPrintable(lintian.out));
}

void TestInstallPackage::programsShowTheirVersion_data()
{
    QTest::addColumn<QString>("program");
    QTest::newRow("vtfilemgr") << "vtfilemgr";
    QTest::newRow("vtfilemgr-cli") << "vtfilemgr-cli";
    QTest::newRow("wcsrv-admin") << "wcsrv-admin";
}

void TestInstallPackage::programsShowTheirVersion()
{
    QFETCH(QString, program);
    // The window program answers without a display: no platform is set.
    QProcessEnvironment env = userEnvironment();
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    env.remove(QStringLiteral("DISPLAY"));
    const Run run = RunProgram(bin(program), {QStringLiteral("--version")}, env);
    QVERIFY2(run.code == 0, qPrintable(Describe(run)));
    QCOMPARE(run.out, program + QStringLiteral(" " VT_VERSION "\n"));
}

void TestInstallPackage::cliHelp()
{
    const Run run = RunProgram(bin(QStringLiteral("vtfilemgr-cli")), {QStringLiteral("--help")},
                               userEnvironment());
    QVERIFY2(run.code == 0, qPrintable(Describe(run)));
    QVERIFY(run.out.startsWith(QStringLiteral("Usage: vtfilemgr-cli ")));
    QVERIFY(run.out.contains(QStringLiteral("\nCommands:\n")));
    QVERIFY(run.err.isEmpty());
}

void TestInstallPackage::manPages_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("summary");
    QTest::newRow("vtfilemgr") << "vtfilemgr"
                               << "vtfilemgr - maintains the file database of a BBS in a window";
    QTest::newRow("vtfilemgr-cli") << "vtfilemgr-cli"
                                   << "vtfilemgr-cli - unattended maintenance of a BBS file base";
    QTest::newRow("wcsrv-admin") << "wcsrv-admin"
                                 << "wcsrv-admin - sets up and fills a BBS without the BBS "
                                    "software";
}

void TestInstallPackage::manPages()
{
    QFETCH(QString, program);
    QFETCH(QString, summary);
    QProcessEnvironment env = userEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    const Run man = RunProgram(QStringLiteral("man"),
                               {QStringLiteral("--warnings"), QStringLiteral("-l"),
                                usr(QStringLiteral("share/man/man1/%1.1.gz").arg(program))},
                               env);
    QVERIFY2(man.code == 0, qPrintable(Describe(man)));
    // troff found nothing to warn about.
    QVERIFY2(man.err.isEmpty(), qPrintable(man.err));
    QVERIFY2(man.out.startsWith(program.toUpper() + QStringLiteral("(1)")), qPrintable(man.out));
    QVERIFY2(man.out.contains(QStringLiteral("NAME\n       ") + summary), qPrintable(man.out));
    for (const char* section : {"SYNOPSIS", "SEE ALSO"})
        QVERIFY2(man.out.contains(QLatin1Char('\n') + QLatin1String(section) + QLatin1Char('\n')),
                 section);
    QVERIFY2(man.out.contains(program + QStringLiteral(" " VT_VERSION)), qPrintable(man.out));
}

QStringList TestInstallPackage::commandsOfHelp()
{
    const Run help = RunProgram(bin(QStringLiteral("vtfilemgr-cli")), {QStringLiteral("--help")},
                                userEnvironment());
    const QString list =
        help.out.section(QStringLiteral("Commands:\n"), 1).section(QStringLiteral("\n\n"), 0, 0);
    QStringList commands;
    // A command's line starts two columns in; a summary that goes on to
    // another line goes on further in.
    for (const QString& line : list.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (line.startsWith(QLatin1String("  ")) && line.at(2) != u' ')
            commands << line.trimmed().section(QLatin1Char(' '), 0, 0);
    return commands;
}

void TestInstallPackage::cliManPageHasEveryCommand()
{
    const QStringList commands = commandsOfHelp();
    QVERIFY2(commands.size() >= 9, qPrintable(commands.join(u' ')));
    QProcessEnvironment env = userEnvironment();
    env.insert(QStringLiteral("MANWIDTH"), QStringLiteral("80"));
    const Run man = RunProgram(
        QStringLiteral("man"),
        {QStringLiteral("-l"), usr(QStringLiteral("share/man/man1/vtfilemgr-cli.1.gz"))}, env);
    QVERIFY2(man.code == 0, qPrintable(Describe(man)));
    // A subsection per command under COMMANDS, each with its options.
    const QString commandsSection = man.out.section(QStringLiteral("\nCOMMANDS\n"), 1);
    for (const QString& command : commands) {
        const QRegularExpression heading(QStringLiteral("^   %1\\n").arg(command),
                                         QRegularExpression::MultilineOption);
        QVERIFY2(heading.match(commandsSection).hasMatch(), qPrintable(command));
    }
}

void TestInstallPackage::adminInitMakesABbs()
{
    const QString home = m_dir.path() + QStringLiteral("/fresh");
    const Run init =
        RunProgram(bin(QStringLiteral("wcsrv-admin")),
                   {QStringLiteral("--home"), home, QStringLiteral("init")}, userEnvironment());
    QVERIFY2(init.code == 0, qPrintable(Describe(init)));
    QVERIFY(QFile::exists(home + QStringLiteral("/wcsrv.db")));
    const Run areas =
        RunProgram(bin(QStringLiteral("wcsrv-admin")),
                   {QStringLiteral("--home"), home, QStringLiteral("area"), QStringLiteral("list")},
                   userEnvironment());
    QVERIFY2(areas.code == 0, qPrintable(Describe(areas)));
}

void TestInstallPackage::cliListsTheDemo()
{
    const Run list = RunProgram(bin(QStringLiteral("vtfilemgr-cli")),
                                {QStringLiteral("--home"), m_demo, QStringLiteral("list"),
                                 QStringLiteral("--areas"), QStringLiteral("all")},
                                userEnvironment());
    QVERIFY2(list.code == 0, qPrintable(Describe(list)));
    // The demo holds about 600 records in 12 areas: one line each, as the
    // filtered listing shows them ("   1: NAME").
    const QStringList lines = list.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QVERIFY2(lines.size() >= 300, qPrintable(list.out.left(2000)));
    const QRegularExpression line(QStringLiteral("^ *\\d+: \\S"));
    QSet<QString> areas;
    for (const QString& l : lines) {
        QVERIFY2(line.match(l).hasMatch(), qPrintable(l));
        areas << l.section(QLatin1Char(':'), 0, 0).trimmed();
    }
    QCOMPARE(areas.size(), 12);
}

void TestInstallPackage::programShowsMainWindow()
{
    // The settings in the per-user folder: an installed copy keeps them
    // there, also where it could write beside itself (this unpacked root is
    // writable). With them the main window shows without the setup window.
    const QString userFolder = m_dir.path() + QStringLiteral("/home/.config/vtfile");
    QVERIFY(QDir().mkpath(userFolder));
    const QByteArray settings =
        "[General]\nSysopName=Pat Sysop\nwcHomeDir=" + QFile::encodeName(m_demo) +
        "/\n[Tools]\nZipViewer_Prg1=true\n";
    QVERIFY(WriteFile(userFolder + QStringLiteral("/vuru.cfg"), settings));

    QProcessEnvironment env = userEnvironment();
    env.insert(QStringLiteral("WCSRV_HOME"), m_demo);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Qt's painting log names each top-level window it puts on the screen.
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.widgets.painting=true"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(bin(QStringLiteral("vtfilemgr")), {});
    QVERIFY(program.waitForStarted());

    const QRegularExpression mainWindowShown(QStringLiteral(
        "Syncing QRegion\\([^)]*\\) of TFileMgr\\(0x[0-9a-f]+, name=\"FileMgr\"\\)"));
    QString log;
    QElapsedTimer clock;
    clock.start();
    while (!mainWindowShown.match(log).hasMatch() && program.state() == QProcess::Running &&
           clock.elapsed() < 120000) {
        program.waitForReadyRead(200);
        log += QString::fromLocal8Bit(program.readAllStandardError());
    }
    const bool shown = mainWindowShown.match(log).hasMatch();
    // A failed login closes the window 1.5 seconds after it shows; a missing
    // zip library ends the program before. It still runs after 3 seconds.
    if (shown)
        QTest::qWait(3000);
    const bool running = program.state() == QProcess::Running;
    log += QString::fromLocal8Bit(program.readAllStandardError());
    program.terminate();
    if (!program.waitForFinished(10000)) {
        program.kill();
        program.waitForFinished();
    }
    log += QString::fromLocal8Bit(program.readAllStandardError());
    const QString messages = log.split(QLatin1Char('\n'))
                                 .filter(QRegularExpression(QStringLiteral("^(?!qt\\.widgets)")))
                                 .join(QLatin1Char('\n'));
    QVERIFY2(shown, qPrintable(messages));
    QVERIFY2(running, qPrintable(messages));
    QVERIFY2(!log.contains(QStringLiteral("TSetupDlg(")), "the setup window opened");
    // Nothing was written beside the program; the settings are as written.
    QCOMPARE(QDir(usr(QStringLiteral("bin"))).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             (QStringList{QStringLiteral("vtfilemgr"), QStringLiteral("vtfilemgr-cli"),
                          QStringLiteral("wcsrv-admin")}));
    QCOMPARE(ReadFile(userFolder + QStringLiteral("/vuru.cfg")), settings);
}

QStringList TestInstallPackage::complete(const QStringList& words)
{
    // What bash does on Tab: the script registers its function, which reads
    // COMP_WORDS and COMP_CWORD and leaves its words in COMPREPLY.
    const QString script = QStringLiteral(
        "source \"$1\"; shift\n"
        "[[ $(complete -p vtfilemgr-cli) == 'complete -F _vtfilemgr_cli vtfilemgr-cli' ]] || "
        "exit 3\n"
        "COMP_WORDS=(\"$@\"); COMP_CWORD=$(($# - 1))\n"
        "_vtfilemgr_cli\n"
        "printf '%s\\n' \"${COMPREPLY[@]}\"\n");
    QStringList args{QStringLiteral("--norc"),
                     QStringLiteral("--noprofile"),
                     QStringLiteral("-c"),
                     script,
                     QStringLiteral("bash"),
                     usr(QStringLiteral("share/bash-completion/completions/vtfilemgr-cli"))};
    args << words;
    QProcess bash;
    bash.setWorkingDirectory(m_dir.path());
    bash.start(QStringLiteral("bash"), args);
    if (!bash.waitForFinished(30000) || bash.exitCode() != 0)
        return {QStringLiteral("bash failed: ") +
                QString::fromLocal8Bit(bash.readAllStandardError())};
    QStringList reply = QString::fromLocal8Bit(bash.readAllStandardOutput())
                            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    reply.sort();
    return reply;
}

void TestInstallPackage::completion_data()
{
    QTest::addColumn<QStringList>("words");
    QTest::addColumn<QStringList>("offered");
    QTest::newRow("command") << QStringList{"vtfilemgr-cli", "li"} << QStringList{"list"};
    QTest::newRow("command after global options")
        << QStringList{"vtfilemgr-cli", "--home", "/srv/bbs", "--log", "x.log", "du"}
        << QStringList{"dupes"};
    QTest::newRow("global option")
        << QStringList{"vtfilemgr-cli", "--h"} << QStringList{"--help", "--home"};
    QTest::newRow("list options") << QStringList{"vtfilemgr-cli", "list", "--f"}
                                  << QStringList{"--filter", "--format"};
    QTest::newRow("list --format") << QStringList{"vtfilemgr-cli", "list", "--format", ""}
                                   << QStringList{"csv", "json", "text"};
    QTest::newRow("dupes options")
        << QStringList{"vtfilemgr-cli", "dupes", "--d"} << QStringList{"--delete", "--dry-run"};
    QTest::newRow("dupes --by") << QStringList{"vtfilemgr-cli", "dupes", "--by", "c"}
                                << QStringList{"content"};
    QTest::newRow("dupes --keep") << QStringList{"vtfilemgr-cli", "dupes", "--keep", ""}
                                  << QStringList{"newest", "oldest"};
    QTest::newRow("dupes --areas takes no word")
        << QStringList{"vtfilemgr-cli", "dupes", "--areas", ""} << QStringList{};
    QTest::newRow("check options")
        << QStringList{"vtfilemgr-cli", "check", "--i"} << QStringList{"--integrity"};
    QTest::newRow("check --format")
        << QStringList{"vtfilemgr-cli", "check", "--format", ""} << QStringList{"json", "text"};
    QTest::newRow("export-desc --format")
        << QStringList{"vtfilemgr-cli", "export-desc", "--format", ""}
        << QStringList{"descript.ion", "files.bbs"};
    // The test's folder holds demo/, fresh/ (made before), home/ and root/.
    QTest::newRow("export-desc --out is a folder")
        << QStringList{"vtfilemgr-cli", "export-desc", "--out", "ro"} << QStringList{"root"};
}

void TestInstallPackage::completion()
{
    QFETCH(QStringList, words);
    QFETCH(QStringList, offered);
    QCOMPARE(complete(words), offered);
}

void TestInstallPackage::completionOffersEveryOption()
{
    // Every option that `COMMAND --help` lists is offered after the command.
    const QStringList commands = commandsOfHelp();
    QVERIFY(!commands.isEmpty());
    QCOMPARE(complete({QStringLiteral("vtfilemgr-cli"), QString()}), [&] {
        QStringList sorted = commands;
        sorted.sort();
        return sorted;
    }());
    const QRegularExpression option(QStringLiteral("^  (-[^\\s,]+)(?:, (--\\S+))?"),
                                    QRegularExpression::MultilineOption);
    for (const QString& command : commands) {
        const Run help = RunProgram(bin(QStringLiteral("vtfilemgr-cli")),
                                    {command, QStringLiteral("--help")}, userEnvironment());
        QVERIFY2(help.code == 0, qPrintable(Describe(help)));
        QStringList listed;
        auto it = option.globalMatch(help.out.section(QStringLiteral("\nOptions:\n"), 1));
        while (it.hasNext()) {
            const auto match = it.next();
            listed << match.captured(1);
            if (match.capturedLength(2) > 0)
                listed << match.captured(2);
        }
        QVERIFY2(listed.size() >= 2, qPrintable(command));
        const QStringList offered =
            complete({QStringLiteral("vtfilemgr-cli"), command, QStringLiteral("-")});
        QCOMPARE(SetOf(offered), SetOf(listed));
    }
}

void TestInstallPackage::desktopEntry()
{
    const QString entry = usr(QStringLiteral("share/applications/vtfilemgr.desktop"));
    const Run validate = RunProgram(QStringLiteral("desktop-file-validate"), {entry});
    QVERIFY2(validate.code == 0, qPrintable(Describe(validate)));
    QVERIFY2(!validate.out.contains(QStringLiteral("error:")), qPrintable(validate.out));
    const QString text = QString::fromUtf8(ReadFile(entry));
    QCOMPARE(KeyValue(text, QStringLiteral("Exec")), QStringLiteral("vtfilemgr"));
    QVERIFY(QFileInfo(bin(KeyValue(text, QStringLiteral("Exec")))).isExecutable());
    QCOMPARE(KeyValue(text, QStringLiteral("Icon")), QStringLiteral("vtfilemgr"));
    const QStringList categories =
        KeyValue(text, QStringLiteral("Categories")).split(u';', Qt::SkipEmptyParts);
    QVERIFY(categories.contains(QStringLiteral("System")));
    QVERIFY(categories.contains(QStringLiteral("Utility")));
}

void TestInstallPackage::icons_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("size");
    QTest::newRow("48") << "share/icons/hicolor/48x48/apps/vtfilemgr.png" << 48;
    QTest::newRow("256") << "share/icons/hicolor/256x256/apps/vtfilemgr.png" << 256;
    QTest::newRow("scalable") << "share/icons/hicolor/scalable/apps/vtfilemgr.svg" << 256;
}

void TestInstallPackage::icons()
{
    QFETCH(QString, path);
    QFETCH(int, size);
    if (path.endsWith(QLatin1String(".svg"))) {
        // An SVG document of the size the PNGs are drawn from.
        QXmlStreamReader svg(ReadFile(usr(path)));
        while (!svg.atEnd() && !svg.isStartElement())
            svg.readNext();
        QCOMPARE(svg.name().toString(), QStringLiteral("svg"));
        QCOMPARE(svg.attributes().value(QLatin1String("viewBox")).toString(),
                 QStringLiteral("0 0 %1 %1").arg(size));
        while (!svg.atEnd())
            svg.readNext();
        QVERIFY2(!svg.hasError(), qPrintable(svg.errorString()));
        return;
    }
    const QImage image(usr(path));
    QVERIFY(!image.isNull());
    QCOMPARE(image.size(), QSize(size, size));
    QVERIFY(image.hasAlphaChannel());
}

void TestInstallPackage::filelistUnitRuns()
{
    // The example unit's command, with the BBS, the log folder and the
    // program put where this test has them, writes the file list.
    const QString unit = QString::fromUtf8(
        ReadFile(usr(QStringLiteral("share/doc/vtfile/examples/vtfile-filelist.service"))));
    const QString execStart = KeyValue(unit, QStringLiteral("ExecStart"));
    QVERIFY2(execStart.startsWith(QStringLiteral("/usr/bin/vtfilemgr-cli ")),
             qPrintable(execStart));
    const QString logFolder = m_dir.path() + QStringLiteral("/log");
    QVERIFY(QDir().mkpath(logFolder));
    QStringList args = execStart.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    const QString program = m_root + args.takeFirst();
    QString out;
    for (QString& arg : args) {
        arg.replace(QStringLiteral("/srv/bbs"), m_demo);
        arg.replace(QStringLiteral("/var/log/vtfile"), logFolder);
        if (arg.endsWith(QLatin1String("ALLFILES.TXT")))
            out = arg;
    }
    QVERIFY(!out.isEmpty());
    const Run run = RunProgram(program, args, userEnvironment());
    QVERIFY2(run.code == 0, qPrintable(Describe(run)));
    QVERIFY(QFileInfo(out).size() > 1000);
    QVERIFY(QFileInfo(logFolder + QStringLiteral("/vtfile.log")).size() > 0);
}

void TestInstallPackage::timersStartTheirServices_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("filelist") << "vtfile-filelist";
    QTest::newRow("tic") << "vtfile-tic";
}

void TestInstallPackage::timersStartTheirServices()
{
    // A timer starts the service of its own name; both are examples of
    // vtfilemgr-cli runs.
    QFETCH(QString, name);
    const QString examples = usr(QStringLiteral("share/doc/vtfile/examples/"));
    const QString timer = QString::fromUtf8(ReadFile(examples + name + QStringLiteral(".timer")));
    QVERIFY(!KeyValue(timer, QStringLiteral("OnCalendar")).isEmpty());
    QCOMPARE(KeyValue(timer, QStringLiteral("WantedBy")), QStringLiteral("timers.target"));
    const QString service =
        QString::fromUtf8(ReadFile(examples + name + QStringLiteral(".service")));
    QCOMPARE(KeyValue(service, QStringLiteral("Type")), QStringLiteral("oneshot"));
    QVERIFY(KeyValue(service, QStringLiteral("ExecStart"))
                .startsWith(QStringLiteral("/usr/bin/vtfilemgr-cli ")));
}

QTEST_GUILESS_MAIN(TestInstallPackage)
#include "test_install_package.moc"
