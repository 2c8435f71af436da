#pragma once

#include "mqtt/qmqttconnection.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

// The gateway's connection to the cloud's MQTT broker (TLS with the gateway's client certificate)
// and the store of that certificate and its key. Things are addressed by their cloud id (tid):
// states go out on "things/<tid>/state", updates come in on "things/<tid>/update". Subscriptions
// are remembered and renewed on every connect; publishes wait in an ordered queue while offline.
// Lives on one thread; the MQTT connection is its child.
class CalvexCloudClient : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool connected READ connected NOTIFY connectivityChanged)

public:
    // Condition of one credential file.
    enum SSLStatus { Ok = 0, FileMissing = 1, FileCorrupt = 2, CryptoInv = 3 };
    Q_ENUM(SSLStatus)

    explicit CalvexCloudClient(QObject *parent = nullptr);
    ~CalvexCloudClient() override;

    // Starts connecting (the outcome arrives through connectivityChanged or lastError). False when
    // the client id is empty or the credentials cannot be loaded, reported as connectionFailed too.
    bool connectToBroker(const QString &clientId, int keepAlive, const QString &host, quint16 port);
    // Disconnects and disposes of the MQTT connection; forgets subscriptions and queued messages.
    void stopClient();
    bool connected() const;
    // Starts a new connection attempt at once, dropping the current connection or retry wait.
    // False when no connection was ever started (or it was stopped).
    bool reconnectNow();
    QString lastError() const { return m_lastError; }

    // Credential store. storeCredentials takes what the registrar sent (unencrypted PEM).
    bool storeCredentials(const QByteArray &certificatePem, const QByteArray &keyPem);
    SSLStatus keyStatus() const;
    SSLStatus certStatus() const;
    QByteArray exportCertificate() const;
    QByteArray exportKey() const;
    bool importCertificate(const QByteArray &der);
    bool importKey(const QByteArray &der);
    void removeCredentials();

    static QString updateTopic(const QString &tid);
    static QString stateTopic(const QString &tid);
    // Text of an MQTT connection error code.
    static QString errorText(int code);

signals:
    void connectivityChanged(bool on);
    void messageReceived(QString tid, QByteArray data);
    void messagePublished(QString tid);
    // A connection attempt failed or a connection was lost, with the last-error text (the TLS
    // layer's reason included, "handshake failed: certificate has expired"). Emitted only when the
    // text differs from the previous failure's, so a broker refusing every retry the same way is
    // reported once; a successful connection or a new connectToBroker starts over.
    void connectionFailed(const QString &text);

public slots:
    void subscribe(const QString &tid);
    void unsubscribe(const QString &tid);
    void publish(const QString &tid, const QJsonObject &jdata);
    void publish(const QString &tid, const QByteArray &data);

private slots:
    void client_connected();
    void client_disconnected();
    void client_error(QMqttConnection::ClientError error);
    void client_subscribed(const QString &topic);
    void client_unsubscribed(const QString &topic);
    void client_published(const MqttMessage &message);
    void client_received(const MqttMessage &message);

private:
    void sendNextQueued();
    void reportFailure();

    QMqttConnection *m_client = nullptr;
    QSet<QString> m_topics;
    QList<MqttMessage> m_queue;
    QString m_lastError;
    QString m_reportedFailure; // the text connectionFailed last carried
};
