// What vtfilemgr-cli writes, run as the built program on a temporary BBS:
// record texts through the code page of the program's settings (or
// --config FILE, or --codepage) as UTF-8 in every format, the help texts,
// and no success line after a failed file list.
#include "common/CodePage.h"
#include "tests/cli/CliRun.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <cstring>
#include <memory>
#include <sys/stat.h>

Q_DECLARE_METATYPE(CodePage)

namespace
{

struct RawRun {
    int code = -1;
    QByteArray out, err;
};

// Runs `program` (the built one unless given) and keeps its output as bytes.
RawRun RunRaw(const QStringList& args, QString program = QString())
{
    if (program.isEmpty())
        program = qEnvironmentVariable("VT_BIN_DIR") + QStringLiteral("/vtfilemgr-cli");
    QProcess process;
    process.start(program, args);
    RawRun run;
    if (!process.waitForFinished(120000)) {
        process.kill();
        process.waitForFinished();
        return run;
    }
    run.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

// Bytes 1 to 255 in record-sized pieces: every byte a description can hold.
QList<QByteArray> EveryByte()
{
    QByteArray all;
    for (int b = 1; b <= 255; ++b)
        all.append(char(b));
    QList<QByteArray> pieces;
    for (qsizetype at = 0; at < all.size(); at += 75)
        pieces << all.mid(at, 75);
    return pieces;
}

const QByteArray kCafe("Caf\x82 \xB0\xB1\xB2"); // "Café ░▒▓" in code page 437

} // namespace

class TestCliTexts : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    QTemporaryDir m_dir;

