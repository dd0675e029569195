#include "archive/ClamdClient.h"

#include "common/FileUtils.h"

#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace
{

// Longest answer kept: a signature name, a version text or an error line.
constexpr qsizetype MaxAnswerBytes = 4096;

QString Errno(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Milliseconds left of `budget` since `clock` started (0 when none).
int Left(const QElapsedTimer& clock, int budget)
{
    const qint64 left = qint64(budget) - clock.elapsed();
    return left > 0 ? int(left) : 0;
}

// One conversation with the daemon: a non-blocking socket whose every wait
// goes through poll with a bound.
class Connection
{
public:
    Connection(const QString& socketPath, const ClamdTimeouts& timeouts)
        : m_path(socketPath), m_timeouts(timeouts)
    {
    }

    // The text a failure starts with: the daemon and its socket.
    QString Where() const { return QStringLiteral("clamd on %1").arg(m_path); }
    const QString& Error() const { return m_error; }

    bool Connect()
    {
        const QByteArray path = QFile::encodeName(m_path);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path) {
            m_error = Where() + QStringLiteral(": the socket name is empty or too long");
            return false;
        }
        std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
        m_fd = std::make_unique<Descriptor>(
            ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        if (m_fd->get() < 0) {
            m_error = Where() + QStringLiteral(": ") + Errno(errno);
            return false;
        }
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            if (::connect(m_fd->get(), reinterpret_cast<const sockaddr*>(&address),
                          sizeof address) == 0)
                return true;
            const int error = errno;
            if (error == EINTR)
                continue;
            if (error == EINPROGRESS) {
                if (!Wait(POLLOUT, Left(clock, m_timeouts.connectMs), m_timeouts.connectMs))
                    return false;
                int soError = 0;
                socklen_t length = sizeof soError;
                if (::getsockopt(m_fd->get(), SOL_SOCKET, SO_ERROR, &soError, &length) != 0)
                    soError = errno;
                if (soError == 0)
                    return true;
                m_error = Where() + QStringLiteral(": ") + Errno(soError);
                return false;
            }
            // A Unix socket whose listen queue is full refuses with EAGAIN:
            // try again until the connect time is up.
            if (error == EAGAIN && Left(clock, m_timeouts.connectMs) > 0) {
                ::usleep(10000);
                continue;
            }
            m_error = Where() + QStringLiteral(": ") +
                      (error == EAGAIN ? QStringLiteral("no connection within %1 s")
                                             .arg(m_timeouts.connectMs / 1000.0)
                                       : Errno(error));
            return false;
        }
    }

    // Sends all of `data`. False when it can't; `answerWaiting` tells that
    // the daemon has written (it answers early when it refuses a stream).
    bool Send(const char* data, qsizetype size, bool& answerWaiting)
    {
        answerWaiting = false;
        qsizetype done = 0;
        while (done < size) {
            pollfd p{m_fd->get(), short(POLLOUT | POLLIN), 0};
            const int ready = ::poll(&p, 1, m_timeouts.ioMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready < 0) {
                m_error = Where() + QStringLiteral(": ") + Errno(errno);
                return false;
            }
            if (ready == 0) {
                m_error = Where() +
                          QStringLiteral(": took no data for %1 s").arg(m_timeouts.ioMs / 1000.0);
                return false;
            }
            if (p.revents & POLLIN) {
                answerWaiting = true;
                return false;
            }
            const ssize_t n = ::send(m_fd->get(), data + done, std::size_t(size - done),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                // A daemon that drops the stream (its size limit) still
                // leaves its answer to read.
                answerWaiting = errno == EPIPE || errno == ECONNRESET;
                m_error = Where() + QStringLiteral(": ") + Errno(errno);
                return false;
            }
            done += n;
        }
        return true;
    }

    bool Send(const QByteArray& data)
    {
        bool answerWaiting = false;
        return Send(data.constData(), data.size(), answerWaiting);
    }

    // Reads the answer up to its NUL (or the end of the connection), the
    // first byte within `firstMs`.
    bool ReadAnswer(QByteArray& answer, int firstMs)
    {
        answer.clear();
        char buffer[512];
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            const int budget = answer.isEmpty() ? Left(clock, firstMs) : m_timeouts.ioMs;
            pollfd p{m_fd->get(), POLLIN, 0};
            const int ready = ::poll(&p, 1, budget);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0) {
                m_error =
                    Where() +
                    (ready == 0 ? QStringLiteral(": no answer within %1 s")
                                      .arg((answer.isEmpty() ? firstMs : m_timeouts.ioMs) / 1000.0)
                                : QStringLiteral(": ") + Errno(errno));
                return false;
            }
            const ssize_t n = ::recv(m_fd->get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                // A reset after the answer was read still leaves the answer.
                if (!answer.isEmpty())
                    return true;
                m_error = Where() + QStringLiteral(": ") + Errno(errno);
                return false;
            }
            if (n == 0)
                break;
            const char* end = static_cast<const char*>(std::memchr(buffer, '\0', std::size_t(n)));
            answer.append(buffer, end ? qsizetype(end - buffer) : qsizetype(n));
            if (answer.size() > MaxAnswerBytes) {
                answer.truncate(MaxAnswerBytes);
                break;
            }
            if (end)
                break;
        }
        if (answer.isEmpty()) {
            m_error = Where() + QStringLiteral(": the connection ended without an answer");
            return false;
        }
        while (answer.endsWith('\n') || answer.endsWith('\r'))
            answer.chop(1);
        return true;
    }

