// Program launches mapped to the shell's result codes.
#include "common/Launch.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestLaunch : public QObject
{
    Q_OBJECT
private slots:
    void resultCodes()
    {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = dir.path() + u'/';
        QFile plain(folder + QStringLiteral("readme.txt"));
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.write("not a program");
        plain.close();

        QCOMPARE(LaunchProgram(folder + QStringLiteral("wcFile.exe"), QString(), 5), 2);
        QCOMPARE(LaunchProgram(folder + QStringLiteral("missing/wcFile.exe"), QString(), 5), 3);
        QCOMPARE(LaunchProgram(folder + QStringLiteral("readme.txt"), QString(), 5), 11);
        QCOMPARE(LaunchProgram(QStringLiteral("no-such-program-anywhere"), QString(), 1), 2);
        // A home folder without its trailing separator runs together with the name.
        QCOMPARE(LaunchProgram(dir.path() + QStringLiteral("wcFile.exe"), QString(), 5), 2);
        QVERIFY(LaunchProgram(QStringLiteral("/bin/true"), folder + QStringLiteral("x.zip"), 1) >
                32);
    }

    void hookGetsFolderAndBoundedTexts()
    {
        QString program, params, folder;
        const LaunchHook old =
            SetLaunchHook([&](const QString& p, const QString& a, const QString& f) {
                program = p;
                params = a;
                folder = f;
                return 42;
            });
        QCOMPARE(LaunchProgram(QStringLiteral("/wc5/wcFile.exe"), QString(300, u'x'), 5), 42);
        SetLaunchHook(old);
        QCOMPARE(program, QStringLiteral("/wc5/wcFile.exe"));
        QCOMPARE(folder, QStringLiteral("/wc5/"));
        QCOMPARE(params.size(), 260);
    }
};

QTEST_GUILESS_MAIN(TestLaunch)
#include "test_launch.moc"