    QStringList home() const { return {QStringLiteral("--home"), m_bbs->home()}; }
    QString writeConfig(const QByteArray& content)
    {
        const QString path = m_dir.filePath(QStringLiteral("other.cfg"));
        QFile f(path);
        f.open(QIODevice::WriteOnly);
        f.write(content);
        return path;
    }

private slots:
    void init()
    {
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("One"));
        m_bbs->addArea(2, QStringLiteral("Two"));
        const QList<QByteArray> pieces = EveryByte();
        for (int i = 0; i < pieces.size(); ++i)
            m_bbs->addFile(1, QStringLiteral("BYTES%1.ZIP").arg(i), nullptr, [&](FullFileRec& f) {
                std::memcpy(f.Rec.Description, pieces.at(i).constData(),
                            std::size_t(pieces.at(i).size()));
            });
        for (int area : {1, 2})
            m_bbs->addFile(area, QStringLiteral("CAFE.ZIP"), nullptr, [](FullFileRec& f) {
                std::memcpy(f.Rec.Description, kCafe.constData(), std::size_t(kCafe.size()));
                std::memcpy(f.Rec.Uploader.UserName, kCafe.constData(), std::size_t(kCafe.size()));
            });
    }

    void cleanup() { m_bbs.reset(); }

    // The code page comes from --codepage, else from the settings file
    // (--config FILE); every byte of every description is mapped by it.
    void codePageOfOutput_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("config"); // written to a file for --config
        QTest::addColumn<CodePage>("page");
        for (const CodePage page : AllCodePages)
            QTest::addRow("--codepage %s", qPrintable(CodePageName(page)))
                << QStringList{QStringLiteral("--codepage"), CodePageName(page)} << QByteArray()
                << page;
        QTest::newRow("--codepage in any case")
            << QStringList{QStringLiteral("--codepage"), QStringLiteral("LATIN1")} << QByteArray()
            << CodePage::Latin1;
        QTest::newRow("--config with 437")
            << QStringList() << QByteArray("[General]\r\nCodePage=437\r\n") << CodePage::Cp437;
        QTest::newRow("--config with 866")
            << QStringList() << QByteArray("[General]\nCodePage=866\n") << CodePage::Cp866;
        QTest::newRow("--config without the key")
            << QStringList() << QByteArray("[General]\nSysopName=A\n") << CodePage::Latin1;
        QTest::newRow("--codepage over --config")
            << QStringList{QStringLiteral("--codepage"), QStringLiteral("852")}
            << QByteArray("[General]\nCodePage=437\n") << CodePage::Cp852;
    }
    void codePageOfOutput()
    {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, config);
        QFETCH(CodePage, page);
        if (!config.isNull())
            options << QStringLiteral("--config") << writeConfig(config);
        const RawRun json = RunRaw(home() + options +
                                   QStringList{QStringLiteral("list"), QStringLiteral("--areas"),
                                               QStringLiteral("1"), QStringLiteral("--format"),
                                               QStringLiteral("json")});
        QCOMPARE(json.code, 0);
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(json.out, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        QMap<QString, QString> descriptions;
        for (const QJsonValue& v : document.array())
            descriptions.insert(v.toObject().value(QStringLiteral("name")).toString(),
                                v.toObject().value(QStringLiteral("description")).toString());
        const QList<QByteArray> pieces = EveryByte();
        QCOMPARE(descriptions.size(), pieces.size() + 1);
        for (int i = 0; i < pieces.size(); ++i)
            QCOMPARE(descriptions.value(QStringLiteral("BYTES%1.ZIP").arg(i)),
                     CodePageToString(page, pieces.at(i)));
        QCOMPARE(descriptions.value(QStringLiteral("CAFE.ZIP")), CodePageToString(page, kCafe));

        // csv and the duplicate listing in UTF-8 as well.
        const RawRun csv = RunRaw(home() + options +
                                  QStringList{QStringLiteral("list"), QStringLiteral("--areas"),
                                              QStringLiteral("2"), QStringLiteral("--format"),
                                              QStringLiteral("csv")});
        QCOMPARE(csv.code, 0);
        const QList<QByteArray> csvLines = csv.out.trimmed().split('\n');
        QCOMPARE(csvLines.size(), 2);
        QVERIFY2(csvLines.at(1).startsWith("2,CAFE.ZIP,"), csvLines.at(1).constData());
        QVERIFY2(csvLines.at(1).endsWith("," + CodePageToString(page, kCafe).toUtf8()),
                 csvLines.at(1).constData());
        // The areas hold records without files, as an offline folder would:
        // --allow-offline scans them all the same.
        const RawRun dupes = RunRaw(
            home() + options +
            QStringList{QStringLiteral("dupes"), QStringLiteral("--areas"), QStringLiteral("all"),
                        QStringLiteral("--by"), QStringLiteral("name"), QStringLiteral("--format"),
                        QStringLiteral("json"), QStringLiteral("--allow-offline")});
        QCOMPARE(dupes.code, 0);
        const QJsonObject found = QJsonDocument::fromJson(dupes.out, &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        const QJsonArray groups = found.value(QStringLiteral("groups")).toArray();
        QCOMPARE(groups.size(), 1);
        const QJsonArray records =
            groups.first().toObject().value(QStringLiteral("records")).toArray();
        QCOMPARE(records.size(), 2);
        for (const QJsonValue& r : records) {
            QCOMPARE(r.toObject().value(QStringLiteral("description")).toString(),
                     CodePageToString(page, kCafe));
            QCOMPARE(r.toObject().value(QStringLiteral("uploader")).toString(),
                     CodePageToString(page, kCafe));
        }
    }

    // Without --config the settings are the program's: vuru.cfg in the
    // folder of the program (a copy of the built one, in a folder of its
    // own).
    void settingsOfTheProgramFolder_data()
    {
        QTest::addColumn<QByteArray>("config"); // null: no vuru.cfg
        QTest::addColumn<CodePage>("page");
        QTest::newRow("no vuru.cfg") << QByteArray() << CodePage::Latin1;
        QTest::newRow("CodePage=437")
            << QByteArray("[General]\r\nCodePage=437\r\n") << CodePage::Cp437;
        QTest::newRow("CodePage=850")
            << QByteArray("[General]\r\nCodePage=850\r\n") << CodePage::Cp850;
    }
    void settingsOfTheProgramFolder()
    {
        QFETCH(QByteArray, config);
        QFETCH(CodePage, page);
        QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("vtfilemgr-cli"));
        QVERIFY(QFile::copy(qEnvironmentVariable("VT_BIN_DIR") + QStringLiteral("/vtfilemgr-cli"),
                            program));
        if (!config.isNull()) {
            QFile f(folder.filePath(QStringLiteral("vuru.cfg")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(config);
        }
        const RawRun json =
            RunRaw(home() + QStringList{QStringLiteral("list"), QStringLiteral("--areas"),
                                        QStringLiteral("2"), QStringLiteral("--format"),
                                        QStringLiteral("json")},
                   program);
        QCOMPARE(json.code, 0);
        const QJsonArray records = QJsonDocument::fromJson(json.out).array();
        QCOMPARE(records.size(), 1);
        QCOMPARE(records.first().toObject().value(QStringLiteral("description")).toString(),
                 CodePageToString(page, kCafe));
    }

    void badGlobalOptions_data()
    {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown code page")
            << QStringList{QStringLiteral("--codepage"), QStringLiteral("1252")}
            << QStringLiteral("unknown --codepage \"1252\"");
        QTest::newRow("missing settings file")
            << QStringList{QStringLiteral("--config"), QStringLiteral("<dir>/none.cfg")}
            << QStringLiteral("no such file");
        QTest::newRow("settings file a folder")
            << QStringList{QStringLiteral("--config"), QStringLiteral("<dir>")}
            << QStringLiteral("not a regular file");
        QTest::newRow("settings file a FIFO")
            << QStringList{QStringLiteral("--config"), QStringLiteral("<dir>/fifo.cfg")}
            << QStringLiteral("not a regular file");
    }
    void badGlobalOptions()
    {
        QFETCH(QStringList, options);
        QFETCH(QString, message);
        QCOMPARE(::mkfifo(QFile::encodeName(m_dir.filePath(QStringLiteral("fifo.cfg"))).constData(),
                          0600) == 0 ||
                     errno == EEXIST,
                 true);
        for (QString& option : options)
            option.replace(QStringLiteral("<dir>"), m_dir.path());
        const RawRun run = RunRaw(
            home() + options +
            QStringList{QStringLiteral("list"), QStringLiteral("--areas"), QStringLiteral("1")});
        QCOMPARE(run.code, 2);
        QVERIFY2(QString::fromUtf8(run.err).contains(message), run.err.constData());
        QVERIFY(run.out.isEmpty());
    }

    // The tool's help: the summaries in a column of their own, each a
    // sentence, nothing wider than 79 columns; every command's help ends
    // with a line end.
    void helpTexts()
    {
        const RawRun help = RunRaw({QStringLiteral("--help")});
        QCOMPARE(help.code, 0);
        const QStringList lines = QString::fromUtf8(help.out).split(u'\n');
        QVERIFY(help.out.endsWith('\n'));
        const qsizetype commands = lines.indexOf(QStringLiteral("Commands:"));
        QVERIFY(commands > 0);
        qsizetype column = -1;
        int summaries = 0;
        for (qsizetype i = commands + 1; i < lines.size() && !lines.at(i).isEmpty(); ++i) {
            const QString& line = lines.at(i);
            if (line.at(2) == u' ')
                continue; // a summary's second line
            const qsizetype end = line.indexOf(u' ', 2);
            const qsizetype start = line.indexOf(QRegularExpression(QStringLiteral("\\S")), end);
            QVERIFY2(start - end >= 2, qPrintable(line)); // not run into the name
            if (column < 0)
                column = start;
            QCOMPARE(start, column);
            QVERIFY2(line.at(start).isUpper(), qPrintable(line));
            ++summaries;
        }
        QVERIFY(summaries >= 9);
        for (const QString& line : lines)
            QVERIFY2(line.size() <= 79, qPrintable(line));
        QVERIFY(help.out.contains("--config FILE"));
        QVERIFY(help.out.contains("--codepage CP"));

        for (const char* command : {"filelist", "delete", "move", "list", "freshen", "import-desc",
                                    "export-desc", "addfiles", "dupes", "check"}) {
            const RawRun one = RunRaw({QString::fromLatin1(command), QStringLiteral("--help")});
            QCOMPARE(one.code, 0);
            QVERIFY2(one.out.endsWith(".\n"), one.out.constData());
            QVERIFY2(!one.out.contains("\n\n\n"), one.out.constData());
            const QStringList commandLines = QString::fromUtf8(one.out).split(u'\n');
            // The summary: a sentence on the line after the usage.
            const qsizetype blank = commandLines.indexOf(QString());
            QVERIFY(blank > 0 && blank + 1 < commandLines.size());
            QVERIFY2(commandLines.at(blank + 1).at(0).isUpper(), command);
            for (const QString& line : commandLines)
                QVERIFY2(line.size() <= 79, qPrintable(line));
        }
    }

    // A file list that could not be written is reported, and no line says
    // the records were listed.
    void failedFileListHasNoSuccessLine()
    {
        QFile plain(m_dir.filePath(QStringLiteral("plain")));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        const QString out = m_dir.filePath(QStringLiteral("plain/LIST.TXT"));
        const CliRun run =
            RunCli(home() + QStringList{QStringLiteral("filelist"), QStringLiteral("--areas"),
                                        QStringLiteral("all"), QStringLiteral("--out"), out});
        QCOMPARE(run.code, 1);
        QVERIFY2(run.err.contains(QStringLiteral("File Write Error!")), qPrintable(run.err));
        QVERIFY2(run.err.contains(QStringLiteral("could not be written whole")),
                 qPrintable(run.err));
        QVERIFY2(!run.out.contains(QStringLiteral("records listed")), qPrintable(run.out));
    }
};

VT_TEST_MAIN(TestCliTexts)
#include "test_cli_texts.moc"