private:
    bool Wait(short events, int ms, int budget)
    {
        for (;;) {
            pollfd p{m_fd->get(), events, 0};
            const int ready = ::poll(&p, 1, ms);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready > 0)
                return true;
            m_error =
                Where() + (ready == 0
                               ? QStringLiteral(": no connection within %1 s").arg(budget / 1000.0)
                               : QStringLiteral(": ") + Errno(errno));
            return false;
        }
    }

    QString m_path;
    ClamdTimeouts m_timeouts;
    std::unique_ptr<Descriptor> m_fd;
    QString m_error;
};

// A one-line command and its answer.
bool Ask(const QString& socketPath, const ClamdTimeouts& timeouts, const QByteArray& command,
         QByteArray& answer, QString& error, bool& connected)
{
    Connection c(socketPath, timeouts);
    connected = c.Connect();
    if (!connected || !c.Send(command) || !c.ReadAnswer(answer, timeouts.ioMs)) {
        error = c.Error();
        return false;
    }
    return true;
}

} // namespace

ClamdClient::ClamdClient(const QString& socketPath, ClamdTimeouts timeouts)
    : m_socket(socketPath), m_timeouts(timeouts)
{
}

bool ClamdClient::ping(QString* message) const
{
    QByteArray answer;
    QString error;
    bool connected = false;
    if (!Ask(m_socket, m_timeouts, QByteArray("zPING", 6), answer, error, connected)) {
        if (message)
            *message = error;
        return false;
    }
    if (answer == "PONG")
        return true;
    if (message)
        *message = QStringLiteral("clamd on %1: answered \"%2\" to PING")
                       .arg(m_socket, QString::fromUtf8(answer));
    return false;
}

ClamdVersion ClamdClient::version() const
{
    ClamdVersion v;
    QByteArray answer;
    bool connected = false;
    if (!Ask(m_socket, m_timeouts, QByteArray("zVERSION", 9), answer, v.message, connected))
        return v;
    parseVersionAnswer(answer, v);
    v.ok = answer.startsWith("ClamAV ");
    if (!v.ok)
        v.message = QStringLiteral("clamd on %1: answered \"%2\" to VERSION")
                        .arg(m_socket, QString::fromUtf8(answer));
    return v;
}

void ClamdClient::parseVersionAnswer(const QByteArray& answer, ClamdVersion& version)
{
    // "ClamAV 1.0.7/27480/Tue Dec 10 09:23:45 2024", or "ClamAV 1.4.6" when
    // the daemon loaded no versioned database.
    version.text = QString::fromUtf8(answer).trimmed();
    QString rest = version.text;
    if (rest.startsWith(QLatin1String("ClamAV ")))
        rest = rest.mid(7);
    const QStringList parts = rest.split(QLatin1Char('/'));
    version.engine = parts.value(0).trimmed();
    version.database = parts.value(1).trimmed();
    version.date = parts.size() > 2 ? parts.mid(2).join(QLatin1Char('/')).trimmed() : QString();
}

void ClamdClient::parseScanAnswer(const QByteArray& answer, ClamdScanResult& result,
                                  const QString& socketPath)
{
    result.answer = QString::fromUtf8(answer);
    QString text = result.answer.trimmed();
    // The reply names the stream it answers for ("stream: ...").
    if (text.startsWith(QLatin1String("stream: ")))
        text = text.mid(8);
    if (text == QLatin1String("OK")) {
        result.outcome = ClamdOutcome::Clean;
        result.message.clear();
        return;
    }
    if (text.endsWith(QLatin1String(" FOUND"))) {
        result.outcome = ClamdOutcome::Infected;
        result.signature = text.chopped(6).trimmed();
        result.message.clear();
        return;
    }
    if (text.contains(QLatin1String("size limit exceeded"), Qt::CaseInsensitive)) {
        result.outcome = ClamdOutcome::TooLarge;
        result.message = QStringLiteral("clamd on %1: the file is larger than the daemon's "
                                        "stream limit (StreamMaxLength)")
                             .arg(socketPath);
        return;
    }
    result.outcome = ClamdOutcome::Failed;
    result.message = QStringLiteral("clamd on %1: %2").arg(socketPath, result.answer);
}

