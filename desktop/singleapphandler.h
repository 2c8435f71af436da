#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;
class QSharedMemory;

// Keeps the gateway to one running process per user. The first process (the primary) holds a
// one-byte shared-memory segment and listens on a local socket; a later process finds the segment,
// hands its message to the primary over the socket and exits. One message per connection, ending
// in "\n".
class SingleAppHandler : public QObject
{
    Q_OBJECT

public:
    explicit SingleAppHandler(QObject *parent = nullptr);
    ~SingleAppHandler() override;

    // True when this process is the first instance; the server then listens.
    bool isPrimary();
    // Delivers msg to the primary instance; gives up silently after 500 ms without a connection.
    void sendMessage(const QString &msg);

    // Names shared by every instance of one application run by one user.
    static QString key();
    static QString serverName();

signals:
    void incomingMessage(QString msg);

private slots:
    void processConnection();
    void processDisconnected();
    void clientReadyRead();

private:
    void readFrom(QLocalSocket *socket);

    QObject *m_app = nullptr;
    QSharedMemory *m_segment = nullptr;
    QLocalServer *m_server = nullptr;
    QHash<QLocalSocket *, QString> m_buffers;
};
