#pragma once

#include "mqttmessage.h"

#include <QAbstractSocket>
#include <QObject>
#include <QSslConfiguration>

// MQTT 3.1.1 client connection over TLS with a client certificate, driven by the owning thread's
// event loop. All calls must come from the thread the object lives on; every signal is emitted
// there too. While automatic reconnection is on, a lost or failed connection is retried every
// autoReconnectInterval() milliseconds.
class QMqttConnection : public QObject
{
    Q_OBJECT

public:
    // Socket-level errors count from 1 in the order of QAbstractSocket::SocketError; broker
    // refusals are 65535 + the CONNACK return code.
    enum ClientError {
        UnknownError = 0,
        SocketConnectionRefusedError,
        SocketRemoteHostClosedError,
        SocketHostNotFoundError,
        SocketAccessError,
        SocketResourceError,
        SocketTimeoutError,
        SocketDatagramTooLargeError,
        SocketNetworkError,
        SocketAddressInUseError,
        SocketAddressNotAvailableError,
        SocketUnsupportedSocketOperationError,
        SocketUnfinishedSocketOperationError,
        SocketProxyAuthenticationRequiredError,
        SocketSslHandshakeFailedError,
        SocketProxyConnectionRefusedError,
        SocketProxyConnectionClosedError,
        SocketProxyConnectionTimeoutError,
        SocketProxyNotFoundError,
        SocketProxyProtocolError,
        SocketOperationError,
        SocketSslInternalError,
        SocketSslInvalidUserDataError,
        SocketTemporaryError,
        MqttUnacceptableProtocolVersionError = 1 << 16,
        MqttIdentifierRejectedError,
        MqttServerUnavailableError,
        MqttBadUserNameOrPasswordError,
        MqttNotAuthorizedError,
    };
    Q_ENUM(ClientError)

    // tls carries the trusted CAs (the only trust anchors), the local certificate and its key.
    // The peer is always verified, including its host name, with TLS 1.2 as the minimum.
    QMqttConnection(const QString &host, quint16 port, const QSslConfiguration &tls, bool ignoreSelfSigned,
                    QObject *parent = nullptr);
    ~QMqttConnection() override;

    QString hostName() const;
    void setHostName(const QString &host);
    quint16 port() const;
    void setPort(quint16 port);
    quint16 keepAlive() const;
    void setKeepAlive(quint16 seconds);
    QString clientId() const;
    void setClientId(const QString &id);
    QString username() const;
    void setUsername(const QString &name);
    bool cleanSession() const;
    void setCleanSession(bool on);
    bool autoReconnect() const;
    void setAutoReconnect(bool on);
    int autoReconnectInterval() const;
    void setAutoReconnectInterval(int ms);

    void connectToHost();
    // Sends DISCONNECT and closes the socket; no reconnection follows.
    void disconnectFromHost();
    // Drops the socket at once without DISCONNECT; no reconnection follows.
    void abort();
    bool isConnectedToHost() const;
    // Connected, and the connection not found dead yet: its end may be known before disconnected()
    // arrives from the event loop, and publishing then fails.
    bool canPublish() const;
    // Why the last error() happened, in the TLS layer's words ("certificate has expired",
    // "hostname mismatch"), or the reason a TLS set-up was refused; empty when there is no such detail.
    QString errorReason() const;
    QAbstractSocket::SocketState socketState() const;

    quint16 subscribe(const QString &topic, quint8 qos = 0);
    void unsubscribe(const QString &topic);
    // With the message's QoS (0 or 1), no retain; published() follows from the event loop, never
    // before this returns: for QoS 1 once the broker acknowledged it. Returns the packet id, 0 when
    // not connected or the library refused the message.
    quint16 publish(const MqttMessage &message);

signals:
    void connected();
    void disconnected();
    void error(QMqttConnection::ClientError error);
    void subscribed(const QString &topic, quint8 qos);
    void unsubscribed(const QString &topic);
    void published(const MqttMessage &message, quint16 msgid);
    void received(const MqttMessage &message);

private:
    class Private;
    Private *d;
};
