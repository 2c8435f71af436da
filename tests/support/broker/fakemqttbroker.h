#pragma once

#include "testpki.h"

#include <QList>
#include <QPointer>
#include <QTcpServer>

class QTcpSocket;
class QTimer;

// A scripted stand-in for a broker on 127.0.0.1, for answers a real mosquitto will not give. Over
// TLS (server certificate TestPki::Localhost, client certificate required and checked against the
// test CA) it reads the client's CONNECT and answers with a CONNACK carrying the return code; after a
// refusal it closes the connection. After acceptance it answers every SUBSCRIBE (of one topic) with
// the SUBACK code set by setSubackCode() (0x80 is a refusal), UNSUBSCRIBE and PINGREQ as a broker
// would, and closes on DISCONNECT. Published messages are recorded and, unless acknowledgements are
// held back (setHoldAcks), swallowed without an acknowledgement.
// Other behaviours misbehave at the TCP or TLS level.
//
//   FakeMqttBroker fake;
//   fake.setReturnCode(5);
//   QVERIFY(fake.start());
//   connection.setPort(fake.port());
//
// Runs on the calling thread's event loop.
class FakeMqttBroker : public QTcpServer
{
    Q_OBJECT

public:
    enum Behaviour {
        AnswerConnack, // TLS, then CONNACK with returnCode()
        IgnoreConnect, // TLS, then never answers the CONNECT
        SilentTcp,     // accepts the TCP connection and never says anything
        CloseAtOnce,   // accepts the TCP connection and closes it at once
    };

    explicit FakeMqttBroker(QObject *parent = nullptr);
    ~FakeMqttBroker() override;

    void setBehaviour(Behaviour behaviour) { m_behaviour = behaviour; }
    void setReturnCode(int code) { m_returnCode = code; }
    void setSubackCode(int code) { m_subackCode = code; }
    // QoS 1 messages are acknowledged late and out of order: the PUBACKs held are sent every
    // periodMs, newest first. 0 (the default) never acknowledges.
    void setHoldAcks(int periodMs);

    // "topic payload" of every PUBLISH received, per accepted connection in order of arrival.
    const QList<QStringList> &publishes() const { return m_publishes; }
    // The most QoS 1 messages received and not acknowledged yet at any moment.
    int mostUnacknowledged() const { return m_mostUnacknowledged; }
    // Drops every client connection at once (no DISCONNECT, no acknowledgements still held).
    void dropClients();

    // Listens on a free 127.0.0.1 port.
    bool start();
    quint16 port() const { return serverPort(); }

    int connectionCount() const { return m_connections; }   // accepted TCP connections
    int connectPackets() const { return m_connectPackets; } // CONNECT packets received
    int disconnectPackets() const { return m_disconnectPackets; }

protected:
    void incomingConnection(qintptr descriptor) override;

private:
    void serve(QTcpSocket *socket);
    void readPackets(QTcpSocket *socket);

    Behaviour m_behaviour = AnswerConnack;
    int m_returnCode = 0;
    int m_subackCode = 0;
    int m_connections = 0;
    int m_connectPackets = 0;
    int m_disconnectPackets = 0;
    QList<QPointer<QTcpSocket>> m_sockets;
    QList<QStringList> m_publishes;
    struct HeldAck
    {
        QPointer<QTcpSocket> socket;
        QByteArray packetId;
    };
    QList<HeldAck> m_heldAcks;
    int m_mostUnacknowledged = 0;
    QTimer *m_ackTimer = nullptr;
};
