#include "qmqttconnection.h"

#include "mqtterrors.h"
#include "mqttsession.h"

#include <QHash>
#include <QHostInfo>
#include <QPointer>
#include <QTimer>

namespace {

constexpr int MinKeepAlive = 5;         // libmosquitto refuses anything shorter
constexpr int MinReconnectMs = 100;     // never retry in a tight loop
constexpr int DisconnectFlushMs = 1000; // how long a DISCONNECT may take to leave

// Of the failures of several addresses, report the most telling one: anything beats "refused" or
// "unreachable", which is what the wrong address family of a host name usually gives.
bool moreTelling(int candidate, int current)
{
    auto weak = [](int code) {
        return code < 0 || code == QMqttConnection::SocketConnectionRefusedError ||
               code == QMqttConnection::SocketNetworkError ||
               code == QMqttConnection::SocketAddressNotAvailableError;
    };
    return current < 0 || (weak(current) && !weak(candidate));
}

} // namespace

class QMqttConnection::Private
{
public:
    enum Phase { Idle, LookingUp, Connecting, Connected, Closing, WaitingToRetry };

    explicit Private(QMqttConnection *q) : q(q) {}

    void startRound();
    void hostFound(quint64 gen, const QHostInfo &info);
    void tryNextAddress();
    void endRound(int error, const QString &reason);
    void reportError(int error, const QString &reason);
    void scheduleRetry();
    void teardown();
    void closeFinished();

    void sessionConnack(quint64 gen, int returnCode);
    void sessionFinished(quint64 gen, int errorCode, const QString &reason);
    void sessionPublished(quint64 gen, int mid);
    void sessionSubscribed(quint64 gen, int mid, int grantedQos);
    void sessionUnsubscribed(quint64 gen, int mid);
    void sessionReceived(quint64 gen, const MqttMessage &message);

    QMqttConnection *const q;
    QString host;
    quint16 port = 8883;
    QSslConfiguration tls;
    bool ignoreSelfSigned = false;
    int keepAlive = 300;
    QString clientId;
    QString username;
    bool cleanSession = true;
    bool autoReconnect = false;
    int reconnectMs = 10000;

    Phase phase = Idle;
    quint64 generation = 0; // bumped whenever an attempt starts or is dropped
    MqttSession *session = nullptr;
    bool refused = false; // the broker answered the current attempt with a refusal
    QList<QHostAddress> addresses;
    int nextAddress = 0;
    int roundError = MqttSession::NoError;
    QString roundReason;
    QString errorReason; // detail of the last error reported
    QTimer *retryTimer = nullptr;
    QTimer *closeTimer = nullptr;
    QHash<int, MqttMessage> pendingPublishes;
    QHash<int, QString> pendingSubscribes;
    QHash<int, QString> pendingUnsubscribes;
};

// ----- connection attempts

void QMqttConnection::Private::startRound()
{
    teardown();
    phase = LookingUp;
    roundError = MqttSession::NoError;
    roundReason.clear();
    addresses.clear();
    nextAddress = 0;
    const quint64 gen = generation;
    if (host.isEmpty()) {
        QMetaObject::invokeMethod(
            q, [this, gen] { hostFound(gen, QHostInfo()); }, Qt::QueuedConnection);
        return;
    }
    QHostInfo::lookupHost(host, q, [this, gen](const QHostInfo &info) { hostFound(gen, info); });
}

void QMqttConnection::Private::hostFound(quint64 gen, const QHostInfo &info)
{
    if (gen != generation || phase != LookingUp)
        return;
    addresses = info.error() == QHostInfo::NoError ? info.addresses() : QList<QHostAddress>();
    if (addresses.isEmpty()) {
        endRound(SocketHostNotFoundError, QString());
        return;
    }
    tryNextAddress();
}

void QMqttConnection::Private::tryNextAddress()
{
    MqttSession::Options options;
    options.peerName = host;
    options.address = addresses.at(nextAddress++);
    options.port = port;
    options.keepAlive = qMax(keepAlive, MinKeepAlive);
    options.clientId = clientId;
    options.username = username;
    options.cleanSession = cleanSession;
    options.tls = tls;
    options.ignoreSelfSigned = ignoreSelfSigned;

    refused = false;
    phase = Connecting;
    session = new MqttSession(++generation, q);
    QObject::connect(session, &MqttSession::connack, q, [this](quint64 g, int rc) { sessionConnack(g, rc); });
    QObject::connect(session, &MqttSession::finished, q,
                     [this](quint64 g, int e, const QString &why) { sessionFinished(g, e, why); });
    QObject::connect(session, &MqttSession::published, q,
                     [this](quint64 g, int mid) { sessionPublished(g, mid); });
    QObject::connect(session, &MqttSession::subscribed, q,
                     [this](quint64 g, int mid, int qos) { sessionSubscribed(g, mid, qos); });
    QObject::connect(session, &MqttSession::unsubscribed, q,
                     [this](quint64 g, int mid) { sessionUnsubscribed(g, mid); });
    QObject::connect(session, &MqttSession::received, q,
                     [this](quint64 g, const MqttMessage &m) { sessionReceived(g, m); });
    session->start(options);
}

