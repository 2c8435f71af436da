#include "singleapphandler.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSharedMemory>
#include <QSystemSemaphore>
#include <QThread>

#include <unistd.h>

namespace {
constexpr int ConnectTimeoutMs = 500;
constexpr int ConnectRetryMs = 20;
} // namespace

SingleAppHandler::SingleAppHandler(QObject *parent) : QObject(parent), m_app(parent) {}

SingleAppHandler::~SingleAppHandler()
{
    if (m_server) {
        const QList<QLocalSocket *> sockets = m_buffers.keys();
        m_buffers.clear();
        for (QLocalSocket *socket : sockets) {
            // Closing emits disconnected(); the buffers are already gone.
            socket->disconnect(this);
            if (socket->isValid())
                socket->close();
            socket->deleteLater();
        }
        m_server->close();
        delete m_server;
        m_server = nullptr;
    }
    if (m_segment) {
        m_segment->detach();
        delete m_segment;
        m_segment = nullptr;
    }
}

// The names hold the user id as well as the application name: each user runs an instance of their
// own, and never meets another user's segment or socket.
QString SingleAppHandler::key()
{
    const QString id = QCoreApplication::applicationName() + QLatin1Char(':') + QString::number(::getuid());
    return QString::fromLatin1(QCryptographicHash::hash(id.toUtf8(), QCryptographicHash::Sha256).toHex());
}

QString SingleAppHandler::serverName()
{
    return QStringLiteral("/tmp/") + key();
}

bool SingleAppHandler::isPrimary()
{
    if (m_segment)
        return m_server != nullptr;
    const QString name = key();
    bool primary = false;
    {
        QSystemSemaphore semaphore(name + QStringLiteral("_semaphore"), 1, QSystemSemaphore::Open);
        semaphore.acquire();

        // A segment left by a crashed instance goes away when its last user detaches.
        {
            QSharedMemory stale(name);
            if (stale.attach(QSharedMemory::ReadWrite))
                stale.detach();
        }

        m_segment = new QSharedMemory(name);
        if (m_segment->attach(QSharedMemory::ReadWrite)) {
            primary = false;
        } else if (m_segment->create(1, QSharedMemory::ReadWrite)) {
            primary = true;
        } else {
            // Created by another instance in the meantime: that one is the primary. Any other
            // failure leaves this process running unguarded rather than not at all.
            primary = m_segment->error() != QSharedMemory::AlreadyExists;
            if (!primary)
                m_segment->attach(QSharedMemory::ReadWrite);
        }
        semaphore.release();
    }
    if (!primary)
        return false;

    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, &SingleAppHandler::processConnection);
    const QString path = serverName();
    QLocalServer::removeServer(path);
    m_server->listen(path);
    return true;
}

void SingleAppHandler::sendMessage(const QString &msg)
{
    const QString path = serverName();
    // Only ever talk to a server of our own user.
    const QFileInfo info(path);
    if (info.exists() && info.ownerId() != ::getuid())
        return;
    // A primary that has just started may not listen yet: keep trying until the time is up.
    QLocalSocket socket;
    QElapsedTimer elapsed;
    elapsed.start();
    for (;;) {
        socket.connectToServer(path, QIODevice::ReadWrite);
        if (socket.waitForConnected(int(qMax<qint64>(ConnectTimeoutMs - elapsed.elapsed(), 0))))
            break;
        socket.abort();
        if (elapsed.elapsed() + ConnectRetryMs >= ConnectTimeoutMs)
            return;
        QThread::msleep(ConnectRetryMs);
    }
    socket.write((msg + QLatin1Char('\n')).toUtf8());
    socket.flush();
    if (socket.bytesToWrite() > 0)
        socket.waitForBytesWritten(ConnectTimeoutMs);
    socket.close();
}

void SingleAppHandler::processConnection()
{
    while (m_server && m_server->hasPendingConnections()) {
        QLocalSocket *socket = m_server->nextPendingConnection();
        connect(socket, SIGNAL(disconnected()), this, SLOT(processDisconnected()));
        connect(socket, SIGNAL(readyRead()), this, SLOT(clientReadyRead()));
        m_buffers.insert(socket, QString());
        // Data may have arrived before the connections above were made.
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void SingleAppHandler::processDisconnected()
{
    auto *socket = qobject_cast<QLocalSocket *>(sender());
    if (!socket)
        return;
    m_buffers.remove(socket);
    socket->deleteLater();
}

void SingleAppHandler::clientReadyRead()
{
    if (auto *socket = qobject_cast<QLocalSocket *>(sender()))
        readFrom(socket);
}

void SingleAppHandler::readFrom(QLocalSocket *socket)
{
    QByteArray chunk = socket->readAll();
    const int nul = chunk.indexOf('\0');
    if (nul >= 0)
        chunk.truncate(nul);
    QString &buffer = m_buffers[socket];
    buffer += QString::fromUtf8(chunk);
    const QString twoNewlines = QStringLiteral("\n\n");
    while (buffer.contains(twoNewlines))
        buffer.replace(twoNewlines, QStringLiteral("\n"));
    // An empty line carries no message; dropping it keeps the connection usable.
    if (buffer.startsWith(QLatin1Char('\n')))
        buffer.remove(0, 1);

    QStringList messages;
    int end;
    while ((end = buffer.indexOf(QLatin1Char('\n'))) >= 1) {
        messages << buffer.left(end);
        buffer.remove(0, end + 1);
    }
    // Emitted after the buffer is settled: a receiver may close the connection.
    for (const QString &message : qAsConst(messages))
        emit incomingMessage(message);
}
