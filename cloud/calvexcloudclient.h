#pragma once

#include "mqtt/qmqttconnection.h"
#include "outbox.h"

class ReportQueue;

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>
#include <memory>
#include <vector>

class QTimer;

// The gateway's connection to the cloud's MQTT broker (TLS with the gateway's client certificate)
// and the store of that certificate and its key. Things are addressed by their cloud id (tid):
// states go out on "things/<tid>/state", updates come in on "things/<tid>/update". Subscriptions
// are remembered and renewed on every connect. Every state report enters the outbox (on disk) first
// and leaves it only when the broker has acknowledged it (QoS 1): reports go out strictly in order,
// up to Cloud/InFlight of them ahead of their acknowledgements, and a report may arrive twice only
// when it was in flight as a connection dropped. The outbox outlives stops, restarts and crashes.
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
    // Disconnects and disposes of the MQTT connection and forgets subscriptions; the outbox stays.
    void stopClient();
    bool connected() const;
    // Starts a new connection attempt at once, dropping the current connection or retry wait.
    // False when no connection was ever started (or it was stopped).
    bool reconnectNow();
    QString lastError() const { return m_lastError; }

    // The outbox: its database is opened at the first use (or right after construction, from the
    // event loop). Its bounds are the settings Cloud/OutboxMessages and Cloud/OutboxMB, read again at
    // every connect and by applyOutboxSettings, like Cloud/InFlight, the number of reports sent and
    // not acknowledged yet that may be out at once.
    Outbox &outbox();
    void applyOutboxSettings();
    int inFlightLimit() const;
    // Reports handed to the library and waiting for their acknowledgements.
    int inFlight() const;
    OutboxBacklog backlog();
    // Forgets every waiting report: the identity they were sent under is void.
    void discardBacklog();
    // Whether reports for a cloud id may still go out; a report for an id the gateway no longer
    // holds is dropped (and counted) when its turn comes. Without a check every id may.
    void setRecipientCheck(std::function<bool(const QString &tid)> check)
    {
        m_recipientCheck = std::move(check);
    }

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
    // The outbox's figures changed; at most once a second. Reports that have waited less than two
    // seconds on a working connection are on their way, not a backlog: they are not counted.
    void backlogChanged(const OutboxBacklog &backlog);

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
    // The connection ended: whatever it had in flight goes again, from the oldest report on.
    void forgetInFlight();

    QMqttConnection *m_client = nullptr;
    QSet<QString> m_topics;
    ReportQueue *m_reports; // the outbox and the reports in flight
    std::function<bool(const QString &)> m_recipientCheck;
    QString m_lastError;
    QString m_reportedFailure; // the text connectionFailed last carried
};
