// The write-behind of new files, on its own: what a failed block does to
// the writes after it and to the finish, with and without the thread.
#include "platform/wcsrv/WcBlockWriter.h"

#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

using wcsrv::BlockWriter;

class TestWcsrvBlockWriter : public QObject
{
    Q_OBJECT

private slots:
    void blocksStoredInOrder();
    void failedBlockStopsLaterWrites();
    void failedSmallFileShowsAtFinish();
};

namespace
{

QByteArray Pattern(qsizetype size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 1000) & 0xff);
    return data;
}

// A descriptor every positioned write fails on.
struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { (void)::pipe(fds); }
    ~Pipe()
    {
        ::close(fds[0]);
        ::close(fds[1]);
    }
};

} // namespace

void TestWcsrvBlockWriter::blocksStoredInOrder()
{
    QTemporaryDir dir;
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("out.bin")));
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    const QByteArray data = Pattern(11 * qsizetype(BlockWriter::kBlockBytes) + 77);
    {
        auto writer = BlockWriter::Create(fd);
        QVERIFY(writer);
        for (qsizetype off = 0; off < data.size(); off += 3000)
            QVERIFY(writer->Append(data.constData() + off,
                                   std::size_t(std::min<qsizetype>(3000, data.size() - off))));
        QCOMPARE(writer->Accepted(), off_t(data.size()));
        QVERIFY(writer->Finish());
        QVERIFY(!writer->Append("x", 1)); // nothing is taken after the finish
        QCOMPARE(::lseek(fd, 0, SEEK_CUR), off_t(data.size()));
    }
    ::close(fd);
    QFile f(QFile::decodeName(path));
    QVERIFY(f.open(QIODevice::ReadOnly));
    QVERIFY(f.readAll() == data);
}

void TestWcsrvBlockWriter::failedBlockStopsLaterWrites()
{
    Pipe pipe;
    QVERIFY(pipe.fds[1] >= 0);
    auto writer = BlockWriter::Create(pipe.fds[1]);
    QVERIFY(writer);
    const QByteArray block = Pattern(qsizetype(BlockWriter::kBlockBytes));
    // The first full block goes to the thread and fails there; within the
    // next blocks a write must say so, and the finish says so too.
    bool refused = false;
    for (int i = 0; i < 2 * BlockWriter::kBlocks && !refused; ++i)
        refused = !writer->Append(block.constData(), std::size_t(block.size()));
    QVERIFY(refused);
    QVERIFY(!writer->Append(block.constData(), 10));
    QVERIFY(!writer->Finish());
}

void TestWcsrvBlockWriter::failedSmallFileShowsAtFinish()
{
    Pipe pipe;
    QVERIFY(pipe.fds[1] >= 0);
    auto writer = BlockWriter::Create(pipe.fds[1]);
    QVERIFY(writer);
    QVERIFY(writer->Append("small", 5)); // collected, not yet written
    QVERIFY(!writer->Finish());
    QVERIFY(!writer->Finish()); // and stays failed
}

QTEST_GUILESS_MAIN(TestWcsrvBlockWriter)
#include "test_wcsrv_blockwriter.moc"
