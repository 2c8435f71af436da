#include "calvexcloudclient.h"

#include "cloudtrust.h"
#include "mqtterrors.h"
#include "reportqueue.h"

#include "qcredentialstore.h"
#include "settingskeys.h"

#include <QDateTime>
#include <QEventLoop>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QSslConfiguration>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>

namespace {
constexpr int ReconnectInterval = 10000;
constexpr int DefaultKeepAlive = 120;
constexpr int StopStepMs = 250;
constexpr int StopSteps = 10;
// Reports are acknowledged by the broker.
constexpr quint8 ReportQos = 1;

const QRegularExpression &updateTopicPattern()
{
    static const QRegularExpression re(
        QRegularExpression::anchoredPattern(QStringLiteral("things/(.*)/update")));
    return re;
}

const QRegularExpression &stateTopicPattern()
{
    static const QRegularExpression re(
        QRegularExpression::anchoredPattern(QStringLiteral("things/(.*)/state")));
    return re;
}

bool isFatalRefusal(int code)
{
    return code == QMqttConnection::MqttUnacceptableProtocolVersionError ||
           code == QMqttConnection::MqttIdentifierRejectedError ||
           code == QMqttConnection::MqttBadUserNameOrPasswordError ||
           code == QMqttConnection::MqttNotAuthorizedError;
}
} // namespace

CalvexCloudClient::CalvexCloudClient(QObject *parent)
    : QObject(parent), m_lastError(QStringLiteral("no error"))
{
    qRegisterMetaType<CalvexCloudClient::SSLStatus>("CalvexCloudClient::SSLStatus");
    qRegisterMetaType<MqttMessage>("MqttMessage");
    qRegisterMetaType<QMqttConnection::ClientError>("QMqttConnection::ClientError");
    qRegisterMetaType<OutboxBacklog>("OutboxBacklog");
    m_reports = new ReportQueue([this] { return connected(); }, this);
    connect(m_reports, &ReportQueue::backlogChanged, this, &CalvexCloudClient::backlogChanged);
    // What a previous run left waiting is shown from the start; a client made for a moment (the
    // credential operations) never opens the database.
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_reports->outbox();
            m_reports->announceBacklog();
        },
        Qt::QueuedConnection);
}

CalvexCloudClient::~CalvexCloudClient()
{
    // Whoever listens may be half destroyed by now (usually the owner itself): stay silent.
    blockSignals(true);
    if (connected())
        stopClient();
    delete m_client;
    m_client = nullptr;
}

QString CalvexCloudClient::updateTopic(const QString &tid)
{
    return QStringLiteral("things/%1/update").arg(tid);
}

QString CalvexCloudClient::stateTopic(const QString &tid)
{
    return QStringLiteral("things/%1/state").arg(tid);
}

QString CalvexCloudClient::errorText(int code)
{
    return clientErrorText(code);
}

bool CalvexCloudClient::connected() const
{
    return m_client && m_client->isConnectedToHost();
}

bool CalvexCloudClient::connectToBroker(const QString &clientId, int keepAlive, const QString &host,
                                        quint16 port)
{
    if (m_client)
        stopClient();
    m_reportedFailure.clear();
    // A connection refused before it starts is a failure like any other: whoever shows the
    // reason of the last failure must learn this one too.
    if (clientId.isEmpty()) {
        m_lastError = tr("clientid cannot be empty");
        reportFailure();
        return false;
    }
    applyOutboxSettings();
    if (keepAlive <= 0)
        keepAlive = DefaultKeepAlive;
    // MQTT carries the keep-alive in 16 bits; longer periods are capped rather than wrapped around.
    keepAlive = qMin(keepAlive, 0xffff);

    QString missing;
    const QSslConfiguration tls = CloudTrust::clientConfiguration(&missing);
    if (!missing.isEmpty()) {
        m_lastError = missing;
        reportFailure();
        return false;
    }

    m_client = new QMqttConnection(QStringLiteral("localhost"), port, tls, false, this);
    m_client->setAutoReconnectInterval(ReconnectInterval);
    m_client->setAutoReconnect(true);
    m_client->setCleanSession(true);

    connect(m_client, &QMqttConnection::connected, this, &CalvexCloudClient::client_connected);
    connect(m_client, &QMqttConnection::disconnected, this, &CalvexCloudClient::client_disconnected);
    connect(m_client, &QMqttConnection::error, this, &CalvexCloudClient::client_error);
    connect(m_client, &QMqttConnection::subscribed, this, &CalvexCloudClient::client_subscribed);
    connect(m_client, &QMqttConnection::unsubscribed, this, &CalvexCloudClient::client_unsubscribed);
    connect(m_client, &QMqttConnection::published, this, &CalvexCloudClient::client_published);
    connect(m_client, &QMqttConnection::received, this, &CalvexCloudClient::client_received);

    m_client->setHostName(host);
    m_client->setPort(port);
    m_client->setKeepAlive(quint16(keepAlive));
    m_client->setClientId(clientId);
    m_client->setUsername(clientId);
    m_client->connectToHost();
    return true;
}