// Every address failed (or the name did not resolve): report once and wait for the next round.
void QMqttConnection::Private::endRound(int error, const QString &reason)
{
    teardown();
    scheduleRetry();
    reportError(error < 0 ? UnknownError : error, reason);
}

void QMqttConnection::Private::reportError(int error, const QString &reason)
{
    errorReason = reason;
    emit q->error(ClientError(error));
}

void QMqttConnection::Private::scheduleRetry()
{
    if (autoReconnect) {
        phase = WaitingToRetry;
        retryTimer->start(qMax(reconnectMs, MinReconnectMs));
    } else {
        phase = Idle;
    }
}

// Drops the current attempt or connection at once; its late events are ignored from now on.
void QMqttConnection::Private::teardown()
{
    ++generation;
    // A running host lookup is left to finish: aborting one leaks its record in Qt 5, and its
    // result is dropped by the generation check (or never delivered once the connection is gone).
    retryTimer->stop();
    closeTimer->stop();
    if (session) {
        session->shutdown();
        session->deleteLater();
        session = nullptr;
    }
    pendingPublishes.clear();
    pendingSubscribes.clear();
    pendingUnsubscribes.clear();
    phase = Idle;
}

void QMqttConnection::Private::closeFinished()
{
    teardown();
    emit q->disconnected();
}

// ----- events of the current session

void QMqttConnection::Private::sessionConnack(quint64 gen, int returnCode)
{
    if (gen != generation || phase != Connecting)
        return;
    if (returnCode == 0) {
        phase = Connected;
        emit q->connected();
        return;
    }
    // The socket closes right after a refusal; finished() follows and schedules the retry.
    refused = true;
    reportError(connackError(returnCode), QString());
}

void QMqttConnection::Private::sessionFinished(quint64 gen, int errorCode, const QString &reason)
{
    if (gen != generation)
        return;
    const Phase was = phase;
    if (was == Closing) {
        closeFinished();
        return;
    }
    if (was == Connected) {
        teardown();
        scheduleRetry();
        QPointer<QMqttConnection> guard(q);
        if (errorCode != MqttSession::NoError)
            reportError(errorCode, reason);
        if (guard && gen + 1 == generation)
            emit q->disconnected();
        return;
    }
    if (refused) { // already reported with the CONNACK
        teardown();
        scheduleRetry();
        return;
    }
    if (moreTelling(errorCode, roundError)) {
        roundError = errorCode;
        roundReason = reason;
    }
    if (nextAddress < addresses.size()) {
        session->shutdown();
        session->deleteLater();
        session = nullptr;
        tryNextAddress();
        return;
    }
    endRound(roundError, roundReason);
}

void QMqttConnection::Private::sessionPublished(quint64 gen, int mid)
{
    if (gen != generation)
        return;
    const auto it = pendingPublishes.find(mid);
    if (it == pendingPublishes.end())
        return;
    const MqttMessage message = it.value();
    pendingPublishes.erase(it);
    emit q->published(message, quint16(mid));
}

void QMqttConnection::Private::sessionSubscribed(quint64 gen, int mid, int grantedQos)
{
    if (gen != generation || !pendingSubscribes.contains(mid))
        return;
    const QString topic = pendingSubscribes.take(mid);
    if (grantedQos < 0 || grantedQos > 2) {
        qCWarning(lcMqtt) << "broker refused the subscription to" << topic;
        return;
    }
    emit q->subscribed(topic, quint8(grantedQos));
}

void QMqttConnection::Private::sessionUnsubscribed(quint64 gen, int mid)
{
    if (gen != generation || !pendingUnsubscribes.contains(mid))
        return;
    emit q->unsubscribed(pendingUnsubscribes.take(mid));
}

void QMqttConnection::Private::sessionReceived(quint64 gen, const MqttMessage &message)
{
    if (gen == generation && phase == Connected)
        emit q->received(message);
}

// ----- public interface