ClamdScanResult ClamdClient::scanStream(const ReadFunction& read) const
{
    ClamdScanResult result;
    Connection c(m_socket, m_timeouts);
    if (!c.Connect()) {
        result.outcome = ClamdOutcome::Unreachable;
        result.message = c.Error();
        return result;
    }
    if (!c.Send(QByteArray("zINSTREAM", 10))) {
        result.message = c.Error();
        return result;
    }
    const qsizetype chunk = m_chunkBytes;
    // Each chunk goes with its length in front, in one buffer.
    QByteArray buffer(4 + chunk, '\0');
    bool answerWaiting = false;
    bool sent = true;
    for (;;) {
        QString readError;
        const qint64 n = read(buffer.data() + 4, chunk, readError);
        if (n < 0) {
            result.outcome = ClamdOutcome::ReadError;
            result.message =
                readError.isEmpty() ? QStringLiteral("the file can't be read") : readError;
            return result; // the connection closes without an end mark
        }
        const quint32 length = quint32(n);
        buffer[0] = char(length >> 24);
        buffer[1] = char(length >> 16);
        buffer[2] = char(length >> 8);
        buffer[3] = char(length);
        if (!c.Send(buffer.constData(), 4 + qsizetype(n), answerWaiting)) {
            sent = false;
            break;
        }
        if (n == 0)
            break;
        result.bytesSent += n;
    }
    if (!sent && !answerWaiting) {
        result.outcome = ClamdOutcome::Failed;
        result.message = c.Error();
        return result;
    }
    QByteArray answer;
    if (!c.ReadAnswer(answer, sent ? m_timeouts.answerMs : m_timeouts.ioMs)) {
        result.outcome = ClamdOutcome::Failed;
        result.message = c.Error();
        return result;
    }
    parseScanAnswer(answer, result, m_socket);
    // A daemon that stopped taking the stream without saying why did not
    // scan all of it, whatever it answers.
    if (!sent && result.scanned()) {
        result.outcome = ClamdOutcome::Failed;
        result.message =
            QStringLiteral("clamd on %1: the stream was cut off (%2)").arg(m_socket, result.answer);
    }
    return result;
}

ClamdScanResult ClamdClient::scanFile(const QString& path) const
{
    return scanFile(QFile::encodeName(path));
}

ClamdScanResult ClamdClient::scanFile(const QByteArray& path) const
{
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        ClamdScanResult result;
        result.outcome = ClamdOutcome::ReadError;
        result.message =
            QStringLiteral("%1 can't be opened: %2").arg(QFile::decodeName(path), Errno(errno));
        return result;
    }
    Descriptor file(fd);
    return scanStream([&](char* buffer, qint64 size, QString& error) -> qint64 {
        for (;;) {
            const ssize_t n = ::read(file.get(), buffer, std::size_t(size));
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                error = QStringLiteral("%1 can't be read: %2")
                            .arg(QFile::decodeName(path), Errno(errno));
            return qint64(n);
        }
    });
}

ClamdScanResult ClamdClient::scanBytes(const QByteArray& data) const
{
    qsizetype at = 0;
    return scanStream([&](char* buffer, qint64 size, QString&) -> qint64 {
        const qsizetype n = std::min<qsizetype>(qsizetype(size), data.size() - at);
        std::memcpy(buffer, data.constData() + at, std::size_t(n));
        at += n;
        return qint64(n);
    });
}

QString ClamdResultText(const ClamdScanResult& result)
{
    switch (result.outcome) {
    case ClamdOutcome::Clean:
        return QStringLiteral("clean");
    case ClamdOutcome::Infected:
        return QStringLiteral("infected: %1").arg(result.signature);
    case ClamdOutcome::TooLarge:
        return QStringLiteral("not scanned: too large for the daemon's stream limit");
    case ClamdOutcome::ReadError:
        return QStringLiteral("not scanned: a read error (%1)").arg(result.message);
    case ClamdOutcome::Unreachable:
        return QStringLiteral("not scanned: no daemon (%1)").arg(result.message);
    case ClamdOutcome::Failed:
        return QStringLiteral("not scanned: %1").arg(result.message);
    }
    return QString();
}