bool CalvexCloudClient::reconnectNow()
{
    if (!m_client)
        return false;
    // A new round tears down the current session (announcing the disconnection if there was one).
    m_client->connectToHost();
    return true;
}

void CalvexCloudClient::stopClient()
{
    if (m_client) {
        // Detach first: anything that runs while we wait below sees no client, so a stop queued
        // by a refusal or a new connect cannot trip over this one.
        QPointer<QMqttConnection> client = m_client;
        m_client = nullptr;
        QPointer<CalvexCloudClient> self = this;

        client->blockSignals(true);
        client->setAutoReconnect(false);
        m_topics.clear();
        if (client->socketState() != QAbstractSocket::UnconnectedState) {
            if (client->isConnectedToHost())
                client->disconnectFromHost();
            else
                client->abort();
        }
        for (int step = 0;
             step < StopSteps && client && client->socketState() != QAbstractSocket::UnconnectedState;
             ++step) {
            QEventLoop loop;
            QTimer::singleShot(StopStepMs, &loop, &QEventLoop::quit);
            loop.exec();
        }
        if (!self)
            return;
        if (client) {
            if (client->socketState() != QAbstractSocket::UnconnectedState) {
                qCritical("Could not stop MQTT client");
                client->abort();
            }
            client->blockSignals(false);
            client->deleteLater();
        }
        emit connectivityChanged(false);
    }
    // The reports in flight, if any, stay first in the outbox and go out again on the next
    // connection.
    forgetInFlight();
}

void CalvexCloudClient::forgetInFlight()
{
    m_reports->restart();
}

void CalvexCloudClient::subscribe(const QString &tid)
{
    const QString topic = updateTopic(tid);
    if (m_topics.contains(topic))
        return;
    m_topics.insert(topic);
    if (connected())
        m_client->subscribe(topic, 0);
}

void CalvexCloudClient::unsubscribe(const QString &tid)
{
    const QString topic = updateTopic(tid);
    if (!m_topics.remove(topic))
        return;
    if (connected())
        m_client->unsubscribe(topic);
}

void CalvexCloudClient::publish(const QString &tid, const QJsonObject &jdata)
{
    publish(tid, QJsonDocument(jdata).toJson(QJsonDocument::Compact));
}

void CalvexCloudClient::publish(const QString &tid, const QByteArray &data)
{
    m_reports->append(tid, data);
    if (connected())
        sendNextQueued();
    m_reports->scheduleCommit();
}

// Hands the next reports to the library, in queue order, while fewer than the limit wait for their
// acknowledgements.
void CalvexCloudClient::sendNextQueued()
{
    if (!m_client || !m_client->canPublish())
        return;
    while (const Outbox::Entry *next = m_reports->nextToSend()) {
        if (m_recipientCheck && !m_recipientCheck(next->tid)) {
            qCritical("Dropped a report for %s, which this gateway no longer holds",
                      qUtf8Printable(next->tid));
        } else {
            MqttMessage message;
            message.topic = stateTopic(next->tid);
            message.payload = next->payload;
            message.qos = ReportQos;
            const qint64 id = next->id;
            const quint16 packet = m_client->publish(message);
            if (packet != 0) {
                m_reports->sent(packet, id);
                continue;
            }
            if (!m_client->canPublish())
                return; // the connection died: it waits for the next one
            // Refused while connected (a topic MQTT cannot carry): it would block every later report.
            qCritical("Dropped a report for %s that the MQTT library refused", qUtf8Printable(next->tid));
        }
        m_reports->drop(next->id);
    }
}

Outbox &CalvexCloudClient::outbox()
{
    return m_reports->outbox();
}

void CalvexCloudClient::applyOutboxSettings()
{
    m_reports->applySettings();
}

OutboxBacklog CalvexCloudClient::backlog()
{
    return m_reports->backlog();
}

void CalvexCloudClient::discardBacklog()
{
    m_reports->discard();
}

int CalvexCloudClient::inFlightLimit() const
{
    return m_reports->inFlightLimit();
}

int CalvexCloudClient::inFlight() const
{
    return m_reports->inFlight();
}

void CalvexCloudClient::client_connected()
{
    m_reportedFailure.clear();
    forgetInFlight();
    emit connectivityChanged(true);
    if (!m_client)
        return;
    for (const QString &topic : qAsConst(m_topics))
        m_client->subscribe(topic, 0);
    sendNextQueued();
}

void CalvexCloudClient::client_disconnected()
{
    // What was in flight may or may not have reached the broker: it goes again, first, in order.
    forgetInFlight();
    emit connectivityChanged(false);
}

void CalvexCloudClient::client_error(QMqttConnection::ClientError error)
{
    const auto *connection = qobject_cast<const QMqttConnection *>(sender());
    const QString reason = connection ? connection->errorReason() : QString();
    m_lastError =
        reason.isEmpty() ? errorText(int(error)) : errorText(int(error)) + QLatin1String(": ") + reason;
    reportFailure();
    if (!isFatalRefusal(int(error)))
        return;
    // Stop from the event loop, and only the connection that was refused.
    QPointer<QMqttConnection> refused = m_client;
    QTimer::singleShot(0, this, [this, refused]() {
        if (refused && refused == m_client)
            stopClient();
    });
}

