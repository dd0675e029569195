// CopyServerFile between disk paths and server paths, and its failures.
#include "ManagerTestSupport.h"

#include "managers/CopyServerFile.h"
#include "managers/TProgressForm.h"
#include "platform/wcsrv/WcAdmin.h"
#include "platform/wcsrv/WcBlockWriter.h"
#include "platform/wcsrv/WcFault.h"
#include "server/ServerPath.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QByteArray Pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 4096) & 0xff);
    return bytes;
}

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A FIFO would block an open for reading until a writer comes: the process
// is killed after this long, so a hang fails the test instead of stalling it.
struct HangGuard {
    explicit HangGuard(unsigned seconds) { ::alarm(seconds); }
    ~HangGuard() { ::alarm(0); }
};

TProgressForm* OpenProgressForm()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* f = qobject_cast<TProgressForm*>(w); f && f->isVisible())
            return f;
    return nullptr;
}

} // namespace

class TestCopyServerFile : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<TestBbs> m_bbs;
    std::unique_ptr<ServerLogin> m_login;
    QTemporaryDir m_disk;

    QString diskPath(const QString& name) const { return QDir(m_disk.path()).filePath(name); }
    QString areaFile(int area, const QString& name) const
    {
        return QDir(m_bbs->areaFolder(area)).filePath(name);
    }