QMqttConnection::QMqttConnection(const QString &host, quint16 port, const QSslConfiguration &tls,
                                 bool ignoreSelfSigned, QObject *parent)
    : QObject(parent), d(new Private(this))
{
    qRegisterMetaType<MqttMessage>();
    qRegisterMetaType<QMqttConnection::ClientError>();
    d->host = host;
    d->port = port;
    d->tls = tls;
    d->ignoreSelfSigned = ignoreSelfSigned;
    d->retryTimer = new QTimer(this);
    d->retryTimer->setSingleShot(true);
    connect(d->retryTimer, &QTimer::timeout, this, [this] { d->startRound(); });
    d->closeTimer = new QTimer(this);
    d->closeTimer->setSingleShot(true);
    connect(d->closeTimer, &QTimer::timeout, this, [this] { d->closeFinished(); });
}

QMqttConnection::~QMqttConnection()
{
    d->teardown();
    delete d;
    d = nullptr;
}

QString QMqttConnection::hostName() const
{
    return d->host;
}
void QMqttConnection::setHostName(const QString &host)
{
    d->host = host;
}
quint16 QMqttConnection::port() const
{
    return d->port;
}
void QMqttConnection::setPort(quint16 port)
{
    d->port = port;
}
quint16 QMqttConnection::keepAlive() const
{
    return quint16(d->keepAlive);
}
void QMqttConnection::setKeepAlive(quint16 seconds)
{
    d->keepAlive = seconds;
}
QString QMqttConnection::clientId() const
{
    return d->clientId;
}
void QMqttConnection::setClientId(const QString &id)
{
    d->clientId = id;
}
QString QMqttConnection::username() const
{
    return d->username;
}
void QMqttConnection::setUsername(const QString &name)
{
    d->username = name;
}
bool QMqttConnection::cleanSession() const
{
    return d->cleanSession;
}
void QMqttConnection::setCleanSession(bool on)
{
    d->cleanSession = on;
}
bool QMqttConnection::autoReconnect() const
{
    return d->autoReconnect;
}
int QMqttConnection::autoReconnectInterval() const
{
    return d->reconnectMs;
}
void QMqttConnection::setAutoReconnectInterval(int ms)
{
    d->reconnectMs = ms;
}

void QMqttConnection::setAutoReconnect(bool on)
{
    d->autoReconnect = on;
    if (!on && d->phase == Private::WaitingToRetry)
        d->teardown();
}

void QMqttConnection::connectToHost()
{
    const bool wasConnected = d->phase == Private::Connected || d->phase == Private::Closing;
    d->startRound();
    if (wasConnected)
        emit disconnected();
}

void QMqttConnection::disconnectFromHost()
{
    if (d->phase == Private::Closing)
        return;
    if (d->phase != Private::Connected) {
        d->teardown();
        return;
    }
    d->phase = Private::Closing;
    d->retryTimer->stop();
    if (d->session->sendDisconnect())
        d->closeFinished();
    else
        d->closeTimer->start(DisconnectFlushMs);
}

void QMqttConnection::abort()
{
    const bool wasConnected = d->phase == Private::Connected || d->phase == Private::Closing;
    d->teardown();
    if (wasConnected)
        emit disconnected();
}

bool QMqttConnection::isConnectedToHost() const
{
    return d->phase == Private::Connected;
}

bool QMqttConnection::canPublish() const
{
    return d->phase == Private::Connected && d->session && !d->session->isOver();
}

QString QMqttConnection::errorReason() const
{
    return d->errorReason;
}

QAbstractSocket::SocketState QMqttConnection::socketState() const
{
    switch (d->phase) {
    case Private::LookingUp:
        return QAbstractSocket::HostLookupState;
    case Private::Connecting:
        return QAbstractSocket::ConnectingState;
    case Private::Connected:
        return QAbstractSocket::ConnectedState;
    case Private::Closing:
        return QAbstractSocket::ClosingState;
    case Private::Idle:
    case Private::WaitingToRetry:
        break;
    }
    return QAbstractSocket::UnconnectedState;
}

quint16 QMqttConnection::subscribe(const QString &topic, quint8 qos)
{
    if (d->phase != Private::Connected)
        return 0;
    const int mid = d->session->subscribe(topic, qos);
    if (mid <= 0)
        return 0;
    d->pendingSubscribes.insert(mid, topic);
    return quint16(mid);
}

void QMqttConnection::unsubscribe(const QString &topic)
{
    if (d->phase != Private::Connected)
        return;
    const int mid = d->session->unsubscribe(topic);
    if (mid > 0)
        d->pendingUnsubscribes.insert(mid, topic);
}

quint16 QMqttConnection::publish(const MqttMessage &message)
{
    if (d->phase != Private::Connected)
        return 0;
    const int mid = d->session->publish(message.topic, message.payload, message.qos);
    if (mid <= 0)
        return 0;
    MqttMessage sent = message;
    sent.id = quint16(mid);
    d->pendingPublishes.insert(mid, sent);
    return sent.id;
}