void CalvexCloudClient::reportFailure()
{
    if (m_lastError == m_reportedFailure)
        return;
    m_reportedFailure = m_lastError;
    qCritical("MQTT connection failed: %s", qUtf8Printable(m_lastError));
    emit connectionFailed(m_lastError);
}

void CalvexCloudClient::client_subscribed(const QString &topic)
{
    Q_UNUSED(topic)
}

void CalvexCloudClient::client_unsubscribed(const QString &topic)
{
    Q_UNUSED(topic)
}

void CalvexCloudClient::client_published(const MqttMessage &message)
{
    m_reports->acknowledged(message.id);
    const QRegularExpressionMatch match = stateTopicPattern().match(message.topic);
    if (match.hasMatch())
        emit messagePublished(match.captured(1));
    sendNextQueued();
}

void CalvexCloudClient::client_received(const MqttMessage &message)
{
    const QRegularExpressionMatch match = updateTopicPattern().match(message.topic);
    if (match.hasMatch())
        emit messageReceived(match.captured(1), message.payload);
    else
        m_lastError = QStringLiteral("Received message from invalid topic ") + message.topic;
}

// Credential store ------------------------------------------------------------------------------

namespace {
template <typename Parse> CalvexCloudClient::SSLStatus fileStatus(const char *name, Parse parse)
{
    QByteArray content;
    switch (QCredentialStore::readFile(QLatin1String(name), &content)) {
    case QCredentialStore::ReadResult::Missing:
        return CalvexCloudClient::FileMissing;
    case QCredentialStore::ReadResult::Unreadable:
        return CalvexCloudClient::FileCorrupt;
    case QCredentialStore::ReadResult::Read:
        break;
    }
    return parse(content) ? CalvexCloudClient::Ok : CalvexCloudClient::CryptoInv;
}
} // namespace

bool CalvexCloudClient::storeCredentials(const QByteArray &certificatePem, const QByteArray &keyPem)
{
    // Both are checked before either file is touched, so a bad pair never replaces a good one.
    const QSslKey key(keyPem, QSsl::Rsa, QSsl::Pem, QSsl::PrivateKey);
    if (key.isNull()) {
        m_lastError = tr("Key is invalid");
        return false;
    }
    const QSslCertificate certificate(certificatePem, QSsl::Pem);
    if (certificate.isNull()) {
        m_lastError = tr("Invalid certificate file");
        return false;
    }
    switch (QCredentialStore::writePair(QLatin1String(QCredentialStore::KeyFile),
                                        key.toPem(QCredentialStore::passPhrase()),
                                        QLatin1String(QCredentialStore::CertFile), certificate.toPem())) {
    case 0:
        return true;
    case 1:
        m_lastError = tr("Cannot save the key to disk");
        return false;
    default:
        m_lastError = tr("Cannot save the certificate to disk");
        return false;
    }
}

CalvexCloudClient::SSLStatus CalvexCloudClient::keyStatus() const
{
    return fileStatus(QCredentialStore::KeyFile,
                      [](const QByteArray &pem) { return !QCredentialStore::keyFromPem(pem).isNull(); });
}

CalvexCloudClient::SSLStatus CalvexCloudClient::certStatus() const
{
    return fileStatus(QCredentialStore::CertFile, [](const QByteArray &pem) {
        return !QCredentialStore::certificateFromPem(pem).isNull();
    });
}

QByteArray CalvexCloudClient::exportCertificate() const
{
    const QSslCertificate certificate = QCredentialStore::storedCertificate();
    return certificate.isNull() ? QByteArray() : certificate.toDer();
}

QByteArray CalvexCloudClient::exportKey() const
{
    // Unencrypted, so that a backup does not depend on the built-in pass phrase.
    const QSslKey key = QCredentialStore::storedKey();
    return key.isNull() ? QByteArray() : key.toDer();
}

bool CalvexCloudClient::importCertificate(const QByteArray &der)
{
    const QSslCertificate certificate(der, QSsl::Der);
    if (certificate.isNull())
        return false;
    return QCredentialStore::writeFile(QLatin1String(QCredentialStore::CertFile), certificate.toPem());
}

bool CalvexCloudClient::importKey(const QByteArray &der)
{
    const QSslKey key(der, QSsl::Rsa, QSsl::Der, QSsl::PrivateKey);
    if (key.isNull())
        return false;
    return QCredentialStore::writeFile(QLatin1String(QCredentialStore::KeyFile),
                                       key.toPem(QCredentialStore::passPhrase()));
}

void CalvexCloudClient::removeCredentials()
{
    QCredentialStore::removeFile(QLatin1String(QCredentialStore::KeyFile));
    QCredentialStore::removeFile(QLatin1String(QCredentialStore::CertFile));
}