private slots:
    void init()
    {
        WcFaultReset();
        m_bbs = std::make_unique<TestBbs>();
        QVERIFY(m_bbs->ok());
        m_bbs->addArea(1, QStringLiteral("General"));
        m_bbs->addArea(2, QStringLiteral("Uploads"));
        // Area 3 keeps its files in area 1's folder.
        const std::string shared =
            wcadmin::AddArea(m_bbs->homeStd(), 3, "Shared", m_bbs->areaFolder(1).toStdString());
        QVERIFY2(shared.empty(), shared.c_str());
        m_login = std::make_unique<ServerLogin>();
        QVERIFY(m_login->ok());
        QVERIFY(m_disk.isValid());
    }

    void cleanup()
    {
        WcFaultReset();
        m_login.reset();
        m_bbs.reset();
    }

    void chunkConstant() { QCOMPARE(kCopyChunkSize, 4096); }

    void copies_data()
    {
        QTest::addColumn<bool>("fromServer");
        QTest::addColumn<bool>("toServer");
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("prefix");
        const QList<int> sizes{0, 100, 4096, 4097, 3 * 4096 + 5};
        for (int size : sizes) {
            for (int kind = 0; kind < 4; ++kind) {
                const bool fromServer = kind & 1, toServer = kind & 2;
                QTest::addRow("%s to %s, %d bytes", fromServer ? "server" : "disk",
                              toServer ? "server" : "disk", size)
                    << fromServer << toServer << size << QStringLiteral("wc:\\");
            }
        }
        QTest::newRow("capital WC:\\ prefix, server to server")
            << true << true << 5000 << QStringLiteral("WC:\\");
        QTest::newRow("mixed Wc:\\ prefix, disk to server")
            << false << true << 5000 << QStringLiteral("Wc:\\");
    }

    void copies()
    {
        QFETCH(bool, fromServer);
        QFETCH(bool, toServer);
        QFETCH(int, size);
        QFETCH(QString, prefix);
        const QByteArray content = Pattern(size);
        QString source, destination, destinationOnDisk;
        if (fromServer) {
            QFile f(areaFile(1, QStringLiteral("SOURCE.BIN")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), qint64(size));
            f.close();
            source = ServerFilePath(1, QStringLiteral("SOURCE.BIN"));
        } else {
            source = diskPath(QStringLiteral("source.bin"));
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), qint64(size));
        }
        if (toServer) {
            destination = ServerFilePath(2, QStringLiteral("COPY.BIN"));
            destinationOnDisk = areaFile(2, QStringLiteral("COPY.BIN"));
        } else {
            destination = destinationOnDisk = diskPath(QStringLiteral("copy.bin"));
        }
        source.replace(0, 4, fromServer ? prefix : source.left(4));
        destination.replace(0, 4, toServer ? prefix : destination.left(4));
        // An existing destination is replaced without a question.
        {
            QFile old(destinationOnDisk);
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write(QByteArray(3 * 4096 + 100, 'x'));
        }
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        QVERIFY(CopyServerFile(source, destination, QStringLiteral("Copying...")));
        QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.texts().join(u'|')));
        QCOMPARE(ReadAll(destinationOnDisk), content);
        QCOMPARE(OpenDescriptors(), descriptors);
        QVERIFY(!OpenProgressForm()); // closed before the result comes back
    }

    void missingSource_data()
    {
        QTest::addColumn<bool>("fromServer");
        QTest::newRow("disk") << false;
        QTest::newRow("server") << true;
    }

    void missingSource()
    {
        QFETCH(bool, fromServer);
        const QString source = fromServer ? ServerFilePath(1, QStringLiteral("NOTHERE.ZIP"))
                                          : diskPath(QStringLiteral("nothere.zip"));
        const QString destination = ServerFilePath(2, QStringLiteral("NOTHERE.ZIP"));
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        QVERIFY(!CopyServerFile(source, destination, QStringLiteral("Copying...")));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Opening: ") + source});
        QCOMPARE(dialogs.shown.first().kind, MessageKind::Warning);
        QCOMPARE(OpenDescriptors(), descriptors);
        QVERIFY(!m_bbs->fileOnDisk(2, QStringLiteral("NOTHERE.ZIP")));
    }

    void uncreatableDestination_data()
    {
        QTest::addColumn<QString>("destination");
        QTest::newRow("disk folder missing") << QStringLiteral("/nonexistent-folder/x/copy.bin");
        QTest::newRow("server area missing") << QStringLiteral("wc:\\file\\area(77)\\COPY.BIN");
        QTest::newRow("disk path over 260") << QStringLiteral("/tmp/") + QString(260, u'a');
    }

    void uncreatableDestination()
    {
        QFETCH(QString, destination);
        const QString source = diskPath(QStringLiteral("source.bin"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Pattern(5000));
        }
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        QVERIFY(!CopyServerFile(source, destination, QStringLiteral("Copying...")));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Creating: ") + destination});
        QCOMPARE(OpenDescriptors(), descriptors);
    }

    void copyOntoItselfIsRefused()
    {
        // Truncating the destination would empty the source first.
        const QString source = diskPath(QStringLiteral("self.bin"));
        const QByteArray content = Pattern(9000);
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        const QString sameFile = m_disk.path() + QStringLiteral("/./self.bin");
        DialogScript dialogs;
        QVERIFY(!CopyServerFile(source, sameFile, QStringLiteral("Copying...")));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Creating: ") + sameFile});
        QCOMPARE(ReadAll(source), content);
    }

    void failedWriteToServer()
    {
        const QString source = diskPath(QStringLiteral("source.bin"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Pattern(3 * 4096 + 10));
        }
        const QString destination = ServerFilePath(2, QStringLiteral("PART.BIN"));
        WcFaultFailKind("WcWriteFile", WC_ACCESS_DENIED);
        // While the warning is up, the progress window shows the copy.
        QString caption;
        int maximum = -1, value = -1;
        DialogScript dialogs;
        MessageHook script = SetMessageHook({});
        SetMessageHook([&](MessageKind kind, const QString& text, const QStringList& buttons) {
            if (TProgressForm* p = OpenProgressForm()) {
                caption = p->windowTitle();
                maximum = p->Bar->maximum();
                value = p->Bar->value();
            }
            return script(kind, text, buttons);
        });
        const int descriptors = OpenDescriptors();
        QVERIFY(!CopyServerFile(source, destination, QStringLiteral("Moving File...")));
        SetMessageHook(script);
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Writing new file")});
        QCOMPARE(caption, QStringLiteral("Moving File..."));
        QCOMPARE(maximum, 3);
        QCOMPARE(value, 1); // the first 4096 bytes were read when the write failed
        QCOMPARE(OpenDescriptors(), descriptors);
        // The destination was created and stays as it is.
        QVERIFY(m_bbs->fileOnDisk(2, QStringLiteral("PART.BIN")));
        QVERIFY(!OpenProgressForm());
    }

    // The bar moves in steps on a large file, but a message shows exactly
    // how far the copy came: here the 1502nd write of 5000 fails.
    void failedWriteShowsExactProgress()
    {
        const QString source = diskPath(QStringLiteral("big.bin"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Pattern(5000 * 4096));
        }
        int value = -1;
        DialogScript dialogs;
        MessageHook script = SetMessageHook({});
        SetMessageHook([&](MessageKind kind, const QString& text, const QStringList& buttons) {
            if (TProgressForm* p = OpenProgressForm())
                value = p->Bar->value();
            return script(kind, text, buttons);
        });
        // The kernel is refused (as on a host without the call), so the loop
        // writes chunk by chunk: the same-file look-up, the create and the
        // refused kernel copy, then the writes.
        WcFaultFailKind("WcCopyFromDiskFile", WC_NO_ACTION_TAKEN);
        WcFaultFailNth(3 + 1502, WC_ACCESS_DENIED);
        QVERIFY(!CopyServerFile(source, ServerFilePath(2, QStringLiteral("BIG.BIN")),
                                QStringLiteral("Copying...")));
        SetMessageHook(script);
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Writing new file")});
        QCOMPARE(value, 1502);
    }

    void failedWriteToFullDisk()
    {
        if (!QFile::exists(QStringLiteral("/dev/full")))
            QSKIP("no /dev/full on this host to make a write fail");
        const QString source = ServerFilePath(1, QStringLiteral("SOURCE.BIN"));
        {
            QFile f(areaFile(1, QStringLiteral("SOURCE.BIN")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Pattern(10000));
        }
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        QVERIFY(!CopyServerFile(source, QStringLiteral("/dev/full"), QStringLiteral("Copying...")));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Writing new file")});
        QCOMPARE(OpenDescriptors(), descriptors);
    }

    void failedRead_data()
    {
        QTest::addColumn<bool>("fromServer");
        QTest::newRow("server source") << true;
        QTest::newRow("disk source (a regular file whose reads fail)") << false;
    }

    void failedRead()
    {
        QFETCH(bool, fromServer);
        QString source;
        if (fromServer) {
            QFile f(areaFile(1, QStringLiteral("SOURCE.BIN")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(Pattern(10000));
            source = ServerFilePath(1, QStringLiteral("SOURCE.BIN"));
            WcFaultFailKind("WcReadFile", WC_ACCESS_DENIED);
        } else {
            // A regular file whose first bytes cannot be read: the memory
            // at address 0 of this process.
            source = QStringLiteral("/proc/self/mem");
            if (!QFileInfo(source).isFile())
                QSKIP("no /proc/self/mem: no disk file whose reads fail");
        }
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        QVERIFY(!CopyServerFile(source, diskPath(QStringLiteral("copy.bin")),
                                QStringLiteral("Copying...")));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Reading from file")});
        QVERIFY(QFile::exists(diskPath(QStringLiteral("copy.bin"))));
        QCOMPARE(OpenDescriptors(), descriptors);
    }

    // A copy whose source and destination are one file is refused before
    // anything is opened for writing, however the two paths name it; the
    // file keeps every byte and nothing else appears.
    void sameFileRefused_data()
    {
        QTest::addColumn<QString>("onDisk"); // the file, in area 1's folder
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("destination");
        const QString area1 = QStringLiteral("@1/");
        QTest::newRow("disk path in the area's folder to its server path")
            << "UPLOAD.ZIP" << area1 + "UPLOAD.ZIP"
            << "wc:\\file\\area(1)\\UPLOAD.ZIP";
        QTest::newRow("disk name in lower case to the server path")
            << "upload.zip" << area1 + "upload.zip"
            << "wc:\\file\\area(1)\\UPLOAD.ZIP";
        QTest::newRow("server path to the same name in other letter case")
            << "UPLOAD.ZIP"
            << "wc:\\file\\area(1)\\UPLOAD.ZIP"
            << "WC:\\FILE\\AREA(1)\\upload.zip";
        QTest::newRow("between two areas sharing a folder") << "UPLOAD.ZIP"
                                                            << "wc:\\file\\area(1)\\UPLOAD.ZIP"
                                                            << "wc:\\file\\area(3)\\Upload.Zip";
        QTest::newRow("server path to its disk path")
            << "upload.zip"
            << "wc:\\file\\area(3)\\UPLOAD.ZIP" << area1 + "upload.zip";
        QTest::newRow("disk path to a hard link of it")
            << "UPLOAD.ZIP" << area1 + "UPLOAD.ZIP" << area1 + "LINK.ZIP";
    }

    void sameFileRefused()
    {
        QFETCH(QString, onDisk);
        QFETCH(QString, source);
        QFETCH(QString, destination);
        const QString folder = m_bbs->areaFolder(1) + QLatin1Char('/');
        source.replace(QStringLiteral("@1/"), folder);
        destination.replace(QStringLiteral("@1/"), folder);
        const QByteArray content = Pattern(3 * 4096 + 17);
        const QString file = folder + onDisk;
        {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), content.size());
        }
        if (destination.endsWith(QStringLiteral("LINK.ZIP")))
            QCOMPARE(::link(QFile::encodeName(file).constData(),
                            QFile::encodeName(destination).constData()),
                     0);
        const QStringList before = QDir(folder).entryList(QDir::Files);
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        QVERIFY(!CopyServerFile(source, destination, QStringLiteral("Copying...")));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Creating: ") + destination});
        QCOMPARE(OpenDescriptors(), descriptors);
        QCOMPARE(ReadAll(file), content);
        QCOMPARE(QDir(folder).entryList(QDir::Files), before);
        QVERIFY(!OpenProgressForm());
    }

    // A source that is not a regular file is refused like a missing one,
    // creates nothing, and never blocks (a FIFO waits for a writer).
    void nonRegularSourceRefused_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("fromServer");
        for (const char* kind : {"folder", "fifo", "device"}) {
            QTest::addRow("disk %s", kind) << QString::fromLatin1(kind) << false;
            QTest::addRow("server %s", kind) << QString::fromLatin1(kind) << true;
        }
    }

    void nonRegularSourceRefused()
    {
        QFETCH(QString, kind);
        QFETCH(bool, fromServer);
        const QString disk = fromServer ? areaFile(1, QStringLiteral("ODD.ZIP"))
                                        : diskPath(QStringLiteral("odd-") + kind);
        const QByteArray d = QFile::encodeName(disk);
        if (kind == QLatin1String("folder"))
            QVERIFY(QDir().mkdir(disk));
        else if (kind == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(d.constData(), 0644), 0);
        else if (fromServer)
            QCOMPARE(::symlink("/dev/zero", d.constData()), 0);
        const QString source = fromServer ? ServerFilePath(1, QStringLiteral("ODD.ZIP"))
                               : kind == QLatin1String("device") ? QStringLiteral("/dev/zero")
                                                                 : disk;
        const QString destination = ServerFilePath(2, QStringLiteral("ODD.ZIP"));
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        {
            HangGuard guard(20);
            QVERIFY(!CopyServerFile(source, destination, QStringLiteral("Copying...")));
        }
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Opening: ") + source});
        QCOMPARE(OpenDescriptors(), descriptors);
        QCOMPARE(QDir(m_bbs->areaFolder(2)).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList());
    }

    // The last block of the destination fails to store only when the
    // server closes the file, after every write reported success: the copy
    // fails, and the destination holds the blocks stored before it, not a
    // file of full length.
    void writeBehindFailureFailsCopy()
    {
        const qsizetype block = qsizetype(wcsrv::BlockWriter::kBlockBytes);
        const QByteArray content = Pattern(3 * block + 100);
        const QString source = diskPath(QStringLiteral("big.bin"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), content.size());
        }
        // Where the kernel cannot copy, the write-behind takes the chunks.
        WcFaultFailKind("WcCopyFromDiskFile", WC_NO_ACTION_TAKEN);
        WcFaultFailBlock(4);
        DialogScript dialogs;
        const int descriptors = OpenDescriptors();
        QVERIFY(!CopyServerFile(source, ServerFilePath(2, QStringLiteral("BIG.BIN")),
                                QStringLiteral("Copying...")));
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Writing new file")});
        QCOMPARE(OpenDescriptors(), descriptors);
        const QByteArray onDisk = ReadAll(areaFile(2, QStringLiteral("BIG.BIN")));
        QCOMPARE(onDisk.size(), 3 * block);
        QVERIFY(onDisk == content.left(onDisk.size()));
        QVERIFY(!OpenProgressForm());
    }

    void emptySourceShowsEmptyProgress()
    {
        const QString source = diskPath(QStringLiteral("empty.bin"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        DialogScript dialogs;
        QVERIFY(CopyServerFile(source, ServerFilePath(2, QStringLiteral("EMPTY.BIN")),
                               QStringLiteral("Copying...")));
        QVERIFY(dialogs.shown.isEmpty());
        QVERIFY(m_bbs->fileOnDisk(2, QStringLiteral("EMPTY.BIN")));
        QCOMPARE(QFileInfo(areaFile(2, QStringLiteral("EMPTY.BIN"))).size(), 0);
    }

    // Between two server files the kernel copies in large steps: a few
    // server calls instead of one per chunk. Where it is refused from the
    // start, or fails after its first step, the loop copies the rest; the
    // bytes are the same and the bar ends at its end either way.
    void serverToServerInsideTheKernel_data()
    {
        QTest::addColumn<QString>("kernel");
        QTest::newRow("kernel copy") << "works";
        QTest::newRow("kernel refuses") << "refuses";
        QTest::newRow("kernel fails after one step") << "fails later";
    }

    void serverToServerInsideTheKernel()
    {
        QFETCH(QString, kernel);
        const QByteArray content = Pattern(20 * 1024 * 1024 + 333);
        {
            QFile f(areaFile(1, QStringLiteral("BIG.BIN")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), content.size());
        }
        int maximum = -1, last = -1;
        struct Watch : CopyObserver {
            int& maximum;
            int& last;
            Watch(int& m, int& l) : maximum(m), last(l) {}
            void Begin(const QString&, int max) override { maximum = max; }
            void Progress(int chunks) override { last = chunks; }
            void Warn(const QString& text) override { QFAIL(qPrintable(text)); }
        } watch(maximum, last);
        if (kernel == u"refuses")
            WcFaultFailKind("WcCopyFileData", WC_NO_ACTION_TAKEN);
        else if (kernel == u"fails later")
            // The source's open, the destination's look-up and open, the
            // size and the first step; the second step fails.
            WcFaultFailNth(6, WC_ACCESS_DENIED);
        else
            WcFaultReset();
        QVERIFY(CopyServerFileWith(ServerFilePath(1, QStringLiteral("BIG.BIN")),
                                   ServerFilePath(2, QStringLiteral("COPY.BIN")),
                                   QStringLiteral("Copying..."), watch));
        const long calls = WcFaultCallCount();
        WcFaultReset();
        QCOMPARE(ReadAll(areaFile(2, QStringLiteral("COPY.BIN"))), content);
        QCOMPARE(maximum, int(content.size() / kCopyChunkSize));
        QCOMPARE(last, maximum);
        // A chunk at a time the writes alone would be 5,121 calls.
        if (kernel == u"works")
            QVERIFY2(calls < 20, qPrintable(QString::number(calls)));
        else
            QVERIFY2(calls > 2000, qPrintable(QString::number(calls)));
    }

    // Between a disk file and a server file the kernel copies as well,
    // through the disk file's descriptor, either way round; refused from
    // the start or failing after its first step, the loop copies the rest.
    // The bytes are the same and the bar ends at its end every way.
    void diskEndInsideTheKernel_data()
    {
        QTest::addColumn<bool>("fromDisk");
        QTest::addColumn<QString>("kernel");
        QTest::addColumn<int>("secondStep"); // the count of the kernel's second call
        for (const bool fromDisk : {true, false}) {
            const char* way = fromDisk ? "disk to server" : "server to disk";
            // From disk: the destination's look-up and open, the first step.
            // To disk: the source's open and size, the first step.
            const int second = 4;
            QTest::addRow("%s, kernel copy", way) << fromDisk << "works" << second;
            QTest::addRow("%s, kernel refuses", way) << fromDisk << "refuses" << second;
            QTest::addRow("%s, kernel fails after one step", way)
                << fromDisk << "fails later" << second;
        }
    }

    void diskEndInsideTheKernel()
    {
        QFETCH(bool, fromDisk);
        QFETCH(QString, kernel);
        QFETCH(int, secondStep);
        const QByteArray content = Pattern(20 * 1024 * 1024 + 333);
        const QString diskSource = diskPath(QStringLiteral("big.bin"));
        {
            QFile f(fromDisk ? diskSource : areaFile(1, QStringLiteral("BIG.BIN")));
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), content.size());
        }
        const QString source = fromDisk ? diskSource : ServerFilePath(1, QStringLiteral("BIG.BIN"));
        const QString destination = fromDisk ? ServerFilePath(2, QStringLiteral("COPY.BIN"))
                                             : diskPath(QStringLiteral("copy.bin"));
        const QString destinationOnDisk = fromDisk ? areaFile(2, QStringLiteral("COPY.BIN"))
                                                   : diskPath(QStringLiteral("copy.bin"));
        int maximum = -1, last = -1;
        struct Watch : CopyObserver {
            int& maximum;
            int& last;
            Watch(int& m, int& l) : maximum(m), last(l) {}
            void Begin(const QString&, int max) override { maximum = max; }
            void Progress(int chunks) override { last = chunks; }
            void Warn(const QString& text) override { QFAIL(qPrintable(text)); }
        } watch(maximum, last);
        if (kernel == u"refuses")
            WcFaultFailKind(fromDisk ? "WcCopyFromDiskFile" : "WcCopyToDiskFile",
                            WC_NO_ACTION_TAKEN);
        else if (kernel == u"fails later")
            WcFaultFailNth(secondStep, WC_ACCESS_DENIED);
        else
            WcFaultReset();
        const int descriptors = OpenDescriptors();
        QVERIFY(CopyServerFileWith(source, destination, QStringLiteral("Copying..."), watch));
        const long calls = WcFaultCallCount();
        WcFaultReset();
        QCOMPARE(OpenDescriptors(), descriptors);
        QCOMPARE(ReadAll(destinationOnDisk), content);
        QCOMPARE(maximum, int(content.size() / kCopyChunkSize));
        QCOMPARE(last, maximum);
        // The loop alone takes a server call per chunk written to a server
        // file (5,121) and per 256 KiB read from one (81); the kernel copy
        // takes one per 8 MiB.
        if (kernel == u"works")
            QVERIFY2(calls < 10, qPrintable(QString::number(calls)));
        else
            QVERIFY2(calls > 80, qPrintable(QString::number(calls)));
    }

    // A write that fails partway through the copy (the destination may not
    // grow past a size, as on a disk that is full there) fails it with the
    // loop's message, whether the kernel copied or the loop did; the
    // destination keeps a part of the source from its start, never its full
    // length. Where the kernel copied, it keeps exactly the bytes before the
    // limit, and the bar stands at the chunk that failed.
    void diskToServerFailsPartway_data()
    {
        QTest::addColumn<bool>("kernel");
        QTest::newRow("kernel copy") << true;
        QTest::newRow("kernel refused, write-behind") << false;
    }

    void diskToServerFailsPartway()
    {
        QFETCH(bool, kernel);
        const QByteArray content = Pattern(20 * 1024 * 1024);
        const QString source = diskPath(QStringLiteral("big.bin"));
        {
            QFile f(source);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(content), content.size());
        }
        // Past the first kernel step, in the middle of a chunk.
        constexpr qsizetype kLimit = 10 * 1024 * 1024 + 3 * 4096 + 100;
        if (!kernel)
            WcFaultFailKind("WcCopyFromDiskFile", WC_NO_ACTION_TAKEN);
        int value = -1;
        DialogScript dialogs;
        MessageHook script = SetMessageHook({});
        SetMessageHook([&](MessageKind kind, const QString& text, const QStringList& buttons) {
            if (TProgressForm* p = OpenProgressForm())
                value = p->Bar->value();
            return script(kind, text, buttons);
        });
        const int descriptors = OpenDescriptors();
        bool ok = true;
        long calls = 0;
        {
            FileSizeLimit limit(kLimit);
            QVERIFY(limit.ok());
            ok = CopyServerFile(source, ServerFilePath(2, QStringLiteral("BIG.BIN")),
                                QStringLiteral("Copying..."));
            calls = WcFaultCallCount();
        }
        SetMessageHook(script);
        WcFaultReset();
        QVERIFY(!ok);
        QCOMPARE(dialogs.texts(), QStringList{QStringLiteral("Error Writing new file")});
        QCOMPARE(OpenDescriptors(), descriptors);
        QVERIFY(!OpenProgressForm());
        const QByteArray onDisk = ReadAll(areaFile(2, QStringLiteral("BIG.BIN")));
        QVERIFY2(onDisk.size() > 0 && onDisk.size() <= kLimit,
                 qPrintable(QString::number(onDisk.size())));
        QVERIFY(onDisk == content.left(onDisk.size()));
        if (kernel) {
            // The kernel's two steps and the loop's one failing write.
            QVERIFY2(calls < 10, qPrintable(QString::number(calls)));
            QCOMPARE(onDisk.size(), kLimit);
            QCOMPARE(value, int(kLimit / kCopyChunkSize) + 1);
        } else {
            QVERIFY2(calls > 2000, qPrintable(QString::number(calls)));
        }
    }
};

VT_TEST_MAIN(TestCopyServerFile)
#include "test_copyserverfile.moc"
