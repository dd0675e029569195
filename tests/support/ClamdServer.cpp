#include "ClamdServer.h"

#include "archive/ClamdClient.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

namespace
{

// A socket path has room for about 100 bytes: a long TMPDIR can't hold it.
QString DaemonFolderTemplate()
{
    const QString temp = QDir::tempPath();
    const QString base = temp.size() <= 60 ? temp : QStringLiteral("/tmp");
    return base + QStringLiteral("/vtclamd-XXXXXX");
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size() &&
           f.flush();
}

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

ClamdServer::ClamdServer() : ClamdServer(Options{}) {}

ClamdServer::ClamdServer(const Options& options) : m_options(options), m_dir(DaemonFolderTemplate())
{
}

ClamdServer::~ClamdServer()
{
    stop();
}

QString ClamdServer::program()
{
    QString found = QStandardPaths::findExecutable(QStringLiteral("clamd"));
    if (found.isEmpty())
        found = QStandardPaths::findExecutable(
            QStringLiteral("clamd"),
            {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    return found;
}

QByteArray ClamdServer::eicar()
{
    // Put together at run time, so that no file of the source tree holds
    // the test string whole.
    return QByteArray("X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-") +
           QByteArray("STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
}

QByteArray ClamdServer::markedFileBytes()
{
    return QByteArray("This file is harmless: the test database lists its hash.\r\n");
}

QString ClamdServer::eicarSignature()
{
    return QStringLiteral("Vt.Test.Eicar.UNOFFICIAL");
}

QString ClamdServer::markedSignature()
{
    return QStringLiteral("Vt.Test.Marked.UNOFFICIAL");
}

QString ClamdServer::socketPath() const
{
    return m_dir.filePath(QStringLiteral("clamd.sock"));
}

QString ClamdServer::configPath() const
{
    return m_dir.filePath(QStringLiteral("clamd.conf"));
}

QString ClamdServer::log() const
{
    QString text = QString::fromUtf8(ReadFile(m_dir.filePath(QStringLiteral("clamd.log"))));
    if (m_process)
        text += QString::fromUtf8(m_process->readAll());
    return text;
}

bool ClamdServer::writeFiles()
{
    const QString db = m_dir.filePath(QStringLiteral("db"));
    const QString tmp = m_dir.filePath(QStringLiteral("tmp"));
    if (!QDir().mkpath(db) || !QDir().mkpath(tmp))
        return false;
    // Body signature: name, target type 0 (any file), offset * (anywhere),
    // the bytes in hex.
    const QByteArray ndb = "Vt.Test.Eicar:0:*:" + eicar().toHex() + '\n';
    // Hash signature: MD5, size, name.
    const QByteArray marked = markedFileBytes();
    const QByteArray hdb = QCryptographicHash::hash(marked, QCryptographicHash::Md5).toHex() + ':' +
                           QByteArray::number(marked.size()) + ":Vt.Test.Marked\n";
    // No User line: clamd keeps the user that starts it (root in a
    // container, the developer's own account elsewhere).
    const QByteArray conf = "Foreground yes\n"
                            "LocalSocket " +
                            QFile::encodeName(socketPath()) +
                            "\n"
                            "LocalSocketMode 600\n"
                            "DatabaseDirectory " +
                            QFile::encodeName(db) +
                            "\n"
                            "TemporaryDirectory " +
                            QFile::encodeName(tmp) +
                            "\n"
                            "LogFile " +
                            QFile::encodeName(m_dir.filePath(QStringLiteral("clamd.log"))) +
                            "\n"
                            "LogTime yes\n"
                            "StreamMaxLength " +
                            QByteArray::number(m_options.streamMaxLength) +
                            "\n"
                            "MaxThreads 4\n"
                            "SelfCheck 3600\n"
                            "Bytecode no\n";
    return WriteFile(db + QStringLiteral("/test.ndb"), ndb) &&
           WriteFile(db + QStringLiteral("/test.hdb"), hdb) && WriteFile(configPath(), conf);
}

bool ClamdServer::start(int waitMs)
{
    stop();
    m_error.clear();
    const QString clamd = program();
    if (clamd.isEmpty()) {
        m_error = QStringLiteral("clamd is not installed (Debian: clamav-daemon; "
                                 "tools/install-deps.sh installs it)");
        return false;
    }
    if (!m_dir.isValid() || !writeFiles()) {
        m_error = QStringLiteral("the daemon's folder can't be written: %1").arg(m_dir.path());
        return false;
    }
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::MergedChannels);
    // The daemon ends with the test program, even one killed outright.
    m_process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process->start(clamd, {QStringLiteral("--config-file=") + configPath()});
    if (!m_process->waitForStarted(10000)) {
        m_error = QStringLiteral("clamd did not start: %1").arg(m_process->errorString());
        m_process.reset();
        return false;
    }
    const ClamdClient client(socketPath(), ClamdTimeouts{1000, 2000, 2000});
    QDeadlineTimer deadline(waitMs);
    QString why;
    while (!deadline.hasExpired()) {
        if (m_process->state() != QProcess::Running) {
            m_error =
                QStringLiteral("clamd exited (code %1):\n%2").arg(m_process->exitCode()).arg(log());
            m_process.reset();
            return false;
        }
        if (QFile::exists(socketPath()) && client.ping(&why))
            return true;
        QThread::msleep(50);
    }
    m_error = QStringLiteral("clamd did not answer within %1 s (%2):\n%3")
                  .arg(waitMs / 1000)
                  .arg(why, log());
    stop();
    return false;
}

void ClamdServer::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(10000)) {
            m_process->kill();
            m_process->waitForFinished(5000);
        }
    }
    m_process.reset();
}

bool ClamdServer::running() const
{
    return m_process && m_process->state() == QProcess::Running;
}

qint64 ClamdServer::pid() const
{
    return running() ? m_process->processId() : 0;
}
